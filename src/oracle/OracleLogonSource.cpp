#include "oracle/OracleLogonSource.h"

#include "app/run/Operations.h"
#include "app/run/OracleLogon.h"
#include "app/run/RunHost.h"
#include "oraclient/OracleSession.h"

namespace fieldsmith::oracle {

FixedOracleLogon::FixedOracleLogon(std::string configDir, std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)),
      session_(std::make_unique<oraclient::OracleSession>(std::move(configDir))) {}

FixedOracleLogon::~FixedOracleLogon() = default;

oraclient::OracleSession* FixedOracleLogon::EnsureOracleLogon(run::RunHost& host,
                                                              const std::string& database) {
    if (session_->connected()) return session_.get();
    session_->setLogonDatabase(database.empty() ? "KR4" : database);
    session_->setLogonUsername(user_);
    session_->setLogonPassword(password_);
    try {
        session_->logOn();
    } catch (const std::exception& e) {
        host.showError(e.what());
        host.showError("ORACLE Logon failed!");
        return nullptr;
    }
    // A failure here is not a failed logon: it reaches the calling operation.
    session_->callProcedure("sys.dbms_application_info.set_client_info",
                            {{"client_info", "KR4 Fieldsmith"}});
    return session_.get();
}

oraclient::OracleSession* oracleSession(run::RunContext& context) {
    if (context.shared.oracleLogon)
        return context.shared.oracleLogon->EnsureOracleLogon(
            context.host, context.inputs.ExportSeite.ExportAlias);
    return run::EnsureOracleLogon(context, "ExportSeite") ? &context.shared.tSession : nullptr;
}

} // namespace fieldsmith::oracle
