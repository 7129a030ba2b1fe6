// The users of an embedded database directory: each one's password, kept only as a
// salted Argon2id hash (libsodium's crypto_pwhash_str) in users.ini, and each one's
// schema, the SQLite file NAME.sqlite beside it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oraclient {

//! A user name as the database keeps it: upper case, a letter first, then letters, digits,
//! "_", "$" or "#", at most 30 characters. Throws OracleError (ORA-01935) otherwise.
std::string checkedUserName(std::string_view name);

class EmbeddedUsers {
public:
    explicit EmbeddedUsers(std::filesystem::path databaseDir);

    const std::filesystem::path& directory() const { return dir_; }
    //! The user names, sorted.
    std::vector<std::string> names() const;
    bool exists(std::string_view name) const;
    //! Creates the user with an empty schema. ORA-01920 when the user exists.
    void add(std::string_view name, std::string_view password);
    //! ORA-01918 when the user does not exist.
    void setPassword(std::string_view name, std::string_view password);
    //! Removes the user and the schema with all its tables. ORA-01918 when missing.
    void remove(std::string_view name);
    //! Whether the user exists and the password is right (a slow check by design).
    bool verify(std::string_view name, std::string_view password) const;
    //! The SQLite file that holds the user's schema.
    std::filesystem::path schemaFile(std::string_view name) const;
    //! The names of the tables in the user's schema.
    std::vector<std::string> tablesOf(std::string_view name) const;

private:
    struct Entry {
        std::string name;
        std::string hash;
    };
    std::vector<Entry> read() const;
    void write(const std::vector<Entry>& entries) const;

    std::filesystem::path dir_;
};

} // namespace fieldsmith::oraclient
