// Add Primary and the counter tables: new key numbers written between index removal and
// restore, running or drawn from a counter table held exclusively.
#include "ops/AddPrimary.h"
#include "ops/CounterTables.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/SqlServers.h"
#include "support/TempDir.h"
#include "tables/IndexRestore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;

namespace {

class AddPrimary : public ::testing::Test {
protected:
    AddPrimary() {
        session.addStandardAlias("WORK", work.path());
        session.addStandardAlias("KESTREL", kestrel.path());
        auto& in = inputs.Seite5;
        in.AliasBox = "WORK";
        in.TabellenBox = "ITEMS";
        in.FeldBox = "NR";
    }

    // ITEMS: NR alpha (the target), GROUP alpha; values given per record.
    void makeItems(const std::vector<std::pair<std::string, std::string>>& rows, bool indexed = false) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("ITEMS");
        t.fieldDefs() = {{"POS", FieldType::ftInteger, 0, indexed},
                         {"NR", FieldType::ftString, 12},
                         {"GRP", FieldType::ftString, 5}};
        if (indexed) t.indexDefs() = {{"", "POS", engine::ixPrimary}};
        t.createTable();
        t.open();
        int pos = 1;
        for (const auto& [nr, grp] : rows) {
            t.insert();
            t.fieldByName("POS").setAsInteger(pos++);
            t.fieldByName("NR").setAsString(nr);
            t.fieldByName("GRP").setAsString(grp);
            t.post();
        }
        t.close();
        if (indexed) t.addIndex("ByGroup", "GRP", 0);
    }

    void makeCounter(const std::string& key, std::int64_t value) {
        const auto names = ops::counterNamesFor(key);
        engine::Table t(session);
        t.setDatabaseName("KESTREL");
        t.setTableName(names.table);
        t.fieldDefs() = {{names.field, FieldType::ftInteger, 0, false}};
        t.createTable();
        t.open();
        t.insert();
        t.fieldByName(names.field).setAsInteger(value);
        t.post();
    }

    std::int64_t counter(const std::string& key) {
        const auto names = ops::counterNamesFor(key);
        engine::Table t(session);
        t.setDatabaseName("KESTREL");
        t.setTableName(names.table);
        t.open();
        return t.fieldByName(names.field).asInteger();
    }

    std::vector<std::string> column(const std::string& field) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("ITEMS");
        t.open();
        std::vector<std::string> out;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next()) out.push_back(t.fieldByName(field).asString());
        return out;
    }

    void run() {
        run::RunContext ctx{host, session, inputs, shared};
        ops::ProcessAddPrimary(ctx);
    }

    // Another process that holds a table open (shared) until it is killed; returns its pid
    // once the table is open, or -1.
    pid_t holdOpenInChild(const std::string& alias, const std::string& table) {
        int ready[2];
        if (pipe(ready) != 0) return -1;
        const pid_t child = fork();
        if (child == 0) {
            engine::Table t(session);
            t.setDatabaseName(alias);
            t.setTableName(table);
            t.open();
            char c = 'r';
            (void)!write(ready[1], &c, 1);
            pause();
            _exit(0);
        }
        char c;
        if (child < 0 || read(ready[0], &c, 1) != 1) return -1;
        return child;
    }

    TempDir work, kestrel;
    TempDir config; //!< where a server table's index lists go
    engine::Session session{config.path()};
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
};

TEST_F(AddPrimary, DefaultsNumberEmptyTargetsFrom50001) {
    makeItems({{"", "A"}, {"", "A"}, {"", "B"}});
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"50001", "50002", "50003"}));
    EXPECT_EQ(inputs.Seite5.NumberEdit, "50003");
    EXPECT_EQ(host.panels[2], "0 records updated; - 3 values assigned to empty records!");
    EXPECT_EQ(host.panels[1], "3 records of 3 processed");
    EXPECT_EQ(host.textsOf(run::MessageKind::Information), (std::vector<std::string>{"Complete!\r3 Records of 3 processed"}));
    EXPECT_TRUE(host.idle);
    EXPECT_FALSE(host.waitCursor);
}

TEST_F(AddPrimary, PrefixOnlyEmptyTargetsAndStartRecord) {
    makeItems({{"", "A"}, {"keep", "A"}, {"", "B"}, {"", "B"}});
    inputs.Seite5.AddPrimUsePrefixCheck = true;
    inputs.Seite5.AddPrimPrefixEdit = "K-";
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"K-50001", "keep", "K-50003", "K-50004"}))
        << "a filled target is skipped but uses up a number";

    makeItems(std::vector<std::pair<std::string, std::string>>(10, {"", "A"}));
    inputs.Seite5.AddPrimUsePrefixCheck = false;
    inputs.Seite5.NumberEdit = "50000";
    inputs.Seite5.AddPrimStartRecordEdit = "3";
    host = {};
    run();
    const auto nr = column("NR");
    EXPECT_EQ(nr[0], "");
    EXPECT_EQ(nr[1], "");
    EXPECT_EQ(nr[2], "50001");
    EXPECT_EQ(nr[9], "50008");
    EXPECT_EQ(host.textsOf(run::MessageKind::Information).back(), "Complete!\r8 Records of 10 processed");
}

TEST_F(AddPrimary, NewNumberOnlyWhenTheChangeFieldChanges) {
    makeItems({{"", "A"}, {"", "A"}, {"", "B"}, {"", "B"}, {"", "C"}});
    inputs.Seite5.ChangeOnFeldChangeCheck = true;
    inputs.Seite5.ChangeOnFeldBox = "GRP";
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"50001", "50001", "50002", "50002", "50003"}));

    // An empty change field at the first record takes no number: the question comes.
    makeItems({{"", ""}, {"", "A"}});
    host = {};
    host.answers = {true};
    run();
    EXPECT_EQ(host.textsOf(run::MessageKind::Confirmation), (std::vector<std::string>{"Field not updated!\rStop Process?"}));
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(host.textsOf(run::MessageKind::Information).back(), "Complete!\r0 Records of 2 processed");
}

TEST_F(AddPrimary, NoToStopProcessGoesOnWithTheNextRecord) {
    makeItems({{"", ""}, {"", "A"}, {"", "A"}});
    inputs.Seite5.ChangeOnFeldChangeCheck = true;
    inputs.Seite5.ChangeOnFeldBox = "GRP";
    host.answers = {false};
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"", "50001", "50001"}));
    EXPECT_EQ(host.textsOf(run::MessageKind::Information).back(), "Complete!\r3 Records of 3 processed");
    EXPECT_EQ(host.panels[1], "3 records of 3 processed");
}

TEST_F(AddPrimary, StartRecordBelowOneBecomesOne) {
    for (const char* start : {"0", "-5"}) {
        SCOPED_TRACE(start);
        makeItems({{"", "A"}, {"", "B"}});
        inputs.Seite5.AddPrimStartRecordEdit = start;
        inputs.Seite5.NumberEdit = "50000";
        host = {};
        run();
        EXPECT_EQ(inputs.Seite5.AddPrimStartRecordEdit, "1");
        EXPECT_NE(std::find(host.events.begin(), host.events.end(), "input(AddPrimStartRecordEdit)"),
                  host.events.end());
        EXPECT_EQ(column("NR"), (std::vector<std::string>{"50001", "50002"}));
    }
}

// A run whose numbers would not fit the target field is refused before anything changes.
TEST_F(AddPrimary, NumbersPastTheFieldsLargestValueAreRefusedBeforeAnythingChanges) {
    struct Case {
        const char* what;
        std::function<void(run::Seite5Inputs&)> set;
        bool refused;
    } cases[] = {
        // NR holds 12 characters; a prefix of 7 leaves 5 digits.
        {"five digits fit", [](auto& in) {
             in.NumberEdit = "99996";
             in.AddPrimUsePrefixCheck = true;
             in.AddPrimPrefixEdit = "ABCDEFG";
         }, false},
        {"the third number needs six digits", [](auto& in) {
             in.NumberEdit = "99997";
             in.AddPrimUsePrefixCheck = true;
             in.AddPrimPrefixEdit = "ABCDEFG";
         }, true},
        {"the number box holds 32 bits", [](auto& in) { in.NumberEdit = "2147483646"; }, true},
        {"from record 3 one number is needed", [](auto& in) {
             in.NumberEdit = "2147483646";
             in.AddPrimStartRecordEdit = "3";
         }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeItems({{"", "A"}, {"", "B"}, {"", "C"}}, true);
        std::filesystem::remove(work / "ITEMS.DB.Index.txt");
        inputs.Seite5 = {};
        inputs.Seite5.AliasBox = "WORK";
        inputs.Seite5.TabellenBox = "ITEMS";
        inputs.Seite5.FeldBox = "NR";
        c.set(inputs.Seite5);
        host = {};
        run();
        const auto errors = host.textsOf(run::MessageKind::Error);
        if (!c.refused) {
            EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
            continue;
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find("holds at most"), std::string::npos) << errors[0];
        EXPECT_TRUE(host.idle);
        EXPECT_EQ(std::find(host.events.begin(), host.events.end(), "UpdateAnsicht(false)"), host.events.end())
            << "refused before the run began";
        EXPECT_EQ(column("NR"), (std::vector<std::string>{"", "", ""}));
        EXPECT_FALSE(std::filesystem::exists(work / "ITEMS.DB.Index.txt")) << "no index was dropped";
    }
}

// Shared numbers in a key field cannot become a primary index again: the other indexes are
// still rebuilt, the list stays, and the message says which index failed and why.
TEST_F(AddPrimary, AnIndexThatCannotBeRestoredCostsNotTheOthers) {
    makeItems({{"", "A"}, {"", "A"}, {"", "B"}}, true);
    inputs.Seite5.FeldBox = "POS";
    inputs.Seite5.LeerFeldCheck = false;
    inputs.Seite5.ChangeOnFeldChangeCheck = true;
    inputs.Seite5.ChangeOnFeldBox = "GRP";
    try {
        run();
        FAIL() << "the failed restore was not reported";
    } catch (const engine::EngineError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("the primary index on POS"), std::string::npos) << m;
        EXPECT_NE(m.find("Key violation"), std::string::npos) << m;
        EXPECT_NE(m.find("ITEMS.DB.Index.txt"), std::string::npos) << m;
    }
    EXPECT_EQ(column("POS"), (std::vector<std::string>{"50001", "50001", "50002"}));
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("ITEMS");
    t.updateIndexDefs();
    ASSERT_EQ(t.indexDefs().size(), 1u);
    EXPECT_EQ(t.indexDefs()[0].name, "_GRP") << "the secondary index came back";
    EXPECT_TRUE(std::filesystem::exists(work / "ITEMS.DB.Index.txt"));
}

TEST_F(AddPrimary, ChecksInTheirOrder) {
    struct Case {
        std::function<void(run::Seite5Inputs&)> change;
        std::string message;
    } cases[] = {
        {[](auto& in) { in.AliasBox.clear(); }, "ALIAS must be specified!"},
        {[](auto& in) { in.TabellenBox.clear(); }, "Table must be specified!"},
        {[](auto& in) { in.FeldBox.clear(); }, "Target field must be specified!"},
        {[](auto& in) { in.useNumberRadio = false; in.getPrimRadio = true; }, "Primary field must be specified!"},
        {[](auto& in) { in.NumberEdit.clear(); }, "Primary field START-VALUE must be specified!"},
        {[](auto& in) { in.NumberEdit = "5x"; }, "START-VALUE must be a NUMBER!"},
        {[](auto& in) { in.ChangeOnFeldChangeCheck = true; }, "Change value-in-field must be specified!"},
        {[](auto& in) { in.AddPrimUsePrefixCheck = true; }, "no prefix specified! Unselect option or specify prefix"},
        {[](auto& in) { in.AddPrimStartRecordEdit = "one"; }, "START with record-VALUE must be a NUMBER!"},
    };
    for (const auto& c : cases) {
        inputs = {};
        inputs.Seite5.AliasBox = "WORK";
        inputs.Seite5.TabellenBox = "ITEMS";
        inputs.Seite5.FeldBox = "NR";
        c.change(inputs.Seite5);
        host = {};
        run();
        EXPECT_EQ(host.textsOf(run::MessageKind::Error), (std::vector<std::string>{c.message}));
        EXPECT_TRUE(std::find(host.events.begin(), host.events.end(), "UpdateAnsicht(false)") == host.events.end())
            << c.message << ": nothing else happens";
    }
}

TEST_F(AddPrimary, IndexesAreGoneDuringTheWalkAndRebuiltAfter) {
    makeItems({{"", "B"}, {"", "A"}, {"", "C"}}, true);
    int indexFilesDuringWalk = -1;
    host.onPendingMessages = [&](run::TestHost&, int breather) {
        // The first breather is the removal's own; the second follows the first record.
        if (breather != 2) return;
        indexFilesDuringWalk = 0;
        for (const auto& e : std::filesystem::directory_iterator(work.path())) {
            const std::string ext = e.path().extension().string();
            if (ext == ".PX" || ext.rfind(".XG", 0) == 0 || ext.rfind(".YG", 0) == 0) ++indexFilesDuringWalk;

        }
    };
    run();
    EXPECT_EQ(indexFilesDuringWalk, 0);
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("ITEMS");
    t.updateIndexDefs();
    ASSERT_EQ(t.indexDefs().size(), 2u);
    EXPECT_TRUE(t.indexDefs()[0].isPrimary());
    EXPECT_EQ(t.indexDefs()[1].name, "_GRP");
}

// SQLite cannot drop a key (an INTEGER PRIMARY KEY is the row id). Writing new numbers into
// that key in key order would move each record past the others, and the walk would end
// after the first: the run is refused before anything changes, its other indexes back.
TEST_F(AddPrimary, AKeyThatCannotBeDroppedStopsTheRunBeforeAnythingChanges) {
    const auto file = (work.path() / "shop.sqlite").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "CREATE TABLE items (id INTEGER PRIMARY KEY, grp TEXT);"
                 "INSERT INTO items VALUES (1, 'a'), (2, 'b'), (3, 'c');"
                 "CREATE INDEX items_bygrp ON items (grp);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    session.addAlias("SHOP", {{"TYPE", "SQLITE"}, {"SERVER NAME", file}});
    inputs.Seite5.AliasBox = "SHOP";
    inputs.Seite5.TabellenBox = "items";
    inputs.Seite5.FeldBox = "id";
    inputs.Seite5.LeerFeldCheck = false;
    inputs.Seite5.NumberEdit = "100";
    try {
        run();
        ADD_FAILURE() << "the run went on with the key in place";
    } catch (const engine::EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot drop the primary key"), std::string::npos)
            << e.what();
    }
    engine::Table t(session);
    t.setDatabaseName("SHOP");
    t.setTableName("items");
    t.open();
    std::vector<std::string> ids;
    for (t.first(); !t.eof(); t.next())
        ids.push_back(t.fieldByName("id").asString());
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3"}));
    ASSERT_EQ(t.indexDefs().size(), 2u) << "the index on grp is back";
    EXPECT_EQ(t.indexDefs()[1].fields, "grp");
    EXPECT_TRUE(host.idle);
}

// On a server the secondary indexes come back by the server's own statements: a unique
// index stays unique, a descending one descending, a partial one partial, an index on an
// expression keeps its expression, and each keeps its name.
TEST(AddPrimaryOnServers, IndexesComeBackExactlyAsTheyWere) {
    for (const test::Server server : {test::Server::Sqlite, test::Server::Postgres}) {
        if (server == test::Server::Postgres && !test::postgresMissing().empty())
            GTEST_SKIP() << test::postgresMissing() << " (SQLite was checked)";
        SCOPED_TRACE(test::serverName(server));
        TempDir config;
        engine::Session session(config.path());
        test::ServerDatabase db(server);
        db.define(session, "SRV");
        const std::string t = "numbered_" + std::to_string(getpid());
        db.exec("DROP TABLE IF EXISTS " + t);
        db.exec("CREATE TABLE " + t + " (nr INTEGER, email VARCHAR(40), name VARCHAR(20))");
        db.exec("INSERT INTO " + t + " VALUES (NULL, 'a@x', 'Adler'), (NULL, 'b@x', 'Berg')");
        db.exec("CREATE UNIQUE INDEX " + t + "_email ON " + t + " (email)");
        db.exec("CREATE INDEX " + t + "_desc ON " + t + " (name DESC)");
        db.exec("CREATE INDEX " + t + "_part ON " + t + " (email) WHERE nr IS NULL");
        db.exec("CREATE INDEX " + t + "_lower ON " + t + " (lower(name))");
        const std::string indexes =
            server == test::Server::Sqlite
                ? "SELECT name, sql FROM sqlite_schema WHERE type = 'index' AND tbl_name = '" + t +
                      "' ORDER BY name"
                : "SELECT indexname, indexdef FROM pg_indexes WHERE tablename = '" + t +
                      "' ORDER BY indexname";
        const auto before = db.query(indexes);
        ASSERT_EQ(before.size(), 4u);

        run::TestHost host;
        run::PageInputs inputs;
        run::SharedState shared{session};
        auto& in = inputs.Seite5;
        in.AliasBox = "SRV";
        in.TabellenBox = t;
        in.FeldBox = "nr";
        in.LeerFeldCheck = false;
        in.NumberEdit = "10";
        run::RunContext ctx{host, session, inputs, shared};
        ops::ProcessAddPrimary(ctx);
        EXPECT_EQ(host.textsOf(run::MessageKind::Error), std::vector<std::string>{});
        EXPECT_EQ(db.query("SELECT nr FROM " + t + " ORDER BY nr"),
                  (std::vector<std::vector<std::string>>{{"11"}, {"12"}}));
        EXPECT_EQ(db.query(indexes), before);

        // A run that ends between the removal and the restore (the program killed while
        // its completion message is open) leaves the indexes gone. The next run, on a
        // table that has got another index since, makes them again with its own.
        tables::DeleteAllIndexes(host, session, "SRV", t);
        ASSERT_TRUE(db.query(indexes).size() < before.size());
        db.exec("CREATE INDEX " + t + "_name ON " + t + " (name)");
        in.NumberEdit = "20";
        ops::ProcessAddPrimary(ctx);
        EXPECT_EQ(host.textsOf(run::MessageKind::Error), std::vector<std::string>{});
        const auto after = db.query(indexes);
        EXPECT_EQ(after.size(), before.size() + 1);
        for (const auto& index : before)
            EXPECT_NE(std::find(after.begin(), after.end(), index), after.end()) << index.at(0);
        db.exec("DROP TABLE " + t);
    }
}

TEST_F(AddPrimary, CounterTableHandsOutEachNumberOnce) {
    makeCounter("TAVO", 4711);
    makeItems({{"", "A"}, {"", "A"}, {"", "A"}});
    inputs.Seite5.useNumberRadio = false;
    inputs.Seite5.getPrimRadio = true;
    inputs.Seite5.PrimaryBox = "TAVO";
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"4712", "4713", "4714"}));
    EXPECT_EQ(counter("TAVO"), 4714);
    // Aborted after the first record of a second run: the counter keeps what it handed out.
    makeItems({{"", "A"}, {"", "A"}, {"", "A"}});
    host = {};
    host.cancelAtRecord = 1;
    host.answers = {true};
    run();
    EXPECT_EQ(column("NR"), (std::vector<std::string>{"4715", "", ""}));
    EXPECT_EQ(counter("TAVO"), 4715);
    EXPECT_EQ(host.textsOf(run::MessageKind::Information).back(), "Complete!\r1 Records of 3 processed");
}

TEST_F(AddPrimary, CounterNamesIncludingTheIrregularOnes) {
    struct Case {
        const char* key;
        const char* table;
        const char* field;
    } cases[] = {{"QZ", "QZMAX.DB", "QZNRMAX"}, {"NUBE", "NUBEMAX.DB", "ID"}, {"JEK", "JEKMAX.DB", "JEKMAX"},
                 {"TAVO", "TAVOMAX.DB", "TAVO"}, {"FASO", "FASOMAX.DB", "FASOMAX"}, {"HUX", "HUXMAX.DB", "HUX"}};
    for (const auto& c : cases) {
        const auto n = ops::counterNamesFor(c.key);
        EXPECT_EQ(n.table, c.table);
        EXPECT_EQ(n.field, c.field) << c.key;
    }
    EXPECT_EQ(ops::keyNames().size(), 16u);
}

TEST_F(AddPrimary, CounterTableHeldByAnotherProcessAsksAgainAndCancelEndsTheRun) {
    makeCounter("QZ", 10);
    makeItems({{"", "A"}});
    inputs.Seite5.useNumberRadio = false;
    inputs.Seite5.getPrimRadio = true;
    inputs.Seite5.PrimaryBox = "QZ";
    const pid_t child = holdOpenInChild("KESTREL", "QZMAX.DB");
    ASSERT_GT(child, 0);
    host.answers = {true, false};
    EXPECT_THROW(run(), engine::EngineError);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(host.textsOf(run::MessageKind::Retry),
              (std::vector<std::string>(2, "Cannot open \"QZMAX.DB\" exclusive - OK to try again?")));
    EXPECT_EQ(host.textsOf(run::MessageKind::Information), (std::vector<std::string>{"Complete!\r0 Records of 0 processed"}));
    EXPECT_TRUE(host.idle);
    EXPECT_EQ(column("NR"), (std::vector<std::string>{""}));
    EXPECT_EQ(counter("QZ"), 10);
}

TEST_F(AddPrimary, LeftOverIndexListIsRestoredAfterAFailureBeforeTheRemoval) {
    makeItems({{"", "A"}}, true);
    { std::ofstream(work / "ITEMS.DB.Index.txt", std::ios::binary) << "POS*\r\nGRP\r\n"; }
    inputs.Seite5.useNumberRadio = false;
    inputs.Seite5.getPrimRadio = true;
    inputs.Seite5.PrimaryBox = "JEK"; // no counter table in KESTREL
    host.answers = {false};
    try {
        run();
        FAIL() << "the run went on without its counter table";
    } catch (const engine::EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("JEKMAX.DB"), std::string::npos) << "the first error is reported: " << e.what();
    }
    EXPECT_EQ(host.textsOf(run::MessageKind::Information), (std::vector<std::string>{"Complete!\r0 Records of 0 processed"}));
    // The restore ran from the old list and left the indexes the table still had alone.
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("ITEMS");
    t.updateIndexDefs();
    EXPECT_EQ(t.indexDefs().size(), 2u);
    EXPECT_EQ(t.indexDefs()[1].name, "ByGroup");
    EXPECT_TRUE(session.passwords().empty()) << "the restore removed the passwords";
}

TEST_F(AddPrimary, TargetTableHeldByAnotherProcessAsksAgainAndCancelEndsTheRun) {
    makeItems({{"", "A"}}, true);
    const pid_t child = holdOpenInChild("WORK", "ITEMS");
    ASSERT_GT(child, 0);
    host.answers = {false};
    EXPECT_THROW(run(), engine::EngineError);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(host.textsOf(run::MessageKind::Retry),
              (std::vector<std::string>{"Table ITEMS.DB\" cannot be opened exclusively - OK to try again?"}));
    EXPECT_EQ(host.textsOf(run::MessageKind::Information), (std::vector<std::string>{"Complete!\r0 Records of 0 processed"}));
    EXPECT_TRUE(host.idle);
    EXPECT_FALSE(std::filesystem::exists(work / "ITEMS.DB.Index.txt")) << "nothing was recorded or dropped";
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("ITEMS");
    t.updateIndexDefs();
    EXPECT_EQ(t.indexDefs().size(), 2u);
}

} // namespace
