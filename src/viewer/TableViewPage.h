// The Table View page (AnsichtTabelle): one table of the engine in a grid, opened when the
// table box is left, ordered by a column title when an index on that column exists.
#pragma once

#include "engine/Table.h"

#include <QWidget>
#include <string>

class QCheckBox;
class QLineEdit;
class QTableView;

namespace fieldsmith::app {
class TFieldsmithForm;
class TPickerBox;
} // namespace fieldsmith::app

namespace fieldsmith::viewer {

class TableModel;

class TTableViewPage : public QWidget {
    Q_OBJECT
public:
    TTableViewPage(app::TFieldsmithForm& form, QWidget* parent = nullptr);

    void ViewTabAliasChange();
    //! Opens the table named by the two boxes in TempTable; errors are ignored.
    void ViewTabTableExit();
    void ShowFirstMemoField();
    //! True when one of the table's indexes has exactly this field list.
    bool HasIndexOnField(const QString& fieldName);
    void DBGrid1TitleClick(int column);
    //! Panel 1 shows "{record number} of {record count}".
    void DSTempTableDataChange();

    //! Stores what the user typed and has not posted yet (the new row, the memo box).
    //! False when the table refused it; the error has then been shown.
    bool commitPending();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void onTableEvent(engine::TableEvent e);
    void scheduleRelayout();
    void relayoutNow();
    void leaveNewRecord();
    void rowChanged(int row);
    //! Moves TempTable to the record a row shows; false (with a message) when it is gone.
    bool gotoRow(int row);
    bool commitMemo();
    void showMemoOf(int row);
    //! Writes one value into the record of an identity, or into the new record.
    QString writeValue(const std::string& identity, int column, const QString& text);
    //! Refuses a change while a run uses the table: the run's cursor is on it.
    void requireIdleForEditing();
    engine::Table& temp();

    app::TFieldsmithForm& form_;
    app::TPickerBox* ViewTabAlias;
    app::TPickerBox* ViewTabTable;
    QLineEdit* DBRichEdit1;
    QCheckBox* DelRecCheckbox;
    QTableView* DBGrid1;
    TableModel* model_;
    int memoField_ = -1;
    bool pendingChanged_ = false; //!< the new row got a value
    bool relayoutScheduled_ = false;
    bool memoDirty_ = false;       //!< the memo box holds text not yet stored
    std::string memoIdentity_;     //!< the record whose memo the box shows
    bool committing_ = false;
};

} // namespace fieldsmith::viewer
