// The CSV-Files page in the window: the page filled as a user fills it, Run pressed and the
// table or file read back; the export of a table opened and sorted in the Table View; the
// file picker behind the folder button.
#include "GuiTestSupport.h"
#include "csv/CsvExchange.h"
#include "engine/Table.h"
#include "ops/FieldOperations.h"
#include "ui/DateiWahl.h"

#include <QApplication>
#include <QDir>
#include <QFocusEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>
#include <iterator>

namespace fieldsmith::apptest {
namespace {

class CsvPage : public WindowTest {
protected:
    void open(const QStringList& arguments = {}) {
        window(arguments);
        csv::registerOperations(form_->operationTable());
        selectTab("CSVMakeTable");
    }
    std::filesystem::path writeCsv(const std::string& name, const std::string& bytes) {
        const auto path = arbeit / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string readFile(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Types a text as the user does; insert() because the key simulation knows ASCII only.
    void typeInto(const char* edit, const QString& text) {
        auto* e = find<QLineEdit>(edit);
        e->clear();
        e->insert(text);
    }
    static QString path(const std::filesystem::path& p) {
        return QString::fromStdString(p.string());
    }
    void run() { find<QToolButton>("RunBtn")->click(); }
    void expectIdle() {
        EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
        EXPECT_FALSE(find<QToolButton>("CancelBtn")->isEnabled());
    }
};

// The file and the directory have non-ASCII names: they must reach the disk as the file
// system spells them, not as text in the program's code page.
TEST_F(CsvPage, ImportFromThePageMakesTheTable) {
    const auto file =
        writeCsv("Best\xC3\xA4nde.csv", "NR;MENGE\r\n1;\"5;6\"\r\n2;M\xC3\xBCller\r\n");
    open();
    typeInto("CSVEdit", path(file));
    EXPECT_EQ(find<QLineEdit>("CSVtoPdxEdit")->text(), path(arbeit / "BEST\xC3\xA4NDE.DB"))
        << "the target follows the file name";
    run();
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->shown.front().text.toStdString();
    EXPECT_EQ(column(session, "ARBEIT", "BEST\xC3\xA4NDE", "MENGE"),
              (std::vector<std::string>{"5;6", "M\xFCller"}));
    EXPECT_EQ(panelText(1), "2 Records of 2 processed");
    EXPECT_EQ(panelText(2), " ");
    expectIdle();
}

TEST_F(CsvPage, ImportAsksBeforeReplacingATable) {
    const auto file = writeCsv("kunden.csv", "X\r\n1\r\n");
    open();
    typeInto("CSVEdit", path(file));
    ASSERT_EQ(find<QLineEdit>("CSVtoPdxEdit")->text(), path(arbeit / "KUNDEN.DB"));
    dialogs->answers = {false};
    run();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Confirmation),
              QStringList{"Table " + path(arbeit / "KUNDEN.DB") +
                          " exists and will be replaced with all its files. Continue?"});
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "NAME"),
              (std::vector<std::string>{"Berg", "Adler"}));
    expectIdle();
}

TEST_F(CsvPage, ImportErrorsReachTheErrorBox) {
    open();
    typeInto("CSVEdit", path(arbeit / "none.csv"));
    run();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error),
              QStringList{"File does not exist: " + path(arbeit / "none.csv")});
    const auto file = writeCsv("bad.csv", "A;;B\r\n");
    typeInto("CSVEdit", path(file));
    dialogs->shown.clear();
    run();
    const QStringList errors = dialogs->textsOf(run::MessageKind::Error);
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0], "Error on Define Table");
    EXPECT_EQ(dialogs->shown.back().caption, "KR4 Fieldsmith") << "the application's error box";
    expectIdle();
}

// The user opens the table in the Table View, sorts it by a column and then writes it from
// the CSV page; the file follows the sorted order.
TEST_F(CsvPage, ExportWritesTheTableAsTheTableViewShowsIt) {
    {
        engine::Table t(session);
        t.setDatabaseName("ARBEIT");
        t.setTableName("KUNDEN");
        t.addIndex("ByOrt", "ORT", 0);
    }
    open({"KEYSTONEVIEWS"});
    selectTab("AnsichtTabelle");
    box("ViewTabAlias")->setBoxText("ARBEIT");
    box("ViewTabTable")->setBoxText("KUNDEN");
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(box("ViewTabTable"), &leave);
    auto* grid = find<QTableView>("DBGrid1");
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        if (grid->model()->headerData(c, Qt::Horizontal).toString() == "ORT")
            grid->horizontalHeader()->sectionClicked(c);
    ASSERT_EQ(form_->shared().TempTable.indexFieldNames(), "ORT");

    selectTab("CSVMakeTable");
    find<QRadioButton>("GenCSVFromParadox")->click();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Information),
              QStringList{"Table must be opened with \"Table View\" function first!\r"
                          "The Table can be sorted as required."});
    const auto out = arbeit / "kunden.csv";
    typeInto("CSVEdit", path(out));
    run();
    EXPECT_EQ(readFile(out), "\"TAVO\";\"NAME\";\"ORT\"\r\n\"2\";\"Adler\";\"Aachen\"\r\n"
                             "\"1\";\"Berg\";\"Bonn\"\r\n");
    EXPECT_EQ(panelText(1), "2 of 2") << "the view's position after the walk's last move";
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error), QStringList{});
    expectIdle();
}

TEST_F(CsvPage, FolderButtonTakesTheFileFromThePicker) {
    const auto file = writeCsv("lager.csv", "A\r\n");
    const QString cwd = QDir::currentPath(); // the picker changes the program's directory
    open();
    struct Case {
        const char* what;
        const char* listItem; //!< the file clicked in the list, then OK; none: Cancel
        QString expected;
    } cases[] = {
        {"a file chosen", "lager.csv", path(file)},
        {"Cancel with the mask left: unchanged", nullptr, path(file)},
    };
    for (const auto& c : cases) {
        // The user, once the modal picker shows: a directory, a file, a button.
        QTimer::singleShot(0, [&] {
            ui::TDateiWahl* picker = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* p = qobject_cast<ui::TDateiWahl*>(w); p && p->isVisible()) picker = p;
            if (!picker) return ADD_FAILURE() << "no picker showed";
            EXPECT_EQ(picker->fileEditText(), "*.csv") << "the picker lists CSV files";
            picker->setDirectory(path(arbeit.path()));
            if (c.listItem) {
                auto* list = picker->findChild<QListWidget*>("FileListBox1");
                const auto items = list->findItems(c.listItem, Qt::MatchExactly);
                if (!items.isEmpty()) {
                    list->setCurrentItem(items.first());
                    emit list->itemClicked(items.first());
                }
                picker->findChild<QPushButton*>("OKBtn")->click();
            } else {
                picker->findChild<QPushButton*>("AbbruchBtn")->click();
            }
            if (picker->isVisible()) {
                ADD_FAILURE() << c.what << ": the picker did not close";
                picker->reject();
            }
        });
        find<QToolButton>("DirBtn")->click();
        EXPECT_EQ(find<QLineEdit>("CSVEdit")->text(), c.expected) << c.what;
        EXPECT_EQ(form_->inputs().CSVMakeTable.CSVEdit, c.expected.toStdString()) << c.what;
        EXPECT_EQ(find<QLineEdit>("CSVtoPdxEdit")->text(), path(arbeit / "LAGER.DB")) << c.what;
    }
    QDir::setCurrent(cwd);
}

} // namespace
} // namespace fieldsmith::apptest
