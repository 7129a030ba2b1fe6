// bench_read: fills a 1,000,000-record Paradox table with the engine and an SQLite table
// with the same data, then times a walk reading two fields of each, and reports the peak
// memory of each walk measured in a child process of its own.
//
// Usage: bench_read [records] [--unkeyed] [--keep DIR]

#include "engine/Session.h"
#include "engine/Table.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace fieldsmith::engine;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kCities[] = {
    "Berlin",    "Hamburg",     "Muenchen", "Koeln",    "Frankfurt am Main",
    "Stuttgart", "Duesseldorf", "Leipzig",  "Dortmund", "Essen"};

// The record i of both tables: deterministic, so that both hold the same data.
std::string nameOf(long i) {
    return "Customer " + std::to_string(i * 7919 % 1000003);
}
const char* cityOf(long i) {
    return kCities[i % 10];
}
double amountOf(long i) {
    return static_cast<double>(i % 100000) / 100.0;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

double fillParadox(const fs::path& dir, long records, bool keyed) {
    Session session;
    session.addStandardAlias("BENCH", dir);
    Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, keyed},
                     {"NAME", FieldType::ftString, 30, false},
                     {"CITY", FieldType::ftString, 20, false},
                     {"AMOUNT", FieldType::ftFloat, 0, false}};
    if (keyed) t.indexDefs() = {{"", "ID", ixPrimary | ixUnique}};
    const auto start = Clock::now();
    t.createTable();
    t.open();
    t.disableControls();
    Field id = t.fieldByName("ID"), name = t.fieldByName("NAME"), city = t.fieldByName("CITY"),
          amount = t.fieldByName("AMOUNT");
    for (long i = 1; i <= records; ++i) {
        t.append();
        id.setAsInteger(i);
        name.setAsString(nameOf(i));
        city.setAsString(cityOf(i));
        amount.setValue(Value::real(amountOf(i)));
        t.post();
    }
    t.close();
    return secondsSince(start);
}

double fillSqlite(const fs::path& file, long records, bool keyed) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    const auto start = Clock::now();
    check(sqlite3_exec(
              db,
              keyed
                  ? "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL)"
                  : "CREATE TABLE people(id INTEGER, name TEXT, city TEXT, amount REAL)",
              nullptr, nullptr, nullptr),
          db, "create");
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?, ?, ?, ?)", -1, &ins, nullptr), db,
          "prepare");
    for (long i = 1; i <= records; ++i) {
        const std::string name = nameOf(i);
        sqlite3_bind_int64(ins, 1, i);
        sqlite3_bind_text(ins, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 3, cityOf(i), -1, SQLITE_STATIC);
        sqlite3_bind_double(ins, 4, amountOf(i));
        check(sqlite3_step(ins), db, "insert");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
    return secondsSince(start);
}

struct WalkResult {
    double seconds = 0;
    long records = 0;
    std::size_t checksum = 0; //!< total text length read, so that nothing is optimised away
};

WalkResult walkParadox(const fs::path& dir, bool byPosition) {
    Session session;
    session.addStandardAlias("BENCH", dir);
    Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    WalkResult r;
    const auto start = Clock::now();
    t.open();
    t.disableControls();
    for (t.first(); !t.eof(); t.next()) {
        if (byPosition)
            r.checksum += t.field(1).asString().size() + t.field(2).asString().size();
        else
            r.checksum +=
                t.fieldByName("NAME").asString().size() + t.fieldByName("CITY").asString().size();
        ++r.records;
    }
    t.close();
    r.seconds = secondsSince(start);
    return r;
}

WalkResult walkSqlite(const fs::path& file) {
    sqlite3* db = nullptr;
    WalkResult r;
    const auto start = Clock::now();
    check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT name, city FROM people", -1, &q, nullptr), db, "prepare");
    while (sqlite3_step(q) == SQLITE_ROW) {
        r.checksum += std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
        r.checksum += std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(q, 1)));
        ++r.records;
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    r.seconds = secondsSince(start);
    return r;
}

struct Measured {
    WalkResult walk;
    long peakKiB = 0;
};

// Runs a walk in a child process and returns its result and the child's peak RSS.
Measured inChild(const std::function<WalkResult()>& walk) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const WalkResult r = walk();
        if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Measured m;
    if (read(fds[0], &m.walk, sizeof m.walk) != static_cast<ssize_t>(sizeof m.walk)) std::exit(1);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.peakKiB = usage.ru_maxrss;
    return m;
}

double mib(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::uintmax_t familySize(const fs::path& dir) {
    std::uintmax_t total = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().stem() == "PEOPLE") total += e.file_size();
    return total;
}

} // namespace

int main(int argc, char** argv) {
    long records = 1'000'000;
    bool keyed = true;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--unkeyed") == 0)
            keyed = false;
        else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else
            records = std::atol(argv[i]);
    }
    std::string pattern = (fs::temp_directory_path() / "bench_read-XXXXXX").string();
    if (!keep.empty()) fs::create_directories(keep);
    const fs::path dir = keep.empty() ? fs::path(mkdtemp(pattern.data())) : keep;
    const fs::path sqliteFile = dir / "people.sqlite";
    fs::remove(sqliteFile);

    std::printf("bench_read: %ld records, %s, in %s\n", records, keyed ? "ID key" : "no key",
                dir.c_str());
    const double fillPx = fillParadox(dir, records, keyed);
    const double fillSq = fillSqlite(sqliteFile, records, keyed);
    const Measured pxName = inChild([&] { return walkParadox(dir, false); });
    const Measured pxPos = inChild([&] { return walkParadox(dir, true); });
    const Measured sq = inChild([&] { return walkSqlite(sqliteFile); });
    const Measured idle = inChild([] { return WalkResult{}; });

    std::printf("\n%-34s %12s %12s %8s\n", "", "Paradox", "SQLite", "ratio");
    std::printf("%-34s %11.2fs %11.2fs %7.2fx\n", "fill (insert + post / INSERT)", fillPx, fillSq,
                fillPx / fillSq);
    std::printf("%-34s %11.2fs %11.2fs %7.2fx\n", "walk, two fields by name", pxName.walk.seconds,
                sq.walk.seconds, pxName.walk.seconds / sq.walk.seconds);
    std::printf("%-34s %11.2fs %11.2fs %7.2fx\n", "walk, two fields by position",
                pxPos.walk.seconds, sq.walk.seconds, pxPos.walk.seconds / sq.walk.seconds);
    std::printf("%-34s %10.1fMB %10.1fMB\n", "peak RSS of the walk (by name)",
                pxName.peakKiB / 1024.0, sq.peakKiB / 1024.0);
    std::printf("%-34s %10.1fMB\n", "peak RSS of an idle child", idle.peakKiB / 1024.0);
    std::printf("%-34s %10.1fMB %10.1fMB\n", "size on disk", mib(familySize(dir)),
                mib(fs::file_size(sqliteFile)));
    std::printf("%-34s %12ld %12ld\n", "records walked", pxName.walk.records, sq.walk.records);
    const bool same = pxName.walk.checksum == sq.walk.checksum &&
                      pxPos.walk.checksum == sq.walk.checksum && pxName.walk.records == records &&
                      sq.walk.records == records;
    std::printf("%-34s %s\n", "same data read", same ? "yes" : "NO");
    if (keep.empty()) fs::remove_all(dir);
    return same ? 0 : 1;
}
