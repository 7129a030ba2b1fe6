// A configuration directory with one Oracle database and its users, for the tests of the
// Oracle client layer: the embedded backend, or a database of its own on the PostgreSQL
// test server (scripts/pg-test-server); and a direct look into a schema file through SQLite.
#pragma once

#include "oraclient/OracleSession.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldsmith::oratest {

enum class Backend { Embedded, Postgres };

//! "Embedded" or "PostgreSQL", for the names of parametrized tests.
std::string backendName(Backend backend);

class OracleFixture {
public:
    //! Database ORA with the users SCOTT (password tiger) and SALES (password s3cret). On
    //! PostgreSQL the database is made for this fixture and dropped with it, the users are
    //! roles of the server; unavailable() says why when there is no server.
    explicit OracleFixture(Backend backend = Backend::Embedded);
    ~OracleFixture();
    OracleFixture(const OracleFixture&) = delete;
    OracleFixture& operator=(const OracleFixture&) = delete;

    Backend backend() const { return backend_; }
    //! Why the backend cannot be tested here; empty when it can.
    const std::string& unavailable() const { return unavailable_; }

    const std::filesystem::path& configDir() const { return dir.path(); }
    std::filesystem::path databaseDir() const;
    //! A connected session for user/password on ORA with plain ISO formats.
    std::unique_ptr<oraclient::OracleSession> logOn(const std::string& user = "SCOTT",
                                                    const std::string& password = "tiger");
    //! Runs statements on a session, failing the test on an error.
    static void run(oraclient::OracleSession& session, const std::vector<std::string>& statements);

    test::TempDir dir;

private:
    Backend backend_;
    std::string unavailable_;
    std::string pgDatabase_; //!< the server database made for this fixture
};

//! The rows of a query run by the sqlite3 library on a schema file, each value as SQLite's
//! text ("NULL" for null), columns joined by "|".
std::vector<std::string> sqliteRows(const std::filesystem::path& file, const std::string& sql);

//! The ORA code that a call throws, 0 when it throws nothing.
template <typename Fn> int oraCodeOf(Fn fn) {
    try {
        fn();
    } catch (const oraclient::OracleError& e) {
        return e.code();
    }
    return 0;
}

} // namespace fieldsmith::oratest
