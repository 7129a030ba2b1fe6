// The engine session: aliases, table passwords, private aliases and the settings that all
// tables of the program share.
#pragma once

#include "FormatSettings.h"
#include "Preview.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fieldsmith::engine {

class Table;

//! What an alias is: "STANDARD" (a directory of file tables) or a server type.
struct DatabaseDesc {
    std::string name;
    std::string type;
    std::string path; //!< the directory of a STANDARD alias; empty for a server alias
};

//! The configuration directory: $FIELDSMITH_HOME, else ~/.config/fieldsmith.
std::filesystem::path configDirectory();

class Session {
public:
    //! A session with no aliases; call loadConfiguration() or addStandardAlias().
    Session();
    explicit Session(std::filesystem::path configDir);

    //! Reads aliases.ini and fieldsmith.ini of the configuration directory. Missing files
    //! leave the session without aliases and with the default settings.
    void loadConfiguration();
    const std::filesystem::path& configDir() const { return configDir_; }

    // --- aliases
    std::vector<std::string> aliasNames() const;
    bool hasAlias(const std::string& name) const;
    //! Type and path of an alias; an unknown alias is an error naming it.
    DatabaseDesc databaseDesc(const std::string& alias) const;
    //! The alias's parameters as name=value pairs in file order (TYPE included).
    std::vector<std::pair<std::string, std::string>> aliasParams(const std::string& alias) const;
    //! Tables of a STANDARD alias, sorted, no system tables: a .DB (Paradox) by its name
    //! without extension, a .DBF (dBase) and a .TXT with a .SCH beside it by their file
    //! names, since a name without extension stands for the Paradox table.
    std::vector<std::string> tableNames(const std::string& alias) const;
    //! Defines or replaces an alias of type STANDARD for this session only.
    void addStandardAlias(const std::string& name, const std::filesystem::path& dir);
    //! Defines or replaces an alias with its parameters (TYPE among them).
    void addAlias(const std::string& name, std::vector<std::pair<std::string, std::string>> params);
    //! Directory of a file-table alias; a server alias or an unknown one is an error.
    std::filesystem::path directoryOf(const std::string& alias) const;

    //! Releases idle temporary connections. File tables hold none between opens, so
    //! this only forgets cached directory listings.
    void closeIdleDatabases() {}

    // --- server aliases
    //! Whether the alias names a SQL server whose tables this engine opens.
    bool isSqlAlias(const std::string& alias) const;
    //! Asks the user for a server's password (the window's dialog, a terminal prompt);
    //! nothing for Cancel.
    using PasswordPrompt =
        std::function<std::optional<std::string>(const std::string& alias, const std::string& user)>;
    void setPasswordPrompt(PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }
    //! The password of a server alias: asked once and kept in memory for this run only.
    std::optional<std::string> serverPassword(const std::string& alias, const std::string& user) const;
    //! Forgets a password the server refused, so that it is asked for again.
    void forgetServerPassword(const std::string& alias) const;

    // --- table passwords
    void addPassword(const std::string& password);
    void removeAllPasswords() { passwords_.clear(); }
    const std::vector<std::string>& passwords() const { return passwords_; }

    // --- settings
    FormatSettings& formats() { return formats_; }
    const FormatSettings& formats() const { return formats_; }
    //! The single-byte code page of all text the program handles (Windows-1252 by default).
    int ansiCodePage() const { return ansiCodePage_; }
    void setAnsiCodePage(int codePage) { ansiCodePage_ = codePage; }
    //! The language-driver byte new dBase tables get; -1 (the default) for the one of the
    //! program's code page. Set by `[Settings] DBaseLanguageDriver` (decimal or 0x..).
    int dBaseLanguageDriver() const { return dBaseLanguageDriver_; }
    void setDBaseLanguageDriver(int byte) { dBaseLanguageDriver_ = byte; }

    // --- this program's open tables
    const std::vector<Table*>& openTables() const { return openTables_; }
    //! The open tables of this session on this file (however the path is spelled).
    std::vector<Table*> openTablesOnFile(const std::filesystem::path& path) const;
    //! The open tables of this session with this identity (Table::openKey()).
    std::vector<Table*> openTablesWithKey(const std::string& key) const;
    //! The identity of a table file for openTablesWithKey(): its device and inode.
    static std::string fileKey(const std::filesystem::path& path);
    //! The identity of a table of a server alias.
    static std::string serverTableKey(const std::string& alias, const std::string& table);

    //! Characters that had no equivalent between a table's code page and the program's
    //! and became "?", counted over all tables since the last reset. A run reads and
    //! resets it to report such losses once.
    std::uint64_t& conversionLosses() const { return conversionLosses_; }

    // --- the writes of a run
    //! Told a file table's main file before anything of its family changes: the first
    //! change of an open, an index added or dropped, a table created over an older one. A
    //! run sets it to back the family up first; an error it throws stops the change.
    using BeforeWrite = std::function<void(const std::filesystem::path& mainFile)>;
    void setBeforeWrite(BeforeWrite hook) { beforeWrite_ = std::move(hook); }
    void beforeWrite(const std::filesystem::path& mainFile) const {
        if (beforeWrite_ && !preview_) beforeWrite_(mainFile); // a preview writes no table
    }
    //! Told a table of a server alias before a run first changes it (its rows, its indexes,
    //! the table itself). Such tables are not backed up; a run notes that it wrote them.
    using BeforeServerWrite =
        std::function<void(const std::string& alias, const std::string& table)>;
    void setBeforeServerWrite(BeforeServerWrite hook) { beforeServerWrite_ = std::move(hook); }
    void beforeServerWrite(const std::string& alias, const std::string& table) const {
        if (beforeServerWrite_ && !preview_) beforeServerWrite_(alias, table);
    }
    //! Runs fn with the hook left out: for scratch tables that a run does not leave behind.
    void withoutBeforeWrite(const std::function<void()>& fn);
    //! How many runs' backups are kept (`[Settings] BackupRuns`, 10 by default; 0 takes
    //! none).
    int backupRuns() const { return backupRuns_; }
    void setBackupRuns(int runs) { backupRuns_ = runs; }

    // --- previews
    //! While a sink is set the session previews: file tables are opened, created and
    //! indexed on the sink's shadow copies, server tables roll their changes back, and
    //! every record change is told to the sink. Null ends the preview.
    void setPreview(PreviewSink* sink) { preview_ = sink; }
    PreviewSink* preview() const { return preview_; }
    //! The file to use for a table's file: the shadow copy during a preview, else the file.
    std::filesystem::path workingFile(const std::filesystem::path& file) const {
        return preview_ ? preview_->shadowOf(file) : file;
    }

private:
    struct Alias {
        std::string name;
        std::vector<std::pair<std::string, std::string>> params;
    };
    const Alias* findAlias(const std::string& name) const;

    friend class Table;
    void registerOpen(Table* table);
    void unregisterOpen(Table* table);

    std::filesystem::path configDir_;
    std::vector<Alias> aliases_;
    std::vector<Table*> openTables_;
    PasswordPrompt passwordPrompt_;
    mutable std::map<std::string, std::string> serverPasswords_;
    std::vector<std::string> passwords_;
    FormatSettings formats_;
    int ansiCodePage_ = 1252;
    int dBaseLanguageDriver_ = -1;
    mutable std::uint64_t conversionLosses_ = 0;
    BeforeWrite beforeWrite_;
    BeforeServerWrite beforeServerWrite_;
    int backupRuns_ = 10;
    PreviewSink* preview_ = nullptr;
};

} // namespace fieldsmith::engine
