#include "app/run/BatchRun.h"

#include "app/run/ConsoleHost.h"
#include "app/run/Texts.h"
#include "engine/CodePage.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <csignal>
#include <exception>
#include <iostream>
#include <unistd.h>

namespace fieldsmith::run {

namespace {

extern "C" void onInterrupt(int) {
    ConsoleHost::requestCancel();
}

// Installs the Ctrl+C handler for the length of a run: the first press asks the abort
// question at the next record, as the Cancel button does.
class InterruptScope {
public:
    InterruptScope() { previous_ = std::signal(SIGINT, onInterrupt); }
    ~InterruptScope() { std::signal(SIGINT, previous_); }

private:
    void (*previous_)(int) = SIG_DFL;
};

// Batch mode has no Table View: the CSV page's export names the table the view would have
// open, and in which order, with these inputs of batch mode's own.
struct BatchTableView {
    std::string ViewTabAlias, ViewTabTable, ViewIndex;

    //! Takes one Control=value pair if it is one of these; the table name keeps the file
    //! system's bytes, the alias and field names are text in the program's code page.
    bool take(std::string_view control, const std::string& raw, int codePage) {
        if (control == "ViewTabTable")
            ViewTabTable = raw;
        else if (control == "ViewTabAlias")
            ViewTabAlias = engine::fromUtf8(raw, codePage);
        else if (control == "ViewIndex")
            ViewIndex = engine::fromUtf8(raw, codePage);
        else
            return false;
        return true;
    }
    //! Opens the table in the shared dataset as the view does, in the order of ViewIndex.
    void open(engine::Table& table) const {
        if (ViewTabTable.empty()) return;
        table.close();
        table.setDatabaseName(ViewTabAlias);
        table.setTableName(ViewTabTable);
        table.setIndexFieldNames(ViewIndex);
        table.open();
    }
};

} // namespace

std::string runUsage() {
    return "usage: fieldsmith-batch run PAGE Control=value ... [--yes|--no] [--save-as PATH]\n"
           "  [--oracle-logon USER@DATABASE]\n"
           "  PAGE is a page's component name: Seite1 ... Seite7, DelPage, CSVMakeTable,\n"
           "  CreateTableSeite, ExportSeite. Check boxes and radio buttons take 1 or 0.\n"
           "  CSVMakeTable writes a table to a CSV file with GenCSVFromParadox=1; the table,\n"
           "  which the window takes from the Table View, is given by\n"
           "  ViewTabAlias=ALIAS ViewTabTable=TABLE [ViewIndex=FIELDS] (FIELDS: the order).\n"
           "  An Oracle logon (ExportSeite, CreateTableSeite with OracleCheck=1) takes\n"
           "  USER@DATABASE from --oracle-logon and the password from\n"
           "  $FIELDSMITH_ORACLE_PASSWORD or the terminal.\n";
}

int runPageFromArgs(engine::Session& session, const std::vector<std::string>& args) {
    static const OperationTable operations = builtInOperations();
    return runPageFromArgs(session, args, operations, std::cerr, isatty(STDERR_FILENO) != 0);
}

int runPageFromArgs(engine::Session& session, const std::vector<std::string>& args,
                    const OperationTable& operations, std::ostream& err, bool interactive,
                    ConsoleHost::Options defaults) {
    if (args.empty()) {
        err << runUsage();
        return kBatchUsage;
    }
    const std::string& page = args[0];
    PageInputs inputs;
    if (!inputs.withPage(page, [](auto&) {})) {
        err << "Unknown page: " << page << '\n' << runUsage();
        return kBatchUsage;
    }

    BatchTableView view;
    ConsoleHost::Options options = std::move(defaults);
    options.interactive = interactive;
    options.codePage = session.ansiCodePage();
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--yes" || a == "--no") {
            const BatchAnswer answer = a == "--yes" ? BatchAnswer::Yes : BatchAnswer::No;
            if (options.answer != BatchAnswer::Stop && options.answer != answer) {
                err << "--yes and --no cannot both be given\n";
                return kBatchUsage;
            }
            options.answer = answer;
        } else if (a == "--save-as") {
            if (i + 1 >= args.size()) {
                err << "--save-as needs a path\n";
                return kBatchUsage;
            }
            options.saveAs = args[++i];
        } else if (a == "--oracle-logon") {
            if (i + 1 >= args.size()) {
                err << "--oracle-logon needs USER@DATABASE\n";
                return kBatchUsage;
            }
            options.oracleLogon = args[++i];
        } else if (a.rfind("--save-as=", 0) == 0) {
            options.saveAs = a.substr(10);
        } else if (auto eq = a.find('='); eq != std::string::npos && eq > 0) {
            const std::string control = a.substr(0, eq);
            const std::string raw = a.substr(eq + 1);
            if (page == "CSVMakeTable" && view.take(control, raw, session.ansiCodePage())) continue;
            switch (setInput(inputs, page, control, raw, session.ansiCodePage())) {
            case SetInputResult::Ok:
                break;
            case SetInputResult::UnknownControl:
                err << "Page " << page << " has no input " << control << '\n';
                return kBatchUsage;
            case SetInputResult::BadValue:
                err << control << " takes 1 or 0\n";
                return kBatchUsage;
            }
        } else {
            err << "Not understood: " << a << '\n' << runUsage();
            return kBatchUsage;
        }
    }

    // Others can read a command line in the process list: a password never comes from it.
    if (options.oracleLogon.find('/') != std::string::npos) {
        err << "--oracle-logon takes USER@DATABASE; the password comes from "
               "$FIELDSMITH_ORACLE_PASSWORD or the terminal\n";
        return kBatchUsage;
    }

    const std::string name = operationForPage(page, inputs);
    const Operation* operation = name.empty() ? nullptr : operations.find(name);
    if (!operation) {
        err << "Run does nothing on page " << page
            << (name.empty() ? std::string() : " (" + name + " is not available yet)") << '\n';
        return kBatchNotBuilt;
    }

    ConsoleHost host(err, options);
    SharedState shared(session);
    RunContext context{host, session, inputs, shared};
    InterruptScope interrupts;
    session.conversionLosses() = 0;
    // Characters lost to a code page are reported once, after the run however it ended.
    auto reportLosses = [&] {
        if (const auto lost = session.conversionLosses())
            err << conversionLossMessage(lost) << '\n';
    };
    try {
        view.open(shared.TempTable);
        (*operation)(context);
    } catch (const UnansweredQuestion& e) {
        host.endProgressLine();
        err << e.what() << '\n';
        reportLosses();
        return kBatchUnanswered;
    } catch (const std::exception& e) {
        host.showError(e.what());
        reportLosses();
        return kBatchFailed;
    }
    host.endProgressLine();
    reportLosses();
    return host.errorsShown() > 0 ? kBatchFailed : kBatchDone;
}

} // namespace fieldsmith::run
