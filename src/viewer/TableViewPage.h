// The Table View page (AnsichtTabelle): one table of the engine in a grid, opened when the
// table box is left, ordered by a column title when an index on that column exists.
#pragma once

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reload();
    void leaveNewRecord();
    void moveTo(int row);
    //! Whether TempTable still holds the table this page opened: other pages reuse it.
    bool showsTempTable() const;

    app::TFieldsmithForm& form_;
    app::TPickerBox* ViewTabAlias;
    app::TPickerBox* ViewTabTable;
    QLineEdit* DBRichEdit1;
    QCheckBox* DelRecCheckbox;
    QTableView* DBGrid1;
    TableModel* model_;
    int memoField_ = -1;
    bool pendingChanged_ = false; //!< the new row got a value
    std::string openedAlias_, openedTable_;
};

} // namespace fieldsmith::viewer
