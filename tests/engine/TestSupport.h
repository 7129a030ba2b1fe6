// Shared helpers of the engine tests: temporary directories, the sample tables and text
// conversion done without the engine.
#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::test {


//! The folder of sample Paradox tables, or an empty path when it is absent.
std::filesystem::path sampleTableDir();

//! A private copy of the sample tables, made once per test program, so that nothing a
//! test does can write into the shared folder. Empty when the samples are absent.
std::filesystem::path sampleTableCopy();

//! Every .DB of the sample tables (in the private copy) except the encrypted one, sorted.
std::vector<std::filesystem::path> sampleTables();

//! The table's files: the .DB and every file beside it with the same stem.
std::vector<std::filesystem::path> tableFamily(const std::filesystem::path& db);

//! Bytes of single-byte text in one code page as the same text in another, byte by byte
//! through iconv; a character the target lacks becomes '?'.
std::string convertCodePage(std::string_view text, const std::string& from, const std::string& to);

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

} // namespace fieldsmith::test
