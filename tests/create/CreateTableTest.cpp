// Create Table into the table engine: what the new table gets, the progress and messages,
// the question before an older table is replaced, and the failures.
#include "CreateTestSupport.h"

#include "create/CreateTable.h"
#include "engine/EngineError.h"
#include "engine/Table.h"

#include <csignal>
#include <fstream>
#include <sqlite3.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fieldsmith::createtest {
namespace {

namespace fsys = std::filesystem;
using engine::FieldDef;
using engine::FieldType;
using engine::IndexDef;

const std::vector<FieldDef> kOrderFields = {
    {"ORDERNO", FieldType::ftInteger, 0, true},
    {"CUSTOMER", FieldType::ftString, 20, false},
    {"SALEDATE", FieldType::ftDate, 0, false},
    {"NOTES", FieldType::ftMemo, 20, false},
};
const Records kOrderRecords = {
    {"1", "Miller", "2024-01-31", "first"},
    {"2", "Smith", "", "a longer memo that goes beyond its leader in the record"},
    {"3", "Zoe", "1999-12-31", ""},
    {"4", "Adams", "2000-02-29", "four"},
    {"5", "Baker", "2024-06-01", "five"},
};
const std::vector<IndexDef> kOrderIndexes = {
    {"", "ORDERNO", engine::ixPrimary | engine::ixUnique},
    {"BYCUSTOMER", "CUSTOMER", engine::ixCaseInsensitive},
};

class CreateTable : public CreateRun {
protected:
    void makeOrders(const Records& records = kOrderRecords) {
        makeTable(session, src() / "ORDERS.DB", kOrderFields, records, kOrderIndexes);
    }
};

TEST_F(CreateTable, NewTableGetsFieldsIndexesAndRecordsAsAsked) {
    struct Case {
        const char* what;
        std::string newName;
        bool indexes, records;
        fsys::path file;
        std::size_t indexCount;
    } cases[] = {
        {"name without extension: Paradox, all", "NEWORDERS", true, true, "NEWORDERS.DB", 2},
        {"Paradox with .DB, structure only", "COPY.DB", false, false, "COPY.DB", 0},
        {"Paradox with indexes, no records", "IDX.db", true, false, "IDX.db", 2},
        {"dBase with records, no indexes", "ORDERS.DBF", false, true, "ORDERS.DBF", 0},
        {"dBase with indexes: the key becomes a unique tag", "IX.DBF", true, true, "IX.DBF", 2},
    };
    makeOrders();
    for (const Case& c : cases) {
        host = {};
        aim("ORDERS", c.newName);
        inputs.CreateTableSeite.IndexesCheck = c.indexes;
        inputs.CreateTableSeite.CopyAllRecsCheck = c.records;
        run();
        EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"}) << c.what;
        EXPECT_TRUE(errors().empty()) << c.what;
        const TableContent t = readTable(session, dst() / c.file);
        ASSERT_EQ(t.fields.size(), kOrderFields.size()) << c.what;
        for (std::size_t i = 0; i < t.fields.size(); ++i) {
            EXPECT_TRUE(engine::sameName(t.fields[i].name, kOrderFields[i].name)) << c.what;
            if (c.file.extension() != ".DBF") {
                EXPECT_EQ(t.fields[i].type, kOrderFields[i].type) << c.what << " " << i;
                EXPECT_EQ(t.fields[i].size, kOrderFields[i].size) << c.what << " " << i;
                // A Paradox table's required fields are those of its key.
                EXPECT_EQ(t.fields[i].required, c.indexes && kOrderFields[i].required)
                    << c.what << " " << i;
            }
        }
        EXPECT_EQ(t.indexes.size(), c.indexCount) << c.what;
        if (c.indexCount) {
            const bool dBase = c.file.extension() == ".DBF";
            EXPECT_EQ(t.indexes[0].isPrimary(), !dBase) << c.what;
            EXPECT_TRUE(t.indexes[0].options & engine::ixUnique) << c.what;
            EXPECT_TRUE(engine::sameName(t.indexes[0].fields, "ORDERNO")) << c.what;
            EXPECT_TRUE(engine::sameName(t.indexes[1].fields, "CUSTOMER")) << c.what;
        }
        EXPECT_EQ(t.records, c.records ? kOrderRecords : Records{}) << c.what;
        if (c.records) {
            EXPECT_EQ(host.statusDialogCounts.front(), "0 of 5 records  ") << c.what;
            EXPECT_EQ(host.statusDialogCounts.back(), "5 of 5 records  ") << c.what;
            EXPECT_EQ(host.panels[1], "5 Records of 5 copied") << c.what;
        } else {
            EXPECT_TRUE(host.statusDialogCounts.empty()) << c.what;
        }
        EXPECT_TRUE(host.idle) << c.what;
    }
}

TEST_F(CreateTable, LastCountsAfterAnEmptySourceACancelAndFewProgressTexts) {
    struct Case {
        const char* what;
        Records source;
        int cancelAt;
        std::size_t copied;
        std::string lastCount, panel;
        int progressEvery = 1; //!< 0: a host that wants no texts on the way still gets the last
    } cases[] = {
        {"empty source", {}, 0, 0, "0 of 0 records  ", ""},
        {"cancel after three records", kOrderRecords, 3, 3, "3 of 5 records  ",
         "3 Records of 5 copied"},
        {"cancel after three records, no texts wanted", kOrderRecords, 3, 3, "3 of 5 records  ",
         "3 Records of 5 copied", 0},
        {"all records, no texts wanted", kOrderRecords, 0, 5, "5 of 5 records  ",
         "5 Records of 5 copied", 0},
    };
    for (const Case& c : cases) {
        host = {};
        host.progressEvery = c.progressEvery;
        makeOrders(c.source);
        fsys::remove(dst() / "NEWORDERS.DB");
        aim("ORDERS", "NEWORDERS.DB");
        inputs.CreateTableSeite.CopyAllRecsCheck = true;
        host.statusDialogCancelAt = c.cancelAt;
        // The first breather follows the opening of the dialog; record k ends with k + 1.
        if (c.cancelAt) host.statusDialogCancelAt = c.cancelAt + 1;
        run();
        EXPECT_EQ(readTable(session, dst() / "NEWORDERS.DB").records.size(), c.copied) << c.what;
        EXPECT_EQ(host.statusDialogCounts.back(), c.lastCount) << c.what;
        EXPECT_EQ(host.panels[1], c.panel) << c.what;
        EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"}) << c.what;
        EXPECT_TRUE(questions().empty()) << c.what << ": cancel asks no question";
    }
}

TEST_F(CreateTable, ExistingTargetIsReplacedOnlyAfterYes) {
    for (const bool yes : {false, true}) {
        host = {};
        makeOrders();
        makeTable(session, dst() / "NEWORDERS.DB", {{"OLD", FieldType::ftString, 5, false}},
                  {{"kept"}});
        // A stale secondary index of an older table of that name.
        std::ofstream(dst() / "NEWORDERS.XG9") << "stale";
        std::ofstream(dst() / "NEWORDERS2.PX") << "another table's";
        aim("ORDERS", "NEWORDERS.DB");
        inputs.CreateTableSeite.CopyAllRecsCheck = true;
        host.answers = {yes};
        run();
        ASSERT_EQ(questions(),
                  std::vector<std::string>{"Table " + (dst() / "NEWORDERS.DB").string() +
                                           " exists and will be replaced. Continue?"});
        const TableContent t = readTable(session, dst() / "NEWORDERS.DB");
        if (yes) {
            EXPECT_EQ(t.records, kOrderRecords);
            EXPECT_FALSE(fsys::exists(dst() / "NEWORDERS.XG9"));
            EXPECT_EQ(infos(), std::vector<std::string>{"Table create complete!"});
        } else {
            EXPECT_EQ(t.records, Records{{"kept"}});
            EXPECT_TRUE(fsys::exists(dst() / "NEWORDERS.XG9"));
            EXPECT_TRUE(infos().empty());
        }
        EXPECT_TRUE(fsys::exists(dst() / "NEWORDERS2.PX"));
        EXPECT_TRUE(host.idle);
    }
}

TEST_F(CreateTable, ServerAliasTargetIsReplacedOnlyAfterYes) {
    makeOrders();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "sq.sqlite").c_str(), &db), SQLITE_OK);
    sqlite3_close(db);
    session.addAlias("SQ", {{"TYPE", "SQLITE"}, {"SERVER NAME", (dir / "sq.sqlite").string()}});
    auto records = [&] {
        engine::Table t(session);
        t.setDatabaseName("SQ");
        t.setTableName("NEWORDERS");
        t.open();
        Records r;
        for (t.first(); !t.eof(); t.next())
            r.push_back({t.field(0).asString(), t.field(1).asString()});
        return r;
    };
    for (const bool yes : {true, false, true}) {
        host = {};
        aim("ORDERS", "NEWORDERS", "SQ");
        inputs.CreateTableSeite.CopyAllRecsCheck = yes;
        host.answers = {yes};
        run();
        EXPECT_EQ(infos().size(), yes ? 1u : 0u);
        // Answered No, the table of the first run stays with its records.
        EXPECT_EQ(records().size(), kOrderRecords.size()) << yes;
    }
    EXPECT_EQ(questions(),
              std::vector<std::string>{"Table NEWORDERS exists and will be replaced. Continue?"});
}

TEST_F(CreateTable, NewTableNamesItsOwnSourceIsRefused) {
    makeOrders();
    aim("ORDERS", "ORDERS.DB", "SRC");
    inputs.CreateTableSeite.CopyAllRecsCheck = true;
    EXPECT_THROW(run(), engine::EngineError);
    EXPECT_TRUE(questions().empty());
    EXPECT_EQ(readTable(session, src() / "ORDERS.DB").records, kOrderRecords);
}

TEST_F(CreateTable, FailuresEndTheRunWithoutCompletion) {
    makeOrders();
    makeTable(session, dst() / "OLD.DB", {{"OLD", FieldType::ftString, 5, false}}, {{"kept"}});
    struct Case {
        const char* what;
        std::string source, newName, targetAlias;
        std::vector<std::string> errors; //!< shown before the error that propagates
        bool oldTableKept;
    } cases[] = {
        {"unknown target alias", "ORDERS", "OLD.DB", "NOWHERE", {}, true},
        {"missing source: the older table stays", "MISSING", "OLD.DB", "DST", {}, true},
        {"definition refused: the target directory is gone",
         "ORDERS",
         "NEW.DB",
         "GONE",
         {"Error on Define Table"},
         true},
    };
    session.addStandardAlias("GONE", dir / "gone");
    for (const Case& c : cases) {
        host = {};
        aim(c.source, c.newName, c.targetAlias);
        host.answers = {true};
        EXPECT_ANY_THROW(run()) << c.what;
        EXPECT_EQ(errors(), c.errors) << c.what;
        EXPECT_TRUE(infos().empty()) << c.what;
        EXPECT_TRUE(host.idle) << c.what;
        EXPECT_EQ(readTable(session, dst() / "OLD.DB").records, Records{{"kept"}}) << c.what;
    }
}

// A copy that fills the disk ends with its error, and the count it shows is what the new
// table holds: records the engine had taken but could not write are not counted as copied.
// The disk is a file-size limit on the child that copies.
TEST_F(CreateTable, ACopyThatFillsTheDiskCountsOnlyTheRecordsTheNewTableHolds) {
    Records many;
    for (int i = 1; i <= 40000; ++i)
        many.push_back({std::to_string(i), "Customer " + std::to_string(i)});
    makeTable(session, src() / "MANY.DB",
              {{"NR", FieldType::ftInteger, 0, true}, {"NAME", FieldType::ftString, 40, false}},
              many, {{"", "NR", engine::ixPrimary | engine::ixUnique}});
    aim("MANY", "FULL.DB");
    inputs.CreateTableSeite.IndexesCheck = true;
    inputs.CreateTableSeite.CopyAllRecsCheck = true;
    host.progressEvery = 0;
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(report[0]);
        std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        const rlimit limit{512 * 1024, 512 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string message = "no error";
        try {
            run();
        } catch (const std::exception& e) {
            message = e.what();
        }
        const std::string out = host.panels[1] + "\n" + message + "\n" +
                                (errors().empty() ? std::string() : errors().front());
        (void)!write(report[1], out.data(), out.size());
        _exit(0);
    }
    close(report[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    close(report[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the copy ended by itself, not by a signal";
    std::istringstream lines(out);
    std::string panel, message, error;
    std::getline(lines, panel);
    std::getline(lines, message);
    std::getline(lines, error);
    EXPECT_EQ(error, "Error on copying Table");
    EXPECT_NE(message.find("File too large"), std::string::npos) << message;
    const std::size_t held = readTable(session, dst() / "FULL.DB").records.size();
    EXPECT_GT(held, 0u);
    EXPECT_LT(held, many.size());
    EXPECT_EQ(panel, std::to_string(held) + " Records of 40000 copied");
}

} // namespace
} // namespace fieldsmith::createtest
