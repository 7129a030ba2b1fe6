// The protocol walk over real tables of the engine, and what the pickers ask of the engine.
#include "AppTestSupport.h"
#include "app/run/Pickers.h"
#include "app/run/RunProtocol.h"
#include "app/run/TestHost.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

namespace fieldsmith::run {
namespace {

using apptest::column;
using apptest::makeTable;

class TableWalk : public ::testing::Test {
protected:
    TableWalk() {
        session.addStandardAlias("WORK", dir.path());
        makeTable(session, "WORK", "NAMES", {"ID", "NAME"},
                  {{"1", "anna"}, {"2", "bert"}, {"3", "carl"}, {"4", "dora"}}, 1);
    }

    // The simple walking operation of these tests: upper-cases NAME record by record.
    WalkCounters upperCaseNames(TestHost& host, const std::string& table = "NAMES") {
        engine::Table t(session);
        TableWalkCursor cursor(t, "WORK", table);
        WalkStyle style;
        style.waitCursor = true;
        style.completionAfterError = true;
        return runWalk(host, cursor, style, [&t] {
            std::string v = t.fieldByName("NAME").asString();
            for (char& c : v)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            t.edit();
            t.fieldByName("NAME").setAsString(v);
            if (t.state() != engine::DataSetState::Edit) return false;
            t.post();
            return true;
        });
    }

    apptest::TempDir dir;
    engine::Session session;
};

TEST_F(TableWalk, PostsEveryRecordAndCountsThem) {
    TestHost host;
    const auto c = upperCaseNames(host);
    EXPECT_EQ(c.total, 4);
    EXPECT_EQ(c.processed, 4);
    EXPECT_EQ(c.changed, 4);
    EXPECT_EQ(column(session, "WORK", "NAMES", "NAME"),
              (std::vector<std::string>{"ANNA", "BERT", "CARL", "DORA"}));
    EXPECT_EQ(host.textsOf(MessageKind::Information),
              std::vector<std::string>{"Complete!\r4 Records of 4 processed"});
    EXPECT_EQ(host.panels[1], "3 Records of 4 processed");
    EXPECT_TRUE(host.idle);
}

TEST_F(TableWalk, AbortKeepsTheRecordsWrittenSoFar) {
    TestHost host;
    host.cancelAtRecord = 2;
    const auto c = upperCaseNames(host);
    EXPECT_EQ(c.processed, 2);
    EXPECT_EQ(column(session, "WORK", "NAMES", "NAME"),
              (std::vector<std::string>{"ANNA", "BERT", "carl", "dora"}));
    EXPECT_EQ(host.textsOf(MessageKind::Information).back(), "Complete!\r2 Records of 4 processed");
}

TEST_F(TableWalk, MissingTableEndsInTheEngineErrorWithTheWindowIdle) {
    TestHost host;
    EXPECT_THROW(upperCaseNames(host, "MISSING"), engine::EngineError);
    EXPECT_EQ(host.textsOf(MessageKind::Information),
              std::vector<std::string>{"Complete!\r0 Records of 0 processed"});
    EXPECT_TRUE(host.idle);
    EXPECT_FALSE(host.waitCursor);
}

TEST_F(TableWalk, EmptyTableWalksNothing) {
    makeTable(session, "WORK", "EMPTY", {"ID", "NAME"}, {}, 1);
    TestHost host;
    const auto c = upperCaseNames(host, "EMPTY");
    EXPECT_EQ(c.changed, 0);
    EXPECT_EQ(host.textsOf(MessageKind::Information),
              std::vector<std::string>{"Complete!\r0 Records of 0 processed"});
}

class PickerLookups : public TableWalk {};

TEST_F(PickerLookups, FieldNamesInTableOrder) {
    makeTable(session, "WORK", "ORDERS", {"ZIP", "AMOUNT", "CITY"}, {}, 0);
    EXPECT_EQ(tableFieldNames(session, "WORK", "ORDERS"),
              (std::vector<std::string>{"ZIP", "AMOUNT", "CITY"}));
    EXPECT_THROW(tableFieldNames(session, "WORK", "NOPE"), engine::EngineError);
}

TEST_F(PickerLookups, IndexFieldListsAreJoinedBySemicolons) {
    makeTable(session, "WORK", "CUST", {"TAVO", "NAME", "CITY"}, {{"1", "a", "x"}}, 2);
    engine::Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("CUST");
    t.open();
    EXPECT_EQ(indexFieldLists(t), std::vector<std::string>{"TAVO;NAME"});
}

TEST_F(PickerLookups, AliasPathOfDirectoryAndServerAliases) {
    session.addAlias("ORA", {{"TYPE", "ORACLE"}, {"SERVER NAME", "KR4"}});
    session.addAlias("BARE", {{"TYPE", "INTRBASE"}});
    const std::string name31(31, 'A');
    session.addStandardAlias(name31, "/data/long");

    EXPECT_EQ(GetAliasPath(session, "WORK"), dir.path().string());
    EXPECT_EQ(GetAliasPath(session, "ORA"), "KR4");
    EXPECT_EQ(GetAliasPath(session, "BARE"), "");
    EXPECT_EQ(GetAliasPath(session, name31 + "XYZ"), "/data/long")
        << "only the first 31 characters of the name are looked up";
    EXPECT_THROW(GetAliasPath(session, "NOSUCHALIAS"), std::exception);
}

} // namespace
} // namespace fieldsmith::run
