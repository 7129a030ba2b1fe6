// The primary index file (.PX): a B-tree over the data blocks of a keyed table, rebuilt
// whole from the block chain.
#pragma once

#include "ParadoxHeader.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine::paradox {

//! One data block as the lowest index level sees it: its first key and its records.
struct PrimaryIndexEntry {
    std::string key; //!< stored bytes of the key fields of the block's first record
    std::uint16_t block = 0;
    std::uint16_t count = 0;
};

//! Writes the .PX for a table with this header (its change counter becomes the stamp),
//! through a temporary file renamed over the old one.
void writePrimaryIndexFile(const std::filesystem::path& pxPath, const Header& table,
                           const std::vector<PrimaryIndexEntry>& entries);

} // namespace fieldsmith::engine::paradox
