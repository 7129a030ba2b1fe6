// SQLite database files behind a server alias (TYPE=SQLITE, SERVER NAME=the file).
#include "SqliteBackend.h"

#include "../EngineError.h"
#include "../FieldDef.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <sqlite3.h>

namespace fieldsmith::engine::sql {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class SqliteStatement final : public SqlStatement {
public:
    SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, std::string sql)
        : db_(db), stmt_(stmt), sql_(std::move(sql)) {}
    ~SqliteStatement() override { sqlite3_finalize(stmt_); }

    void execute(const std::vector<SqlValue>& params) override {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
        for (std::size_t i = 0; i < params.size(); ++i) {
            const SqlValue& v = params[i];
            const int at = static_cast<int>(i) + 1;
            const int rc = v.isNull     ? sqlite3_bind_null(stmt_, at)
                           : v.integral ? sqlite3_bind_int64(stmt_, at, v.number)
                           : v.binary   ? sqlite3_bind_blob64(stmt_, at, v.text.data(), v.text.size(),
                                                              SQLITE_TRANSIENT)
                                      : sqlite3_bind_text64(stmt_, at, v.text.data(), v.text.size(),
                                                            SQLITE_TRANSIENT, SQLITE_UTF8);
            if (rc != SQLITE_OK) fail("bind");
        }
        pending_ = true;
        changes_ = 0;
        // A statement without rows runs to its end here; a query's first row waits for next().
        if (sqlite3_column_count(stmt_) == 0) {
            step();
            changes_ = sqlite3_changes64(db_);
        }
    }

    bool next() override { return step(); }

    int columnCount() const override { return sqlite3_column_count(stmt_); }

    SqlValue column(int i) const override {
        switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_NULL:
            return SqlValue::null();
        case SQLITE_BLOB: {
            const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
            return SqlValue::bytes(
                std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i))));
        }
        default: {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
            return SqlValue::of(
                std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i))));
        }
        }
    }

    bool isNull(int i) const override { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

    // SQLite keeps numbers as numbers: they are read as such, never formatted and parsed.
    bool integer(int i, std::int64_t& out) const override {
        const int type = sqlite3_column_type(stmt_, i);
        if (type == SQLITE_INTEGER) {
            out = sqlite3_column_int64(stmt_, i);
            return true;
        }
        if (type == SQLITE_FLOAT) {
            const double d = sqlite3_column_double(stmt_, i);
            out = static_cast<std::int64_t>(d);
            return static_cast<double>(out) == d;
        }
        return parseInteger(text(i), out);
    }
    bool real(int i, double& out) const override {
        const int type = sqlite3_column_type(stmt_, i);
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
            out = sqlite3_column_double(stmt_, i);
            return true;
        }
        return parseReal(text(i), out);
    }
    // The class first, then the value the way the class says: one call for the class and
    // one for the value, where isNull and integer would ask the class twice.
    SqlCell cell(int i) const override {
        switch (sqlite3_column_type(stmt_, i)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return {SqlCell::Kind::Integer, sqlite3_column_int64(stmt_, i), 0, {}};
        case SQLITE_FLOAT:
            return {SqlCell::Kind::Real, 0, sqlite3_column_double(stmt_, i), {}};
        default:
            return {SqlCell::Kind::Text, 0, 0, text(i)};
        }
    }
    std::string_view text(int i) const override {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
                 : std::string_view();
    }

    std::int64_t changes() const override { return changes_; }

private:
    bool step() {
        if (!pending_) return false;
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        pending_ = false;
        if (rc == SQLITE_DONE) return false;
        fail("run");
    }
    [[noreturn]] void fail(const char* what) const {
        const int code = sqlite3_extended_errcode(db_);
        const std::string message =
            std::string("SQLite could not ") + what + " \"" + sql_ + "\": " + sqlite3_errmsg(db_);
        if ((code & 0xFF) == SQLITE_CONSTRAINT &&
            (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE))
            throw EngineError(ErrorKind::KeyViolation, "Key violation: " + message);
        if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED)
            throw EngineError(ErrorKind::Database, message);
        throw EngineError(ErrorKind::General, message);
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_;
    std::string sql_;
    bool pending_ = false;
    std::int64_t changes_ = 0;
};

// The databases this program has open, each with the journal mode it had before the
// first of its connections made it WAL (empty when it was WAL already, or stayed as it was).
struct JournalUse {
    std::string before;
    int connections = 0;
};
std::mutex journalMutex;
std::map<std::string, JournalUse> journalUses;

std::string journalMode(sqlite3* db, const char* pragma) {
    std::string mode;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, pragma, -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
        mode = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return mode;
}

} // namespace

SqliteBackend::SqliteBackend(const std::filesystem::path& file) : file_(file) {
    // A connection serves one open table, used by one thread at a time: SQLite need not
    // guard each call with its own mutex.
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw EngineError(ErrorKind::Database,
                          "Cannot open the SQLite file " + file.string() + ": " + message);
    }
    // Another writer holds the database only for the moment of its commit: a short wait
    // covers that, and a run's own write transaction is refused at once (beginWrite).
    sqlite3_busy_timeout(db_, 2000);
    useWriteAheadLog();
    dataVersion_ = readDataVersion();
}

SqliteBackend::~SqliteBackend() {
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    giveJournalBack();
    sqlite3_close_v2(db_);
}

// A write-ahead log lets readers (another table of the run on the database, the Table
// View) go on while a run writes, so the first connection to a database makes its journal
// WAL, and the last one to close gives it back the journal it had: the file stays as other
// programs left it. (A file that stayed in WAL mode could not be read from a read-only
// medium or directory: WAL needs files beside the database.) Where the journal cannot be
// changed (a read-only file), it stays as it is.
void SqliteBackend::useWriteAheadLog() {
    std::error_code ec;
    journalKey_ = std::filesystem::weakly_canonical(file_, ec).string();
    if (ec) journalKey_ = file_.string();
    const std::lock_guard lock(journalMutex);
    JournalUse& use = journalUses[journalKey_];
    if (use.connections++ > 0) return;
    const std::string before = journalMode(db_, "PRAGMA journal_mode");
    if (before.empty() || sqlite3_stricmp(before.c_str(), "wal") == 0) return;
    if (sqlite3_stricmp(journalMode(db_, "PRAGMA journal_mode=WAL").c_str(), "wal") == 0)
        use.before = before;
}

void SqliteBackend::giveJournalBack() {
    const std::lock_guard lock(journalMutex);
    const auto it = journalUses.find(journalKey_);
    if (it == journalUses.end() || --it->second.connections > 0) return;
    // Another program with the database open keeps it in WAL mode; SQLite refuses then.
    if (!it->second.before.empty())
        journalMode(db_, ("PRAGMA journal_mode=" + it->second.before).c_str());
    journalUses.erase(it);
}

std::vector<std::string> SqliteBackend::tableNames() {
    auto st = prepare("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                      "'sqlite\\_%' ESCAPE '\\' ORDER BY name");
    st->execute({});
    std::vector<std::string> names;
    while (st->next())
        names.push_back(st->column(0).text);
    return names;
}

SqlTableShape SqliteBackend::describe(const std::string& table) {
    SqlTableShape shape;
    {
        // A view has columns too, but no rows of its own to change or identify.
        auto kind = prepare("SELECT type FROM sqlite_schema WHERE name = ? COLLATE NOCASE");
        kind->execute({SqlValue::of(table)});
        if (kind->next() && kind->column(0).text == "view")
            throw EngineError(ErrorKind::Database, table + " of " + description() +
                                                       " is a view: only tables can be opened");
        while (kind->next()) {
        }
    }
    std::vector<std::pair<int, std::string>> keyed;
    {
        auto st = prepare("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?)");
        st->execute({SqlValue::of(table)});
        while (st->next()) {
            SqlColumn c;
            c.name = st->column(0).text;
            std::string type = lower(st->column(1).text);
            // "VARCHAR(30)" and "NUMERIC(10,2)": the name and the numbers in parentheses.
            if (auto open = type.find('('); open != std::string::npos) {
                const auto close = type.find(')', open);
                const std::string args = type.substr(
                    open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
                type = type.substr(0, open);
                const auto comma = args.find(',');
                const int first = std::atoi(args.c_str());
                if (comma != std::string::npos) {
                    c.precision = first;
                    c.scale = std::atoi(args.c_str() + comma + 1);
                } else {
                    c.length = first;
                    c.precision = first;
                }
            }
            while (!type.empty() && type.back() == ' ')
                type.pop_back();
            c.type = type;
            c.notNull = st->column(2).text == "1";
            const int pk = std::atoi(st->column(3).text.c_str());
            if (pk > 0) keyed.emplace_back(pk, c.name);
            shape.columns.push_back(std::move(c));
        }
    }
    if (shape.columns.empty())
        throw EngineError(ErrorKind::Database,
                          "Table " + table + " does not exist in " + description());
    std::sort(keyed.begin(), keyed.end());
    for (const auto& [n, name] : keyed)
        shape.primaryKey.push_back(name);
    if (!shape.primaryKey.empty()) shape.indexes.push_back({"", shape.primaryKey, true, true});
    auto list =
        prepare("SELECT name, \"unique\", origin FROM pragma_index_list(?) ORDER BY seq DESC");
    list->execute({SqlValue::of(table)});
    std::vector<SqlIndex> found;
    while (list->next()) {
        if (list->column(2).text == "pk") continue; // the primary key, listed above
        SqlIndex ix;
        ix.name = list->column(0).text;
        ix.unique = list->column(1).text == "1";
        found.push_back(std::move(ix));
    }
    for (auto& ix : found) {
        if (ix.name.rfind("sqlite_autoindex_", 0) == 0) continue; // a UNIQUE constraint's own
        auto info = prepare("SELECT name, \"desc\", coll FROM pragma_index_xinfo(?) WHERE key "
                            "ORDER BY seqno");
        info->execute({SqlValue::of(ix.name)});
        int descending = 0, noCase = 0;
        while (info->next()) {
            ix.columns.push_back(info->column(0).text);
            descending += info->column(1).text == "1";
            noCase += sqlite3_stricmp(info->column(2).text.c_str(), "NOCASE") == 0;
        }
        const int n = static_cast<int>(ix.columns.size());
        ix.descending = n > 0 && descending == n;
        ix.caseInsensitive = n > 0 && noCase == n;
        // An index on an expression has no column there, and one whose columns go in
        // different directions or compare case differently has no order of the engine:
        // no order of fields can stand for them.
        const bool onColumns = std::none_of(ix.columns.begin(), ix.columns.end(),
                                            [](const std::string& c) { return c.empty(); });
        const bool oneOrder = (descending == 0 || descending == n) && (noCase == 0 || noCase == n);
        if (n > 0 && onColumns && oneOrder) shape.indexes.push_back(std::move(ix));
    }
    return shape;
}

std::unique_ptr<SqlStatement> SqliteBackend::prepare(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        const bool missing = message.find("no such table") != std::string::npos;
        throw EngineError(missing ? ErrorKind::Database : ErrorKind::General,
                          "SQLite could not prepare \"" + sql + "\": " + message);
    }
    return std::make_unique<SqliteStatement>(db_, stmt, sql);
}

void SqliteBackend::execute(const std::string& sql) {
    prepare(sql)->execute({});
}

bool SqliteBackend::beginWrite(const std::string&) {
    if (inTransaction_) return true;
    // IMMEDIATE takes the database's write lock now: a second writer is told at once.
    sqlite3_busy_timeout(db_, 0);
    const int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_, 2000);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return false;
    if (rc != SQLITE_OK)
        throw EngineError(ErrorKind::General, "SQLite could not begin a transaction in " +
                                                  file_.string() + ": " + sqlite3_errmsg(db_));
    inTransaction_ = true;
    return true;
}

void SqliteBackend::begin() {
    if (inTransaction_) return;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw EngineError(ErrorKind::Database, "SQLite could not begin a transaction in " +
                                                   file_.string() + ": " + sqlite3_errmsg(db_));
    inTransaction_ = true;
}

bool SqliteBackend::lockExclusive(const std::string& table) {
    if (inTransaction_) return true;
    sqlite3_busy_timeout(db_, 0);
    const int rc = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_, 2000);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return false;
    if (rc != SQLITE_OK)
        throw EngineError(ErrorKind::General, "SQLite could not lock " + table + " in " +
                                                  file_.string() + ": " + sqlite3_errmsg(db_));
    inTransaction_ = true;
    return true;
}

// The statements as SQLite keeps them; the indexes it makes itself for UNIQUE and key
// constraints have none and go with their table.
std::vector<std::pair<std::string, std::string>>
SqliteBackend::indexStatements(const std::string& table) {
    std::vector<std::pair<std::string, std::string>> out;
    auto st = prepare("SELECT name, sql FROM sqlite_schema WHERE type = 'index' AND "
                      "tbl_name = ? COLLATE NOCASE AND sql IS NOT NULL ORDER BY name");
    st->execute({SqlValue::of(table)});
    while (st->next())
        out.emplace_back(st->column(0).text, st->column(1).text);
    return out;
}

std::string SqliteBackend::dropPrimaryKey(const std::string& table) {
    throw EngineError(ErrorKind::General, "SQLite cannot drop the primary key of table " + table +
                                              " (the table would have to be made anew)");
}

std::string SqliteBackend::addPrimaryKey(const std::string& table,
                                         const std::vector<std::string>&) {
    throw EngineError(ErrorKind::General,
                      "SQLite cannot give the existing table " + table +
                          " a primary key (the table would have to be made anew)");
}

void SqliteBackend::commit() {
    if (!inTransaction_) return;
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw EngineError(ErrorKind::General, "SQLite could not commit in " + file_.string() +
                                                  ": " + sqlite3_errmsg(db_));
    inTransaction_ = false;
    dataVersion_ = readDataVersion();
}

void SqliteBackend::rollback() {
    if (!inTransaction_) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    inTransaction_ = false;
}

std::int64_t SqliteBackend::readDataVersion() {
    sqlite3_stmt* st = nullptr;
    std::int64_t v = 0;
    if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return v;
}

// The data version changes when another connection commits to the file.
bool SqliteBackend::changedByOthers() {
    const std::int64_t now = readDataVersion();
    const bool changed = now != dataVersion_;
    dataVersion_ = now;
    return changed;
}

std::string SqliteBackend::quote(std::string_view identifier) const {
    std::string q = "\"";
    for (char c : identifier) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string SqliteBackend::columnTypeFor(const FieldDef& f) const {
    switch (f.type) {
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString:
        return "VARCHAR(" + std::to_string(std::max(f.size, 1)) + ")";
    case FieldType::ftSmallint:
        return "SMALLINT";
    case FieldType::ftInteger:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
        return "INTEGER";
    case FieldType::ftLargeint:
        return "BIGINT";
    case FieldType::ftFloat:
        return "DOUBLE";
    case FieldType::ftCurrency:
        return "NUMERIC(19,4)";
    case FieldType::ftBCD:
        return "NUMERIC(32," + std::to_string(std::max(f.size, 0)) + ")";
    case FieldType::ftBoolean:
        return "BOOLEAN";
    case FieldType::ftDate:
        return "DATE";
    case FieldType::ftTime:
        return "TIME";
    case FieldType::ftDateTime:
    case FieldType::ftTimeStamp:
        return "TIMESTAMP";
    case FieldType::ftMemo:
        return "TEXT";
    default: // a formatted memo too: its formatting is binary
        return "BLOB";
    }
}

std::string SqliteBackend::description() const {
    return "SQLite file " + file_.string();
}

} // namespace fieldsmith::engine::sql
