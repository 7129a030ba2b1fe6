// The Run dispatch without the window: which operation a page starts, the table of the
// operations built so far, and what an operation is given to work with.
#pragma once

#include "app/run/OracleLogon.h"
#include "app/run/PageInputs.h"
#include "app/run/RunHost.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "oraclient/OracleSession.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oracle {
class OracleLogonSource;
}

namespace fieldsmith::run {

//! What the window owns and the operations share: the two table datasets, the hidden
//! line list of unmatched keys, and the one Oracle session with its logon dialog.
struct SharedState {
    explicit SharedState(engine::Session& session);

    engine::Table TempTable; //!< working table of several pages and of the Table View
    engine::Table PrimTable; //!< counter tables, alias KESTREL
    std::vector<std::string> FehlerListe;
    //! A logon known in advance (tests, benchmarks) that the Oracle exchange uses instead
    //! of EnsureOracleLogon and the session below; none in the program.
    oracle::OracleLogonSource* oracleLogon = nullptr;
    //! Connected by the first successful EnsureOracleLogon; stays connected until the end.
    oraclient::OracleSession tSession;
    TOracleLogon OraLogon;
};

//! Everything an operation works with. Operations read the inputs at the moment they need
//! them and reach the user only through the host.
struct RunContext {
    RunHost& host;
    engine::Session& session;
    PageInputs& inputs;
    SharedState& shared;
};

using Operation = std::function<void(RunContext&)>;

//! The operation that Run starts on a page ("executeMoveFelder", "ExecuteCsvExchange",
//! "ExportOracleInserts", ...); empty for a page where Run does nothing.
std::string operationForPage(std::string_view page, const PageInputs& inputs);

//! Operations by name.
class OperationTable {
public:
    void add(std::string name, Operation operation);
    //! nullptr when no operation of that name is built.
    const Operation* find(std::string_view name) const;
    std::vector<std::string> names() const;

private:
    std::map<std::string, Operation, std::less<>> operations_;
};

//! The operations built into the program so far.
OperationTable builtInOperations();

} // namespace fieldsmith::run
