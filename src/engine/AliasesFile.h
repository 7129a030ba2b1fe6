// aliases.ini as a file that users also edit by hand: aliases are added, changed and
// removed section by section, every other line (comments, blank lines, other sections)
// stays as it was, and the file is replaced in one step, never left half written.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fieldsmith::engine {

struct AliasEntry {
    std::string name;
    //! name=value pairs in file order, TYPE among them.
    std::vector<std::pair<std::string, std::string>> params;

    //! The value of a parameter (name without regard to case); empty when absent.
    std::string param(const std::string& key) const;
};

class AliasesFile {
public:
    //! Reads the file; a missing file is an empty one.
    explicit AliasesFile(std::filesystem::path file);

    std::vector<AliasEntry> aliases() const;
    //! Adds the alias, or changes the one of that name (without regard to case): its
    //! parameters take the new values in their lines, new ones follow the last, dropped
    //! ones go; its comments stay. A name that cannot be a section name is an error.
    void set(const AliasEntry& alias);
    //! Removes the alias's section; false when there is none.
    bool remove(const std::string& name);
    //! Writes the file under a temporary name beside it and renames it over the old one.
    void save() const;

private:
    //! The lines [first, end) of a section, header included; end == first when absent.
    std::pair<std::size_t, std::size_t> sectionLines(const std::string& name) const;

    std::filesystem::path file_;
    std::vector<std::string> lines_;
};

//! Whether an alias's directory (STANDARD), database file (SQLITE) or server (POSTGRESQL)
//! can be reached: empty when it can, else the reason, for the user.
std::string aliasReachability(const AliasEntry& alias);

} // namespace fieldsmith::engine
