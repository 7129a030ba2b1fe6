// Create Table copying every record: Paradox → Paradox and Paradox → the embedded Oracle
// target, against SQLite's INSERT INTO new SELECT * FROM old on the same rows, in the same
// run. Each step runs in a child process of its own.
#include "BenchSupport.h"

#include "app/run/ConsoleHost.h"
#include "app/run/Operations.h"
#include "create/CreateTable.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "oraclient/EmbeddedUsers.h"
#include "oraclient/OracleConfig.h"
#include "oraclient/OracleQuery.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <streambuf>

using namespace bench;
using namespace fieldsmith;
using engine::FieldType;

namespace {

// Swallows the run's messages and progress line.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

void fillParadox(const fs::path& dir, long count) {
    engine::Session session;
    engine::Table t(session);
    t.setTableName((dir / "PEOPLE.DB").string());
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                     {"NAME", FieldType::ftString, 30, false},
                     {"CITY", FieldType::ftString, 20, false},
                     {"AMOUNT", FieldType::ftFloat, 0, false}};
    t.indexDefs() = {{"", "ID", engine::ixPrimary | engine::ixUnique}};
    t.createTable();
    t.open();
    auto id = t.fieldByName("ID"), name = t.fieldByName("NAME"), city = t.fieldByName("CITY"),
         amount = t.fieldByName("AMOUNT");
    for (long i = 0; i < count; ++i) {
        t.append();
        id.setAsInteger(i + 1);
        name.setAsString(nameOf(i));
        city.setAsString(cityOf(i));
        amount.setAsString(std::to_string(amountOf(i)));
        t.post();
    }
    t.close();
}

void fillSqlite(const fs::path& file, long count) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    exec(db, "CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL)");
    exec(db, "BEGIN");
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?1, ?2, ?3, ?4)", -1, &st, nullptr),
          db, "prepare");
    for (long i = 0; i < count; ++i) {
        const std::string name = nameOf(i);
        sqlite3_bind_int64(st, 1, i + 1);
        sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, cityOf(i), -1, SQLITE_STATIC);
        sqlite3_bind_double(st, 4, amountOf(i));
        check(sqlite3_step(st), db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

Result sqliteCopy(const fs::path& file) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    exec(db, "DROP TABLE IF EXISTS newpeople");
    const auto start = Clock::now();
    exec(db, "CREATE TABLE newpeople (id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL)");
    exec(db, "INSERT INTO newpeople SELECT * FROM people");
    Result r;
    r.seconds = secondsSince(start);
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT count(*) FROM newpeople", -1, &st, nullptr), db, "count");
    sqlite3_step(st);
    r.count = static_cast<long>(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return r;
}

// The page's run as fieldsmith-batch runs it: the console host, the replace question
// answered Yes, the Oracle logon from the command line and the environment.
Result createTable(const fs::path& dir, bool oracle) {
    // Every run makes its table anew: the target of an earlier run is removed untimed.
    for (const auto& e : fs::directory_iterator(dir / "dst"))
        fs::remove(e.path());
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(dir / "oracle" / "ORA" / (std::string("BENCH.sqlite") + suffix));
    engine::Session session(dir);
    session.addStandardAlias("SRC", dir);
    session.addStandardAlias("DST", dir / "dst");
    session.addAlias("ORA", {{"TYPE", "ORACLE"}, {"SERVER NAME", "ORA"}});
    NullBuffer nothing;
    std::ostream quiet(&nothing);
    run::ConsoleHost::Options options;
    options.answer = run::BatchAnswer::Yes;
    options.oracleLogon = "BENCH@ORA";
    run::ConsoleHost host(quiet, options);
    run::PageInputs inputs;
    auto& in = inputs.CreateTableSeite;
    in.NeuTabAlias = "SRC";
    in.NeuTabBox = "PEOPLE";
    in.NeuTab2Alias = oracle ? "ORA" : "DST";
    in.NeuTabelleEdit = "NEWPEOPLE.DB";
    in.IndexesCheck = true;
    in.CopyAllRecsCheck = true;
    in.OracleCheck = oracle;
    run::SharedState shared(session);
    run::RunContext context{host, session, inputs, shared};
    const auto start = Clock::now();
    create::ExecuteCreateTable(context);
    Result r;
    r.seconds = secondsSince(start);
    if (oracle) {
        oraclient::OracleQuery q(shared.tSession);
        q.setSql("SELECT COUNT(*) FROM BENCH.NEWPEOPLE");
        q.open();
        r.count = std::stol(q.fieldText(0));
    } else {
        engine::Table t(session);
        t.setTableName((dir / "dst" / "NEWPEOPLE.DB").string());
        t.open();
        r.count = static_cast<long>(t.recordCount());
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    long count = 1000000;
    fs::path keep;
    std::string only; // "paradox" or "oracle": that copy alone, for a profiler
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            count = std::atol(argv[i]);
    }
    const fs::path dir = workDirectory("bench-create", keep);
    fs::create_directories(dir / "dst");
    std::printf("Create Table of %ld records in %s\n", count, dir.c_str());
    fillParadox(dir, count);
    fillSqlite(dir / "people.sqlite", count);
    const auto entry = oraclient::ensureEmbeddedDatabase(dir, "ORA");
    oraclient::EmbeddedUsers(entry.path).add("BENCH", "bench");
    ::setenv("FIELDSMITH_ORACLE_PASSWORD", "bench", 1);
    std::printf("source: %.1f MB Paradox, %.1f MB SQLite\n", mib(familySize(dir, "PEOPLE")),
                mib(fs::file_size(dir / "people.sqlite")));

    if (!only.empty()) {
        const Result r = createTable(dir, only == "oracle");
        std::printf("%s: %.2fs, %ld records\n", only.c_str(), r.seconds, r.count);
        if (keep.empty()) fs::remove_all(dir);
        return 0;
    }
    // Each side runs several times in turn and its fastest run counts, so that other work
    // on the machine does not decide the ratio.
    auto fastest = [](Result& best, const Result& r) {
        if (best.seconds == 0 || r.seconds < best.seconds) best = r;
    };
    Result sq, px, ora;
    for (int run = 0; run < runs; ++run) {
        fastest(sq, inChild([&] { return sqliteCopy(dir / "people.sqlite"); }));
        fastest(px, inChild([&] { return createTable(dir, false); }));
        fastest(ora, inChild([&] { return createTable(dir, true); }));
    }
    printHeader();
    printRow("Paradox -> Paradox vs INSERT INTO ... SELECT", px, sq);
    printRow("Paradox -> Oracle target vs INSERT ... SELECT", ora, sq);
    std::printf("\nrecords: SQLite %ld, Paradox %ld, Oracle target %ld: %s\n", sq.count, px.count,
                ora.count,
                sq.count == count && px.count == count && ora.count == count ? "all copied"
                                                                             : "MISSING RECORDS");
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
