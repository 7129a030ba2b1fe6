// A configuration directory with one embedded Oracle database and its users, for the
// tests of the Oracle client layer; and a direct look into a schema file through SQLite.
#pragma once

#include "oraclient/OracleSession.h"
#include "support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace fieldsmith::oratest {

class OracleFixture {
public:
    //! Database ORA with the users SCOTT (password tiger) and SALES (password s3cret).
    OracleFixture();

    const std::filesystem::path& configDir() const { return dir.path(); }
    std::filesystem::path databaseDir() const;
    //! A connected session for user/password on ORA with plain ISO formats.
    std::unique_ptr<oraclient::OracleSession> logOn(const std::string& user = "SCOTT",
                                                    const std::string& password = "tiger");
    //! Runs statements on a session, failing the test on an error.
    static void run(oraclient::OracleSession& session, const std::vector<std::string>& statements);

    test::TempDir dir;
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
