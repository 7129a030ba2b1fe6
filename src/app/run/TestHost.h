// A run host for tests of operations: records every message, panel text and window-state
// call, answers questions from a script, and can press Cancel at a given record.
#pragma once

#include "app/run/RunHost.h"

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fieldsmith::run {

class TestHost : public RunHost {
public:
    struct Message {
        MessageKind kind;
        std::string text;
    };

    // --- what the run showed
    std::vector<Message> messages;
    std::array<std::string, 4> panels;
    //! Every call that changes the window, in order: "UpdateAnsicht(false)", "WarteMaus",
    //! "PfeilMaus", "showPage(Seite2)", "focus(BedingungFeld)", "input(NumberEdit)",
    //! and "message:<text>" for each message box.
    std::vector<std::string> events;
    bool idle = true;
    bool waitCursor = false;
    int pendingMessageRuns = 0; //!< calls of processPendingMessages so far
    std::vector<SaveRequest> saveRequests;
    std::vector<std::string> statusDialogCounts;
    std::vector<std::string> log;
    //! The logon dialog's boxes each time it was shown, as they were filled in.
    std::vector<LogonForm> logonShowings;

    // --- the script
    //! Answers to questions (retry, confirmation, information Yes/No), used in order;
    //! when it runs out, defaultAnswer answers.
    std::deque<bool> answers;
    bool defaultAnswer = true;
    //! The path the save dialog returns; nothing means the user cancels it.
    std::optional<std::string> savePath;
    //! Presses Cancel during the k-th breather (1-based), that is, at the end of record k.
    int cancelAtRecord = 0;
    //! Called at every breather with its 1-based number, after cancelAtRecord is applied;
    //! tests use it to press Cancel twice, edit inputs mid-run, or look at the window.
    std::function<void(TestHost&, int)> onPendingMessages;
    //! Wants a progress text at every n-th ask, as a host that paints at intervals does;
    //! 0: never (a run still gives the texts it ends with).
    int progressEvery = 1;
    //! Makes the status dialog's Cancel look pressed from this breather on (0: never).
    int statusDialogCancelAt = 0;
    //! The user's entries at each showing of the logon dialog, in order: user name,
    //! password, database (empty: keep what the dialog shows), or nothing for Cancel.
    //! When the list runs out, the dialog is cancelled.
    struct LogonAnswer {
        std::string username, password, database;
    };
    std::deque<std::optional<LogonAnswer>> logonAnswers;

    // --- helpers for assertions
    std::vector<std::string> textsOf(MessageKind kind) const;
    //! The number of messages of a kind.
    int count(MessageKind kind) const;

    // RunHost
    void showError(const std::string& text) override;
    bool askRetry(const std::string& text) override;
    void showInformation(const std::string& text) override;
    bool confirm(const std::string& text) override;
    bool confirmInformation(const std::string& text) override;
    void setStatusText(int panel, const std::string& text) override;
    bool progressWanted() override;
    void processPendingMessages() override;
    void UpdateAnsicht(bool idleState) override;
    void WarteMaus() override;
    void PfeilMaus() override;
    void showPage(std::string_view page) override;
    void focusControl(std::string_view control) override;
    void inputWritten(std::string_view control) override;
    std::optional<std::string> saveFileDialog(const SaveRequest& request) override;
    void openStatusDialog() override;
    void setStatusDialogCount(const std::string& text) override;
    bool statusDialogCancelled() override;
    void closeStatusDialog() override;
    void openLogWindow(const std::string& caption) override;
    void appendLogLine(const std::string& line) override;
    std::vector<std::string> logLines() override { return log; }
    bool showLogonDialog(LogonForm& form) override;

private:
    bool answer();
    void record(MessageKind kind, const std::string& text);

    int progressAsks_ = 0;
};

} // namespace fieldsmith::run
