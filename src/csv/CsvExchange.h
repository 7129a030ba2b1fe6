// The Run of the CSV-Files page: a new table from a delimited text file, or the table open
// in the Table View written to one. The folder's operations reach the user only through
// the run host and hold no Qt.
#pragma once

namespace fieldsmith::run {
struct RunContext;
class OperationTable;
} // namespace fieldsmith::run

namespace fieldsmith::csv {

//! Imports with "generate Paradox Table" selected, exports with "generate CSV File".
void ExecuteCsvExchange(run::RunContext& context);

//! Registers ExecuteCsvExchange under its name.
void registerOperations(run::OperationTable& table);

} // namespace fieldsmith::csv
