// `fieldsmith-batch run PAGE Control=value ... [--yes|--no] [--save-as PATH]`: runs the
// operation of one page with its inputs given on the command line.
#pragma once

#include "app/run/ConsoleHost.h"
#include "app/run/Operations.h"

#include <ostream>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class Session;
}
namespace fieldsmith::oracle {
class OracleLogonSource;
}

namespace fieldsmith::run {

//! Exit statuses of a batch run.
enum BatchStatus : int {
    kBatchDone = 0,       //!< the run completed or was aborted
    kBatchFailed = 1,     //!< a check message or an error ended the run
    kBatchUsage = 2,      //!< bad arguments: unknown page or control, bad value
    kBatchNotBuilt = 3,   //!< the page has no operation (yet), or Run does nothing there
    kBatchUnanswered = 4, //!< the run stopped at a question that no --yes/--no answered
};

//! Runs a page's operation. args are the words after "run": the page's component name
//! (Seite2, DelPage, ...), then Control=value pairs, --yes, --no, --save-as PATH (also
//! --save-as=PATH), --oracle-logon USER@DATABASE in any order. Messages and progress go to
//! err. defaults carries what the caller knows already: the Oracle logon given before
//! "run" and how a password is asked for. Returns a BatchStatus.
int runPageFromArgs(engine::Session& session, const std::vector<std::string>& args);
//! oracleLogon: where the Oracle page's runs get their session (none: they cannot run).
int runPageFromArgs(engine::Session& session, const std::vector<std::string>& args,
                    const OperationTable& operations, std::ostream& err, bool interactive,
                    ConsoleHost::Options defaults = {});

//! The usage text of the run command.
std::string runUsage();

} // namespace fieldsmith::run
