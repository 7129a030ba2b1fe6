// The Run of the Create Table page: a new table with the fields, optionally the indexes and
// optionally the records of another table, in a table engine alias or in the schema of the
// Oracle user who logs on. Reaches the user only through the run host; no Qt.
#pragma once

#include "engine/Table.h"

#include <string>
#include <string_view>

namespace fieldsmith::run {
struct RunContext;
class OperationTable;
} // namespace fieldsmith::run

namespace fieldsmith::create {

inline constexpr std::string_view kTableCreateComplete = "Table create complete!";
inline constexpr std::string_view kErrorOnDefineTable = "Error on Define Table";
inline constexpr std::string_view kErrorOnCopyingTable = "Error on copying Table";

//! The type a table name stands for: Paradox without an extension or with ".DB", dBase
//! with ".DBF" (any case); any other extension leaves the choice to the engine.
engine::TableType tableTypeByName(std::string_view tableName);

//! "{c} Records of {N} copied", status panel 1 during the copy.
std::string recordsCopied(std::int64_t copied, std::int64_t total);
//! "{c} of {N} records  ", the status dialog's count line.
std::string statusDialogCount(std::int64_t copied, std::int64_t total);
//! The same texts written over a buffer kept for the copy, without an allocation per record.
void recordsCopied(std::string& out, std::int64_t copied, std::int64_t total);
void statusDialogCount(std::string& out, std::int64_t copied, std::int64_t total);

//! Resolves the target alias, creates the table (CreateTableFrom) and shows "Table create
//! complete!" when that got through, also after a cancelled copy.
void ExecuteCreateTable(run::RunContext& context);

//! Registers ExecuteCreateTable under its name.
void registerOperations(run::OperationTable& table);

} // namespace fieldsmith::create
