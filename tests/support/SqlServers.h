// The SQL servers the tests work against, reached without the engine: a SQLite file in a
// temporary directory, and the throw-away PostgreSQL cluster that scripts/test starts
// (scripts/pg-test-server; FIELDSMITH_TEST_PG and friends name it). Tests that need
// PostgreSQL skip with a line saying why when it is not there.
#pragma once

#include "support/TempDir.h"

#include "engine/Session.h"

#include <cstdlib>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace fieldsmith::test {

enum class Server { Sqlite, Postgres };

inline const char* serverName(Server s) {
    return s == Server::Sqlite ? "SQLite" : "PostgreSQL";
}

//! Why the PostgreSQL tests cannot run, or empty when they can.
inline std::string postgresMissing() {
    if (!std::getenv("FIELDSMITH_TEST_PG"))
        return "no PostgreSQL test server: scripts/test starts one with scripts/pg-test-server "
               "(FIELDSMITH_TEST_PG is not set)";
    return {};
}

//! A database of one server for one test: statements run directly, and an alias of the
//! engine's session pointing at it.
class ServerDatabase {
public:
    explicit ServerDatabase(Server server) : server_(server) {
        if (server == Server::Sqlite) {
            file_ = (dir_ / "test.sqlite").string();
            if (sqlite3_open(file_.c_str(), &lite_) != SQLITE_OK) throw std::runtime_error("cannot open sqlite");
            exec("PRAGMA journal_mode=WAL");
        } else {
            const char* pg = std::getenv("FIELDSMITH_TEST_PG");
            if (!pg) throw std::runtime_error(postgresMissing());
            serverName_ = pg;
            user_ = std::getenv("FIELDSMITH_TEST_PG_USER") ? std::getenv("FIELDSMITH_TEST_PG_USER") : "";
            password_ = std::getenv("FIELDSMITH_TEST_PG_PASSWORD") ? std::getenv("FIELDSMITH_TEST_PG_PASSWORD") : "";
            const std::string hostPort = serverName_.substr(0, serverName_.rfind('/'));
            const std::string conninfo = "host=" + hostPort.substr(0, hostPort.rfind(':')) +
                                         " port=" + hostPort.substr(hostPort.rfind(':') + 1) +
                                         " dbname=" + serverName_.substr(serverName_.rfind('/') + 1) +
                                         " user=" + user_ + " password=" + password_;
            pg_ = PQconnectdb(conninfo.c_str());
            if (PQstatus(pg_) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(pg_));
            exec("SET client_min_messages = warning");
        }
    }
    ~ServerDatabase() {
        if (lite_) sqlite3_close(lite_);
        if (pg_) PQfinish(pg_);
    }
    ServerDatabase(const ServerDatabase&) = delete;
    ServerDatabase& operator=(const ServerDatabase&) = delete;

    Server server() const { return server_; }

    //! The alias parameters of this database (the password is never among them).
    std::vector<std::pair<std::string, std::string>> aliasParams() const {
        if (server_ == Server::Sqlite) return {{"TYPE", "SQLITE"}, {"SERVER NAME", file_}};
        return {{"TYPE", "POSTGRESQL"}, {"SERVER NAME", serverName_}, {"USER NAME", user_}};
    }
    //! Defines the alias in a session, with the password prompt answering for the server.
    void define(engine::Session& session, const std::string& alias) const {
        session.addAlias(alias, aliasParams());
        const std::string password = password_;
        session.setPasswordPrompt([password](const std::string&, const std::string&) {
            return std::optional<std::string>(password);
        });
    }

    void exec(const std::string& sql) {
        if (lite_) {
            char* err = nullptr;
            if (sqlite3_exec(lite_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
                const std::string message = err ? err : "?";
                sqlite3_free(err);
                throw std::runtime_error(sql + ": " + message);
            }
            return;
        }
        PGresult* r = PQexec(pg_, sql.c_str());
        const auto status = PQresultStatus(r);
        const std::string message = PQresultErrorMessage(r);
        PQclear(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw std::runtime_error(sql + ": " + message);
    }

    //! The rows of a query, every value as text ("<null>" for null).
    std::vector<std::vector<std::string>> query(const std::string& sql) {
        std::vector<std::vector<std::string>> rows;
        if (lite_) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(lite_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
                throw std::runtime_error(sql + ": " + sqlite3_errmsg(lite_));
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(st); ++i) {
                    const auto* t = sqlite3_column_text(st, i);
                    row.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
                }
                rows.push_back(std::move(row));
            }
            sqlite3_finalize(st);
            return rows;
        }
        PGresult* r = PQexec(pg_, sql.c_str());
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            const std::string message = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error(sql + ": " + message);
        }
        for (int i = 0; i < PQntuples(r); ++i) {
            std::vector<std::string> row;
            for (int j = 0; j < PQnfields(r); ++j)
                row.push_back(PQgetisnull(r, i, j) ? "<null>" : PQgetvalue(r, i, j));
            rows.push_back(std::move(row));
        }
        PQclear(r);
        return rows;
    }

    //! One column of a query's rows.
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> out;
        for (auto& row : query(sql)) out.push_back(row.at(0));
        return out;
    }

    const std::string& password() const { return password_; }
    const std::string& serverName() const { return serverName_; }

private:
    Server server_;
    TempDir dir_;
    std::string file_;
    std::string serverName_, user_, password_;
    sqlite3* lite_ = nullptr;
    PGconn* pg_ = nullptr;
};

} // namespace fieldsmith::test
