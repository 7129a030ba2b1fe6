// The window's run host: message boxes through the dialog service, status panels that are
// kept current on every record but repainted at most about 25 times a second, the cancel
// flag, the running state and the cursors.
#pragma once

#include "app/run/RunHost.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <array>
#include <chrono>

namespace fieldsmith::ui {
class TStatusDlg;
}

namespace fieldsmith::app {

class TFieldsmithForm;

class WindowRunHost : public QObject, public run::RunHost {
    Q_OBJECT
public:
    explicit WindowRunHost(TFieldsmithForm& form);
    ~WindowRunHost() override;

    //! The latest text of a panel, also when it is not painted yet.
    const std::string& statusText(int panel) const { return panels_[panel]; }
    //! Writes the pending panel texts into the status bar now.
    void flushStatus();

    void showError(const std::string& text) override;
    bool askRetry(const std::string& text) override;
    void showInformation(const std::string& text) override;
    bool confirm(const std::string& text) override;
    bool confirmInformation(const std::string& text) override;
    void setStatusText(int panel, const std::string& text) override;
    bool progressWanted() override;
    void processPendingMessages() override;
    void UpdateAnsicht(bool idle) override;
    void WarteMaus() override;
    void PfeilMaus() override;
    void showPage(std::string_view page) override;
    void focusControl(std::string_view control) override;
    void inputWritten(std::string_view control) override;
    std::optional<std::string> saveFileDialog(const run::SaveRequest& request) override;
    void openStatusDialog() override;
    void setStatusDialogCount(const std::string& text) override;
    bool statusDialogCancelled() override;
    void closeStatusDialog() override;
    void openLogWindow(const std::string& caption) override;
    void appendLogLine(const std::string& line) override;
    std::vector<std::string> logLines() override;
    bool showLogonDialog(run::LogonForm& form) override;

private:
    bool message(run::MessageKind kind, const std::string& text);

    TFieldsmithForm& form_;
    std::array<std::string, 4> panels_;
    std::array<bool, 4> dirty_{};
    QTimer repaintTimer_;
    QPointer<ui::TStatusDlg> statusDlg_;
    std::chrono::steady_clock::time_point lastPump_{};
    //! Log lines not yet in the log box: a line at a time costs the box some 50 µs, a block
    //! of a thousand about as much as ten lines. They go in when the block is full, when
    //! the log is read, and when the message loop runs again.
    QStringList pendingLog_;
    void flushLog();
};

} // namespace fieldsmith::app
