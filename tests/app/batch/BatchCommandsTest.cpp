// fieldsmith-batch's table commands: describe with fields and indexes, and the CSV dump
// with its quoting, value formats and index order.
#include "app/batch/BatchCommands.h"

#include "../AppTestSupport.h"
#include "engine/Session.h"
#include "engine/EngineError.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace fieldsmith;
using engine::FieldType;

namespace {

class BatchCommands : public ::testing::Test {
protected:
    BatchCommands() {
        session.addStandardAlias("WORK", dir.path());
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("MIX");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"NAME", FieldType::ftString, 20},
                         {"DAY", FieldType::ftDate},
                         {"AT", FieldType::ftTime},
                         {"STAMP", FieldType::ftDateTime},
                         {"AMOUNT", FieldType::ftFloat},
                         {"OK", FieldType::ftBoolean},
                         {"NOTE", FieldType::ftMemo, 5},
                         {"PIC", FieldType::ftBlob, 0}};
        t.indexDefs() = {{"", "ID", engine::ixPrimary}, {"ByName", "NAME", engine::ixCaseInsensitive}};
        t.createTable();
        t.open();
        auto row = [&](const char* id, const char* name, const char* day, const char* at,
                       const char* stamp, const char* amount, const char* ok, const std::string& note,
                       const std::string& pic) {
            t.insert();
            t.fieldByName("ID").setAsString(id);
            t.fieldByName("NAME").setAsString(name);
            t.fieldByName("DAY").setAsString(day);
            t.fieldByName("AT").setAsString(at);
            t.fieldByName("STAMP").setAsString(stamp);
            t.fieldByName("AMOUNT").setAsString(amount);
            t.fieldByName("OK").setAsString(ok);
            t.fieldByName("NOTE").setAsString(note);
            t.fieldByName("PIC").setAsString(pic);
            t.post();
        };
        row("1", "zeta, \"the\" last", "2024-02-29", "07:05:09", "2020-02-01 01:00:01", "1234.5",
            "True", "line one\r\nline two", "\x01\x02\x03");
        row("2", "\xC4rger", "", "", "", "-0.25", "False", "", "");
        row("3", "alpha", "1999-12-31", "23:59:59", "1999-12-31", "0", "", "short", "");
    }

    std::string dump(const std::string& indexFields = "") {
        engine::Table t(session);
        batch::aimTable(t, {"WORK", "MIX"});
        t.setIndexFieldNames(indexFields);
        t.open();
        std::ostringstream out;
        EXPECT_EQ(batch::dumpTable(t, out), batch::kExitOk);
        return out.str();
    }

    apptest::TempDir dir;
    engine::Session session;
};

TEST_F(BatchCommands, DumpIsUtf8CsvWithIsoValues) {
    EXPECT_EQ(dump(),
              "ID,NAME,DAY,AT,STAMP,AMOUNT,OK,NOTE,PIC\r\n"
              "1,\"zeta, \"\"the\"\" last\",2024-02-29,07:05:09,2020-02-01 01:00:01,1234.5,True,"
              "\"line one\r\nline two\",<3 bytes>\r\n"
              "2,\xC3\x84rger,,,,-0.25,False,,\r\n"
              "3,alpha,1999-12-31,23:59:59,1999-12-31 00:00:00,0,,short,\r\n");
}

TEST_F(BatchCommands, DumpWalksInTheOrderOfTheGivenIndex) {
    const std::string byName = dump("NAME");
    const auto alpha = byName.find("\r\n3,alpha");
    const auto aerger = byName.find("\r\n2,\xC3\x84rger");
    const auto zeta = byName.find("\r\n1,\"zeta");
    ASSERT_NE(alpha, std::string::npos);
    EXPECT_LT(alpha, zeta) << "case-insensitive name order";
    EXPECT_LT(zeta, aerger) << "the A-umlaut sorts after the ASCII letters";
}

TEST_F(BatchCommands, DescribeListsFieldsAndIndexes) {
    engine::Table t(session);
    batch::aimTable(t, {(dir.path() / "MIX.DB").string()});
    t.open();
    std::ostringstream out;
    batch::describeTable(t, out);
    const std::string text = out.str();
    for (const char* expected : {"  1\tID\tftInteger\t0\trequired\n", "  2\tNAME\tftString\t20\t\n",
                                 "  8\tNOTE\tftMemo\t5\t\n", "  (primary)\tID\tprimary, unique\n",
                                 "  ByName\tNAME\tcase-insensitive\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
}

// A table of a server database has no file: it is named by its alias.
TEST_F(BatchCommands, DescribeNamesAServerTableByItsAlias) {
    const auto file = (dir.path() / "shop.sqlite").string();
    std::ofstream{file}; // an empty file is an empty SQLite database
    session.addAlias("SHOP", {{"TYPE", "SQLITE"}, {"SERVER NAME", file}});
    engine::Table made(session);
    made.setDatabaseName("SHOP");
    made.setTableName("items");
    made.fieldDefs() = {{"id", FieldType::ftInteger, 0, true}, {"name", FieldType::ftString, 20}};
    made.indexDefs() = {{"", "id", engine::ixPrimary}};
    made.createTable();
    engine::Table t(session);
    batch::aimTable(t, {"SHOP", "items"});
    t.open();
    std::ostringstream out;
    EXPECT_EQ(batch::describeTable(t, out), batch::kExitOk);
    const std::string text = out.str();
    for (const char* expected : {"Table items of SHOP\n", "  2\tname\tftString\t20\t\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
}

TEST_F(BatchCommands, AnEmptyNameIsRefusedInPlainWords) {
    for (std::vector<std::string> where : {std::vector<std::string>{""}, {"WORK", ""}, {"", "MIX"}}) {
        engine::Table t(session);
        try {
            batch::aimTable(t, where);
            t.open();
            ADD_FAILURE() << "opened";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(std::string(e.what()), "An empty alias or table name was given");
        }
    }
}

TEST(BatchQuoting, Rfc4180) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"plain", "plain"},        {"a,b", "\"a,b\""},       {"say \"hi\"", "\"say \"\"hi\"\"\""},
                 {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""}, {"", ""}};
    for (const auto& c : cases) EXPECT_EQ(batch::csvQuote(c.in), c.out) << c.in;
}

} // namespace
