// oracle.ini: the Oracle database names that a logon knows, and where and how each one is
// kept. One section per database:
//
//     [KR4]
//     TYPE=SQLITE
//     PATH=oracle/KR4        (relative to the configuration directory, or absolute)
//
//     [PGORA]
//     TYPE=POSTGRESQL
//     SERVER NAME=dbhost:5432/products   (host[:port]/database)
//
// TYPE=SQLITE is the embedded backend. TYPE=POSTGRESQL keeps the database on a PostgreSQL
// server: the logon's user and password are a role's, each user's tables live in the
// schema of the user's name; no password is ever kept in the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fieldsmith::oraclient {

struct OracleDatabaseEntry {
    std::string name;           //!< as the section names it
    std::string type;           //!< upper case: "SQLITE", ...
    std::filesystem::path path; //!< PATH made absolute against the configuration directory
    std::string server;         //!< SERVER NAME: host[:port]/database of a server database
    std::vector<std::pair<std::string, std::string>> params; //!< every entry in file order
};

//! The databases of configDir/oracle.ini in file order; none when the file is missing.
//! Throws OracleError when the file cannot be read or parsed.
std::vector<OracleDatabaseEntry> readOracleConfig(const std::filesystem::path& configDir);

//! The database of this name (compared without regard to case).
std::optional<OracleDatabaseEntry> findOracleDatabase(const std::filesystem::path& configDir,
                                                      std::string_view name);

//! The database names for a logon dialog's list, in file order.
std::vector<std::string> oracleDatabaseNames(const std::filesystem::path& configDir);

//! The embedded database of this name: its entry, added to oracle.ini (appended; the
//! rest of the file is kept as it is) with PATH=oracle/NAME when missing, and its
//! directory, created when missing. An entry of another type is an error.
OracleDatabaseEntry ensureEmbeddedDatabase(const std::filesystem::path& configDir,
                                           std::string_view name);

} // namespace fieldsmith::oraclient
