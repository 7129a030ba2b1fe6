// The Create Table page in the window: the page filled as a user fills it and Run pressed,
// the status dialog's count, the logon dialog reached through the dialog service for an
// Oracle target, and the logon dialog's own boxes.
#include "GuiTestSupport.h"
#include "create/CreateTable.h"
#include "engine/Table.h"
#include "ui/OraLogonDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QToolButton>

namespace fieldsmith::apptest {
namespace {

class CreateTablePage : public WindowTest {
protected:
    void open() {
        window();
        create::registerOperations(form_->operationTable());
        selectTab("CreateTableSeite");
    }
    void run() { find<QToolButton>("RunBtn")->click(); }
};

TEST_F(CreateTablePage, RunCopiesTheTableIntoTheTargetAlias) {
    open();
    pick("NeuTabAlias", "ARBEIT");
    pick("NeuTabBox", "KUNDEN");
    EXPECT_EQ(find<QLineEdit>("NeuTabelleEdit")->text(), "NEWKUNDEN.DB");
    pick("NeuTab2Alias", "LAGER");
    find<QCheckBox>("CopyAllRecsCheck")->setChecked(true);
    find<QCheckBox>("IndexesCheck")->setChecked(true);
    run();
    ASSERT_EQ(dialogs->shown.size(), 1u) << dialogs->shown.front().text.toStdString();
    EXPECT_EQ(dialogs->shown[0].kind, run::MessageKind::Information);
    EXPECT_EQ(dialogs->shown[0].text, "Table create complete!");
    EXPECT_EQ(panelText(1), "2 Records of 2 copied");
    EXPECT_EQ(column(session, "LAGER", "NEWKUNDEN", "NAME"),
              (std::vector<std::string>{"Berg", "Adler"}));
    EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
}

TEST_F(CreateTablePage, OracleTargetOpensTheLogonDialogWithThePagesDatabase) {
    open();
    pick("NeuTabAlias", "ARBEIT");
    pick("NeuTabBox", "KUNDEN");
    pick("NeuTab2Alias", "ORASRV");
    find<QCheckBox>("OracleCheck")->setChecked(true);
    run(); // every showing of the logon dialog is cancelled
    ASSERT_EQ(dialogs->logonsShown.size(), 5u);
    EXPECT_EQ(dialogs->logonsShown[0].caption, "KR4 Oracle Logon");
    EXPECT_EQ(dialogs->logonsShown[0].username, "KR4");
    EXPECT_EQ(dialogs->logonsShown[0].password, "");
    EXPECT_EQ(dialogs->logonsShown[0].database, "ORASRV");
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error), QStringList{"ORACLE Logon failed!"});
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Information).isEmpty());
    EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
}

TEST(OraLogonDialog, ShowsTheFormAndGivesBackTheEntries) {
    run::LogonForm form;
    form.caption = "KR4 Oracle Logon";
    form.username = "KR4";
    form.database = "KR4";
    form.databases = {"KR4", "ORA"};
    form.history = {{"SALES", "ORA", run::LogonMode::SysDba}};
    ui::TOraLogonDialog dialog(form);
    EXPECT_EQ(dialog.windowTitle(), "KR4 Oracle Logon");
    auto* password = dialog.findChild<QLineEdit*>("PasswordEdit");
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    auto* database = dialog.findChild<QComboBox*>("DatabaseBox");
    ASSERT_NE(database, nullptr);
    EXPECT_EQ(database->count(), 2);
    EXPECT_EQ(database->maxVisibleItems(), 8);
    EXPECT_EQ(database->currentText(), "KR4");
    password->setText("secret");
    EXPECT_EQ(dialog.entries().password, "secret");
    // An earlier logon fills user, database and mode, and never a password.
    dialog.applyHistory(0);
    const run::LogonForm entries = dialog.entries();
    EXPECT_EQ(entries.username, "SALES");
    EXPECT_EQ(entries.database, "ORA");
    EXPECT_EQ(entries.connectAs, run::LogonMode::SysDba);
    EXPECT_EQ(entries.password, "");
}

} // namespace
} // namespace fieldsmith::apptest
