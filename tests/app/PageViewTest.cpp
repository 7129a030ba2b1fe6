// The pages' view handlers and the page inputs kept in step with the widgets.
#include "GuiTestSupport.h"
#include "ui/EnterEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QRadioButton>
#include <QTest>

namespace fieldsmith::apptest {
namespace {

class Pages : public WindowTest {
protected:
    void SetUp() override { window({"KEYSTONEVIEWS"}); }
    // Whether the widget shows when its page is the one showing.
    bool shown(const char* name) {
        QWidget* w = find(name);
        QWidget* page = w;
        while (page && !form_->page(page->objectName()))
            page = page->parentWidget();
        return w->isVisibleTo(page);
    }
};

TEST_F(Pages, CopyFieldHidesSourceFieldAndKeysByOption) {
    find<QCheckBox>("LeereTarget")->click();
    EXPECT_FALSE(shown("Feld2Box"));
    EXPECT_FALSE(shown("Feld2Label"));
    find<QCheckBox>("LeereTarget")->click();
    EXPECT_TRUE(shown("Feld2Box"));

    box("IndexFeld1Box")->setBoxText("NR");
    find<QCheckBox>("GenNewRecsCheck")->click();
    for (const char* n : {"IndexFeld1Box", "IndexFeld2Box", "IndexFeld1Label", "IndexFeld2Label"})
        EXPECT_FALSE(shown(n)) << n;
    EXPECT_EQ(box("IndexFeld1Box")->boxText(), "NR") << "hidden inputs keep their texts";
    find<QCheckBox>("GenNewRecsCheck")->click();
    EXPECT_TRUE(shown("IndexFeld1Box"));
}

TEST_F(Pages, ChangeFieldConditionShowsWithItsCheckBox) {
    const char* condition[] = {"BedingungFeld", "Bedingung", "BedingungFeldLabel",
                               "BedingungLabel"};
    for (const char* n : condition)
        EXPECT_FALSE(shown(n)) << n;
    find<QCheckBox>("ChangeSubBedBox")->click();
    for (const char* n : condition)
        EXPECT_TRUE(shown(n)) << n;
    EXPECT_TRUE(form_->inputs().Seite2.ChangeSubBedBox);
}

TEST_F(Pages, ChangePartViewFollowsTheMode) {
    box("Change2Alias")->setBoxText("ARBEIT");
    box("Change2Table")->setBoxText("KUNDEN");
    struct Case {
        const char* mode;
        bool von, zu, size, index, condition;
        const char* zuLabel;
    };
    const Case cases[] = {
        {"StringChange", true, true, true, true, false, "new (Sub-) String: "},
        {"AddSiteIDBtn", false, true, true, true, true, "Field starts with: "},
        {"LeerFeld", false, false, false, false, false, "Field starts with: "}, // keeps its text
        {"OEMBtn", false, false, false, false, false, "Field starts with: "},
        {"removeCRLFBtn", false, false, false, false, false, "Field starts with: "},
        {"StringChange", true, true, true, true, false, "new (Sub-) String: "},
    };
    for (const Case& c : cases) {
        find<QRadioButton>(c.mode)->click();
        EXPECT_EQ(find("vonEdit")->isEnabled(), c.von) << c.mode;
        EXPECT_EQ(find("zuEdit")->isEnabled(), c.zu) << c.mode;
        EXPECT_EQ(find("SizeBox")->isEnabled(), c.size) << c.mode;
        EXPECT_EQ(find("Index3Check")->isEnabled(), c.index) << c.mode;
        EXPECT_EQ(find("Index3Box")->isEnabled(), c.index) << c.mode;
        EXPECT_EQ(find("IfCheckAddString1")->isEnabled(), c.condition) << c.mode;
        EXPECT_EQ(find<QLabel>("zuLabel")->text(), c.zuLabel) << c.mode;
        EXPECT_EQ(find<QLabel>("vonLabel")->palette().color(QPalette::WindowText) ==
                      QColor(128, 128, 128),
                  !c.von)
            << c.mode;
    }
    box("Change2Table")->setBoxText("");
    find<QRadioButton>("StringChange")->click();
    EXPECT_FALSE(find("Index3Check")->isEnabled()) << "an index needs alias and table";
}

TEST_F(Pages, ChangePartOptionsShowWithTheirCheckBoxes) {
    EXPECT_FALSE(shown("SizeEdit"));
    find<QCheckBox>("SizeBox")->click();
    EXPECT_TRUE(shown("SizeEdit"));
    EXPECT_FALSE(shown("IfCheckAddString2"));
    find<QRadioButton>("AddSiteIDBtn")->click();
    find<QCheckBox>("IfCheckAddString1")->click();
    for (const char* n : {"IfCheckAddContain", "IfCheckAddNotContain", "IfCheckAddString2"})
        EXPECT_TRUE(shown(n)) << n;
    EXPECT_EQ(find<QLineEdit>("IfCheckAddString2")->text(), "-");
}

TEST_F(Pages, LeavingTheLengthBoxWithoutANumberComplains) {
    find<QCheckBox>("SizeBox")->click();
    for (const char* text : {"12", " 7", "abc", "9999999999"}) {
        dialogs->shown.clear();
        find<QLineEdit>("SizeEdit")->setText(text);
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(find("CRLFStellenEdit"), &leave);
        const bool number = QString(text) == "12" || QString(text) == " 7";
        EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error),
                  number ? QStringList{} : QStringList{"Value must be a number!"})
            << text;
    }
}

TEST_F(Pages, MergeLengthNumberShowsWithItsCheckBox) {
    EXPECT_FALSE(shown("NumCharsEdit"));
    find<QCheckBox>("FeldLaengeCheck")->click();
    EXPECT_TRUE(shown("NumCharsEdit"));
    find<QCheckBox>("DelSourceCheck")->click();
    EXPECT_TRUE(shown("NumCharsEdit"));
}

TEST_F(Pages, NewValueIfOtherFieldShowsWithItsSource) {
    EXPECT_FALSE(shown("OtherFieldBox"));
    find<QRadioButton>("ChangeUseOtherField")->click();
    EXPECT_TRUE(shown("OtherFieldBox"));
    EXPECT_TRUE(shown("OtherFieldLabel"));
    EXPECT_TRUE(form_->inputs().Seite7.ChangeUseOtherField);
    EXPECT_FALSE(form_->inputs().Seite7.ChangeUseString);
    find<QRadioButton>("ChangeUseIfField")->click();
    EXPECT_FALSE(shown("OtherFieldBox"));
}

TEST_F(Pages, CsvTargetNameFollowsTheFileName) {
    find<QLineEdit>("CSVtoPdxEdit")->setText("/manual/NAME.DB");
    QTest::keyClicks(find<QLineEdit>("CSVEdit"), "/data/export.csv");
    EXPECT_EQ(find<QLineEdit>("CSVtoPdxEdit")->text(), "/data/EXPORT.DB");
    EXPECT_EQ(form_->inputs().CSVMakeTable.CSVtoPdxEdit, "/data/EXPORT.DB");
}

TEST_F(Pages, CsvDirectionChangesThePage) {
    EXPECT_TRUE(shown("CSVtoPdxEdit"));
    EXPECT_FALSE(shown("CsvUseEncloseCharForFieldsCheck"));
    find<QRadioButton>("GenCSVFromParadox")->click();
    EXPECT_FALSE(shown("CSVtoPdxEdit"));
    EXPECT_FALSE(shown("TargetGroup")) << "no empty frame where the target was";
    EXPECT_FALSE(shown("MemoNote"));
    EXPECT_TRUE(shown("CsvUseEncloseCharForFieldsCheck"));
    EXPECT_TRUE(shown("noEncloseCharForEmptyFieldsCheck"));
    EXPECT_EQ(find<QCheckBox>("FeldNamenCheck")->text(), "write Field Names to first line");
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Information),
              QStringList{"Table must be opened with \"Table View\" function first!\r"
                          "The Table can be sorted as required."});
    find<QRadioButton>("GenParadoxFromCSV")->click();
    EXPECT_EQ(find<QCheckBox>("FeldNamenCheck")->text(), "get Field Names from first line");
    EXPECT_TRUE(shown("CSVtoPdxEdit"));
    EXPECT_TRUE(shown("TargetGroup"));
    EXPECT_EQ(dialogs->shown.size(), 1u);
}

TEST_F(Pages, CreateTableProposesTheNewName) {
    pick("NeuTabAlias", "ARBEIT");
    pick("NeuTabBox", "KUNDEN");
    EXPECT_EQ(find<QLineEdit>("NeuTabelleEdit")->text(), "NEWKUNDEN.DB");
    box("NeuTabBox")->setBoxText("");
    EXPECT_EQ(find<QLineEdit>("NeuTabelleEdit")->text(), "NEWKUNDEN.DB") << "empty changes nothing";
}

TEST_F(Pages, ExportFileAndTableFollowEachOther) {
    QString temp = QDir::tempPath();
    if (!temp.endsWith('/')) temp += '/';
    type("ExportTab", "EMP");
    const QString file = find<QLineEdit>("ExportFileEdit")->text();
    EXPECT_TRUE(file.startsWith(temp + "EMP_")) << file.toStdString();
    EXPECT_TRUE(file.endsWith("_INSERTS.SQL")) << file.toStdString();
    EXPECT_EQ(file.size(), (temp + "EMP_hhmmss_INSERTS.SQL").size());
    EXPECT_FALSE(shown("LogFileEdit"));

    find<QRadioButton>("ImportSelect")->click();
    EXPECT_TRUE(shown("LogFileEdit"));
    EXPECT_FALSE(shown("ExportMaxRecEdit"));
    EXPECT_FALSE(shown("ExportStartRecEdit"));
    EXPECT_TRUE(shown("ImportFileToolbar"));
    EXPECT_EQ(find<QLabel>("FilePanelLabel")->text(), "Read from File: ");
    EXPECT_EQ(find<QLabel>("TablePropsLabel")->text(), "Target Table properties:");
    EXPECT_FALSE(find("ExportDescription")->isEnabled());
    EXPECT_TRUE(find("ImportDescription")->isEnabled());

    find<QLineEdit>("ExportFileEdit")->setText("/scripts/ORDERS_1.sql");
    EXPECT_EQ(find<QLineEdit>("LogFileEdit")->text(), "/scripts/ORDERS_1.sql_import.log");
    EXPECT_EQ(box("ExportTab")->boxText(), "ORDERS");
    EXPECT_EQ(find<QLineEdit>("ExportFileEdit")->text(), "/scripts/ORDERS_1.sql")
        << "the file box keeps a typed name";
    find<QLineEdit>("ExportFileEdit")->setText("/x.sql");
    EXPECT_EQ(box("ExportTab")->boxText(), "");
}

TEST_F(Pages, InputsFollowTheWidgetsAndShowWhatOperationsWrite) {
    QTest::keyClicks(find<QLineEdit>("vonEdit2"), "abc");
    EXPECT_EQ(form_->inputs().Seite2.vonEdit2, "abc");
    find<QCheckBox>("CaseBox")->click();
    EXPECT_TRUE(form_->inputs().Seite2.CaseBox);
    find<QRadioButton>("DelOpt1")->click();
    EXPECT_TRUE(form_->inputs().DelPage.DelOpt1);
    EXPECT_FALSE(form_->inputs().DelPage.DelOpt2);
    pick("PrimaryBox", "TAVO");
    EXPECT_EQ(form_->inputs().Seite5.PrimaryBox, "TAVO");

    form_->inputs().Seite5.AddPrimStartRecordEdit = "1";
    find<QLineEdit>("AddPrimStartRecordEdit")->setText("-4");
    EXPECT_EQ(form_->inputs().Seite5.AddPrimStartRecordEdit, "-4");
    form_->inputs().Seite5.AddPrimStartRecordEdit = "1";
    form_->writeBackInput("AddPrimStartRecordEdit");
    EXPECT_EQ(find<QLineEdit>("AddPrimStartRecordEdit")->text(), "1");

    // Texts outside ASCII reach the inputs in the program's code page.
    find<QLineEdit>("zuEdit2")->setText(QString::fromUtf8("Köln"));
    EXPECT_EQ(form_->inputs().Seite2.zuEdit2, "K\xF6ln");
}

TEST_F(Pages, EnterKeyBoxesAreTheFifteenListed) {
    for (const char* name :
         {"vonEdit", "zuEdit", "Trenn0Edit", "Trenn1Edit", "Trenn2Edit", "NumCharsEdit", "FieldDel",
          "Change3If", "Change3Then", "NeuTabelleEdit", "ExportMaxRecEdit", "ExportStartRecEdit",
          "ExportFileEdit", "ExportTabOwnerEdit", "LogFileEdit"})
        EXPECT_NE(qobject_cast<ui::TEnterEdit*>(find(name)), nullptr) << name;
    EXPECT_EQ(qobject_cast<ui::TEnterEdit*>(find("vonEdit2")), nullptr)
        << "the other edit boxes keep the usual keys";
}

TEST_F(Pages, EveryInputOfEveryPageHasItsWidget) {
    struct Checker {
        app::TFieldsmithForm* form;
        const char* page;
        void text(const char* name, std::string&) { expect(name); }
        void name(const char* name, std::string&) { expect(name); }
        void check(const char* name, bool&) { expect(name); }
        void radio(const char* name, const char*, bool&) { expect(name); }
        void expect(const char* name) {
            QWidget* p = form->page(page);
            ASSERT_NE(p, nullptr) << page;
            EXPECT_NE(p->findChild<QWidget*>(name), nullptr) << page << " has no " << name;
        }
    };
    form_->inputs().forEachPage([this](const char* page, auto& inputs) {
        inputs.visit(Checker{form_.get(), page});
    });
}

} // namespace
} // namespace fieldsmith::apptest
