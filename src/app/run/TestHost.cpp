#include "app/run/TestHost.h"

#include <algorithm>

namespace fieldsmith::run {

std::vector<std::string> TestHost::textsOf(MessageKind kind) const {
    std::vector<std::string> out;
    for (const auto& m : messages)
        if (m.kind == kind) out.push_back(m.text);
    return out;
}

int TestHost::count(MessageKind kind) const {
    return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                          [kind](const Message& m) { return m.kind == kind; }));
}

bool TestHost::answer() {
    if (answers.empty()) return defaultAnswer;
    const bool a = answers.front();
    answers.pop_front();
    return a;
}

void TestHost::record(MessageKind kind, const std::string& text) {
    messages.push_back({kind, text});
    events.push_back("message:" + text);
}

void TestHost::showError(const std::string& text) {
    record(MessageKind::Error, text);
}

bool TestHost::askRetry(const std::string& text) {
    record(MessageKind::Retry, text);
    return answer();
}

void TestHost::showInformation(const std::string& text) {
    record(MessageKind::Information, text);
}

bool TestHost::confirm(const std::string& text) {
    record(MessageKind::Confirmation, text);
    return answer();
}

bool TestHost::confirmInformation(const std::string& text) {
    record(MessageKind::InfoQuestion, text);
    return answer();
}

void TestHost::setStatusText(int panel, const std::string& text) {
    if (panel >= 0 && panel < static_cast<int>(panels.size())) panels[panel] = text;
}

bool TestHost::progressWanted() {
    return progressEvery > 0 && ++progressAsks_ % progressEvery == 0;
}

void TestHost::processPendingMessages() {
    ++pendingMessageRuns;
    if (cancelAtRecord > 0 && pendingMessageRuns == cancelAtRecord) CancelRequested = 1;
    if (onPendingMessages) onPendingMessages(*this, pendingMessageRuns);
}

void TestHost::UpdateAnsicht(bool idleState) {
    idle = idleState;
    events.push_back(idleState ? "UpdateAnsicht(true)" : "UpdateAnsicht(false)");
}

void TestHost::WarteMaus() {
    waitCursor = true;
    events.push_back("WarteMaus");
}

void TestHost::PfeilMaus() {
    waitCursor = false;
    events.push_back("PfeilMaus");
}

void TestHost::showPage(std::string_view page) {
    events.push_back("showPage(" + std::string(page) + ")");
}

void TestHost::focusControl(std::string_view control) {
    events.push_back("focus(" + std::string(control) + ")");
}

void TestHost::inputWritten(std::string_view control) {
    events.push_back("input(" + std::string(control) + ")");
}

std::optional<std::string> TestHost::saveFileDialog(const SaveRequest& request) {
    saveRequests.push_back(request);
    return savePath;
}

void TestHost::openStatusDialog() {
    events.push_back("openStatusDialog");
}

void TestHost::setStatusDialogCount(const std::string& text) {
    statusDialogCounts.push_back(text);
}

bool TestHost::statusDialogCancelled() {
    return statusDialogCancelAt > 0 && pendingMessageRuns >= statusDialogCancelAt;
}

void TestHost::closeStatusDialog() {
    events.push_back("closeStatusDialog");
}

void TestHost::openLogWindow(const std::string& caption) {
    log.clear();
    events.push_back("openLogWindow(" + caption + ")");
}

void TestHost::appendLogLine(const std::string& line) {
    log.push_back(line);
}

bool TestHost::showLogonDialog(LogonForm& form) {
    logonShowings.push_back(form);
    events.push_back("logon");
    if (logonAnswers.empty()) return false;
    const std::optional<LogonAnswer> a = logonAnswers.front();
    logonAnswers.pop_front();
    if (!a) return false;
    form.username = a->username;
    form.password = a->password;
    if (!a->database.empty()) form.database = a->database;
    return true;
}

} // namespace fieldsmith::run
