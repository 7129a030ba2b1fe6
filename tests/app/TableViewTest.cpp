// The Table View page: opening on leaving the table box, ordering by an indexed column,
// the position in status panel 1, deleting, and the alias box closing the table.
#include "GuiTestSupport.h"
#include "engine/Table.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QHeaderView>
#include <QTableView>
#include <QTest>

namespace fieldsmith::apptest {
namespace {

class TableView : public WindowTest {
protected:
    void SetUp() override {
        engine::Table t(session);
        t.setDatabaseName("ARBEIT");
        t.setTableName("KUNDEN");
        t.addIndex("ByOrt", "ORT", 0);
        window({"KEYSTONEVIEWS"});
        grid = find<QTableView>("DBGrid1");
    }
    void openTable(const char* alias, const char* table) {
        box("ViewTabAlias")->setBoxText(alias);
        box("ViewTabTable")->setBoxText(table);
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(box("ViewTabTable"), &leave);
    }
    QStringList columnTexts(int column) {
        QStringList texts;
        for (int r = 0; r < grid->model()->rowCount(); ++r)
            texts << grid->model()->index(r, column).data().toString();
        return texts;
    }
    int columnOf(const QString& field) {
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            if (grid->model()->headerData(c, Qt::Horizontal).toString() == field) return c;
        return -1;
    }
    QTableView* grid = nullptr;
};

TEST_F(TableView, OpensOnLeavingTheTableBoxAndShowsThePosition) {
    openTable("ARBEIT", "KUNDEN");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(columnTexts(columnOf("ORT")), (QStringList{"Bonn", "Aachen"})) << "primary order";
    grid->setCurrentIndex(grid->model()->index(1, 0));
    EXPECT_EQ(panelText(1), "2 of 2");
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(TableView, TitleClickOrdersOnlyByASingleFieldIndex) {
    openTable("ARBEIT", "KUNDEN");
    grid->horizontalHeader()->sectionClicked(columnOf("TAVO")); // first field of the key only
    EXPECT_EQ(columnTexts(columnOf("ORT")), (QStringList{"Bonn", "Aachen"}));
    grid->horizontalHeader()->sectionClicked(columnOf("ORT"));
    EXPECT_EQ(columnTexts(columnOf("ORT")), (QStringList{"Aachen", "Bonn"}));
    EXPECT_EQ(form_->shared().TempTable.indexFieldNames(), "ORT");
}

TEST_F(TableView, MissingTableLeavesTheGridEmptyWithoutAMessage) {
    openTable("ARBEIT", "NOSUCH");
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(TableView, AnotherAliasClosesTheTable) {
    openTable("ARBEIT", "KUNDEN");
    ASSERT_TRUE(form_->shared().TempTable.active());
    box("ViewTabAlias")->setBoxText("LAGER");
    EXPECT_FALSE(form_->shared().TempTable.active());
    EXPECT_EQ(grid->model()->rowCount(), 0);
}

TEST_F(TableView, ControlDeleteAsksUnlessTicked) {
    openTable("ARBEIT", "KUNDEN");
    grid->setCurrentIndex(grid->model()->index(0, 0));
    dialogs->answers = {false};
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Confirmation), QStringList{"Datensatz löschen?"});
    EXPECT_EQ(grid->model()->rowCount(), 2) << "Cancel keeps the record";

    find<QCheckBox>("DelRecCheckbox")->setChecked(true);
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(dialogs->shown.size(), 1u) << "no second question";
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "NAME"), std::vector<std::string>{"Adler"});
}

} // namespace
} // namespace fieldsmith::apptest

namespace fieldsmith::apptest {
namespace {

class TableViewEditing : public TableView {};

TEST_F(TableViewEditing, EditedCellIsPostedAtOnce) {
    openTable("ARBEIT", "KUNDEN");
    const QModelIndex cell = grid->model()->index(1, columnOf("ORT"));
    EXPECT_TRUE(grid->model()->flags(cell) & Qt::ItemIsEditable);
    ASSERT_TRUE(grid->model()->setData(cell, "Aalen", Qt::EditRole));
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "ORT"),
              (std::vector<std::string>{"Bonn", "Aalen"}));
    EXPECT_EQ(cell.data().toString(), "Aalen");
    EXPECT_TRUE(dialogs->shown.empty());
}

} // namespace
} // namespace fieldsmith::apptest

namespace fieldsmith::apptest {
namespace {

class TableViewRows : public WindowTest {
protected:
    void SetUp() override {
        window({"KEYSTONEVIEWS"});
        grid = find<QTableView>("DBGrid1");
        box("ViewTabAlias")->setBoxText("ARBEIT");
        box("ViewTabTable")->setBoxText("KUNDEN");
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(box("ViewTabTable"), &leave);
        grid->setCurrentIndex(grid->model()->index(0, 0));
    }
    void key(Qt::Key k) { QTest::keyClick(grid, k); QApplication::processEvents(); }
    QTableView* grid = nullptr;
};

TEST_F(TableViewRows, InsertedRecordIsPostedWhenTheRowIsLeft) {
    key(Qt::Key_Insert);
    ASSERT_EQ(grid->model()->rowCount(), 3);
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(0, 0), "9", Qt::EditRole));
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(0, 1), "Neu", Qt::EditRole));
    grid->setCurrentIndex(grid->model()->index(2, 0));
    QApplication::processEvents();
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "NAME"), (std::vector<std::string>{"Berg", "Adler", "Neu"}));
    EXPECT_EQ(grid->model()->rowCount(), 3);
}

TEST_F(TableViewRows, AppendedRecordLeftUnchangedIsDiscarded) {
    grid->setCurrentIndex(grid->model()->index(1, 0));
    key(Qt::Key_Down);
    ASSERT_EQ(grid->model()->rowCount(), 3) << "Down on the last row appends a new row";
    key(Qt::Key_Up);
    EXPECT_EQ(grid->model()->rowCount(), 2);
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "NAME").size(), 2u);
}

TEST_F(TableViewRows, RefusedNewRecordStaysForMending) {
    key(Qt::Key_Insert);
    // The key is TAVO and NAME: (1, Berg) exists.
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(0, 0), "1", Qt::EditRole));
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(0, 1), "Berg", Qt::EditRole));
    grid->setCurrentIndex(grid->model()->index(2, 0));
    QApplication::processEvents();
    EXPECT_FALSE(dialogs->textsOf(run::MessageKind::Error).isEmpty()) << "the key violation is shown";
    EXPECT_EQ(grid->model()->rowCount(), 3) << "the new row stays";
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(0, 0), "7", Qt::EditRole));
    grid->setCurrentIndex(grid->model()->index(1, 0));
    QApplication::processEvents();
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "TAVO"), (std::vector<std::string>{"1", "2", "7"}));
}

} // namespace
} // namespace fieldsmith::apptest


#include "engine/EngineError.h"
#include "ops/FieldOperations.h"

#include <QToolButton>

namespace fieldsmith::apptest {
namespace {

// The grid is a live view of TempTable: it follows when other pages reuse the dataset, and
// an edit reaches the record its row shows, found by identity, never by position.
class TableViewFollows : public TableView {
protected:
    void SetUp() override {
        TableView::SetUp();
        ops::registerOperations(form_->operationTable());
    }
    int rowOf(const char* field, const QString& value) {
        const int c = columnOf(field);
        for (int r = 0; r < grid->model()->rowCount(); ++r)
            if (grid->model()->index(r, c).data().toString() == value) return r;
        return -1;
    }
    void runChangeField(const char* field, const char* from, const char* to) {
        selectTab("Seite2");
        box("Change1Alias")->setBoxText("ARBEIT");
        box("Change1Table")->setBoxText("KUNDEN");
        box("Change1Field")->setBoxText(field);
        find<QLineEdit>("vonEdit2")->setText(from);
        find<QLineEdit>("zuEdit2")->setText(to);
        find<QToolButton>("RunBtn")->click();
        selectTab("AnsichtTabelle");
    }
};

TEST_F(TableViewFollows, EditAfterAnotherPageReorderedTheTableReachesTheRecordTheRowShows) {
    openTable("ARBEIT", "KUNDEN");
    grid->horizontalHeader()->sectionClicked(columnOf("ORT"));
    ASSERT_EQ(columnTexts(columnOf("ORT")), (QStringList{"Aachen", "Bonn"}));
    // Change Field takes TempTable over and leaves it open in primary order.
    runChangeField("ORT", "Bonn", "Berlin");
    EXPECT_EQ(columnTexts(columnOf("ORT")), (QStringList{"Berlin", "Aachen"}))
        << "the grid shows the dataset as the run left it";
    const int adler = rowOf("NAME", "Adler");
    ASSERT_GE(adler, 0);
    ASSERT_TRUE(grid->model()->setData(grid->model()->index(adler, columnOf("ORT")), "Aalen", Qt::EditRole));
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "ORT"), (std::vector<std::string>{"Berlin", "Aalen"}))
        << "Adler's record changed, Berg's did not";
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Error).isEmpty());
}

TEST_F(TableViewFollows, ClosingOrReopeningTheDatasetElsewhereIsFollowed) {
    openTable("ARBEIT", "KUNDEN");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    engine::Table& t = form_->shared().TempTable;
    t.close();
    EXPECT_EQ(grid->model()->rowCount(), 0);
    t.setTableName("ARTIKEL");
    t.open();
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(grid->model()->index(0, columnOf("BEZ")).data().toString(), "Schraube");
}

TEST_F(TableViewFollows, EditOfARecordDeletedByAnotherProgramIsRefusedWithAMessage) {
    openTable("ARBEIT", "KUNDEN");
    const int berg = rowOf("NAME", "Berg");
    {
        engine::Session otherProgram;
        otherProgram.addStandardAlias("ARBEIT", arbeit.path());
        engine::Table other(otherProgram);
        other.setDatabaseName("ARBEIT");
        other.setTableName("KUNDEN");
        other.open();
        other.first();
        ASSERT_EQ(other.fieldByName("NAME").asString(), "Berg");
        other.deleteRecord();
    }
    grid->model()->setData(grid->model()->index(berg, columnOf("ORT")), "Bremen", Qt::EditRole);
    const auto errors = dialogs->textsOf(run::MessageKind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("deleted by another program")) << errors[0].toStdString();
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "ORT"), std::vector<std::string>{"Aachen"});
}

TEST_F(TableViewFollows, EditsAreRefusedWhileARunUsesTheTable) {
    openTable("ARBEIT", "KUNDEN");
    form_->UpdateAnsicht(false); // a run is going on
    grid->model()->setData(grid->model()->index(0, columnOf("ORT")), "Bremen", Qt::EditRole);
    form_->UpdateAnsicht(true);
    EXPECT_EQ(dialogs->textsOf(run::MessageKind::Error).size(), 1);
    EXPECT_EQ(column(session, "ARBEIT", "KUNDEN", "ORT"), (std::vector<std::string>{"Bonn", "Aachen"}));
}

// A table with memos: the memo box stores what was typed when the record is left or Post
// is pressed.
class TableViewMemo : public WindowTest {
protected:
    void SetUp() override {
        engine::Table t(session);
        t.setDatabaseName("ARBEIT");
        t.setTableName("NOTIZEN");
        t.fieldDefs() = {{"ID", engine::FieldType::ftInteger, 0, true},
                         {"TEXT", engine::FieldType::ftMemo, 10, false}};
        t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.createTable();
        t.open();
        for (int i = 1; i <= 3; ++i) {
            t.insert();
            t.fieldByName("ID").setAsInteger(i);
            t.fieldByName("TEXT").setAsString("note " + std::to_string(i));
            t.post();
        }
        t.close();
        window({"KEYSTONEVIEWS"});
        grid = find<QTableView>("DBGrid1");
        box("ViewTabAlias")->setBoxText("ARBEIT");
        box("ViewTabTable")->setBoxText("NOTIZEN");
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(box("ViewTabTable"), &leave);
        grid->setCurrentIndex(grid->model()->index(0, 0));
        memo = find<QLineEdit>("DBRichEdit1");
    }
    void typeMemo(const QString& text) {
        memo->selectAll();
        QTest::keyClicks(memo, text);
    }
    QTableView* grid = nullptr;
    QLineEdit* memo = nullptr;
};

TEST_F(TableViewMemo, TypedTextIsStoredWhenTheRecordIsLeftOrPosted) {
    ASSERT_EQ(memo->text(), "note 1");
    typeMemo("changed one");
    grid->setCurrentIndex(grid->model()->index(2, 0));
    EXPECT_EQ(memo->text(), "note 3") << "the box shows the record moved to";
    typeMemo("changed three");
    find<QToolButton>("ToolButton3")->click();
    EXPECT_EQ(column(session, "ARBEIT", "NOTIZEN", "TEXT"),
              (std::vector<std::string>{"changed one", "note 2", "changed three"}));
    EXPECT_TRUE(dialogs->textsOf(run::MessageKind::Error).isEmpty());
}

TEST_F(TableViewMemo, TypedTextIsStoredWhenAnotherPageTakesTheDatasetOver) {
    typeMemo("kept");
    form_->shared().TempTable.close();
    EXPECT_EQ(column(session, "ARBEIT", "NOTIZEN", "TEXT"),
              (std::vector<std::string>{"kept", "note 2", "note 3"}));
}

} // namespace
} // namespace fieldsmith::apptest
