// fieldsmith-batch: the table engine and the operations from a terminal.
#include "BatchCommands.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace fieldsmith;

namespace {

const char* kUsage = R"(Usage: fieldsmith-batch [--password PW]... COMMAND ...

Commands:
  aliases                      list the aliases with type and directory
  tables ALIAS                 list the tables of an alias
  describe ALIAS TABLE         fields and indexes of a table
  describe FILE                the same for a table file (/data/ORDERS.DB)
  dump ALIAS TABLE [--index FIELDS]
  dump FILE [--index FIELDS]   the table as UTF-8 CSV on standard output

Options:
  --password PW                register a table password before anything is opened
  --help                       this text

The configuration comes from $FIELDSMITH_HOME, else ~/.config/fieldsmith.
Exit status: 0 done, 1 error, 2 wrong usage.
)";

int usageError(const std::string& what) {
    std::cerr << "fieldsmith-batch: " << what << "\n\n" << kUsage;
    return batch::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    engine::Session session(engine::configDirectory());
    std::string indexFields;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kUsage;
            return batch::kExitOk;
        }
        if (args[i] == "--password" || args[i] == "--index") {
            if (i + 1 >= args.size()) return usageError(args[i] + " needs a value");
            if (args[i] == "--password") session.addPassword(args[++i]);
            else indexFields = args[++i];
            continue;
        }
        rest.push_back(args[i]);
    }
    if (rest.empty()) return usageError("no command given");
    const std::string command = rest[0];
    const std::vector<std::string> operands(rest.begin() + 1, rest.end());
    try {
        session.loadConfiguration();
        if (command == "aliases" && operands.empty()) return batch::listAliases(session, std::cout);
        if (command == "tables" && operands.size() == 1)
            return batch::listTables(session, operands[0], std::cout);
        if ((command == "describe" || command == "dump") && (operands.size() == 1 || operands.size() == 2)) {
            engine::Table table(session);
            batch::aimTable(table, operands);
            table.setIndexFieldNames(indexFields);
            table.open();
            if (command == "describe") return batch::describeTable(table, std::cout);
            const int rc = batch::dumpTable(table, std::cout);
            std::cout.flush();
            return rc;
        }
        return usageError("unknown command or wrong operands: " + command);
    } catch (const std::exception& e) {
        std::cerr << "fieldsmith-batch: " << e.what() << '\n';
        return batch::kExitFailed;
    }
}
