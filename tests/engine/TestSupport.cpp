#include "TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iconv.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>

#ifndef FIELDSMITH_TESTDATA
#define FIELDSMITH_TESTDATA ""
#endif

namespace fieldsmith::test {

namespace fs = std::filesystem;

fs::path sampleTableDir() {
    const fs::path dir = fs::path(FIELDSMITH_TESTDATA) / "paradox";
    std::error_code ec;
    return fs::is_directory(dir, ec) ? dir : fs::path();
}

fs::path sampleTableCopy() {
    static const std::unique_ptr<TempDir> copy = [] {
        const fs::path from = sampleTableDir();
        if (from.empty()) return std::unique_ptr<TempDir>();
        auto dir = std::make_unique<TempDir>();
        fs::copy(from, dir->path(), fs::copy_options::recursive);
        // The originals are read-only; the copies must be writable by the tests.
        for (const auto& e : fs::recursive_directory_iterator(dir->path()))
            if (e.is_regular_file())
                fs::permissions(e.path(), fs::perms::owner_read | fs::perms::owner_write);
        return dir;
    }();
    return copy ? copy->path() : fs::path();
}

std::vector<fs::path> sampleTables() {
    std::vector<fs::path> tables;
    const fs::path root = sampleTableCopy();
    if (root.empty()) return tables;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string ext = e.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (ext != ".DB") continue;
        if (e.path().parent_path().filename() == "encrypt") continue;
        tables.push_back(e.path());
    }
    std::sort(tables.begin(), tables.end());
    return tables;
}

std::vector<fs::path> tableFamily(const fs::path& db) {
    std::vector<fs::path> family;
    for (const auto& e : fs::directory_iterator(db.parent_path()))
        if (e.is_regular_file() && e.path().stem() == db.stem()) family.push_back(e.path());
    std::sort(family.begin(), family.end());
    return family;
}

std::string convertCodePage(std::string_view text, const std::string& from, const std::string& to) {
    if (from == to) return std::string(text);
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("iconv cannot convert " + from + " to " + to);
    std::string out;
    for (char c : text) {
        char in[1] = {c};
        char res[8];
        char* src = in;
        char* dst = res;
        std::size_t srcLeft = 1, dstLeft = sizeof res;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        if (r == static_cast<std::size_t>(-1) || dst - res != 1)
            out += '?';
        else
            out += res[0];
    }
    iconv_close(cd);
    return out;
}

std::vector<std::uint8_t> readFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Overwrites in place and then sets the size: a file truncated to zero and rewritten is
// flushed to the disk on close by ext4, which would make the damage tests slow.
void writeFileBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    {
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        if (!out) out.open(path, std::ios::binary | std::ios::out);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + path.string());
    }
    fs::resize_file(path, bytes.size());
}

} // namespace fieldsmith::test
