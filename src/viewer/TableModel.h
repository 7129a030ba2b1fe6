// The Table View's grid model and page over the shared TempTable.
// TableModel: the rows of an open table, read once in the table's current order; memo
// values are shown on one line.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <vector>

namespace fieldsmith::engine {
class Table;
}

namespace fieldsmith::viewer {

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableModel(QObject* parent = nullptr);

    //! Reads all records of the open table in its current order; an unopened table
    //! leaves the model empty. The cursor ends on the first record.
    void load(engine::Table& table);
    void clear();
    QString fieldName(int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    //! Writes an edited cell through the writer; on success the cell shows the value as the
    //! table has stored it.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    //! Writes one value into the table (row, column, text) and returns the value as stored
    //! afterwards; throws when the table refuses it.
    std::function<QString(int, int, const QString&)> writer;

    //! A new, still empty row at this place for a record being inserted; one at a time.
    void addPendingRow(int row);
    //! Takes the new row away again (a new record left unchanged is discarded).
    void dropPendingRow();
    int pendingRow() const { return pendingRow_; }

    //! A memo's lines one after the other on one line, separated by a blank.
    static QString singleLine(const QString& text);

private:
    QStringList fields_;
    std::vector<bool> memo_;
    std::vector<QStringList> rows_;
    int pendingRow_ = -1;
};

} // namespace fieldsmith::viewer
