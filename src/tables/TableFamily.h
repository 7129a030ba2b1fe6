// The files of a table's family (Paradox or dBase), deleted before a table of that name is created
// again, so that no old index or blob file is left beside the new table.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::tables {

//! The 57 extensions of a family, in the order they are tried: DB, MB, PX, FAM, TV, then
//! the secondary index series XG0..XGF, XH0..XH9, YG0..YGF, YH0..YH9.
const std::array<std::string, 57>& familyExtensions();

//! Deletes every existing file of the family of the table at path (directory, separator
//! and the table name as entered: ORDERS.DB or ORDERS). Reports nothing; files that cannot
//! be deleted stay. Nothing else is touched:
//! - a name ending in .DBF (any case) is a dBase table: its family is the table, its memo
//!   file and its production index (ORDERS.DBF, ORDERS.DBT, ORDERS.MDX), and the Paradox
//!   family ORDERS.DB, ORDERS.PX, ... beside it belongs to another table;
//! - any other three-character extension (ORDERS.TXT) deletes nothing;
//! - the stem is matched exactly and the extension without regard to case, so that
//!   ORDERS.px is deleted with ORDERS.DB but orders.px, which on a case-sensitive file
//!   system names another table's file, stays.
void DeleteTableFamily(std::string_view path);

//! Whether a file is a member of the family of the Paradox table at tablePath (the same
//! directory and stem, an extension of the list in any case), or the table file itself
//! under another name: a file that a text export or import must not use in its place.
bool isFamilyFile(const std::filesystem::path& file, const std::filesystem::path& tablePath);

//! The existing files of the family of the table whose main file is given, the main file
//! first: a Paradox table's as DeleteTableFamily deletes them and its .VAL and single-field
//! secondary indexes (.X01 to .XFF, .Y01 to .YFF), a dBase table's .DBF, .DBT and .MDX, a
//! text table's .TXT and .SCH.
std::vector<std::filesystem::path> familyFiles(const std::filesystem::path& mainFile);

} // namespace fieldsmith::tables
