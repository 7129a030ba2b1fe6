#include "RunBackup.h"

#include "FileCopy.h"
#include "TableFamily.h"

#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fieldsmith::tables {

namespace fsys = std::filesystem;
using engine::EngineError;
using engine::ErrorKind;

namespace {

constexpr const char* kManifest = "run.txt";
constexpr const char* kManifestMark = "fieldsmith-backup 1";

[[noreturn]] void failOn(const fsys::path& file, const std::string& what, int err) {
    throw EngineError(ErrorKind::Database,
                      "Cannot " + what + " " + file.string() + ": " + std::strerror(err));
}

FileState stateOf(const fsys::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) failOn(file, "read", errno);
    return {file.filename().string(), static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::vector<FileState> statesOf(const fsys::path& mainFile) {
    std::vector<FileState> states;
    for (const auto& f : familyFiles(mainFile))
        states.push_back(stateOf(f));
    return states;
}

std::string localTime(const char* format, std::time_t now) {
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

// A folder name keeps letters, digits, "-", "_" and "." of a table or page name.
std::string folderWord(const std::string& word) {
    std::string out;
    for (char c : word) {
        const auto u = static_cast<unsigned char>(c);
        out += (std::isalnum(u) && u < 0x80) || c == '-' || c == '.' ? c : '_';
    }
    return out.substr(0, 40);
}

// The family folder of the n-th table of a run.
fsys::path familyFolder(const fsys::path& runFolder, std::size_t n) {
    return runFolder / ("table" + std::to_string(n + 1));
}

BackupRun readManifest(const fsys::path& folder) {
    BackupRun run;
    run.folder = folder;
    std::istringstream in(engine::readWholeFile(folder / kManifest));
    std::string line;
    if (!std::getline(in, line) || line != kManifestMark)
        throw EngineError(ErrorKind::Database, "Not a backup of a run: " + folder.string());
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        const std::string key = line.substr(0, tab);
        const std::string rest = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        if (key == "page") {
            run.page = rest;
        } else if (key == "started") {
            run.started = rest;
        } else if (key == "table") {
            run.families.push_back({fsys::path(rest), {}, {}});
        } else if (key == "saved" && !run.families.empty()) {
            run.families.back().saved.push_back(rest);
        } else if (key == "after" && !run.families.empty()) {
            // after <size> <modified ns> <name>
            std::istringstream fields(rest);
            FileState s;
            fields >> s.size >> s.modifiedNs;
            fields.get();
            std::getline(fields, s.name);
            run.families.back().after.push_back(s);
        } else if (key == "server") {
            run.serverTables.push_back(rest);
        } else if (key == "complete") {
            run.complete = true;
        }
    }
    return run;
}

} // namespace

std::string BackupRun::describe() const {
    std::string tables;
    for (const auto& f : families)
        tables += (tables.empty() ? "" : ", ") + f.mainFile.filename().string();
    for (const auto& s : serverTables)
        tables += (tables.empty() ? "" : ", ") + s;
    return page + " on " + tables + " at " + started;
}

RunBackup::RunBackup(fsys::path configDir, std::string page, int keepRuns)
    // A session without a configuration directory (tests, tools) keeps no backups.
    : backups_(configDir.empty() ? fsys::path() : configDir / "backups"), page_(std::move(page)),
      keepRuns_(backups_.empty() ? 0 : keepRuns) {
    run_.page = page_;
}

void RunBackup::saveFamily(const fsys::path& mainFile) {
    if (keepRuns_ <= 0) return;
    std::error_code ec;
    const fsys::path main = fsys::absolute(mainFile, ec).lexically_normal();
    for (const auto& f : run_.families)
        if (f.mainFile == main || fsys::equivalent(f.mainFile, main, ec)) return;
    makeFolder(main.stem().string());
    BackedUpFamily family{main, {}, {}};
    const fsys::path into = familyFolder(run_.folder, run_.families.size());
    fsys::create_directory(into, ec);
    if (ec) failOn(into, "create", ec.value());
    for (const auto& file : familyFiles(main)) {
        copyFile(file, into / file.filename(), false);
        family.saved.push_back(file.filename().string());
    }
    run_.families.push_back(std::move(family));
    writeManifest(false);
}

void RunBackup::noteServerTable(const std::string& alias, const std::string& table) {
    if (keepRuns_ <= 0) return;
    const std::string name = table + " of " + alias;
    if (std::find(run_.serverTables.begin(), run_.serverTables.end(), name) !=
        run_.serverTables.end())
        return;
    makeFolder(table);
    run_.serverTables.push_back(name);
    writeManifest(false);
}

// One folder per run, named by time (to the nanosecond, so that runs in one second sort
// in their order whatever their tables), first table and page.
void RunBackup::makeFolder(const std::string& firstTable) {
    if (!run_.folder.empty()) return;
    std::error_code ec;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    run_.started = localTime("%Y-%m-%d %H:%M:%S", now.tv_sec);
    char nanos[16];
    std::snprintf(nanos, sizeof nanos, ".%09ld", static_cast<long>(now.tv_nsec));
    const std::string stem = localTime("%Y%m%d-%H%M%S", now.tv_sec) + nanos + "_" +
                             folderWord(firstTable) + "_" + folderWord(page_);
    fsys::create_directories(backups_, ec);
    if (ec) failOn(backups_, "create", ec.value());
    for (int n = 0;; ++n) {
        fsys::path folder = backups_ / (n == 0 ? stem : stem + "-" + std::to_string(n));
        if (fsys::create_directory(folder, ec)) {
            run_.folder = std::move(folder);
            return;
        }
        if (ec) failOn(folder, "create", ec.value());
    }
}

void RunBackup::finish() {
    if (run_.folder.empty()) return;
    for (auto& f : run_.families)
        f.after = statesOf(f.mainFile);
    run_.complete = true;
    writeManifest(true);
    // The oldest runs beyond the limit go.
    std::vector<fsys::path> runs;
    std::error_code ec;
    for (const auto& entry : fsys::directory_iterator(backups_, ec))
        if (entry.is_directory() && fsys::exists(entry.path() / kManifest))
            runs.push_back(entry.path());
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i + static_cast<std::size_t>(keepRuns_) < runs.size(); ++i)
        fsys::remove_all(runs[i], ec);
}

void RunBackup::writeManifest(bool complete) const {
    std::string text =
        std::string(kManifestMark) + "\npage\t" + page_ + "\nstarted\t" + run_.started + "\n";
    for (const auto& f : run_.families) {
        text += "table\t" + f.mainFile.string() + "\n";
        for (const auto& s : f.saved)
            text += "saved\t" + s + "\n";
        for (const auto& a : f.after)
            text += "after\t" + std::to_string(a.size) + " " + std::to_string(a.modifiedNs) + " " +
                    a.name + "\n";
    }
    for (const auto& s : run_.serverTables)
        text += "server\t" + s + "\n";
    if (complete) text += "complete\n";
    engine::writeWholeFile(run_.folder / kManifest, text);
}

RunBackupScope::RunBackupScope(engine::Session& session, std::string page)
    : session_(session), backup_(session.configDir(), std::move(page), session.backupRuns()) {
    session_.setBeforeWrite([this](const fsys::path& mainFile) { backup_.saveFamily(mainFile); });
    session_.setBeforeServerWrite([this](const std::string& alias, const std::string& table) {
        backup_.noteServerTable(alias, table);
    });
}

RunBackupScope::~RunBackupScope() {
    session_.setBeforeWrite({});
    session_.setBeforeServerWrite({});
    if (finished_) return;
    try {
        backup_.finish();
    } catch (...) {
        // The backup stays, marked as a run that did not record its end.
    }
}

void RunBackupScope::finish() {
    session_.setBeforeWrite({});
    session_.setBeforeServerWrite({});
    finished_ = true;
    backup_.finish();
}

std::vector<BackupRun> listBackupRuns(const fsys::path& configDir) {
    std::vector<fsys::path> folders;
    std::error_code ec;
    for (const auto& entry : fsys::directory_iterator(configDir / "backups", ec))
        if (entry.is_directory() && fsys::exists(entry.path() / kManifest))
            folders.push_back(entry.path());
    std::sort(folders.rbegin(), folders.rend());
    std::vector<BackupRun> runs;
    for (const auto& folder : folders)
        runs.push_back(readManifest(folder));
    return runs;
}

std::string undoQuestion(const BackupRun& run) {
    std::string q =
        "Undo the run " + run.describe() + "? Its tables get back the state they had before it.";
    if (!run.complete)
        q += " The run did not finish: changes made to these tables since then are undone as well.";
    return q;
}

std::string runListLine(const BackupRun& run) {
    std::string tables;
    for (const auto& f : run.families)
        tables += (tables.empty() ? "" : ", ") + f.mainFile.string();
    for (const auto& s : run.serverTables)
        tables += (tables.empty() ? "" : ", ") + s;
    std::string state = !run.serverTables.empty() ? "\t(server tables: cannot be undone)"
                        : run.complete            ? ""
                                                  : "\t(did not finish)";
    return run.started + "\t" + run.page + "\t" + tables + state;
}

namespace {

// A table in a directory that is gone (a run's own temporary one) has nothing to restore
// when the run saved nothing of it.
bool vanished(const BackedUpFamily& f) {
    std::error_code ec;
    return f.saved.empty() && !fsys::is_directory(f.mainFile.parent_path(), ec);
}

} // namespace

std::string undoRefusal(const BackupRun& run) {
    // Undoing the file tables alone would leave them out of step with the server's (a
    // counter table set back below the numbers a server table holds).
    if (!run.serverTables.empty())
        return "The run " + run.describe() +
               " cannot be undone: it changed tables of a server alias, which are not backed up.";
    if (!run.complete) return {}; // a killed run recorded no result to compare with
    for (const auto& f : run.families) {
        if (vanished(f)) continue;
        const std::vector<FileState> now = statesOf(f.mainFile);
        if (now == f.after) continue;
        std::string which;
        for (const auto& a : f.after)
            if (std::find(now.begin(), now.end(), a) == now.end()) which = a.name;
        for (const auto& n : now)
            if (which.empty() && std::find(f.after.begin(), f.after.end(), n) == f.after.end())
                which = n.name;
        return "The run " + run.describe() + " cannot be undone: table " + f.mainFile.string() +
               " was changed after it (" + which + " is not as the run left it).";
    }
    return {};
}

void undoRun(const BackupRun& run, engine::Session& session) {
    if (const std::string refusal = undoRefusal(run); !refusal.empty())
        throw EngineError(ErrorKind::Database, refusal);
    // Last saved first: a table saved twice under two spellings of its name ends as the
    // first saving found it.
    for (std::size_t n = run.families.size(); n-- > 0;) {
        const BackedUpFamily& f = run.families[n];
        if (vanished(f)) continue;
        for (engine::Table* open : session.openTablesOnFile(f.mainFile))
            open->close();
        // Nobody else may have the table open while its files are put back.
        engine::File lock;
        if (fsys::exists(f.mainFile)) {
            lock = engine::File::open(f.mainFile);
            if (!lock.tryLock(true))
                throw EngineError(ErrorKind::Database,
                                  "Table " + f.mainFile.string() + " is in use by someone else");
        }
        std::error_code ec;
        const fsys::path dir = f.mainFile.parent_path();
        // Files the run added (an index, a blob file) go; the saved ones come back, each
        // complete under a temporary name before it replaces the current one.
        for (const auto& file : familyFiles(f.mainFile))
            if (std::find(f.saved.begin(), f.saved.end(), file.filename().string()) ==
                f.saved.end())
                if (!fsys::remove(file, ec) && ec) failOn(file, "delete", ec.value());
        for (const auto& name : f.saved) {
            const fsys::path temp = dir / ("." + name + ".undo");
            copyFile(familyFolder(run.folder, n) / name, temp, true);
            fsys::rename(temp, dir / name, ec);
            if (ec) {
                fsys::remove(temp);
                failOn(dir / name, "replace", ec.value());
            }
        }
        engine::syncDirectory(dir);
    }
    fsys::remove_all(run.folder);
}

} // namespace fieldsmith::tables
