// The commands of fieldsmith-batch that read the configuration and tables: listing
// aliases and tables, describing a table and dumping it as CSV.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace fieldsmith::run {
class OperationTable;
}
namespace fieldsmith::engine {
class Session;
class Table;
struct Value;
enum class FieldType;
} // namespace fieldsmith::engine

namespace fieldsmith::batch {

//! Exit codes of fieldsmith-batch.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1, //!< an error, or a run stopped by a check message
    kExitUsage = 2,
};

int listAliases(engine::Session& session, std::ostream& out);
int listTables(engine::Session& session, const std::string& alias, std::ostream& out);
//! Fields with type, size and required flag; indexes with name, fields and options.
int describeTable(engine::Table& table, std::ostream& out);
//! The table as UTF-8 CSV with a header line, in the table's current order.
int dumpTable(engine::Table& table, std::ostream& out);

//! One value as the dump writes it (before CSV quoting), UTF-8.
std::string dumpText(const engine::Value& value, engine::FieldType type, int codePage);
//! RFC 4180 quoting: enclosed in double quotes when it holds a comma, quote or line break.
std::string csvQuote(const std::string& text);

//! undo [--list] [--yes|--no]: lists the runs that have backups, or puts the tables of the
//! last run back as they were before it. The question is answered by --yes or --no; without
//! either it ends the command with exit code 4.
int undoCommand(engine::Session& session, const std::vector<std::string>& operands, std::ostream& out,
                std::ostream& err);

//! alias list | alias add NAME DIRECTORY | alias add NAME KEY=VALUE... [--force] |
//! alias remove NAME: the aliases of aliases.ini in the configuration directory. add also
//! changes an alias of that name; it is refused when the directory or server cannot be
//! reached, unless --force.
int aliasCommand(engine::Session& session, const std::vector<std::string>& operands, std::ostream& out,
                 std::ostream& err);

//! The operations of a table as previews (run --preview): each runs on shadow copies with
//! every check and question, reports what the run would and the changes through the
//! run's host, and writes the first changed records to out as UTF-8 CSV: a header line,
//! then per changed field its table, record, change, field, old and new value.
run::OperationTable previewOperations(const run::OperationTable& operations, std::ostream& out,
                                      int codePage);

//! Points the table at a file path ("/data/ORDERS.DB") or at ALIAS and TABLE.
void aimTable(engine::Table& table, const std::vector<std::string>& where);
//! Orders the closed table as --index asks: by the index of that name when it has one
//! (a dBase tag), else by an index on those fields ("NAME" or "CITY;NAME").
void orderTable(engine::Table& table, const std::string& index);

} // namespace fieldsmith::batch
