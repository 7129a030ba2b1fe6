// The ORACLE Import/Export page in the window: Run writes the script through the window's
// status dialog, the import shows its log in the log window, and a double click on the
// file boxes opens the file with its application.
#include "app/pages/ExportPage.h"
#include "GuiTestSupport.h"
#include "app/WindowRunHost.h"
#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"
#include "ui/ZipMsgForm.h"
#include "viewer/DesktopAssociation.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fieldsmith::apptest {
namespace {

class ExportPage : public WindowTest {
protected:
    void open() {
        window();
        oracle::registerOperations(form_->operationTable());
        const auto entry = oraclient::ensureEmbeddedDatabase(arbeit.path(), "ORA");
        oraclient::EmbeddedUsers(entry.path).add("SCOTT", "tiger");
        logon =
            std::make_unique<oracle::FixedOracleLogon>(arbeit.path().string(), "SCOTT", "tiger");
        form_->shared().oracleLogon = logon.get();
        selectTab("ExportSeite");
    }
    void sql(const std::string& statement) {
        oraclient::OracleQuery q(*logon->EnsureOracleLogon(form_->runHost(), "ORA"));
        q.setSql(statement);
        q.open();
    }
    void setText(const char* name, const QString& text) { find<QLineEdit>(name)->setText(text); }
    static std::string readFile(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::unique_ptr<oracle::FixedOracleLogon> logon;
};

TEST_F(ExportPage, RunExportsAndImportsWithTheLogWindow) {
    open();
    sql("CREATE TABLE EMP (EMPNO NUMBER(4), ENAME VARCHAR2(10))");
    sql("INSERT INTO EMP VALUES (7369, 'O''Neil')");
    sql("COMMIT");
    const QString script = QString::fromStdString((arbeit / "EMP_INSERTS.SQL").string());
    box("ExportAlias")->setBoxText(QStringLiteral("ORA"));
    box("ExportTab")->setBoxText(QStringLiteral("EMP"));
    setText("ExportTabOwnerEdit", QStringLiteral("SCOTT"));
    setText("ExportFileEdit", script);
    find<QAbstractButton>("RunBtn")->click();
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown.front().text.toStdString();
    EXPECT_EQ(readFile(script.toStdString()),
              "INSERT INTO SCOTT.EMP  ( EMPNO, ENAME )  VALUES (7369, 'O''Neil' );\r\n/ \r\n"
              "COMMIT; \r\n/ \r\n");
    EXPECT_EQ(panelText(1), QStringLiteral("1 Records of 1 copied"));

    sql("DELETE FROM EMP");
    sql("COMMIT");
    find<QRadioButton>("ImportSelect")->click();
    setText("ExportFileEdit", QString()); // the log box follows changes of the file box
    setText("ExportFileEdit", script);
    EXPECT_EQ(find<QLineEdit>("LogFileEdit")->text(), script + QStringLiteral("_import.log"));
    find<QAbstractButton>("RunBtn")->click();
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown.front().text.toStdString();
    QCoreApplication::processEvents(); // the log box takes its lines when the loop runs
    ui::TZipMsgForm* log = form_->zipMsgForm();
    EXPECT_TRUE(log->isVisible());
    EXPECT_EQ(log->windowTitle(), QStringLiteral("ORACLE database data import"));
    EXPECT_TRUE(log->lines().join(QLatin1Char('\n')).contains(QStringLiteral("1 row created.")));
    EXPECT_TRUE(std::filesystem::exists(script.toStdString() + "_import.log"));
}

TEST_F(ExportPage, DoubleClickOpensTheFileBoxesFileAsOneArgument) {
    open();
    auto* page = form_->findChild<app::TExportPage*>(QStringLiteral("ExportSeite"));
    ASSERT_NE(page, nullptr);
    // A desktop without associations: the program's own extension list decides.
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        setenv(var, (lager / "xdg").c_str(), 1);
    viewer::writeExtensionEntry(lager / "extensions.ini", ".sql", "/opt/ed/edit ^.sql");
    viewer::writeExtensionEntry(lager / "extensions.ini", ".log", "/opt/ed/edit ^.log");
    page->openWith.configDir = QString::fromStdString(lager.path().string());
    std::vector<std::vector<std::string>> started;
    page->openWith.start = [&](const std::string& program, const std::vector<std::string>& args,
                               const std::string& dir) {
        started.push_back({program, dir});
        started.back().insert(started.back().end(), args.begin(), args.end());
        return 42;
    };
    const std::string file = (arbeit / "a b; 'c'.sql").string();
    std::ofstream(file) << "x";
    QTest::mouseDClick(find<QLineEdit>("ExportFileEdit"), Qt::LeftButton);
    EXPECT_TRUE(started.empty()) << "an empty box opens nothing";
    setText("ExportFileEdit", QString::fromStdString(file));
    QTest::mouseDClick(find<QLineEdit>("ExportFileEdit"), Qt::LeftButton);
    find<QRadioButton>("ImportSelect")->click();
    setText("ExportFileEdit", QString());
    setText("ExportFileEdit", QString::fromStdString(file));
    std::ofstream(file + "_import.log") << "x";
    QTest::mouseDClick(find<QLineEdit>("LogFileEdit"), Qt::LeftButton);
    EXPECT_EQ(started, (std::vector<std::vector<std::string>>{
                           {"/opt/ed/edit", "/opt/ed", file},
                           {"/opt/ed/edit", "/opt/ed", file + "_import.log"}}));
    for (const char* var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        unsetenv(var);
}

} // namespace
} // namespace fieldsmith::apptest
