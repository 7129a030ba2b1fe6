// The files of a directory with their bytes, for tests that must show that an operation
// changed nothing on the disk, or put every byte back.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace fieldsmith::test {

//! Every regular file directly in dir, by file name.
inline std::map<std::string, std::string> fileBytes(const std::filesystem::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

} // namespace fieldsmith::test
