// dBase files both ways: tables written by other programs read right, and tables this
// engine writes read right in Python's dbf, dbview and dbfread, with production index tags
// that Perl's XBase walks in the order their expressions give.
#include "DBaseTestSupport.h"

#include "../TestSupport.h"

#include "engine/CodePage.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

using Rows = std::vector<std::vector<std::string>>;

// Fixtures of the independent writers, made once and copied for each test that changes one.
class DBaseInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!missingPythonDbf().empty()) return;
        fixtures_ = new TempDir;
        makeFixtures(fixtures_->path());
    }
    static void TearDownTestSuite() {
        delete fixtures_;
        fixtures_ = nullptr;
    }
    void SetUp() override {
        if (const std::string why = missingPythonDbf(); !why.empty()) GTEST_SKIP() << why;
    }

    //! A private copy of a fixture table and its memo and index files.
    fs::path copyFixture(const std::string& name) {
        for (const auto& e : fs::directory_iterator(fixtures_->path()))
            if (e.path().stem() == fs::path(name).stem())
                fs::copy_file(e.path(), work_.path() / e.path().filename());
        return work_.path() / name;
    }

    static TempDir* fixtures_;
    TempDir work_;
    Session session_;
};

TempDir* DBaseInterop::fixtures_ = nullptr;

const std::string kLongMemo(700, 'x');

TEST_F(DBaseInterop, TablesOfOtherProgramsReadAsWritten) {
    std::string ivMemo;
    for (int i = 0; i < 60; ++i)
        ivMemo += "a longer memo ";
    const Rows dbase3 = {
        {"Müller", "12.5", "1970-01-02", "True", "Erste Zeile\r\nzweite Zeile äöü"},
        {"Zoë", "-3.25", "", "False", ""},
        {"Ångström", "1000", "1999-12-31", "", kLongMemo}};
    struct Case {
        const char* file;
        const char* what;
        Rows rows;
    } cases[] = {
        {"III_1252.DBF", "dBase III+ with memos, code page 1252 (byte 0x03), a deleted record",
         dbase3},
        {"III_850.DBF", "dBase III+ with memos, code page 850 (byte 0x02), a deleted record",
         dbase3},
        {"IV_MEMO.DBF",
         "dBase IV with a dBase IV memo file",
         {{"rec1", "first memo"}, {"rec2", ""}, {"rec3", ivMemo}}},
        {"FOX.DBF", "FoxPro 2 with an .FPT memo file", {{"fox", "7", "fox memo"}, {"box", "", ""}}},
        {"VFP.DBF",
         "Visual FoxPro: currency, datetime, integer, double, memo, a nullable field",
         {{"vfp", "1.2345", "2001-02-03 04:05:06", "42", "0.5", "vfp memo", ""},
          {"second", "-2", "", "-7", "-1.25", "", "set"}}},
        {"TAGS.DBF",
         "dBase table with a production index",
         {{"Nora", "12.5", "Bonn"},
          {"Anton", "-3.25", "Aue"},
          {"Berta", "100", "Celle"},
          {"Anton", "0", "Zeitz"},
          {"Carl", "7", "Bonn"}}},
    };
    for (const auto& c : cases) {
        auto t = tableOn(session_, fixtures_->path() / c.file);
        ASSERT_NO_THROW(t->open()) << c.what;
        EXPECT_EQ(t->recordCount(), static_cast<std::int64_t>(c.rows.size())) << c.what;
        EXPECT_EQ(readWithEngine(*t), c.rows) << c.what;
    }
}

TEST_F(DBaseInterop, FoxProTablesCannotBeChanged) {
    for (const char* name : {"FOX.DBF", "VFP.DBF"}) {
        const fs::path file = copyFixture(name);
        const auto before = readFileBytes(file);
        auto t = tableOn(session_, file);
        t->open();
        try {
            t->edit();
            t->fieldByName("NAME").setAsString("changed");
            t->post();
            FAIL() << name << ": a FoxPro table was changed";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find("FoxPro tables are read only"), std::string::npos)
                << e.what();
        }
        t->cancel();
        t->close();
        EXPECT_EQ(readFileBytes(file), before) << name;
    }
}

TEST_F(DBaseInterop, TagsOfAnotherProgramsIndexOrderTheTable) {
    if (const std::string why = missingPerlXBase(); !why.empty()) GTEST_SKIP() << why;
    auto t = tableOn(session_, fixtures_->path() / "TAGS.DBF");
    t->open();
    std::map<std::string, std::string> listed;
    for (const auto& ix : t->indexDefs())
        listed[ix.name] = ix.fields;
    EXPECT_EQ(listed, (std::map<std::string, std::string>{{"NAME", "NAME"}, {"AMOUNT", "AMOUNT"}}));
    for (const std::string tag : {"NAME", "AMOUNT"}) {
        const auto perl = tagOrderWithPerl(fixtures_->path() / "TAGS.MDX", tag);
        t->setIndexName(tag);
        std::vector<std::uint32_t> ours;
        for (t->first(); !t->eof(); t->next()) {
            const std::string name =
                t->fieldByName("NAME").asString() + "/" + t->fieldByName("CITY").asString();
            // Record numbers from the distinct name and city of each fixture record.
            const std::map<std::string, std::uint32_t> recno = {{"Nora/Bonn", 1},
                                                                {"Anton/Aue", 2},
                                                                {"Berta/Celle", 3},
                                                                {"Anton/Zeitz", 4},
                                                                {"Carl/Bonn", 5}};
            ours.push_back(recno.at(name));
        }
        EXPECT_EQ(ours, perl) << "tag " << tag << ": the engine's order and the index file's";
    }
}

// Changes through the engine to dBase III+ tables of Python's dbf: an edited memo that
// grows, a new record with a memo, a deleted record.
TEST_F(DBaseInterop, ChangedTablesReadRightInPythonDbfAndDbview) {
    const bool withDbview = missingDbview().empty();
    const std::string grown = "geändert " + std::string(600, 'g');
    for (const auto& [name, codePage] :
         {std::pair{"III_1252.DBF", "1252"}, std::pair{"III_850.DBF", "850"}}) {
        SCOPED_TRACE(name);
        const fs::path file = copyFixture(name);
        {
            auto t = tableOn(session_, file);
            t->open();
            t->first();
            t->edit();
            t->fieldByName("NOTE").setAsString(ansi(grown));
            t->fieldByName("AMOUNT").setAsString("99.99");
            t->post();
            t->append();
            t->fieldByName("NAME").setAsString(ansi("Neu ß"));
            t->fieldByName("AMOUNT").setAsString("5");
            t->fieldByName("BORN").setAsString("2020-02-29");
            t->fieldByName("OK").setAsString("True");
            t->fieldByName("NOTE").setAsString(ansi("neuer Vermerk"));
            t->post();
            for (t->first(); !t->eof(); t->next())
                if (t->fieldByName("NAME").asString() == ansi("Zoë")) break;
            t->deleteRecord();
            t->close();
        }
        const std::vector<ReaderRow> expected = {
            {false, {"Müller", "99.99", "1970-01-02", "T", grown}},
            {true, {"Zoë", "-3.25", "<null>", "F", ""}},
            {true, {"Gone", "1", "2001-02-03", "<null>", "memo of a deleted record"}},
            {false, {"Ångström", "1000", "1999-12-31", "<null>", kLongMemo}},
            {false, {"Neu ß", "5", "2020-02-29", "T", "neuer Vermerk"}},
        };
        EXPECT_EQ(readWithPythonDbf(file), expected);
        if (!withDbview) continue;
        // dbview shows the stored text of each field and a memo field's block number.
        const auto shown = readWithDbview(file, codePage);
        ASSERT_EQ(shown.size(), expected.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].deleted, expected[i].deleted) << "record " << i + 1;
            ASSERT_EQ(shown[i].values.size(), 5u);
            EXPECT_EQ(shown[i].values[0], expected[i].values[0]) << "record " << i + 1;
            EXPECT_EQ(std::stod(shown[i].values[1]), std::stod(expected[i].values[1]))
                << "record " << i + 1;
            // (Python's dbf gives an empty memo a block of its own, so only values are checked.)
            if (!expected[i].values[4].empty()) {
                EXPECT_FALSE(shown[i].values[4].empty())
                    << "record " << i + 1 << " has a memo block";
            }
        }
    }
    if (!withDbview)
        GTEST_SKIP() << "Python's dbf agreed; the dbview half needs it: " << missingDbview();
}

// New tables: dBase IV, the language driver of the program's code page; without memos
// version 0x03 (Python's dbf and dbview read it), with memos 0x8B and a dBase IV memo file
// (which those two refuse by design; dbfread reads it).
TEST_F(DBaseInterop, NewTablesReadRightInIndependentReaders) {
    if (const std::string why = missingDbfread(); !why.empty()) GTEST_SKIP() << why;
    struct Case {
        const char* file;
        int codePage;
        bool memo;
        std::uint8_t version, languageDriver;
    } cases[] = {
        {"NEW1252.DBF", 1252, false, 0x03, 0x57},
        {"NEW850.DBF", 850, false, 0x03, 0x37},
        {"NEWMEMO.DBF", 1252, true, 0x8B, 0x57},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Session session;
        session.setAnsiCodePage(c.codePage);
        const fs::path file = work_.path() / c.file;
        {
            auto t = tableOn(session, file);
            t->fieldDefs() = {{"NAME", FieldType::ftString, 20, false},
                              {"QTY", FieldType::ftInteger, 0, false},
                              {"PRICE", FieldType::ftFloat, 2, false},
                              {"DAY", FieldType::ftDate, 0, false},
                              {"FLAG", FieldType::ftBoolean, 0, false}};
            if (c.memo) t->fieldDefs().push_back({"NOTE", FieldType::ftMemo, 0, false});
            t->createTable();
            t->open();
            const char* names[] = {"Müller", "Zoë", "plain"};
            for (int i = 0; i < 3; ++i) {
                t->append();
                t->fieldByName("NAME").setAsString(fromUtf8(names[i], c.codePage));
                if (i != 1) {
                    t->fieldByName("QTY").setAsInteger(i * 1000 - 7);
                    t->fieldByName("PRICE").setAsString("12.5");
                    t->fieldByName("DAY").setAsString("2024-02-29");
                    t->fieldByName("FLAG").setAsString(i ? "True" : "False");
                    if (c.memo)
                        t->fieldByName("NOTE").setAsString(
                            fromUtf8("Vermerk ä " + std::to_string(i), c.codePage));
                }
                t->post();
            }
            t->first();
            t->next();
            t->deleteRecord();
        }
        const auto bytes = readFileBytes(file);
        EXPECT_EQ(bytes[0], c.version);
        EXPECT_EQ(bytes[29], c.languageDriver);
        std::vector<ReaderRow> expected = {
            {false, {"Müller", "-7", "12.5", "2024-02-29", "F"}},
            {true, {"Zoë", "<null>", "<null>", "<null>", "<null>"}},
            {false, {"plain", "1993", "12.5", "2024-02-29", "T"}},
        };
        if (c.memo) {
            expected[0].values.push_back("Vermerk ä 0");
            expected[1].values.push_back("<null>");
            expected[2].values.push_back("Vermerk ä 2");
            // dbfread lists the live records before the deleted ones.
            auto theirs = readWithDbfread(file);
            auto byContent = [](const ReaderRow& a, const ReaderRow& b) {
                return std::tie(a.deleted, a.values) < std::tie(b.deleted, b.values);
            };
            std::sort(theirs.begin(), theirs.end(), byContent);
            std::sort(expected.begin(), expected.end(), byContent);
            EXPECT_EQ(theirs, expected);
            continue;
        }
        EXPECT_EQ(readWithPythonDbf(file), expected);
        if (!missingDbview().empty()) continue;
        const auto shown = readWithDbview(file, std::to_string(c.codePage));
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_EQ(shown[0].values,
                  (std::vector<std::string>{"Müller", "-7", "12.50", "20240229", "F"}));
        EXPECT_TRUE(shown[1].deleted);
        EXPECT_EQ(shown[2].values,
                  (std::vector<std::string>{"plain", "1993", "12.50", "20240229", "T"}));
    }
    if (const std::string why = missingDbview(); !why.empty())
        GTEST_SKIP() << "Python's dbf and dbfread agreed; the dbview half needs it: " << why;
}

// The keys of the tags below, computed here from the values as dBase defines the
// expressions: character keys bytewise (UPPER() on ASCII and Latin-1 letters), numeric keys
// by value (blank = 0), date keys by day (blank first).
struct Person {
    std::string name, city; //!< Windows-1252
    double amount;          //!< NAN = blank
    std::string born;       //!< YYYY-MM-DD or ""
};

std::string upper1252(std::string s) {
    for (char& ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            ch = static_cast<char>(c - 32);
    }
    return s;
}

std::string padded(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

TEST_F(DBaseInterop, ProductionIndexTagsOrderRecordsAsTheirExpressions) {
    if (const std::string why = missingPerlXBase(); !why.empty()) GTEST_SKIP() << why;
    const fs::path file = work_.path() / "PEOPLE.DBF";
    std::vector<Person> people;
    const char* names[] = {"anna", "Bert", "\xe4rger", "Zoe",  "bert",
                           "Anna", "",     "\xc4pfel", "cara", "Dora"};
    const char* cities[] = {"Bonn", "Aue", "Celle", "Bonn", "", "Aue"};
    for (int i = 0; i < 40; ++i) {
        Person p;
        p.name = names[(i * 7) % 10];
        p.city = cities[(i * 5) % 6];
        p.amount = i % 9 == 0 ? NAN : ((i * 37) % 23 - 11) * 1.25;
        p.born = i % 7 == 0 ? ""
                            : std::to_string(1990 + (i * 13) % 30) + "-0" +
                                  std::to_string(1 + i % 9) + "-1" + std::to_string(i % 10);
        people.push_back(p);
    }
    {
        auto t = tableOn(session_, file);
        t->fieldDefs() = {{"NAME", FieldType::ftString, 12, false},
                          {"CITY", FieldType::ftString, 10, false},
                          {"AMOUNT", FieldType::ftFloat, 2, false},
                          {"BORN", FieldType::ftDate, 0, false}};
        t->indexDefs() = {{"BYNAME", "NAME", ixCaseInsensitive},
                          {"BYAMOUNT", "AMOUNT", 0},
                          {"BYBORN", "BORN", ixDescending},
                          {"BYCITY", "CITY;NAME", 0}};
        t->createTable();
        t->open();
        auto put = [&](const Person& p) {
            t->fieldByName("NAME").setAsString(p.name);
            t->fieldByName("CITY").setAsString(p.city);
            t->fieldByName("AMOUNT").setAsString(std::isnan(p.amount) ? ""
                                                                      : std::to_string(p.amount));
            t->fieldByName("BORN").setAsString(p.born);
        };
        for (const auto& p : people) {
            t->append();
            put(p);
            t->post();
        }
        // Changes to indexed fields after the records are in; deleted records keep their keys.
        people[3].amount = -100;
        people[3].name = "aaron";
        people[17].born = "2030-01-01";
        for (int recno : {4, 18}) {
            t->first();
            t->moveBy(recno - 1);
            t->edit();
            put(people[static_cast<std::size_t>(recno - 1)]);
            t->post();
        }
        t->first();
        t->moveBy(9);
        t->deleteRecord();
        t->close();
    }
    EXPECT_EQ(readFileBytes(file)[28], 1) << "the production index flag is set after the flush";

    auto order = [&](auto keyLess) {
        std::vector<std::uint32_t> recnos(people.size());
        for (std::size_t i = 0; i < recnos.size(); ++i)
            recnos[i] = static_cast<std::uint32_t>(i + 1);
        std::stable_sort(recnos.begin(), recnos.end(), [&](std::uint32_t a, std::uint32_t b) {
            return keyLess(people[a - 1], people[b - 1]);
        });
        return recnos;
    };
    auto amount = [](const Person& p) {
        return std::isnan(p.amount) ? 0.0 : std::round(p.amount * 100) / 100;
    };
    auto born = [](const Person& p) { return p.born; };
    const std::map<std::string, std::vector<std::uint32_t>> expected = {
        {"BYNAME", order([](const Person& a, const Person& b) {
             return padded(upper1252(a.name), 12) < padded(upper1252(b.name), 12);
         })},
        {"BYAMOUNT",
         order([&](const Person& a, const Person& b) { return amount(a) < amount(b); })},
        {"BYBORN", order([&](const Person& a, const Person& b) { return born(a) > born(b); })},
        {"BYCITY", order([](const Person& a, const Person& b) {
             return padded(a.city, 10) + padded(a.name, 12) <
                    padded(b.city, 10) + padded(b.name, 12);
         })},
    };
    auto t = tableOn(session_, file);
    t->open();
    for (const auto& [tag, recnos] : expected) {
        EXPECT_EQ(tagOrderWithPerl(work_.path() / "PEOPLE.MDX", tag), recnos) << "tag " << tag;
        // The engine orders the live records the same way.
        t->setIndexName(tag);
        std::vector<std::string> ours, theirs;
        for (t->first(); !t->eof(); t->next())
            ours.push_back(t->fieldByName("NAME").asString() + "|" +
                           t->fieldByName("CITY").asString());
        for (std::uint32_t r : recnos)
            if (r != 10) theirs.push_back(people[r - 1].name + "|" + people[r - 1].city);
        EXPECT_EQ(ours, theirs) << "the engine's order by tag " << tag;
    }
}

} // namespace
