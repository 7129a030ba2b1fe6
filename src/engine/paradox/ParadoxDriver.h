// Paradox tables (.DB with .PX and .MB): opening, creating and re-indexing.
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

namespace fieldsmith::engine::paradox {

//! Opens a Paradox table for reading and changing. Errors name the file.
std::unique_ptr<TableDriver> openParadoxTable(const OpenRequest& request);

//! Creates an empty level-7 table, replacing an older table of that name with its index
//! and blob files. A primary index in indexes must cover the leading fields. With a
//! password the table and its blob file are stored encrypted.
void createParadoxTable(const std::filesystem::path& path, const std::vector<FieldDef>& fields,
                        const std::vector<IndexDef>& indexes, const Session& session,
                        const std::string& password = {});

//! Adds an index to a closed table. The primary index sorts the records and fails on a
//! duplicate key.
void addParadoxIndex(const std::filesystem::path& path, const std::string& name,
                     const std::string& fields, unsigned options, const Session& session);

//! Drops an index of a closed table by name ("" = the primary index).
void dropParadoxIndex(const std::filesystem::path& path, const std::string& name,
                      const Session& session);

} // namespace fieldsmith::engine::paradox
