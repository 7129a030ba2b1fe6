// Change Field over a table of a server alias against the server's own UPDATE, same data,
// same run: a SQLite file (against sqlite3's UPDATE) and, when a PostgreSQL server is named
// (FIELDSMITH_TEST_PG as scripts/pg-test-server sets it), a PostgreSQL table (against the
// same UPDATE sent as psql sends it).
#include "BenchSupport.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/Session.h"
#include "ops/FieldOperations.h"

#include <libpq-fe.h>

#include <cstring>

using namespace fieldsmith;
using bench::Clock;
using bench::Result;

namespace {

// 1,000,000 rows, the city Hamburg on one in ten.
const char* kFill =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %ld) "
    "INSERT INTO ops SELECT i, 'Customer ' || (i * 7919 %% 1000003), "
    "CASE i %% 10 WHEN 1 THEN 'Hamburg' WHEN 2 THEN 'Berlin' ELSE 'Muenchen' END, (i %% 100000) / 100.0 FROM n";

Result engineRun(engine::Session& session, const std::string& table) {
    run::TestHost host;
    // The window asks for progress texts only when it is about to paint (a few times a
    // second), not at every record as a test host does.
    host.progressEvery = 4096;
    run::PageInputs inputs;
    run::SharedState shared{session};
    auto& in = inputs.Seite2;
    in.Change1Alias = "SRV";
    in.Change1Table = table;
    in.Change1Field = "city";
    in.vonEdit2 = "Hamburg";
    in.zuEdit2 = "Hamborg";
    const auto start = Clock::now();
    run::RunContext ctx{host, session, inputs, shared};
    ops::ExecuteFeldReplaceComplete(ctx);
    shared.TempTable.close();
    Result r;
    r.seconds = bench::secondsSince(start);
    r.count = std::atol(host.panels[2].c_str()); // "{n} Records changed!"
    return r;
}

void sqliteRun(long records) {
    const bench::fs::path dir = bench::workDirectory("bench-server", {});
    const std::string file = (dir / "ops.sqlite").string();
    {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        bench::exec(db, "PRAGMA journal_mode=WAL");
        bench::exec(db, "CREATE TABLE ops (id INTEGER PRIMARY KEY, name VARCHAR(30), city VARCHAR(20), amount DOUBLE)");
        char sql[512];
        std::snprintf(sql, sizeof sql, kFill, records);
        bench::exec(db, sql);
        sqlite3_close(db);
    }
    bench::fs::copy_file(file, dir / "ops2.sqlite");
    const Result px = bench::inChild([&] {
        engine::Session session;
        session.addAlias("SRV", {{"TYPE", "SQLITE"}, {"SERVER NAME", file}});
        return engineRun(session, "ops");
    });
    const Result sq = bench::inChild([&] {
        sqlite3* db = nullptr;
        sqlite3_open((dir / "ops2.sqlite").c_str(), &db);
        const auto start = Clock::now();
        bench::exec(db, "UPDATE ops SET city = 'Hamborg' WHERE city = 'Hamburg'");
        Result r;
        r.seconds = bench::secondsSince(start);
        r.count = sqlite3_changes(db);
        sqlite3_close(db);
        return r;
    });
    bench::printHeader("alias", "server", "peak al", "peak sv");
    bench::printRow("Change Field, SQLite alias vs sqlite3 UPDATE", px, sq);
    std::printf("changed: %ld and %ld\n", px.count, sq.count);
    bench::fs::remove_all(dir);
}

void postgresRun(long records) {
    const char* server = std::getenv("FIELDSMITH_TEST_PG");
    if (!server) {
        std::printf("\nPostgreSQL: no server named (FIELDSMITH_TEST_PG); start one with scripts/pg-test-server\n");
        return;
    }
    const std::string s = server;
    const std::string hostPort = s.substr(0, s.rfind('/'));
    const std::string password = std::getenv("FIELDSMITH_TEST_PG_PASSWORD") ? std::getenv("FIELDSMITH_TEST_PG_PASSWORD") : "";
    const std::string user = std::getenv("FIELDSMITH_TEST_PG_USER") ? std::getenv("FIELDSMITH_TEST_PG_USER") : "";
    const std::string conninfo = "host=" + hostPort.substr(0, hostPort.rfind(':')) + " port=" +
                                 hostPort.substr(hostPort.rfind(':') + 1) + " dbname=" + s.substr(s.rfind('/') + 1) +
                                 " user=" + user + " password=" + password;
    auto sql = [&](const std::string& text) {
        PGconn* c = PQconnectdb(conninfo.c_str());
        PGresult* r = PQexec(c, text.c_str());
        const long changed = std::atol(PQcmdTuples(r));
        if (PQresultStatus(r) != PGRES_COMMAND_OK) std::fprintf(stderr, "%s: %s", text.c_str(), PQresultErrorMessage(r));
        PQclear(r);
        PQfinish(c);
        return changed;
    };
    auto fill = [&] {
        sql("DROP TABLE IF EXISTS ops");
        sql("CREATE TABLE ops (id INTEGER PRIMARY KEY, name VARCHAR(30), city VARCHAR(20), amount DOUBLE PRECISION)");
        sql("INSERT INTO ops SELECT i, 'Customer ' || (i::bigint * 7919 % 1000003), CASE i % 10 WHEN 1 THEN 'Hamburg' "
            "WHEN 2 THEN 'Berlin' ELSE 'Muenchen' END, (i % 100000) / 100.0 FROM generate_series(1, " +
            std::to_string(records) + ") i");
        sql("VACUUM ANALYZE ops");
    };
    fill();
    const Result px = bench::inChild([&] {
        engine::Session session;
        session.addAlias("SRV", {{"TYPE", "POSTGRESQL"}, {"SERVER NAME", s}, {"USER NAME", user}});
        session.setPasswordPrompt([&](const std::string&, const std::string&) { return std::optional<std::string>(password); });
        return engineRun(session, "ops");
    });
    fill();
    const Result pg = bench::inChild([&] {
        const auto start = Clock::now();
        Result r;
        r.count = sql("UPDATE ops SET city = 'Hamborg' WHERE city = 'Hamburg'");
        r.seconds = bench::secondsSince(start);
        return r;
    });
    bench::printRow("Change Field, PostgreSQL alias vs UPDATE", px, pg);
    std::printf("changed: %ld and %ld\n", px.count, pg.count);
    sql("DROP TABLE ops");
}

} // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    sqliteRun(records);
    postgresRun(records);
    return 0;
}
