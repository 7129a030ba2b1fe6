// Cursor rules of Table on tables the engine creates itself: moves at either end, record
// numbers, ranges on the primary index, index and field names, and the data-change handler.

#include "TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

namespace {

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;

// A directory alias with one table: GRP short + NUM long as a two-field primary key, NAME,
// filled with the given (GRP, NUM) pairs in the order given.
class CursorTest : public ::testing::Test {
protected:
    void SetUp() override { session_.addStandardAlias("WORK", dir_.path()); }

    std::unique_ptr<Table> makeTable(const std::vector<std::pair<int, int>>& keys,
                                     const std::string& name = "KEYS") {
        auto t = std::make_unique<Table>(session_);
        t->setDatabaseName("WORK");
        t->setTableName(name);
        t->fieldDefs() = {{"GRP", FieldType::ftSmallint, 0, true},
                          {"NUM", FieldType::ftInteger, 0, true},
                          {"NAME", FieldType::ftString, 20, false}};
        t->indexDefs() = {{"", "GRP;NUM", ixPrimary | ixUnique}};
        t->createTable();
        t->open();
        for (const auto& [grp, num] : keys) {
            t->insert();
            t->fieldByName("GRP").setAsInteger(grp);
            t->fieldByName("NUM").setAsInteger(num);
            t->fieldByName("NAME").setAsString("n" + std::to_string(grp) + "-" +
                                               std::to_string(num));
            t->post();
        }
        t->first();
        return t;
    }

    //! Five records in groups 1, 2, 2, 3, 3 inserted out of key order.
    std::unique_ptr<Table> fiveRecords() {
        return makeTable({{3, 30}, {1, 10}, {2, 25}, {3, 31}, {2, 20}});
    }

    static std::string key(Table& t) {
        return t.fieldByName("GRP").asString() + "/" + t.fieldByName("NUM").asString();
    }

    static std::vector<std::string> walk(Table& t) {
        std::vector<std::string> keys;
        for (t.first(); !t.eof() && keys.size() < 100; t.next())
            keys.push_back(key(t));
        return keys;
    }

    TempDir dir_;
    Session session_;
};

TEST_F(CursorTest, EmptyTableIsAtBothEnds) {
    auto t = makeTable({});
    EXPECT_EQ(t->recordCount(), 0);
    EXPECT_TRUE(t->isEmpty());
    EXPECT_TRUE(t->eof());
    EXPECT_TRUE(t->bof());
    EXPECT_EQ(t->recNo(), 0);
    t->next();
    t->prior();
    t->last();
    EXPECT_TRUE(t->eof() && t->bof());
    EXPECT_EQ(t->fieldByName("NAME").asString(), "");
}

TEST_F(CursorTest, WalkFollowsKeyOrderAndCountsRecords) {
    auto t = fiveRecords();
    EXPECT_EQ(t->recordCount(), 5);
    EXPECT_EQ(walk(*t), (std::vector<std::string>{"1/10", "2/20", "2/25", "3/30", "3/31"}));
    t->first();
    for (int expected = 1; !t->eof(); t->next(), ++expected)
        EXPECT_EQ(t->recNo(), expected);
}

TEST_F(CursorTest, MovesPastEitherEndStayPut) {
    auto t = fiveRecords();
    t->first();
    EXPECT_TRUE(t->bof());
    EXPECT_FALSE(t->eof());
    t->prior();
    EXPECT_TRUE(t->bof());
    EXPECT_EQ(t->recNo(), 1);
    EXPECT_EQ(key(*t), "1/10");
    t->next();
    EXPECT_FALSE(t->bof());
    EXPECT_EQ(key(*t), "2/20");

    t->last();
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->recNo(), 5);
    t->prior();
    EXPECT_FALSE(t->eof());
    EXPECT_EQ(key(*t), "3/30");
    t->next();
    EXPECT_FALSE(t->eof()) << "next onto the last record is not past the end";
    t->next();
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->recNo(), 5);
    EXPECT_EQ(key(*t), "3/31");
    t->next();
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(key(*t), "3/31");
}

TEST_F(CursorTest, MoveByStopsAtEitherEnd) {
    struct Case {
        int startRecNo;
        int by;
        int recNo;
        bool eof;
        bool bof;
    };
    const Case cases[] = {
        {1, 2, 3, false, false},   {3, -1, 2, false, false}, {2, 3, 5, false, false},
        {2, 4, 5, true, false},    {4, 100, 5, true, false}, {4, -3, 1, false, false},
        {4, -100, 1, false, true}, {1, -1, 1, false, true},
    };
    auto t = fiveRecords();
    for (const auto& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.startRecNo) + " by " + std::to_string(c.by));
        t->first();
        t->moveBy(c.startRecNo - 1);
        ASSERT_EQ(t->recNo(), c.startRecNo);
        t->moveBy(c.by);
        EXPECT_EQ(t->recNo(), c.recNo);
        EXPECT_EQ(t->eof(), c.eof);
        EXPECT_EQ(t->bof(), c.bof);
    }
}

TEST_F(CursorTest, CountFollowsInsertsAndDeletes) {
    auto t = fiveRecords();
    t->first();
    t->next();
    t->deleteRecord();
    EXPECT_EQ(t->recordCount(), 4);
    EXPECT_EQ(key(*t), "2/25") << "the cursor goes to the record that followed";
    t->close();
    t->open();
    EXPECT_EQ(t->recordCount(), 4);
    EXPECT_EQ(walk(*t), (std::vector<std::string>{"1/10", "2/25", "3/30", "3/31"}));
}

TEST_F(CursorTest, RangesOnThePrimaryIndex) {
    struct Case {
        const char* what;
        std::vector<std::string> from, to;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"one leading field", {"2"}, {"2"}, {"2/20", "2/25"}},
        {"span of the leading field", {"2"}, {"3"}, {"2/20", "2/25", "3/30", "3/31"}},
        {"two-field key", {"2", "21"}, {"3", "30"}, {"2/25", "3/30"}},
        {"from the start", {"0"}, {"1"}, {"1/10"}},
        {"no records", {"9"}, {"9"}, {}},
        {"between groups", {"2", "26"}, {"2", "99"}, {}},
    };
    auto t = fiveRecords();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        t->setRange(c.from, c.to);
        EXPECT_TRUE(t->hasRange());
        EXPECT_EQ(t->recordCount(), static_cast<std::int64_t>(c.keys.size()));
        EXPECT_EQ(walk(*t), c.keys);
        if (c.keys.empty()) {
            t->first();
            EXPECT_TRUE(t->eof() && t->bof());
            EXPECT_EQ(t->recNo(), 0);
        } else {
            t->last();
            EXPECT_EQ(t->recNo(), static_cast<std::int64_t>(c.keys.size()));
            t->next();
            EXPECT_TRUE(t->eof());
            EXPECT_EQ(key(*t), c.keys.back()) << "next at the range's end stays put";
            t->first();
            t->prior();
            EXPECT_TRUE(t->bof());
            EXPECT_EQ(key(*t), c.keys.front()) << "prior at the range's start stays put";
            t->moveBy(100);
            EXPECT_EQ(key(*t), c.keys.back());
        }
        t->cancelRange();
        EXPECT_FALSE(t->hasRange());
        EXPECT_EQ(t->recordCount(), 5);
        EXPECT_EQ(t->recNo(), 1);
    }
}

TEST_F(CursorTest, IndexFieldNamesWithoutIndexFailToOpen) {
    fiveRecords()->close();
    for (const char* names : {"NAME", "NUM", "GRP;NAME"}) {
        SCOPED_TRACE(names);
        Table t(session_);
        t.setDatabaseName("WORK");
        t.setTableName("KEYS");
        t.setIndexFieldNames(names);
        try {
            t.open();
            FAIL() << "opened with index field names that match no index";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(names), std::string::npos) << e.what();
        }
        EXPECT_FALSE(t.active());
    }
    Table t(session_);
    t.setDatabaseName("WORK");
    t.setTableName("KEYS");
    t.setIndexFieldNames("grp");
    ASSERT_NO_THROW(t.open()) << "a leading part of the primary key, in any case";
    EXPECT_EQ(t.recordCount(), 5);
}

TEST_F(CursorTest, FieldNamesAreCaseInsensitiveAndUnknownNamesFail) {
    auto t = fiveRecords();
    for (const char* name : {"name", "Name", "NAME", "nAmE"})
        EXPECT_EQ(t->fieldByName(name).index(), 2);
    EXPECT_EQ(t->findField("num"), 1);
    EXPECT_FALSE(t->findField("NAMES"));
    try {
        t->fieldByName("NAMES");
        FAIL() << "an unknown field name was accepted";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::UnknownField);
        EXPECT_NE(std::string(e.what()).find("NAMES"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("KEYS"), std::string::npos) << e.what();
    }
}

TEST_F(CursorTest, DataChangeHandlerCountsDisabledControls) {
    auto t = fiveRecords();
    int calls = 0;
    t->setDataChangeHandler([&](Table&) { ++calls; });
    t->first();
    t->next();
    EXPECT_EQ(calls, 2) << "one call per move";
    t->disableControls();
    t->disableControls();
    EXPECT_TRUE(t->controlsDisabled());
    t->next();
    t->enableControls();
    EXPECT_TRUE(t->controlsDisabled()) << "two disables need two enables";
    t->next();
    EXPECT_EQ(calls, 2);
    t->enableControls();
    EXPECT_FALSE(t->controlsDisabled());
    t->prior();
    EXPECT_EQ(calls, 3);
    t->enableControls(); // one more than were disabled: no effect
    t->disableControls();
    t->next();
    EXPECT_EQ(calls, 3) << "an extra enable must not leave controls enabled after a disable";
    t->enableControls();
    t->edit();
    t->fieldByName("NAME").setAsString("changed");
    EXPECT_EQ(calls, 4) << "a value change notifies";
    t->post();
}

} // namespace

namespace {
// A preview that redirects each table to a copy of its own and records the changes.
struct CopyingSink : PreviewSink {
    std::filesystem::path root;
    std::vector<RecordChange> changes;
    std::filesystem::path shadowOf(const std::filesystem::path& original) override {
        const auto copy = root / original.filename();
        if (!std::filesystem::exists(copy) && std::filesystem::exists(original))
            std::filesystem::copy_file(original, copy);
        return copy;
    }
    void recordChange(const std::string&, ChangeKind, const std::function<RecordChange()>& detail) override {
        changes.push_back(detail());
    }
};
} // namespace

// During a preview a table opened before it began is never written; one opened during it
// writes its copy, and its changes are told with the key and the old and new values.
TEST_F(CursorTest, APreviewWritesOnlyWhatItOpenedItself) {
    auto before = fiveRecords();
    TempDir copies;
    CopyingSink sink;
    sink.root = copies.path();
    session_.setPreview(&sink);
    EXPECT_THROW(before->edit(), EngineError);
    EXPECT_THROW(before->deleteRecord(), EngineError);
    Table during(session_);
    during.setDatabaseName("WORK");
    during.setTableName("KEYS");
    during.open();
    during.edit();
    during.fieldByName("NAME").setAsString("changed");
    during.post();
    during.close();
    session_.setPreview(nullptr);
    ASSERT_EQ(sink.changes.size(), 1u);
    EXPECT_EQ(sink.changes[0].record, "1, 10");
    ASSERT_EQ(sink.changes[0].fields.size(), 1u);
    EXPECT_EQ(sink.changes[0].fields[0].before, "n1-10");
    EXPECT_EQ(sink.changes[0].fields[0].after, "changed");
    before->first();
    EXPECT_EQ(before->fieldByName("NAME").asString(), "n1-10") << "the table itself was written";
}
