#include "PostgresBackend.h"

#include "../EngineError.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <optional>

namespace fieldsmith::engine::sql {

std::string numberParameters(const std::string& sql) {
    std::string out;
    int n = 0;
    char quote = 0;
    for (char c : sql) {
        if (quote) {
            if (c == quote) quote = 0;
            out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
        } else if (c == '?') {
            out += "$" + std::to_string(++n);
        } else {
            out += c;
        }
    }
    return out;
}

// A statement prepared on the server. Rows of an open-ended query come one at a time
// (libpq's single-row mode), so that a million rows never lie in memory whole; a query of a
// bounded batch comes in one result, without a result per row.
class PostgresStatement final : public SqlStatement {
public:
    PostgresStatement(PostgresBackend& backend, std::string sql, bool batch)
        : be_(backend), sql_(numberParameters(sql)),
          name_("fs" + std::to_string(++backend.nextName_)), batch_(batch) {
        be_.drain();
        PGresult* r = PQprepare(be_.conn_, name_.c_str(), sql_.c_str(), 0, nullptr);
        const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok) {
            const std::string message = "PostgreSQL could not prepare \"" + sql + "\"";
            try {
                be_.raise(message, r);
            } catch (...) {
                PQclear(r);
                throw;
            }
        }
        PQclear(r);
    }
    ~PostgresStatement() override {
        finish();
        // Changes may still be in flight: the name goes once they are settled.
        if (PQstatus(be_.conn_) == CONNECTION_OK) be_.unusedStatements_.push_back(name_);
    }

    void execute(const std::vector<SqlValue>& params) override {
        finish();
        be_.drain();
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
        std::vector<std::string> numbers;
        PostgresBackend::bind(params, values, lengths, formats, numbers);
        if (!PQsendQueryPrepared(be_.conn_, name_.c_str(), static_cast<int>(params.size()),
                                 values.data(), lengths.data(), formats.data(), 0))
            be_.raise("PostgreSQL could not run \"" + sql_ + "\"", nullptr);
        if (!batch_) PQsetSingleRowMode(be_.conn_);
        active_ = true;
        changes_ = 0;
        // The first result tells a command from a query: a query's rows wait for next().
        pending_ = PQgetResult(be_.conn_);
        handleEnd(pending_);
    }

    bool next() override {
        if (row_ && at_ + 1 < PQntuples(row_)) {
            ++at_;
            return true;
        }
        clearRow();
        PGresult* r = pending_;
        pending_ = nullptr;
        if (!r) {
            if (!active_) return false;
            r = PQgetResult(be_.conn_);
        }
        while (r) {
            const ExecStatusType status = PQresultStatus(r);
            if ((status == PGRES_SINGLE_TUPLE || status == PGRES_TUPLES_OK) && PQntuples(r) > 0) {
                row_ = r;
                at_ = 0;
                return true;
            }
            handleEnd(r);
            if (!active_) return false;
            r = PQgetResult(be_.conn_);
        }
        active_ = false;
        return false;
    }

    int columnCount() const override { return row_ ? PQnfields(row_) : 0; }

    SqlValue column(int i) const override {
        if (!row_ || PQgetisnull(row_, at_, i)) return SqlValue::null();
        return SqlValue::of(std::string(PQgetvalue(row_, at_, i),
                                        static_cast<std::size_t>(PQgetlength(row_, at_, i))));
    }

    bool isNull(int i) const override { return !row_ || PQgetisnull(row_, at_, i); }
    bool integer(int i, std::int64_t& out) const override { return parseInteger(text(i), out); }
    bool real(int i, double& out) const override { return parseReal(text(i), out); }
    std::string_view text(int i) const override {
        if (!row_) return {};
        return std::string_view(PQgetvalue(row_, at_, i),
                                static_cast<std::size_t>(PQgetlength(row_, at_, i)));
    }

    std::int64_t changes() const override { return changes_; }

private:
    friend class PostgresBackend;

    // A result that is not a row ends the statement: a command's count, a query's end, or
    // an error. A whole batch of rows is kept for next(); what the server still sends after
    // an end is read and dropped.
    void handleEnd(PGresult*& r) {
        if (!r) {
            active_ = false;
            return;
        }
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_SINGLE_TUPLE) return;                  // a row: kept for next()
        if (status == PGRES_TUPLES_OK && PQntuples(r) > 0) return; // a batch: kept too
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            changes_ = std::atoll(PQcmdTuples(r));
            PQclear(r);
            r = nullptr;
            finish();
            return;
        }
        try {
            be_.raise("PostgreSQL could not run \"" + sql_ + "\"", r);
        } catch (...) {
            PQclear(r);
            r = nullptr;
            finish();
            throw;
        }
    }
    void clearRow() {
        if (row_) PQclear(row_);
        row_ = nullptr;
        at_ = 0;
    }
    void finish() {
        clearRow();
        if (pending_) PQclear(pending_);
        pending_ = nullptr;
        if (!active_) return;
        while (PGresult* r = PQgetResult(be_.conn_))
            PQclear(r);
        active_ = false;
    }

    PostgresBackend& be_;
    std::string sql_;
    std::string name_;
    bool batch_ = false;
    PGresult* row_ = nullptr; //!< the result holding the current row
    int at_ = 0;              //!< the current row's number in it
    PGresult* pending_ = nullptr;
    bool active_ = false;
    std::int64_t changes_ = 0;
};

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

// "host[:port]/database": the database after the last slash, a port after the last colon.
void splitServerName(const std::string& server, std::string& host, std::string& port,
                     std::string& db) {
    const auto slash = server.rfind('/');
    std::string hostPort = slash == std::string::npos ? server : server.substr(0, slash);
    db = slash == std::string::npos ? std::string() : server.substr(slash + 1);
    const auto colon = hostPort.rfind(':');
    if (colon != std::string::npos &&
        std::all_of(hostPort.begin() + static_cast<std::ptrdiff_t>(colon) + 1, hostPort.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        port = hostPort.substr(colon + 1);
        hostPort.resize(colon);
    }
    host = hostPort;
}

std::string pingServer(const std::string& serverName) {
    std::string host, port, db;
    splitServerName(serverName, host, port, db);
    std::vector<const char*> keys, values;
    auto add = [&](const char* k, const std::string& v) {
        if (v.empty()) return;
        keys.push_back(k);
        values.push_back(v.c_str());
    };
    const std::string timeout = "5";
    add("host", host);
    add("port", port);
    add("dbname", db);
    add("connect_timeout", timeout);
    keys.push_back(nullptr);
    values.push_back(nullptr);
    switch (PQpingParams(keys.data(), values.data(), 0)) {
    case PQPING_OK:
        return {};
    case PQPING_REJECT:
        return "The PostgreSQL server " + serverName + " answers but does not accept connections now.";
    case PQPING_NO_RESPONSE:
        return "No PostgreSQL server answers at " + serverName + ".";
    default:
        return "The server name " + serverName + " is not understood.";
    }
}

PostgresBackend::PostgresBackend(const std::string& serverName, const std::string& user,
                                 const PasswordSource& password)
    : server_(serverName) {
    std::string host, port, db;
    splitServerName(serverName, host, port, db);
    auto connect = [&](const std::string* pw) {
        std::vector<const char*> keys, values;
        auto add = [&](const char* k, const std::string& v) {
            if (v.empty()) return;
            keys.push_back(k);
            values.push_back(v.c_str());
        };
        add("host", host);
        add("port", port);
        add("dbname", db);
        add("user", user);
        if (pw) add("password", *pw);
        const std::string app = "fieldsmith", timeout = "10";
        add("fallback_application_name", app);
        add("connect_timeout", timeout);
        keys.push_back(nullptr);
        values.push_back(nullptr);
        if (conn_) PQfinish(conn_);
        conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    };
    connect(nullptr);
    if (PQstatus(conn_) != CONNECTION_OK && PQconnectionNeedsPassword(conn_)) {
        const auto pw = password ? password() : std::nullopt;
        if (!pw) {
            PQfinish(conn_);
            conn_ = nullptr;
            throw EngineError(ErrorKind::Database,
                              "The PostgreSQL server " + serverName + " wants a password");
        }
        connect(&*pw);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        std::string message = PQerrorMessage(conn_);
        while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
            message.pop_back();
        PQfinish(conn_);
        conn_ = nullptr;
        throw EngineError(ErrorKind::Database,
                          "Cannot connect to the PostgreSQL server " + serverName + ": " + message);
    }
    // The server's notices ("table does not exist, skipping") are not the user's business.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    // ISO dates and times, UTF-8, exact floats, bytea as hex; a row lock held elsewhere is an
    // error after a moment rather than a wait without end.
    execute("SET DateStyle = ISO, YMD");
    execute("SET client_encoding = 'UTF8'");
    execute("SET extra_float_digits = 3");
    execute("SET bytea_output = 'hex'");
    execute("SET lock_timeout = '3s'");
}

PostgresBackend::~PostgresBackend() {
    if (conn_) PQfinish(conn_); // changes still in flight are not committed
}

void PostgresBackend::drain() {
    if (!conn_) return;
    settle();
    while (PGresult* r = PQgetResult(conn_))
        PQclear(r);
    if (savepointHeld_) releaseSavepoint();
    if (!unusedStatements_.empty()) {
        for (const auto& n : unusedStatements_)
            PQclear(PQexec(conn_, ("DEALLOCATE " + n).c_str()));
        unusedStatements_.clear();
    }
}

void PostgresBackend::releaseSavepoint() {
    savepointHeld_ = false;
    execute("RELEASE SAVEPOINT fs_change");
}

void PostgresBackend::executeQuietly(const char* sql) {
    try {
        drain();
    } catch (...) {
    }
    PQclear(PQexec(conn_, sql));
}

// Changes of a run go out in pipeline mode, a batch at a time inside a savepoint: the run
// does not wait for the server after each record. A PostgreSQL transaction fails whole at
// its first error; when a change of a batch fails, the batch is taken back to its savepoint
// and the changes before the failed one are made again, so that only the failed change and
// those sent after it (which the server did not make) are missing.
void PostgresBackend::change(SqlStatement& st, const std::vector<SqlValue>& params,
                             std::string_view record, bool mustFindRow) {
    auto& ps = static_cast<PostgresStatement&>(st);
    ps.finish();
    if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) {
        drain();
        if (!PQenterPipelineMode(conn_) ||
            !PQsendQueryParams(conn_, "SAVEPOINT fs_batch", 0, nullptr, nullptr, nullptr, nullptr,
                               0))
            raise("PostgreSQL could not send changes ahead", nullptr);
    }
    Pending p{std::string(record), mustFindRow, ps.name_, params};
    if (!send(p)) {
        pending_.clear();
        PQexitPipelineMode(conn_);
        raise("PostgreSQL could not run \"" + ps.sql_ + "\"", nullptr);
    }
    pending_.push_back(std::move(p));
    // Each settling waits for the server: it comes after a couple of thousand changes (the
    // changes kept for a failure are a few hundred kB), or before the next statement.
    if (pending_.size() >= 2048) settle();
}

bool PostgresBackend::send(const Pending& p) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    std::vector<std::string> numbers;
    bind(p.params, values, lengths, formats, numbers);
    return PQsendQueryPrepared(conn_, p.statement.c_str(), static_cast<int>(p.params.size()),
                               values.data(), lengths.data(), formats.data(), 0) != 0;
}

void PostgresBackend::settle() {
    if (PQpipelineStatus(conn_) == PQ_PIPELINE_OFF) return;
    std::vector<Pending> sent = std::move(pending_);
    pending_.clear();
    bool ok = PQsendQueryParams(conn_, "RELEASE SAVEPOINT fs_batch", 0, nullptr, nullptr, nullptr,
                                nullptr, 0) &&
              PQpipelineSync(conn_);
    // Parts: 0 the savepoint, 1..n the changes, n + 1 the release.
    std::optional<std::size_t> missing;
    PipelineEnd end;
    if (ok)
        end = readPipeline(conn_, [&](std::size_t part, PGresult* r) {
            if (part >= 1 && part <= sent.size() && PQresultStatus(r) == PGRES_COMMAND_OK &&
                sent[part - 1].mustFindRow && std::atoll(PQcmdTuples(r)) == 0 && !missing)
                missing = part - 1;
        });
    std::unique_ptr<PGresult, void (*)(PGresult*)> hold(end.failed, PQclear);
    PGresult* failed = end.failed;
    const std::size_t failedAt =
        end.failedAt >= 1 && end.failedAt <= sent.size() ? end.failedAt - 1 : sent.size();
    if (!ok || !end.ok) raise("PostgreSQL did not confirm the changes sent", nullptr);
    PQexitPipelineMode(conn_);
    if (failed) {
        // Back to the batch's savepoint, and the changes before the failed one again.
        execute("ROLLBACK TO SAVEPOINT fs_batch");
        execute("RELEASE SAVEPOINT fs_batch");
        for (std::size_t i = 0; i < failedAt && i < sent.size(); ++i) {
            const auto& p = sent[i];
            std::vector<const char*> values;
            std::vector<int> lengths, formats;
            std::vector<std::string> numbers;
            bind(p.params, values, lengths, formats, numbers);
            PGresult* r =
                PQexecPrepared(conn_, p.statement.c_str(), static_cast<int>(p.params.size()),
                               values.data(), lengths.data(), formats.data(), 0);
            std::unique_ptr<PGresult, void (*)(PGresult*)> again(r, PQclear);
            if (!r || PQresultStatus(r) != PGRES_COMMAND_OK)
                raise("PostgreSQL could not make the " + recordName(p.record) + " again", r);
        }
        if (failedAt >= sent.size())
            raise("PostgreSQL could not take the changes sent ahead", failed);
        const std::size_t after = sent.size() - failedAt - 1;
        raise("PostgreSQL could not change the " + recordName(sent[failedAt].record) +
                  (after
                       ? " (the " + std::to_string(after) + " changes sent after it were not made)"
                       : std::string()),
              failed);
    }
    if (missing)
        throw EngineError(ErrorKind::Database, "The " + recordName(sent[*missing].record) +
                                                   " was deleted by another program; open the "
                                                   "table again");
}

// Each query's results end with a null result; the sync ends the pipeline.
PipelineEnd readPipeline(PGconn* conn,
                         const std::function<void(std::size_t part, PGresult* r)>& result) {
    PipelineEnd end;
    std::size_t part = 0;
    int nulls = 0;
    for (;;) {
        PGresult* r = PQgetResult(conn);
        if (!r) {
            if (PQstatus(conn) != CONNECTION_OK || ++nulls > 2) {
                end.ok = false;
                return end;
            }
            ++part;
            continue;
        }
        nulls = 0;
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_PIPELINE_SYNC) {
            PQclear(r);
            return end;
        }
        if (status == PGRES_FATAL_ERROR && !end.failed) {
            end.failed = r;
            end.failedAt = part;
            continue;
        }
        if (result) result(part, r);
        PQclear(r);
    }
}

// At once and inside a savepoint of its own, released before the next statement.
void PostgresBackend::changeNow(SqlStatement& st, const std::vector<SqlValue>& params) {
    drain();
    execute("SAVEPOINT fs_change");
    try {
        st.execute(params);
    } catch (...) {
        PQclear(PQexec(conn_, "ROLLBACK TO SAVEPOINT fs_change"));
        PQclear(PQexec(conn_, "RELEASE SAVEPOINT fs_change"));
        throw;
    }
    savepointHeld_ = true;
}

void PostgresBackend::raise(const std::string& what, const void* result) const {
    const auto* r = static_cast<const PGresult*>(result);
    if (PQstatus(conn_) != CONNECTION_OK)
        throw EngineError(ErrorKind::General, "The connection to the PostgreSQL server " + server_ +
                                                  " was lost: " + PQerrorMessage(conn_));
    std::string message = r ? PQresultErrorMessage(r) : PQerrorMessage(conn_);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string code = state ? state : "";
    if (code == "23505") throw EngineError(ErrorKind::KeyViolation, "Key violation: " + message);
    if (code == "55P03" || code == "40P01" || code == "40001" || code == "42P01")
        throw EngineError(ErrorKind::Database, what + ": " + message);
    throw EngineError(ErrorKind::General, what + ": " + message);
}

// money is written with the currency sign and separators of the server's lc_monetary
// ("$1,234.50", "1.234,50 €"); read as numeric it is a plain number.
std::string PostgresBackend::selectColumn(const SqlColumn& column) const {
    if (column.type == "money") return quote(column.name) + "::numeric";
    return quote(column.name);
}

// A list of row constructors: PostgreSQL gives each parameter the type of its column there,
// where in a VALUES list every parameter would be text and a number column compared with
// text an error.
std::string PostgresBackend::rowsIn(const std::string& columns, std::size_t width,
                                    std::size_t n) const {
    return columns + " IN (" + parameterRows(width, n) + ")";
}

std::unique_ptr<SqlStatement> PostgresBackend::prepare(const std::string& sql) {
    return std::make_unique<PostgresStatement>(*this, sql, false);
}

std::unique_ptr<SqlStatement> PostgresBackend::prepareBatch(const std::string& sql) {
    return std::make_unique<PostgresStatement>(*this, sql, true);
}

// Whole numbers go as their decimal text, written into `numbers`, which holds it while
// the statement is sent.
void PostgresBackend::bind(const std::vector<SqlValue>& params, std::vector<const char*>& values,
                           std::vector<int>& lengths, std::vector<int>& formats,
                           std::vector<std::string>& numbers) {
    values.resize(params.size());
    lengths.resize(params.size());
    formats.resize(params.size());
    numbers.resize(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        // A text parameter goes as a C string: a NUL byte would end it there, unnoticed.
        if (!params[i].isNull && !params[i].binary && !params[i].integral &&
            params[i].text.find('\0') != std::string::npos)
            throw EngineError(ErrorKind::BadValue,
                              "A text value holds a NUL byte, which PostgreSQL text cannot hold");
        const std::string& text = params[i].integral
                                      ? (numbers[i] = std::to_string(params[i].number))
                                      : params[i].text;
        values[i] = params[i].isNull ? nullptr : text.c_str();
        lengths[i] = static_cast<int>(text.size());
        formats[i] = params[i].binary ? 1 : 0;
    }
}

void PostgresBackend::execute(const std::string& sql) {
    drain();
    PGresult* r = PQexec(conn_, sql.c_str());
    const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        try {
            raise("PostgreSQL could not run \"" + sql + "\"", r);
        } catch (...) {
            PQclear(r);
            throw;
        }
    }
    PQclear(r);
}

std::vector<std::string> PostgresBackend::tableNames() {
    auto st =
        prepare("SELECT tablename FROM pg_tables WHERE schemaname = current_schema() ORDER BY 1");
    st->execute({});
    std::vector<std::string> names;
    while (st->next())
        names.push_back(st->column(0).text);
    return names;
}

SqlTableShape PostgresBackend::describe(const std::string& table) {
    SqlTableShape shape;
    // Tables only (plain and partitioned): views, indexes and sequences have columns too.
    auto cols = prepare("SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
                        "c.relkind FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
                        "JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "WHERE c.relname = ? AND n.nspname = current_schema() AND a.attnum > 0 "
                        "AND NOT a.attisdropped ORDER BY a.attnum");
    cols->execute({SqlValue::of(table)});
    std::string kind;
    while (cols->next()) {
        SqlColumn c;
        c.name = cols->column(0).text;
        std::string type = lower(cols->column(1).text);
        // "character varying(30)", "numeric(10,2)", "timestamp(3) without time zone"
        if (const auto open = type.find('('); open != std::string::npos) {
            const auto close = type.find(')', open);
            const std::string args = type.substr(open + 1, close - open - 1);
            type = type.substr(0, open) +
                   (close + 1 < type.size() ? type.substr(close + 1) : std::string());
            const auto comma = args.find(',');
            const int first = std::atoi(args.c_str());
            c.length = comma == std::string::npos ? first : 0;
            c.precision = first;
            if (comma != std::string::npos) c.scale = std::atoi(args.c_str() + comma + 1);
        }
        c.type = type;
        c.notNull = cols->column(2).text == "t";
        kind = cols->column(3).text;
        shape.columns.push_back(std::move(c));
    }
    if (kind == "v" || kind == "m")
        throw EngineError(ErrorKind::Database,
                          table + " of " + description() + " is a view: only tables can be opened");
    if (shape.columns.empty() || (kind != "r" && kind != "p"))
        throw EngineError(ErrorKind::Database,
                          "Table " + table + " does not exist in " + description());
    // The key columns of each index (not those it only INCLUDEs), each with its direction.
    // An index on an expression (a column number 0) is left out, and so is one whose
    // columns go in different directions: no order of fields can stand for them.
    auto ix = prepare(
        "SELECT ic.relname, ix.indisunique, ix.indisprimary, a.attname, k.opt & 1 "
        "FROM pg_index ix JOIN pg_class t ON t.oid = ix.indrelid "
        "JOIN pg_class ic ON ic.oid = ix.indexrelid JOIN pg_namespace n ON n.oid = t.relnamespace "
        "CROSS JOIN LATERAL unnest(ix.indkey::int2[], ix.indoption::int2[]) "
        "WITH ORDINALITY AS k(attnum, opt, ord) "
        "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.attnum "
        "WHERE t.relname = ? AND n.nspname = current_schema() AND k.ord <= ix.indnkeyatts "
        "AND NOT 0 = ANY (ix.indkey::int2[]) "
        "ORDER BY ix.indisprimary DESC, ic.relname, k.ord");
    ix->execute({SqlValue::of(table)});
    std::vector<int> descending;
    while (ix->next()) {
        const std::string name = ix->column(0).text;
        if (shape.indexes.empty() || shape.indexes.back().name != name) {
            SqlIndex i;
            i.name = name;
            i.unique = ix->column(1).text == "t";
            i.primary = ix->column(2).text == "t";
            shape.indexes.push_back(std::move(i));
            descending.push_back(0);
        }
        shape.indexes.back().columns.push_back(ix->column(3).text);
        descending.back() += ix->column(4).text == "1";
    }
    for (std::size_t k = shape.indexes.size(); k-- > 0;) {
        SqlIndex& i = shape.indexes[k];
        const int n = static_cast<int>(i.columns.size());
        i.descending = descending[k] == n;
        if (descending[k] != 0 && descending[k] != n)
            shape.indexes.erase(shape.indexes.begin() + static_cast<std::ptrdiff_t>(k));
    }
    for (const auto& i : shape.indexes)
        if (i.primary) shape.primaryKey = i.columns;
    return shape;
}

bool PostgresBackend::lockTable(const std::string& table, const char* mode) {
    if (inTransaction_) return true;
    execute("BEGIN");
    PGresult* r =
        PQexec(conn_, ("LOCK TABLE " + quote(table) + " IN " + mode + " MODE NOWAIT").c_str());
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const bool busy = !ok && state && std::strcmp(state, "55P03") == 0;
    if (!ok && !busy) {
        try {
            raise("PostgreSQL could not lock " + table, r);
        } catch (...) {
            PQclear(r);
            PQclear(PQexec(conn_, "ROLLBACK"));
            throw;
        }
    }
    PQclear(r);
    if (busy) {
        PQclear(PQexec(conn_, "ROLLBACK"));
        return false;
    }
    inTransaction_ = true;
    return true;
}

void PostgresBackend::begin() {
    if (inTransaction_) return;
    execute("BEGIN");
    inTransaction_ = true;
}

// Writers take a lock that readers pass and a second writer does not.
bool PostgresBackend::beginWrite(const std::string& table) {
    return lockTable(table, "SHARE ROW EXCLUSIVE");
}

bool PostgresBackend::lockExclusive(const std::string& table) {
    return lockTable(table, "ACCESS EXCLUSIVE");
}

void PostgresBackend::commit() {
    if (!inTransaction_) return;
    drain(); // a failed change is reported before the others are committed
    inTransaction_ = false;
    execute("COMMIT");
}

void PostgresBackend::rollback() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    executeQuietly("ROLLBACK");
}

std::string PostgresBackend::quote(std::string_view identifier) const {
    std::string q = "\"";
    for (char c : identifier) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string PostgresBackend::columnTypeFor(const FieldDef& f) const {
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
        return "DOUBLE PRECISION";
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
        return "BYTEA";
    }
}

std::vector<std::pair<std::string, std::string>>
PostgresBackend::indexStatements(const std::string& table) {
    std::vector<std::pair<std::string, std::string>> out;
    auto st = prepare("SELECT ic.relname, pg_get_indexdef(ix.indexrelid) FROM pg_index ix "
                      "JOIN pg_class t ON t.oid = ix.indrelid "
                      "JOIN pg_class ic ON ic.oid = ix.indexrelid "
                      "JOIN pg_namespace n ON n.oid = t.relnamespace "
                      "WHERE t.relname = ? AND n.nspname = current_schema() "
                      "AND NOT ix.indisprimary ORDER BY ic.relname");
    st->execute({SqlValue::of(table)});
    while (st->next())
        out.emplace_back(st->column(0).text, st->column(1).text);
    return out;
}

std::string PostgresBackend::dropPrimaryKey(const std::string& table) {
    auto st = prepare(
        "SELECT conname FROM pg_constraint WHERE conrelid = to_regclass(?) AND contype = 'p'");
    st->execute({SqlValue::of(quote(table))});
    if (!st->next())
        throw EngineError(ErrorKind::General, "Table " + table + " has no primary key");
    const std::string name = st->column(0).text;
    while (st->next()) {
    }
    return "ALTER TABLE " + quote(table) + " DROP CONSTRAINT " + quote(name);
}

std::string PostgresBackend::addPrimaryKey(const std::string& table,
                                           const std::vector<std::string>& columns) {
    std::string list;
    for (const auto& c : columns)
        list += (list.empty() ? "" : ", ") + quote(c);
    return "ALTER TABLE " + quote(table) + " ADD PRIMARY KEY (" + list + ")";
}

} // namespace fieldsmith::engine::sql
