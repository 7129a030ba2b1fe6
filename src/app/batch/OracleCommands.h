// The Oracle commands of fieldsmith-batch: managing the users of an embedded Oracle
// database, and running one SQL statement with its rows printed as CSV.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace fieldsmith::batch {

//! oracle-user add|passwd|remove DATABASE USER [--yes]. The password is read from the
//! terminal without echo (twice), or as one line of standard input when that is not a
//! terminal. Removing a user whose schema holds tables needs --yes. An unknown database
//! is added to oracle.ini as an embedded one.
int oracleUserCommand(const std::filesystem::path& configDir,
                      const std::vector<std::string>& operands, std::istream& in, std::ostream& out,
                      std::ostream& err);

//! sql DATABASE STATEMENT with the logon USER[@DATABASE] (from --oracle-logon) and the
//! password from $FIELDSMITH_ORACLE_PASSWORD or read as oracle-user reads it. A query's
//! rows go to out as UTF-8 CSV (RFC 4180) with a header line and ISO dates; other
//! statements report their feedback on err and are committed.
int sqlCommand(const std::filesystem::path& configDir, const std::string& logon,
               const std::string& database, const std::string& statement, std::istream& in,
               std::ostream& out, std::ostream& err);

//! One password: from the terminal without echo when in is standard input on a terminal
//! (after the prompt on err), else one line of in. Empty when nothing could be read.
std::string readPassword(std::istream& in, std::ostream& err, const std::string& prompt);

} // namespace fieldsmith::batch
