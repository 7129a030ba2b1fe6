// Copying a table's files with the kernel's copy offload, for backups and previews.
#pragma once

#include <filesystem>

namespace fieldsmith::tables {

//! Copies a file with a reflink where the file system shares blocks, else with
//! copy_file_range, and with plain reads and writes only where neither works. The copy gets
//! the source's times. durable: flushed to the disk before it returns. Errors are thrown as
//! engine errors naming the file.
void copyFile(const std::filesystem::path& from, const std::filesystem::path& to, bool durable);

} // namespace fieldsmith::tables
