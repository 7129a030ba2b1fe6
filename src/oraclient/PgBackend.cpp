#include "PgBackend.h"

#include "BackendSupport.h"
#include "OracleError.h"
#include "SqliteSchema.h"
#include "ValueText.h"
#include "engine/FieldDef.h"
#include "engine/sql/PostgresBackend.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <deque>
#include <libpq-fe.h>

namespace fieldsmith::oraclient {

using engine::upperAscii;

namespace {

// PostgreSQL text cannot hold U+0000. The backend keeps it as U+FFFF, a noncharacter that
// text meant for interchange never holds, and turns it back on reading.
const std::string kNulStandIn = "\xEF\xBF\xBF";

std::string nulToStandIn(std::string s) {
    if (s.find('\0') == std::string::npos) return s;
    std::string out;
    out.reserve(s.size() + 8);
    for (char c : s)
        c == '\0' ? out += kNulStandIn : out += c;
    return out;
}

std::string standInToNul(std::string s) {
    for (std::size_t p = 0; (p = s.find(kNulStandIn, p)) != std::string::npos; ++p)
        s.replace(p, kNulStandIn.size(), 1, '\0');
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// "|||" in the session's temporary schema: Oracle's concatenation (see the constructor).
const char* const kConcatOperator =
    "CREATE FUNCTION pg_temp.ora_concat(text, text) RETURNS text LANGUAGE sql IMMUTABLE AS "
    "$$SELECT nullif(coalesce($1, '') || coalesce($2, ''), '')$$;"
    "CREATE FUNCTION pg_temp.ora_concat(text, anynonarray) RETURNS text LANGUAGE sql IMMUTABLE "
    "AS $$SELECT nullif(coalesce($1, '') || coalesce($2::text, ''), '')$$;"
    "CREATE FUNCTION pg_temp.ora_concat(anynonarray, text) RETURNS text LANGUAGE sql IMMUTABLE "
    "AS $$SELECT nullif(coalesce($1::text, '') || coalesce($2, ''), '')$$;"
    "CREATE OPERATOR pg_temp.||| (FUNCTION = pg_temp.ora_concat, LEFTARG = text, "
    "RIGHTARG = text);"
    "CREATE OPERATOR pg_temp.||| (FUNCTION = pg_temp.ora_concat, LEFTARG = text, "
    "RIGHTARG = anynonarray);"
    "CREATE OPERATOR pg_temp.||| (FUNCTION = pg_temp.ora_concat, LEFTARG = anynonarray, "
    "RIGHTARG = text);";

// Type OIDs of the built-in types the backend reads.
enum : unsigned {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kFloat4 = 700,
    kFloat8 = 701,
    kBpchar = 1042,
    kVarchar = 1043,
    kDate = 1082,
    kTimestamp = 1114,
    kTimestampTz = 1184,
    kNumeric = 1700,
};

// The Oracle type of a result column.
OracleType typeOfColumn(unsigned oid, int mod, const std::string& name) {
    auto parsed = [](const std::string& text) { return *parseOracleType(text); };
    if (name == "ora$rowid") return parsed("ROWID");
    switch (oid) {
    case kVarchar:
        return parsed(mod > 4 ? "VARCHAR2(" + std::to_string(mod - 4) + ")" : "VARCHAR2(4000)");
    case kBpchar:
        return parsed(mod > 4 ? "CHAR(" + std::to_string(mod - 4) + ")" : "CHAR(1)");
    case kText:
        return parsed("CLOB");
    case kNumeric:
        if (mod >= 4) {
            const int p = ((mod - 4) >> 16) & 0xffff;
            int s = (mod - 4) & 0x7ff;
            if (s & 0x400) s -= 0x800; // negative scales
            return parsed("NUMBER(" + std::to_string(p) + "," + std::to_string(s) + ")");
        }
        return parsed("NUMBER");
    case kInt2:
    case kInt4:
    case kInt8:
        return parsed("INTEGER");
    case kFloat4:
    case kFloat8:
        return parsed("FLOAT");
    case kTimestamp:
        return parsed(mod == 0 ? "DATE" : "TIMESTAMP");
    case kTimestampTz:
        return parsed("TIMESTAMP");
    case kDate:
        return parsed("DATE");
    case kBytea:
        return parsed("BLOB");
    default:
        return {};
    }
}

OracleValue readValue(pg_result* r, int row, int col, ColumnKind kind, unsigned oid) {
    if (PQgetisnull(r, row, col)) return OracleValue::null();
    const char* p = PQgetvalue(r, row, col);
    const std::string text(p, static_cast<std::size_t>(PQgetlength(r, row, col)));
    switch (kind) {
    case ColumnKind::RowId: {
        std::int64_t v = 0;
        std::from_chars(text.data(), text.data() + text.size(), v);
        return OracleValue::ofInteger(v);
    }
    case ColumnKind::Number: {
        if (oid == kBool) return OracleValue::ofInteger(text == "t" ? 1 : 0);
        if (text.find_first_of(".eE") == std::string::npos) {
            std::int64_t v = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec == std::errc() && end == text.data() + text.size())
                return OracleValue::ofInteger(v);
        }
        return OracleValue::ofFloat(std::strtod(text.c_str(), nullptr));
    }
    case ColumnKind::Date:
    case ColumnKind::Timestamp:
        if (auto ms = parseStoredDate(text)) return OracleValue::ofDate(*ms);
        return OracleValue::ofText(text);
    case ColumnKind::Bytes: {
        std::size_t length = 0;
        unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(p), &length);
        if (!raw) throw OracleError(4030, "out of process memory reading a BLOB");
        std::string bytes(reinterpret_cast<const char*>(raw), length);
        PQfreemem(raw);
        return OracleValue::ofBytes(std::move(bytes));
    }
    default:
        return OracleValue::ofText(standInToNul(text));
    }
}

// A number as the shortest text that reads back as the same double.
std::string numberText(double v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

} // namespace

std::string PgBackend::pgName(const std::string& oracleName) {
    const bool hasLower = std::any_of(oracleName.begin(), oracleName.end(), [](char c) {
        return std::islower(static_cast<unsigned char>(c));
    });
    return hasLower ? oracleName : lower(oracleName);
}

std::string PgBackend::oracleName(const std::string& pgName) {
    const bool hasUpper = std::any_of(pgName.begin(), pgName.end(), [](char c) {
        return std::isupper(static_cast<unsigned char>(c));
    });
    return hasUpper ? pgName : upperAscii(pgName);
}

// --- connecting

PgBackend::PgBackend(const OracleDatabaseEntry& database, const std::string& user,
                     const std::string& password)
    : database_(database), user_(upperAscii(user)), schema_(pgName(upperAscii(user))) {
    std::string host, port, db;
    engine::sql::splitServerName(database.server, host, port, db);
    if (host.empty() || db.empty())
        throw OracleError(12154, "TNS:could not resolve the connect identifier specified "
                                 "(SERVER NAME of " +
                                     database.name + " is not host[:port]/database)");
    const std::string role = lower(user), app = "fieldsmith", timeout = "10";
    std::vector<const char*> keys, values;
    auto add = [&](const char* k, const std::string& v) {
        if (v.empty()) return;
        keys.push_back(k);
        values.push_back(v.c_str());
    };
    add("host", host);
    add("port", port);
    add("dbname", db);
    add("user", role);
    add("password", password);
    add("fallback_application_name", app);
    add("connect_timeout", timeout);
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 0);
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string message = trimmed(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        if (message.find("password authentication failed") != std::string::npos ||
            message.find("role \"") != std::string::npos ||
            message.find("no password supplied") != std::string::npos)
            throw OracleError(1017, "invalid username/password; logon denied");
        if (message.find("database \"") != std::string::npos &&
            message.find("does not exist") != std::string::npos)
            throw OracleError(12154, "TNS:could not resolve the connect identifier specified (" +
                                         message + ")");
        throw OracleError(12541, "TNS:no listener (" + message + ")");
    }
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    try {
        // SYSDATE is the time of day where the server is, as Oracle's is the time of its
        // host; every other time is kept as written, in UTC, where no day has a gap.
        pg_result* zone = run("SELECT current_setting('TimeZone')", {}, nullptr);
        serverZone_ = PQntuples(zone) == 1 ? PQgetvalue(zone, 0, 0) : "UTC";
        PQclear(zone);
        runPlain("SET DateStyle = ISO, YMD");
        runPlain("SET client_encoding = 'UTF8'");
        runPlain("SET TimeZone = 'UTC'");
        runPlain("SET extra_float_digits = 3");
        runPlain("SET bytea_output = 'hex'");
        runPlain("SET lock_timeout = '5s'");
        // The user's schema is where unqualified names are looked up and tables are made.
        const std::string q = quoteName(schema_);
        const std::vector<OracleValue> arg = {OracleValue::ofText(schema_)};
        pg_result* r = run("SELECT 1 FROM pg_namespace WHERE nspname = $1", arg, nullptr);
        const bool exists = PQntuples(r) > 0;
        PQclear(r);
        if (!exists) {
            r = PQexec(conn_, ("CREATE SCHEMA " + q).c_str());
            const bool made = PQresultStatus(r) == PGRES_COMMAND_OK;
            const std::string why = trimmed(PQresultErrorMessage(r));
            PQclear(r);
            if (!made)
                throw OracleError(1045, "user " + user_ +
                                            " lacks CREATE SESSION privilege; logon denied "
                                            "(no schema " +
                                            schema_ + ": " + why + ")");
        }
        runPlain(("SET search_path = " + q).c_str());
        // Oracle's "||" takes null as the empty text and gives null for an empty result;
        // PostgreSQL's gives null for any null. The session's own operator, kept in its
        // temporary schema, does as Oracle does.
        runPlain(kConcatOperator);
    } catch (...) {
        PQfinish(conn_);
        conn_ = nullptr;
        throw;
    }
}

PgBackend::~PgBackend() {
    // Closing rolls back what is not committed; the session commits before when it logs
    // off normally.
    if (conn_) PQfinish(conn_);
}

void PgBackend::runPlain(const char* sql) {
    pg_result* r = PQexec(conn_, sql);
    const auto status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r, nullptr);
    PQclear(r);
}

bool PgBackend::inTransaction() const {
    return PQtransactionStatus(conn_) != PQTRANS_IDLE;
}

void PgBackend::commit() {
    if (inTransaction()) runPlain("COMMIT");
}

void PgBackend::rollback() {
    if (inTransaction()) runPlain("ROLLBACK");
}

void PgBackend::callProcedure(const std::string& name, const std::vector<NamedArgument>& args) {
    const ResolvedCall call = resolveProcedure(name, args);
    if (call.shortName == "SET_CLIENT_INFO") {
        // Kept here, as a rollback does not undo it; and shown where the server lists its
        // sessions, as Oracle's is.
        clientInfo_ = call.values[0];
        pg_result* r = run("SELECT set_config('application_name', $1, false)",
                           {OracleValue::ofText(call.values[0])}, nullptr);
        PQclear(r);
    } else if (call.shortName == "SET_MODULE") {
        module_ = call.values[0], action_ = call.values[1];
    } else {
        action_ = call.values[0];
    }
}

// --- statements

// Runs one statement with its values. A statement failing inside a transaction undoes only
// itself, as in Oracle: it runs after a savepoint that an error rolls back to.
PgBackend::BoundValues::BoundValues(const std::vector<OracleValue>& binds)
    : texts(binds.size()), values(binds.size()), types(binds.size(), 0),
      lengths(binds.size(), 0), formats(binds.size(), 0) {
    for (std::size_t i = 0; i < binds.size(); ++i) {
        const OracleValue& v = binds[i];
        switch (v.kind) {
        case ValueKind::Null:
            break;
        case ValueKind::Text:
            if (!v.text.empty()) texts[i] = nulToStandIn(v.text); // '' is null in Oracle
            break;
        case ValueKind::Integer:
            texts[i] = std::to_string(v.whole);
            break;
        case ValueKind::Float:
            texts[i] = numberText(v.real);
            break;
        case ValueKind::Date:
            texts[i] = storedDate(v.whole, true);
            break;
        case ValueKind::Bytes:
            texts[i] = v.text;
            types[i] = kBytea;
            formats[i] = 1;
            break;
        }
        const bool null =
            v.kind == ValueKind::Null || (v.kind == ValueKind::Text && v.text.empty());
        values[i] = null ? nullptr : texts[i].c_str();
        lengths[i] = static_cast<int>(texts[i].size());
    }
}

pg_result* PgBackend::run(const std::string& sql, const std::vector<OracleValue>& binds,
                          const Translation* tr, bool fresh) {
    if (PQstatus(conn_) != CONNECTION_OK)
        throw OracleError(3113, "end-of-file on communication channel");
    const BoundValues b(binds);
    const bool savepoint = !fresh && inTransaction();
    if (savepoint) runPlain("SAVEPOINT ora_statement");
    pg_result* r = PQexecParams(conn_, sql.c_str(), static_cast<int>(binds.size()), b.types.data(),
                                b.values.data(), b.lengths.data(), b.formats.data(), 0);
    const auto status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (PQstatus(conn_) == CONNECTION_OK && inTransaction()) {
            pg_result* undo =
                PQexec(conn_, savepoint ? "ROLLBACK TO SAVEPOINT ora_statement" : "ROLLBACK");
            PQclear(undo);
        }
        fail(r, tr);
    }
    if (savepoint) runPlain("RELEASE SAVEPOINT ora_statement");
    return r;
}

StatementResult PgBackend::execute(const std::string& sql, const std::vector<OracleValue>& binds) {
    Translation tr = translate(sql);
    StatementResult result;
    result.kind = tr.kind;
    if (tr.kind == StatementKind::Commit || tr.kind == StatementKind::Rollback) {
        tr.kind == StatementKind::Commit ? commit() : rollback();
        return result;
    }
    if (tr.kind == StatementKind::Block) {
        for (const auto& [name, args] : tr.calls)
            name.empty() ? static_cast<void>(execute(args.front().second, {}))
                         : callProcedure(name, args);
        return result;
    }
    if (binds.size() != tr.bindCount) throw OracleError(1008, "not all variables bound");
    std::vector<OracleValue> converted;
    const std::vector<OracleValue>* values = &binds;
    if (convertImplicit(tr, binds, converted)) values = &converted;
    if (tr.ddl) {
        // DDL commits what is open and is a transaction of its own, as in Oracle.
        commit();
        columnCache_.clear();
        pg_result* r = run(tr.sql, binds, &tr);
        if (tr.kind == StatementKind::TruncateTable) {
            const char* n = PQcmdTuples(r);
            result.rowsAffected = n && *n ? std::stoll(n) : 0;
        }
        PQclear(r);
        return result;
    }
    const bool fresh = !inTransaction();
    if (fresh) runPlain("BEGIN");
    pg_result* r = run(tr.sql, *values, &tr, fresh);
    if (tr.kind == StatementKind::Query) {
        std::vector<ColumnKind> kinds;
        std::vector<unsigned> oids;
        describe(r, result.columns, kinds, oids);
        readRows(r, kinds, oids, result.rows);
    } else {
        const char* n = PQcmdTuples(r);
        result.rowsAffected = n && *n ? std::stoll(n) : 0;
        if (tr.returnsRowId && result.rowsAffected == 1 && PQntuples(r) == 1)
            result.rowId = PQgetvalue(r, 0, 0);
    }
    PQclear(r);
    return result;
}

// Text given for NUMBER and DATE placeholders, converted with the session's formats; false
// when the values need no conversion (converted is then left alone).
bool PgBackend::convertImplicit(const Translation& tr, const std::vector<OracleValue>& binds,
                                std::vector<OracleValue>& converted) const {
    bool any = false;
    for (const auto& [index, kind] : tr.implicitBinds) {
        if (binds[index].kind != ValueKind::Text || binds[index].text.empty()) continue;
        if (!any) converted = binds;
        any = true;
        OracleValue& v = converted[index];
        if (kind == ColumnKind::Number) {
            v = numberFromText(v.text, formats_);
        } else {
            auto ms = parseStoredDate(v.text);
            v = OracleValue::ofDate(ms ? *ms : dateFromText(v.text, formats_));
        }
    }
    return any;
}

// The rows go out in pipeline mode inside one savepoint, the statement translated once: the
// batch waits for the server once instead of three times a row (savepoint, statement,
// release). When a row fails, the batch goes back to its savepoint and the rows before it
// are made again one by one; the failing row's error is thrown as execute() throws it.
void PgBackend::executeMany(const std::string& sql,
                            const std::vector<std::vector<OracleValue>>& rows,
                            std::size_t& written) {
    written = 0;
    if (rows.empty()) return;
    Translation tr = translate(sql);
    const bool plainChange = !tr.ddl && (tr.kind == StatementKind::Insert ||
                                         tr.kind == StatementKind::Update ||
                                         tr.kind == StatementKind::Delete);
    if (!plainChange) return OracleBackend::executeMany(sql, rows, written);
    if (PQstatus(conn_) != CONNECTION_OK)
        throw OracleError(3113, "end-of-file on communication channel");
    // The values as they are sent; a row whose text does not convert ends the batch there,
    // with the rows before it made.
    std::vector<std::vector<OracleValue>> converted(rows.size());
    std::deque<BoundValues> bound;
    std::exception_ptr badRow;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        try {
            if (rows[i].size() != tr.bindCount) throw OracleError(1008, "not all variables bound");
            bound.emplace_back(convertImplicit(tr, rows[i], converted[i]) ? converted[i] : rows[i]);
        } catch (const OracleError&) {
            badRow = std::current_exception();
            break;
        }
    }
    if (bound.empty()) std::rethrow_exception(badRow);
    if (!inTransaction()) runPlain("BEGIN");
    auto send = [&](const char* text) {
        return PQsendQueryParams(conn_, text, 0, nullptr, nullptr, nullptr, nullptr, 0) != 0;
    };
    // The statement is parsed once for the batch (the unnamed prepared statement).
    bool ok = PQenterPipelineMode(conn_) && send("SAVEPOINT ora_many");
    if (ok)
        ok = PQsendPrepare(conn_, "", tr.sql.c_str(), static_cast<int>(tr.bindCount),
                           bound.front().types.data()) != 0;
    for (std::size_t i = 0; ok && i < bound.size(); ++i) {
        const BoundValues& b = bound[i];
        ok = PQsendQueryPrepared(conn_, "", static_cast<int>(b.values.size()), b.values.data(),
                                 b.lengths.data(), b.formats.data(), 0) != 0;
    }
    ok = ok && send("RELEASE SAVEPOINT ora_many") && PQpipelineSync(conn_);
    // Parts: 0 the savepoint, 1 the statement's preparation, row i is part i + 2, then the
    // release.
    engine::sql::PipelineEnd end;
    if (ok) end = engine::sql::readPipeline(conn_);
    std::unique_ptr<pg_result, void (*)(pg_result*)> failure(end.failed, PQclear);
    const std::size_t failedAt = end.failedAt;
    PQexitPipelineMode(conn_);
    if (!ok || !end.ok) throw OracleError(3113, "end-of-file on communication channel");
    if (!end.failed) {
        written = bound.size();
        if (badRow) std::rethrow_exception(badRow);
        return;
    }
    runPlain("ROLLBACK TO SAVEPOINT ora_many");
    runPlain("RELEASE SAVEPOINT ora_many");
    if (failedAt < 2 || failedAt >= bound.size() + 2) fail(failure.release(), &tr); // not a row's
    for (std::size_t i = 0; i + 2 < failedAt; ++i) {
        const BoundValues& b = bound[i];
        pg_result* r = PQexecParams(conn_, tr.sql.c_str(), static_cast<int>(b.values.size()),
                                    b.types.data(), b.values.data(), b.lengths.data(),
                                    b.formats.data(), 0);
        if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
            fail(r, &tr);
        PQclear(r);
        ++written;
    }
    fail(failure.release(), &tr);
}

void PgBackend::describe(pg_result* r, std::vector<ColumnInfo>& columns,
                         std::vector<ColumnKind>& kinds, std::vector<unsigned>& oids) {
    for (int c = 0; c < PQnfields(r); ++c) {
        const std::string name = PQfname(r, c);
        ColumnInfo info;
        info.type = typeOfColumn(PQftype(r, c), PQfmod(r, c), name);
        info.name = name == "ora$rowid" ? "ROWID" : oracleName(name);
        kinds.push_back(info.type.kind);
        oids.push_back(PQftype(r, c));
        columns.push_back(std::move(info));
    }
}

void PgBackend::readRows(pg_result* r, const std::vector<ColumnKind>& kinds,
                         const std::vector<unsigned>& oids,
                         std::vector<std::vector<OracleValue>>& rows) {
    const int count = PQntuples(r);
    rows.reserve(rows.size() + static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::vector<OracleValue> row;
        row.reserve(kinds.size());
        for (std::size_t c = 0; c < kinds.size(); ++c)
            row.push_back(readValue(r, i, static_cast<int>(c), kinds[c], oids[c]));
        rows.push_back(std::move(row));
    }
}

// A query's rows from a cursor of the server, a batch at a time. The cursor is held over a
// commit, so that a run that commits as it goes can go on reading.
class PgBackend::Cursor final : public OracleCursor {
public:
    Cursor(PgBackend& backend, std::string name) : backend_(backend), name_(std::move(name)) {}
    ~Cursor() override {
        if (batch_) PQclear(batch_);
        if (backend_.conn_ && PQstatus(backend_.conn_) == CONNECTION_OK)
            PQclear(PQexec(backend_.conn_, ("CLOSE " + name_).c_str()));
    }
    //! Fetches the first batch, which also describes the columns.
    void start() {
        fetchBatch();
        describe(batch_, columns, kinds_, oids_);
        kind = StatementKind::Query;
    }
    bool fetch(std::vector<OracleValue>& row) override {
        if (batch_ && next_ >= PQntuples(batch_)) {
            if (PQntuples(batch_) < kBatch) return false;
            fetchBatch();
        }
        if (!batch_ || next_ >= PQntuples(batch_)) return false;
        row.resize(kinds_.size());
        for (std::size_t c = 0; c < kinds_.size(); ++c)
            row[c] = readValue(batch_, next_, static_cast<int>(c), kinds_[c], oids_[c]);
        ++next_;
        return true;
    }

private:
    static constexpr int kBatch = 1000;
    void fetchBatch() {
        if (batch_) PQclear(batch_);
        batch_ = nullptr;
        next_ = 0;
        batch_ =
            backend_.run("FETCH FORWARD " + std::to_string(kBatch) + " FROM " + name_, {}, nullptr);
    }

    PgBackend& backend_;
    std::string name_;
    pg_result* batch_ = nullptr;
    int next_ = 0;
    std::vector<ColumnKind> kinds_;
    std::vector<unsigned> oids_;
};

std::unique_ptr<OracleCursor> PgBackend::openCursor(const std::string& sql,
                                                    const std::vector<OracleValue>& binds) {
    Translation tr = translate(sql);
    if (tr.kind != StatementKind::Query) return OracleBackend::openCursor(sql, binds);
    if (binds.size() != tr.bindCount) throw OracleError(1008, "not all variables bound");
    const bool fresh = !inTransaction();
    if (fresh) runPlain("BEGIN");
    const std::string name = "ora_cursor_" + std::to_string(++cursors_);
    PQclear(
        run("DECLARE " + name + " NO SCROLL CURSOR WITH HOLD FOR " + tr.sql, binds, &tr, fresh));
    auto cursor = std::make_unique<Cursor>(*this, name);
    cursor->start();
    return cursor;
}

const std::vector<PgBackend::Column>& PgBackend::tableColumns(const std::string& schema,
                                                              const std::string& table) {
    const std::string key = schema + "." + table;
    if (auto it = columnCache_.find(key); it != columnCache_.end()) return it->second;
    std::vector<Column> out;
    const char* sql = "SELECT a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_attribute a "
                      "JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = "
                      "c.relnamespace WHERE n.nspname = $1 AND c.relname = $2 AND a.attnum > 0 "
                      "AND NOT a.attisdropped ORDER BY a.attnum";
    const char* values[] = {schema.c_str(), table.c_str()};
    pg_result* r = PQexecParams(conn_, sql, 2, nullptr, values, nullptr, nullptr, 0);
    if (PQresultStatus(r) == PGRES_TUPLES_OK)
        for (int i = 0; i < PQntuples(r); ++i)
            out.push_back({PQgetvalue(r, i, 0), PQgetvalue(r, i, 1)});
    PQclear(r);
    return columnCache_.emplace(key, std::move(out)).first->second;
}

bool PgBackend::hasRowId(const std::string& schema, const std::string& table) {
    const auto& cols = tableColumns(schema, table);
    return std::any_of(cols.begin(), cols.end(),
                       [](const Column& c) { return c.name == "ora$rowid"; });
}

// --- errors

void PgBackend::fail(pg_result* r, const Translation* tr) {
    columnCache_.clear();
    if (PQstatus(conn_) != CONNECTION_OK) {
        PQclear(r);
        throw OracleError(3113, "end-of-file on communication channel");
    }
    auto field = [&](int code) {
        const char* v = r ? PQresultErrorField(r, code) : nullptr;
        return std::string(v ? v : "");
    };
    const std::string state = field(PG_DIAG_SQLSTATE);
    const std::string message = field(PG_DIAG_MESSAGE_PRIMARY);
    const std::string schema = field(PG_DIAG_SCHEMA_NAME);
    const std::string table = field(PG_DIAG_TABLE_NAME);
    const std::string column = field(PG_DIAG_COLUMN_NAME);
    const std::string constraint = field(PG_DIAG_CONSTRAINT_NAME);
    PQclear(r);
    const std::string owner = oracleName(schema.empty() ? schema_ : schema);
    auto is = [&](const char* s) { return state == s; };
    if (is("23505"))
        throw OracleError(1, "unique constraint (" + owner + "." + oracleName(constraint) +
                                 ") violated");
    if (is("23502")) {
        const std::string where =
            "(\"" + owner + "\".\"" + oracleName(table) + "\".\"" + oracleName(column) + "\")";
        if (tr && tr->kind == StatementKind::Update)
            throw OracleError(1407, "cannot update " + where + " to NULL");
        throw OracleError(1400, "cannot insert NULL into " + where);
    }
    if (is("23514"))
        throw OracleError(2290, "check constraint (" + owner + "." + oracleName(constraint) +
                                    ") violated");
    if (is("23503")) throw OracleError(2291, "integrity constraint violated (" + message + ")");
    if (is("22001")) throw OracleError(12899, "value too large for column (" + message + ")");
    if (is("22003"))
        throw OracleError(1438, "value larger than specified precision allowed for this column");
    if (is("22P02") && message.find("numeric") != std::string::npos)
        throw OracleError(1722, "invalid number");
    if (is("22007") || is("22008") || is("22P02"))
        throw OracleError(1861, "literal does not match format string (" + message + ")");
    if (is("22012")) throw OracleError(1476, "divisor is equal to zero");
    if (is("42P01") || is("3F000")) throw OracleError(942, "table or view does not exist");
    if (is("42703") || is("42883")) {
        // 'column "x" does not exist', 'function f(integer) does not exist'
        std::string name = message;
        if (auto a = message.find('"'), b = message.rfind('"'); a != std::string::npos && b > a)
            name = message.substr(a + 1, b - a - 1);
        else if (auto sp = message.find(' '); sp != std::string::npos)
            name = message.substr(sp + 1, message.find('(') - sp - 1);
        if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
        if (name == "ora$rowid") name = "ROWID";
        throw OracleError(904, "\"" + oracleName(name) + "\": invalid identifier");
    }
    if (is("42P07") || is("42710") || is("42723"))
        throw OracleError(955, "name is already used by an existing object");
    if (is("42701")) throw OracleError(957, "duplicate column name");
    if (is("42704")) throw OracleError(1418, "specified index does not exist");
    if (is("42501")) throw OracleError(1031, "insufficient privileges");
    if (is("428C9") || (is("42601") && message.find("more expressions") != std::string::npos))
        throw OracleError(913, "too many values (" + message + ")");
    if (is("42601")) throw OracleError(933, "SQL command not properly ended (" + message + ")");
    if (is("55P03") || is("57014"))
        throw OracleError(54, "resource busy and acquire with NOWAIT specified or timeout expired");
    if (is("40P01")) throw OracleError(60, "deadlock detected while waiting for resource");
    if (is("34000")) throw OracleError(1001, "invalid cursor");
    if (is("53100")) throw OracleError(1653, "unable to extend table (disk full)");
    if (is("25006")) throw OracleError(16000, "database open for read-only access");
    throw OracleError(600, "internal error code, arguments: [" + state + "], [" +
                               (message.empty() ? trimmed(PQerrorMessage(conn_)) : message) + "]");
}

} // namespace fieldsmith::oraclient
