#include "app/run/OracleLogon.h"

#include "app/run/Operations.h"
#include "app/run/Texts.h"
#include "engine/FieldDef.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleSession.h"

#include <algorithm>

namespace fieldsmith::run {

namespace {

constexpr std::string_view kLogonFailed = "ORACLE Logon failed!";
constexpr int kShowings = 5;

oraclient::ConnectAs toConnectAs(LogonMode mode) {
    switch (mode) {
    case LogonMode::SysDba:
        return oraclient::ConnectAs::SysDba;
    case LogonMode::SysOper:
        return oraclient::ConnectAs::SysOper;
    case LogonMode::Normal:
        break;
    }
    return oraclient::ConnectAs::Normal;
}

LogonMode fromConnectAs(oraclient::ConnectAs mode) {
    switch (mode) {
    case oraclient::ConnectAs::SysDba:
        return LogonMode::SysDba;
    case oraclient::ConnectAs::SysOper:
        return LogonMode::SysOper;
    case oraclient::ConnectAs::Normal:
        break;
    }
    return LogonMode::Normal;
}

} // namespace

LogonText parseLogonText(std::string_view text) {
    LogonText logon;
    const auto at = text.rfind('@');
    if (at != std::string_view::npos) {
        logon.database = std::string(text.substr(at + 1));
        text = text.substr(0, at);
    }
    const auto slash = text.find('/');
    logon.username = std::string(text.substr(0, slash));
    if (slash != std::string_view::npos) logon.password = std::string(text.substr(slash + 1));
    return logon;
}

std::optional<LogonText> userIdArgument(const std::vector<std::string>& arguments) {
    for (const std::string& a : arguments) {
        const auto eq = a.find('=');
        if (eq != std::string::npos &&
            engine::sameName(std::string_view(a).substr(0, eq), "UserId"))
            return parseLogonText(std::string_view(a).substr(eq + 1));
    }
    return std::nullopt;
}

TOracleLogon::TOracleLogon(oraclient::OracleSession& session, std::filesystem::path configDir)
    : session_(session), configDir_(std::move(configDir)) {}

// Writes a logon into the session and connects; a success goes to the front of the history.
bool TOracleLogon::connect(const LogonText& logon, LogonMode mode) {
    session_.setLogonUsername(logon.username);
    session_.setLogonPassword(logon.password);
    if (!logon.database.empty()) session_.setLogonDatabase(logon.database);
    session_.setConnectAs(toConnectAs(mode));
    session_.logOn();
    LogonHistoryEntry entry{session_.logonUsername(), session_.logonDatabase(), mode};
    std::erase_if(history_, [&](const LogonHistoryEntry& e) {
        return engine::sameName(e.username, entry.username) &&
               engine::sameName(e.database, entry.database) && e.connectAs == entry.connectAs;
    });
    history_.insert(history_.begin(), std::move(entry));
    if (static_cast<int>(history_.size()) > HistorySize)
        history_.resize(static_cast<std::size_t>(HistorySize));
    return true;
}

bool TOracleLogon::Execute(RunHost& host) {
    if (firstExecute_) {
        firstExecute_ = false;
        if (const auto logon = userIdArgument(arguments_))
            return connect(*logon, LogonMode::Normal);
    }
    std::vector<std::string> databases;
    try {
        databases = oraclient::oracleDatabaseNames(configDir_);
    } catch (const oraclient::OracleError&) {
        // An unreadable oracle.ini leaves the list empty; a name can still be typed.
    }
    for (int attempt = 0;; ++attempt) {
        LogonForm form;
        form.caption = Caption;
        form.username = session_.logonUsername();
        form.password = session_.logonPassword();
        form.database = session_.logonDatabase();
        form.connectAs = fromConnectAs(session_.connectAs());
        form.databases = databases;
        form.databaseDropDownCount = AliasDropDownCount;
        form.history = history_;
        if (!host.showLogonDialog(form)) return false;
        try {
            return connect({form.username, form.password, form.database}, form.connectAs);
        } catch (const oraclient::OracleError& e) {
            session_.setLogonPassword({}); // the next showing asks for it again
            if (attempt >= Retries) throw;
            host.showError(e.what());
        }
    }
}

std::string logonDatabaseFor(const RunContext& context, std::string_view activePage) {
    std::string database;
    if (activePage == "CreateTableSeite")
        database = context.inputs.CreateTableSeite.NeuTab2Alias;
    else if (activePage == "ExportSeite")
        database = context.inputs.ExportSeite.ExportAlias;
    return database.empty() ? std::string("KR4") : database;
}

bool EnsureOracleLogon(RunContext& context, std::string_view activePage) {
    oraclient::OracleSession& session = context.shared.tSession;
    if (session.connected()) return true;
    session.setLogonDatabase(logonDatabaseFor(context, activePage));
    session.setLogonPassword({});
    session.setLogonUsername("KR4");
    // Values meet text in the formats and the code page of the program's own tables.
    session.setFormats(context.session.formats());
    session.setClientCodePage(context.session.ansiCodePage());
    for (int showing = 0; showing < kShowings && !session.connected(); ++showing) {
        try {
            context.shared.OraLogon.Execute(context.host);
        } catch (const oraclient::OracleError& e) {
            context.host.showInformation(e.what());
        }
    }
    if (!session.connected()) {
        context.host.showError(std::string(kLogonFailed));
        return false;
    }
    session.callProcedure("sys.dbms_application_info.set_client_info",
                          {{"client_info", std::string(kApplicationTitle)}});
    return true;
}

} // namespace fieldsmith::run
