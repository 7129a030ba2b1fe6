#include "Session.h"

#include "EngineError.h"
#include "FieldDef.h"
#include "FileIo.h"
#include "Table.h"
#include "sql/SqlBackend.h"
#include "sql/SqlTable.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ini.h>
#include <sys/stat.h>
#include <utility>

namespace fieldsmith::engine {

namespace fsys = std::filesystem;

fsys::path configDirectory() {
    if (const char* home = std::getenv("FIELDSMITH_HOME"); home && *home) return home;
    if (const char* home = std::getenv("HOME"); home && *home)
        return fsys::path(home) / ".config" / "fieldsmith";
    return fsys::path(".config") / "fieldsmith";
}

Session::Session() = default;

Session::Session(fsys::path configDir) : configDir_(std::move(configDir)) {}

namespace {

struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
};

int collect(void* user, const char* section, const char* name, const char* value) {
    auto& sections = *static_cast<std::vector<IniSection>*>(user);
    if (sections.empty() || sections.back().name != section) sections.push_back({section, {}});
    if (name) sections.back().entries.emplace_back(name, value ? value : "");
    return 1;
}

// Reads an INI file into its sections in file order; a missing file gives none.
std::vector<IniSection> readIni(const fsys::path& file) {
    std::vector<IniSection> sections;
    if (!fsys::exists(file)) return sections;
    const int rc = ini_parse(file.c_str(), collect, &sections);
    if (rc < 0) (void)readWholeFile(file); // throws with the system's reason
    if (rc < 0) throw EngineError("Cannot read " + file.string());
    if (rc > 0)
        throw EngineError("Syntax error in " + file.string() + " at line " + std::to_string(rc));
    return sections;
}

const std::string* findParam(const std::vector<std::pair<std::string, std::string>>& params,
                             std::string_view key) {
    for (const auto& [k, v] : params)
        if (sameName(k, key)) return &v;
    return nullptr;
}

} // namespace

void Session::loadConfiguration() {
    aliases_.clear();
    for (auto& section : readIni(configDir_ / "aliases.ini"))
        aliases_.push_back({section.name, std::move(section.entries)});
    for (const auto& section : readIni(configDir_ / "fieldsmith.ini")) {
        if (!sameName(section.name, "Settings")) continue;
        if (const auto* cp = findParam(section.entries, "AnsiCodePage")) {
            const int value = std::atoi(cp->c_str());
            if (value > 0) ansiCodePage_ = value;
        }
        if (const auto* ld = findParam(section.entries, "DBaseLanguageDriver")) {
            const long value = std::strtol(ld->c_str(), nullptr, 0);
            if (value >= 0 && value <= 255) dBaseLanguageDriver_ = static_cast<int>(value);
        }
        if (const auto* runs = findParam(section.entries, "BackupRuns")) {
            char* end = nullptr;
            const long value = std::strtol(runs->c_str(), &end, 10);
            if (end != runs->c_str() && value >= 0 && value <= 1000) backupRuns_ = static_cast<int>(value);
        }
    }
}

std::vector<std::string> Session::aliasNames() const {
    std::vector<std::string> names;
    for (const auto& a : aliases_) names.push_back(a.name);
    std::sort(names.begin(), names.end());
    return names;
}

const Session::Alias* Session::findAlias(const std::string& name) const {
    for (const auto& a : aliases_)
        if (sameName(a.name, name)) return &a;
    return nullptr;
}

bool Session::hasAlias(const std::string& name) const { return findAlias(name) != nullptr; }

DatabaseDesc Session::databaseDesc(const std::string& alias) const {
    const Alias* a = findAlias(alias);
    if (!a) throw EngineError(ErrorKind::Database, "Unknown database: " + alias);
    DatabaseDesc d;
    d.name = a->name;
    const std::string* type = findParam(a->params, "TYPE");
    d.type = type ? upperAscii(*type) : "STANDARD";
    if (d.type == "STANDARD") {
        if (const std::string* path = findParam(a->params, "PATH")) d.path = *path;
    }
    return d;
}

std::vector<std::pair<std::string, std::string>> Session::aliasParams(const std::string& alias) const {
    const Alias* a = findAlias(alias);
    if (!a) throw EngineError(ErrorKind::Database, "Unknown database: " + alias);
    return a->params;
}

fsys::path Session::directoryOf(const std::string& alias) const {
    const DatabaseDesc d = databaseDesc(alias);
    if (d.type != "STANDARD")
        throw EngineError(ErrorKind::Database,
                          "Database " + alias + " is a server database (" + d.type +
                              "); its tables cannot be opened as file tables");
    if (d.path.empty()) throw EngineError(ErrorKind::Database, "Database " + alias + " has no PATH");
    return d.path;
}

bool Session::isSqlAlias(const std::string& alias) const {
    const Alias* a = findAlias(alias);
    if (!a) return false;
    const std::string* type = findParam(a->params, "TYPE");
    return type && sql::isSqlAliasType(*type);
}

std::optional<std::string> Session::serverPassword(const std::string& alias, const std::string& user) const {
    const std::string key = upperAscii(alias);
    if (auto it = serverPasswords_.find(key); it != serverPasswords_.end()) return it->second;
    if (!passwordPrompt_) return std::nullopt;
    auto password = passwordPrompt_(alias, user);
    if (password) serverPasswords_[key] = *password;
    return password;
}

void Session::forgetServerPassword(const std::string& alias) const {
    serverPasswords_.erase(upperAscii(alias));
}

std::vector<std::string> Session::tableNames(const std::string& alias) const {
    if (isSqlAlias(alias)) return sql::sqlTableNames(*this, alias);
    const fsys::path dir = directoryOf(alias);
    std::error_code ec;
    if (!fsys::is_directory(dir, ec))
        throw EngineError(ErrorKind::Database, "The directory " + dir.string() + " of alias " +
                                                   alias + " does not exist");
    std::vector<std::string> names;
    for (const auto& entry : fsys::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file(ec)) continue;
        const fsys::path p = entry.path();
        const std::string ext = upperAscii(p.extension().string());
        const std::string stem = p.stem().string();
        bool isTable = ext == ".DB" || ext == ".DBF";
        // A text table needs its schema beside it, its extension in any case.
        if (ext == ".TXT") isTable = findCompanion(p, ".SCH").has_value();
        // The engine's own control files are not tables.
        const std::string u = upperAscii(stem);
        if (u == "PDOXUSRS" || u == "PARADOX") isTable = false;
        // A name without extension stands for a Paradox table: the others keep theirs.
        if (isTable) names.push_back(ext == ".DB" ? stem : p.filename().string());
    }
    if (ec) throw EngineError(ErrorKind::Database, "Cannot list " + dir.string() + ": " + ec.message());
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

void Session::addStandardAlias(const std::string& name, const fsys::path& dir) {
    addAlias(name, {{"TYPE", "STANDARD"}, {"PATH", dir.string()}});
}

void Session::addAlias(const std::string& name,
                       std::vector<std::pair<std::string, std::string>> params) {
    for (auto& a : aliases_) {
        if (sameName(a.name, name)) {
            a.params = std::move(params);
            return;
        }
    }
    aliases_.push_back({name, std::move(params)});
}

std::string Session::fileKey(const fsys::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return "file:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string Session::serverTableKey(const std::string& alias, const std::string& table) {
    return "sql:" + upperAscii(alias) + ":" + upperAscii(table);
}

std::vector<Table*> Session::openTablesWithKey(const std::string& key) const {
    std::vector<Table*> found;
    if (key.empty()) return found;
    for (Table* t : openTables_)
        if (t->active() && t->openKey_ == key) found.push_back(t);
    return found;
}

std::vector<Table*> Session::openTablesOnFile(const fsys::path& path) const {
    return openTablesWithKey(fileKey(path));
}

void Session::registerOpen(Table* table) {
    if (std::find(openTables_.begin(), openTables_.end(), table) == openTables_.end())
        openTables_.push_back(table);
}

void Session::unregisterOpen(Table* table) {
    openTables_.erase(std::remove(openTables_.begin(), openTables_.end(), table), openTables_.end());
}

void Session::addPassword(const std::string& password) {
    if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end())
        passwords_.push_back(password);
}

void Session::withoutBeforeWrite(const std::function<void()>& fn) {
    BeforeWrite saved = std::exchange(beforeWrite_, {});
    try {
        fn();
    } catch (...) {
        beforeWrite_ = std::move(saved);
        throw;
    }
    beforeWrite_ = std::move(saved);
}

} // namespace fieldsmith::engine
