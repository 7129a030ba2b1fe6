#include "OracleCommands.h"

#include "BatchCommands.h"
#include "engine/FieldDef.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include <cstdlib>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace fieldsmith::batch {

using namespace fieldsmith::oraclient;

std::string readPassword(std::istream& in, std::ostream& err, const std::string& prompt) {
    std::string line;
    const bool terminal = &in == &std::cin && isatty(STDIN_FILENO);
    if (!terminal) {
        if (!std::getline(in, line)) return {};
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    err << prompt << std::flush;
    termios saved{};
    const bool canHide = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::getline(in, line);
    if (canHide) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    err << '\n';
    return line;
}

namespace {

// A new password: asked twice on a terminal, one line otherwise.
std::string newPassword(std::istream& in, std::ostream& err, const std::string& user) {
    const std::string first = readPassword(in, err, "New password for " + user + ": ");
    if (&in == &std::cin && isatty(STDIN_FILENO) && readPassword(in, err, "Again: ") != first) {
        err << "fieldsmith-batch: the passwords differ\n";
        return {};
    }
    if (first.empty()) err << "fieldsmith-batch: no password given\n";
    return first;
}

} // namespace

int oracleUserCommand(const std::filesystem::path& configDir,
                      const std::vector<std::string>& operands, std::istream& in, std::ostream& out,
                      std::ostream& err) {
    std::vector<std::string> words;
    bool yes = false;
    for (const auto& w : operands) {
        if (w == "--yes")
            yes = true;
        else
            words.push_back(w);
    }
    if (words.size() != 3 || (words[0] != "add" && words[0] != "passwd" && words[0] != "remove")) {
        err << "fieldsmith-batch: usage: oracle-user add|passwd|remove DATABASE USER\n";
        return kExitUsage;
    }
    try {
        const std::string& action = words[0];
        const std::string user = checkedUserName(words[2]);
        auto entry = findOracleDatabase(configDir, words[1]);
        if (!entry && action != "add")
            throw OracleError(12154, "TNS:could not resolve the connect identifier specified");
        if (!entry || entry->type == "SQLITE")
            entry = ensureEmbeddedDatabase(configDir, words[1]);
        else
            throw OracleError(12154, "database " + entry->name +
                                         " is not an embedded one; manage its users there");
        EmbeddedUsers users(entry->path);
        if (action == "remove") {
            if (!users.exists(user)) throw OracleError(1918, "user '" + user + "' does not exist");
            const auto tables = users.tablesOf(user);
            if (!tables.empty() && !yes) {
                err << "fieldsmith-batch: the schema " << user << " holds " << tables.size()
                    << " table(s); give --yes to remove them with the user\n";
                return kExitFailed;
            }
            users.remove(user);
            out << "User " << user << " removed from " << entry->name << ".\n";
            return kExitOk;
        }
        if (action == "add" && users.exists(user))
            throw OracleError(1920,
                              "user name '" + user + "' conflicts with another user or role name");
        if (action == "passwd" && !users.exists(user))
            throw OracleError(1918, "user '" + user + "' does not exist");
        const std::string password = newPassword(in, err, user);
        if (password.empty()) return kExitFailed;
        if (action == "add")
            users.add(user, password);
        else
            users.setPassword(user, password);
        out << (action == "add" ? "User " + user + " created in "
                                : "Password of " + user + " changed in ")
            << entry->name << ".\n";
        return kExitOk;
    } catch (const OracleError& e) {
        err << "fieldsmith-batch: " << e.what() << '\n';
        return kExitFailed;
    }
}

int sqlCommand(const std::filesystem::path& configDir, const std::string& logon,
               const std::string& database, const std::string& statement, std::istream& in,
               std::ostream& out, std::ostream& err) {
    std::string user = logon;
    if (const auto at = logon.find('@'); at != std::string::npos) {
        user = logon.substr(0, at);
        if (!engine::sameName(logon.substr(at + 1), database)) {
            err << "fieldsmith-batch: --oracle-logon names another database than " << database
                << '\n';
            return kExitUsage;
        }
    }
    if (user.empty()) {
        err << "fieldsmith-batch: sql needs --oracle-logon USER@DATABASE\n";
        return kExitUsage;
    }
    std::string password;
    if (const char* env = std::getenv("FIELDSMITH_ORACLE_PASSWORD"); env && *env)
        password = env;
    else
        password = readPassword(in, err, "Password for " + user + "@" + database + ": ");
    try {
        OracleSession session(configDir);
        session.setClientCodePage(65001); // terminal and CSV are UTF-8
        session.setLogonUsername(user);
        session.setLogonPassword(password);
        session.setLogonDatabase(database);
        session.logOn();
        OracleQuery query(session);
        query.setSql(statement);
        query.open();
        if (query.statementKind() == StatementKind::Query) {
            for (int i = 0; i < query.fieldCount(); ++i)
                out << (i ? "," : "") << csvQuote(query.fieldName(i));
            out << "\r\n";
            for (query.first(); !query.eof(); query.next()) {
                for (int i = 0; i < query.fieldCount(); ++i)
                    out << (i ? "," : "") << csvQuote(query.fieldText(i));
                out << "\r\n";
            }
        } else {
            const auto n = query.rowsProcessed();
            switch (query.statementKind()) {
            case StatementKind::Insert:
            case StatementKind::Update:
            case StatementKind::Delete:
                err << n << (n == 1 ? " row" : " rows") << " processed.\n";
                break;
            default:
                err << "Statement processed.\n";
            }
        }
        session.logOff(); // commits
        return kExitOk;
    } catch (const OracleError& e) {
        err << "fieldsmith-batch: " << e.what() << '\n';
        return kExitFailed;
    }
}

} // namespace fieldsmith::batch
