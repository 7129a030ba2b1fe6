// The run host: the one interface through which an operation reaches the user. The window
// implements it with Qt, tests with TestHost, and fieldsmith-batch with ConsoleHost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::run {

//! The four kinds of message box, plus the information-icon Yes/No question.
enum class MessageKind {
    Error,        //!< error icon, OK
    Retry,        //!< error icon, OK and Cancel
    Information,  //!< information icon, OK
    Confirmation, //!< question icon, Yes and No
    InfoQuestion, //!< information icon, Yes and No
};

//! How the Oracle logon connects (the logon dialog's "connect as" choice).
enum class LogonMode { Normal, SysDba, SysOper };

//! One earlier logon of the run, as the logon dialog's history offers it: never a password.
struct LogonHistoryEntry {
    std::string username;
    std::string database;
    LogonMode connectAs = LogonMode::Normal;
};

//! The Oracle logon dialog's boxes: filled in when it is shown, the user's entries after OK.
struct LogonForm {
    std::string caption;
    std::string username;
    std::string password;
    std::string database;
    LogonMode connectAs = LogonMode::Normal;
    std::vector<std::string> databases;     //!< the database box's drop-down list
    int databaseDropDownCount = 8;          //!< visible lines of that list
    std::vector<LogonHistoryEntry> history; //!< newest first
};

//! What the save dialog is opened with.
struct SaveRequest {
    std::string directory;
    std::string fileName;
    std::string defaultExtension; //!< without the dot, e.g. "TXT"
};

class RunHost {
public:
    virtual ~RunHost() = default;

    // --- message boxes; each waits for the user's answer
    virtual void showError(const std::string& text) = 0;
    //! Retry box: true for OK (try again), false for Cancel.
    virtual bool askRetry(const std::string& text) = 0;
    virtual void showInformation(const std::string& text) = 0;
    //! Confirmation box: true for Yes.
    virtual bool confirm(const std::string& text) = 0;
    //! The same question with the information icon: true for Yes.
    virtual bool confirmInformation(const std::string& text) = 0;

    // --- status bar panels 0 to 2 (panel 3 is never written)
    virtual void setStatusText(int panel, const std::string& text) = 0;
    //! Whether a progress text given now would be seen. A host that shows its panels at
    //! intervals says no in between, so that a run over a million records does not make a
    //! million texts that no one reads; a run gives its last progress in any case.
    virtual bool progressWanted() { return true; }

    //! Lets pending window messages run: repaints, clicks on Cancel, tabs, menus.
    virtual void processPendingMessages() = 0;

    // --- window state
    //! true: idle (Run, Close, File > Close enabled, Cancel disabled); false: running.
    virtual void UpdateAnsicht(bool idle) = 0;
    virtual void WarteMaus() = 0;
    virtual void PfeilMaus() = 0;
    //! Brings a page to the front without changing the info text or the help file.
    virtual void showPage(std::string_view page) = 0;
    virtual void focusControl(std::string_view control) = 0;
    //! An operation changed an input (NumberEdit, AddPrimStartRecordEdit, ...); the window
    //! shows the new value of that member of the page's inputs.
    virtual void inputWritten(std::string_view control) = 0;

    //! The save dialog: the chosen path, or nothing when the user cancels.
    virtual std::optional<std::string> saveFileDialog(const SaveRequest& request) = 0;

    // --- the status dialog of the table copy and the INSERT export
    //! Shows the dialog without waiting; clears its own cancel flag.
    virtual void openStatusDialog() = 0;
    virtual void setStatusDialogCount(const std::string& text) = 0;
    virtual bool statusDialogCancelled() = 0;
    virtual void closeStatusDialog() = 0;

    // --- the Oracle logon dialog
    //! Shows the logon dialog with the form's values and waits: true for OK, with the
    //! user's entries in form; false for Cancel.
    virtual bool showLogonDialog(LogonForm& form) = 0;

    // --- the log window of the script import
    virtual void openLogWindow(const std::string& caption) = 0;
    virtual void appendLogLine(const std::string& line) = 0;
    virtual std::vector<std::string> logLines() = 0;

    //! The cancel flag: 0 no request, 1 the user pressed Cancel. Only the Cancel button
    //! sets it; runs clear it. Read and written on the one thread of the program.
    std::uint8_t CancelRequested = 0;
};

} // namespace fieldsmith::run
