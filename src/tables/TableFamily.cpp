#include "TableFamily.h"

#include "engine/FieldDef.h"

#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fieldsmith::tables {

namespace fsys = std::filesystem;

const std::array<std::string, 57>& familyExtensions() {
    static const std::array<std::string, 57> list = [] {
        std::array<std::string, 57> l;
        std::size_t i = 0;
        for (const char* e : {"DB", "MB", "PX", "FAM", "TV"})
            l[i++] = e;
        const char* hex = "0123456789ABCDEF";
        for (const char* series : {"XG", "XH", "YG", "YH"}) {
            const int digits = series[1] == 'G' ? 16 : 10;
            for (int d = 0; d < digits; ++d)
                l[i++] = std::string(series) + hex[d];
        }
        return l;
    }();
    return list;
}

namespace {

// The existing files stem + extension, the stem matched exactly and the extension without
// regard to case, in the order of the extensions.
std::vector<fsys::path> findMembers(const std::string& stem, const std::vector<std::string>& extensions) {
    std::vector<fsys::path> members;
    const fsys::path stemPath(stem);
    const fsys::path dir = stemPath.has_parent_path() ? stemPath.parent_path() : fsys::path(".");
    const std::string stemName = stemPath.filename().string();
    std::error_code ec;
    if (!fsys::is_directory(dir, ec)) return members;
    // The directory's names once; each extension is then tried in its order.
    std::vector<std::string> names;
    for (const auto& entry : fsys::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > stemName.size() && name.compare(0, stemName.size(), stemName) == 0)
            names.push_back(name);
    }
    for (const auto& ext : extensions)
        for (const auto& name : names)
            if (engine::sameName(std::string_view(name).substr(stemName.size()), ext))
                members.push_back(dir / name);
    return members;
}

// Every file a Paradox table may have: the family that DeleteTableFamily knows, the validity
// checks, and the single-field secondary indexes X01..XFF and Y01..YFF that other programs
// write (numbered by the field in hexadecimal). A backup or preview that left one out would
// put a table back beside an index of other data.
const std::vector<std::string>& paradoxFileExtensions() {
    static const std::vector<std::string> list = [] {
        const auto& family = familyExtensions();
        std::vector<std::string> l(family.begin(), family.end());
        l.emplace_back("VAL");
        const char* hex = "0123456789ABCDEF";
        for (char series : {'X', 'Y'})
            for (int n = 1; n < 256; ++n) l.push_back({series, hex[n / 16], hex[n % 16]});
        return l;
    }();
    return list;
}

// Deletes the members that exist; a file that cannot go stays.
void deleteMembers(const std::string& stem, const std::vector<std::string>& extensions) {
    std::error_code ec;
    for (const auto& file : findMembers(stem, extensions)) fsys::remove(file, ec);
}

} // namespace

void DeleteTableFamily(std::string_view path) {
    const std::size_t n = path.size();
    const std::size_t sep = path.find_last_of('/');
    const std::string_view last = sep == std::string_view::npos ? path : path.substr(sep + 1);
    // A dBase table: the table, its memo file and its production index.
    if (last.size() > 4 && engine::sameName(last.substr(last.size() - 4), ".DBF")) {
        deleteMembers(std::string(path.substr(0, n - 3)), {"DBF", "DBT", "MDX"});
        return;
    }
    std::string stem; // ends in the dot
    if (n >= 3 && path[n - 3] == '.' && last.size() >= 3) {
        stem = std::string(path.substr(0, n - 2));
    } else if (!last.empty() && last.find('.') == std::string_view::npos) {
        stem = std::string(path) + ".";
    } else {
        return; // no name, or an extension of another length: not a Paradox table
    }
    const auto& list = familyExtensions();
    deleteMembers(stem, std::vector<std::string>(list.begin(), list.end()));
}

std::vector<fsys::path> familyFiles(const fsys::path& mainFile) {
    const std::string main = mainFile.string();
    const std::string ext = mainFile.extension().string();
    std::vector<std::string> extensions;
    if (engine::sameName(ext, ".DBF")) {
        extensions = {"DBF", "DBT", "MDX"};
    } else if (engine::sameName(ext, ".TXT")) {
        extensions = {"TXT", "SCH"};
    } else if (ext.size() == 3 || ext.size() == 4) {
        extensions = paradoxFileExtensions();
    } else {
        return {};
    }
    std::vector<fsys::path> files = findMembers(main.substr(0, main.size() - ext.size() + 1), extensions);
    // The main file as it was named comes first, whatever case its extension has.
    std::error_code ec;
    for (auto& f : files)
        if (fsys::equivalent(f, mainFile, ec)) std::swap(f, files.front());
    return files;
}

bool isFamilyFile(const fsys::path& file, const fsys::path& tablePath) {
    std::error_code ec;
    if (fsys::equivalent(file, tablePath, ec)) return true; // the table file under another name
    const std::string ext = file.extension().string();
    if (ext.size() < 2 || file.stem() != tablePath.stem()) return false;
    const fsys::path fileDir = file.has_parent_path() ? file.parent_path() : ".";
    const fsys::path tableDir = tablePath.has_parent_path() ? tablePath.parent_path() : ".";
    if (!fsys::equivalent(fileDir, tableDir, ec)) return false;
    for (const auto& member : familyExtensions())
        if (engine::sameName(std::string_view(ext).substr(1), member)) return true;
    return false;
}

} // namespace fieldsmith::tables
