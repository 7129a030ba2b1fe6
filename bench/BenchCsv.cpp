// bench_csv: the CSV import of a 1,000,000-line file and the export of the table it made,
// in process (the Qt-free run with the test host) and through the real fieldsmith-batch,
// against the sqlite3 shell's `.import` and `-csv` on the same file in the same run; then
// both in-process runs on a file and on one ten times as large, to show what memory grows
// with. Every run is a process of its own whose peak resident memory is measured, and whose
// anonymous and file-backed parts are sampled from /proc while it runs.
//
// Usage: bench_csv [lines] [--runs N] [--memory-lines N] [--batch PATH] [--sqlite3 PATH]
//                  [--keep DIR]

#include "BenchSupport.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "csv/CsvExchange.h"
#include "csv/CsvReader.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <vector>

namespace {

using namespace fieldsmith;
using namespace bench;

// ------------------------------------------------------------------ the file

//! Line i of the file: ID;NAME;CITY;AMOUNT with a decimal comma, about 37 bytes. Cities
//! with a blank are quoted, as spreadsheet programs write them (one line in ten).
void appendLine(std::string& out, long i) {
    out += std::to_string(i);
    out += ';';
    out += "Kunde ";
    out += std::to_string(i * 7919 % 1000003);
    out += ';';
    const char* city = cityOf(i);
    if (std::strchr(city, ' ')) {
        out += '"';
        out += city;
        out += '"';
    } else {
        out += city;
    }
    out += ';';
    const long cents = i % 100000;
    out += std::to_string(cents / 100);
    out += ',';
    out += static_cast<char>('0' + cents / 10 % 10);
    out += static_cast<char>('0' + cents % 10);
    out += "\r\n";
}

//! Writes the file piece by piece, never whole in memory. Returns its size.
std::uintmax_t writeCsv(const fs::path& file, long lines) {
    std::ofstream out(file, std::ios::binary);
    std::string piece = "ID;NAME;CITY;AMOUNT\r\n";
    for (long i = 1; i <= lines; ++i) {
        appendLine(piece, i);
        if (piece.size() > (1 << 20)) {
            out << piece;
            piece.clear();
        }
    }
    out << piece;
    out.close();
    return fs::file_size(file);
}

// ------------------------------------------------------------------ the runs

//! The page's inputs for an import of file into dir/PEOPLE.DB.
run::PageInputs importInputs(const fs::path& file, const fs::path& dir) {
    run::PageInputs in;
    in.CSVMakeTable.CSVEdit = file.string();
    in.CSVMakeTable.CSVtoPdxEdit = (dir / "PEOPLE.DB").string();
    return in;
}

Result importInProcess(const fs::path& file, const fs::path& dir) {
    engine::Session session;
    run::TestHost host;
    run::PageInputs inputs = importInputs(file, dir);
    run::SharedState shared(session);
    run::RunContext ctx{host, session, inputs, shared};
    const auto start = Clock::now();
    csv::ExecuteCsvExchange(ctx);
    Result r;
    r.seconds = secondsSince(start);
    r.count = host.textsOf(run::MessageKind::Error).empty() ? 0 : 1;
    return r;
}

Result exportInProcess(const fs::path& dir, const fs::path& out) {
    engine::Session session;
    session.addStandardAlias("BENCH", dir);
    run::TestHost host;
    run::PageInputs inputs;
    inputs.CSVMakeTable.GenParadoxFromCSV = false;
    inputs.CSVMakeTable.GenCSVFromParadox = true;
    inputs.CSVMakeTable.CSVEdit = out.string();
    run::SharedState shared(session);
    const auto start = Clock::now();
    // What the Table View does before: open the table in the shared dataset.
    shared.TempTable.setDatabaseName("BENCH");
    shared.TempTable.setTableName("PEOPLE");
    shared.TempTable.open();
    run::RunContext ctx{host, session, inputs, shared};
    csv::ExecuteCsvExchange(ctx);
    Result r;
    r.seconds = secondsSince(start);
    r.count = host.textsOf(run::MessageKind::Error).empty() ? 0 : 1;
    return r;
}

//! A measured run: its time, its exit status (or the step's own failure count), the peak
//! resident memory the kernel reports, and the peaks of its anonymous and file-backed
//! parts as sampled every two milliseconds.
struct Measure {
    double seconds = 0;
    long status = 0;
    long peakKiB = 0, anonKiB = 0, fileKiB = 0;
};

//! Reads a field of /proc/PID/status such as "RssAnon:" in KiB; -1 once the process is gone.
long statusField(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n);
    return -1;
}

//! Waits for a child, sampling its memory, and fills in what the kernel says at its end.
void watch(pid_t pid, Measure& m) {
    int status = 0;
    rusage usage{};
    for (;;) {
        m.anonKiB = std::max(m.anonKiB, statusField(pid, "RssAnon:"));
        m.fileKiB = std::max(m.fileKiB, statusField(pid, "RssFile:"));
        if (wait4(pid, &status, WNOHANG, &usage) == pid) break;
        usleep(2000);
    }
    m.peakKiB = usage.ru_maxrss;
    if (m.status == 0) m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

//! Runs a step of this program in a child process and measures it.
Measure measured(const std::function<Result()>& step) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = step();
        if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Measure m;
    watch(pid, m);
    Result r;
    if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) m.status = -1;
    close(fds[0]);
    m.seconds = r.seconds;
    m.status = m.status != 0 ? m.status : r.count;
    return m;
}

//! Runs a program with its standard output going to out (or the log), and measures it.
Measure runProgram(std::vector<std::string> args, const fs::path& out, const fs::path& log,
                   const fs::path& home = {}) {
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!home.empty()) setenv("FIELDSMITH_HOME", home.c_str(), 1);
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int outFd =
            out.empty() ? logFd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(outFd, 1);
        dup2(logFd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Measure m;
    watch(pid, m);
    m.seconds = secondsSince(start);
    return m;
}

Measure sqliteImport(const fs::path& sqlite3, const fs::path& file, const fs::path& db,
                     const fs::path& log) {
    fs::remove(db);
    return runProgram({sqlite3.string(), db.string(), ".mode csv", ".separator ;",
                       ".import " + file.string() + " people"},
                      {}, log);
}

Measure sqliteExport(const fs::path& sqlite3, const fs::path& db, const fs::path& out,
                     const fs::path& log) {
    return runProgram({sqlite3.string(), "-csv", "-header", "-separator", ";", db.string(),
                       "SELECT * FROM people"},
                      out, log);
}

Measure batchImport(const fs::path& batch, const fs::path& home, const fs::path& file,
                    const fs::path& dir, const fs::path& log) {
    return runProgram({batch.string(), "run", "CSVMakeTable", "CSVEdit=" + file.string(),
                       "CSVtoPdxEdit=" + (dir / "PEOPLE.DB").string(), "--yes"},
                      {}, log, home);
}

Measure batchExport(const fs::path& batch, const fs::path& home, const fs::path& out,
                    const fs::path& log) {
    return runProgram({batch.string(), "run", "CSVMakeTable", "GenCSVFromParadox=1",
                       "CSVEdit=" + out.string(), "ViewTabAlias=BENCH", "ViewTabTable=PEOPLE",
                       "--yes"},
                      {}, log, home);
}

// ------------------------------------------------------------------ checking

//! The records of a CSV file as our reader sees them, folded into one number.
struct Content {
    long records = 0;
    std::size_t hash = 0;
};
Content contentOf(const fs::path& file, char separator) {
    csv::CsvReader reader(file, separator);
    Content c;
    while (reader.readRecord()) {
        ++c.records;
        std::size_t h = 0;
        for (std::size_t i = 0; i < reader.fieldCount(); ++i)
            h = h * 31 + std::hash<std::string_view>{}(reader.field(i));
        c.hash = c.hash * 1000003 ^ h;
    }
    return c;
}

long tableRecords(const fs::path& dir) {
    engine::Session session;
    session.addStandardAlias("BENCH", dir);
    engine::Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    t.open();
    return static_cast<long>(t.recordCount());
}

void printLine(const char* what, const Measure& m, const Measure* base = nullptr) {
    char ratio[16] = "";
    if (base) std::snprintf(ratio, sizeof ratio, "%7.2fx", m.seconds / base->seconds);
    std::printf("%-28s %8.2fs %8s %9.1fMB %9.1fMB %9.1fMB%s\n", what, m.seconds, ratio,
                m.peakKiB / 1024.0, m.anonKiB / 1024.0, m.fileKiB / 1024.0,
                m.status == 0 ? "" : "  FAILED");
}

void printHeading(const char* title) {
    std::printf("\n%-28s %9s %8s %11s %11s %11s\n", title, "time", "ratio", "peak RSS", "anonymous",
                "file pages");
}

} // namespace

int main(int argc, char** argv) {
    long lines = 1'000'000;
    long memoryLines = 400'000;
    int runs = 3;
    fs::path keep;
    fs::path batch = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "app" /
                     "batch" / "fieldsmith-batch";
    fs::path sqlite3 = "/usr/bin/sqlite3";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else if (std::strcmp(argv[i], "--batch") == 0 && i + 1 < argc)
            batch = argv[++i];
        else if (std::strcmp(argv[i], "--sqlite3") == 0 && i + 1 < argc)
            sqlite3 = argv[++i];
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--memory-lines") == 0 && i + 1 < argc)
            memoryLines = std::atol(argv[++i]);
        else
            lines = std::atol(argv[i]);
    }
    if (!fs::exists(sqlite3)) {
        std::fprintf(stderr, "bench_csv needs the sqlite3 shell (%s)\n", sqlite3.c_str());
        return 1;
    }
    const fs::path root = workDirectory("bench_csv", keep);
    const fs::path csvFile = root / "people.csv", db = root / "people.sqlite",
                   inProc = root / "inproc", viaBatch = root / "batch", home = root / "home",
                   log = root / "run.log";
    for (const auto& d : {inProc, viaBatch, home}) {
        fs::remove_all(d);
        fs::create_directories(d);
    }
    std::ofstream(home / "aliases.ini")
        << "[BENCH]\nTYPE=STANDARD\nPATH=" << viaBatch.string() << "\n";
    const bool haveBatch = fs::exists(batch);

    const std::uintmax_t size = writeCsv(csvFile, lines);
    std::printf("bench_csv: %ld lines, %.1f MB (%.1f MiB), best of %d runs, in %s\n", lines,
                size / 1e6, mib(size), runs, root.c_str());
    if (!haveBatch) std::printf("(no %s: batch figures left out)\n", batch.c_str());

    // Each run `runs` times, the three sides in turn; the fastest time of each counts, so
    // that other work on the machine does not decide the ratio.
    Measure sqImport, pxImport, bImport, sqExport, pxExport, bExport;
    auto keepBest = [](Measure& best, const Measure& m) {
        const long peak = std::max(best.peakKiB, m.peakKiB),
                   anon = std::max(best.anonKiB, m.anonKiB),
                   file = std::max(best.fileKiB, m.fileKiB);
        if (best.seconds == 0 || m.seconds < best.seconds || m.status != 0) best = m;
        best.peakKiB = peak;
        best.anonKiB = anon;
        best.fileKiB = file;
    };
    const fs::path sqOut = root / "out-sqlite.csv", pxOut = root / "out-inproc.csv",
                   bOut = root / "out-batch.csv";
    for (int r = 0; r < runs; ++r) {
        keepBest(sqImport, sqliteImport(sqlite3, csvFile, db, log));
        keepBest(pxImport, measured([&] { return importInProcess(csvFile, inProc); }));
        if (haveBatch) keepBest(bImport, batchImport(batch, home, csvFile, viaBatch, log));
    }
    for (int r = 0; r < runs; ++r) {
        keepBest(sqExport, sqliteExport(sqlite3, db, sqOut, log));
        keepBest(pxExport, measured([&] { return exportInProcess(inProc, pxOut); }));
        if (haveBatch) keepBest(bExport, batchExport(batch, home, bOut, log));
    }
    const Measure idle = measured([] { return Result{}; });

    printHeading("import");
    printLine("sqlite3 .import", sqImport);
    printLine("in process", pxImport, &sqImport);
    if (haveBatch) printLine("fieldsmith-batch", bImport, &sqImport);
    printHeading("export");
    printLine("sqlite3 -csv", sqExport);
    printLine("in process", pxExport, &sqExport);
    if (haveBatch) printLine("fieldsmith-batch", bExport, &sqExport);
    printLine("(an idle child)", idle);
    std::printf("table PEOPLE on disk: %.1f MB; SQLite database: %.1f MB\n",
                mib(familySize(inProc, "PEOPLE")), mib(fs::file_size(db)));

    // The same data everywhere: the file, the three exports, the tables.
    const Content source = contentOf(csvFile, ';'), fromSqlite = contentOf(sqOut, ';'),
                  fromInProc = contentOf(pxOut, ';');
    bool same = source.hash == fromSqlite.hash && source.hash == fromInProc.hash &&
                tableRecords(inProc) == lines && pxImport.status == 0 && pxExport.status == 0;
    if (haveBatch)
        same = same && contentOf(bOut, ';').hash == source.hash &&
               tableRecords(viaBatch) == lines && bImport.status == 0 && bExport.status == 0;
    std::printf("records read back from each export: %ld; same content everywhere: %s\n",
                fromInProc.records, same ? "yes" : "NO");
    fs::remove(csvFile);
    fs::remove(sqOut);
    fs::remove(bOut);
    fs::remove(pxOut);
    fs::remove(db);

    if (memoryLines > 0) {
        // A file and one ten times as large: time grows with the file, memory must not,
        // beyond the pages of the table file that the engine maps while it writes them.
        printHeading("memory, in process");
        for (const long n : {memoryLines, memoryLines * 10}) {
            const fs::path file = root / "m.csv", dir = root / "m", out = root / "m-out.csv";
            fs::remove_all(dir);
            fs::create_directories(dir);
            const std::uintmax_t fileSize = writeCsv(file, n);
            const Measure imp = measured([&] { return importInProcess(file, dir); });
            fs::remove(file);
            const Measure exp = measured([&] { return exportInProcess(dir, out); });
            const std::string what = std::to_string(n) + " lines, " +
                                     std::to_string(static_cast<long>(fileSize / 1000000)) + " MB";
            printLine(("import " + what).c_str(), imp);
            printLine(("export " + what).c_str(), exp);
            std::printf("%-28s %.1f MB\n", "  table on disk", mib(familySize(dir, "PEOPLE")));
            same = same && imp.status == 0 && exp.status == 0 && tableRecords(dir) == n;
            fs::remove(out);
            fs::remove_all(dir);
        }
    }
    if (keep.empty()) fs::remove_all(root);
    return same ? 0 : 1;
}
