// The ORACLE Import/Export page against the sqlite3 shell on the same data in the same run:
// exporting a table of 1,000,000 rows as an INSERT script against `sqlite3 .dump` of the
// schema file, and importing a script of 100,000 rows, each INSERT followed by a COMMIT,
// against the sqlite3 shell running the same INSERT and COMMIT statements on a database
// with the backend's journal settings (WAL, synchronous=NORMAL).
#include "BenchSupport.h"

#include "app/run/Operations.h"
#include "app/run/RunHost.h"
#include "engine/Session.h"
#include "oracle/OracleExchange.h"
#include "oracle/OracleLogonSource.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include <cstring>
#include <fstream>

using namespace fieldsmith;
using bench::Clock;
using bench::Result;
namespace fs = std::filesystem;

namespace {

// A host that shows nothing: what the run costs itself, as batch mode without a terminal.
class QuietHost : public run::RunHost {
public:
    void showError(const std::string& text) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
        std::exit(1);
    }
    bool askRetry(const std::string&) override { return false; }
    void showInformation(const std::string&) override {}
    bool confirm(const std::string&) override { return true; }
    bool confirmInformation(const std::string&) override { return true; }
    void setStatusText(int, const std::string&) override {}
    void processPendingMessages() override {}
    void UpdateAnsicht(bool) override {}
    void WarteMaus() override {}
    void PfeilMaus() override {}
    void showPage(std::string_view) override {}
    void focusControl(std::string_view) override {}
    void inputWritten(std::string_view) override {}
    std::optional<std::string> saveFileDialog(const run::SaveRequest&) override { return {}; }
    void openStatusDialog() override {}
    void setStatusDialogCount(const std::string&) override {}
    bool statusDialogCancelled() override { return false; }
    void closeStatusDialog() override {}
    void openLogWindow(const std::string&) override {}
    void appendLogLine(const std::string&) override { ++lines; }
    std::vector<std::string> logLines() override { return {}; }
    bool showLogonDialog(run::LogonForm&) override { return false; } // logged on beforehand
    long lines = 0;
};

const char* kCreate = "CREATE TABLE PEOPLE (ID NUMBER(10) PRIMARY KEY, NAME VARCHAR2(30), "
                      "CITY VARCHAR2(20), AMOUNT NUMBER(12,2), NOTE VARCHAR2(200))";

struct Page {
    fs::path configDir;
    engine::Session session;
    oracle::FixedOracleLogon logon;
    QuietHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};

    explicit Page(const fs::path& dir) : configDir(dir), logon(dir.string(), "BENCH", "bench") {
        shared.oracleLogon = &logon;
        auto& in = inputs.ExportSeite;
        in.ExportAlias = "BENCH";
        in.ExportTab = "PEOPLE";
        in.ExportTabOwnerEdit = "BENCH";
    }
    oraclient::OracleSession& oracle() { return *logon.EnsureOracleLogon(host, "BENCH"); }
    void run(bool exporting) {
        inputs.ExportSeite.ExportSelect = exporting;
        inputs.ExportSeite.ImportSelect = !exporting;
        run::RunContext context{host, session, inputs, shared};
        exporting ? oracle::ExportOracleInserts(context) : oracle::ImportOracleScript(context);
    }
};

long countRows(oraclient::OracleSession& session) {
    oraclient::OracleQuery q(session);
    q.setSql("SELECT COUNT(*) FROM PEOPLE");
    q.open();
    return static_cast<long>(q.value(0).whole);
}

std::string sqlText(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

// Runs a shell command (paths quoted by the caller) and returns its seconds.
double timed(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return bench::secondsSince(start);
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

} // namespace

int main(int argc, char** argv) {
    long rows = 1000000, importRows = 100000;
    fs::path keep;
    bool importToo = true;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--export-only"))
            importToo = false;
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = argv[++i];
        else if (!std::strcmp(argv[i], "--import-rows") && i + 1 < argc)
            importRows = std::atol(argv[++i]);
        else
            rows = std::atol(argv[i]);
    }
    const fs::path dir = bench::workDirectory("bench-oracle", keep);
    const auto entry = oraclient::ensureEmbeddedDatabase(dir, "BENCH");
    oraclient::EmbeddedUsers(entry.path).add("BENCH", "bench");
    const fs::path schemaFile = entry.path / "BENCH.sqlite";
    std::printf("%ld rows in %s\n", rows, schemaFile.c_str());

    {
        Page page(dir);
        auto& s = page.oracle();
        oraclient::OracleQuery q(s);
        q.setSql(kCreate);
        q.open();
        q.setSql("INSERT INTO PEOPLE VALUES (:1, :2, :3, :4, :5)");
        for (long i = 1; i <= rows; ++i) {
            q.parameters() = {oraclient::OracleValue::ofInteger(i),
                              oraclient::OracleValue::ofText(bench::nameOf(i)),
                              oraclient::OracleValue::ofText(bench::cityOf(i)),
                              oraclient::OracleValue::ofFloat(bench::amountOf(i)),
                              oraclient::OracleValue::ofText(bench::noteOf(i))};
            q.open();
        }
        s.commit();
    }

    // --- export
    const fs::path script = dir / "PEOPLE_INSERTS.SQL", dump = dir / "dump.sql";
    const Result ours = bench::inChild([&] {
        Page page(dir);
        page.inputs.ExportSeite.ExportFileEdit = script.string();
        page.oracle();
        const auto start = Clock::now();
        page.run(true);
        return Result{bench::secondsSince(start), rows, 0};
    });
    const Result shell = bench::inChild([&] {
        const double s = timed("sqlite3 " + quoted(schemaFile) + " .dump > " + quoted(dump));
        return Result{s, rows, 0};
    });
    std::printf("\n%-44s %10s %10s %8s %10s %10s\n", "", "ours", "sqlite3", "ratio", "peak ours",
                "peak sq");
    std::printf("%-44s %9.2fs %9.2fs %7.2fx %8.1fMB %8.1fMB\n", "export as INSERT script / .dump",
                ours.seconds, shell.seconds, ours.seconds / shell.seconds, ours.peakKiB / 1024.0,
                shell.peakKiB / 1024.0);
    std::printf("%-44s %9.1fMB %9.1fMB\n", "  script / dump size",
                bench::mib(fs::file_size(script)), bench::mib(fs::file_size(dump)));

    if (!importToo) return 0;

    // --- import: the first importRows rows of a script as the export writes it
    const fs::path part = dir / "PART_INSERTS.SQL", shellScript = dir / "part.sql",
                   shellDb = dir / "shell.sqlite";
    {
        Page page(dir);
        page.inputs.ExportSeite.ExportFileEdit = part.string();
        page.inputs.ExportSeite.ExportMaxRecEdit = std::to_string(importRows);
        page.run(true);
        oraclient::OracleQuery q(page.oracle());
        q.setSql("DELETE FROM PEOPLE");
        q.open();
        page.oracle().commit();
    }
    {
        std::ofstream out(shellScript, std::ios::binary);
        // The table as the backend keeps it (its columns' checks and key index), so that
        // both sides store rows alike and the difference is what runs the statements.
        out << "PRAGMA journal_mode=WAL;\nPRAGMA synchronous=NORMAL;\n";
        sqlite3* db = nullptr;
        bench::check(sqlite3_open(schemaFile.c_str(), &db), db, "open");
        sqlite3_stmt* st = nullptr;
        bench::check(sqlite3_prepare_v2(db,
                                        "SELECT sql FROM sqlite_master WHERE tbl_name = 'PEOPLE' "
                                        "AND sql IS NOT NULL ORDER BY type DESC",
                                        -1, &st, nullptr),
                     db, "schema");
        while (sqlite3_step(st) == SQLITE_ROW)
            out << reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) << ";\n";
        sqlite3_finalize(st);
        sqlite3_close(db);
        for (long i = 1; i <= importRows; ++i) {
            const std::string note = bench::noteOf(i);
            out << "BEGIN;\nINSERT INTO PEOPLE (ID, NAME, CITY, AMOUNT, NOTE) VALUES (" << i << ", "
                << sqlText(bench::nameOf(i)) << ", " << sqlText(bench::cityOf(i)) << ", "
                << bench::amountOf(i) << ", " << (note.empty() ? "NULL" : sqlText(note))
                << ");\nCOMMIT;\n";
        }
    }
    const Result oursImport = bench::inChild([&] {
        Page page(dir);
        page.inputs.ExportSeite.ExportFileEdit = part.string();
        page.inputs.ExportSeite.LogFileEdit = part.string() + "_import.log";
        page.oracle();
        const auto start = Clock::now();
        page.run(false);
        const double seconds = bench::secondsSince(start);
        return Result{seconds, countRows(page.oracle()), 0};
    });
    const Result shellImport = bench::inChild([&] {
        const double s =
            timed("sqlite3 " + quoted(shellDb) + " < " + quoted(shellScript) + " > /dev/null");
        return Result{s, importRows, 0};
    });
    std::printf("%-44s %9.2fs %9.2fs %7.2fx %8.1fMB %8.1fMB\n",
                "import, COMMIT after each row / sqlite3", oursImport.seconds, shellImport.seconds,
                oursImport.seconds / shellImport.seconds, oursImport.peakKiB / 1024.0,
                shellImport.peakKiB / 1024.0);
    std::printf("\nrows imported: %ld of %ld%s\n", oursImport.count, importRows,
                oursImport.count == importRows ? "" : "  MISMATCH");
    if (keep.empty()) fs::remove_all(dir);
    return oursImport.count == importRows ? 0 : 1;
}
