#include "app/run/PageRules.h"

#include <cctype>
#include <cstdio>

namespace fieldsmith::run {

namespace {

// Upper case of the letters a to z only, as the text rules of the pages have it.
std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace

std::string csvTargetName(std::string_view csvFile) {
    // File names are case-sensitive here: the directory part is kept as typed.
    const auto sep = csvFile.rfind('/');
    const std::size_t nameStart = sep == std::string_view::npos ? 0 : sep + 1;
    const auto dot = csvFile.rfind('.');
    if (dot == std::string_view::npos) return "DB";
    if (dot < nameStart) return std::string(csvFile.substr(0, nameStart)) + "DB";
    return std::string(csvFile.substr(0, nameStart)) +
           asciiUpper(csvFile.substr(nameStart, dot + 1 - nameStart)) + "DB";
}

std::string newTableNameFor(std::string_view sourceTable) {
    return "NEW" + std::string(sourceTable) + ".DB";
}

std::string exportFileName(std::string_view tempDirWithSeparator, std::string_view table, int hour,
                           int minute, int second) {
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d%02d%02d", hour, minute, second);
    return std::string(tempDirWithSeparator) + std::string(table) + "_" + clock + "_INSERTS.SQL";
}

std::string TableNameFromFile(std::string_view fileName) {
    const auto sep = fileName.rfind('/');
    if (sep == std::string_view::npos) return {};
    // "_hhmmss_INSERTS.SQL" at the end: what stands before it is the whole table name.
    constexpr std::string_view kSuffix = "_INSERTS.SQL";
    const std::string_view name = fileName.substr(sep + 1);
    if (name.size() > kSuffix.size() + 7) {
        const std::string_view tail = name.substr(name.size() - kSuffix.size());
        const std::string_view clock = name.substr(name.size() - kSuffix.size() - 6, 6);
        bool suffix = true;
        for (std::size_t i = 0; i < tail.size(); ++i)
            suffix = suffix && std::toupper(static_cast<unsigned char>(tail[i])) == kSuffix[i];
        for (char c : clock)
            suffix = suffix && c >= '0' && c <= '9';
        if (suffix && name[name.size() - kSuffix.size() - 7] == '_')
            return std::string(name.substr(0, name.size() - kSuffix.size() - 7));
    }
    const auto underscore = fileName.find('_', sep + 1);
    if (underscore == std::string_view::npos) return {};
    return std::string(fileName.substr(sep + 1, underscore - sep - 1));
}

std::string joinPickerPath(std::string_view directory, std::string_view fileName) {
    if (directory == "/" || (!directory.empty() && directory.back() == '/'))
        return std::string(directory) + std::string(fileName);
    return std::string(directory) + "/" + std::string(fileName);
}

} // namespace fieldsmith::run
