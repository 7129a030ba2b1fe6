// Previews: a page's run made on shadow copies of the tables it touches, with every check
// and question of the run, so that the user sees what it would change before anything is
// written. The run's information messages (its counts) and the first changed records are
// kept for the preview window, or for CSV on standard output in batch mode.
#pragma once

#include "app/run/Operations.h"
#include "app/run/RunHost.h"
#include "engine/Preview.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {
class Session;
}

namespace fieldsmith::tables {

//! How many changed records a preview lists; the rest are counted.
inline constexpr std::size_t kPreviewRecords = 100;

struct PreviewCount {
    std::string table;
    std::int64_t changed = 0, inserted = 0, deleted = 0;
};

struct PreviewResult {
    std::vector<std::string> messages; //!< what the run would have told, in order
    int errors = 0;                    //!< error messages the run showed (a check stopped it)
    std::vector<PreviewCount> counts;  //!< by table, in the order first changed
    std::vector<engine::RecordChange> records; //!< the first kPreviewRecords changes

    //! "KUNDEN: 120 changed, 3 deleted" per table, or that nothing would change.
    std::vector<std::string> countLines() const;
};

//! One preview: while it lives, the session works on shadow copies in a temporary
//! directory and tells it every record change. The end closes whatever the preview opened
//! and deletes the copies.
class PreviewScope : public engine::PreviewSink {
public:
    explicit PreviewScope(engine::Session& session);
    ~PreviewScope() override;
    PreviewScope(const PreviewScope&) = delete;
    PreviewScope& operator=(const PreviewScope&) = delete;

    std::filesystem::path shadowOf(const std::filesystem::path& original) override;
    void recordChange(const std::string& table, engine::ChangeKind kind,
                      const std::function<engine::RecordChange()>& detail) override;

    PreviewResult& result() { return result_; }
    const std::filesystem::path& root() const { return root_; }

private:
    void copyOnce(const std::filesystem::path& original, const std::filesystem::path& shadowDir);

    engine::Session& session_;
    std::filesystem::path root_;
    std::map<std::string, std::filesystem::path> dirs_; //!< original directory → its shadow
    std::map<std::string, bool> copied_;                //!< files and families copied once
    PreviewResult result_;
};

//! The host of a preview: the user's host for every check, question and progress, but the
//! run's information messages are kept for the preview window, no file is offered to be
//! saved and no input of the page is changed.
class PreviewHost : public run::RunHost {
public:
    PreviewHost(run::RunHost& user, PreviewResult& result) : user_(user), result_(result) {}

    void showError(const std::string& text) override {
        ++result_.errors;
        user_.showError(text);
    }
    bool askRetry(const std::string& text) override { return user_.askRetry(text); }
    void showInformation(const std::string& text) override { result_.messages.push_back(text); }
    bool confirm(const std::string& text) override { return user_.confirm(text); }
    bool confirmInformation(const std::string& text) override {
        return user_.confirmInformation(text);
    }
    void setStatusText(int panel, const std::string& text) override {
        user_.setStatusText(panel, text);
    }
    void processPendingMessages() override;
    void UpdateAnsicht(bool idle) override { user_.UpdateAnsicht(idle); }
    void WarteMaus() override { user_.WarteMaus(); }
    void PfeilMaus() override { user_.PfeilMaus(); }
    void showPage(std::string_view page) override { user_.showPage(page); }
    void focusControl(std::string_view control) override { user_.focusControl(control); }
    void inputWritten(std::string_view) override {}
    std::optional<std::string> saveFileDialog(const run::SaveRequest&) override {
        return std::nullopt;
    }
    void openStatusDialog() override { user_.openStatusDialog(); }
    void setStatusDialogCount(const std::string& text) override {
        user_.setStatusDialogCount(text);
    }
    bool statusDialogCancelled() override { return user_.statusDialogCancelled(); }
    void closeStatusDialog() override { user_.closeStatusDialog(); }
    bool showLogonDialog(run::LogonForm& form) override { return user_.showLogonDialog(form); }
    void openLogWindow(const std::string& caption) override { user_.openLogWindow(caption); }
    void appendLogLine(const std::string& line) override { user_.appendLogLine(line); }
    std::vector<std::string> logLines() override { return user_.logLines(); }

private:
    run::RunHost& user_;
    PreviewResult& result_;
};

//! Why an operation (executeMoveFelder, ExecuteCsvExchange, ...) cannot be previewed with
//! these inputs, or empty when it can.
std::string previewRefusal(std::string_view operation, const run::PageInputs& inputs);

//! What the preview found, as a message: that nothing was written, what the run would
//! report, and the changes by table.
std::string previewSummary(const PreviewResult& result);

//! Runs an operation as a preview of its run and returns what it found. The page's inputs
//! stay as they are. An error that ends the run is thrown, as the run would throw it.
PreviewResult previewRun(run::RunContext& context, const run::Operation& operation);

//! "changed", "inserted", "deleted".
std::string_view changeWord(engine::ChangeKind kind);

} // namespace fieldsmith::tables
