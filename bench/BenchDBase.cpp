// bench_dbase: the dBase driver against SQLite on the same 1,000,000 records: the fill of a
// new dBase IV table (with a memo on one record in ten and a production index tag on ID), a
// read walk of two fields, and a walk posting one changed field per record (Change Field),
// against SQLite's import, full scan and one-column UPDATE. Each step runs in a child
// process of its own, so its peak resident memory is its alone.
//
// Usage: bench_dbase [records] [--keep DIR]

#include "BenchSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"

#include <cstring>

namespace {

using namespace fieldsmith::engine;
using namespace bench;

std::unique_ptr<Table> people(Session& session, const fs::path& dir) {
    session.addStandardAlias("BENCH", dir);
    auto t = std::make_unique<Table>(session);
    t->setDatabaseName("BENCH");
    t->setTableName("PEOPLE.DBF");
    return t;
}

Result fillDBase(const fs::path& dir, long records) {
    Session session;
    auto t = people(session, dir);
    t->fieldDefs() = {{"ID", FieldType::ftInteger, 0, false},
                      {"NAME", FieldType::ftString, 30, false},
                      {"CITY", FieldType::ftString, 20, false},
                      {"AMOUNT", FieldType::ftFloat, 2, false},
                      {"NOTE", FieldType::ftMemo, 0, false}};
    t->indexDefs() = {{"BYID", "ID", 0}};
    Result r;
    const auto start = Clock::now();
    t->createTable();
    t->open();
    t->disableControls();
    Field id = t->fieldByName("ID"), name = t->fieldByName("NAME"), city = t->fieldByName("CITY"),
          amount = t->fieldByName("AMOUNT"), note = t->fieldByName("NOTE");
    for (long i = 1; i <= records; ++i) {
        t->append();
        id.setAsInteger(i);
        name.setAsString(nameOf(i));
        city.setAsString(cityOf(i));
        amount.setValue(Value::real(amountOf(i)));
        if (i % 10 == 0) note.setAsString(noteOf(i));
        t->post();
        ++r.count;
    }
    t->close();
    r.seconds = secondsSince(start);
    return r;
}

Result fillSqlite(const fs::path& file, long records) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    Result r;
    const auto start = Clock::now();
    exec(db, "CREATE TABLE people(id INTEGER, name TEXT, city TEXT, amount REAL, note TEXT)");
    exec(db, "CREATE INDEX byid ON people(id)");
    exec(db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO people VALUES (?, ?, ?, ?, ?)", -1, &ins, nullptr),
          db, "prepare");
    for (long i = 1; i <= records; ++i) {
        const std::string name = nameOf(i), note = noteOf(i);
        sqlite3_bind_int64(ins, 1, i);
        sqlite3_bind_text(ins, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 3, cityOf(i), -1, SQLITE_STATIC);
        sqlite3_bind_double(ins, 4, amountOf(i));
        if (note.empty())
            sqlite3_bind_null(ins, 5);
        else
            sqlite3_bind_text(ins, 5, note.c_str(), static_cast<int>(note.size()),
                              SQLITE_TRANSIENT);
        check(sqlite3_step(ins), db, "insert");
        sqlite3_reset(ins);
        ++r.count;
    }
    sqlite3_finalize(ins);
    exec(db, "COMMIT");
    sqlite3_close(db);
    r.seconds = secondsSince(start);
    return r;
}

// The read walk: NAME and CITY of every record as text; count holds their total length.
Result walkDBase(const fs::path& dir) {
    Session session;
    auto t = people(session, dir);
    Result r;
    const auto start = Clock::now();
    t->open();
    t->disableControls();
    for (t->first(); !t->eof(); t->next())
        r.count += static_cast<long>(t->fieldByName("NAME").asString().size() +
                                     t->fieldByName("CITY").asString().size());
    t->close();
    r.seconds = secondsSince(start);
    return r;
}

Result walkSqlite(const fs::path& file) {
    sqlite3* db = nullptr;
    Result r;
    const auto start = Clock::now();
    check(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT name, city FROM people", -1, &q, nullptr), db, "prepare");
    while (sqlite3_step(q) == SQLITE_ROW)
        r.count += static_cast<long>(
            std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(q, 0))) +
            std::strlen(reinterpret_cast<const char*>(sqlite3_column_text(q, 1))));
    sqlite3_finalize(q);
    sqlite3_close(db);
    r.seconds = secondsSince(start);
    return r;
}

// The walk posting one field per record, as Change Field does: CITY gets a "!" appended.
Result updateDBase(const fs::path& dir) {
    Session session;
    auto t = people(session, dir);
    Result r;
    const auto start = Clock::now();
    t->open();
    t->disableControls();
    Field city = t->fieldByName("CITY");
    for (t->first(); !t->eof(); t->next()) {
        t->edit();
        city.setAsString(city.asString() + "!");
        t->post();
        ++r.count;
    }
    t->close();
    r.seconds = secondsSince(start);
    return r;
}

Result updateSqlite(const fs::path& file) {
    sqlite3* db = nullptr;
    Result r;
    const auto start = Clock::now();
    check(sqlite3_open(file.c_str(), &db), db, "open");
    exec(db, "UPDATE people SET city = city || '!'");
    r.count = sqlite3_changes(db);
    sqlite3_close(db);
    r.seconds = secondsSince(start);
    return r;
}

// Counts the records whose CITY ends in "!" and whose memo is intact.
long changedDBase(const fs::path& dir) {
    Session session;
    auto t = people(session, dir);
    t->open();
    long n = 0, i = 0;
    for (t->first(); !t->eof(); t->next()) {
        ++i;
        n += t->fieldByName("CITY").asString() == std::string(cityOf(i)) + "!" &&
             t->fieldByName("NOTE").asString() == noteOf(i) &&
             t->fieldByName("ID").asInteger() == i;
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    long records = 1'000'000;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc)
            keep = argv[++i];
        else
            records = std::atol(argv[i]);
    }
    const fs::path dir = workDirectory("bench_dbase", keep);
    const fs::path sqliteFile = dir / "people.sqlite";
    fs::remove(sqliteFile);
    std::printf("bench_dbase: %ld records, tag on ID, NOTE memo on one in ten, in %s\n", records,
                dir.c_str());

    const Result fillDb = inChild([&] { return fillDBase(dir, records); });
    const Result fillSq = inChild([&] { return fillSqlite(sqliteFile, records); });
    const auto dbSize = familySize(dir, "PEOPLE"), sqSize = fs::file_size(sqliteFile);
    const Result walkDb = inChild([&] { return walkDBase(dir); });
    const Result walkSq = inChild([&] { return walkSqlite(sqliteFile); });
    const Result updDb = inChild([&] { return updateDBase(dir); });
    const Result updSq = inChild([&] { return updateSqlite(sqliteFile); });
    const Result idle = inChild([] { return Result{}; });
    const long verified = inChild([&] {
                              Result r;
                              r.count = changedDBase(dir);
                              return r;
                          }).count;

    std::printf("\n%-44s %10s %10s %8s %10s %10s\n", "", "dBase", "SQLite", "ratio", "peak db",
                "peak sq");
    printRow("create + fill (insert/post | INSERT, 1 txn)", fillDb, fillSq);
    printRow("read walk, NAME and CITY (| SELECT)", walkDb, walkSq);
    printRow("walk posting CITY (edit/post | UPDATE)", updDb, updSq);
    std::printf("%-44s %8.1fMB\n", "peak RSS of an idle child", idle.peakKiB / 1024.0);
    std::printf("%-44s %8.1fMB %8.1fMB\n", "size on disk after the fill", mib(dbSize), mib(sqSize));
    const bool same = fillDb.count == records && fillSq.count == records &&
                      walkDb.count == walkSq.count && updDb.count == records &&
                      updSq.count == records && verified == records;
    std::printf("%-44s %s\n", "same data read, every record changed, memos intact",
                same ? "yes" : "NO");
    if (keep.empty()) fs::remove_all(dir);
    return same ? 0 : 1;
}
