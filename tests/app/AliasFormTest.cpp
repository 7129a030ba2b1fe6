// File → Aliases…: saving checks the alias and writes aliases.ini, an unreachable
// directory is saved only when the user says so, renaming and removing leave no trace, and
// the window's session lists what the dialog saved.
#include "app/AliasForm.h"
#include "app/DialogService.h"
#include "engine/Session.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

#include <fstream>

using namespace fieldsmith;
using fieldsmith::test::TempDir;

namespace {

class AliasFormTest : public ::testing::Test {
protected:
    AliasFormTest() {
        std::ofstream(home / "aliases.ini")
            << "; my aliases\n[ALT]\nTYPE=STANDARD\nPATH=" << data.path().string() << "\n";
        session.loadConfiguration();
    }
    std::unique_ptr<app::TAliasForm> form() {
        return std::make_unique<app::TAliasForm>(nullptr, home / "aliases.ini", dialogs, [this] {
            ++changes;
            session.loadConfiguration();
        });
    }
    TempDir home, data;
    engine::Session session{home.path()};
    app::ScriptedDialogs dialogs;
    int changes = 0;
};

TEST_F(AliasFormTest, SavedAliasesReachTheSessionAndTheFileKeepsItsComment) {
    auto f = form();
    ASSERT_EQ(f->AliasList->count(), 1);
    EXPECT_EQ(f->PathEdit->text().toStdString(), data.path().string())
        << "the first alias is shown";

    f->NewBtnClick();
    f->NameEdit->setText(QStringLiteral("NEU"));
    f->PathEdit->setText(QString::fromStdString(data.path().string()));
    ASSERT_TRUE(f->SaveBtnClick());
    EXPECT_EQ(session.aliasNames(), (std::vector<std::string>{"ALT", "NEU"}));
    EXPECT_EQ(f->AliasList->count(), 2);

    // A directory that does not exist is saved only after Yes.
    f->NewBtnClick();
    f->NameEdit->setText(QStringLiteral("WEG"));
    f->PathEdit->setText(QString::fromStdString((data / "missing").string()));
    dialogs.answers = {false};
    EXPECT_FALSE(f->SaveBtnClick());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_TRUE(dialogs.shown.back().text.contains(QStringLiteral("does not exist")));
    EXPECT_FALSE(session.hasAlias("WEG"));
    dialogs.answers = {true};
    EXPECT_TRUE(f->SaveBtnClick());
    EXPECT_TRUE(session.hasAlias("WEG"));

    // Renamed: the old section goes. Removed: after Yes.
    f->AliasList->setCurrentRow(0); // ALT
    f->NameEdit->setText(QStringLiteral("ARCHIV"));
    EXPECT_TRUE(f->SaveBtnClick());
    EXPECT_FALSE(session.hasAlias("ALT"));
    EXPECT_TRUE(session.hasAlias("ARCHIV"));
    dialogs.answers = {true};
    f->RemoveBtnClick();
    EXPECT_FALSE(session.hasAlias("ARCHIV"));
    EXPECT_EQ(changes, 4);

    std::ifstream in(home / "aliases.ini");
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text.rfind("; my aliases\n", 0), 0u) << text;
}

TEST_F(AliasFormTest, AServerAliasKeepsItsUserAndLosesThePath) {
    auto f = form();
    f->NewBtnClick();
    f->NameEdit->setText(QStringLiteral("PG"));
    f->TypeBox->setCurrentText(QStringLiteral("POSTGRESQL"));
    f->PathEdit->setText(QStringLiteral("127.0.0.1:1/shop"));
    f->UserEdit->setText(QStringLiteral("anna"));
    dialogs.answers = {true}; // nobody answers on port 1: saved all the same
    ASSERT_TRUE(f->SaveBtnClick());
    const auto params = session.aliasParams("PG");
    EXPECT_EQ(params,
              (std::vector<std::pair<std::string, std::string>>{{"TYPE", "POSTGRESQL"},
                                                                {"SERVER NAME", "127.0.0.1:1/shop"},
                                                                {"USER NAME", "anna"}}));
}

} // namespace
