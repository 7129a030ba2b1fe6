// Changing Paradox tables: key order, key violations, deletes, blobs, creating over an
// older table, dropping and adding the primary index.
#include "support/TempDir.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;

namespace {

class ParadoxWrite : public ::testing::Test {
protected:
    ParadoxWrite() { session.addStandardAlias("WORK", dir.path()); }

    // A table KEYED (ID long integer key, NAME alpha 20, NOTE memo with leader 10).
    void createKeyed(const std::string& name = "KEYED") {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"NAME", FieldType::ftString, 20, false},
                         {"NOTE", FieldType::ftMemo, 10, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
    }

    std::unique_ptr<Table> open(const std::string& name, bool exclusive = false) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("WORK");
        t->setTableName(name);
        t->setExclusive(exclusive);
        t->open();
        return t;
    }

    static void insert(Table& t, const std::string& id, const std::string& name,
                       const std::string& note = "") {
        t.insert();
        t.fieldByName("ID").setAsString(id);
        t.fieldByName("NAME").setAsString(name);
        if (!note.empty()) t.fieldByName("NOTE").setAsString(note);
        t.post();
    }

    static std::vector<std::string> column(Table& t, const std::string& field) {
        std::vector<std::string> out;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next())
            out.push_back(t.fieldByName(field).asString());
        return out;
    }

    TempDir dir;
    Session session;
};

TEST_F(ParadoxWrite, InsertsKeepKeyOrderAcrossBlockSplits) {
    createKeyed();
    auto t = open("KEYED");
    // Descending and interleaved keys force inserts in the middle of full blocks.
    std::vector<int> ids;
    for (int i = 0; i < 600; ++i) ids.push_back((i * 7919) % 600 + 1);
    for (int id : ids) insert(*t, std::to_string(id), "N" + std::to_string(id));
    EXPECT_EQ(t->recordCount(), 600);
    const auto got = column(*t, "ID");
    for (int i = 0; i < 600; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], std::to_string(i + 1)) << "position " << i;
    t->close();
    // Read again from the file, whose block chain no longer runs in file order.
    auto again = open("KEYED");
    EXPECT_EQ(column(*again, "ID"), got);
    EXPECT_EQ(column(*again, "NAME")[299], "N300");
}

TEST_F(ParadoxWrite, KeyChangeMovesTheRecordAndTheCursorFollows) {
    createKeyed();
    auto t = open("KEYED");
    for (int id : {10, 20, 30}) insert(*t, std::to_string(id), "N" + std::to_string(id));
    t->first();
    t->edit();
    t->fieldByName("ID").setAsString("25");
    t->post();
    EXPECT_EQ(t->fieldByName("NAME").asString(), "N10") << "cursor stays on the moved record";
    EXPECT_EQ(t->recNo(), 2);
    EXPECT_EQ(column(*t, "ID"), (std::vector<std::string>{"20", "25", "30"}));
}

TEST_F(ParadoxWrite, DuplicateKeyIsRefusedAndChangesNothing) {
    createKeyed();
    auto t = open("KEYED");
    insert(*t, "1", "first");
    insert(*t, "2", "second");
    t->insert();
    t->fieldByName("ID").setAsString("1");
    try {
        t->post();
        FAIL() << "a duplicate key was posted";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::KeyViolation);
    }
    t->cancel();
    t->last();
    t->edit();
    t->fieldByName("ID").setAsString("1");
    EXPECT_THROW(t->post(), EngineError);
    t->cancel();
    EXPECT_EQ(column(*t, "NAME"), (std::vector<std::string>{"first", "second"}));
}

TEST_F(ParadoxWrite, DeleteOnEmptyTableIsAnError) {
    createKeyed();
    auto t = open("KEYED");
    try {
        t->deleteRecord();
        FAIL() << "delete on an empty table succeeded";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::NoRecord);
    }
}

TEST_F(ParadoxWrite, DeletesFreeBlocksAndTheCursorGoesToTheFollowingRecord) {
    createKeyed();
    auto t = open("KEYED");
    for (int i = 1; i <= 300; ++i) insert(*t, std::to_string(i), "N" + std::to_string(i));
    t->first();
    t->moveBy(4);
    t->deleteRecord();
    EXPECT_EQ(t->fieldByName("ID").asString(), "6");
    // Delete everything from the front: blocks empty one after the other.
    t->first();
    while (t->recordCount() > 1) t->deleteRecord();
    EXPECT_EQ(t->fieldByName("ID").asString(), "300");
    t->deleteRecord();
    EXPECT_EQ(t->recordCount(), 0);
    EXPECT_TRUE(t->eof());
    insert(*t, "7", "again");
    t->close();
    EXPECT_EQ(column(*open("KEYED"), "NAME"), (std::vector<std::string>{"again"}));
}

// When the head block empties, the next block's records move into it: what is on disk must
// say so, so that the table holds the same records when it is opened again.
TEST_F(ParadoxWrite, RecordsMovedIntoTheHeadBlockAreThereAfterReopening) {
    createKeyed();
    {
        auto t = open("KEYED");
        for (int i = 1; i <= 300; ++i) insert(*t, std::to_string(i), "N" + std::to_string(i));
    }
    // The records of the head block as the file says: a session that ends right after the
    // head block emptied leaves the moved records' count on disk.
    auto headBlockCount = [&] {
        std::ifstream in(dir.path() / "KEYED.DB", std::ios::binary);
        const std::vector<unsigned char> b{std::istreambuf_iterator<char>(in), {}};
        const int rs = b[0] | b[1] << 8, hs = b[2] | b[3] << 8;
        return static_cast<std::int16_t>(b[hs + 4] | b[hs + 5] << 8) / rs + 1;
    };
    int deleted = 0;
    for (int round = 0; round < 3; ++round) {
        deleted += headBlockCount();
        SCOPED_TRACE(deleted);
        {
            auto t = open("KEYED");
            t->first();
            while (t->fieldByName("ID").asInteger() <= deleted) t->deleteRecord();
        }
        auto t = open("KEYED");
        const auto ids = column(*t, "ID");
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(300 - deleted));
        EXPECT_EQ(ids.front(), std::to_string(deleted + 1));
        EXPECT_EQ(ids.back(), "300");
    }
}

TEST_F(ParadoxWrite, BlobsShortLongEmptyAndReplaced) {
    createKeyed();
    auto t = open("KEYED");
    const std::string small = "fits";                   // in the leader
    const std::string medium(1500, 'm');                 // a sub-allocated slot
    const std::string large = std::string(9000, 'L') + "end"; // a block of its own
    insert(*t, "1", "a", small);
    insert(*t, "2", "b", medium);
    insert(*t, "3", "c", large);
    insert(*t, "4", "d", "");
    t->close();
    auto r = open("KEYED");
    EXPECT_EQ(column(*r, "NOTE"), (std::vector<std::string>{small, medium, large, ""}));
    // Replace the long ones, empty one: the old space is reused, the file does not grow.
    const auto mb = dir / "KEYED.MB";
    for (int round = 0; round < 5; ++round) {
        r->first();
        r->next();
        r->edit();
        r->fieldByName("NOTE").setAsString(std::string(1500, static_cast<char>('a' + round)));
        r->post();
        r->next();
        r->edit();
        r->fieldByName("NOTE").setAsString(std::string(9000, static_cast<char>('A' + round)));
        r->post();
    }
    const auto grown = std::filesystem::file_size(mb);
    for (int round = 0; round < 5; ++round) {
        r->first();
        r->next();
        r->next();
        r->edit();
        r->fieldByName("NOTE").setAsString(std::string(9000, static_cast<char>('a' + round)));
        r->post();
    }
    EXPECT_EQ(std::filesystem::file_size(mb), grown) << "replaced blobs must free their space";
    r->first();
    r->edit();
    r->fieldByName("NOTE").setAsString("");
    r->post();
    r->close();
    auto c = open("KEYED");
    EXPECT_EQ(column(*c, "NOTE"),
              (std::vector<std::string>{"", std::string(1500, 'e'), std::string(9000, 'e'), ""}));
}

TEST_F(ParadoxWrite, TextUnfitForTheFieldNamesValueAndField) {
    createKeyed();
    auto t = open("KEYED");
    t->insert();
    try {
        t->fieldByName("ID").setAsString("12x");
        FAIL();
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::BadValue);
        EXPECT_NE(std::string(e.what()).find("12x"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("ID"), std::string::npos) << e.what();
    }
    t->fieldByName("ID").setAsString("5");
    t->fieldByName("NAME").setAsString(std::string(30, 'x'));
    t->post();
    EXPECT_EQ(t->fieldByName("NAME").asString(), std::string(20, 'x')) << "a string keeps what its size allows";
}

// A typed number beyond the range of a double is refused, as a word is: it was stored as
// infinity, which no one typed.
TEST_F(ParadoxWrite, TypedNumbersBeyondADoubleAreRefused) {
    Table made(session);
    made.setDatabaseName("WORK");
    made.setTableName("TYPED");
    made.fieldDefs() = {{"N", FieldType::ftFloat}};
    made.createTable();
    auto t = open("TYPED");
    const struct {
        const char* text;
        bool refused;
    } cases[] = {
        {"1e400", true}, {"-1e400", true}, {"inf", true}, {"1e308", false}, {"2.5e-3", false}};
    for (const auto& c : cases) {
        t->insert();
        try {
            t->fieldByName("N").setAsString(c.text);
            EXPECT_FALSE(c.refused) << c.text;
            t->post();
            t->last();
            EXPECT_EQ(t->fieldByName("N").value().f, std::strtod(c.text, nullptr)) << c.text;
        } catch (const EngineError& e) {
            EXPECT_TRUE(c.refused) << c.text << ": " << e.what();
            EXPECT_EQ(e.kind(), ErrorKind::BadValue) << e.what();
            t->cancel();
        }
    }
}

// A number field holds a double. A whole number it cannot hold exactly (a 64-bit key from a
// server) and NaN are refused, never stored as another number; a BCD field takes any whole
// number of up to 32 digits exactly.
TEST_F(ParadoxWrite, NumbersANumberFieldCannotHoldAreRefused) {
    Table made(session);
    made.setDatabaseName("WORK");
    made.setTableName("NUMS");
    made.fieldDefs() = {
        {"N", FieldType::ftFloat}, {"BIG", FieldType::ftLargeint}, {"EXACT", FieldType::ftBCD, 0}};
    made.createTable();
    const std::int64_t exact = std::int64_t{1} << 53;
    struct Case {
        const char* what;
        Value value;
        bool refused;
    } cases[] = {
        {"2^53", Value::integer(exact), false},
        {"-2^53", Value::integer(-exact), false},
        {"2^53 + 1", Value::integer(exact + 1), true},
        {"the largest 64-bit number", Value::integer(INT64_MAX), true},
        {"the smallest 64-bit number", Value::integer(INT64_MIN), false},
        {"NaN", Value::real(std::nan("")), true},
        {"infinity", Value::real(HUGE_VAL), false},
    };
    auto t = open("NUMS");
    t->insert();
    t->fieldByName("EXACT").setValue(Value::integer(INT64_MAX));
    t->post();
    EXPECT_EQ(t->fieldByName("EXACT").asString(), "9223372036854775807") << "a BCD field holds it";
    for (const auto& c : cases) {
        for (const char* field : {"N", "BIG"}) {
            t->insert();
            try {
                t->fieldByName(field).setValue(c.value);
                EXPECT_FALSE(c.refused) << c.what << " in " << field;
                t->post();
                t->last();
                EXPECT_EQ(t->fieldByName(field).value().f, c.value.kind == Value::Kind::Int
                                                               ? static_cast<double>(c.value.i)
                                                               : c.value.f)
                    << c.what << " in " << field;
            } catch (const EngineError& e) {
                EXPECT_TRUE(c.refused) << c.what << " in " << field << ": " << e.what();
                EXPECT_EQ(e.kind(), ErrorKind::BadValue) << e.what();
                EXPECT_NE(std::string(e.what()).find(field), std::string::npos) << e.what();
                t->cancel();
            }
        }
    }
}

TEST_F(ParadoxWrite, CreatingReplacesAnOlderTableAndItsFamily) {
    createKeyed();
    {
        auto t = open("KEYED");
        insert(*t, "1", "old", std::string(5000, 'o'));
    }
    std::ofstream(dir / "KEYED.X02") << "stale index";
    std::ofstream(dir / "KEYED.VAL") << "stale checks";
    std::ofstream(dir / "KEYEDS.DB") << "another table";
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("KEYED.DB");
    t.fieldDefs() = {{"CODE", FieldType::ftString, 5, false}};
    t.createTable();
    EXPECT_FALSE(std::filesystem::exists(dir / "KEYED.X02"));
    EXPECT_FALSE(std::filesystem::exists(dir / "KEYED.VAL"));
    EXPECT_FALSE(std::filesystem::exists(dir / "KEYED.PX"));
    EXPECT_FALSE(std::filesystem::exists(dir / "KEYED.MB"));
    EXPECT_TRUE(std::filesystem::exists(dir / "KEYEDS.DB"));
    auto r = open("KEYED");
    EXPECT_EQ(r->recordCount(), 0);
    ASSERT_EQ(r->fieldCount(), 1);
    EXPECT_EQ(r->field(0).name(), "CODE");
}

TEST_F(ParadoxWrite, DropAndAddThePrimaryIndex) {
    createKeyed();
    {
        auto t = open("KEYED", true);
        for (int id : {3, 1, 2}) insert(*t, std::to_string(id), "N" + std::to_string(id));
        t->deleteIndex("");
        EXPECT_TRUE(t->indexDefs().empty());
        // Unkeyed now: a new record goes to the end, duplicates are allowed.
        insert(*t, "1", "dup");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "KEYED.PX"));
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("KEYED");
    try {
        t.addIndex("", "ID", ixPrimary);
        FAIL() << "a primary index over duplicate keys was added";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::KeyViolation);
    }
    {
        auto u = open("KEYED");
        u->last();
        u->deleteRecord();
    }
    t.addIndex("", "ID", ixPrimary);
    EXPECT_TRUE(std::filesystem::exists(dir / "KEYED.PX"));
    auto r = open("KEYED");
    EXPECT_EQ(column(*r, "ID"), (std::vector<std::string>{"1", "2", "3"}));
    ASSERT_FALSE(r->indexDefs().empty());
    EXPECT_TRUE(r->indexDefs()[0].isPrimary());
    EXPECT_THROW(t.addIndex("", "NAME", ixPrimary), EngineError) << "only leading fields can be the key";
}

} // namespace
