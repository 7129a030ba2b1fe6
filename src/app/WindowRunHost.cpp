#include "app/WindowRunHost.h"

#include <algorithm>

#include <chrono>

#include "app/FieldsmithForm.h"
#include "app/TextCodec.h"
#include "ui/StatusDlg.h"
#include "ui/ZipMsgForm.h"

#include <QApplication>
#include <QLabel>

namespace fieldsmith::app {

namespace {
// About 25 repaints a second at most.
constexpr int kRepaintIntervalMs = 40;
} // namespace

WindowRunHost::WindowRunHost(TFieldsmithForm& form) : QObject(&form), form_(form) {
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(kRepaintIntervalMs);
    connect(&repaintTimer_, &QTimer::timeout, this, &WindowRunHost::flushStatus);
}

WindowRunHost::~WindowRunHost() {
    if (statusDlg_) delete statusDlg_.data();
}

bool WindowRunHost::message(run::MessageKind kind, const std::string& text) {
    flushStatus(); // the box should stand over the final counts
    return form_.message(kind, fromEngine(text));
}

void WindowRunHost::showError(const std::string& text) {
    message(run::MessageKind::Error, text);
}
bool WindowRunHost::askRetry(const std::string& text) {
    return message(run::MessageKind::Retry, text);
}
void WindowRunHost::showInformation(const std::string& text) {
    message(run::MessageKind::Information, text);
}
bool WindowRunHost::confirm(const std::string& text) {
    return message(run::MessageKind::Confirmation, text);
}
bool WindowRunHost::confirmInformation(const std::string& text) {
    return message(run::MessageKind::InfoQuestion, text);
}

void WindowRunHost::setStatusText(int panel, const std::string& text) {
    if (panel < 0 || panel >= static_cast<int>(panels_.size()) || panels_[panel] == text) return;
    panels_[panel] = text;
    dirty_[panel] = true;
    if (!repaintTimer_.isActive()) repaintTimer_.start();
}

// The panels are painted when the repaint timer runs out; until then the text they will
// show is the one they already hold.
bool WindowRunHost::progressWanted() {
    return !repaintTimer_.isActive();
}

void WindowRunHost::flushStatus() {
    repaintTimer_.stop();
    for (int i = 0; i < static_cast<int>(panels_.size()); ++i) {
        if (!dirty_[i]) continue;
        dirty_[i] = false;
        if (QLabel* label = form_.statusPanel(i)) {
            label->setText(fromEngine(panels_[i]));
            // Panel 0 ("Execution Duration: ...") widens to show its whole text.
            if (i == 0) {
                const int needed = label->fontMetrics().horizontalAdvance(label->text()) +
                                   2 * label->frameWidth() + 2 * label->margin() + 8;
                label->setFixedWidth(std::max(66, needed));
            }
        }
    }
}

void WindowRunHost::processPendingMessages() {
    // A pass through the message loop costs about a microsecond, as much as a record's own
    // work; the window stays just as responsive when it runs at most every half millisecond.
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ < std::chrono::microseconds(500)) return;
    lastPump_ = now;
    QCoreApplication::processEvents();
}

void WindowRunHost::UpdateAnsicht(bool idle) {
    form_.UpdateAnsicht(idle);
    if (idle) flushStatus();
}

void WindowRunHost::WarteMaus() {
    form_.WarteMaus();
}
void WindowRunHost::PfeilMaus() {
    form_.PfeilMaus();
}

void WindowRunHost::showPage(std::string_view page) {
    form_.showPage(QString::fromUtf8(page.data(), static_cast<int>(page.size())));
}

void WindowRunHost::focusControl(std::string_view control) {
    const QString name = QString::fromUtf8(control.data(), static_cast<int>(control.size()));
    if (auto* w = form_.findChild<QWidget*>(name)) w->setFocus();
}

void WindowRunHost::inputWritten(std::string_view control) {
    form_.writeBackInput(QString::fromUtf8(control.data(), static_cast<int>(control.size())));
}

std::optional<std::string> WindowRunHost::saveFileDialog(const run::SaveRequest& request) {
    flushStatus();
    SaveDialogRequest r;
    r.directory = fromEngine(request.directory);
    r.fileName = fromEngine(request.fileName);
    r.defaultSuffix = fromEngine(request.defaultExtension);
    r.filters = {QStringLiteral("Text Files (*.TXT)"), QStringLiteral("All Files (*.*)"),
                 QStringLiteral("ZIP Files (*.ZIP)"), QStringLiteral("HTML Files (*.HTM)"),
                 QStringLiteral("DOC Files (*.DOC)")};
    auto chosen = form_.dialogs().saveFile(&form_, r);
    if (!chosen) return std::nullopt;
    return toEngine(*chosen);
}

void WindowRunHost::openStatusDialog() {
    if (!statusDlg_) statusDlg_ = new ui::TStatusDlg(&form_);
    statusDlg_->hideFileRow();
    statusDlg_->clearCancel();
    statusDlg_->show();
    QCoreApplication::processEvents();
}

void WindowRunHost::setStatusDialogCount(const std::string& text) {
    if (statusDlg_) statusDlg_->setCount(fromEngine(text));
}

bool WindowRunHost::statusDialogCancelled() {
    return statusDlg_ && statusDlg_->cancelled();
}

void WindowRunHost::closeStatusDialog() {
    if (!statusDlg_) return;
    statusDlg_->hide();
    statusDlg_->deleteLater();
    statusDlg_ = nullptr;
}

void WindowRunHost::openLogWindow(const std::string& caption) {
    pendingLog_.clear();
    ui::TZipMsgForm* log = form_.zipMsgForm();
    log->showLogOnly();
    log->setWindowTitle(fromEngine(caption));
    log->clearLog();
    log->show();
}

void WindowRunHost::appendLogLine(const std::string& line) {
    if (pendingLog_.isEmpty()) QTimer::singleShot(0, this, [this] { flushLog(); });
    pendingLog_.append(fromEngine(line));
    if (pendingLog_.size() >= 1000) flushLog();
}

void WindowRunHost::flushLog() {
    if (pendingLog_.isEmpty()) return;
    form_.zipMsgForm()->appendLine(pendingLog_.join(QLatin1Char('\n')));
    pendingLog_.clear();
}

std::vector<std::string> WindowRunHost::logLines() {
    flushLog();
    std::vector<std::string> lines;
    for (const QString& l : form_.zipMsgForm()->lines())
        lines.push_back(toEngine(l));
    return lines;
}

bool WindowRunHost::showLogonDialog(run::LogonForm& form) {
    flushStatus();
    return form_.dialogs().logon(&form_, form);
}

} // namespace fieldsmith::app
