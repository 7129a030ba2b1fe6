// The program's command line as the program received it: the toolkit's own options, which
// the application object takes out, must not make a later word the first argument.
#include "app/FieldsmithApplication.h"
#include "app/FieldsmithForm.h"
#include "engine/Session.h"

#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

using fieldsmith::app::FieldsmithApplication;

TEST(ProgramArguments, ToolkitOptionsBeforeTheWordLeaveTheTableViewHidden) {
    EXPECT_EQ(FieldsmithApplication::programArguments(),
              (QStringList{"-style", "fusion", "KEYSTONEVIEWS"}));
    ASSERT_EQ(QApplication::arguments().mid(1), QStringList{"KEYSTONEVIEWS"})
        << "the toolkit took its options out (what the window must not go by)";
    fieldsmith::engine::Session session;
    fieldsmith::app::TFieldsmithForm form(session, FieldsmithApplication::programArguments());
    auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    ASSERT_NE(pages, nullptr);
    EXPECT_FALSE(pages->isTabVisible(pages->indexOf(form.page(QStringLiteral("AnsichtTabelle")))));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static char program[] = "fieldsmith", style[] = "-style", fusion[] = "fusion",
                word[] = "KEYSTONEVIEWS";
    char* arguments[] = {program, style, fusion, word, nullptr};
    int count = 4;
    FieldsmithApplication app(count, arguments);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
