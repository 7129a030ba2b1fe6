#include "OracleQuery.h"

#include "SqlLexer.h"
#include "SqliteSchema.h"
#include "ValueText.h"
#include "engine/FieldDef.h"

namespace fieldsmith::oraclient {

OracleQuery::OracleQuery(OracleSession& session) : session_(session) {}

void OracleQuery::setSql(std::string_view text) {
    sql_.clear();
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(pos, end - pos));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        sql_.push_back(std::move(line));
        pos = end + 1;
    }
}

namespace {

// "SELECT x.ROWID, x.* FROM [owner.]table x": the table as written, else empty.
std::string editableTarget(const std::string& sql) {
    std::vector<SqlToken> t;
    try {
        t = tokenizeSql(sql);
    } catch (const OracleError&) {
        return {};
    }
    while (!t.empty() && t.back().isSymbol(";"))
        t.pop_back();
    if (t.size() < 11 || !t[0].is("SELECT") || !t[1].isName() || !t[2].isSymbol(".") ||
        !t[3].is("ROWID") || !t[4].isSymbol(",") || !t[5].isName() || !t[6].isSymbol(".") ||
        !t[7].isSymbol("*") || !t[8].is("FROM"))
        return {};
    const std::string alias = identifierOf(t[1]);
    if (identifierOf(t[5]) != alias || identifierOf(t.back()) != alias) return {};
    const std::size_t nameEnd = t.size() - 1;
    if (nameEnd == 10 && t[9].isName()) return t[9].text;
    if (nameEnd == 12 && t[9].isName() && t[10].isSymbol(".") && t[11].isName())
        return t[9].text + "." + t[11].text;
    return {};
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

} // namespace

void OracleQuery::open() {
    close();
    const std::string text = joinLines(sql_);
    if (uniDirectional_) {
        cursor_ = session_.openCursor(text, parameters_);
        kind_ = cursor_->kind;
        rowsProcessed_ = cursor_->rowsAffected;
        columns_ = cursor_->columns;
        active_ = true;
        current_ = 0;
        rows_.resize(1);
        try {
            eof_ = !cursor_->fetch(rows_[0]);
        } catch (...) {
            close();
            throw;
        }
        if (eof_) rows_.clear();
        fetched_ = eof_ ? 0 : 1;
        return;
    }
    StatementResult result = session_.execute(text, parameters_);
    kind_ = result.kind;
    rowsProcessed_ = result.rowsAffected;
    columns_ = std::move(result.columns);
    rows_ = std::move(result.rows);
    active_ = true;
    current_ = 0;
    eof_ = rows_.empty();
    if (kind_ == StatementKind::Query) {
        targetTable_ = editableTarget(text);
        rowIdColumn_ = -1;
        for (int i = 0; i < fieldCount(); ++i)
            if (columns_[static_cast<std::size_t>(i)].type.kind == ColumnKind::RowId)
                rowIdColumn_ = i;
        if (rowIdColumn_ != 0) targetTable_.clear();
    }
}

void OracleQuery::close() {
    cursor_.reset();
    fetched_ = 0;
    active_ = false;
    columns_.clear();
    rows_.clear();
    rowsProcessed_ = 0;
    eof_ = true;
    targetTable_.clear();
    rowIdColumn_ = -1;
    state_ = State::Browse;
    insertColumns_.clear();
    insertSql_.clear();
}

void OracleQuery::requireActive() const {
    if (!active_) throw OracleError(1001, "invalid cursor");
}

const ColumnInfo& OracleQuery::column(int index) const {
    requireActive();
    if (index < 0 || index >= fieldCount()) throw OracleError(1007, "variable not in select list");
    return columns_[static_cast<std::size_t>(index)];
}

std::optional<int> OracleQuery::findField(std::string_view name) const {
    for (int i = 0; i < fieldCount(); ++i)
        if (engine::sameName(columns_[static_cast<std::size_t>(i)].name, name)) return i;
    return std::nullopt;
}

int OracleQuery::fieldIndex(std::string_view name) const {
    requireActive();
    if (auto i = findField(name)) return *i;
    throw OracleError(904, "\"" + engine::upperAscii(name) + "\": invalid identifier");
}

void OracleQuery::first() {
    requireActive();
    cancel();
    if (uniDirectional_ && fetched_ > 1)
        throw OracleError(1002, "fetch out of sequence (unidirectional dataset)");
    current_ = 0;
    eof_ = rows_.empty();
}

void OracleQuery::next() {
    requireActive();
    cancel();
    if (uniDirectional_) {
        if (eof_) return;
        if (cursor_->fetch(rows_[0]))
            ++fetched_;
        else
            eof_ = true;
        return;
    }
    if (current_ + 1 < rows_.size())
        ++current_;
    else
        eof_ = true;
}

const OracleValue& OracleQuery::value(int index) const {
    column(index);
    if (state_ != State::Browse) return buffer_[static_cast<std::size_t>(index)];
    if (rows_.empty()) throw OracleError(1403, "no data found");
    return rows_[current_][static_cast<std::size_t>(index)];
}

bool OracleQuery::isNull(int index) const {
    return value(index).isNull();
}

std::string OracleQuery::fieldText(int index) const {
    const OracleValue& v = value(index);
    const ColumnKind kind = column(index).type.kind;
    if (v.kind != ValueKind::Text) return valueText(v, session_.formats());
    std::string text = v.text;
    const TextPreferences& prefs = session_.preferences();
    if (prefs.trimStringFields && kind != ColumnKind::LongText)
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
    if (prefs.convertCrLf && text.find('\n') != std::string::npos) {
        std::string out;
        out.reserve(text.size() + 8);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
            out += text[i];
        }
        text = std::move(out);
    }
    return text;
}

// --- changes

void OracleQuery::insert() {
    requireActive();
    if (!editable()) throw OracleError(1732, "data manipulation operation not legal on this view");
    state_ = State::Insert;
    buffer_.assign(columns_.size(), OracleValue::null());
    changed_.assign(columns_.size(), false);
}

void OracleQuery::edit() {
    requireActive();
    if (!editable()) throw OracleError(1732, "data manipulation operation not legal on this view");
    if (rows_.empty()) throw OracleError(1403, "no data found");
    state_ = State::Edit;
    buffer_ = rows_[current_];
    changed_.assign(columns_.size(), false);
}

void OracleQuery::cancel() {
    state_ = State::Browse;
    buffer_.clear();
    changed_.clear();
}

OracleValue OracleQuery::convert(int index, std::string_view text) const {
    const ColumnInfo& col = column(index);
    if (text.empty()) return OracleValue::null();
    const auto& formats = session_.formats();
    auto naming = [&](const OracleError& e) {
        const std::string message = e.what();
        return OracleError(e.code(), message.substr(11) + " ('" + std::string(text) +
                                         "' for column " + col.name + ")");
    };
    switch (col.type.kind) {
    case ColumnKind::RowId:
        throw OracleError(1733, "virtual column not allowed here");
    case ColumnKind::Number:
        try {
            OracleValue v = numberFromText(text, formats);
            if (v.kind == ValueKind::Float) v = roundToScale(v.real, col.type.scale);
            return v;
        } catch (const OracleError& e) {
            throw naming(e);
        }
    case ColumnKind::Date:
    case ColumnKind::Timestamp:
        try {
            std::int64_t ms = dateFromText(text, formats);
            if (col.type.kind == ColumnKind::Date) ms -= ((ms % 1000) + 1000) % 1000;
            if (session_.preferences().zeroDateIsNull && ms == zeroDateMs())
                return OracleValue::null();
            return OracleValue::ofDate(ms);
        } catch (const OracleError& e) {
            throw naming(e);
        }
    case ColumnKind::Bytes:
        return OracleValue::ofBytes(std::string(text));
    default:
        break;
    }
    std::string s(text);
    if (session_.preferences().convertCrLf) std::erase(s, '\r');
    return s.empty() ? OracleValue::null() : OracleValue::ofText(std::move(s));
}

void OracleQuery::setFieldText(int index, std::string_view text) {
    if (state_ == State::Browse)
        throw OracleError(1733, "the dataset is not in insert or edit mode");
    const auto i = static_cast<std::size_t>(index);
    buffer_[i] = convert(index, text);
    changed_[i] = true;
}

void OracleQuery::post() {
    if (state_ == State::Browse) return;
    std::vector<OracleValue> binds;
    binds.reserve(columns_.size());
    if (state_ == State::Insert && !insertSql_.empty() && changed_ == insertColumns_) {
        // The row's values go to the statement as they are when the row is not kept.
        for (std::size_t i = 0; i < columns_.size(); ++i)
            if (changed_[i] && static_cast<int>(i) != rowIdColumn_)
                binds.push_back(keepInserted_ ? buffer_[i] : std::move(buffer_[i]));
        if (!keepInserted_) {
            // A row no one reads back joins the session's queue, written many at a time.
            session_.queueInsert(insertSql_, std::move(binds));
            cancel();
            return;
        }
        insertRow(binds, insertSql_);
        return;
    }
    std::string names, values, sets;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (!changed_[i] || static_cast<int>(i) == rowIdColumn_) continue;
        binds.push_back(buffer_[i]);
        const std::string place = ":" + std::to_string(binds.size());
        const std::string name = quoteName(columns_[i].name);
        names += (names.empty() ? "" : ", ") + name;
        values += (values.empty() ? "" : ", ") + place;
        sets += (sets.empty() ? "" : ", ") + name + " = " + place;
    }
    if (state_ == State::Insert) {
        if (binds.empty()) {
            // A row with every column null: name one column so that the statement is valid.
            const std::size_t first = rowIdColumn_ == 0 ? 1 : 0;
            names = quoteName(columns_.at(first).name);
            binds.push_back(OracleValue::null());
            insertRow(binds, "INSERT INTO " + targetTable_ + " (" + names + ") VALUES (:1)");
            return;
        }
        insertColumns_ = changed_;
        insertSql_ = "INSERT INTO " + targetTable_ + " (" + names + ") VALUES (" + values + ")";
        insertRow(binds, insertSql_);
        return;
    }
    if (!binds.empty()) {
        binds.push_back(rows_[current_][static_cast<std::size_t>(rowIdColumn_)]);
        session_.execute("UPDATE " + targetTable_ + " SET " + sets +
                             " WHERE ROWID = :" + std::to_string(binds.size()),
                         binds);
    }
    rows_[current_] = std::move(buffer_);
    eof_ = false;
    cancel();
}

void OracleQuery::insertRow(const std::vector<OracleValue>& binds, const std::string& sql) {
    const StatementResult r = session_.execute(sql, binds);
    if (keepInserted_) {
        buffer_[static_cast<std::size_t>(rowIdColumn_)] =
            OracleValue::ofInteger(std::stoll(r.rowId.empty() ? "0" : r.rowId));
        rows_.push_back(std::move(buffer_));
        current_ = rows_.size() - 1;
        eof_ = false;
    }
    cancel();
}

} // namespace fieldsmith::oraclient
