// The Oracle logon of the window: the logon dialog component OraLogon (retries, history of
// the run without passwords, the automatic first logon from a "UserId=" argument) and
// EnsureOracleLogon, which every Oracle operation calls before it talks to the session.
#pragma once

#include "app/run/RunHost.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oraclient {
class OracleSession;
}

namespace fieldsmith::run {

struct RunContext;

//! A logon given as USER/PASSWORD@DATABASE; parts that are missing stay empty.
struct LogonText {
    std::string username, password, database;
};
//! Splits USER/PASSWORD@DATABASE: the password after the first "/", the database after the
//! last "@".
LogonText parseLogonText(std::string_view text);
//! The logon of the first "UserId=..." argument (the name in any case), if there is one.
std::optional<LogonText> userIdArgument(const std::vector<std::string>& arguments);

//! The logon dialog bound to a session. The host shows the boxes; this class fills them,
//! connects, retries, and keeps the history.
class TOracleLogon {
public:
    TOracleLogon(oraclient::OracleSession& session, std::filesystem::path configDir);

    std::string Caption = "KR4 Oracle Logon";
    //! Failed connection attempts within one showing that the user may follow with another.
    int Retries = 3;
    int AliasDropDownCount = 8;
    int HistorySize = 6;

    //! The program's command line, searched for "UserId=" on the first Execute.
    void setProgramArguments(std::vector<std::string> arguments) {
        arguments_ = std::move(arguments);
    }

    //! One showing: on the first call of a run a "UserId=" argument logs on without the
    //! dialog; otherwise the dialog is shown with the session's logon values, and OK writes
    //! the entries into the session and connects. A failed attempt shows the Oracle error
    //! and the dialog again, up to Retries times; the error of the last one is thrown
    //! (OracleError). Returns true when connected, false for Cancel.
    bool Execute(RunHost& host);

    //! Earlier logons of this run, newest first, without passwords.
    const std::vector<LogonHistoryEntry>& history() const { return history_; }

private:
    bool connect(const LogonText& logon, LogonMode mode);

    oraclient::OracleSession& session_;
    std::filesystem::path configDir_;
    std::vector<std::string> arguments_;
    std::vector<LogonHistoryEntry> history_;
    bool firstExecute_ = true;
};

//! The logon database for the active page: the Create Table page's target alias, the
//! Oracle Import/Export page's alias box, or KR4 when that text is empty or another page
//! is active.
std::string logonDatabaseFor(const RunContext& context, std::string_view activePage);

//! Connects the window's one Oracle session when it is not connected: the dialog with user
//! KR4, an empty password and the logon database of the active page, shown at most five
//! times; then the client info "KR4 Fieldsmith". False after "ORACLE Logon failed!".
bool EnsureOracleLogon(RunContext& context, std::string_view activePage);

} // namespace fieldsmith::run
