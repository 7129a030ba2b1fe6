// Secondary indexes as files: listed with their definitions, ordering the table, kept
// correct through changes, and dropped with their files.
#include "support/TempDir.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;

namespace {

const std::filesystem::path kSamples = std::filesystem::path(FIELDSMITH_TESTDATA) / "paradox";

class SecondaryIndexes : public ::testing::Test {
protected:
    SecondaryIndexes() {
        session.addStandardAlias("WORK", dir.path());
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("PEOPLE");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"NAME", FieldType::ftString, 20, false},
                         {"CITY", FieldType::ftString, 20, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
        auto w = open();
        const char* rows[][2] = {{"meier", "Bonn"}, {"Adler", "Aachen"}, {"Zorn", "Bonn"},
                                 {"berg", "Celle"}, {"Adler", "Bonn"}};
        int id = 1;
        for (const auto& r : rows) {
            w->insert();
            w->fieldByName("ID").setAsInteger(id++);
            w->fieldByName("NAME").setAsString(r[0]);
            w->fieldByName("CITY").setAsString(r[1]);
            w->post();
        }
    }

    std::unique_ptr<Table> open(const std::string& indexFields = "", bool exclusive = false) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("WORK");
        t->setTableName("PEOPLE");
        t->setExclusive(exclusive);
        t->setIndexFieldNames(indexFields);
        t->open();
        return t;
    }

    static std::vector<std::string> walk(Table& t) {
        std::vector<std::string> out;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next())
            out.push_back(t.fieldByName("NAME").asString() + "/" + t.fieldByName("ID").asString());
        return out;
    }

    void addIndex(const std::string& name, const std::string& fields, unsigned options) {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("PEOPLE");
        t.addIndex(name, fields, options);
    }

    TempDir dir;
    Session session;
};

TEST_F(SecondaryIndexes, AddedIndexSurvivesReopenAndOrdersTheTable) {
    addIndex("_NAME", "NAME", ixCaseInsensitive);
    addIndex("ByCityName", "CITY;NAME", 0);
    auto t = open();
    ASSERT_EQ(t->indexDefs().size(), 3u);
    EXPECT_EQ(t->indexDefs()[1].name, "_NAME");
    EXPECT_EQ(t->indexDefs()[1].fields, "NAME");
    EXPECT_TRUE(t->indexDefs()[1].options & ixCaseInsensitive);
    EXPECT_EQ(t->indexDefs()[2].fields, "CITY;NAME");
    t->close();
    // Case-insensitive: berg sorts between Adler and meier; ties go by the primary key.
    auto byName = open("NAME");
    EXPECT_EQ(walk(*byName), (std::vector<std::string>{"Adler/2", "Adler/5", "berg/4", "meier/1", "Zorn/3"}));
    auto byCity = open("CITY;NAME");
    EXPECT_EQ(walk(*byCity), (std::vector<std::string>{"Adler/2", "Adler/5", "Zorn/3", "meier/1", "berg/4"}))
        << "case-sensitive: upper case before lower case";
}

TEST_F(SecondaryIndexes, KeptCorrectThroughInsertsKeyChangesAndDeletes) {
    addIndex("_NAME", "NAME", ixCaseInsensitive);
    {
        auto t = open("NAME");
        t->insert();
        t->fieldByName("ID").setAsInteger(9);
        t->fieldByName("NAME").setAsString("Kurz");
        t->post();
        EXPECT_EQ(t->fieldByName("NAME").asString(), "Kurz") << "the cursor stays on the new record";
        t->first(); // Adler/2
        t->edit();
        t->fieldByName("NAME").setAsString("Yak");
        t->post();
        EXPECT_EQ(t->fieldByName("ID").asString(), "2") << "the cursor follows the moved record";
        t->first();
        t->deleteRecord(); // Adler/5
        EXPECT_EQ(walk(*t), (std::vector<std::string>{"berg/4", "Kurz/9", "meier/1", "Yak/2", "Zorn/3"}));
    }
    // The files were rewritten at close: a fresh open orders the same way.
    auto again = open("NAME");
    EXPECT_EQ(walk(*again), (std::vector<std::string>{"berg/4", "Kurz/9", "meier/1", "Yak/2", "Zorn/3"}));
}

TEST_F(SecondaryIndexes, RangesOnASecondaryIndex) {
    addIndex("ByCity", "CITY", 0);
    auto t = open("CITY");
    t->setRange({"Bonn"}, {"Bonn"});
    EXPECT_EQ(t->recordCount(), 3);
    EXPECT_EQ(walk(*t), (std::vector<std::string>{"meier/1", "Zorn/3", "Adler/5"}));
    t->setRange({"Celle"}, {"Dorf"});
    EXPECT_EQ(walk(*t), (std::vector<std::string>{"berg/4"}));
    t->cancelRange();
    EXPECT_EQ(t->recordCount(), 5);
}

TEST_F(SecondaryIndexes, UniqueIndexRefusesDuplicatesAndDropRemovesFiles) {
    EXPECT_THROW(addIndex("U", "NAME", ixUnique), EngineError);
    addIndex("UCITY", "ID;CITY", ixUnique);
    auto files = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().extension().string().rfind(".XG", 0) == 0 || e.path().extension().string().rfind(".YG", 0) == 0) ++n;
        return n;
    };
    EXPECT_EQ(files(), 2);
    auto t = open("", true);
    t->deleteIndex("UCITY");
    EXPECT_EQ(files(), 0);
    EXPECT_EQ(t->indexDefs().size(), 1u);
    EXPECT_THROW(t->deleteIndex("UCITY"), EngineError);
}

TEST(SampleSecondaryIndexes, ListAndOrderLikeAnIndependentSort) {
    if (!std::filesystem::exists(kSamples)) GTEST_SKIP() << "sample tables absent";
    Session session;
    struct Case {
        const char* table;
        std::vector<std::string> expected; // "name|fields|options"
        const char* orderField;
        const char* keyField;
        bool caseInsensitive;
    } cases[] = {
        {"db/CUSTOMER.DB", {"|CustNo|primary, unique", "City|City|"}, "City", "CustNo", false},
        {"db/AREACODES.DB", {"|AC|primary, unique", "ste|State|case-insensitive"}, "State", "AC", true},
    };
    for (const auto& c : cases) {
        Table t(session);
        t.setTableName((kSamples / c.table).string());
        t.open();
        std::vector<std::string> got;
        for (const auto& ix : t.indexDefs())
            got.push_back(ix.name + "|" + ix.fields + "|" + indexOptionsText(ix.options));
        EXPECT_EQ(got, c.expected) << c.table;
        // The order computed here from the values alone, ties broken by the primary key.
        std::vector<std::pair<std::string, std::string>> rows;
        for (t.first(); !t.eof(); t.next()) {
            std::string v = t.fieldByName(c.orderField).asString();
            if (c.caseInsensitive)
                for (char& ch : v) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            rows.emplace_back(v, t.fieldByName(c.keyField).asString());
        }
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        t.close();
        t.setIndexFieldNames(c.orderField);
        t.open();
        std::size_t i = 0;
        for (t.first(); !t.eof(); t.next(), ++i) {
            ASSERT_LT(i, rows.size());
            EXPECT_EQ(t.fieldByName(c.keyField).asString(), rows[i].second) << c.table << " position " << i;
        }
        EXPECT_EQ(i, rows.size());
    }
}

} // namespace

namespace {

std::vector<std::uint8_t> bytesOf(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A damaged index file is listed as damaged and never orders the table; a damaged or stale
// primary index is rebuilt by the next writer.
TEST_F(SecondaryIndexes, DamagedIndexFilesAreListedOrRebuiltNeverTrusted) {
    open()->close();
    Table closed(session);
    closed.setDatabaseName("WORK");
    closed.setTableName("PEOPLE");
    closed.addIndex("ByName", "NAME", ixCaseInsensitive);
    const auto xg0 = dir.path() / "PEOPLE.XG0";
    auto x = bytesOf(xg0);
    x.resize(0x30);
    writeBytes(xg0, x);

    auto t = open();
    const auto defs = t->indexDefs();
    ASSERT_EQ(defs.size(), 2u);
    EXPECT_EQ(defs[1].name, "PEOPLE.XG0");
    EXPECT_TRUE(defs[1].options & ixDamaged);
    EXPECT_EQ(indexOptionsText(defs[1].options), "non-maintained, damaged");
    try {
        t->setIndexName("PEOPLE.XG0");
        ADD_FAILURE() << "a damaged index ordered the table";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Damaged);
    }
    EXPECT_THROW(t->setIndexFieldNames("NAME"), EngineError) << "no usable index on NAME";
    t->close();

    // The primary index: damaged, then stale (as a kill before the flush leaves it).
    const auto px = dir.path() / "PEOPLE.PX";
    for (const char* damage : {"truncated", "stale stamp"}) {
        SCOPED_TRACE(damage);
        auto p = bytesOf(px);
        if (std::string(damage) == "truncated") p.resize(0x40);
        else p[0x2C] ^= 0x55;
        writeBytes(px, p);
        auto w = open();
        EXPECT_EQ(walk(*w), (std::vector<std::string>{"meier/1", "Adler/2", "Zorn/3", "berg/4", "Adler/5"}))
            << "the walk goes by the data blocks, not by the index file";
        w->first();
        w->edit();
        w->fieldByName("CITY").setAsString("Kiel"); // not a key: a current index would stay
        w->post();
        w->close();
        const auto db = bytesOf(dir.path() / "PEOPLE.DB");
        const auto rebuilt = bytesOf(px);
        ASSERT_GT(rebuilt.size(), 0x58u);
        EXPECT_EQ(rebuilt[4], 1) << "a primary index file";
        EXPECT_EQ(rebuilt[0x2C], db[0x2D]) << "stamped with the table's change counter";
        EXPECT_GT(rebuilt.size(), 0x800u) << "the tree was written again";
    }
    auto d = open("", true);
    d->deleteIndex("PEOPLE.XG0");
    EXPECT_FALSE(std::filesystem::exists(xg0)) << "a damaged index can be dropped";
}

} // namespace
