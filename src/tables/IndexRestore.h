// Recording, dropping and rebuilding a table's indexes around a key run: the indexes are
// written to an index list file beside the table, dropped under exclusive use, and later
// rebuilt from that file.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {
class Session;
}
namespace fieldsmith::run {
class RunHost;
}

namespace fieldsmith::tables {

//! The four table passwords registered with the session before a table is opened.
const std::array<std::string, 4>& tablePasswords();

//! The table box's text with ".DB" appended when it holds no full stop.
std::string tableNameWithExtension(std::string_view tableBoxText);

//! Where the index list of a table lives: the alias's directory, a separator, the table
//! name with its extension and ".Index.txt". For a server alias, a folder of the alias in
//! the configuration directory stands for the directory.
std::string indexListPath(engine::Session& session, const std::string& alias,
                          const std::string& tableNameWithExt);

//! Writes the index list of the table (primary key line first, marked with "*", then one
//! line per further index) when the table has any, and drops all its indexes. Holds the
//! table exclusively, asking to retry while another user has it open; a Cancel there ends
//! the removal with the engine's error. Opens and closes the table once more, shared, on
//! every way out.
void DeleteAllIndexes(run::RunHost& host, engine::Session& session, const std::string& alias,
                      const std::string& tableBoxText);

//! Rebuilds the indexes from the table's index list file: the "*" line as the primary
//! index, every other line as a case-insensitive index named "_" and its fields joined by
//! "&" (or the date and time and the line number when that is longer than 24 characters).
//! Removes all passwords from the session at the end, whoever registered them.
void RestoreAllIndexes(run::RunHost& host, engine::Session& session, const std::string& alias,
                       const std::string& tableNameWithExt);

//! The restored name of a secondary index from its list line ("ORT;NAME" → "ORT&NAME"),
//! before the "_" is put in front; lineNumber counts from 0.
std::string restoredIndexName(const std::string& line, int lineNumber, const std::string& timestamp);

} // namespace fieldsmith::tables
