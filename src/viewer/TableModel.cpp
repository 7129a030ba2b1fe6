#include "viewer/TableModel.h"

#include "app/TextCodec.h"
#include "engine/Table.h"

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
    fields_.clear();
    rows_.clear();
    endResetModel();
}

void TableModel::load(engine::Table& table) {
    beginResetModel();
    fields_.clear();
    rows_.clear();
    if (table.active()) {
        const int n = table.fieldCount();
        std::vector<bool> memo(n);
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

QString TableModel::fieldName(int column) const { return fields_.value(column); }

int TableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

QVariant TableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return rows_[index.row()].value(index.column());
}

QVariant TableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return fields_.value(section);
    return section + 1;
}

} // namespace fieldsmith::viewer
