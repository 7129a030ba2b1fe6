// Server aliases to connections, and the table-level calls the engine makes on them.
#include "../EngineError.h"
#include "../Session.h"
#include "PostgresBackend.h"
#include "SqlTable.h"
#include "SqliteBackend.h"

#include <algorithm>
#include <charconv>

namespace fieldsmith::engine::sql {

namespace {

std::string param(const std::vector<std::pair<std::string, std::string>>& params,
                  std::string_view key) {
    for (const auto& [k, v] : params)
        if (sameName(k, key)) return v;
    return {};
}

// A connection for the alias; a password the server refused is asked for again next time.
std::unique_ptr<SqlBackend> connect(const Session& session, const std::string& alias) {
    try {
        return connectBackend(session.aliasParams(alias), alias,
                              [&session](const std::string& a, const std::string& user) {
                                  return session.serverPassword(a, user);
                              });
    } catch (const EngineError& e) {
        if (std::string_view(e.what()).find("password") != std::string_view::npos)
            session.forgetServerPassword(alias);
        throw;
    }
}

bool tableExists(SqlBackend& db, const std::string& name) {
    for (const auto& n : db.tableNames())
        if (n == name) return true;
    return false;
}

// The table of that name as the server spells it: exactly, else the one that differs only
// in case. A name typed with a file table's extension stands for the table without it.
std::string resolveTable(SqlBackend& db, std::string name) {
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        const std::string ext = upperAscii(name.substr(dot));
        if (ext == ".DB" || ext == ".DBF" || ext == ".TXT") name.resize(dot);
    }
    const auto names = db.tableNames();
    for (const auto& n : names)
        if (n == name) return n;
    std::vector<std::string> found;
    for (const auto& n : names)
        if (sameName(n, name)) found.push_back(n);
    if (found.size() == 1) return found.front();
    if (found.size() > 1)
        throw EngineError(ErrorKind::Database, "Table name " + name + " fits several tables of " +
                                                   db.description() + " that differ only in case");
    return name;
}

} // namespace

bool parseInteger(std::string_view text, std::int64_t& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseReal(std::string_view text, double& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

void SqlBackend::change(SqlStatement& st, const std::vector<SqlValue>& params,
                        std::string_view record, bool mustFindRow) {
    st.execute(params);
    while (st.next()) {
    }
    if (mustFindRow && st.changes() == 0)
        throw EngineError(ErrorKind::Database,
                          "The " + recordName(record) +
                              " was deleted by another program; open the table again");
}

std::string parameterRows(std::size_t width, std::size_t n) {
    std::string row = "(";
    for (std::size_t i = 0; i < width; ++i)
        row += i ? ", ?" : "?";
    row += ")";
    std::string rows;
    for (std::size_t i = 0; i < n; ++i)
        rows += (i ? ", " : "") + row;
    return rows;
}

// Rows of parameters as a VALUES list, which SQLite needs on the right of a row IN.
std::string SqlBackend::rowsIn(const std::string& columns, std::size_t width, std::size_t n) const {
    return columns + " IN (VALUES " + parameterRows(width, n) + ")";
}

bool isSqlAliasType(std::string_view type) {
    return sameName(type, "SQLITE") || sameName(type, "POSTGRESQL");
}

std::unique_ptr<SqlBackend>
connectBackend(const std::vector<std::pair<std::string, std::string>>& aliasParams,
               const std::string& alias,
               const std::function<std::optional<std::string>(const std::string& alias,
                                                              const std::string& user)>& password) {
    const std::string type = param(aliasParams, "TYPE");
    const std::string server = param(aliasParams, "SERVER NAME");
    if (server.empty())
        throw EngineError(ErrorKind::Database, "Database " + alias + " has no SERVER NAME");
    if (sameName(type, "SQLITE")) {
        std::error_code ec;
        if (!std::filesystem::exists(server, ec))
            throw EngineError(ErrorKind::Database, "The SQLite file " + server + " of alias " +
                                                       alias + " does not exist");
        return std::make_unique<SqliteBackend>(server);
    }
    if (sameName(type, "POSTGRESQL")) {
        const std::string user = param(aliasParams, "USER NAME");
        return std::make_unique<PostgresBackend>(
            server, user, [&] { return password ? password(alias, user) : std::nullopt; });
    }
    throw EngineError(ErrorKind::Database, "Database " + alias + " is a server database of type " +
                                               type + ", whose tables this program cannot open");
}

std::unique_ptr<TableDriver> openSqlTable(const OpenRequest& request, const std::string& alias,
                                          const std::string& table) {
    auto db = connect(*request.session, alias);
    std::string name = resolveTable(*db, table);
    return std::make_unique<SqlTable>(std::move(db), std::move(name), request);
}

std::vector<std::string> sqlTableNames(const Session& session, const std::string& alias) {
    return connect(session, alias)->tableNames();
}

void createSqlTable(const Session& session, const std::string& alias, const std::string& table,
                    const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes) {
    auto db = connect(session, alias);
    const std::string name = resolveTable(*db, table);
    if (fields.empty()) throw EngineError("Table " + name + " needs at least one field");
    std::string columns;
    for (const auto& f : fields)
        columns += (columns.empty() ? "" : ", ") + db->quote(f.name) + " " + db->columnTypeFor(f) +
                   (f.required ? " NOT NULL" : "");
    for (const auto& ix : indexes) {
        if (!ix.isPrimary()) continue;
        std::string key;
        for (const auto& n : ix.fieldList())
            key += (key.empty() ? "" : ", ") + db->quote(n);
        columns += ", PRIMARY KEY (" + key + ")";
    }
    if (!tableExists(*db, name))
        db->begin();
    else if (!db->lockExclusive(name))
        throw EngineError(ErrorKind::Database, "Table " + name + " is in use by someone else");
    try {
        db->execute("DROP TABLE IF EXISTS " + db->quote(name));
        db->execute("CREATE TABLE " + db->quote(name) + " (" + columns + ")");
        for (const auto& ix : indexes)
            if (!ix.isPrimary()) SqlTable::addIndex(*db, name, ix);
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
}

void addSqlIndex(const Session& session, const std::string& alias, const std::string& table,
                 const IndexDef& def) {
    auto db = connect(session, alias);
    const std::string name = resolveTable(*db, table);
    if (!db->lockExclusive(name))
        throw EngineError(ErrorKind::Database, "Table " + name + " is in use by someone else");
    try {
        SqlTable::addIndex(*db, name, def);
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
}

std::vector<std::pair<std::string, std::string>>
sqlIndexStatements(const Session& session, const std::string& alias, const std::string& table) {
    auto db = connect(session, alias);
    return db->indexStatements(resolveTable(*db, table));
}

bool restoreSqlIndex(const Session& session, const std::string& alias, const std::string& table,
                     const std::string& index, const std::string& statement) {
    auto db = connect(session, alias);
    const std::string name = resolveTable(*db, table);
    if (!db->lockExclusive(name))
        throw EngineError(ErrorKind::Database, "Table " + name + " is in use by someone else");
    try {
        const auto existing = db->indexStatements(name);
        const bool present = std::any_of(existing.begin(), existing.end(),
                                         [&](const auto& ix) { return ix.first == index; });
        if (!present) db->execute(statement);
        db->commit();
        return !present;
    } catch (...) {
        db->rollback();
        throw;
    }
}

} // namespace fieldsmith::engine::sql
