#include "Preview.h"

#include "FileCopy.h"
#include "TableFamily.h"

#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace fieldsmith::tables {

namespace fsys = std::filesystem;
using engine::ChangeKind;

std::string_view changeWord(ChangeKind kind) {
    switch (kind) {
    case ChangeKind::Changed:
        return "changed";
    case ChangeKind::Inserted:
        return "inserted";
    case ChangeKind::Deleted:
        return "deleted";
    }
    return {};
}

std::vector<std::string> PreviewResult::countLines() const {
    std::vector<std::string> lines;
    for (const auto& c : counts) {
        std::string line = c.table + ":";
        const char* sep = " ";
        auto part = [&](std::int64_t n, const char* what) {
            if (n == 0) return;
            line += sep + std::to_string(n) + (n == 1 ? " record " : " records ") + what;
            sep = ", ";
        };
        part(c.changed, "changed");
        part(c.inserted, "inserted");
        part(c.deleted, "deleted");
        lines.push_back(line);
    }
    if (lines.empty()) lines.emplace_back("No record would change.");
    return lines;
}

// ------------------------------------------------------------------------------ the scope

namespace {

constexpr const char* kOwnerFile = "owner.pid";

// A preview killed before its end leaves its copies behind: they go once the process that
// made them is gone.
void removeAbandonedPreviews(const fsys::path& tempDir) {
    std::error_code ec;
    for (const auto& entry : fsys::directory_iterator(tempDir, ec)) {
        if (!entry.path().filename().string().starts_with("fieldsmith-preview-")) continue;
        std::ifstream in(entry.path() / kOwnerFile);
        long pid = 0;
        if (!(in >> pid) || pid <= 0) continue; // being made, or not a preview's
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        fsys::remove_all(entry.path(), ec);
    }
}

} // namespace

PreviewScope::PreviewScope(engine::Session& session) : session_(session) {
    removeAbandonedPreviews(fsys::temp_directory_path());
    std::string pattern = (fsys::temp_directory_path() / "fieldsmith-preview-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw engine::EngineError(engine::ErrorKind::General,
                                  "Cannot create a directory for the preview in " +
                                      fsys::temp_directory_path().string() + ": " +
                                      std::strerror(errno));
    root_ = pattern;
    std::ofstream(root_ / kOwnerFile) << ::getpid() << '\n';
    engine::setScratchDirectory(root_); // the copies are thrown away: never flushed to the disk
    session_.setPreview(this);
}

PreviewScope::~PreviewScope() {
    session_.setPreview(nullptr);
    // What the preview opened works on copies (or rolls back): none of it may outlive it.
    const std::vector<engine::Table*> open = session_.openTables();
    for (engine::Table* t : open) {
        if (!t->openedForPreview()) continue;
        try {
            t->close();
        } catch (...) {
        }
    }
    engine::setScratchDirectory({});
    std::error_code ec;
    fsys::remove_all(root_, ec);
}

fsys::path PreviewScope::shadowOf(const fsys::path& original) {
    std::error_code ec;
    const fsys::path path = fsys::absolute(original, ec).lexically_normal();
    // A path the preview handed out already, or one derived from it.
    const fsys::path inside = path.lexically_relative(root_);
    if (!inside.empty() && *inside.begin() != "..") return path;

    const fsys::path dir = fsys::weakly_canonical(path.parent_path(), ec);
    auto [it, fresh] = dirs_.try_emplace(dir.string());
    if (fresh) {
        it->second = root_ / std::to_string(dirs_.size());
        fsys::create_directory(it->second, ec);
        if (ec)
            throw engine::EngineError(engine::ErrorKind::General,
                                      "Cannot create " + it->second.string() + ": " + ec.message());
    }
    copyOnce(dir / path.filename(), it->second);
    return it->second / path.filename();
}

// A table's whole family is copied on its first use (a companion file alone, such as an
// index list), so that the preview sees it as the run would; later uses find what the
// preview made of it, a family it deleted included.
void PreviewScope::copyOnce(const fsys::path& original, const fsys::path& shadowDir) {
    fsys::path main = original;
    if (!main.has_extension()) main += ".DB";
    const std::string ext = main.extension().string();
    const std::string kind = engine::sameName(ext, ".DBF")   ? "dbf"
                             : engine::sameName(ext, ".TXT") ? "txt"
                                                             : "db";
    const std::string key = (main.parent_path() / main.stem()).string() + "|" + kind;
    if (!copied_.try_emplace(key, true).second) return;
    std::vector<fsys::path> files = familyFiles(main);
    std::error_code ec;
    if (files.empty() && fsys::is_regular_file(original, ec)) files.push_back(original);
    for (const auto& f : files)
        copyFile(f, shadowDir / f.filename(), false);
}

void PreviewScope::recordChange(const std::string& table, ChangeKind kind,
                                const std::function<engine::RecordChange()>& detail) {
    auto it = std::find_if(result_.counts.begin(), result_.counts.end(),
                           [&](const PreviewCount& c) { return c.table == table; });
    if (it == result_.counts.end()) it = result_.counts.insert(it, PreviewCount{table});
    switch (kind) {
    case ChangeKind::Changed:
        ++it->changed;
        break;
    case ChangeKind::Inserted:
        ++it->inserted;
        break;
    case ChangeKind::Deleted:
        ++it->deleted;
        break;
    }
    if (result_.records.size() < kPreviewRecords) result_.records.push_back(detail());
}

// ------------------------------------------------------------------------------- the host

// A press of Cancel reaches the user's host; the preview's run reads its own flag.
void PreviewHost::processPendingMessages() {
    user_.processPendingMessages();
    if (user_.CancelRequested) {
        CancelRequested = user_.CancelRequested;
        user_.CancelRequested = 0;
    }
}

// ------------------------------------------------------------------------------- the run

std::string previewRefusal(std::string_view operation, const run::PageInputs& inputs) {
    if (operation == "ExportOracleInserts" || operation == "ImportOracleScript")
        return "Preview shows the records a run would change; the Oracle import and export "
               "change no table of this program's aliases.";
    if (operation == "ExecuteCsvExchange" && inputs.CSVMakeTable.GenCSVFromParadox)
        return "Preview shows the records a run would change; writing a CSV file changes none.";
    if (operation == "ExecuteCreateTable" && inputs.CreateTableSeite.OracleCheck)
        return "A copy into Oracle cannot be previewed without making it: choose a target "
               "alias of this program, or run it.";
    if (operation.empty()) return "This page has nothing to preview.";
    return {};
}

std::string previewSummary(const PreviewResult& result) {
    std::string text = "Preview: nothing was written.";
    if (!result.messages.empty()) {
        text += "\r\rThe run would report:";
        for (const auto& m : result.messages)
            text += "\r" + m;
    }
    text += "\r\rChanges:";
    for (const auto& line : result.countLines())
        text += "\r" + line;
    return text;
}

PreviewResult previewRun(run::RunContext& context, const run::Operation& operation) {
    // The run may write inputs back (a next number, a start record): a preview keeps them.
    run::PageInputs inputs = context.inputs;
    PreviewScope scope(context.session);
    PreviewHost host(context.host, scope.result());
    run::RunContext preview{host, context.session, inputs, context.shared};
    operation(preview);
    context.host.CancelRequested = 0;
    return std::move(scope.result());
}

} // namespace fieldsmith::tables
