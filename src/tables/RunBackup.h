// Backups of the file tables a run writes, and undoing the last run from them. Before a
// run first changes a table, the table's whole family (data, blobs, indexes; a counter
// table as well) is copied into a folder of its own under backups/ in the configuration
// directory; at the end of the run the state it left is recorded, so that an undo can tell
// whether the table was changed since. Server tables are not backed up: a run that writes
// one is recorded all the same, so that undo does not pass over it to an earlier run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class Session;
}

namespace fieldsmith::tables {

//! A file of a family as a run left it.
struct FileState {
    std::string name;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileState&) const = default;
};

struct BackedUpFamily {
    std::filesystem::path mainFile; //!< the table's main file, where it lives
    std::vector<std::string> saved; //!< the family's files before the run, in the backup
    std::vector<FileState> after;   //!< the family's files as the run left them
};

struct BackupRun {
    std::filesystem::path folder;
    std::string page;      //!< the page whose run it was (Seite2, DelPage, ...)
    std::string started;   //!< local time, "2026-12-10 12:01:02"
    bool complete = false; //!< false: the run ended without recording its result (killed)
    std::vector<BackedUpFamily> families;
    std::vector<std::string> serverTables; //!< "kunden of SHOP": written, not backed up

    //! "Seite2 on KUNDEN.DB, KR4_CNT.DB at 2026-12-10 12:01:02"
    std::string describe() const;
};

//! The backup of one run, made as the run goes. Not thread-safe; one per run.
class RunBackup {
public:
    //! keepRuns: how many runs' backups stay after finish(); 0 makes no backups at all.
    RunBackup(std::filesystem::path configDir, std::string page, int keepRuns);

    //! Copies the family of the table at mainFile, once per run. Throws an engine error
    //! when the copy cannot be made (a run must not write what it could not back up).
    void saveFamily(const std::filesystem::path& mainFile);
    //! Notes a table of a server alias that the run writes: it is not backed up, and the
    //! run cannot be undone.
    void noteServerTable(const std::string& alias, const std::string& table);
    //! Records what the run left and drops the oldest runs beyond the limit. Called on
    //! every way out of a run; errors are thrown.
    void finish();

private:
    void makeFolder(const std::string& firstTable);
    void writeManifest(bool complete) const;

    std::filesystem::path backups_;
    std::string page_;
    int keepRuns_;
    BackupRun run_;
};

//! Backs up what a run writes for the length of a scope: the session tells it each file
//! table before its first change. finish() records the result; a scope left without it
//! (an error ended the run) records it as well, as far as it can.
class RunBackupScope {
public:
    RunBackupScope(engine::Session& session, std::string page);
    ~RunBackupScope();
    RunBackupScope(const RunBackupScope&) = delete;
    RunBackupScope& operator=(const RunBackupScope&) = delete;

    void finish();

private:
    engine::Session& session_;
    RunBackup backup_;
    bool finished_ = false;
};

//! The runs that have backups, newest first.
std::vector<BackupRun> listBackupRuns(const std::filesystem::path& configDir);

//! What undo says when there is no run to undo.
inline constexpr const char* kNothingToUndo =
    "There is no run to undo. Undo covers runs on file tables only: changes to tables of "
    "server aliases are not backed up.";
//! The question before an undo, naming the run.
std::string undoQuestion(const BackupRun& run);
//! One line of a list of runs: time, page, tables, and whether it can be undone.
std::string runListLine(const BackupRun& run);

//! Why the run cannot be undone now (a table changed after it), or empty when it can.
std::string undoRefusal(const BackupRun& run);

//! Puts the families back as they were before the run and drops the run's backup, so
//! that the run before it becomes the last. The session's own opens of those tables are
//! closed first; a table another program has open is refused. Errors are thrown.
void undoRun(const BackupRun& run, engine::Session& session);

} // namespace fieldsmith::tables
