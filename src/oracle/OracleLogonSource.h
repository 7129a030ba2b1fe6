// Oracle exchange: the INSERT script export, the script import with its log, and where
// their Oracle session comes from. No Qt; the operations reach the user through the host.
#pragma once

#include <memory>
#include <string>

namespace fieldsmith::run {
class RunHost;
}
namespace fieldsmith::oraclient {
class OracleSession;
}

namespace fieldsmith::oracle {

//! Where the Oracle operations get the program's one session: EnsureOracleLogon. The
//! window plugs its logon dialog in here; batch mode and tests log on without asking.
class OracleLogonSource {
public:
    virtual ~OracleLogonSource() = default;
    //! The session, logged on to database ("KR4" when empty) if it was not connected yet.
    //! nullptr when the logon failed; the user has then been told ("ORACLE Logon failed!").
    virtual oraclient::OracleSession* EnsureOracleLogon(run::RunHost& host,
                                                        const std::string& database) = 0;
};

//! A logon with a user and password known in advance, for batch mode and tests: the
//! stand-in until the logon dialog and --oracle-logon take this place.
class FixedOracleLogon : public OracleLogonSource {
public:
    FixedOracleLogon(std::string configDir, std::string user, std::string password);
    ~FixedOracleLogon() override;
    //! user and password from $FIELDSMITH_ORACLE_USER (default KR4) and
    //! $FIELDSMITH_ORACLE_PASSWORD (default none).
    static std::unique_ptr<FixedOracleLogon> fromEnvironment(std::string configDir);

    oraclient::OracleSession* EnsureOracleLogon(run::RunHost& host,
                                                const std::string& database) override;
    //! The session, connected or not (tests set its formats and code page).
    oraclient::OracleSession& session() { return *session_; }

private:
    std::string user_, password_;
    std::unique_ptr<oraclient::OracleSession> session_;
};

} // namespace fieldsmith::oracle
