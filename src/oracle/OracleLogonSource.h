// Oracle exchange: the INSERT script export, the script import with its log, and where
// their Oracle session comes from. No Qt; the operations reach the user through the host.
#pragma once

#include <memory>
#include <string>

namespace fieldsmith::run {
class RunHost;
struct RunContext;
} // namespace fieldsmith::run
namespace fieldsmith::oraclient {
class OracleSession;
}

namespace fieldsmith::oracle {

//! A logon that replaces the program's own (the logon dialog, --oracle-logon) for the
//! Oracle exchange: tests and benchmarks log on without asking.
class OracleLogonSource {
public:
    virtual ~OracleLogonSource() = default;
    //! The session, logged on to database ("KR4" when empty) if it was not connected yet.
    //! nullptr when the logon failed; the user has then been told ("ORACLE Logon failed!").
    virtual oraclient::OracleSession* EnsureOracleLogon(run::RunHost& host,
                                                        const std::string& database) = 0;
};

//! A logon with a user and password known in advance, for tests and benchmarks.
class FixedOracleLogon : public OracleLogonSource {
public:
    FixedOracleLogon(std::string configDir, std::string user, std::string password);
    ~FixedOracleLogon() override;

    oraclient::OracleSession* EnsureOracleLogon(run::RunHost& host,
                                                const std::string& database) override;
    //! The session, connected or not (tests set its formats and code page).
    oraclient::OracleSession& session() { return *session_; }

private:
    std::string user_, password_;
    std::unique_ptr<oraclient::OracleSession> session_;
};

//! The session of an operation of the Import/Export page: through the logon set in the
//! shared state when there is one, else EnsureOracleLogon with the program's one session.
//! nullptr when the logon failed; the user has then been told.
oraclient::OracleSession* oracleSession(run::RunContext& context);

} // namespace fieldsmith::oracle
