// The run host of fieldsmith-batch: messages go to standard error, progress to one
// updating line, questions are answered by the command line (--yes, --no, or stop).
#pragma once

#include "app/run/RunHost.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fieldsmith::run {

//! Thrown by ConsoleHost at a question when the command line gave no answer for it.
class UnansweredQuestion : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class BatchAnswer {
    Stop, //!< stop at the first question (the default)
    Yes,
    No,
};

class ConsoleHost : public RunHost {
public:
    struct Options {
        BatchAnswer answer = BatchAnswer::Stop;
        std::optional<std::string> saveAs; //!< --save-as PATH
        bool interactive = false;          //!< standard error is a terminal: redraw in place
        int codePage = 1252;               //!< the program's code page, for the terminal
        //! --oracle-logon USER@DATABASE: the logon dialog's answer (empty: no logon).
        std::string oracleLogon;
        //! Asks for the Oracle password without echo; nothing when none can be read.
        //! The first logon takes $FIELDSMITH_ORACLE_PASSWORD instead when it is set.
        std::function<std::optional<std::string>(const std::string& prompt)> passwordPrompt;
    };

    ConsoleHost(std::ostream& err, Options options);

    //! Error boxes shown so far: a run that showed one ends with a non-zero status.
    int errorsShown() const { return errors_; }
    //! Ends the progress line so that the next output starts on a line of its own.
    void endProgressLine();

    //! Makes the next breather raise the cancel flag (Ctrl+C).
    static void requestCancel();

    // RunHost
    void showError(const std::string& text) override;
    bool askRetry(const std::string& text) override;
    void showInformation(const std::string& text) override;
    bool confirm(const std::string& text) override;
    bool confirmInformation(const std::string& text) override;
    void setStatusText(int panel, const std::string& text) override;
    bool progressWanted() override;
    void processPendingMessages() override;
    void UpdateAnsicht(bool idle) override;
    void WarteMaus() override {}
    void PfeilMaus() override {}
    void showPage(std::string_view) override {}
    void focusControl(std::string_view) override {}
    void inputWritten(std::string_view) override {}
    std::optional<std::string> saveFileDialog(const SaveRequest& request) override;
    void openStatusDialog() override;
    void setStatusDialogCount(const std::string& text) override;
    bool statusDialogCancelled() override;
    void closeStatusDialog() override;
    void openLogWindow(const std::string& caption) override;
    void appendLogLine(const std::string& line) override;
    //! The log goes to the terminal as it comes and is not kept: a script's log can be far
    //! larger than memory, and the import writes its log file itself.
    std::vector<std::string> logLines() override { return {}; }
    bool showLogonDialog(LogonForm& form) override;

private:
    std::string terminalText(const std::string& text) const;
    void message(const char* kind, const std::string& text);
    bool question(const char* kind, const std::string& text);
    void drawProgress(bool force);

    std::ostream& err_;
    Options options_;
    int errors_ = 0;
    std::array<std::string, 3> panels_;
    std::string statusDialogCount_;
    bool progressShown_ = false;
    bool progressDirty_ = false;
    std::size_t lastProgressWidth_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
    bool statusDialogCancelled_ = false;
    int logonShowings_ = 0;
};

} // namespace fieldsmith::run
