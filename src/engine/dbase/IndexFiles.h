// The index files of a dBase table: the production .MDX with up to 47 tags (read, and
// written whole from the records) and single .NDX files (their definitions).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class File;
}

namespace fieldsmith::engine::dbase {

//! A tag as its header describes it.
struct TagDef {
    std::string name;       //!< upper case, at most 10 characters
    std::string expression; //!< the key expression as stored
    std::string condition;  //!< the FOR condition, empty for none
    char keyType = 'C';
    int keyLength = 0;
    bool unique = false;
    bool descending = false;
};

//! A tag with its keys in index order: (key bytes, record number).
struct TagContent {
    TagDef def;
    bool singleField = false;
    std::vector<std::pair<std::string, std::uint32_t>> entries;
};

constexpr int kMaxTags = 47;

//! Reads the tag definitions of a production index. Throws a Damaged error naming the file
//! and the offset when the header or a tag header lies outside the file.
std::vector<TagDef> readMdxTags(const File& mdx);

//! Writes a production index for the table of this stem with these tags, through a
//! replacement file that takes the old one's place only when complete and flushed.
void writeMdx(const std::filesystem::path& path, const std::string& tableStem,
              const std::vector<TagContent>& tags);

//! The definition of a single index file: its name is the file's stem.
TagDef readNdxDefinition(const File& ndx);

} // namespace fieldsmith::engine::dbase
