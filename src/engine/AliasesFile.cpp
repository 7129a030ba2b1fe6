#include "AliasesFile.h"

#include "EngineError.h"
#include "FieldDef.h"
#include "FileIo.h"
#include "sql/PostgresBackend.h"

#include <algorithm>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace fieldsmith::engine {

namespace fsys = std::filesystem;

namespace {

std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

bool isComment(const std::string& line) {
    const std::string t = trim(line);
    return t.empty() || t[0] == ';' || t[0] == '#';
}

// The section name of a header line "[NAME]", or nothing.
bool headerName(const std::string& line, std::string& name) {
    const std::string t = trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    name = trim(std::string_view(t).substr(1, t.size() - 2));
    return true;
}

// A "key=value" line; comments and headers are none.
bool keyValue(const std::string& line, std::string& key, std::string& value) {
    if (isComment(line)) return false;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return false;
    key = trim(std::string_view(line).substr(0, eq));
    value = trim(std::string_view(line).substr(eq + 1));
    return !key.empty();
}

} // namespace

std::string AliasEntry::param(const std::string& key) const {
    for (const auto& [k, v] : params)
        if (sameName(k, key)) return v;
    return {};
}

AliasesFile::AliasesFile(fsys::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (!fsys::exists(file_, ec)) return;
    std::istringstream in(readWholeFile(file_));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
    }
}

std::vector<AliasEntry> AliasesFile::aliases() const {
    std::vector<AliasEntry> list;
    for (const auto& line : lines_) {
        std::string name, key, value;
        if (headerName(line, name))
            list.push_back({name, {}});
        else if (!list.empty() && keyValue(line, key, value))
            list.back().params.emplace_back(key, value);
    }
    return list;
}

std::pair<std::size_t, std::size_t> AliasesFile::sectionLines(const std::string& name) const {
    std::string header;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!headerName(lines_[i], header) || !sameName(header, name)) continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && !headerName(lines_[end], header))
            ++end;
        // Comments and blank lines before the next header belong to that one.
        while (end > i + 1 && isComment(lines_[end - 1]) && end < lines_.size())
            --end;
        return {i, end};
    }
    return {lines_.size(), lines_.size()};
}

void AliasesFile::set(const AliasEntry& alias) {
    const std::string name = trim(alias.name);
    if (name.empty() || name.find_first_of("[]\r\n;#=") != std::string::npos)
        throw EngineError(ErrorKind::General,
                          "An alias name must not be empty or hold [ ] ; # =: " + alias.name);
    for (const auto& [k, v] : alias.params)
        if (trim(k).empty() || k.find_first_of("=\r\n[]") != std::string::npos ||
            v.find_first_of("\r\n") != std::string::npos)
            throw EngineError(ErrorKind::General,
                              "Parameter " + k + " of alias " + name + " cannot be written");
    auto [first, end] = sectionLines(name);
    if (first == end) {
        if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + name + "]");
        for (const auto& [k, v] : alias.params)
            lines_.push_back(k + "=" + v);
        return;
    }
    // The header takes the name as now spelt; each parameter line its new value.
    lines_[first] = "[" + name + "]";
    std::vector<bool> written(alias.params.size(), false);
    std::size_t lastParam = first;
    for (std::size_t i = first + 1; i < end;) {
        std::string key, value;
        if (!keyValue(lines_[i], key, value)) {
            ++i;
            continue;
        }
        const auto it = std::find_if(alias.params.begin(), alias.params.end(),
                                     [&](const auto& p) { return sameName(p.first, key); });
        if (it == alias.params.end()) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
            continue;
        }
        lines_[i] = it->first + "=" + it->second;
        written[static_cast<std::size_t>(it - alias.params.begin())] = true;
        lastParam = i++;
    }
    std::size_t at = lastParam + 1;
    for (std::size_t p = 0; p < alias.params.size(); ++p) {
        if (written[p]) continue;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at++),
                      alias.params[p].first + "=" + alias.params[p].second);
    }
}

bool AliasesFile::remove(const std::string& name) {
    auto [first, end] = sectionLines(name);
    if (first == end) return false;
    // A blank line that separated the section from the one before goes with it.
    if (first > 0 && trim(lines_[first - 1]).empty()) --first;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

void AliasesFile::save() const {
    std::string text;
    for (const auto& line : lines_)
        text += line + "\n";
    std::error_code ec;
    if (file_.has_parent_path()) fsys::create_directories(file_.parent_path(), ec);
    ReplacementFile replacement(file_);
    replacement.file().writeAt(0, text.data(), text.size());
    replacement.commit();
}

std::string aliasReachability(const AliasEntry& alias) {
    const std::string type = alias.param("TYPE");
    std::error_code ec;
    if (type.empty() || sameName(type, "STANDARD")) {
        const std::string path = alias.param("PATH");
        if (path.empty()) return "The alias has no PATH.";
        if (!fsys::is_directory(path, ec)) return "The directory " + path + " does not exist.";
        if (::access(path.c_str(), R_OK | X_OK) != 0)
            return "The directory " + path + " cannot be read.";
        if (::access(path.c_str(), W_OK) != 0)
            return "The directory " + path + " cannot be written: its tables open read-only.";
        return {};
    }
    if (sameName(type, "SQLITE")) {
        const std::string file = alias.param("SERVER NAME");
        if (file.empty()) return "The alias has no SERVER NAME (the database file).";
        if (fsys::exists(file, ec))
            return ::access(file.c_str(), R_OK | W_OK) == 0
                       ? std::string()
                       : "The database file " + file + " cannot be read and written.";
        const fsys::path dir =
            fsys::path(file).has_parent_path() ? fsys::path(file).parent_path() : fsys::path(".");
        return fsys::is_directory(dir, ec)
                   ? std::string()
                   : "The directory of the database file " + file + " does not exist.";
    }
    if (sameName(type, "POSTGRESQL")) {
        const std::string server = alias.param("SERVER NAME");
        if (server.empty()) return "The alias has no SERVER NAME (host[:port]/database).";
        return sql::pingServer(server);
    }
    return "Aliases of type " + type + " are not supported.";
}

} // namespace fieldsmith::engine
