#include "OracleTestSupport.h"

#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include "support/SqlServers.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

namespace fieldsmith::oratest {

using namespace oraclient;

std::string backendName(Backend backend) {
    return backend == Backend::Embedded ? "Embedded" : "PostgreSQL";
}

namespace {

// The test server's administrator connection, from the variables scripts/test sets.
PGconn* adminConnection(const std::string& dbname) {
    const std::string server = std::getenv("FIELDSMITH_TEST_PG");
    const std::string hostPort = server.substr(0, server.rfind('/'));
    const char* user = std::getenv("FIELDSMITH_TEST_PG_USER");
    const char* password = std::getenv("FIELDSMITH_TEST_PG_PASSWORD");
    const std::string host = hostPort.substr(0, hostPort.rfind(':'));
    const std::string port = hostPort.substr(hostPort.rfind(':') + 1);
    const char* keys[] = {"host", "port", "dbname", "user", "password", nullptr};
    const char* values[] = {host.c_str(), port.c_str(), dbname.c_str(), user ? user : "",
                            password ? password : "", nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 0);
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("PostgreSQL test server: " + message);
    }
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    return conn;
}

// Runs a statement; errors whose SQLSTATE is in tolerated pass (a role made at the same
// moment by a test running in parallel).
void adminExec(PGconn* conn, const std::string& sql, std::initializer_list<const char*> tolerated = {}) {
    PGresult* r = PQexec(conn, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    const char* field = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    const std::string state = field ? field : ""; // the result's memory goes with PQclear
    const std::string message = PQresultErrorMessage(r);
    PQclear(r);
    if (ok) return;
    for (const char* t : tolerated)
        if (state == t) return;
    throw std::runtime_error(sql + ": " + message);
}

} // namespace

OracleFixture::OracleFixture(Backend backend) : backend_(backend) {
    if (backend == Backend::Embedded) {
        const auto entry = ensureEmbeddedDatabase(dir.path(), "ORA");
        EmbeddedUsers users(entry.path);
        users.add("scott", "tiger");
        users.add("SALES", "s3cret");
        return;
    }
    unavailable_ = test::postgresMissing();
    if (!unavailable_.empty()) return;
    static int counter = 0;
    pgDatabase_ = "fs_ora_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    PGconn* admin = adminConnection("postgres");
    try {
        adminExec(admin, "CREATE DATABASE " + pgDatabase_);
        for (const auto& [role, password] : {std::pair{"scott", "tiger"}, {"sales", "s3cret"}}) {
            adminExec(admin, std::string("CREATE ROLE ") + role + " LOGIN", {"42710", "23505"});
            adminExec(admin, std::string("ALTER ROLE ") + role + " PASSWORD '" + password + "'",
                      {"XX000", "40001"});
            adminExec(admin, "GRANT CREATE ON DATABASE " + pgDatabase_ + " TO " + role);
        }
    } catch (...) {
        PQfinish(admin);
        throw;
    }
    PQfinish(admin);
    const std::string server = std::getenv("FIELDSMITH_TEST_PG");
    std::ofstream ini(dir.path() / "oracle.ini");
    ini << "[ORA]\nTYPE=POSTGRESQL\nSERVER NAME=" << server.substr(0, server.rfind('/') + 1)
        << pgDatabase_ << "\n";
}

OracleFixture::~OracleFixture() {
    if (pgDatabase_.empty()) return;
    try {
        PGconn* admin = adminConnection("postgres");
        adminExec(admin, "DROP DATABASE IF EXISTS " + pgDatabase_ + " WITH (FORCE)");
        PQfinish(admin);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
}

std::filesystem::path OracleFixture::databaseDir() const {
    return dir.path() / "oracle" / "ORA";
}

std::unique_ptr<OracleSession> OracleFixture::logOn(const std::string& user,
                                                    const std::string& password) {
    auto session = std::make_unique<OracleSession>(dir.path());
    session->setLogonUsername(user);
    session->setLogonPassword(password);
    session->setLogonDatabase("ORA");
    session->logOn();
    return session;
}

void OracleFixture::run(OracleSession& session, const std::vector<std::string>& statements) {
    for (const auto& sql : statements) {
        try {
            OracleQuery q(session);
            q.setSql(sql);
            q.open();
        } catch (const OracleError& e) {
            ADD_FAILURE() << sql << ": " << e.what();
        }
    }
}

std::vector<std::string> sqliteRows(const std::filesystem::path& file, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                if (i) row += '|';
                if (sqlite3_column_type(st, i) == SQLITE_NULL) {
                    row += "NULL";
                } else {
                    const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
                    row.append(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
                }
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

} // namespace fieldsmith::oratest
