#include "OracleConfig.h"

#include "OracleError.h"
#include "engine/FieldDef.h"

#include <fstream>
#include <ini.h>

namespace fieldsmith::oraclient {

namespace fsys = std::filesystem;
using engine::sameName;
using engine::upperAscii;

namespace {

int collect(void* user, const char* section, const char* name, const char* value) {
    auto& entries = *static_cast<std::vector<OracleDatabaseEntry>*>(user);
    if (entries.empty() || entries.back().name != section) entries.push_back({section, {}, {}, {}, {}});
    if (name) entries.back().params.emplace_back(name, value ? value : "");
    return 1;
}

} // namespace

std::vector<OracleDatabaseEntry> readOracleConfig(const fsys::path& configDir) {
    std::vector<OracleDatabaseEntry> entries;
    const fsys::path file = configDir / "oracle.ini";
    if (!fsys::exists(file)) return entries;
    const int rc = ini_parse(file.c_str(), collect, &entries);
    if (rc != 0)
        throw OracleError(12154, "TNS:could not resolve the connect identifier specified (" +
                                     file.string() + (rc > 0 ? " line " + std::to_string(rc) : "") +
                                     " unreadable)");
    for (auto& e : entries) {
        for (const auto& [k, v] : e.params) {
            if (sameName(k, "TYPE"))
                e.type = upperAscii(v);
            else if (sameName(k, "PATH"))
                e.path = fsys::path(v);
            else if (sameName(k, "SERVER NAME"))
                e.server = v;
        }
        if (!e.path.empty() && e.path.is_relative()) e.path = configDir / e.path;
    }
    return entries;
}

std::optional<OracleDatabaseEntry> findOracleDatabase(const fsys::path& configDir,
                                                      std::string_view name) {
    for (auto& e : readOracleConfig(configDir))
        if (sameName(e.name, name)) return e;
    return std::nullopt;
}

std::vector<std::string> oracleDatabaseNames(const fsys::path& configDir) {
    std::vector<std::string> names;
    for (const auto& e : readOracleConfig(configDir))
        names.push_back(e.name);
    return names;
}

OracleDatabaseEntry ensureEmbeddedDatabase(const fsys::path& configDir, std::string_view name) {
    const std::string upper = upperAscii(name);
    if (upper.empty() || upper.find_first_of("[]=;#\r\n/\\") != std::string::npos)
        throw OracleError(12154, "TNS:could not resolve the connect identifier specified");
    auto entry = findOracleDatabase(configDir, upper);
    if (!entry) {
        fsys::create_directories(configDir);
        const fsys::path file = configDir / "oracle.ini";
        // Append, so that whatever the file holds stays as it is.
        bool needsBreak = false;
        if (fsys::exists(file) && fsys::file_size(file) > 0) {
            std::ifstream in(file, std::ios::binary);
            in.seekg(-1, std::ios::end);
            needsBreak = in.get() != '\n';
        }
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << (needsBreak ? "\n" : "") << "[" << upper << "]\nTYPE=SQLITE\nPATH=oracle/" << upper
            << "\n";
        out.close();
        if (!out) throw OracleError(12154, "cannot write " + file.string());
        entry = findOracleDatabase(configDir, upper);
        if (!entry)
            throw OracleError(12154, "TNS:could not resolve the connect identifier specified");
    }
    if (entry->type != "SQLITE")
        throw OracleError(12154, "database " + entry->name + " is of type " + entry->type +
                                     ", not an embedded one");
    if (entry->path.empty())
        throw OracleError(12154, "database " + entry->name + " has no PATH in oracle.ini");
    fsys::create_directories(entry->path);
    return *entry;
}

} // namespace fieldsmith::oraclient
