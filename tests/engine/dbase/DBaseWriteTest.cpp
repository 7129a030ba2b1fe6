// The dBase driver on tables the engine makes: deleted records, memo files of both styles,
// values that do not fit, stored bytes kept, the production index marked stale until the
// flush, tags added and dropped, what dBase cannot do refused.
#include "DBaseTestSupport.h"

#include "../TestSupport.h"

#include "engine/CodePage.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

class DBaseWrite : public ::testing::Test {
protected:
    //! A new table with a character, a number and (when asked) a memo field.
    fs::path create(const std::string& name, bool memo, std::vector<IndexDef> indexes = {}) {
        const fs::path file = dir.path() / name;
        auto t = tableOn(session, file);
        t->fieldDefs() = {{"NAME", FieldType::ftString, 12, false},
                          {"QTY", FieldType::ftInteger, 0, false}};
        if (memo) t->fieldDefs().push_back({"NOTE", FieldType::ftMemo, 0, false});
        t->indexDefs() = std::move(indexes);
        t->createTable();
        return file;
    }

    void fill(const fs::path& file, int n) {
        auto t = tableOn(session, file);
        t->open();
        for (int i = 1; i <= n; ++i) {
            t->append();
            t->fieldByName("NAME").setAsString("r" + std::to_string(i));
            t->fieldByName("QTY").setAsInteger(i);
            t->post();
        }
    }

    std::vector<std::string> names(Table& t) {
        std::vector<std::string> out;
        for (t.first(); !t.eof(); t.next())
            out.push_back(t.fieldByName("NAME").asString());
        return out;
    }

    // Expects an EngineError whose message holds the text, and the file unchanged.
    template <class F>
    void expectRefused(const fs::path& file, const std::string& text, F&& action,
                       const std::string& what) {
        const auto before = readFileBytes(file);
        try {
            action();
            ADD_FAILURE() << what << ": not refused";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos)
                << what << ": " << e.what();
        }
        EXPECT_EQ(readFileBytes(file), before) << what << ": the table changed";
    }

    TempDir dir;
    Session session;
};

TEST_F(DBaseWrite, DeletedRecordsAreHiddenFromWalksCountsAndPositions) {
    const fs::path file = create("DEL.DBF", false);
    fill(file, 8);
    auto t = tableOn(session, file);
    t->open();
    for (const std::string victim : {"r1", "r4", "r5", "r8"}) {
        for (t->first(); t->fieldByName("NAME").asString() != victim; t->next()) {
        }
        t->deleteRecord();
    }
    EXPECT_EQ(t->recordCount(), 4);
    EXPECT_EQ(names(*t), (std::vector<std::string>{"r2", "r3", "r6", "r7"}));
    t->last();
    EXPECT_EQ(t->fieldByName("NAME").asString(), "r7");
    EXPECT_EQ(t->recNo(), 4);
    t->moveBy(-2);
    EXPECT_EQ(t->fieldByName("NAME").asString(), "r3");
    EXPECT_EQ(t->recNo(), 2);
    t->close();
    // The records stay in the file, marked.
    const auto bytes = readFileBytes(file);
    const std::size_t header = bytes[8] | (bytes[9] << 8), length = bytes[10] | (bytes[11] << 8);
    EXPECT_EQ(bytes[4], 8) << "the header still counts every record";
    for (int r : {0, 3, 4, 7})
        EXPECT_EQ(bytes[header + static_cast<std::size_t>(r) * length], '*') << "record " << r + 1;
    EXPECT_EQ(bytes.back(), 0x1A);
    t->open();
    EXPECT_EQ(names(*t), (std::vector<std::string>{"r2", "r3", "r6", "r7"}));
    t->first();
    for (int i = 0; i < 4; ++i)
        t->deleteRecord();
    EXPECT_TRUE(t->isEmpty());
    EXPECT_THROW(t->deleteRecord(), EngineError);
}

// Memo values of every size in both memo styles: III+ appends each new value; IV puts a
// value into blocks given up by the one it replaced.
TEST_F(DBaseWrite, MemoValuesRoundTripInBothStyles) {
    const fs::path iv = create("MEMO4.DBF", true);
    const fs::path iii = dir.path() / "MEMO3.DBF";
    {
        // A dBase III+ table: the IV one with its version byte and memo header changed.
        fs::copy_file(iv, iii);
        auto b = readFileBytes(iii);
        b[0] = 0x83;
        writeFileBytes(iii, b);
        std::vector<std::uint8_t> head(512, 0);
        head[0] = 1;
        writeFileBytes(dir.path() / "MEMO3.DBT", head);
    }
    const std::string sizes[] = {
        "a", std::string(504, 'b'), std::string(505, 'c'), std::string(3000, 'd'),
        "",  "line\r\nnext \xe4"};
    for (const fs::path& file : {iv, iii}) {
        SCOPED_TRACE(file.filename().string());
        auto t = tableOn(session, file);
        t->open();
        for (const auto& v : sizes) {
            t->append();
            t->fieldByName("NAME").setAsString(std::to_string(v.size()));
            t->fieldByName("NOTE").setAsString(v);
            t->post();
        }
        t->close();
        t->open();
        int i = 0;
        for (t->first(); !t->eof(); t->next(), ++i)
            EXPECT_EQ(t->fieldByName("NOTE").asString(), sizes[i]) << "value " << i;
        // Replacing the 3000-byte value again and again: dBase IV reuses its blocks.
        const auto memoSize = [&] {
            return fs::file_size(fs::path(file).replace_extension(".DBT"));
        };
        t->first();
        t->moveBy(3);
        for (int round = 0; round < 5; ++round) {
            t->edit();
            t->fieldByName("NOTE").setAsString(std::string(3000, static_cast<char>('k' + round)));
            t->post();
        }
        const auto after = memoSize();
        t->edit();
        t->fieldByName("NOTE").setAsString(std::string(2000, 'z'));
        t->post();
        t->edit();
        t->fieldByName("NOTE").setAsString(std::string(2900, 'y'));
        t->post();
        if (file == iv)
            EXPECT_EQ(memoSize(), after) << "freed blocks are used again";
        else
            EXPECT_GT(memoSize(), after) << "dBase III+ never reuses memo space";
        EXPECT_EQ(t->fieldByName("NOTE").asString(), std::string(2900, 'y'));
        t->close();
        t->open();
        i = 0;
        for (t->first(); !t->eof(); t->next(), ++i)
            EXPECT_EQ(t->fieldByName("NOTE").asString(), i == 3 ? std::string(2900, 'y') : sizes[i])
                << "value " << i;
    }
}

TEST_F(DBaseWrite, TextUnfitForTheFieldNamesValueAndField) {
    const fs::path file = dir.path() / "FIT.DBF";
    {
        auto t = tableOn(session, file);
        t->fieldDefs() = {{"SMALL", FieldType::ftSmallint, 0, false},
                          {"PRICE", FieldType::ftFloat, 2, false},
                          {"DAY", FieldType::ftDate, 0, false},
                          {"FLAG", FieldType::ftBoolean, 0, false},
                          {"NAME", FieldType::ftString, 4, false}};
        t->createTable();
    }
    struct Case {
        const char* field;
        const char* text;
        const char* stored; //!< nullptr: refused
    } cases[] = {
        {"SMALL", "123456", "123456"},
        {"SMALL", "1234567", nullptr},
        {"SMALL", "abc", nullptr},
        {"PRICE", "12.345", "12.35"},
        {"PRICE", "-0.001", "0"},
        {"PRICE", "1e30", nullptr},
        {"DAY", "2024-02-30", nullptr},
        {"DAY", "1999-12-31", "1999-12-31"},
        {"FLAG", "maybe", nullptr},
        {"NAME", "truncated", "trun"},
        {"SMALL", "", ""},
    };
    auto t = tableOn(session, file);
    t->open();
    t->append();
    t->post();
    for (const auto& c : cases) {
        t->edit();
        if (!c.stored) {
            try {
                t->fieldByName(c.field).setAsString(c.text);
                ADD_FAILURE() << c.field << " took '" << c.text << "'";
            } catch (const EngineError& e) {
                EXPECT_EQ(e.kind(), ErrorKind::BadValue) << e.what();
                EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
            }
            t->cancel();
            continue;
        }
        t->fieldByName(c.field).setAsString(c.text);
        t->post();
        EXPECT_EQ(t->fieldByName(c.field).asString(), c.stored) << c.field << " = " << c.text;
    }
}

// A DOS table: a post writes back the bytes of every field it did not set, also characters
// the program's code page cannot show.
TEST_F(DBaseWrite, UntouchedFieldsKeepTheirStoredBytes) {
    Session dos;
    dos.setAnsiCodePage(850);
    const fs::path file = dir.path() / "DOS.DBF";
    {
        auto t = tableOn(dos, file);
        t->fieldDefs() = {{"BOX", FieldType::ftString, 6, false},
                          {"NAME", FieldType::ftString, 6, false}};
        t->createTable();
        t->open();
        t->append();
        t->fieldByName("BOX").setAsString("\xc4\xcd\xb3"); // box drawing in code page 850
        t->fieldByName("NAME").setAsString("\x81");        // ü
        t->post();
    }
    session.conversionLosses() = 0;
    auto t = tableOn(session, file);
    t->open();
    EXPECT_EQ(t->fieldByName("BOX").asString(), "???");
    EXPECT_EQ(t->fieldByName("NAME").asString(), "\xfc") << "ü in 1252";
    EXPECT_EQ(session.conversionLosses(), 3u);
    t->edit();
    t->fieldByName("NAME").setAsString("\xe9\xfc"); // éü
    t->post();
    t->close();
    const auto bytes = readFileBytes(file);
    const std::size_t header = bytes[8] | (bytes[9] << 8);
    EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(header) + 1,
                          bytes.begin() + static_cast<std::ptrdiff_t>(header) + 13),
              std::string("\xc4\xcd\xb3   \x82\x81    ", 12));
}

// Character fields as other programs pad them: blanks, NULs or both at the end, whatever
// their length; blanks inside a value and at its start stay.
TEST_F(DBaseWrite, CharacterValuesLoseOnlyTheirPaddingAtTheEnd) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string(20, ' '), ""},
        {std::string(20, '\0'), ""},
        {"Hamburg" + std::string(13, ' '), "Hamburg"},
        {"Hamburg" + std::string(13, '\0'), "Hamburg"},
        {"abc" + std::string(1, '\0') + std::string(16, ' '), "abc"},
        {"abc" + std::string(16, ' ') + std::string(1, '\0'), "abc"},
        {"New York        City", "New York        City"},
        {"  twelve chars" + std::string(6, ' '), "  twelve chars"},
        {"x" + std::string(19, ' '), "x"},
        {std::string(19, ' ') + "y", std::string(19, ' ') + "y"},
    };
    const fs::path file = dir.path() / "PADDED.DBF";
    {
        auto t = tableOn(session, file);
        t->fieldDefs() = {{"CITY", FieldType::ftString, 20, false}};
        t->createTable();
        t->open();
        for (std::size_t i = 0; i < cases.size(); ++i) {
            t->append();
            t->fieldByName("CITY").setAsString("-");
            t->post();
        }
    }
    auto bytes = readFileBytes(file);
    const std::size_t header = bytes[8] | (bytes[9] << 8);
    for (std::size_t i = 0; i < cases.size(); ++i)
        std::memcpy(&bytes[header + i * 21 + 1], cases[i].first.data(), 20);
    writeFileBytes(file, bytes);
    auto t = tableOn(session, file);
    t->open();
    std::size_t i = 0;
    for (t->first(); !t->eof(); t->next(), ++i)
        EXPECT_EQ(t->fieldByName("CITY").asString(), cases.at(i).second) << "case " << i;
    EXPECT_EQ(i, cases.size());
}

TEST_F(DBaseWrite, CreatingReplacesAnOlderTableAndItsFamily) {
    const fs::path file = create("OLD.DBF", true, {{"BYNAME", "NAME", 0}});
    fill(file, 3);
    std::vector<std::uint8_t> stray = {1, 2, 3};
    writeFileBytes(dir.path() / "OLD.mdx", stray); // a companion in another case goes too
    writeFileBytes(dir.path() / "OLDER.DBT", stray);
    const fs::path again = create("OLD.DBF", false);
    auto t = tableOn(session, again);
    t->open();
    EXPECT_EQ(t->recordCount(), 0);
    EXPECT_TRUE(t->indexDefs().empty());
    EXPECT_FALSE(fs::exists(dir.path() / "OLD.DBT"));
    EXPECT_FALSE(fs::exists(dir.path() / "OLD.mdx"));
    EXPECT_TRUE(fs::exists(dir.path() / "OLDER.DBT")) << "another table's file stays";
    // A table open in another program is not replaced.
    Session other;
    auto held = tableOn(other, again);
    held->open();
    EXPECT_THROW(create("OLD.DBF", false), EngineError);
}

TEST_F(DBaseWrite, PrimaryIndexesAreRefusedWithAClearMessage) {
    const fs::path file = create("PRIM.DBF", false);
    fill(file, 2);
    expectRefused(
        file, "no primary index",
        [&] {
            auto t = tableOn(session, file);
            t->addIndex("", "NAME", ixPrimary);
        },
        "adding a primary index");
    expectRefused(
        file, "no primary index",
        [&] {
            auto t = tableOn(session, file, true);
            t->open();
            t->deleteIndex("");
        },
        "dropping the primary index");
    auto t = tableOn(session, dir.path() / "PRIM2.DBF");
    t->fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}};
    t->indexDefs() = {{"", "ID", ixPrimary | ixUnique}};
    EXPECT_THROW(t->createTable(), EngineError);
    EXPECT_FALSE(fs::exists(dir.path() / "PRIM2.DBF"));
}

// Until the flush writes the index anew, the header tells readers not to use it; changes
// to fields no tag reads leave it valid.
TEST_F(DBaseWrite, ProductionIndexIsMarkedStaleUntilTheFlush) {
    const fs::path file = create("STALE.DBF", false, {{"BYNAME", "NAME", 0}});
    fill(file, 3);
    const fs::path mdx = dir.path() / "STALE.MDX";
    auto flagOnDisk = [&] { return readFileBytes(file)[28]; };
    ASSERT_EQ(flagOnDisk(), 1);
    auto t = tableOn(session, file);
    t->open();
    t->first();
    t->edit();
    t->fieldByName("QTY").setAsInteger(77);
    t->post();
    EXPECT_EQ(flagOnDisk(), 1) << "a field no tag reads";
    const auto indexBefore = readFileBytes(mdx);
    t->edit();
    t->fieldByName("NAME").setAsString("zz");
    t->post();
    EXPECT_EQ(flagOnDisk(), 0) << "a tag's field changed: the index is stale";
    EXPECT_EQ(readFileBytes(mdx), indexBefore) << "written only at the flush";
    t->close();
    EXPECT_EQ(flagOnDisk(), 1);
    EXPECT_NE(readFileBytes(mdx), indexBefore);
    t->open();
    t->setIndexName("BYNAME");
    EXPECT_EQ(names(*t), (std::vector<std::string>{"r2", "r3", "zz"}));

    // A writer stopped between the change and the flush leaves the flag off: the next
    // writer's flush writes the index and sets it again.
    t->close();
    auto b = readFileBytes(file);
    b[28] = 0;
    writeFileBytes(file, b);
    t->open();
    EXPECT_EQ(t->indexDefs().size(), 1u) << "the tags are still listed";
    t->setIndexName("BYNAME");
    t->first();
    t->edit();
    t->fieldByName("QTY").setAsInteger(1);
    t->post();
    t->close();
    EXPECT_EQ(flagOnDisk(), 1);
}

TEST_F(DBaseWrite, TagsAreAddedAndDroppedOnTheExclusiveTable) {
    const fs::path file = create("TAGS.DBF", false);
    fill(file, 4);
    auto t = tableOn(session, file);
    t->addIndex("_NAME&QTY_IS_LONG", "NAME;QTY", ixCaseInsensitive);
    t->addIndex("BYQTY", "QTY", ixDescending);
    t->addIndex("", "UPPER(NAME)+STR(QTY,5)", ixExpression);
    t->updateIndexDefs();
    ASSERT_EQ(t->indexDefs().size(), 3u);
    EXPECT_EQ(t->indexDefs()[0].name, "_NAME_QTY_") << "cut to ten characters a tag name may hold";
    EXPECT_EQ(t->indexDefs()[0].options & ixExpression, ixExpression)
        << "mixed types need an expression";
    EXPECT_EQ(t->indexDefs()[1].fields, "QTY");
    EXPECT_EQ(t->indexDefs()[1].options, unsigned(ixDescending));
    EXPECT_EQ(readFileBytes(file)[32 + 32 + 31], 1) << "QTY's descriptor says it has a tag";
    t->setIndexName(t->indexDefs()[2].name);
    EXPECT_THROW(t->open(), EngineError) << "an expression index cannot order the table";
    t->setIndexName("BYQTY");
    t->open();
    EXPECT_EQ(names(*t), (std::vector<std::string>{"r4", "r3", "r2", "r1"}));
    EXPECT_THROW(t->deleteIndex("BYQTY"), EngineError) << "only on an exclusive table";
    t->close();
    t->setIndexName("");
    t->setExclusive(true);
    t->open();
    for (const auto& ix : std::vector<IndexDef>(t->indexDefs()))
        t->deleteIndex(ix.name);
    EXPECT_THROW(t->deleteIndex("NOSUCH"), EngineError);
    t->close();
    EXPECT_FALSE(fs::exists(dir.path() / "TAGS.MDX"))
        << "the last tag takes the index file with it";
    EXPECT_EQ(readFileBytes(file)[28], 0);
    EXPECT_EQ(readFileBytes(file)[32 + 32 + 31], 0);
}

// A tag whose expression the engine cannot evaluate would go stale: changes are refused
// and leave the files as they were; dropping that tag makes the table writable again.
TEST_F(DBaseWrite, TagsThatCannotBeKeptBlockChanges) {
    const fs::path file = create("ODD.DBF", false, {{"BYNAME", "NAME", 0}});
    fill(file, 2);
    const fs::path mdx = dir.path() / "ODD.MDX";
    auto b = readFileBytes(mdx);
    const std::size_t tagHeader = (b[544] | (b[545] << 8)) * 512u;
    const char odd[] = "SOUNDEX(NAME)";
    std::memcpy(&b[tagHeader + 24], odd, sizeof odd);
    writeFileBytes(mdx, b);
    expectRefused(
        file, "SOUNDEX(NAME)",
        [&] {
            auto t = tableOn(session, file);
            t->open();
            t->append();
            t->fieldByName("NAME").setAsString("new");
            t->post();
        },
        "a post");
    auto t = tableOn(session, file, true);
    t->open();
    EXPECT_TRUE(t->indexDefs()[0].options & ixExpression);
    t->deleteIndex("BYNAME");
    t->append();
    t->fieldByName("NAME").setAsString("new");
    EXPECT_NO_THROW(t->post());
}

// dBase 7: binary numbers stored so that their bytes sort like their values (the sheet's
// worked examples), read only.
TEST_F(DBaseWrite, DBase7BinaryTypesReadAsTheSheetGives) {
    std::vector<std::uint8_t> b(68 + 48 * 3 + 1, 0);
    b[0] = 0x04;
    const int lengths[] = {4, 8, 5};
    const char types[] = {'I', '@', 'C'};
    const char* fieldNames[] = {"COUNT", "STAMP", "NAME"};
    int recordLength = 1;
    for (int i = 0; i < 3; ++i) {
        std::uint8_t* d = &b[68 + 48 * static_cast<std::size_t>(i)];
        std::memcpy(d, fieldNames[i], std::strlen(fieldNames[i]));
        d[32] = static_cast<std::uint8_t>(types[i]);
        d[33] = static_cast<std::uint8_t>(lengths[i]);
        recordLength += lengths[i];
    }
    b[68 + 48 * 3] = 0x0D;
    b[4] = 3;
    b[8] = static_cast<std::uint8_t>(b.size());
    b[9] = static_cast<std::uint8_t>(b.size() >> 8);
    b[10] = static_cast<std::uint8_t>(recordLength);
    const std::vector<std::vector<std::uint8_t>> records = {
        {' ', 0x80, 0, 0, 1, 0x42, 0xCC, 0xAF, 0xC2, 0x5B, 0x07, 0, 0, 'a', ' ', ' ', ' ', ' '},
        {' ', 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 'b', ' ', ' ', ' ', ' '},
        {' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ' ', ' ', ' ', ' ', ' '},
    };
    for (const auto& r : records)
        b.insert(b.end(), r.begin(), r.end());
    b.push_back(0x1A);
    const fs::path file = dir.path() / "LEVEL7.DBF";
    writeFileBytes(file, b);
    auto t = tableOn(session, file);
    t->open();
    EXPECT_EQ(readWithEngine(*t),
              (std::vector<std::vector<std::string>>{
                  {"1", "2000-01-01 12:00:00", "a"}, {"-1", "", "b"}, {"", "", ""}}));
    t->first();
    EXPECT_THROW(
        {
            t->edit();
            t->fieldByName("NAME").setAsString("x");
            t->post();
        },
        EngineError);
}

// Single index files of dBase III+ (the table's own NAME.NDX and those NAME.INF lists) are
// listed by their definitions; this engine does not keep them, so changes are refused until
// they are dropped.
TEST_F(DBaseWrite, SingleIndexFilesAreListedAndBlockChangesUntilDropped) {
    const fs::path file = create("NDXT.DBF", false);
    fill(file, 2);
    auto ndx = [&](const std::string& name, const std::string& expression, std::uint8_t keyLength) {
        std::vector<std::uint8_t> b(1024, 0);
        b[0] = 1;          // root page
        b[4] = 2;          // pages
        b[12] = keyLength; // key length
        b[14] = 24;        // keys per page
        b[18] = static_cast<std::uint8_t>((keyLength + 8 + 3) / 4 * 4);
        std::memcpy(&b[24], expression.data(), expression.size());
        writeFileBytes(dir.path() / name, b);
    };
    ndx("NDXT.NDX", "NAME", 12);
    ndx("OTHER.NDX", "QTY", 8);
    std::ofstream(dir.path() / "NDXT.INF") << "[dBase III]\r\nNDX1=OTHER.NDX\r\n";
    auto t = tableOn(session, file, true);
    t->open();
    ASSERT_EQ(t->indexDefs().size(), 2u);
    EXPECT_EQ(t->indexDefs()[0].name, "NDXT");
    EXPECT_EQ(t->indexDefs()[0].fields, "NAME");
    EXPECT_EQ(t->indexDefs()[1].name, "OTHER");
    EXPECT_EQ(t->indexDefs()[1].fields, "QTY");
    EXPECT_TRUE(t->indexDefs()[1].options & ixNonMaintained);
    t->close();
    expectRefused(
        file, "NDXT.NDX would not be kept up to date",
        [&] {
            t->open();
            t->first();
            t->edit();
            t->fieldByName("QTY").setAsInteger(5);
            t->post();
        },
        "a post beside single index files");
    t->cancel();
    t->deleteIndex("NDXT");
    t->deleteIndex("OTHER");
    EXPECT_FALSE(fs::exists(dir.path() / "OTHER.NDX"));
    t->edit();
    t->fieldByName("QTY").setAsInteger(5);
    EXPECT_NO_THROW(t->post());
}

TEST_F(DBaseWrite, TableListNamesDBaseAndTextTablesWithTheirExtension) {
    for (const char* name :
         {"PDX.DB", "Kunden.dbf", "ORDERS.DBF", "LIST.TXT", "list.sch", "ORPHAN.TXT", "NOTES.DBT"})
        writeFileBytes(dir.path() / name, {0});
    session.addStandardAlias("W", dir.path());
    EXPECT_EQ(session.tableNames("W"),
              (std::vector<std::string>{"Kunden.dbf", "LIST.TXT", "ORDERS.DBF", "PDX"}));
}

} // namespace
