// The operations that rewrite or delete records of one table: Copy Field, Change Field,
// Change Field partially, Merge Fields, New Value IF, Format Prices and Delete records.
#pragma once

namespace fieldsmith::run {
struct RunContext;
class OperationTable;
} // namespace fieldsmith::run

namespace fieldsmith::ops {

void executeMoveFelder(run::RunContext& context);
void ExecuteFeldReplaceComplete(run::RunContext& context);
void SuchenErsetzenSubStrings(run::RunContext& context);
void ExecuteMergeFelder(run::RunContext& context);
void NeuValueIF(run::RunContext& context);
void ExecutePreisFeldFormatieren(run::RunContext& context);
void executeDeleteRecs(run::RunContext& context);

//! Registers the field operations and Add Primary under their names.
void registerOperations(run::OperationTable& table);

} // namespace fieldsmith::ops
