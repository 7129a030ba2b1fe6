// The Oracle session: logon with user, password and database, commit and rollback
// without autocommit, a stored-procedure call, and the text preferences and formats in
// which its datasets read and write values. The program's one way to an Oracle database.
#pragma once

#include "OracleBackend.h"
#include "OracleError.h"
#include "engine/CodePage.h"
#include "engine/FormatSettings.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fieldsmith::oraclient {

//! How text values are read and written; the defaults are what the program relies on.
struct TextPreferences {
    bool trimStringFields = true; //!< text values read lose their trailing blanks
    bool convertCrLf = true;      //!< line breaks read as CR LF; CRs dropped when writing
    bool zeroDateIsNull = true;   //!< the zero date (1899-12-30 00:00) is written as null
};

class OracleSession {
public:
    //! A session that finds its databases in configDir/oracle.ini.
    explicit OracleSession(std::filesystem::path configDir);
    //! Logs off (which commits, as a normal end of an Oracle session does).
    ~OracleSession();
    OracleSession(const OracleSession&) = delete;
    OracleSession& operator=(const OracleSession&) = delete;

    // --- logon
    void setLogonUsername(std::string name) { logon_.username = std::move(name); }
    void setLogonPassword(std::string password) { logon_.password = std::move(password); }
    void setLogonDatabase(std::string database) { logon_.database = std::move(database); }
    void setConnectAs(ConnectAs mode) { logon_.connectAs = mode; }
    const std::string& logonUsername() const { return logon_.username; }
    const std::string& logonPassword() const { return logon_.password; }
    const std::string& logonDatabase() const { return logon_.database; }
    ConnectAs connectAs() const { return logon_.connectAs; }

    //! Connects with the logon properties. Throws OracleError (ORA-01017 wrong user or
    //! password, ORA-12154 unknown database); a connected session is logged off first.
    void logOn();
    //! Commits what is pending and disconnects; nothing when not connected.
    void logOff();
    bool connected() const { return backend_ != nullptr; }
    void commit();
    void rollback();
    //! Calls a stored procedure with text arguments passed by name, such as
    //! ("sys.dbms_application_info.set_client_info", {{"client_info", "KR4 Fieldsmith"}}).
    void callProcedure(const std::string& name, const std::vector<NamedArgument>& args);

    // --- how values meet text
    TextPreferences& preferences() { return preferences_; }
    const TextPreferences& preferences() const { return preferences_; }
    const engine::FormatSettings& formats() const { return formats_; }
    //! Date, time and number formats of values read and written as text (and of text
    //! converted inside SQL, as the session's NLS settings).
    void setFormats(const engine::FormatSettings& formats);
    //! The code page of the program's text (1252 unless set; 65001 is UTF-8). SQL text and
    //! values are converted at this boundary; the database keeps UTF-8.
    void setClientCodePage(int codePage);
    int clientCodePage() const { return codePage_; }

    // --- for datasets and the script runner
    //! Runs one statement, SQL and text values in the client code page; results come
    //! back with text in the client code page. Throws OracleError; ORA-03114 when not
    //! connected.
    StatementResult execute(const std::string& sql, const std::vector<OracleValue>& binds = {});
    //! As execute, with a query's rows fetched one at a time; the cursor must be released
    //! before the session logs off.
    std::unique_ptr<OracleCursor> openCursor(const std::string& sql,
                                             const std::vector<OracleValue>& binds = {});
    //! Queues a row for an INSERT whose result no one reads (a table copy): the queue is
    //! written when it is full, and before any other statement, commit or logoff runs, many
    //! rows a statement where the database allows it; a rollback drops it. An error of a
    //! queued row is thrown by the call that writes the queue, with the rows before it
    //! written; droppedRows() then tells how many rows of the queue were not.
    void queueInsert(const std::string& sql, std::vector<OracleValue> binds);
    //! Writes the queued rows now.
    void writeQueued();
    //! The rows of the queue that its last write did not write because one of them failed;
    //! 0 after a write that succeeded.
    std::size_t droppedRows() const { return droppedRows_; }
    std::string toClient(std::string_view utf8) const;
    std::string fromClient(std::string_view text) const;

private:
    OracleBackend& backend();

    std::filesystem::path configDir_;
    LogonRequest logon_;
    std::unique_ptr<OracleBackend> backend_;
    TextPreferences preferences_;
    engine::FormatSettings formats_;
    int codePage_ = 1252;
    engine::CodePageConverter toUtf8_, fromUtf8_;
    // The rows queued for one INSERT (client text converted already).
    static constexpr std::size_t kQueuedRows = 256;
    std::string queuedSql_;
    std::vector<std::vector<OracleValue>> queued_;
    std::size_t droppedRows_ = 0;
};

} // namespace fieldsmith::oraclient
