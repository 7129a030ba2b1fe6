// How the embedded backend keeps Oracle data in SQLite files: the schema file of a user,
// the declared types that carry the Oracle column types, and dates as sortable ISO text.
// Used inside the layer only.
#pragma once

#include "OracleValue.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace fieldsmith::oraclient {

//! Creates an empty schema file in WAL mode; an existing file is left as it is.
void createSchemaFile(const std::filesystem::path& file);
//! The names of the tables in a schema file (none when the file is missing).
std::vector<std::string> schemaTables(const std::filesystem::path& file);

//! The connection settings every schema of a session gets; see the comment in the source.
void applyDurability(sqlite3* db, const std::string& schema);

//! The declared SQLite type that keeps an Oracle type and gives the right affinity
//! (LONG is declared "LONG TEXT": the bare word would make SQLite turn "007" into 7).
std::string declaredTypeFor(const OracleType& type);
//! The Oracle type behind a declared SQLite type; Unknown for anything else.
OracleType typeFromDeclared(const char* declared);

//! A date as stored: "YYYY-MM-DD HH:MM:SS", with ".fff" for a timestamp with fractions.
//! This text sorts in date order and reads back exactly.
std::string storedDate(std::int64_t msSinceDayZero, bool withFraction);
//! A stored date ("YYYY-MM-DD", optionally " HH:MM:SS" and ".f..."), else no value.
std::optional<std::int64_t> parseStoredDate(std::string_view text);

//! The classic zero date (1899-12-30 00:00), which a session may write as null.
std::int64_t zeroDateMs();

} // namespace fieldsmith::oraclient
