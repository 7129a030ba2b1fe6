#include "app/run/ConsoleHost.h"

#include "engine/CodePage.h"

#include <csignal>
#include <cstdlib>

namespace fieldsmith::run {

namespace {

volatile std::sig_atomic_t gCancelSignal = 0;

// Redraw the progress line at most ten times a second.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

} // namespace

ConsoleHost::ConsoleHost(std::ostream& err, Options options)
    : err_(err), options_(std::move(options)) {}

void ConsoleHost::requestCancel() {
    gCancelSignal = 1;
}

std::string ConsoleHost::terminalText(const std::string& text) const {
    // Messages use a lone carriage return as their line break.
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            lines += text[i];
        }
    }
    return engine::toUtf8(lines, options_.codePage);
}

void ConsoleHost::endProgressLine() {
    if (progressDirty_) drawProgress(true);
    if (progressShown_) err_ << '\n';
    progressShown_ = false;
    lastProgressWidth_ = 0;
    err_.flush();
}

void ConsoleHost::message(const char* kind, const std::string& text) {
    endProgressLine();
    err_ << kind << ": " << terminalText(text) << '\n';
    err_.flush();
}

bool ConsoleHost::question(const char* kind, const std::string& text) {
    message(kind, text);
    switch (options_.answer) {
    case BatchAnswer::Yes:
        err_ << "  -> Yes (--yes)\n";
        return true;
    case BatchAnswer::No:
        err_ << "  -> No (--no)\n";
        return false;
    case BatchAnswer::Stop:
        break;
    }
    throw UnansweredQuestion("stopped at a question; answer it with --yes or --no");
}

void ConsoleHost::showError(const std::string& text) {
    ++errors_;
    message("Error", text);
}

bool ConsoleHost::askRetry(const std::string& text) {
    // Retrying cannot succeed without someone releasing the table, so batch mode gives up.
    message("Error", text);
    err_ << "  -> Cancel (batch mode does not retry)\n";
    return false;
}

void ConsoleHost::showInformation(const std::string& text) {
    message("Information", text);
}

bool ConsoleHost::confirm(const std::string& text) {
    return question("Question", text);
}

bool ConsoleHost::confirmInformation(const std::string& text) {
    return question("Question", text);
}

void ConsoleHost::setStatusText(int panel, const std::string& text) {
    if (panel < 0 || panel >= static_cast<int>(panels_.size()) || panels_[panel] == text) return;
    panels_[panel] = text;
    progressDirty_ = true;
    drawProgress(false);
}

// The progress line is drawn on a terminal at intervals, and elsewhere only at the end.
bool ConsoleHost::progressWanted() {
    return options_.interactive &&
           (!progressShown_ || std::chrono::steady_clock::now() - lastDraw_ >= kProgressInterval);
}

void ConsoleHost::drawProgress(bool force) {
    if (!options_.interactive && !force) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && progressShown_ && now - lastDraw_ < kProgressInterval) return;
    lastDraw_ = now;
    std::string line;
    for (const std::string& p : {panels_[1], panels_[2], statusDialogCount_, panels_[0]}) {
        if (p.empty() || p == " ") continue;
        if (!line.empty()) line += "  |  ";
        line += p;
    }
    line = terminalText(line);
    if (line.empty()) return;
    if (options_.interactive) {
        err_ << '\r' << line;
        if (line.size() < lastProgressWidth_)
            err_ << std::string(lastProgressWidth_ - line.size(), ' ');
        lastProgressWidth_ = line.size();
        progressShown_ = true;
    } else {
        err_ << line << '\n';
    }
    progressDirty_ = false;
    err_.flush();
}

void ConsoleHost::processPendingMessages() {
    if (gCancelSignal) {
        gCancelSignal = 0;
        CancelRequested = 1;
        statusDialogCancelled_ = true;
    }
}

void ConsoleHost::UpdateAnsicht(bool idle) {
    if (idle) endProgressLine();
}

std::optional<std::string> ConsoleHost::saveFileDialog(const SaveRequest& request) {
    endProgressLine();
    if (options_.saveAs) {
        err_ << "Save: " << *options_.saveAs << '\n';
        return options_.saveAs;
    }
    err_ << "Not saved: " << request.fileName << " (give --save-as PATH to save it)\n";
    return std::nullopt;
}

void ConsoleHost::openStatusDialog() {
    statusDialogCancelled_ = false;
    statusDialogCount_.clear();
}

void ConsoleHost::setStatusDialogCount(const std::string& text) {
    statusDialogCount_ = text;
    progressDirty_ = true;
    drawProgress(false);
}

bool ConsoleHost::statusDialogCancelled() {
    return statusDialogCancelled_;
}

void ConsoleHost::closeStatusDialog() {
    statusDialogCount_.clear();
    endProgressLine();
}

void ConsoleHost::openLogWindow(const std::string& caption) {
    endProgressLine();
    err_ << "== " << terminalText(caption) << " ==\n";
}

void ConsoleHost::appendLogLine(const std::string& line) {
    err_ << terminalText(line) << '\n';
}

// The logon comes from the command line: USER@DATABASE from --oracle-logon, the password
// from the environment for the first showing and from the terminal for every later one, so
// that a wrong password in the environment is not tried again and again.
bool ConsoleHost::showLogonDialog(LogonForm& form) {
    ++logonShowings_;
    endProgressLine();
    if (options_.oracleLogon.empty()) {
        if (logonShowings_ == 1)
            err_ << "This run needs an Oracle logon: give --oracle-logon USER@DATABASE (the "
                    "password from $FIELDSMITH_ORACLE_PASSWORD or the terminal).\n";
        return false;
    }
    const std::string& logon = options_.oracleLogon;
    const auto at = logon.find('@');
    form.username = logon.substr(0, at);
    if (at != std::string::npos && at + 1 < logon.size()) form.database = logon.substr(at + 1);
    form.connectAs = LogonMode::Normal;
    const char* env = std::getenv("FIELDSMITH_ORACLE_PASSWORD");
    if (logonShowings_ == 1 && env && *env) {
        form.password = env;
    } else {
        if (!options_.passwordPrompt) return false;
        const auto password =
            options_.passwordPrompt("Password for " + form.username + "@" + form.database + ": ");
        if (!password) return false;
        form.password = *password;
    }
    err_ << "Oracle logon as " << form.username << "@" << form.database << '\n';
    err_.flush();
    return true;
}

} // namespace fieldsmith::run
