// The Run of the ORACLE Import/Export page: rows of an Oracle table written as an INSERT
// script, and a script run against Oracle with a log. Both stream: neither the rows nor
// the script's lines are held whole.
#pragma once

#include <string>

namespace fieldsmith::run {
struct RunContext;
class OperationTable;
} // namespace fieldsmith::run

namespace fieldsmith::oracle {

//! Export mode: every row of ExportTabOwnerEdit.ExportTab as four script lines into
//! ExportFileEdit, with the status dialog and its Cancel.
void ExportOracleInserts(run::RunContext& context);

//! Import mode: runs the script in ExportFileEdit, shows the runner's output in the log
//! window and writes the log to LogFileEdit.
void ImportOracleScript(run::RunContext& context);

//! Registers both under their names.
void registerOperations(run::OperationTable& table);

//! A log line's clock: "dd.mm.yyyy" and "hh.nn.ss" of the local time now.
struct LogClock {
    std::string date, time;
};
LogClock logClockNow();

} // namespace fieldsmith::oracle
