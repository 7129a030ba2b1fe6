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

