// The alias, table, field and index pickers: filling on opening, dependents emptied, the
// selected-entry rule, the Copy Field preconditions and the directory labels.
#include "GuiTestSupport.h"
#include "engine/Table.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <filesystem>

namespace fieldsmith::apptest {
namespace {

class Pickers : public WindowTest {
protected:
    void SetUp() override { window({"KEYSTONEVIEWS"}); }
};

TEST_F(Pickers, AliasBoxListsAllAliasesSortedAndEmptiesItsDependents) {
    box("TableBoxS1")->setBoxText("OLD");
    box("IndexFeld1Box")->setBoxText("K");
    box("Feld2Box")->setBoxText("F");
    box("AliasBoxS1")->setBoxText("ARBEIT");
    open("AliasBoxS1");
    EXPECT_EQ(entries("AliasBoxS1"), (QStringList{"ARBEIT", "LAGER", "NOSERVER", "ORASRV"}));
    EXPECT_EQ(box("AliasBoxS1")->maxVisibleItems(), 16);
    for (const char* dependent : {"TableBoxS1", "IndexFeld1Box", "Feld2Box"})
        EXPECT_EQ(box(dependent)->boxText(), "") << dependent;
    EXPECT_EQ(box("AliasBoxS1")->boxText(), "ARBEIT") << "the box keeps its own text";
    EXPECT_EQ(form_->inputs().Seite1.TableBoxS1, "") << "the inputs follow the boxes";
}

TEST_F(Pickers, DependentsOfEveryAliasAndTableBox) {
    struct Case {
        const char* opened;
        std::vector<const char*> emptied;
        std::vector<const char*> kept;
    };
    const Case cases[] = {
        {"AliasBox2", {"IndexFeld2Box", "ZielFeldBox", "TabellenBox2"}, {"AliasBoxS1"}},
        {"TabellenBox2", {"IndexFeld2Box", "ZielFeldBox"}, {"AliasBox2"}},
        {"Change1Alias", {"Change1Table", "Change1Field"}, {"vonEdit2"}},
        {"Change2Alias", {"Change2Table", "Change2Field"}, {"vonEdit"}},
        {"AliasMerge",
         {"MergeFeld1", "MergeFeld2", "MergeFeld3", "MergeTargetFeld", "MergeTable"},
         {}},
        {"MergeTable",
         {"MergeFeld1", "MergeFeld2", "MergeFeld3", "MergeTargetFeld"},
         {"AliasMerge"}},
        {"AliasBox", {"TabellenBox"}, {"FeldBox"}},
        {"PreisAlias1", {"PreisTable1", "PreisFeld1"}, {}},
        {"PreisTable1", {"PreisFeld1"}, {"PreisAlias1"}},
        {"AliasDel", {"FieldDel", "TableDel"}, {"DelFeldBox"}},
        {"TableDel", {"FieldDel"}, {"AliasDel"}},
        {"Change3Alias", {"Change3Table", "Change3Feld"}, {"Change3Feld2"}},
        {"ViewTabAlias", {"ViewTabTable"}, {}},
        {"NeuTabAlias", {"NeuTabBox"}, {"NeuTab2Alias"}},
        {"ExportAlias", {"ExportTab"}, {}},
    };
    auto setText = [this](const char* name, const QString& t) {
        if (auto* b = form_->findChild<app::TPickerBox*>(name))
            b->setBoxText(t);
        else
            find<QLineEdit>(name)->setText(t);
    };
    auto text = [this](const char* name) {
        if (auto* b = form_->findChild<app::TPickerBox*>(name)) return b->boxText();
        return find<QLineEdit>(name)->text();
    };
    for (const Case& c : cases) {
        for (const char* n : c.emptied)
            setText(n, "X");
        for (const char* n : c.kept)
            setText(n, "Y");
        open(c.opened);
        for (const char* n : c.emptied)
            EXPECT_EQ(text(n), "") << c.opened << " empties " << n;
        for (const char* n : c.kept)
            EXPECT_EQ(text(n), "Y") << c.opened << " keeps " << n;
    }
}

TEST_F(Pickers, DeletePageNumberIsClearedByOpeningTheAliasBox) {
    find<QLineEdit>("FieldDel")->setText("25");
    EXPECT_EQ(form_->inputs().DelPage.FieldDel, "25");
    open("AliasDel");
    EXPECT_EQ(find<QLineEdit>("FieldDel")->text(), "");
    EXPECT_EQ(form_->inputs().DelPage.FieldDel, "");
}

TEST_F(Pickers, TableBoxNeedsAnAliasPickedFromTheList) {
    pick("Change1Alias", "ARBEIT");
    open("Change1Table");
    EXPECT_EQ(entries("Change1Table"), (QStringList{"ARTIKEL", "KUNDEN"}))
        << "tables without extension";

    // Typed over: no selected entry any more.
    box("Change1Alias")->lineEdit()->clear();
    type("Change1Alias", "LAGER");
    open("Change1Table");
    EXPECT_TRUE(entries("Change1Table").isEmpty());

    // Picked, then the alias list refilled: the selected entry is lost.
    pick("Change1Alias", "LAGER");
    open("Change1Alias");
    EXPECT_EQ(box("Change1Alias")->boxText(), "LAGER");
    open("Change1Table");
    EXPECT_TRUE(entries("Change1Table").isEmpty());
}

TEST_F(Pickers, FieldBoxNeedsATablePickedFromTheList) {
    pick("Change1Alias", "ARBEIT");
    pick("Change1Table", "KUNDEN");
    open("Change1Field");
    EXPECT_EQ(entries("Change1Field"), (QStringList{"NAME", "ORT", "TAVO"})) << "sorted";
    open("BedingungFeld");
    EXPECT_EQ(entries("BedingungFeld"), (QStringList{"NAME", "ORT", "TAVO"}));

    box("Change1Table")->lineEdit()->clear();
    type("Change1Table", "KUNDEN");
    open("Change1Field");
    EXPECT_TRUE(entries("Change1Field").isEmpty()) << "a typed table name lists no fields";
}

TEST_F(Pickers, CopyFieldSourceFieldNeedsAKeyOrNewRecords) {
    pick("AliasBoxS1", "ARBEIT");
    pick("TableBoxS1", "KUNDEN");
    open("Feld2Box");
    EXPECT_TRUE(entries("Feld2Box").isEmpty()) << "no key field and no new records: no list";

    find<QCheckBox>("GenNewRecsCheck")->click();
    open("Feld2Box");
    EXPECT_EQ(entries("Feld2Box").size(), 3);

    find<QCheckBox>("GenNewRecsCheck")->click();
    pick("TableBoxS1", "ARTIKEL"); // empties the key field
    open("Feld2Box");
    EXPECT_EQ(entries("Feld2Box").size(), 3) << "precondition not met: the old list stays";
    pick("IndexFeld1Box", "NR");
    open("Feld2Box");
    EXPECT_EQ(entries("Feld2Box"), (QStringList{"BEZ", "NR"}));
}

TEST_F(Pickers, CopyFieldTargetFieldNeedsKeyAndSourceOrNewRecords) {
    pick("AliasBox2", "ARBEIT");
    pick("TabellenBox2", "ARTIKEL");
    struct Case {
        const char* key;
        const char* source;
        bool newRecords;
        bool listed;
    };
    const Case cases[] = {
        {"", "", false, false},     {"NR", "", false, false}, {"", "BEZ", false, false},
        {"NR", "BEZ", false, true}, {"", "", true, true},
    };
    for (const Case& c : cases) {
        box("ZielFeldBox")->clearEntries();
        box("IndexFeld1Box")->setBoxText(c.key);
        box("Feld2Box")->setBoxText(c.source);
        find<QCheckBox>("GenNewRecsCheck")->setChecked(c.newRecords);
        open("ZielFeldBox");
        EXPECT_EQ(!entries("ZielFeldBox").isEmpty(), c.listed)
            << "key '" << c.key << "' source '" << c.source << "' new " << c.newRecords;
    }
}

TEST_F(Pickers, MergeTableEmptiesTheTargetFieldListAndKeepsItsOwnWithoutAnAlias) {
    pick("AliasMerge", "ARBEIT");
    pick("MergeTable", "KUNDEN");
    open("MergeTargetFeld");
    ASSERT_EQ(entries("MergeTargetFeld").size(), 3);
    open("MergeTable");
    EXPECT_TRUE(entries("MergeTargetFeld").isEmpty());

    box("AliasMerge")->lineEdit()->clear();
    type("AliasMerge", "LAGER");
    open("MergeTable");
    EXPECT_EQ(entries("MergeTable"), (QStringList{"ARTIKEL", "KUNDEN"}))
        << "without a selected alias the old list stays";
}

TEST_F(Pickers, AddPrimaryKeyNameBoxesStartWithTheSixteenKeyNames) {
    const QStringList keys{"BRUKO", "DORVA", "FASO", "GEPS",  "HUX",  "JEK",   "MIKU", "NUBE",
                           "QEMB",  "QZ",    "RAPO", "SOLVI", "TAVO", "WIRGO", "YUSK", "ZOLF"};
    EXPECT_EQ(entries("PrimaryBox"), keys);
    EXPECT_EQ(entries("ChangeOnFeldBox"), keys);
    EXPECT_FALSE(box("PrimaryBox")->isEditable()) << "pick only";
    open("PrimaryBox");
    EXPECT_EQ(entries("PrimaryBox"), keys) << "PrimaryBox keeps its list";
    open("ChangeOnFeldBox");
    EXPECT_TRUE(entries("ChangeOnFeldBox").isEmpty()) << "refilled by the field rule";
}

TEST_F(Pickers, FieldBoxOfATableThatCannotBeOpenedReportsTheError) {
    pick("PreisAlias1", "ARBEIT");
    pick("PreisTable1", "ARTIKEL");
    std::filesystem::remove(arbeit.path() / "ARTIKEL.DB");
    open("PreisFeld1");
    EXPECT_TRUE(entries("PreisFeld1").isEmpty());
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, run::MessageKind::Error);
    EXPECT_EQ(dialogs->shown[0].caption, "KR4 Fieldsmith");
}

TEST_F(Pickers, IndexBoxListsFieldListsJoinedBySemicolons) {
    open("Index3Box");
    EXPECT_TRUE(entries("Index3Box").isEmpty()) << "without alias and table nothing happens";
    box("Change2Alias")->setBoxText("ARBEIT");
    box("Change2Table")->setBoxText("KUNDEN"); // typed names are enough here
    open("Index3Box");
    EXPECT_EQ(entries("Index3Box"), QStringList{"TAVO;NAME"});
    EXPECT_FALSE(box("Index3Box")->isEditable());
    EXPECT_FALSE(form_->shared().TempTable.active()) << "TempTable is closed again";

    box("Change2Table")->setBoxText("MISSING");
    open("Index3Box");
    EXPECT_EQ(entries("Index3Box"), QStringList{"TAVO;NAME"}) << "a failed open keeps the list";
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error).size(), 1);
}

TEST_F(Pickers, DirectoryLabelFollowsTypingOnChange) {
    auto* label = find<QLabel>("AliasDir3");
    EXPECT_EQ(label->text(), "Alias-Verzeichnis");
    QStringList seen;
    for (const QChar ch : QString("ARBEIT")) {
        type("Change1Alias", QString(ch));
        seen << label->text();
    }
    EXPECT_EQ(seen, (QStringList{"Alias-Verzeichnis", "Alias-Verzeichnis", "Alias-Verzeichnis",
                                 "Alias-Verzeichnis", "Alias-Verzeichnis",
                                 QString::fromStdString(arbeit.path().string())}));
    type("Change1Alias", "X"); // ARBEITX is no alias: the label keeps its text
    EXPECT_EQ(label->text(), QString::fromStdString(arbeit.path().string()));
    EXPECT_TRUE(dialogs->shown.empty()) << "errors are swallowed";
}

TEST_F(Pickers, DirectoryLabelsOfServerAliases) {
    struct Case {
        const char* alias;
        const char* label;
    };
    for (const Case& c : {Case{"ORASRV", "KR4"}, Case{"NOSERVER", ""}}) {
        box("PreisAlias1")->setBoxText(c.alias);
        EXPECT_EQ(find<QLabel>("PreisAlias1Dir")->text(), c.label) << c.alias;
    }
}

TEST_F(Pickers, DirectoryLabelOnLeavingIgnoresTyping) {
    struct Case {
        const char* box;
        const char* label;
    };
    const Case cases[] = {{"AliasBoxS1", "AliasDir4"},
                          {"AliasBox2", "AliasDir5"},
                          {"AliasMerge", "AliasDir2"},
                          {"AliasBox", "AliasDir"}};
    for (const Case& c : cases) {
        type(c.box, "LAGER");
        EXPECT_EQ(find<QLabel>(c.label)->text(), "Alias-Verzeichnis") << c.box;
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(box(c.box), &leave);
        EXPECT_EQ(find<QLabel>(c.label)->text(), QString::fromStdString(lager.path().string()))
            << c.box;
    }
}

} // namespace
} // namespace fieldsmith::apptest
