// What the alias, table, field and index pickers ask of the engine, without the boxes:
// GetAliasPath, the field names of a table and the field lists of its indexes.
#pragma once

#include <string>
#include <vector>

namespace fieldsmith::engine {
class Session;
class Table;
} // namespace fieldsmith::engine

namespace fieldsmith::run {

//! Where an alias points: the directory of a STANDARD alias, else the alias's
//! "SERVER NAME" parameter (empty when it has none). Only the first 31 characters of the
//! name are looked up. An unknown alias is the engine's error.
std::string GetAliasPath(const engine::Session& session, const std::string& aliasName);

//! The field names of a table in field order. Opens a temporary table object and closes
//! it again, also when the open fails (the engine's error then propagates).
std::vector<std::string> tableFieldNames(engine::Session& session, const std::string& alias,
                                         const std::string& table);

//! The index list of an open table: each index as its field names joined by ";", in the
//! engine's order; index names are not part of it. Refreshes the index definitions first.
std::vector<std::string> indexFieldLists(engine::Table& table);

} // namespace fieldsmith::run
