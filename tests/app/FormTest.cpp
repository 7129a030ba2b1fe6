// The main window: start state, the command-line word, tabs and menu, help, the Run
// dispatch, and idle and running states on every way out of a run.
#include "GuiTestSupport.h"
#include "app/HelpWindow.h"
#include "app/WindowRunHost.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"

#include <QDialog>
#include <QFileInfo>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

namespace fieldsmith::apptest {
namespace {

using run::MessageKind;

class Form : public WindowTest {};

TEST_F(Form, StartState) {
    auto& f = window();
    EXPECT_EQ(f.windowTitle(), "Orvane Fieldsmith");
    EXPECT_EQ(f.size(), QSize(760, 537)) << "design size (before the window is shown)";
    EXPECT_EQ(currentPage(), "Seite5");
    EXPECT_EQ(find<QLabel>("InfoLabel")->text(), "Select Database function");
    EXPECT_EQ(f.helpFile(), "MOVEFLD.HLP");
    EXPECT_FALSE(find<QToolButton>("ToolButton1")->isEnabled());
    EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
    EXPECT_FALSE(find<QToolButton>("CancelBtn")->isEnabled());
    EXPECT_TRUE(find<QToolButton>("CloseBtn")->isEnabled());
    EXPECT_TRUE(find<QAction>("Beenden1")->isEnabled());
    const int widths[] = {66, 290, 360, 30};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(f.statusPanel(i)->width(), widths[i]) << "panel " << i;

    const char* tabOrder[] = {"Seite1",       "Seite2",         "Seite3",           "Seite4",
                              "Seite5",       "Seite6",         "DelPage",          "Seite7",
                              "CSVMakeTable", "AnsichtTabelle", "CreateTableSeite", "ExportSeite"};
    auto* tabs = find<QTabWidget>("PageControl1");
    ASSERT_EQ(tabs->count(), 12);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), tabOrder[i]);
        EXPECT_FALSE(tabs->tabIcon(i).isNull()) << tabOrder[i];
    }
}

TEST_F(Form, CommandLineWordShowsTableViewAndCsvDirections) {
    struct Case {
        QStringList args;
        bool shown;
    };
    const Case cases[] = {
        {{}, false},
        {{"KEYSTONEVIEWS"}, true},
        {{"KEYSTONEVIEWS", "more"}, true},
        {{"keystoneviews"}, false},
        {{"KEYSTONEVIEW"}, false},
        {{"KEYSTONEVIEWS2"}, false},
        {{"-x", "KEYSTONEVIEWS"}, false},
    };
    for (const Case& c : cases) {
        window(c.args);
        auto* tabs = find<QTabWidget>("PageControl1");
        const QString line = c.args.join(' ');
        EXPECT_EQ(tabs->isTabVisible(tabs->indexOf(find("AnsichtTabelle"))), c.shown)
            << line.toStdString();
        EXPECT_EQ(!find("CSVOptionsPanel")->isHidden(), c.shown) << line.toStdString();
        EXPECT_TRUE(find<QRadioButton>("GenParadoxFromCSV")->isChecked());
    }
}

TEST_F(Form, SelectingATabSetsInfoTextAndHelpFile) {
    struct Case {
        const char* page;
        const char* info;
        const char* help;
    };
    const Case cases[] = {
        {"Seite1", "Copy Field values - if not empty the target fields will be overwritten!",
         "MOVEFLD.HLP"},
        {"Seite2", "Search and Replace Strings in a Table - COMPLETE field value must match!",
         "Fldrplce.HLP"},
        {"Seite3", "Search and Replace of (Sub-) Strings in a Table", "CHNGEFLD.HLP"},
        {"Seite4", "Merge Fields - with optional delimeters", "Mrgflds7.HLP"},
        {"Seite5", "generate new Primary Key values - use this function ONLY for a NEW table!",
         "ADDPRIM.HLP"},
        {"Seite6",
         "Format a Price-String field to become values with exactly two decimals (...####.##)!",
         "FORMPRIC.HLP"},
        {"DelPage", "Delete (a number of) records from a Table!", "FIELDSMITH.CHM"},
        {"Seite7", "Write value to a field if (another) field contains a certain (sub-) string!",
         "FIELDSMITH.CHM"},
        {"CSVMakeTable", "Create a new Paradox-Table from an CSV File!", "FIELDSMITH.CHM"},
        {"AnsichtTabelle", "View a Table!", "FIELDSMITH.CHM"},
        {"CreateTableSeite", "Create a new Table from an existing Table!", "FIELDSMITH.CHM"},
        {"ExportSeite", "Export records as Insert statement from an ORACLE Table!",
         "FIELDSMITH.CHM"},
    };
    auto& f = window({"KEYSTONEVIEWS"});
    for (const Case& c : cases) {
        selectTab(c.page);
        EXPECT_EQ(currentPage(), c.page);
        EXPECT_EQ(find<QLabel>("InfoLabel")->text(), c.info) << c.page;
        EXPECT_EQ(f.helpFile(), c.help) << c.page;
        // Each help file has its page.
        const QString page =
            QDir(app::THelpWindow::helpDirectory()).filePath(app::THelpWindow::pageFileFor(c.help));
        EXPECT_TRUE(QFileInfo::exists(page)) << page.toStdString();
    }
}

TEST_F(Form, MenuItemsShowPagesWithoutChangingTheInfoBand) {
    struct Case {
        const char* action;
        const char* page;
    };
    const Case cases[] = {
        {"MoveField1", "Seite1"},
        {"ChangeField1", "Seite2"},
        {"ChangeFieldpartially1", "Seite3"},
        {"MergeFieldstogether1", "Seite4"},
        {"GeneratePrimaryvalues1", "Seite5"},
        {"FormatPrices1", "Seite6"},
        {"EmptyField1", "Seite3"},
        {"CSVFiletoTable1", "CSVMakeTable"},
        {"CreateTable1", "CreateTableSeite"},
    };
    auto& f = window();
    selectTab("Seite6");
    const QString info = find<QLabel>("InfoLabel")->text();
    for (const Case& c : cases) {
        find<QAction>(c.action)->trigger();
        EXPECT_EQ(currentPage(), c.page) << c.action;
        EXPECT_EQ(find<QLabel>("InfoLabel")->text(), info) << c.action;
        EXPECT_EQ(f.helpFile(), "FORMPRIC.HLP") << c.action;
    }
}

TEST_F(Form, MenuModesOfTheChangePartPage) {
    window();
    find<QAction>("EmptyField1")->trigger();
    EXPECT_TRUE(find<QRadioButton>("LeerFeld")->isChecked());
    EXPECT_FALSE(find("vonEdit")->isEnabled()) << "the page's view follows the mode";
    EXPECT_EQ(find<QLabel>("InfoLabel")->text(), "Select Database function");

    find<QAction>("ChangeFieldpartially1")->trigger();
    EXPECT_TRUE(find<QRadioButton>("StringChange")->isChecked());
    EXPECT_TRUE(find("vonEdit")->isEnabled());
    EXPECT_TRUE(form_->inputs().Seite3.StringChange);
}

TEST_F(Form, HelpShowsThePageOfTheCurrentHelpFile) {
    auto& f = window();
    find<QToolButton>("HelpBtn1")->click();
    EXPECT_TRUE(f.helpWindow()->isVisible());
    EXPECT_TRUE(f.helpWindow()->currentPage().endsWith("/MOVEFLD.html"));
    f.helpWindow()->hide();

    selectTab("Seite2");
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QTest::keyClick(&f, Qt::Key_F1);
    EXPECT_TRUE(f.helpWindow()->isVisible()) << "F1 opens the help as well";
    EXPECT_TRUE(f.helpWindow()->currentPage().endsWith("/Fldrplce.html"));
}

TEST_F(Form, RunStartsTheOperationOfTheShowingPage) {
    struct Case {
        const char* page;
        const char* operation; //!< "" where Run does nothing
    };
    const Case cases[] = {
        {"Seite1", "executeMoveFelder"},
        {"Seite2", "ExecuteFeldReplaceComplete"},
        {"Seite3", "SuchenErsetzenSubStrings"},
        {"Seite4", "ExecuteMergeFelder"},
        {"Seite5", "ProcessAddPrimary"},
        {"Seite6", "ExecutePreisFeldFormatieren"},
        {"DelPage", "executeDeleteRecs"},
        {"Seite7", "NeuValueIF"},
        {"CSVMakeTable", "ExecuteCsvExchange"},
        {"AnsichtTabelle", ""},
        {"CreateTableSeite", "ExecuteCreateTable"},
        {"ExportSeite", "ExportOracleInserts"},
    };
    auto& f = window({"KEYSTONEVIEWS"});
    QStringList started;
    for (const Case& c : cases)
        if (*c.operation)
            f.operationTable().add(c.operation, [&started, name = QString(c.operation)](
                                                    run::RunContext&) { started << name; });
    for (const Case& c : cases) {
        started.clear();
        selectTab(c.page);
        find<QToolButton>("RunBtn")->click();
        EXPECT_EQ(started, *c.operation ? QStringList{c.operation} : QStringList{}) << c.page;
    }
    find<QRadioButton>("ImportSelect")->setChecked(true);
    f.operationTable().add("ImportOracleScript",
                           [&started](run::RunContext&) { started << "ImportOracleScript"; });
    started.clear();
    find<QToolButton>("RunBtn")->click();
    EXPECT_EQ(started, QStringList{"ImportOracleScript"});
}

TEST_F(Form, RunOnAPageWhoseOperationIsMissingSaysSo) {
    window();
    find<QToolButton>("RunBtn")->click(); // Seite5, with no operation registered here
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error),
              QStringList{"The operation of this page (ProcessAddPrimary) is not available in this program."});
    EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
}

TEST_F(Form, ControlTabSkipsTheHiddenTableView) {
    auto& f = window();
    selectTab("CSVMakeTable");
    auto* pages = find<QTabWidget>("PageControl1");
    QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(currentPage(), "CreateTableSeite");
    QTest::keyClick(pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(currentPage(), "CSVMakeTable");
    (void)f;
}

TEST_F(Form, StatusPanelZeroShowsItsWholeText) {
    auto& f = window();
    f.runHost().setStatusText(0, "Execution Duration: 00:01:23");
    f.runHost().flushStatus();
    QLabel* panel = f.statusPanel(0);
    EXPECT_GE(panel->width(), panel->fontMetrics().horizontalAdvance(panel->text()))
        << "the text fits its panel";
}

// The window's state while a run shows a message box, and afterwards.
struct Snapshot {
    bool run, close, fileClose, cancel;
    Qt::CursorShape runCursor;
    QString message;
};

class FormRun : public WindowTest {
protected:
    // Registers a walk over a stand-in table as the Add Primary operation.
    void registerWalk(
        std::function<void(FakeCursor&)> setUp, bool waitCursor,
        std::function<bool()> step = [] { return true; }) {
        form_->operationTable().add("ProcessAddPrimary", [=](run::RunContext& ctx) {
            if (ctx.inputs.Seite5.AliasBox.empty())
                return ctx.host.showError(std::string(run::kAliasMustBeSpecified));
            FakeCursor cursor(4);
            setUp(cursor);
            run::WalkStyle style;
            style.waitCursor = waitCursor;
            style.completionAfterError = waitCursor;
            run::runWalk(ctx.host, cursor, style, step);
        });
        dialogs->onShow = [this](const app::ScriptedDialogs::Shown& s) {
            snapshots.push_back({find<QToolButton>("RunBtn")->isEnabled(),
                                 find<QToolButton>("CloseBtn")->isEnabled(),
                                 find<QAction>("Beenden1")->isEnabled(),
                                 find<QToolButton>("CancelBtn")->isEnabled(),
                                 find<QToolButton>("RunBtn")->cursor().shape(), s.text});
        };
    }
    void run() {
        form_->inputs().Seite5.AliasBox = "ARBEIT";
        find<QToolButton>("RunBtn")->click();
    }
    void expectIdle(const char* what) {
        EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled()) << what;
        EXPECT_TRUE(find<QToolButton>("CloseBtn")->isEnabled()) << what;
        EXPECT_TRUE(find<QAction>("Beenden1")->isEnabled()) << what;
        EXPECT_FALSE(find<QToolButton>("CancelBtn")->isEnabled()) << what;
        EXPECT_EQ(find<QToolButton>("RunBtn")->cursor().shape(), Qt::ArrowCursor) << what;
        EXPECT_EQ(form_->runHost().CancelRequested, 0) << what;
    }
    std::vector<Snapshot> snapshots;
};

TEST_F(FormRun, CancelButtonAsksAtTheEndOfTheRecordAndYesEndsTheWalk) {
    window();
    registerWalk(
        [this](FakeCursor& c) {
            c.onNext = [this, &c] {
                if (c.nexts == 2) find<QToolButton>("CancelBtn")->click();
            };
        },
        true);
    dialogs->answers = {true};
    run();
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].message, "Abort process?");
    EXPECT_FALSE(snapshots[0].run) << "Run is disabled while the walk runs";
    EXPECT_FALSE(snapshots[0].close);
    EXPECT_FALSE(snapshots[0].fileClose);
    EXPECT_TRUE(snapshots[0].cancel);
    EXPECT_EQ(snapshots[0].runCursor, Qt::WaitCursor);
    EXPECT_EQ(snapshots[1].message, "Complete!\r2 Records of 4 processed");
    EXPECT_EQ(snapshots[1].runCursor, Qt::ArrowCursor) << "the arrow is back for the message";
    expectIdle("after an abort");
    EXPECT_EQ(panelText(1), "1 Records of 4 processed");
    EXPECT_EQ(panelText(2), "2 Records changed!");
}

TEST_F(FormRun, NoGoesOnAndEveryWayOutEndsIdle) {
    struct Case {
        const char* name;
        std::function<void(FakeCursor&)> setUp;
        bool waitCursor;
        QStringList messages; // in order, without the abort question
        bool error;
    };
    const Case cases[] = {
        {"normal end", [](FakeCursor&) {}, true, {"Complete!\r4 Records of 4 processed"}, false},
        {"failed open, wait cursor",
         [](FakeCursor& c) { c.failOpen = true; },
         true,
         {"Complete!\r0 Records of 0 processed", "Table does not exist: MISSING.DB"},
         true},
        {"failed open, no wait cursor",
         [](FakeCursor& c) { c.failOpen = true; },
         false,
         {"Table does not exist: MISSING.DB"},
         true},
        {"error during the walk",
         [](FakeCursor& c) {
             c.onNext = [&c] {
                 if (c.nexts == 3) throw std::runtime_error("Key violation");
             };
         },
         true,
         {"Complete!\r2 Records of 4 processed", "Key violation"},
         true},
    };
    for (const Case& c : cases) {
        window();
        registerWalk(c.setUp, c.waitCursor);
        run();
        QStringList texts;
        for (const auto& s : snapshots)
            texts << s.message;
        EXPECT_EQ(texts, c.messages) << c.name;
        if (c.error) {
            ASSERT_FALSE(dialogs->shown.empty());
            EXPECT_EQ(dialogs->shown.back().kind, MessageKind::Error) << c.name;
            EXPECT_EQ(dialogs->shown.back().caption, "KR4 Fieldsmith") << c.name;
        }
        expectIdle(c.name);
        snapshots.clear();
    }
}

TEST_F(FormRun, CheckMessageLeavesTheWindowIdleAndPanelsUntouched) {
    window();
    registerWalk([](FakeCursor&) {}, true);
    find<QToolButton>("RunBtn")->click(); // AliasBox is empty
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].message, "ALIAS must be specified!");
    EXPECT_TRUE(snapshots[0].run);
    EXPECT_EQ(panelText(1), "");
    expectIdle("after a check message");
}

TEST_F(FormRun, TabsStayUsableAndCloseDoesNothingDuringARun) {
    auto& f = window();
    f.show();
    registerWalk(
        [this, &f](FakeCursor& c) {
            c.onNext = [this, &f, &c] {
                if (c.nexts != 2) return;
                selectTab("Seite2");
                find<QToolButton>("CloseBtn")->click(); // disabled: ignored
                find<QAction>("Beenden1")->trigger();
                f.close(); // the window's own close box
                EXPECT_TRUE(f.isVisible()) << "the window cannot be closed while running";
            };
        },
        false);
    run();
    EXPECT_EQ(currentPage(), "Seite2");
    EXPECT_EQ(find<QLabel>("InfoLabel")->text(),
              "Search and Replace Strings in a Table - COMPLETE field value must match!");
    expectIdle("after the run");
}

TEST_F(FormRun, OperationsShowPagesAndWriteInputsBack) {
    auto& f = window();
    selectTab("Seite1");
    f.operationTable().add("executeMoveFelder", [](run::RunContext& ctx) {
        ctx.inputs.Seite5.NumberEdit = "50003";
        ctx.host.inputWritten("NumberEdit");
        ctx.host.showPage("Seite5");
        ctx.host.focusControl("AddPrimStartRecordEdit");
    });
    find<QToolButton>("RunBtn")->click();
    EXPECT_EQ(find<QLineEdit>("NumberEdit")->text(), "50003");
    EXPECT_EQ(currentPage(), "Seite5");
    EXPECT_EQ(find<QLabel>("InfoLabel")->text(),
              "Copy Field values - if not empty the target fields will be overwritten!")
        << "a page shown by an operation keeps the info text";
}

} // namespace
} // namespace fieldsmith::apptest

namespace fieldsmith::apptest {
namespace {

class HostDialogs : public WindowTest {};

TEST_F(HostDialogs, StatusDialogCountsAndStopsThroughItsOwnCancel) {
    auto& f = window();
    run::RunHost& host = f.runHost();
    host.openStatusDialog();
    auto* dlg = f.findChild<QDialog*>("StatusDlg");
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal()) << "the run goes on while it shows";
    host.setStatusDialogCount("3 of 10 records  ");
    EXPECT_EQ(dlg->findChild<QLabel*>("CountLabel")->text(), "3 of 10 records  ");
    EXPECT_FALSE(host.statusDialogCancelled());
    dlg->findChild<QAbstractButton*>("CancelBtn")->click();
    EXPECT_TRUE(host.statusDialogCancelled());
    EXPECT_EQ(host.CancelRequested, 0) << "the window's cancel flag is another one";
    host.closeStatusDialog();
    EXPECT_FALSE(host.statusDialogCancelled());

    host.openStatusDialog();
    EXPECT_FALSE(host.statusDialogCancelled()) << "a new dialog starts without a request";
    host.closeStatusDialog();
}

TEST_F(HostDialogs, LogWindowCollectsTheImportLog) {
    auto& f = window();
    run::RunHost& host = f.runHost();
    host.openLogWindow("ORACLE database data import");
    host.appendLogLine("INSERT INTO SCOTT.EMP ...");
    host.appendLogLine("1 row created.");
    EXPECT_EQ(host.logLines(),
              (std::vector<std::string>{"INSERT INTO SCOTT.EMP ...", "1 row created."}));
    EXPECT_TRUE(f.zipMsgForm()->isVisible());
    EXPECT_EQ(f.zipMsgForm()->windowTitle(), "ORACLE database data import");
    host.openLogWindow("ORACLE database data import");
    EXPECT_TRUE(host.logLines().empty()) << "each import starts a new log";
}

TEST_F(HostDialogs, SaveDialogOffersTheProposedFile) {
    auto& f = window();
    dialogs->savePath = "/tmp/keys.txt";
    const auto chosen = f.runHost().saveFileDialog({"/opt/fieldsmith", "MOVE_ERROR.TXT", "TXT"});
    EXPECT_EQ(chosen, std::optional<std::string>("/tmp/keys.txt"));
    ASSERT_EQ(dialogs->saveRequests.size(), 1u);
    EXPECT_EQ(dialogs->saveRequests[0].fileName, "MOVE_ERROR.TXT");
    EXPECT_EQ(dialogs->saveRequests[0].directory, "/opt/fieldsmith");
    EXPECT_EQ(dialogs->saveRequests[0].defaultSuffix, "TXT");
    EXPECT_EQ(dialogs->saveRequests[0].filters.first(), "Text Files (*.TXT)");
    EXPECT_EQ(dialogs->saveRequests[0].filters.size(), 5);
}

} // namespace
} // namespace fieldsmith::apptest
