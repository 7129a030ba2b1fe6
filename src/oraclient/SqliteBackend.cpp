#include "SqliteBackend.h"

#include "OracleError.h"
#include "PgBackend.h"
#include "SqliteSchema.h"
#include "engine/FieldDef.h"

#include <algorithm>
#include <cstring>
#include <sqlite3.h>

namespace fieldsmith::oraclient {

namespace fsys = std::filesystem;
using engine::sameName;
using engine::upperAscii;

// --- connecting

std::unique_ptr<OracleBackend> connectBackend(const fsys::path& configDir,
                                              const LogonRequest& request) {
    const auto entry = findOracleDatabase(configDir, request.database);
    if (!entry) throw OracleError(12154, "TNS:could not resolve the connect identifier specified");
    if (entry->type == "POSTGRESQL") {
        if (request.username.empty() || request.password.empty())
            throw OracleError(1005, "null password given; logon denied");
        return std::make_unique<PgBackend>(*entry, checkedUserName(request.username),
                                           request.password);
    }
    if (entry->type != "SQLITE")
        throw OracleError(12154, "TNS:could not resolve the connect identifier specified (type " +
                                     entry->type + " is not supported by this build)");
    if (entry->path.empty() || !fsys::is_directory(entry->path))
        throw OracleError(1034, "ORACLE not available (no directory " + entry->path.string() + ")");
    EmbeddedUsers users(entry->path);
    if (request.username.empty() || request.password.empty())
        throw OracleError(1005, "null password given; logon denied");
    if (!users.verify(request.username, request.password))
        throw OracleError(1017, "invalid username/password; logon denied");
    return std::make_unique<SqliteBackend>(*entry, checkedUserName(request.username));
}

// The authorizer sees every table a statement touches with the schema SQLite resolved it
// to. An unqualified name must mean the user's own schema (SQLite would look through the
// attached ones too), and statements may not attach files or change settings.
int authorize(void* self, int action, const char*, const char*, const char* schema, const char*) {
    auto* b = static_cast<SqliteBackend*>(self);
    if (!b->allowed_) return SQLITE_OK;
    switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
    case SQLITE_PRAGMA:
        b->denied_ = 1031;
        return SQLITE_DENY;
    default:
        break;
    }
    if (schema && std::strcmp(schema, "main") != 0 && std::strcmp(schema, "temp") != 0 &&
        !b->allowed_->count(schema)) {
        b->denied_ = 942;
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

SqliteBackend::SqliteBackend(const OracleDatabaseEntry& database, const std::string& user)
    : database_(database), users_(database.path), user_(user) {
    const fsys::path file = users_.schemaFile(user_);
    if (!fsys::exists(file)) createSchemaFile(file);
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw OracleError(1034, "ORACLE not available (" + file.string() + ": " + message + ")");
    }
    try {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, 5000);
        applyDurability(db_, "main");
        exec("CREATE TEMP VIEW DUAL AS SELECT 'X' AS DUMMY");
        registerOracleFunctions(db_, this);
        attachSchemas();
        sqlite3_set_authorizer(db_, authorize, this);
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteBackend::~SqliteBackend() {
    for (auto& [sql, c] : cache_)
        sqlite3_finalize(c->stmt);
    // Closing rolls back what is not committed; the session commits before when it
    // logs off normally.
    sqlite3_close(db_);
}

bool SqliteBackend::isUser(const std::string& name) {
    if (knownUsers_.count(name)) return true;
    const auto names = users_.names();
    knownUsers_ = std::set<std::string>(names.begin(), names.end());
    return knownUsers_.count(name) > 0;
}

void SqliteBackend::attachSchemas() {
    for (const auto& name : users_.names())
        if (name != user_ && !attach(name)) break;
}

// Attaches a user's schema under the user's name. False when SQLite's limit of attached
// files is reached; the schema is then attached when a statement names it and another was
// given up. Attaching is impossible inside a transaction.
bool SqliteBackend::attach(const std::string& user) {
    if (attached_.count(user)) return true;
    if (static_cast<int>(attached_.size()) >= sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, -1))
        return false;
    const fsys::path file = users_.schemaFile(user);
    if (!fsys::exists(file)) createSchemaFile(file);
    sqlite3_stmt* st = nullptr;
    const auto* saved = allowed_;
    allowed_ = nullptr;
    int rc = sqlite3_prepare_v2(db_, "ATTACH DATABASE ?1 AS ?2", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(st, 1, file.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, user.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    allowed_ = saved;
    if (rc != SQLITE_DONE) return false;
    applyDurability(db_, user);
    attached_.insert(user);
    return true;
}

void SqliteBackend::exec(const std::string& sql) {
    const auto* saved = allowed_;
    allowed_ = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    allowed_ = saved;
    if (rc != SQLITE_OK) fail(rc, nullptr);
}

bool SqliteBackend::inTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

void SqliteBackend::beginIfNeeded() {
    if (!inTransaction()) exec("BEGIN");
}

void SqliteBackend::commit() {
    if (inTransaction()) exec("COMMIT");
}

void SqliteBackend::rollback() {
    if (inTransaction()) exec("ROLLBACK");
}

// --- statements

void SqliteBackend::prepare(Cached& c, const std::string& sql) {
    allowed_ = &c.translation.schemas;
    denied_ = 0;
    const int rc =
        sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &c.stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(c.stmt);
        c.stmt = nullptr;
        fail(rc, &c.translation);
    }
}

StatementResult SqliteBackend::execute(const std::string& sql,
                                       const std::vector<OracleValue>& binds) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) {
        auto c = std::make_unique<Cached>();
        c->translation = translate(sql);
        const Translation& tr = c->translation;
        if (tr.kind == StatementKind::Commit || tr.kind == StatementKind::Rollback) {
            tr.kind == StatementKind::Commit ? commit() : rollback();
            return {tr.kind, {}, {}, 0, {}};
        }
        if (tr.kind == StatementKind::Block) {
            // A call without a name is a data change of the block, its SQL the one argument.
            for (const auto& [name, args] : tr.calls)
                name.empty() ? static_cast<void>(execute(args.front().second, {}))
                             : callProcedure(name, args);
            return {tr.kind, {}, {}, 0, {}};
        }
        if (tr.ddl) {
            StatementResult r = runDdl(tr);
            for (auto& [text, cached] : cache_)
                sqlite3_finalize(cached->stmt);
            cache_.clear();
            columnCache_.clear();
            return r;
        }
        if (binds.size() != tr.bindNames.size()) throw OracleError(1008, "not all variables bound");
        prepare(*c, tr.statements.back());
        if (cache_.size() >= 64) {
            for (auto& [text, cached] : cache_)
                sqlite3_finalize(cached->stmt);
            cache_.clear();
            columnCache_.clear();
        }
        it = cache_.emplace(sql, std::move(c)).first;
    }
    if (binds.size() != it->second->translation.bindNames.size())
        throw OracleError(1008, "not all variables bound");
    return run(*it->second, binds);
}

namespace {

// A value bound for one run of a statement whose binds outlive the run (held) is not
// copied by SQLite; a cursor's values, read by later fetches, are.
void bindValue(sqlite3_stmt* st, int index, const OracleValue& v, bool held) {
    const auto lifetime = held ? SQLITE_STATIC : SQLITE_TRANSIENT;
    switch (v.kind) {
    case ValueKind::Null:
        sqlite3_bind_null(st, index);
        break;
    case ValueKind::Text:
        if (v.text.empty())
            sqlite3_bind_null(st, index); // Oracle keeps no empty strings
        else
            sqlite3_bind_text64(st, index, v.text.data(), v.text.size(), lifetime, SQLITE_UTF8);
        break;
    case ValueKind::Bytes:
        if (v.text.empty())
            sqlite3_bind_null(st, index);
        else
            sqlite3_bind_blob64(st, index, v.text.data(), v.text.size(), lifetime);
        break;
    case ValueKind::Integer:
        sqlite3_bind_int64(st, index, v.whole);
        break;
    case ValueKind::Float:
        sqlite3_bind_double(st, index, v.real);
        break;
    case ValueKind::Date: {
        const std::string text = storedDate(v.whole, true);
        sqlite3_bind_text(st, index, text.c_str(), -1, SQLITE_TRANSIENT);
        break;
    }
    }
}

// A value read from a result column, by the column's type and the stored value's class.
OracleValue readValue(sqlite3_stmt* st, int i, ColumnKind kind) {
    const int type = sqlite3_column_type(st, i);
    if (type == SQLITE_NULL) return OracleValue::null();
    if (kind == ColumnKind::Bytes || type == SQLITE_BLOB) {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
        return OracleValue::ofBytes(
            std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i))));
    }
    if (type == SQLITE_INTEGER) return OracleValue::ofInteger(sqlite3_column_int64(st, i));
    if (type == SQLITE_FLOAT) return OracleValue::ofFloat(sqlite3_column_double(st, i));
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    std::string text(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
    if (kind == ColumnKind::Date || kind == ColumnKind::Timestamp)
        if (auto ms = parseStoredDate(text)) return OracleValue::ofDate(*ms);
    return OracleValue::ofText(std::move(text));
}

} // namespace

void SqliteBackend::bindAndDescribe(Cached& c, const std::vector<OracleValue>& binds,
                                    std::vector<ColumnInfo>& columnsOut,
                                    std::vector<ColumnKind>& kinds, bool held) {
    const Translation& tr = c.translation;
    sqlite3_stmt* st = c.stmt;
    for (std::size_t i = 0; i < binds.size(); ++i)
        bindValue(st, static_cast<int>(i) + 1, binds[i], held);
    const int columns = sqlite3_column_count(st);
    for (int i = 0; i < columns; ++i) {
        ColumnInfo info;
        info.name = sqlite3_column_name(st, i);
        info.type = typeFromDeclared(sqlite3_column_decltype(st, i));
        // The pseudo-columns keep their Oracle names.
        if (info.name == "ORA_USER()")
            info.name = "USER";
        else if (info.name == "ORA_SYSDATE()")
            info.name = "SYSDATE";
        if (sameName(info.name, "ROWID") && sqlite3_column_table_name(st, i)) {
            info.name = "ROWID";
            info.type = {ColumnKind::RowId, "ROWID", 0, 0, -1};
        } else if (info.type.kind == ColumnKind::Unknown) {
            const auto index = static_cast<std::size_t>(i);
            const std::size_t fromEnd = static_cast<std::size_t>(columns - i);
            if (index < tr.leadingHints.size())
                info.type.kind = tr.leadingHints[index];
            else if (tr.hasStar && fromEnd <= tr.trailingHints.size())
                info.type.kind = tr.trailingHints[tr.trailingHints.size() - fromEnd];
            if (info.type.kind == ColumnKind::Date) info.type.name = "DATE";
        }
        kinds.push_back(info.type.kind);
        columnsOut.push_back(std::move(info));
    }
}

StatementResult SqliteBackend::run(Cached& c, const std::vector<OracleValue>& binds) {
    const Translation& tr = c.translation;
    if (tr.writes) beginIfNeeded();
    sqlite3_stmt* st = c.stmt;
    allowed_ = &tr.schemas;
    denied_ = 0;
    StatementResult result;
    result.kind = tr.kind;
    std::vector<ColumnKind> kinds;
    int rc;
    // The binds live until the statement is reset below, also when something throws on the
    // way: SQLite need not copy them.
    try {
        bindAndDescribe(c, binds, result.columns, kinds, true);
        const auto columns = kinds.size();
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::vector<OracleValue> row;
            row.reserve(columns);
            for (std::size_t i = 0; i < columns; ++i)
                row.push_back(readValue(st, static_cast<int>(i), kinds[i]));
            result.rows.push_back(std::move(row));
        }
    } catch (...) {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        allowed_ = nullptr;
        throw;
    }
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    allowed_ = nullptr;
    if (rc != SQLITE_DONE) fail(rc, &tr);
    if (tr.kind != StatementKind::Query) {
        result.columns.clear();
        result.rowsAffected = sqlite3_changes64(db_);
        if (tr.kind == StatementKind::Insert && result.rowsAffected == 1)
            result.rowId = std::to_string(sqlite3_last_insert_rowid(db_));
    }
    return result;
}

namespace {

// Rows an INSERT takes at a time when it is run for many: past a few dozen a statement
// gains nothing more.
constexpr std::size_t kRowsPerStatement = 64;

// The INSERT with its VALUES list written `rows` times, the placeholders ?1..?n of each
// copy numbered on from those of the copy before.
std::string withValuesRepeated(const Translation& tr, std::size_t rows) {
    const std::size_t n = tr.bindNames.size();
    const auto list = tr.insertTokens.begin() + static_cast<std::ptrdiff_t>(tr.valuesAt);
    std::vector<SqlToken> out(tr.insertTokens.begin(), list);
    for (std::size_t r = 0; r < rows; ++r) {
        if (r) out.push_back({SqlToken::Kind::Symbol, ",", false});
        for (auto k = list; k != tr.insertTokens.end(); ++k) {
            out.push_back(*k);
            if (k->kind == SqlToken::Kind::Symbol && k->text[0] == '?')
                out.back().text = "?" + std::to_string(std::stoul(k->text.substr(1)) + r * n);
        }
    }
    return joinTokens(out);
}

} // namespace

void SqliteBackend::executeMany(const std::string& sql,
                                const std::vector<std::vector<OracleValue>>& rows,
                                std::size_t& written) {
    written = 0;
    if (rows.empty()) return;
    // The first row runs on its own, which also translates the statement and checks it.
    execute(sql, rows.front());
    written = 1;
    const auto it = cache_.find(sql);
    const Translation* tr = it == cache_.end() ? nullptr : &it->second->translation;
    const std::size_t n = tr ? tr->bindNames.size() : 0;
    const auto limit = static_cast<std::size_t>(sqlite3_limit(db_, SQLITE_LIMIT_VARIABLE_NUMBER, -1));
    const std::size_t perStatement = n ? std::min<std::size_t>(kRowsPerStatement, limit / n) : 0;
    std::string many;
    if (tr && tr->valuesAt != 0 && perStatement > 1) many = withValuesRepeated(*tr, perStatement);
    // Statements of many rows are kept with the one-row ones, and go with them when DDL
    // changes the tables.
    Cached* batch = nullptr;
    if (!many.empty() && rows.size() - written >= perStatement) {
        const std::string key = '\x01' + std::to_string(perStatement) + '\x01' + sql;
        auto found = cache_.find(key);
        if (found == cache_.end()) {
            auto c = std::make_unique<Cached>();
            c->translation = *tr;
            try {
                prepare(*c, many);
                found = cache_.emplace(key, std::move(c)).first;
            } catch (const OracleError&) {
                // A statement SQLite will not take in one piece: the rows go one by one.
            }
        }
        if (found != cache_.end()) batch = found->second.get();
    }
    std::vector<OracleValue> binds;
    while (batch && rows.size() - written >= perStatement) {
        binds.clear();
        for (std::size_t r = written; r < written + perStatement; ++r)
            binds.insert(binds.end(), rows[r].begin(), rows[r].end());
        try {
            run(*batch, binds);
            written += perStatement;
        } catch (const OracleError&) {
            // The statement's rows are undone with it; one at a time, the rows before the
            // failing one go in and the failing one reports its own error.
            for (const std::size_t end = written + perStatement; written < end; ++written)
                execute(sql, rows[written]);
        }
    }
    for (; written < rows.size(); ++written)
        execute(sql, rows[written]);
}

// A query's statement of its own, stepped as rows are fetched. Not the cached statement:
// whatever runs on the session between two fetches cannot reset it.
class SqliteBackend::Cursor final : public OracleCursor {
public:
    Cursor(SqliteBackend& backend, std::unique_ptr<Cached> c)
        : backend_(backend), c_(std::move(c)) {}
    ~Cursor() override { sqlite3_finalize(c_->stmt); }

    void describe(const std::vector<OracleValue>& binds) {
        backend_.bindAndDescribe(*c_, binds, columns, kinds_, false);
    }

    bool fetch(std::vector<OracleValue>& row) override {
        if (done_) return false;
        backend_.allowed_ = &c_->translation.schemas;
        backend_.denied_ = 0;
        const int rc = sqlite3_step(c_->stmt);
        backend_.allowed_ = nullptr;
        if (rc == SQLITE_DONE) {
            done_ = true;
            return false;
        }
        if (rc != SQLITE_ROW) {
            done_ = true;
            backend_.fail(rc, &c_->translation);
        }
        row.resize(kinds_.size());
        for (std::size_t i = 0; i < kinds_.size(); ++i)
            row[i] = readValue(c_->stmt, static_cast<int>(i), kinds_[i]);
        return true;
    }

private:
    SqliteBackend& backend_;
    std::unique_ptr<Cached> c_;
    std::vector<ColumnKind> kinds_;
    bool done_ = false;
};

std::unique_ptr<OracleCursor> SqliteBackend::openCursor(const std::string& sql,
                                                        const std::vector<OracleValue>& binds) {
    auto c = std::make_unique<Cached>();
    c->translation = translate(sql);
    if (c->translation.kind != StatementKind::Query || c->translation.ddl)
        return OracleBackend::openCursor(sql, binds);
    if (binds.size() != c->translation.bindNames.size())
        throw OracleError(1008, "not all variables bound");
    prepare(*c, c->translation.statements.back());
    allowed_ = nullptr;
    auto cursor = std::make_unique<Cursor>(*this, std::move(c));
    cursor->describe(binds);
    return cursor;
}

// DDL commits the open transaction first and is a transaction of its own, as in Oracle:
// a table with its key index exists whole or not at all.
StatementResult SqliteBackend::runDdl(const Translation& tr) {
    commit();
    exec("BEGIN");
    std::int64_t changes = 0;
    try {
        for (const auto& sql : tr.statements) {
            Cached c;
            c.translation.schemas = tr.schemas;
            c.translation.targetSchema = tr.targetSchema;
            c.translation.targetTable = tr.targetTable;
            prepare(c, sql);
            allowed_ = &tr.schemas;
            const int rc = sqlite3_step(c.stmt);
            allowed_ = nullptr;
            sqlite3_finalize(c.stmt);
            if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(rc, &tr);
            changes = sqlite3_changes64(db_);
        }
        exec("COMMIT");
    } catch (...) {
        allowed_ = nullptr;
        if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    StatementResult r;
    r.kind = tr.kind;
    if (tr.kind == StatementKind::TruncateTable) r.rowsAffected = changes;
    return r;
}

std::vector<ColumnInfo> SqliteBackend::tableColumns(const std::string& schema,
                                                    const std::string& table) {
    const std::string key = schema + "." + table;
    if (auto it = columnCache_.find(key); it != columnCache_.end()) return it->second;
    std::vector<ColumnInfo> out;
    const std::string sql = "PRAGMA " + quoteName(schema) + ".table_info(" + quoteName(table) + ")";
    const auto* saved = allowed_;
    allowed_ = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
            const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
            out.push_back({name ? name : "", typeFromDeclared(type)});
        }
    }
    sqlite3_finalize(st);
    allowed_ = saved;
    if (!out.empty()) columnCache_.emplace(key, out);
    return out;
}

// --- errors

// The name of the unique index over exactly these columns ("T.A, T.B" as SQLite reports
// them): the constraint's name as it was declared.
std::string SqliteBackend::uniqueConstraintName(const std::string& schema, const std::string& table,
                                                const std::string& columns) {
    std::vector<std::string> wanted;
    std::size_t pos = 0;
    while (pos < columns.size()) {
        std::size_t end = columns.find(", ", pos);
        if (end == std::string::npos) end = columns.size();
        std::string col = columns.substr(pos, end - pos);
        if (auto dot = col.find('.'); dot != std::string::npos) col = col.substr(dot + 1);
        wanted.push_back(col);
        pos = end + 2;
    }
    std::sort(wanted.begin(), wanted.end());
    const auto* saved = allowed_;
    allowed_ = nullptr;
    std::string found;
    sqlite3_stmt* list = nullptr;
    const std::string q = "PRAGMA " + quoteName(schema) + ".index_list(" + quoteName(table) + ")";
    if (sqlite3_prepare_v2(db_, q.c_str(), -1, &list, nullptr) == SQLITE_OK) {
        while (found.empty() && sqlite3_step(list) == SQLITE_ROW) {
            if (sqlite3_column_int(list, 2) == 0) continue;
            const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(list, 1));
            std::vector<std::string> cols;
            sqlite3_stmt* info = nullptr;
            const std::string qi =
                "PRAGMA " + quoteName(schema) + ".index_info(" + quoteName(name) + ")";
            if (sqlite3_prepare_v2(db_, qi.c_str(), -1, &info, nullptr) == SQLITE_OK)
                while (sqlite3_step(info) == SQLITE_ROW)
                    if (const auto* c = sqlite3_column_text(info, 2))
                        cols.emplace_back(reinterpret_cast<const char*>(c));
            sqlite3_finalize(info);
            std::sort(cols.begin(), cols.end());
            if (cols == wanted) found = name;
        }
    }
    sqlite3_finalize(list);
    allowed_ = saved;
    return found.empty() ? "SYS_C00" + table : found;
}

void SqliteBackend::fail(int rc, const Translation* tr) {
    allowed_ = nullptr;
    columnCache_.clear();
    const std::string message = sqlite3_errmsg(db_);
    const int primary = rc & 0xff;
    const std::string owner =
        !tr || tr->targetSchema.empty() || tr->targetSchema == "main" ? user_ : tr->targetSchema;
    const std::string table = tr ? tr->targetTable : std::string();
    auto after = [&](const char* prefix) -> std::string {
        const auto p = message.find(prefix);
        return p == std::string::npos ? std::string() : message.substr(p + std::strlen(prefix));
    };
    if (primary == SQLITE_AUTH) {
        if (denied_ == 1031) throw OracleError(1031, "insufficient privileges");
        throw OracleError(942, "table or view does not exist");
    }
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw OracleError(54, "resource busy and acquire with NOWAIT specified or timeout expired");
    if (primary == SQLITE_FULL)
        throw OracleError(1653, "unable to extend table " + owner + "." + table + " (disk full)");
    if (primary == SQLITE_READONLY)
        throw OracleError(16000, "database or pluggable database open for read-only access");
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_IOERR)
        throw OracleError(1115, "IO error reading block from file (" + message + ")");
    if (primary == SQLITE_CONSTRAINT) {
        if (auto cols = after("UNIQUE constraint failed: "); !cols.empty()) {
            const std::string schema = tr && !tr->targetSchema.empty() ? tr->targetSchema : "main";
            throw OracleError(1, "unique constraint (" + owner + "." +
                                     uniqueConstraintName(schema, table, cols) + ") violated");
        }
        if (auto col = after("NOT NULL constraint failed: "); !col.empty()) {
            if (auto dot = col.find('.'); dot != std::string::npos) col = col.substr(dot + 1);
            const std::string where = "(\"" + owner + "\".\"" + table + "\".\"" + col + "\")";
            if (tr && tr->kind == StatementKind::Update)
                throw OracleError(1407, "cannot update " + where + " to NULL");
            throw OracleError(1400, "cannot insert NULL into " + where);
        }
        if (auto check = after("CHECK constraint failed: "); !check.empty()) {
            // The backend's own checks are named "ORA-nnnnn/..." (see SqliteTranslate.cpp).
            if (check.rfind("ORA-12899/", 0) == 0) {
                const auto slash = check.find('/', 10);
                const std::string max = check.substr(10, slash - 10), col = check.substr(slash + 1);
                throw OracleError(12899, "value too large for column \"" + owner + "\".\"" + table +
                                             "\".\"" + col + "\" (maximum: " + max + ")");
            }
            if (check.rfind("ORA-01722/", 0) == 0) throw OracleError(1722, "invalid number");
            if (check.rfind("ORA-01438/", 0) == 0)
                throw OracleError(1438,
                                  "value larger than specified precision allowed for this column");
            throw OracleError(2290, "check constraint (" + owner + "." + check + ") violated");
        }
        throw OracleError(2290, "check constraint violated (" + message + ")");
    }
    // The functions of SqliteFunctions.cpp report Oracle errors as their message.
    if (message.rfind("ORA-", 0) == 0 && message.size() > 10) {
        const int code = std::atoi(message.c_str() + 4);
        throw OracleError(code, message.substr(11));
    }
    if (auto name = after("no such table: "); !name.empty())
        throw OracleError(942, "table or view does not exist");
    if (auto name = after("no such column: "); !name.empty())
        throw OracleError(904, "\"" + upperAscii(name) + "\": invalid identifier");
    if (auto name = after("no such function: "); !name.empty())
        throw OracleError(904, "\"" + upperAscii(name) + "\": invalid identifier");
    if (auto name = after("no such index: "); !name.empty())
        throw OracleError(1418, "specified index does not exist");
    if (message.find("already exists") != std::string::npos ||
        message.find("there is already") != std::string::npos)
        throw OracleError(955, "name is already used by an existing object");
    if (message.find("duplicate column name") != std::string::npos)
        throw OracleError(957, "duplicate column name");
    if (message.find("syntax error") != std::string::npos ||
        message.find("incomplete input") != std::string::npos)
        throw OracleError(933, "SQL command not properly ended (" + message + ")");
    if (message.find("columns but") != std::string::npos ||
        message.find("values for") != std::string::npos)
        throw OracleError(913, "too many or not enough values (" + message + ")");
    throw OracleError(600, "internal error code, arguments: [" + message + "]");
}

// --- procedures

void SqliteBackend::callProcedure(const std::string& name, const std::vector<NamedArgument>& args) {
    const ResolvedCall call = resolveProcedure(name, args);
    if (call.shortName == "SET_CLIENT_INFO")
        clientInfo_ = call.values[0];
    else if (call.shortName == "SET_MODULE")
        module_ = call.values[0], action_ = call.values[1];
    else
        action_ = call.values[0];
}

} // namespace fieldsmith::oraclient
