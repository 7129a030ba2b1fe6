// The Table View's grid model and page over the shared TempTable.
// TableModel: a live view of an open table. Rows are read from the table as the grid shows
// them, a few pages at a time, without moving the table's cursor; each row knows the
// identity of its record, so that an edit reaches exactly the record the row shows.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class Table;
}

namespace fieldsmith::viewer {

class TableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TableModel(QObject* parent = nullptr);

    //! Shows this table, or nothing. The model reads the table as rows are shown.
    void setTable(engine::Table* table);
    //! The table changed under the model: cached rows are dropped at once (a row is never
    //! shown from before the change), and the grid learns of it at the next relayout().
    void invalidate();
    //! Tells the grid what changed since invalidate(): a new row count, fields or order
    //! reset the model, anything else repaints the rows.
    void relayout();
    QString fieldName(int column) const;
    bool isMemo(int column) const { return column >= 0 && column < static_cast<int>(memo_.size()) && memo_[static_cast<std::size_t>(column)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    //! Writes an edited cell through the writer; the cell then shows the value as stored.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    //! The identity of the record a row shows; empty for the new row or past the end.
    std::string identityAt(int row) const;

    //! Writes one value (record identity, column, text) and returns the value as stored;
    //! throws when the table refuses it. For the new row the identity is empty.
    std::function<QString(const std::string&, int, const QString&)> writer;

    //! A new, still empty row at this place for a record being inserted; one at a time.
    void addPendingRow(int row);
    //! Takes the new row away again (a new record left unchanged is discarded).
    void dropPendingRow();
    int pendingRow() const { return pendingRow_; }

    //! A memo's lines one after the other on one line, separated by a blank.
    static QString singleLine(const QString& text);

private:
    struct CachedRow {
        QStringList values;
        std::string identity;
    };
    static constexpr int kPageRows = 64;
    static constexpr std::size_t kPagesKept = 64;

    //! The row of the table behind a row of the grid (the new row shifts those after it).
    int tableRow(int gridRow) const;
    const CachedRow* cachedRow(int tableRow) const;
    void readShape();

    engine::Table* table_ = nullptr;
    QStringList fields_;
    std::vector<bool> memo_;
    int count_ = 0;
    bool stale_ = false;
    int pendingRow_ = -1;
    mutable std::map<int, std::vector<CachedRow>> pages_;
    mutable std::list<int> recent_; //!< page numbers, most recently used first
};

} // namespace fieldsmith::viewer
