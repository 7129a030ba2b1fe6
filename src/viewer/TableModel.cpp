#include "viewer/TableModel.h"

#include "app/TextCodec.h"
#include "engine/Table.h"

#include <algorithm>
#include <climits>

namespace fieldsmith::viewer {

TableModel::TableModel(QObject* parent) : QAbstractTableModel(parent) {}

QString TableModel::singleLine(const QString& text) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

void TableModel::setTable(engine::Table* table) {
    beginResetModel();
    table_ = table;
    pendingRow_ = -1;
    readShape();
    endResetModel();
}

// Fields and record count of the table as it is now; nothing when it is closed.
void TableModel::readShape() {
    pages_.clear();
    recent_.clear();
    fields_.clear();
    memo_.clear();
    count_ = 0;
    stale_ = false;
    if (!table_ || !table_->active()) return;
    try {
        const int n = table_->fieldCount();
        for (int i = 0; i < n; ++i) {
            auto f = table_->field(i);
            fields_ << app::fromEngine(f.name());
            memo_.push_back(engine::isTextBlobType(f.type()));
        }
        count_ = static_cast<int>(std::min<std::int64_t>(table_->recordCount(), INT_MAX - 1));
    } catch (const std::exception&) {
        fields_.clear();
        memo_.clear();
        count_ = 0;
    }
}

void TableModel::invalidate() {
    pages_.clear();
    recent_.clear();
    stale_ = true;
}

void TableModel::relayout() {
    if (!stale_) return;
    QStringList fields;
    int count = 0;
    if (table_ && table_->active()) {
        try {
            for (int i = 0; i < table_->fieldCount(); ++i) fields << app::fromEngine(table_->field(i).name());
            count = static_cast<int>(std::min<std::int64_t>(table_->recordCount(), INT_MAX - 1));
        } catch (const std::exception&) {
            fields.clear();
        }
    }
    if (fields != fields_ || count != count_ || pendingRow_ >= 0) {
        beginResetModel();
        pendingRow_ = -1;
        readShape();
        endResetModel();
        return;
    }
    stale_ = false;
    if (count_ > 0 && !fields_.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int TableModel::tableRow(int gridRow) const {
    if (pendingRow_ >= 0 && gridRow > pendingRow_) return gridRow - 1;
    return gridRow;
}

// The rows are read in pages as the grid asks for them; a few dozen pages are kept.
const TableModel::CachedRow* TableModel::cachedRow(int row) const {
    if (!table_ || !table_->active() || row < 0 || row >= count_) return nullptr;
    const int page = row / kPageRows;
    auto it = pages_.find(page);
    if (it == pages_.end()) {
        std::vector<CachedRow> rows;
        engine::Table::Row raw;
        try {
            for (int r = page * kPageRows; r < std::min(count_, (page + 1) * kPageRows); ++r) {
                if (!table_->readRow(r, raw)) break;
                CachedRow cached;
                for (int f = 0; f < fields_.size(); ++f) {
                    const QString v = app::fromEngine(table_->rowText(raw, f));
                    cached.values << (memo_[static_cast<std::size_t>(f)] ? singleLine(v) : v);
                }
                cached.identity = table_->rowIdentity(raw);
                rows.push_back(std::move(cached));
            }
        } catch (const std::exception&) {
            // A row that cannot be read shows empty; the error shows where the user acts.
        }
        it = pages_.emplace(page, std::move(rows)).first;
        recent_.push_front(page);
        while (recent_.size() > kPagesKept) {
            pages_.erase(recent_.back());
            recent_.pop_back();
        }
    } else if (recent_.front() != page) {
        recent_.remove(page);
        recent_.push_front(page);
    }
    const std::size_t at = static_cast<std::size_t>(row - page * kPageRows);
    return at < it->second.size() ? &it->second[at] : nullptr;
}

std::string TableModel::identityAt(int row) const {
    if (row == pendingRow_) return {};
    const CachedRow* r = cachedRow(tableRow(row));
    return r ? r->identity : std::string();
}

void TableModel::addPendingRow(int row) {
    if (pendingRow_ >= 0 || fields_.isEmpty()) return;
    row = std::clamp(row, 0, count_);
    beginInsertRows({}, row, row);
    pendingRow_ = row;
    endInsertRows();
}

void TableModel::dropPendingRow() {
    if (pendingRow_ < 0) return;
    beginRemoveRows({}, pendingRow_, pendingRow_);
    pendingRow_ = -1;
    endRemoveRows();
}

QString TableModel::fieldName(int column) const {
    return fields_.value(column);
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count_ + (pendingRow_ >= 0 ? 1 : 0);
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // Memo cells show their text on one line; they are edited in the memo box.
    if (index.isValid() && writer && !isMemo(index.column())) f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !writer) return false;
    const bool pending = index.row() == pendingRow_;
    const std::string identity = pending ? std::string() : identityAt(index.row());
    if (!pending && identity.empty()) return false;
    writer(identity, index.column(), value.toString());
    // The row is read again from the table: the cell shows what was stored.
    invalidate();
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return true;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::EditRole))
        return {};
    if (index.row() == pendingRow_) {
        // The new record is the table's insert image until it is posted.
        if (!table_ || table_->state() != engine::DataSetState::Insert) return QString();
        try {
            const QString v = app::fromEngine(table_->field(index.column()).asString());
            return isMemo(index.column()) ? singleLine(v) : v;
        } catch (const std::exception&) {
            return QString();
        }
    }
    const CachedRow* r = cachedRow(tableRow(index.row()));
    return r ? r->values.value(index.column()) : QString();
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return fields_.value(section);
    if (section == pendingRow_) return QStringLiteral("*");
    return tableRow(section) + 1;
}

} // namespace fieldsmith::viewer
