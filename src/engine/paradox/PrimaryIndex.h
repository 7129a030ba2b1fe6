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

//! What an index tree file (.PX, .Ynn, .YGn) is built over.
struct IndexTreeLayout {
    int fileType = kPrimaryIndex;
    std::vector<FieldDesc> keyFields; //!< descriptors of the key fields
    int version = 12;
    int sortOrder = 0;
    int stamp = 0;     //!< change counter of the file it indexes
    int counter12 = 3; //!< the small counter at 0x12
    std::string tableName;
    //! The cipher key of an encrypted table: its index trees are encrypted as well, so that
    //! no key value is readable on disk. 0 for none.
    std::uint32_t key = 0;
};

//! Writes an index tree over the blocks of a data-type file, root first, at most two
//! levels deep, through a temporary file renamed over the old one.
void writeIndexTreeFile(const std::filesystem::path& path, const IndexTreeLayout& layout,
                        const std::vector<PrimaryIndexEntry>& entries);

//! Writes the .PX for a table with this header (its change counter becomes the stamp).
void writePrimaryIndexFile(const std::filesystem::path& pxPath, const Header& table,
                           const std::vector<PrimaryIndexEntry>& entries);

} // namespace fieldsmith::engine::paradox
