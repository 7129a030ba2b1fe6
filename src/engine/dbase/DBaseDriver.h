// dBase tables (.DBF with .DBT and .MDX; FoxPro tables with .FPT read only): opening,
// creating and adding index tags.
#pragma once

#include "../FieldDef.h"
#include "../TableDriver.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class Session;
}

namespace fieldsmith::engine::dbase {

//! Opens a dBase or FoxPro table for reading and (dBase III+ and IV) changing.
std::unique_ptr<TableDriver> openDBaseTable(const OpenRequest& request);

//! Creates an empty dBase IV table, replacing an older table of that name with its memo and
//! index files: version 0x03, or 0x8B with a dBase IV memo file when a field is a memo;
//! the language-driver byte of the session's code page; a production index with a tag for
//! each index definition. A primary index is refused: dBase tables have none.
void createDBaseTable(const std::filesystem::path& path, const std::vector<FieldDef>& fields,
                      const std::vector<IndexDef>& indexes, const Session& session);

//! Adds a tag to the production index of a closed table (which it opens exclusively).
//! The name is cut to the ten characters a tag name has, and made unique.
void addDBaseIndex(const std::filesystem::path& path, const std::string& name,
                   const std::string& fields, unsigned options, const Session& session);

} // namespace fieldsmith::engine::dbase
