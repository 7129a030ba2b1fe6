// Tables behind server aliases, on SQLite files and on PostgreSQL: what the catalog gives,
// values as text in key order, ranges and orders, changes that reach the server at the end
// of a run, key violations, a second writer, and tables without a key. Every case runs on
// both servers; the server is read back directly, without the engine.
#include "support/SqlServers.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include <unistd.h>

using namespace fieldsmith;
using engine::EngineError;
using engine::ErrorKind;
using engine::FieldType;
using engine::Table;
using test::Server;
using test::ServerDatabase;

namespace {

class SqlTables : public ::testing::TestWithParam<Server> {
protected:
    void SetUp() override {
        if (GetParam() == Server::Postgres && !test::postgresMissing().empty())
            GTEST_SKIP() << test::postgresMissing();
        db = std::make_unique<ServerDatabase>(GetParam());
        db->define(session, "SRV");
        // Tests of both servers may run at once against one PostgreSQL database.
        name = "kunden_" + std::to_string(getpid());
        db->exec("DROP TABLE IF EXISTS " + name);
        db->exec("CREATE TABLE " + name + " (id INTEGER PRIMARY KEY, name VARCHAR(20) NOT NULL, "
                 "ort VARCHAR(20), note TEXT, preis NUMERIC(10,2), datum DATE, aktiv BOOLEAN)");
        db->exec("CREATE INDEX " + name + "_byname ON " + name + " (name)");
        db->exec("INSERT INTO " + name + " VALUES (3, 'Zorn', 'Bonn', NULL, 1.50, '2024-02-29', TRUE)");
        db->exec("INSERT INTO " + name + " VALUES (1, 'Berg', 'Aachen', '" + std::string(5000, 'm') +
                 "', 12.00, NULL, FALSE)");
        db->exec("INSERT INTO " + name + " VALUES (2, 'Adler', NULL, 'kurz', NULL, '1999-12-31', NULL)");
    }
    void TearDown() override {
        if (db) db->exec("DROP TABLE IF EXISTS " + name);
    }
    std::unique_ptr<Table> open(engine::Session& s, const std::string& indexFields = "", bool exclusive = false) {
        auto t = std::make_unique<Table>(s);
        t->setDatabaseName("SRV");
        t->setTableName(name);
        t->setExclusive(exclusive);
        t->setIndexFieldNames(indexFields);
        t->open();
        return t;
    }
    static std::vector<std::string> column(Table& t, const char* field) {
        std::vector<std::string> out;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next()) out.push_back(t.fieldByName(field).asString());
        return out;
    }

    std::unique_ptr<ServerDatabase> db;
    engine::Session session;
    std::string name;
};

TEST_P(SqlTables, FieldsAndIndexesComeFromTheCatalog) {
    // An index on an expression is no order of fields: it is not among the table's indexes.
    db->exec("CREATE INDEX " + name + "_lower ON " + name + " (lower(name))");
    const auto names = session.tableNames("SRV");
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end());
    for (const auto& n : names) EXPECT_EQ(n.rfind("sqlite_", 0), std::string::npos) << "a system table is listed";
    auto t = open(session);
    struct Expected {
        const char* name;
        FieldType type;
        int size;
        bool required;
    } expected[] = {{"id", FieldType::ftInteger, 0, true},   {"name", FieldType::ftString, 20, true},
                    {"ort", FieldType::ftString, 20, false}, {"note", FieldType::ftMemo, 0, false},
                    {"preis", FieldType::ftBCD, 2, false},   {"datum", FieldType::ftDate, 0, false},
                    {"aktiv", FieldType::ftBoolean, 0, false}};
    ASSERT_EQ(t->fieldCount(), 7);
    for (int i = 0; i < 7; ++i) {
        const auto& e = expected[i];
        EXPECT_EQ(t->field(i).name(), e.name);
        EXPECT_EQ(t->field(i).type(), e.type) << e.name;
        EXPECT_EQ(t->field(i).size(), e.size) << e.name;
        EXPECT_EQ(t->field(i).required(), e.required) << e.name;
    }
    const auto& ix = t->indexDefs();
    ASSERT_EQ(ix.size(), 2u);
    EXPECT_TRUE(ix[0].isPrimary());
    EXPECT_EQ(ix[0].fields, "id");
    EXPECT_EQ(ix[1].name, name + "_byname");
    EXPECT_EQ(ix[1].fields, "name");
}

// An index in descending order, or (on SQLite) one that compares without regard to case,
// is such an order of the engine, and orders the rows so. An index the engine has no order
// for is not listed: columns in different directions, a column beside an expression.
// Columns a PostgreSQL index only INCLUDEs are no part of its order.
TEST_P(SqlTables, IndexesKeepTheirDirectionAndCase) {
    const bool pg = GetParam() == Server::Postgres;
    db->exec("INSERT INTO " + name + " VALUES (4, 'berg', NULL, NULL, NULL, NULL, NULL)");
    db->exec("CREATE INDEX " + name + "_down ON " + name + " (name DESC)");
    db->exec("CREATE INDEX " + name + "_mixed ON " + name + " (ort DESC, name)");
    db->exec("CREATE INDEX " + name + "_expr ON " + name + " (lower(ort), name)");
    if (pg)
        db->exec("CREATE INDEX " + name + "_incl ON " + name + " (ort) INCLUDE (name)");
    else
        db->exec("CREATE INDEX " + name + "_incl ON " + name + " (name COLLATE NOCASE)");
    auto t = open(session);
    std::map<std::string, std::pair<std::string, unsigned>> listed;
    for (const auto& ix : t->indexDefs())
        if (!ix.isPrimary()) listed[ix.name] = {ix.fields, ix.options};
    std::map<std::string, std::pair<std::string, unsigned>> expected = {
        {name + "_byname", {"name", 0u}},
        {name + "_down", {"name", engine::ixDescending}},
        {name + "_incl", pg ? std::pair<std::string, unsigned>{"ort", 0u}
                            : std::pair<std::string, unsigned>{"name", engine::ixCaseInsensitive}}};
    EXPECT_EQ(listed, expected);
    t->close();
    t->setIndexName(name + "_down");
    t->open();
    EXPECT_EQ(column(*t, "name"), (std::vector<std::string>{"berg", "Zorn", "Berg", "Adler"}));
    if (!pg) {
        t->close();
        t->setIndexName(name + "_incl");
        t->open();
        const auto names = column(*t, "name");
        EXPECT_EQ(names.front(), "Adler");
        EXPECT_EQ(names.back(), "Zorn");
    }
}

TEST_P(SqlTables, ValuesReadAsTextInKeyOrder) {
    auto t = open(session);
    EXPECT_EQ(t->recordCount(), 3);
    EXPECT_EQ(column(*t, "id"), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(column(*t, "name"), (std::vector<std::string>{"Berg", "Adler", "Zorn"}));
    EXPECT_EQ(column(*t, "ort"), (std::vector<std::string>{"Aachen", "", "Bonn"}));
    EXPECT_EQ(column(*t, "note"), (std::vector<std::string>{std::string(5000, 'm'), "kurz", ""}));
    EXPECT_EQ(column(*t, "datum"), (std::vector<std::string>{"", "1999-12-31", "2024-02-29"}));
    EXPECT_EQ(column(*t, "aktiv"), (std::vector<std::string>{"False", "", "True"}));
    const auto preis = column(*t, "preis");
    EXPECT_EQ(std::stod(preis[0]), 12.0);
    EXPECT_EQ(preis[1], "");
    EXPECT_EQ(std::stod(preis[2]), 1.5);
}

TEST_P(SqlTables, RangesAndOtherOrders) {
    auto t = open(session);
    t->setRange({"2"}, {"3"});
    EXPECT_EQ(column(*t, "name"), (std::vector<std::string>{"Adler", "Zorn"}));
    t->cancelRange();
    t->setIndexFieldNames("name");
    EXPECT_EQ(column(*t, "id"), (std::vector<std::string>{"2", "1", "3"}));
    t->last();
    EXPECT_EQ(t->recNo(), 3);
}

// Each post is one statement in the run's transaction: another session sees the changes
// once the table is flushed, as a run's end does.
TEST_P(SqlTables, ChangesReachTheServerAtTheFlush) {
    auto t = open(session);
    t->first();
    t->edit();
    t->fieldByName("ort").setAsString("K\xF6ln"); // the program's code page
    t->fieldByName("note").setAsString(std::string(3000, 'n'));
    t->post();
    t->insert();
    t->fieldByName("id").setAsInteger(7);
    t->fieldByName("name").setAsString("Neu");
    t->fieldByName("preis").setAsString("3.25");
    t->fieldByName("datum").setAsString("2026-12-10");
    t->post();
    t->first();
    t->next(); // Adler
    t->deleteRecord();
    EXPECT_EQ(db->column("SELECT name FROM " + name + " ORDER BY id"),
              (std::vector<std::string>{"Berg", "Adler", "Zorn"}))
        << "nothing is committed before the flush";
    t->flush();
    EXPECT_EQ(db->column("SELECT name FROM " + name + " ORDER BY id"),
              (std::vector<std::string>{"Berg", "Zorn", "Neu"}));
    EXPECT_EQ(db->column("SELECT ort FROM " + name + " WHERE id = 1"), std::vector<std::string>{"K\xC3\xB6ln"})
        << "text reaches the server as UTF-8";
    EXPECT_EQ(db->column("SELECT length(note) FROM " + name + " WHERE id = 1"), std::vector<std::string>{"3000"});
    EXPECT_EQ(db->column("SELECT datum FROM " + name + " WHERE id = 7"), std::vector<std::string>{"2026-12-10"});
    EXPECT_EQ(column(*t, "name"), (std::vector<std::string>{"Berg", "Zorn", "Neu"}));
}

// A failed post takes nothing else with it: what was posted before it stays, as it would
// in a file table.
TEST_P(SqlTables, ADuplicateKeyIsAKeyViolationWithTheServersText) {
    auto t = open(session);
    t->first();
    t->edit();
    t->fieldByName("ort").setAsString("Vorher");
    t->post();
    t->insert();
    t->fieldByName("id").setAsInteger(2);
    t->fieldByName("name").setAsString("Doppelt");
    try {
        t->post();
        FAIL() << "the duplicate was posted";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::KeyViolation) << e.what();
    }
    t->cancel();
    t->last();
    t->edit();
    t->fieldByName("ort").setAsString("Nachher");
    t->post();
    t->flush();
    EXPECT_EQ(db->column("SELECT count(*) FROM " + name), std::vector<std::string>{"3"});
    EXPECT_EQ(db->column("SELECT ort FROM " + name + " ORDER BY id"),
              (std::vector<std::string>{"Vorher", "<null>", "Nachher"}));
}

// A change the server refuses ends the walk, as a run does, and the changes before it are
// kept. A server that takes changes ahead reports the refusal at the flush at the latest,
// naming the record, and the changes sent after it are not made.
TEST_P(SqlTables, AChangeTheServerRefusesKeepsTheChangesBeforeIt) {
    const std::string checked = name + "_chk";
    db->exec("DROP TABLE IF EXISTS " + checked);
    db->exec("CREATE TABLE " + checked + " (id INTEGER PRIMARY KEY, ort VARCHAR(20) CHECK (ort <> 'Verboten'))");
    db->exec("INSERT INTO " + checked + " VALUES (1, 'alt'), (2, 'alt'), (3, 'alt'), (4, 'alt')");
    Table t(session);
    t.setDatabaseName("SRV");
    t.setTableName(checked);
    t.open();
    std::string error;
    try {
        for (t.first(); !t.eof(); t.next()) {
            t.edit();
            t.fieldByName("ort").setAsString(t.fieldByName("id").asInteger() == 2 ? "Verboten" : "neu");
            t.post();
        }
        t.flush();
    } catch (const EngineError& e) {
        error = e.what();
    }
    EXPECT_FALSE(error.empty()) << "the refusal was not reported";
    if (GetParam() == Server::Postgres) {
        EXPECT_NE(error.find("id = 2"), std::string::npos) << error;
    }
    t.flush(); // the end of a run that failed
    t.close();
    EXPECT_EQ(db->column("SELECT ort FROM " + checked + " ORDER BY id"),
              (std::vector<std::string>{"neu", "alt", "alt", "alt"}))
        << "the change before the refused one is kept, none after it";
    db->exec("DROP TABLE " + checked);
}

// A table being filled (a Create Table or CSV import target) takes its records without
// reading their keys back, and a server may take them ahead: they read back as given, and
// a duplicate key ends the filling by the flush at the latest, with the records before it
// made and none after it.
TEST_P(SqlTables, AFilledTableTakesItsRecordsAndStopsAtADuplicateKey) {
    for (const bool duplicate : {false, true}) {
        SCOPED_TRACE(duplicate ? "a duplicate key at the 2991st record" : "no duplicate");
        db->exec("DELETE FROM " + name + " WHERE id >= 10");
        auto t = open(session);
        t->setFilling(true);
        std::optional<ErrorKind> failed;
        try {
            // More records than a server takes ahead in one go.
            for (int id = 10; id < 5010; ++id) {
                t->insert();
                t->fieldByName("id").setAsInteger(duplicate && id == 3000 ? 3 : id);
                t->fieldByName("name").setAsString("n" + std::to_string(id));
                t->post();
            }
            t->flush();
        } catch (const EngineError& e) {
            failed = e.kind();
            t->cancel();
        }
        t->setFilling(false);
        t->flush();
        t->close();
        if (duplicate) {
            ASSERT_TRUE(failed.has_value()) << "the duplicate was taken";
            EXPECT_EQ(*failed, ErrorKind::KeyViolation);
            EXPECT_EQ(db->column("SELECT count(*) FROM " + name + " WHERE id >= 10"),
                      std::vector<std::string>{"2990"});
            EXPECT_EQ(db->column("SELECT max(id) FROM " + name), std::vector<std::string>{"2999"});
            continue;
        }
        ASSERT_FALSE(failed.has_value());
        auto back = open(session);
        std::vector<std::string> ids = column(*back, "id"), expected = {"1", "2", "3"};
        for (int id = 10; id < 5010; ++id)
            expected.push_back(std::to_string(id));
        EXPECT_EQ(ids, expected);
        back->last();
        EXPECT_EQ(back->fieldByName("name").asString(), "n5009");
    }
}

// One writer at a time: a second session's change is refused while the first writes, and
// goes through once the first has flushed, on the table as the first left it.
TEST_P(SqlTables, ASecondWriterWaitsForTheFirst) {
    auto first = open(session);
    first->first();
    first->edit();
    first->fieldByName("ort").setAsString("Erster");
    first->post();

    engine::Session otherProgram;
    db->define(otherProgram, "SRV");
    auto second = open(otherProgram);
    second->last();
    try {
        second->edit();
        FAIL() << "a second writer was let in";
    } catch (const EngineError& e) {
        EXPECT_TRUE(e.isDatabaseError()) << e.what();
    }
    first->flush();
    second->edit();
    second->fieldByName("ort").setAsString("Zweiter");
    second->post();
    second->flush();
    EXPECT_EQ(db->column("SELECT ort FROM " + name + " ORDER BY id"),
              (std::vector<std::string>{"Erster", "<null>", "Zweiter"}));
}

TEST_P(SqlTables, ATableWithoutAKeyIsWalkedAndChangedByRowIdentity) {
    const std::string loose = name + "_loose";
    db->exec("DROP TABLE IF EXISTS " + loose);
    db->exec("CREATE TABLE " + loose + " (wert VARCHAR(10))");
    for (const char* v : {"a", "b", "a", "c"}) db->exec("INSERT INTO " + loose + " VALUES ('" + std::string(v) + "')");
    {
        Table t(session);
        t.setDatabaseName("SRV");
        t.setTableName(loose);
        t.open();
        EXPECT_TRUE(t.indexDefs().empty());
        for (t.first(); !t.eof(); t.next()) {
            if (t.fieldByName("wert").asString() != "a") continue;
            t.edit();
            t.fieldByName("wert").setAsString("A");
            t.post();
        }
        t.first();
        t.next(); // b
        t.deleteRecord();
        t.close();
    }
    auto values = db->column("SELECT wert FROM " + loose);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<std::string>{"A", "A", "c"}));
    db->exec("DROP TABLE " + loose);
}

// A key of several columns of different types (a number, a date, a text) is fetched by its
// identities: every row is read and changed, on both servers.
TEST_P(SqlTables, AKeyOfColumnsOfSeveralTypesIsWalkedAndChanged) {
    const std::string lines = name + "_lines";
    db->exec("DROP TABLE IF EXISTS " + lines);
    db->exec("CREATE TABLE " + lines +
             " (nr SMALLINT, tag DATE, code VARCHAR(5), menge INTEGER, "
             "PRIMARY KEY (nr, tag, code))");
    std::string values;
    for (int i = 0; i < 300; ++i)
        values += std::string(i ? ", " : "") + "(" + std::to_string(i % 7) + ", '2024-01-" +
                  (i % 28 < 9 ? "0" : "") + std::to_string(i % 28 + 1) + "', 'c" +
                  std::to_string(i) + "', " + std::to_string(i) + ")";
    db->exec("INSERT INTO " + lines + " VALUES " + values);
    {
        Table t(session);
        t.setDatabaseName("SRV");
        t.setTableName(lines);
        t.open();
        int met = 0;
        for (t.first(); !t.eof(); t.next()) {
            ++met;
            t.edit();
            t.fieldByName("menge").setAsInteger(t.fieldByName("menge").asInteger() + 1000);
            t.post();
        }
        EXPECT_EQ(met, 300);
        t.close();
    }
    EXPECT_EQ(db->column("SELECT COUNT(*) FROM " + lines + " WHERE menge >= 1000"),
              std::vector<std::string>{"300"});
    db->exec("DROP TABLE " + lines);
}

// Views and, on PostgreSQL, indexes have columns in the catalog but no rows of their own:
// opening one is refused in plain words, not with a server error about row ids.
TEST_P(SqlTables, OnlyTablesOpen) {
    db->exec("CREATE VIEW " + name + "_view AS SELECT id, name FROM " + name);
    struct Case {
        std::string table, error;
    } cases[] = {
        {name + "_view", " is a view: only tables can be opened"},
        {name + "_byname", "does not exist"},
    };
    for (const auto& c : cases) {
        Table t(session);
        t.setDatabaseName("SRV");
        t.setTableName(c.table);
        try {
            t.open();
            ADD_FAILURE() << c.table << " opened";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
    db->exec("DROP VIEW " + name + "_view");
}

// A key or indexed column of text without a length (TEXT on both servers) is a string field
// of the longest size: such tables walk, change and find rows in ranges like any other. A
// longer key is an error naming the column, never a cut key that would reach another row.
TEST_P(SqlTables, AKeyOfTextWithoutALengthIsAStringField) {
    const std::string coded = name + "_coded";
    db->exec("DROP TABLE IF EXISTS " + coded);
    db->exec("CREATE TABLE " + coded + " (code TEXT PRIMARY KEY, ort TEXT)");
    db->exec("INSERT INTO " + coded +
             " VALUES ('b-2', 'Hamburg'), ('a-1', 'Hamburg'), ('c-3', 'Bonn')");
    {
        Table t(session);
        t.setDatabaseName("SRV");
        t.setTableName(coded);
        t.open();
        EXPECT_EQ(t.fieldByName("code").type(), FieldType::ftString);
        EXPECT_EQ(t.fieldByName("code").size(), 255);
        EXPECT_EQ(t.fieldByName("ort").type(), FieldType::ftMemo) << "only the key needs a size";
        EXPECT_EQ(column(t, "code"), (std::vector<std::string>{"a-1", "b-2", "c-3"}));
        for (t.first(); !t.eof(); t.next()) {
            if (t.fieldByName("ort").asString() != "Hamburg") continue;
            t.edit();
            t.fieldByName("ort").setAsString("Hamborg");
            t.post();
        }
        t.first();
        t.edit();
        t.fieldByName("code").setAsString("z-9");
        t.post();
        t.close();
    }
    EXPECT_EQ(db->query("SELECT code, ort FROM " + coded + " ORDER BY code"),
              (std::vector<std::vector<std::string>>{
                  {"b-2", "Hamborg"}, {"c-3", "Bonn"}, {"z-9", "Hamborg"}}));

    // Indexed, the other text column is a string field too, and a range on it finds its rows.
    db->exec("CREATE INDEX " + coded + "_byort ON " + coded + " (ort)");
    {
        Table t(session);
        t.setDatabaseName("SRV");
        t.setTableName(coded);
        t.setIndexFieldNames("ort");
        t.open();
        EXPECT_EQ(t.fieldByName("ort").type(), FieldType::ftString);
        t.setRange({"Hamborg"}, {"Hamborg"});
        EXPECT_EQ(column(t, "code"), (std::vector<std::string>{"b-2", "z-9"}));
    }

    db->exec("INSERT INTO " + coded + " VALUES ('" + std::string(256, 'k') + "', 'lang')");
    Table t(session);
    t.setDatabaseName("SRV");
    t.setTableName(coded);
    try {
        t.open();
        for (t.first(); !t.eof(); t.next()) {
        }
        ADD_FAILURE() << "a key of 256 characters was read";
    } catch (const EngineError& e) {
        EXPECT_NE(
            std::string(e.what()).find("its column code holds a value longer than 255 characters"),
            std::string::npos)
            << e.what();
    }
    db->exec("DROP TABLE " + coded);
}

// A walk learns the rows a batch at a time. Over several batches, deleting rows and moving
// keys past the rows fetched so far, it meets every row once and counts them right; a jump
// to the last record and back still finds its way.
TEST_P(SqlTables, ALongWalkThatDeletesAndMovesKeysMeetsEachRowOnce) {
    const std::string big = name + "_big";
    const int rows = 5000;
    db->exec("DROP TABLE IF EXISTS " + big);
    db->exec("CREATE TABLE " + big + " (nr INTEGER PRIMARY KEY, wert VARCHAR(10))");
    std::string values;
    for (int i = 1; i <= rows; ++i)
        values += (i > 1 ? ", (" : "(") + std::to_string(i * 2) + ", 'w" + std::to_string(i) + "')";
    db->exec("INSERT INTO " + big + " VALUES " + values);

    Table t(session);
    t.setDatabaseName("SRV");
    t.setTableName(big);
    t.open();
    EXPECT_EQ(t.recordCount(), rows);
    std::set<std::string> seen;
    int moved = 0, deleted = 0, metAgain = 0;
    t.first();
    while (!t.eof()) {
        const std::int64_t nr = t.fieldByName("nr").asInteger();
        if (nr > 2 * rows) { // a moved row, met again in its new place
            ++metAgain;
            t.next();
            continue;
        }
        const std::string wert = t.fieldByName("wert").asString();
        EXPECT_TRUE(seen.insert(wert).second) << wert << " met twice";
        if (nr % 6 == 0) {
            t.deleteRecord(); // on the next record now
            ++deleted;
            continue;
        }
        if (nr % 10 == 0) {
            // The record follows its new key to the end: the walk goes on where it was.
            t.next();
            const std::string following = t.eof() ? std::string() : t.identity();
            if (!t.eof()) t.prior();
            t.edit();
            t.fieldByName("nr").setAsInteger(nr + 100000); // past every row fetched so far
            t.post();
            ++moved;
            if (following.empty()) break;
            ASSERT_TRUE(t.gotoIdentity(following));
            continue;
        }
        t.next();
    }
    EXPECT_EQ(static_cast<int>(seen.size()), rows) << "every row once";
    EXPECT_EQ(metAgain, moved) << "in its new place, once";
    EXPECT_EQ(t.recordCount(), rows - deleted);
    t.last();
    EXPECT_GT(t.fieldByName("nr").asInteger(), 100000);
    t.first();
    EXPECT_EQ(t.fieldByName("nr").asInteger(), 2);
    t.close();
    EXPECT_EQ(db->column("SELECT count(*) FROM " + big), std::vector<std::string>{std::to_string(rows - deleted)});
    EXPECT_EQ(db->column("SELECT count(*) FROM " + big + " WHERE nr > 100000"),
              std::vector<std::string>{std::to_string(moved)});
    db->exec("DROP TABLE " + big);
}

TEST_P(SqlTables, TablesAndIndexesAreMadeAndDropped) {
    const std::string made = name + "_made";
    const std::string other = name + "_other";
    Table t(session);
    t.setDatabaseName("SRV");
    t.setTableName(made);
    t.fieldDefs() = {{"NR", FieldType::ftInteger, 0, true},
                     {"BEZ", FieldType::ftString, 30, false},
                     {"TEXT", FieldType::ftMemo, 10, false},
                     {"WANN", FieldType::ftDateTime, 0, false}};
    t.indexDefs() = {{"", "NR", engine::ixPrimary}, {"BEZ", "BEZ", 0}};
    t.createTable();
    // Index names belong to their table, although the servers keep one name space for all.
    Table second(session);
    second.setDatabaseName("SRV");
    second.setTableName(other);
    second.fieldDefs() = {{"BEZ", FieldType::ftString, 30, false}};
    second.indexDefs() = {{"BEZ", "BEZ", 0}};
    second.createTable();
    second.updateIndexDefs();
    ASSERT_EQ(second.indexDefs().size(), 1u);
    EXPECT_EQ(second.indexDefs()[0].name, "BEZ");
    db->exec("DROP TABLE " + other);

    t.open();
    t.insert();
    t.fieldByName("NR").setAsInteger(1);
    t.fieldByName("BEZ").setAsString("Schraube");
    t.fieldByName("WANN").setAsString("2026-12-10 08:15:00");
    t.post();
    t.close();
    EXPECT_EQ(db->column("SELECT \"BEZ\" FROM " + made), std::vector<std::string>{"Schraube"})
        << "names keep their case";
    t.updateIndexDefs();
    ASSERT_EQ(t.indexDefs().size(), 2u);
    EXPECT_EQ(t.indexDefs()[1].name, "BEZ");
    EXPECT_EQ(t.indexDefs()[1].fields, "BEZ");
    t.setExclusive(true);
    t.open();
    t.deleteIndex("BEZ");
    t.close();
    t.setExclusive(false);
    t.updateIndexDefs();
    EXPECT_EQ(t.indexDefs().size(), 1u);
    t.addIndex("BEZ2", "BEZ;NR", engine::ixUnique);
    t.updateIndexDefs();
    ASSERT_EQ(t.indexDefs().size(), 2u);
    EXPECT_EQ(t.indexDefs()[1].name, "BEZ2");
    EXPECT_EQ(t.indexDefs()[1].fields, "BEZ;NR");
    db->exec("DROP TABLE " + made);
}

INSTANTIATE_TEST_SUITE_P(Servers, SqlTables, ::testing::Values(Server::Sqlite, Server::Postgres),
                         [](const auto& info) { return std::string(test::serverName(info.param)); });

// PostgreSQL's own types: a table of given columns and rows, named after this process.
class PostgresTypes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::postgresMissing().empty()) GTEST_SKIP() << test::postgresMissing();
        db = std::make_unique<ServerDatabase>(Server::Postgres);
        db->define(session, "SRV");
    }
    void TearDown() override {
        if (db && !name.empty()) db->exec("DROP TABLE IF EXISTS " + name);
    }
    Table& open(const std::string& stem, const std::string& columns, const std::string& rows) {
        name = stem + "_" + std::to_string(getpid());
        db->exec("DROP TABLE IF EXISTS " + name);
        db->exec("CREATE TABLE " + name + " (" + columns + ")");
        db->exec("INSERT INTO " + name + " VALUES " + rows);
        table = std::make_unique<Table>(session);
        table->setDatabaseName("SRV");
        table->setTableName(name);
        table->open();
        return *table;
    }

    std::unique_ptr<ServerDatabase> db;
    engine::Session session;
    std::string name;
    std::unique_ptr<Table> table;
};

// PostgreSQL writes money in the form of the server's lc_monetary ("$1,234.50"); the
// engine reads and writes it as a number whatever that setting is.
TEST_F(PostgresTypes, MoneyIsANumberWhateverTheServersCurrencyFormat) {
    Table& t =
        open("money", "id INTEGER PRIMARY KEY, betrag MONEY", "(1, 1234.5), (2, -0.01), (3, NULL)");
    EXPECT_EQ(t.fieldByName("betrag").type(), FieldType::ftCurrency);
    std::vector<double> read;
    for (t.first(); !t.eof(); t.next())
        read.push_back(t.fieldByName("betrag").isNull() ? -99 : t.fieldByName("betrag").value().f);
    EXPECT_EQ(read, (std::vector<double>{1234.5, -0.01, -99}));
    t.first();
    t.edit();
    t.fieldByName("betrag").setAsString("99.95");
    t.post();
    t.close();
    EXPECT_EQ(db->column("SELECT betrag::numeric FROM " + name + " WHERE id = 1"),
              std::vector<std::string>{"99.95"});
}

// PostgreSQL text cannot hold a NUL byte, and a text parameter would end at one unnoticed:
// such a value is refused, and the row keeps what it had.
TEST_F(PostgresTypes, ATextWithANulByteIsRefusedNotCut) {
    Table& t = open("notes", "id INTEGER PRIMARY KEY, note TEXT", "(1, 'kept')");
    t.first();
    t.edit();
    t.fieldByName("note").setAsString(std::string("before\0after", 12));
    try {
        t.post();
        t.flush();
        ADD_FAILURE() << "a text with a NUL byte was posted";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::BadValue) << e.what();
    }
    t.cancel();
    t.close();
    EXPECT_EQ(db->column("SELECT note FROM " + name), std::vector<std::string>{"kept"});
}

} // namespace

// A SQLite database keeps the journal it has. While the program has it open it writes with
// a write-ahead log, which lets another table on the database read beside a run; the last
// table to close gives the database its journal back, so that the file stays as other
// programs left it (in WAL mode it could not be read from a read-only medium).
TEST(SqliteJournal, TheProgramWritesWithAWriteAheadLogAndGivesTheJournalBack) {
    test::TempDir dir;
    const std::string file = (dir.path() / "shop.sqlite").string();
    // As another program sees the file; it leaves the database alone in between, as a
    // connection of its own would hold a WAL database in that mode.
    auto journal = [&] {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr);
        std::string mode = sqlite3_step(st) == SQLITE_ROW
                               ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0))
                               : "";
        sqlite3_finalize(st);
        sqlite3_close(db);
        return mode;
    };
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db,
                     "CREATE TABLE kunden (id INTEGER PRIMARY KEY, ort VARCHAR(20));"
                     "INSERT INTO kunden VALUES (1, 'Bonn'), (2, 'Celle')",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    engine::Session session;
    session.addAlias("SHOP", {{"TYPE", "SQLITE"}, {"SERVER NAME", file}});
    auto open = [&] {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("SHOP");
        t->setTableName("kunden");
        t->open();
        return t;
    };
    for (int round = 0; round < 2; ++round) {
        auto reader = open();
        EXPECT_EQ(reader->recordCount(), 2);
        auto writer = open();
        writer->edit();
        writer->fieldByName("ort").setAsString(round ? "Celle" : "Aachen");
        writer->post();
        EXPECT_EQ(journal(), "wal") << round;
        reader->close();
        reader->open();
        EXPECT_EQ(reader->fieldByName("ort").asString(), round ? "Aachen" : "Bonn")
            << "read beside the writing, round " << round;
        reader->close();
        writer->close();
        EXPECT_EQ(journal(), "delete") << "the journal the database had, round " << round;
    }
}
