// fieldsmith-batch: the table engine and the operations from a terminal.
#include "BatchCommands.h"
#include "OracleCommands.h"

#include "app/demo/DemoConfiguration.h"
#include "app/run/BatchRun.h"
#include "app/run/Operations.h"
#include "create/CreateTable.h"
#include "csv/CsvExchange.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "ops/FieldOperations.h"
#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"
#include "oraclient/OracleSession.h"
#include "tables/RunBackup.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace fieldsmith;

namespace {

const char* kUsage = R"(Usage: fieldsmith-batch [--password PW]... COMMAND ...

Commands:
  aliases                      list the aliases with type and directory
  tables ALIAS                 list the tables of an alias
  describe ALIAS TABLE         fields and indexes of a table
  describe FILE                the same for a table file (/data/ORDERS.DB)
  dump ALIAS TABLE [--index INDEX]
  dump FILE [--index INDEX]    the table as UTF-8 CSV on standard output, ordered by
                               the index of that name (a dBase tag) or on those
                               fields (NAME, or CITY;NAME)
  oracle-user add|passwd|remove DATABASE USER [--yes]
                               manage the users of an embedded Oracle database; the
                               password is read from the terminal or standard input
  sql DATABASE "STATEMENT"     run one SQL statement; a query's rows as UTF-8 CSV
  alias list                   the aliases of aliases.ini with their parameters
  alias add NAME DIRECTORY     add (or change) a directory alias
  alias add NAME KEY=VALUE ... [--force]
                               add (or change) an alias with its parameters
                               (TYPE=POSTGRESQL "SERVER NAME=host/db" "USER NAME=me");
                               refused when the directory or server cannot be reached,
                               unless --force
  alias remove NAME            remove an alias; comments and other lines stay
  undo [--yes|--no]            put the tables of the last run back as they were before it
  undo --list                  the runs whose tables were backed up, newest first
  run PAGE Control=value ... [--yes|--no] [--save-as PATH] [--preview]
                               run the operation of a page (Seite1 ... Seite7, DelPage, ...)
                               with its inputs; questions are answered by --yes or --no
                               (without either, a question ends the run); --preview makes
                               the run on copies and writes nothing: the first 100 changed
                               records go to standard output as CSV (table, record, change,
                               field, old value, new value)
  run ExportSeite ExportSelect=1 ExportAlias=KR4 ExportTab=TABLE ExportTabOwnerEdit=OWNER
      ExportFileEdit=FILE      rows of an Oracle table as an INSERT script
  run ExportSeite ImportSelect=1 ExportTab=TABLE ExportTabOwnerEdit=OWNER ExportFileEdit=FILE
      LogFileEdit=LOG          a script run against Oracle, its log written to LOG
                               (Oracle logon: --oracle-logon USER@DATABASE, the
                               password from $FIELDSMITH_ORACLE_PASSWORD or the terminal)
  run CSVMakeTable CSVEdit=FILE CSVtoPdxEdit=TABLE-PATH [FeldSeparEdit=,] [FeldNamenCheck=0]
                               a new table from a CSV file
  run CSVMakeTable GenCSVFromParadox=1 CSVEdit=FILE ViewTabAlias=ALIAS ViewTabTable=TABLE
      [ViewIndex=FIELDS]       a table written to a CSV file, in the order of an index
                               whose fields begin with FIELDS
  run CreateTableSeite NeuTabAlias=ALIAS NeuTabBox=TABLE NeuTab2Alias=ALIAS
      NeuTabelleEdit=NEWTABLE [IndexesCheck=1] [CopyAllRecsCheck=1] [OracleCheck=1]
                               a new table with the structure (and indexes, records) of
                               another; with OracleCheck=1 in the schema of the Oracle
                               logon; an existing target is replaced only with --yes

Options:
  --password PW                register a table password before anything is opened
  --oracle-logon USER@DATABASE the Oracle logon of sql and of a run's Oracle target; the
                               password comes from $FIELDSMITH_ORACLE_PASSWORD or is
                               asked for without echo, never from the command line
  --help                       this text

The configuration comes from $FIELDSMITH_HOME, else ~/.config/fieldsmith.
On first use without configuration, a demo configuration is created there.
Exit status: 0 done (also after an aborted run), 1 error or check message, 2 wrong
usage, 3 page without an operation, 4 a question that no --yes/--no answered.
)";

int usageError(const std::string& what) {
    std::cerr << "fieldsmith-batch: " << what << "\n\n" << kUsage;
    return batch::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    engine::Session session(engine::configDirectory());
    // A run takes its own words: everything after "run" belongs to the page.
    std::vector<std::string> runArgs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "run") continue;
        runArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
        args.resize(i + 1);
        break;
    }
    // run --preview: the run on copies, its changes as CSV; nothing is written or backed up.
    const auto previewFlag = std::find(runArgs.begin(), runArgs.end(), "--preview");
    const bool preview = previewFlag != runArgs.end();
    if (preview) runArgs.erase(previewFlag);
    std::string indexFields, oracleLogon;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::cout << kUsage;
            return batch::kExitOk;
        }
        if (args[i] == "--password" || args[i] == "--index" || args[i] == "--oracle-logon") {
            if (i + 1 >= args.size()) return usageError(args[i] + " needs a value");
            if (args[i] == "--password")
                session.addPassword(args[++i]);
            else if (args[i] == "--oracle-logon")
                oracleLogon = args[++i];
            else
                indexFields = args[++i];
            continue;
        }
        rest.push_back(args[i]);
    }
    if (rest.empty()) return usageError("no command given");
    const std::string command = rest[0];
    const std::vector<std::string> operands(rest.begin() + 1, rest.end());
    try {
        demo::ensureDemoConfiguration(session.configDir());
        session.loadConfiguration();
        // A server's password, when the client's own means (PGPASSWORD, ~/.pgpass) have
        // none: asked on the terminal without echo; without a terminal there is none.
        session.setPasswordPrompt([](const std::string& alias,
                                     const std::string& user) -> std::optional<std::string> {
            if (!isatty(STDIN_FILENO)) return std::nullopt;
            return batch::readPassword(
                std::cin, std::cerr, "Password of user " + user + " for database " + alias + ": ");
        });
        if (command == "run" && operands.empty()) {
            run::OperationTable operations = run::builtInOperations();
            ops::registerOperations(operations);
            csv::registerOperations(operations);
            oracle::registerOperations(operations);
            create::registerOperations(operations);
            run::ConsoleHost::Options defaults;
            defaults.oracleLogon = oracleLogon;
            defaults.passwordPrompt = [](const std::string& prompt) -> std::optional<std::string> {
                if (!isatty(STDIN_FILENO)) return std::nullopt;
                return batch::readPassword(std::cin, std::cerr, prompt);
            };
            if (preview)
                return run::runPageFromArgs(
                    session, runArgs, batch::previewOperations(operations, std::cout, session.ansiCodePage()),
                    std::cerr, isatty(STDERR_FILENO) != 0, std::move(defaults));
            // What the run writes to file tables is backed up first, for undo.
            tables::RunBackupScope backup(session, runArgs.empty() ? std::string() : runArgs.front());
            const int rc = run::runPageFromArgs(session, runArgs, operations, std::cerr,
                                                isatty(STDERR_FILENO) != 0, std::move(defaults));
            backup.finish();
            return rc;
        }
        if (command == "alias") return batch::aliasCommand(session, operands, std::cout, std::cerr);
        if (command == "undo") {
            return batch::undoCommand(session, operands, std::cout, std::cerr);
        }
        if (command == "aliases" && operands.empty()) return batch::listAliases(session, std::cout);
        if (command == "oracle-user")
            return batch::oracleUserCommand(session.configDir(), operands, std::cin, std::cout,
                                            std::cerr);
        if (command == "sql" && operands.size() == 2)
            return batch::sqlCommand(session.configDir(), oracleLogon, operands[0], operands[1],
                                     std::cin, std::cout, std::cerr);
        if (command == "tables" && operands.size() == 1)
            return batch::listTables(session, operands[0], std::cout);
        if ((command == "describe" || command == "dump") &&
            (operands.size() == 1 || operands.size() == 2)) {
            engine::Table table(session);
            batch::aimTable(table, operands);
            batch::orderTable(table, indexFields);
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
