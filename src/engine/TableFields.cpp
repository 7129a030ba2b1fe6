// The fields of a Table: values as text in the session's formats, field lookups by name,
// and the definitions of fields and indexes for reading, creating and re-indexing tables.
#include "EngineError.h"
#include "FormatSettings.h"
#include "Session.h"
#include "Table.h"
#include "TableOrder.h"
#include "dbase/DBaseDriver.h"
#include "paradox/ParadoxDriver.h"
#include "sql/SqlTable.h"
#include "text/TextTable.h"

#include <algorithm>

namespace fieldsmith::engine {

namespace fsys = std::filesystem;
using namespace detail;

// ------------------------------------------------------------------------------ fields

int Table::fieldCount() const { return static_cast<int>(fieldDefs_.size()); }

Field Table::field(int index) {
    requireActive("read a field");
    if (index < 0 || index >= fieldCount())
        fail(ErrorKind::UnknownField, "Field index " + std::to_string(index) +
                                          " out of range in table " + tableName_);
    return Field(*this, index);
}

std::optional<int> Table::findField(std::string_view name) const {
    const int i = fieldIndexOf(name);
    if (i < 0) return std::nullopt;
    return i;
}

// A plain index rather than an optional: walks call this for every record, and an
// optional returned from here costs a stall of its own.
int Table::fieldIndexOf(std::string_view name) const {
    // Walks ask for the same few names on every record: those are remembered as spelled.
    // Compared byte by byte: these names are short, a library compare costs more here.
    const auto spelledSo = [name](const std::string& spelled) {
        if (spelled.size() != name.size()) return false;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (spelled[i] != name[i]) return false;
        return true;
    };
    for (const auto& [spelled, index] : recentLookups_)
        if (spelledSo(spelled) && index < static_cast<int>(fieldDefs_.size())) return index;
    for (std::size_t i = 0; i < fieldDefs_.size(); ++i) {
        if (!sameName(fieldDefs_[i].name, name)) continue;
        if (recentLookups_.size() >= 8) recentLookups_.erase(recentLookups_.begin());
        recentLookups_.emplace_back(std::string(name), static_cast<int>(i));
        return static_cast<int>(i);
    }
    return -1;
}

Field Table::fieldByName(std::string_view name) {
    requireActive("read a field");
    if (const int i = fieldIndexOf(name); i >= 0) return Field(*this, i);
    fail(ErrorKind::UnknownField,
         "Field '" + std::string(name) + "' not found in table " + tableName_);
}

Value Table::fieldValue(int index) const {
    if (!driver_) return {};
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
        const auto& pending = image_.blobs[static_cast<std::size_t>(index)];
        if (pending) {
            if (pending->empty()) return {};
            return isTextBlobType(fieldDefs_[static_cast<std::size_t>(index)].type)
                       ? Value::text(*pending)
                       : Value::bytes(*pending);
        }
        return driver_->decode(index, image_.raw.data());
    }
    if (!hasRecord_) return {};
    return driver_->decode(index, current_.data());
}

std::string Table::fieldText(int index) const {
    // A browsed record's plain text goes straight from the record to the caller.
    if (driver_ && hasRecord_ && state_ != DataSetState::Edit && state_ != DataSetState::Insert) {
        std::string out;
        if (driver_->decodeText(index, current_.data(), out)) return out;
    }
    Value v = fieldValue(index);
    // A text is handed on as it is, not copied.
    if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Bytes) return std::move(v.s);
    return textOfValue(v);
}

// A value as text in the session's formats.
std::string Table::textOfValue(const Value& v) const {
    const FormatSettings& fmt = session_.formats();
    switch (v.kind) {
    case Value::Kind::Null: return {};
    case Value::Kind::Text:
    case Value::Kind::Bytes: return v.s;
    case Value::Kind::Int: return std::to_string(v.i);
    case Value::Kind::Bool: return v.i ? "True" : "False";
    case Value::Kind::Float:
        if (!v.s.empty()) { // exact decimal text (BCD)
            std::string t = v.s;
            for (char& c : t)
                if (c == '.') c = fmt.decimalSeparator;
            return t;
        }
        return formatFloat(v.f, fmt);
    case Value::Kind::Date: return formatDate(v.i, fmt);
    case Value::Kind::Time: return formatTime(v.i, fmt);
    case Value::Kind::DateTime: return formatDateTime(v.f, fmt);
    }
    return {};
}

void Table::setFieldValue(int index, const Value& value) {
    requireActive("set a field");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        fail(ErrorKind::General, "Table " + tableName_ + " is not in edit or insert mode");
    driver().encode(index, image_, value);
    notify();
}

void Table::setFieldText(int index, std::string_view text) {
    requireActive("set a field");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        fail(ErrorKind::General, "Table " + tableName_ + " is not in edit or insert mode");
    setFieldTextInto(index, text);
    notify();
}

// Converts text by the field's type and encodes it into image_.
void Table::setFieldTextInto(int index, std::string_view text) {
    const FieldDef& def = fieldDefs_[static_cast<std::size_t>(index)];
    const FormatSettings& fmt = session_.formats();
    auto bad = [&](const char* kind) {
        fail(ErrorKind::BadValue, "'" + std::string(text) + "' is not a valid " + kind +
                                      " value for field '" + def.name + "'");
    };
    Value v;
    const FieldType t = def.type;
    if (isStringType(t) || isTextBlobType(t)) {
        v = Value::text(std::string(text));
    } else if (isBlobType(t) || t == FieldType::ftBytes || t == FieldType::ftVarBytes) {
        v = Value::bytes(std::string(text));
    } else if (text.empty()) {
        v = Value::null();
    } else if (isIntegerType(t)) {
        auto n = parseInteger(text);
        if (!n) bad("integer");
        v = Value::integer(*n);
    } else if (isFloatType(t)) {
        auto f = parseFloat(text, fmt);
        if (!f) bad("floating point");
        v = Value::real(*f);
        if (t == FieldType::ftBCD) {
            std::string s(text);
            for (char& c : s)
                if (c == fmt.decimalSeparator) c = '.';
            s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
            v.s = s;
        }
    } else if (t == FieldType::ftBoolean) {
        const std::string u = upperAscii(text);
        if (std::string_view("TRUE").starts_with(u)) v = Value::boolean(true);
        else if (std::string_view("FALSE").starts_with(u)) v = Value::boolean(false);
        else bad("boolean");
    } else if (t == FieldType::ftDate) {
        auto d = parseDate(text, fmt);
        if (!d) bad("date");
        v = Value::date(*d);
    } else if (t == FieldType::ftTime) {
        auto ms = parseTime(text, fmt);
        if (!ms) bad("time");
        v = Value::time(*ms);
    } else if (t == FieldType::ftDateTime || t == FieldType::ftTimeStamp) {
        auto ms = parseDateTime(text, fmt);
        if (!ms) bad("date and time");
        v = Value::dateTime(*ms);
    } else {
        v = Value::text(std::string(text));
    }
    driver().encode(index, image_, v);
}

// -------------------------------------------------------------------------- definitions

void Table::updateFieldDefs() {
    if (active()) {
        fieldDefs_ = driver_->fields();
    } else {
        Table probe(session_);
        openProbe(probe);
        fieldDefs_ = probe.fieldDefs_;
    }
    recentLookups_.clear();
}

void Table::updateIndexDefs() {
    if (active()) {
        indexDefs_ = driver_->indexes();
        return;
    }
    Table probe(session_);
    openProbe(probe);
    indexDefs_ = probe.indexDefs_;
}

// Opens another table object on this closed table's file, to read its definitions.
void Table::openProbe(Table& probe) const {
    probe.setDatabaseName(databaseName_);
    probe.setTableName(tableName_);
    probe.setTableType(tableType_);
    probe.open();
}

void Table::createTable() {
    if (active()) fail(ErrorKind::General, "Cannot create the open table " + tableName_);
    if (onServer()) {
        refuseServerStructureInPreview();
        closeOwnOpens(Session::serverTableKey(databaseName_, tableName_));
        session_.beforeServerWrite(databaseName_, tableName_);
        sql::createSqlTable(session_, databaseName_, tableName_, fieldDefs_, indexDefs_);
        return;
    }
    const fsys::path path = session_.workingFile(filePath());
    TableType type = tableType_ == TableType::Default ? tableTypeForName(path.filename().string())
                                                      : tableType_;
    if (type == TableType::DBase && !createPassword_.empty())
        fail(ErrorKind::General,
             "dBase tables cannot be protected by a password: " + path.string());
    closeOwnOpens(Session::fileKey(path));
    session_.beforeWrite(path);
    if (type == TableType::DBase)
        return dbase::createDBaseTable(path, fieldDefs_, indexDefs_, session_);
    if (type == TableType::Ascii)
        return text::createTextTable(path, fieldDefs_, indexDefs_, session_.ansiCodePage());
    paradox::createParadoxTable(path, fieldDefs_, indexDefs_, session_, createPassword_);
}

std::vector<std::pair<std::string, std::string>> Table::serverIndexStatements() const {
    if (!onServer()) return {};
    return sql::sqlIndexStatements(session_, databaseName_, tableName_);
}

bool Table::restoreServerIndex(const std::string& index, const std::string& statement) {
    if (active()) fail(ErrorKind::General, "Cannot add an index to the open table " + tableName_);
    if (!onServer()) fail(ErrorKind::General, "Table " + tableName_ + " is not a server table");
    refuseServerStructureInPreview();
    closeOwnOpens(Session::serverTableKey(databaseName_, tableName_));
    session_.beforeServerWrite(databaseName_, tableName_);
    return sql::restoreSqlIndex(session_, databaseName_, tableName_, index, statement);
}

void Table::addIndex(const std::string& name, const std::string& fields, unsigned options) {
    if (active()) fail(ErrorKind::General, "Cannot add an index to the open table " + tableName_);
    if (onServer()) {
        refuseServerStructureInPreview();
        closeOwnOpens(Session::serverTableKey(databaseName_, tableName_));
        session_.beforeServerWrite(databaseName_, tableName_);
        sql::addSqlIndex(session_, databaseName_, tableName_, {name, fields, options});
        return;
    }
    const fsys::path path = session_.workingFile(filePath());
    const TableType type =
        tableType_ == TableType::Default ? tableTypeForName(path.filename().string()) : tableType_;
    closeOwnOpens(Session::fileKey(path));
    session_.beforeWrite(path);
    if (type == TableType::DBase) return dbase::addDBaseIndex(path, name, fields, options, session_);
    if (type == TableType::Ascii) text::addTextIndex(path);
    paradox::addParadoxIndex(path, name, fields, options, session_);
}

// A server changes its tables' structure outside the transaction a preview rolls back.
void Table::refuseServerStructureInPreview() const {
    if (session_.preview())
        fail(ErrorKind::General, "A preview cannot show changes to the structure of server table " +
                                     tableName_ + " (alias " + databaseName_ + ") without making them");
}

void Table::deleteIndex(const std::string& name) {
    requireActive("drop an index");
    requireBrowse("drop an index");
    refuseOriginalInPreview();
    if (onServer()) {
        refuseServerStructureInPreview();
        session_.beforeServerWrite(databaseName_, tableName_);
    } else {
        session_.beforeWrite(openPath_);
    }
    driver().dropIndex(name);
    indexDefs_ = driver().indexes();
    if (order_ && order_->indexPos >= 0) {
        // The table falls back to its storage order when its index is gone.
        indexName_.clear();
        indexFieldNames_.clear();
    }
    range_.reset();
    resolveOrder();
    first();
}

} // namespace fieldsmith::engine
