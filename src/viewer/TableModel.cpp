#include "viewer/TableModel.h"

#include "app/TextCodec.h"
#include "engine/Table.h"

#include <algorithm>

namespace fieldsmith::viewer {

TableModel::TableModel(QObject* parent) : QAbstractTableModel(parent) {}

QString TableModel::singleLine(const QString& text) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

void TableModel::clear() {
    beginResetModel();
    pendingRow_ = -1;
    fields_.clear();
    memo_.clear();
    rows_.clear();
    endResetModel();
}

void TableModel::addPendingRow(int row) {
    if (pendingRow_ >= 0 || fields_.isEmpty()) return;
    row = std::clamp(row, 0, static_cast<int>(rows_.size()));
    beginInsertRows({}, row, row);
    QStringList empty;
    for (int i = 0; i < fields_.size(); ++i) empty << QString();
    rows_.insert(rows_.begin() + row, empty);
    pendingRow_ = row;
    endInsertRows();
}

void TableModel::dropPendingRow() {
    if (pendingRow_ < 0) return;
    beginRemoveRows({}, pendingRow_, pendingRow_);
    rows_.erase(rows_.begin() + pendingRow_);
    pendingRow_ = -1;
    endRemoveRows();
}

void TableModel::load(engine::Table& table) {
    beginResetModel();
    pendingRow_ = -1;
    fields_.clear();
    memo_.clear();
    rows_.clear();
    if (table.active()) {
        const int n = table.fieldCount();
        memo_.assign(n, false);
        auto& memo = memo_;
        for (int i = 0; i < n; ++i) {
            auto f = table.field(i);
            fields_ << app::fromEngine(f.name());
            memo[i] = engine::isTextBlobType(f.type());
        }
        table.disableControls();
        try {
            const auto count = table.recordCount();
            table.first();
            for (std::int64_t r = 0; r < count; ++r) {
                QStringList row;
                for (int i = 0; i < n; ++i) {
                    const QString v = app::fromEngine(table.field(i).asString());
                    row << (memo[i] ? singleLine(v) : v);
                }
                rows_.push_back(row);
                table.next();
            }
            table.first();
        } catch (...) {
            table.enableControls();
            endResetModel();
            throw;
        }
        table.enableControls();
    }
    endResetModel();
}

QString TableModel::fieldName(int column) const {
    return fields_.value(column);
}

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

Qt::ItemFlags TableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    // Memo cells show their text on one line; they are edited in the memo box.
    if (index.isValid() && writer && !memo_[index.column()]) f |= Qt::ItemIsEditable;
    return f;
}

bool TableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || !writer) return false;
    const QString stored = writer(index.row(), index.column(), value.toString());
    rows_[index.row()][index.column()] = stored;
    emit dataChanged(index, index);
    return true;
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::EditRole))
        return {};
    return rows_[index.row()].value(index.column());
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return fields_.value(section);
    return section + 1;
}

} // namespace fieldsmith::viewer
