#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"
#include "oracle/ScriptFiles.h"

#include "app/run/Operations.h"
#include "oraclient/OracleScript.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace fieldsmith::oracle {

LogClock logClockNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%d.%m.%Y", &local);
    std::strftime(time, sizeof time, "%H.%M.%S", &local);
    return {date, time};
}

namespace {

const std::string kBannerEdge(47, '=');
const std::string kBannerOuter = kBannerEdge + " " + kBannerEdge;
const std::string kBannerInner = "=====" + std::string(85, ' ') + "=====";

// The log as it grows: each line into the log window and into the log file, which is
// complete and replaces an older one at the end. A log file that cannot be made is
// reported after the script has run; the window still shows the log.
class ImportLog {
public:
    ImportLog(run::RunHost& host, const std::string& path, const std::string& script)
        : host_(host) {
        if (path.empty()) {
            failure_ = "Cannot write the log file: no name is given";
            return;
        }
        // The log must never replace the script it reports on.
        std::error_code ec;
        if (path == script || std::filesystem::equivalent(path, script, ec)) {
            failure_ = "Cannot write the log file " + path + ": it is the script file";
            return;
        }
        try {
            file_.emplace(path);
        } catch (const std::runtime_error& e) {
            failure_ = e.what();
        }
    }
    void add(const std::string& line) {
        host_.appendLogLine(line);
        if (!file_) return;
        file_->write(line);
        file_->write("\r\n");
    }
    //! Replaces the log file by this run's log; throws when it cannot be written.
    void finish() {
        if (!failure_.empty()) throw std::runtime_error(failure_);
        file_->commit();
    }

private:
    run::RunHost& host_;
    std::optional<ScriptFileWriter> file_;
    std::string failure_;
};

} // namespace

void ImportOracleScript(run::RunContext& context) {
    run::RunHost& host = context.host;
    const auto& in = context.inputs.ExportSeite;
    if (in.ExportTabOwnerEdit.empty()) return host.showError("No Table Owner specified!");
    if (in.ExportTab.empty()) return host.showError("No Table specified!");
    if (in.ExportFileEdit.empty()) return host.showError("No Import file specified!");
    oraclient::OracleSession* session = oracleSession(context);
    if (!session) return;
    // Oracle keeps no backup for an undo: the run is noted as one that cannot be undone.
    context.session.beforeServerWrite(session->logonDatabase(),
                                      in.ExportTabOwnerEdit + "." + in.ExportTab);

    host.openLogWindow("ORACLE database data import");
    ImportLog log(host, in.LogFileEdit, in.ExportFileEdit);
    const LogClock started = logClockNow();
    log.add(kBannerOuter);
    log.add(kBannerInner);
    log.add("=====  Script processing started - Date: " + started.date + " time: " + started.time +
            "  =====");
    log.add(kBannerInner);
    log.add(kBannerOuter);

    // The runner commits only at the script's own COMMIT lines and goes on after a failing
    // statement; it reads the file a statement at a time.
    oraclient::OracleScript OraScript(*session);
    OraScript.clear();
    OraScript.loadFromFile(in.ExportFileEdit);
    OraScript.setOutputHandler([&log](const std::string& text) { log.add(text); });
    try {
        OraScript.execute();
    } catch (const std::exception&) {
        host.showError("error on import!");
        const LogClock at = logClockNow();
        log.add("error on import! - Date: " + at.date + " time: " + at.time);
    }
    const LogClock done = logClockNow();
    log.add("process completed - Date: " + done.date + " time: " + done.time);
    log.finish();
}

void registerOperations(run::OperationTable& table) {
    table.add("ExportOracleInserts", ExportOracleInserts);
    table.add("ImportOracleScript", ImportOracleScript);
}

} // namespace fieldsmith::oracle
