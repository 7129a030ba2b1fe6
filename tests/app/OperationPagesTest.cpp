// Every operation page run from the window: the page filled as a user fills it, Run
// pressed, and the completion message and the status panels read back.
#include "GuiTestSupport.h"
#include "app/PreviewForm.h"
#include "app/WindowRunHost.h"
#include "app/run/Texts.h"
#include "ops/FieldOperations.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

namespace fieldsmith::apptest {
namespace {

class OperationPages : public WindowTest {
protected:
    OperationPages() {
        makeTable(session, "ARBEIT", "QUELLE", {"K", "WERT"}, {{"1", "x"}, {"3", "y"}});
        auto& f = window();
        ops::registerOperations(f.operationTable());
    }
    void typeInto(const char* edit, const QString& text) {
        auto* e = find<QLineEdit>(edit);
        e->clear();
        QTest::keyClicks(e, text);
    }
    void click(const char* button) { find<QAbstractButton>(button)->click(); }
    void run() { find<QToolButton>("RunBtn")->click(); }
    QString completion() {
        const auto texts = dialogs->textsOf(run::MessageKind::Information);
        return texts.isEmpty() ? QString("<none>") : texts.back();
    }
    std::vector<std::string> kunden(const char* field) { return column(session, "ARBEIT", "KUNDEN", field); }
    void expectIdle() {
        EXPECT_TRUE(find<QToolButton>("RunBtn")->isEnabled());
        EXPECT_FALSE(find<QToolButton>("CancelBtn")->isEnabled());
    }
};

TEST_F(OperationPages, CopyField) {
    selectTab("Seite1");
    pick("AliasBoxS1", "ARBEIT");
    pick("TableBoxS1", "QUELLE");
    pick("IndexFeld1Box", "K");
    pick("Feld2Box", "WERT");
    pick("AliasBox2", "ARBEIT");
    pick("TabellenBox2", "KUNDEN");
    pick("IndexFeld2Box", "TAVO");
    pick("ZielFeldBox", "NAME");
    dialogs->savePath.reset(); // the unmatched key is not saved
    run();
    EXPECT_EQ(kunden("NAME"), (std::vector<std::string>{"x", "Adler"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed!\r\rNot found: 1");
    EXPECT_EQ(panelText(1), "processed: 2 of 2");
    EXPECT_EQ(panelText(2), "1 Records changed!");
    EXPECT_EQ(dialogs->saveRequests.size(), 1u);
    expectIdle();
}

TEST_F(OperationPages, ChangeFieldPartially) {
    selectTab("Seite3");
    pick("Change2Alias", "ARBEIT");
    pick("Change2Table", "KUNDEN");
    pick("Change2Field", "ORT");
    click("allUpperCaseBtn");
    run();
    EXPECT_EQ(kunden("ORT"), (std::vector<std::string>{"BONN", "AACHEN"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed");
    EXPECT_EQ(panelText(1), "1 Records of 2 processed");
    EXPECT_EQ(panelText(2), "2 Records changed!");
    EXPECT_TRUE(panelText(0).startsWith("Execution Duration: ")) << panelText(0).toStdString();
    expectIdle();
}

TEST_F(OperationPages, MergeFields) {
    selectTab("Seite4");
    pick("AliasMerge", "ARBEIT");
    pick("MergeTable", "KUNDEN");
    pick("MergeFeld1", "NAME");
    typeInto("Trenn1Edit", ", ");
    pick("MergeFeld2", "ORT");
    pick("MergeTargetFeld", "ORT");
    run();
    EXPECT_EQ(kunden("ORT"), (std::vector<std::string>{"Berg, Bonn", "Adler, Aachen"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed!");
    EXPECT_EQ(panelText(1), "1 Records of 2 processed");
    EXPECT_EQ(panelText(2), "2 Records changed!");
    expectIdle();
}

TEST_F(OperationPages, AddPrimary) {
    selectTab("Seite5");
    pick("AliasBox", "ARBEIT");
    pick("TabellenBox", "KUNDEN");
    pick("FeldBox", "NAME");
    click("LeerFeldCheck"); // every record, not only empty ones
    typeInto("NumberEdit", "700");
    run();
    EXPECT_EQ(kunden("NAME"), (std::vector<std::string>{"701", "702"}));
    EXPECT_EQ(find<QLineEdit>("NumberEdit")->text(), "702") << "the number advances in the window";
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed");
    // The walk's last move of the shared table writes its position text over the progress.
    EXPECT_EQ(panelText(1), "2 of 2");
    EXPECT_EQ(panelText(2), "2 records updated; - 0 values assigned to empty records!");
    expectIdle();
}

// Change Field leaves the shared dataset open on the table; Add Primary's exclusive opens
// of that table must not run into the program's own lock.
TEST_F(OperationPages, AddPrimaryAfterChangeFieldOnTheSameTableIsNotLockedOut) {
    selectTab("Seite2");
    pick("Change1Alias", "ARBEIT");
    pick("Change1Table", "KUNDEN");
    pick("Change1Field", "ORT");
    typeInto("vonEdit2", "Bonn");
    typeInto("zuEdit2", "Berlin");
    run();
    ASSERT_TRUE(form_->shared().TempTable.active());

    selectTab("Seite5");
    pick("AliasBox", "ARBEIT");
    pick("TabellenBox", "KUNDEN");
    pick("FeldBox", "ORT");
    click("LeerFeldCheck");
    dialogs->answers = {false, false, false}; // a retry question would be cancelled
    run();
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Retry).isEmpty());
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Error).isEmpty())
        << dialogs->textsOf(run::MessageKind::Error).join("|").toStdString();
    EXPECT_EQ(kunden("ORT"), (std::vector<std::string>{"50001", "50002"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed");
    expectIdle();
}

TEST_F(OperationPages, FormatPrices) {
    selectTab("Seite6");
    pick("PreisAlias1", "ARBEIT");
    pick("PreisTable1", "ARTIKEL");
    pick("PreisFeld1", "BEZ");
    run();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Confirmation),
              QStringList{"Are you sure that the field \"BEZ\" is REALLY a \"price field\"?"});
    EXPECT_EQ(column(session, "ARBEIT", "ARTIKEL", "BEZ"), (std::vector<std::string>{",00"}));
    EXPECT_EQ(completion(), "Complete!\r1 Records of 1 processed!");
    EXPECT_EQ(panelText(1), "processed: 1 of 1");
    EXPECT_EQ(panelText(2), "1 Records changed!");
    expectIdle();
}

TEST_F(OperationPages, DeleteRecords) {
    selectTab("DelPage");
    pick("AliasDel", "ARBEIT");
    pick("TableDel", "KUNDEN");
    click("DelOpt1");
    typeInto("FieldDel", "1");
    run();
    EXPECT_EQ(kunden("NAME"), (std::vector<std::string>{"Adler"}));
    EXPECT_EQ(completion(), "Complete!\r1 Records of 2 processed!\r\rNot found: 0");
    EXPECT_EQ(panelText(1), "processed: 1 of 2");
    expectIdle();
}

TEST_F(OperationPages, NewValueIf) {
    selectTab("Seite7");
    pick("Change3Alias", "ARBEIT");
    pick("Change3Table", "KUNDEN");
    pick("Change3Feld", "ORT");
    typeInto("Change3If", "Bo");
    pick("Change3Feld2", "NAME");
    typeInto("Change3Then", "Z");
    run();
    EXPECT_EQ(kunden("NAME"), (std::vector<std::string>{"Z", "Adler"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed");
    EXPECT_EQ(panelText(1), "2 of 2") << "the shared table's position text after its last move";
    EXPECT_EQ(panelText(2), "1 Records changed!");
    expectIdle();
}

TEST_F(OperationPages, CharactersLostToACodePageAreReportedOnceAfterTheRun) {
    {
        engine::Session dosProgram; // a table made in code page 437
        dosProgram.setAnsiCodePage(437);
        dosProgram.addStandardAlias("ARBEIT", arbeit.path());
        makeTable(dosProgram, "ARBEIT", "DOS", {"NAME"}, {{"a"}, {"a"}});
    }
    selectTab("Seite2");
    pick("Change1Alias", "ARBEIT");
    pick("Change1Table", "DOS");
    pick("Change1Field", "NAME");
    typeInto("vonEdit2", "a");
    typeInto("zuEdit2", QString::fromUtf8("S\u00f8ren")); // no o-slash in code page 437
    run();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Information),
              (QStringList{"Complete!\r2 Records of 2 processed",
                           QString::fromStdString(run::conversionLossMessage(2))}));
}

// Preview beside Run: the page's run on copies, its completion message and changes in the
// preview window instead of message boxes, the table untouched; the window's Run runs it.
TEST_F(OperationPages, PreviewShowsTheChangesAndItsRunMakesThem) {
    selectTab("Seite3");
    pick("Change2Alias", "ARBEIT");
    pick("Change2Table", "KUNDEN");
    pick("Change2Field", "ORT");
    click("allUpperCaseBtn");
    find<QToolButton>("PreviewBtn")->click();
    EXPECT_EQ(kunden("ORT"), (std::vector<std::string>{"Bonn", "Aachen"}));
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Information).isEmpty());
    ASSERT_EQ(dialogs->previewsShown.size(), 1u);
    const tables::PreviewResult& shown = dialogs->previewsShown[0];
    EXPECT_EQ(shown.messages, (std::vector<std::string>{"Complete!\r2 Records of 2 processed"}));
    ASSERT_EQ(shown.records.size(), 2u);
    EXPECT_EQ(shown.records[0].fields[0].before, "Bonn");
    EXPECT_EQ(shown.records[0].fields[0].after, "BONN");
    EXPECT_EQ(shown.countLines(), (std::vector<std::string>{"KUNDEN: 2 records changed"}));
    expectIdle();

    dialogs->previewRunAnswer = true;
    find<QToolButton>("PreviewBtn")->click();
    EXPECT_EQ(kunden("ORT"), (std::vector<std::string>{"BONN", "AACHEN"}));
    EXPECT_EQ(completion(), "Complete!\r2 Records of 2 processed");
}

TEST_F(OperationPages, PreviewRefusesWhatItCannotShowAndStopsAtChecks) {
    selectTab("ExportSeite");
    find<QToolButton>("PreviewBtn")->click();
    EXPECT_TRUE(completion().startsWith("Preview shows the records a run would change")) << completion().toStdString();
    selectTab("Seite2"); // no alias chosen: the run's own check, and no preview window
    find<QToolButton>("PreviewBtn")->click();
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error), QStringList{"ALIAS must be specified!"});
    EXPECT_TRUE(dialogs->previewsShown.empty());
}

TEST(PreviewForm, ListsEachChangedFieldAndSaysHowManyAreLeftOut) {
    tables::PreviewResult result;
    result.messages = {"Complete!\r150 Records of 150 processed"};
    result.counts = {{"KUNDEN", 150, 0, 0}};
    for (int i = 1; i <= 100; ++i)
        result.records.push_back({"KUNDEN", std::to_string(i), engine::ChangeKind::Changed,
                                  {{"ORT", "Bonn", "BONN"}, {"PLZ", "1", "2"}}});
    app::TPreviewForm form(nullptr, result);
    EXPECT_EQ(form.ChangesGrid->rowCount(), 200);
    EXPECT_EQ(form.ChangesGrid->columnCount(), 6);
    EXPECT_EQ(form.ChangesGrid->item(1, 3)->text(), "PLZ");
    EXPECT_EQ(form.ChangesGrid->item(1, 5)->text(), "2");
    EXPECT_TRUE(form.SummaryLabel->text().contains("150 Records of 150 processed"));
    EXPECT_TRUE(form.SummaryLabel->text().contains("The first 100 of 150 changed records"));
}

} // namespace
} // namespace fieldsmith::apptest
