// Records copied between two tables as their stored bytes (Table::copyRecordFrom): the copy
// reads back identical through the engine and through pxlib, keys and key violations work as
// for records set field by field, and tables that store records differently refuse the copy.

#include "PxlibReader.h"
#include "TestSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

const std::vector<FieldDef> kFields = {
    {"ID", FieldType::ftInteger, 0, true},    {"NAME", FieldType::ftString, 24, false},
    {"AMOUNT", FieldType::ftFloat, 0, false}, {"DAY", FieldType::ftDate, 0, false},
    {"DONE", FieldType::ftBoolean, 0, false}, {"SMALL", FieldType::ftSmallint, 0, false},
    {"CODE", FieldType::ftBytes, 6, false},
};

class RecordCopy : public ::testing::Test {
protected:
    void SetUp() override { session.addStandardAlias("WORK", dir.path()); }

    std::unique_ptr<Table> make(const std::string& name, std::vector<FieldDef> fields, bool keyed) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("WORK");
        t->setTableName(name);
        t->fieldDefs() = std::move(fields);
        if (keyed) t->indexDefs() = {{"", "ID", ixPrimary | ixUnique}};
        t->createTable();
        t->open();
        return t;
    }

    // A source of n records in key order, some fields left null.
    std::unique_ptr<Table> source(int n) {
        auto t = make("SRC", kFields, true);
        for (int i = 1; i <= n; ++i) {
            t->insert();
            t->field(0).setAsInteger(i * 3);
            t->field(1).setAsString("Name " + std::to_string(i) + (i % 4 ? " \xE4\xF6" : ""));
            if (i % 5) t->field(2).setAsString(std::to_string(i) + ".25");
            if (i % 7) t->field(3).setValue(Value::date(737800 + i));
            t->field(4).setAsString(i % 2 ? "True" : "False");
            t->field(5).setAsInteger(-i);
            if (i % 3) t->field(6).setValue(Value::bytes("ab" + std::to_string(i % 100)));
            t->post();
        }
        return t;
    }

    TempDir dir;
    Session session;
};

TEST_F(RecordCopy, CopiedRecordsReadBackIdenticalThroughEngineAndPxlib) {
    constexpr int kRecords = 700; // several blocks of the new table
    auto src = source(kRecords);
    auto dst = make("DST", kFields, true);
    ASSERT_TRUE(dst->storesRecordsLike(*src));
    for (src->first(); !src->eof(); src->next()) {
        dst->insert();
        dst->copyRecordFrom(*src);
        dst->post();
    }
    src->close();
    dst->close();

    const PxTable a = readWithPxlib(dir.path() / "SRC.DB");
    const PxTable b = readWithPxlib(dir.path() / "DST.DB");
    ASSERT_EQ(a.recordCount, kRecords);
    ASSERT_EQ(b.recordCount, kRecords);
    ASSERT_EQ(b.rawRecords.size(), a.rawRecords.size());
    for (std::size_t r = 0; r < a.rawRecords.size(); ++r)
        EXPECT_EQ(b.rawRecords[r], a.rawRecords[r]) << "record " << r;
    for (std::size_t r = 0; r < a.records.size(); ++r)
        for (std::size_t f = 0; f < a.fields.size(); ++f) {
            EXPECT_EQ(b.records[r][f].isNull, a.records[r][f].isNull) << r << "/" << f;
            EXPECT_EQ(b.records[r][f].integer, a.records[r][f].integer) << r << "/" << f;
            EXPECT_EQ(b.records[r][f].number, a.records[r][f].number) << r << "/" << f;
            EXPECT_EQ(b.records[r][f].text, a.records[r][f].text) << r << "/" << f;
        }

    Table s(session), d(session);
    s.setDatabaseName("WORK");
    s.setTableName("SRC");
    s.open();
    d.setDatabaseName("WORK");
    d.setTableName("DST");
    d.open();
    ASSERT_EQ(d.recordCount(), kRecords);
    int seen = 0;
    for (s.first(), d.first(); !s.eof() && !d.eof(); s.next(), d.next(), ++seen)
        for (int f = 0; f < s.fieldCount(); ++f)
            ASSERT_EQ(d.field(f).asString(), s.field(f).asString())
                << "record " << seen << " field " << s.field(f).name();
    EXPECT_EQ(seen, kRecords);
    // The key index of the new table finds its records.
    d.setRange({"300"}, {"300"});
    ASSERT_EQ(d.recordCount(), 1);
    EXPECT_EQ(d.field(1).asString(), "Name 100");
}

TEST_F(RecordCopy, KeyViolationAndUnkeyedTargetAsForFieldValues) {
    auto src = source(5);
    auto dst = make("DST", kFields, true);
    src->first();
    dst->insert();
    dst->copyRecordFrom(*src);
    dst->post();
    dst->insert();
    dst->copyRecordFrom(*src);
    EXPECT_THROW(dst->post(), EngineError);
    dst->cancel();
    EXPECT_EQ(dst->recordCount(), 1);

    // An unkeyed table stores the same fields in the same bytes.
    auto plain = make("PLAIN", kFields, false);
    ASSERT_TRUE(plain->storesRecordsLike(*src));
    for (src->last(); !src->bof(); src->prior()) {
        plain->insert();
        plain->copyRecordFrom(*src);
        plain->post();
        if (src->recNo() == 1) break;
    }
    ASSERT_EQ(plain->recordCount(), 5);
    plain->first();
    EXPECT_EQ(plain->field(0).asInteger(), 15);
}

TEST_F(RecordCopy, TablesStoringRecordsDifferentlyRefuseTheCopy) {
    auto src = source(3);
    src->first();
    auto wider = kFields;
    wider[1].size = 25;
    auto otherType = kFields;
    otherType[2].type = FieldType::ftCurrency;
    auto withMemo = kFields;
    withMemo.push_back({"NOTE", FieldType::ftMemo, 10, false});
    std::vector<std::unique_ptr<Table>> targets;
    targets.push_back(make("WIDER", wider, true));
    targets.push_back(make("CURR", otherType, true));
    targets.push_back(make("MEMO", withMemo, true));
    session.setAnsiCodePage(850);
    targets.push_back(make("CP850", kFields, true));
    session.setAnsiCodePage(1252);
    for (auto& t : targets) {
        SCOPED_TRACE(t->tableName());
        EXPECT_FALSE(t->storesRecordsLike(*src));
        t->insert();
        EXPECT_THROW(t->copyRecordFrom(*src), EngineError);
        t->cancel();
        EXPECT_EQ(t->recordCount(), 0);
    }
    // A table with a memo does not even copy to itself: its bytes point into its own .MB.
    EXPECT_FALSE(targets[2]->storesRecordsLike(*targets[2]));
    // Without a current record in the source there is nothing to copy.
    auto same = make("SAME", kFields, true);
    auto empty = make("EMPTY", kFields, true);
    ASSERT_TRUE(same->storesRecordsLike(*empty));
    same->insert();
    EXPECT_THROW(same->copyRecordFrom(*empty), EngineError);
    same->cancel();
}

} // namespace
