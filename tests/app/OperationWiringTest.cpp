// A built operation run from the window: the page's widgets reach the operation through
// its inputs, and the run's messages and panels reach the window.
#include "GuiTestSupport.h"
#include "app/WindowRunHost.h"
#include "ops/FieldOperations.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>

namespace fieldsmith::apptest {
namespace {

class OperationWiring : public WindowTest {};

TEST_F(OperationWiring, ChangeFieldRunsOnWhatThePageShows) {
    auto& f = window();
    ops::registerOperations(f.operationTable());
    selectTab("Seite2");
    pick("Change1Alias", "ARBEIT");
    pick("Change1Table", "KUNDEN");
    pick("Change1Field", "ORT");
    QTest::keyClicks(find<QLineEdit>("vonEdit2"), "Bonn");
    QTest::keyClicks(find<QLineEdit>("zuEdit2"), "Berlin");
    find<QToolButton>("RunBtn")->click();

    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "ORT"),
              (std::vector<std::string>{"Berlin", "Aachen"}));
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Information),
              QStringList{"Complete!\r2 Records of 2 processed"});
    EXPECT_EQ(panelText(2), "1 Records changed!");
    EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
    EXPECT_FALSE(find<QToolButton>("CancelBtn")->isEnabled());
}

TEST_F(OperationWiring, CheckMessageFocusesTheInput) {
    auto& f = window();
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    ops::registerOperations(f.operationTable());
    selectTab("Seite2");
    box("Change1Alias")->setBoxText("ARBEIT");
    box("Change1Table")->setBoxText("KUNDEN");
    box("Change1Field")->setBoxText("ORT");
    find<QAbstractButton>("ChangeSubBedBox")->click();
    find<QToolButton>("RunBtn")->click();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error),
              QStringList{"Option Field must be specified!"});
    EXPECT_EQ(QApplication::focusWidget(), find("BedingungFeld"));
}

} // namespace
} // namespace fieldsmith::apptest
