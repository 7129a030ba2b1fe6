#include "EmbeddedUsers.h"

#include "OracleError.h"
#include "SqliteSchema.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <ini.h>
#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

namespace fieldsmith::oraclient {

namespace fsys = std::filesystem;

namespace {

const char* kUsersFile = "users.ini";

// libsodium must be initialised once before its first use; it is safe to call again.
void initSodium() {
    if (sodium_init() < 0) throw OracleError(600, "internal error code, arguments: [sodium_init]");
}

std::string hashPassword(std::string_view password) {
    if (password.empty()) throw OracleError(988, "missing or invalid password(s)");
    initSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw OracleError(4030, "out of process memory when trying to hash a password");
    return out;
}

int collect(void* user, const char* section, const char* name, const char* value) {
    auto& out = *static_cast<std::vector<std::pair<std::string, std::string>>*>(user);
    if (name && std::string_view(name) == "PASSWORD HASH")
        out.emplace_back(section, value ? value : "");
    return 1;
}

} // namespace

std::string checkedUserName(std::string_view name) {
    std::string out;
    for (char c : name)
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool ok = !out.empty() && out.size() <= 30 && std::isalpha(static_cast<unsigned char>(out[0]));
    for (char c : out)
        ok =
            ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#');
    if (!ok) throw OracleError(1935, "missing user or role name");
    return out;
}

EmbeddedUsers::EmbeddedUsers(fsys::path databaseDir) : dir_(std::move(databaseDir)) {}

std::vector<EmbeddedUsers::Entry> EmbeddedUsers::read() const {
    std::vector<std::pair<std::string, std::string>> raw;
    const fsys::path file = dir_ / kUsersFile;
    if (fsys::exists(file) && ini_parse(file.c_str(), collect, &raw) != 0)
        throw OracleError(1017, "invalid username/password; logon denied (" + file.string() +
                                    " unreadable)");
    std::vector<Entry> entries;
    for (auto& [name, hash] : raw)
        entries.push_back({name, hash});
    return entries;
}

// Writes the file anew beside the old one and renames it over it, readable by the owner only.
void EmbeddedUsers::write(const std::vector<Entry>& entries) const {
    fsys::create_directories(dir_);
    const fsys::path file = dir_ / kUsersFile;
    const fsys::path temp = dir_ / (std::string(kUsersFile) + ".new");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        ::chmod(temp.c_str(), 0600);
        out << "; Users of this database. Passwords are kept only as salted Argon2id hashes.\n";
        for (const auto& e : entries)
            out << "\n[" << e.name << "]\nPASSWORD HASH=" << e.hash << "\n";
        out.flush();
        if (!out) throw OracleError(1653, "cannot write " + temp.string());
    }
    fsys::rename(temp, file);
}

std::vector<std::string> EmbeddedUsers::names() const {
    std::vector<std::string> out;
    for (const auto& e : read())
        out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
}

bool EmbeddedUsers::exists(std::string_view name) const {
    const std::string upper = checkedUserName(name);
    for (const auto& e : read())
        if (e.name == upper) return true;
    return false;
}

fsys::path EmbeddedUsers::schemaFile(std::string_view name) const {
    return dir_ / (checkedUserName(name) + ".sqlite");
}

void EmbeddedUsers::add(std::string_view name, std::string_view password) {
    const std::string upper = checkedUserName(name);
    auto entries = read();
    for (const auto& e : entries)
        if (e.name == upper)
            throw OracleError(1920,
                              "user name '" + upper + "' conflicts with another user or role name");
    const std::string hash = hashPassword(password);
    createSchemaFile(schemaFile(upper));
    entries.push_back({upper, hash});
    write(entries);
}

void EmbeddedUsers::setPassword(std::string_view name, std::string_view password) {
    const std::string upper = checkedUserName(name);
    auto entries = read();
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.name == upper; });
    if (it == entries.end()) throw OracleError(1918, "user '" + upper + "' does not exist");
    it->hash = hashPassword(password);
    write(entries);
}

void EmbeddedUsers::remove(std::string_view name) {
    const std::string upper = checkedUserName(name);
    auto entries = read();
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.name == upper; });
    if (it == entries.end()) throw OracleError(1918, "user '" + upper + "' does not exist");
    entries.erase(it);
    write(entries);
    const fsys::path file = schemaFile(upper);
    for (const char* suffix : {"", "-wal", "-shm"})
        fsys::remove(file.string() + suffix);
}

bool EmbeddedUsers::verify(std::string_view name, std::string_view password) const {
    std::string upper;
    try {
        upper = checkedUserName(name);
    } catch (const OracleError&) {
        return false;
    }
    initSodium();
    for (const auto& e : read()) {
        if (e.name != upper) continue;
        return crypto_pwhash_str_verify(e.hash.c_str(), password.data(), password.size()) == 0;
    }
    return false;
}

std::vector<std::string> EmbeddedUsers::tablesOf(std::string_view name) const {
    return schemaTables(schemaFile(name));
}

} // namespace fieldsmith::oraclient
