// bench_write: creates and fills a 1,000,000-record Paradox table keyed on ID with a memo on
// one record in ten, then walks it posting one changed alpha field per record; SQLite does the
// same import (one transaction) and a one-column UPDATE of every row. Each step runs in a
// child process of its own, so its peak resident memory is its alone.
//
// Usage: bench_write [records] [--keep DIR]

#include "BenchSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"

#include <cstring>

namespace {

using namespace fieldsmith::engine;
using namespace bench;

Result fillParadox(const fs::path& dir, long records) {
    Session session;
    session.addStandardAlias("BENCH", dir);
    Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                     {"NAME", FieldType::ftString, 30, false},
                     {"CITY", FieldType::ftString, 20, false},
                     {"AMOUNT", FieldType::ftFloat, 0, false},
                     {"NOTE", FieldType::ftMemo, 10, false}};
    t.indexDefs() = {{"", "ID", ixPrimary | ixUnique}};
    Result r;
    const auto start = Clock::now();
    t.createTable();
    t.open();
    t.disableControls();
    Field id = t.fieldByName("ID"), name = t.fieldByName("NAME"), city = t.fieldByName("CITY"),
          amount = t.fieldByName("AMOUNT"), note = t.fieldByName("NOTE");
    for (long i = 1; i <= records; ++i) {
        t.append();
        id.setAsInteger(i);
        name.setAsString(nameOf(i));
        city.setAsString(cityOf(i));
        amount.setValue(Value::real(amountOf(i)));
        if (i % 10 == 0) note.setAsString(noteOf(i));
        t.post();
        ++r.count;
    }
    t.close();
    r.seconds = secondsSince(start);
    return r;
}

Result fillSqlite(const fs::path& file, long records) {
    sqlite3* db = nullptr;
    check(sqlite3_open(file.c_str(), &db), db, "open");
    Result r;
    const auto start = Clock::now();
    exec(db, "CREATE TABLE people(id INTEGER PRIMARY KEY, name TEXT, city TEXT, amount REAL, "
             "note TEXT)");
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

// The walk posting one field per record: CITY gets a "!" appended.
Result updateParadox(const fs::path& dir) {
    Session session;
    session.addStandardAlias("BENCH", dir);
    Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    Result r;
    const auto start = Clock::now();
    t.open();
    t.disableControls();
    Field city = t.fieldByName("CITY");
    for (t.first(); !t.eof(); t.next()) {
        t.edit();
        city.setAsString(city.asString() + "!");
        t.post();
        ++r.count;
    }
    t.close();
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

// Reads CITY back from both and counts the records whose value ends in "!".
long changedParadox(const fs::path& dir) {
    Session session;
    session.addStandardAlias("BENCH", dir);
    Table t(session);
    t.setDatabaseName("BENCH");
    t.setTableName("PEOPLE");
    t.open();
    long n = 0;
    long i = 0;
    for (t.first(); !t.eof(); t.next()) {
        ++i;
        n += t.fieldByName("CITY").asString() == std::string(cityOf(i)) + "!" &&
             t.fieldByName("NOTE").asString() == noteOf(i);
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
    const fs::path dir = workDirectory("bench_write", keep);
    const fs::path sqliteFile = dir / "people.sqlite";
    fs::remove(sqliteFile);
    std::printf("bench_write: %ld records, ID key, NOTE memo on one in ten, in %s\n", records,
                dir.c_str());

    const Result fillPx = inChild([&] { return fillParadox(dir, records); });
    const Result fillSq = inChild([&] { return fillSqlite(sqliteFile, records); });
    const auto pxSize = familySize(dir, "PEOPLE"), sqSize = fs::file_size(sqliteFile);
    const Result updPx = inChild([&] { return updateParadox(dir); });
    const Result updSq = inChild([&] { return updateSqlite(sqliteFile); });
    const Result idle = inChild([] { return Result{}; });
    const long verified = inChild([&] {
                              Result r;
                              r.count = changedParadox(dir);
                              return r;
                          }).count;

    printHeader();
    printRow("create + fill (insert/post | INSERT, 1 txn)", fillPx, fillSq);
    printRow("walk posting CITY (edit/post | UPDATE)", updPx, updSq);
    std::printf("%-44s %8.1fMB\n", "peak RSS of an idle child", idle.peakKiB / 1024.0);
    std::printf("%-44s %8.1fMB %8.1fMB\n", "size on disk after the fill", mib(pxSize), mib(sqSize));
    std::printf("%-44s %10ld %10ld\n", "records posted by the walk / UPDATE", updPx.count,
                updSq.count);
    const bool same = fillPx.count == records && fillSq.count == records &&
                      updPx.count == records && updSq.count == records && verified == records;
    std::printf("%-44s %s\n", "every record changed and memos intact", same ? "yes" : "NO");
    if (keep.empty()) fs::remove_all(dir);
    return same ? 0 : 1;
}
