// fieldsmith-batch on dBase and text tables, run as the program itself: tables, describe,
// dump in a tag's order, and a page run that changes them or is refused with the driver's
// message.
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/BatchProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

#ifndef FIELDSMITH_BATCH
#define FIELDSMITH_BATCH "fieldsmith-batch"
#endif

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;

namespace {

class BatchFormats : public ::testing::Test {
protected:
    BatchFormats() {
        std::ofstream(home.path() / "aliases.ini")
            << "[WORK]\nTYPE=STANDARD\nPATH=" << dir.path().string() << "\n";
        engine::Session session;
        engine::Table t(session);
        t.setTableName((dir.path() / "PEOPLE.DBF").string());
        t.fieldDefs() = {{"NAME", FieldType::ftString, 10, false},
                         {"CITY", FieldType::ftString, 10, false},
                         {"NOTE", FieldType::ftMemo, 0, false}};
        t.indexDefs() = {{"BYNAME", "NAME", engine::ixCaseInsensitive}};
        t.createTable();
        t.open();
        for (const auto& [name, city] :
             {std::pair{"zora", "Bonn"}, {"Adam", "Berlin"}, {"bea", "Bonn"}}) {
            t.append();
            t.fieldByName("NAME").setAsString(name);
            t.fieldByName("CITY").setAsString(city);
            t.fieldByName("NOTE").setAsString(std::string(name) + " note");
            t.post();
        }
        const std::string fields =
            "Field1=PARTNO,LONGINT,08,00,00\r\nField2=DESCR,CHAR,20,00,08\r\n";
        std::ofstream(dir.path() / "PARTS.SCH", std::ios::binary)
            << "[PARTS]\r\nFILETYPE=FIXED\r\nCHARSET=ANSIINTL\r\n"
            << fields;
        std::ofstream(dir.path() / "PARTS.TXT", std::ios::binary)
            << "    1001Hex bolt M6         \r\n    1002Washer 6mm          \r\n";
        std::ofstream(dir.path() / "PARTSV.SCH", std::ios::binary)
            << "[PARTSV]\r\nFILETYPE=VARYING\r\nCHARSET=ANSIINTL\r\nDELIMITER=\"\r\nSEPARATOR=,\r\n"
            << fields;
        std::ofstream(dir.path() / "PARTSV.TXT", std::ios::binary)
            << "1001,\"Hex bolt M6\"\r\n1002,\"Washer 6mm\"\r\n";
    }

    //! Runs fieldsmith-batch with these arguments; standard error goes to err.
    std::string batch(const std::string& args, int& status) {
        auto r = test::runBatchProgram(FIELDSMITH_BATCH, home.path(), args);
        status = r.status;
        err = std::move(r.err);
        return std::move(r.out);
    }
    std::string batch(const std::string& args) {
        int status = 0;
        std::string out = batch(args, status);
        EXPECT_EQ(status, 0) << args << ": " << err;
        return out;
    }

    TempDir dir, home;
    std::string err;
};

TEST_F(BatchFormats, TablesDescribeAndDump) {
    EXPECT_EQ(batch("tables WORK"), "PARTS.TXT\nPARTSV.TXT\nPEOPLE.DBF\n");
    const std::string described = batch("describe WORK PEOPLE.DBF");
    for (const char* expected : {"  1\tNAME\tftString\t10\t\n", "  3\tNOTE\tftMemo\t0\t\n",
                                 "  BYNAME\tNAME\tcase-insensitive\n"})
        EXPECT_NE(described.find(expected), std::string::npos) << expected << " in\n" << described;
    EXPECT_EQ(
        batch("dump WORK PEOPLE.DBF --index BYNAME"),
        "NAME,CITY,NOTE\r\nAdam,Berlin,Adam note\r\nbea,Bonn,bea note\r\nzora,Bonn,zora note\r\n")
        << "in the tag's order";
    EXPECT_EQ(batch("dump WORK PEOPLE.DBF --index NAME"),
              batch("dump WORK PEOPLE.DBF --index BYNAME"))
        << "the tag found by its field";
    EXPECT_EQ(batch("dump '" + (dir.path() / "PARTSV.TXT").string() + "'"),
              "PARTNO,DESCR\r\n1001,Hex bolt M6\r\n1002,Washer 6mm\r\n");
}

TEST_F(BatchFormats, PageRunsChangeDBaseAndFixedTextTables) {
    batch("run Seite2 Change1Alias=WORK Change1Table=PEOPLE.DBF Change1Field=CITY vonEdit2=Bonn "
          "zuEdit2=Koeln --yes");
    EXPECT_EQ(batch("dump WORK PEOPLE.DBF"),
              "NAME,CITY,NOTE\r\nzora,Koeln,zora note\r\nAdam,Berlin,Adam note\r\nbea,Koeln,bea "
              "note\r\n");
    batch("run Seite2 Change1Alias=WORK Change1Table=PARTS.TXT Change1Field=DESCR 'vonEdit2=Washer "
          "6mm' "
          "zuEdit2=Washer --yes");
    EXPECT_EQ(batch("dump WORK PARTS.TXT"), "PARTNO,DESCR\r\n1001,Hex bolt M6\r\n1002,Washer\r\n");
}

TEST_F(BatchFormats, PageRunsThatTextTablesCannotDoEndWithTheirMessage) {
    std::ifstream before(dir.path() / "PARTSV.TXT", std::ios::binary);
    const std::string original(std::istreambuf_iterator<char>(before), {});
    int status = 0;
    batch("run Seite2 Change1Alias=WORK Change1Table=PARTSV.TXT Change1Field=DESCR "
          "'vonEdit2=Washer 6mm' "
          "zuEdit2=Washer --yes",
          status);
    EXPECT_NE(status, 0);
    EXPECT_NE(err.find("text tables cannot change records of a VARYING layout"), std::string::npos)
        << err;
    batch("run DelPage AliasDel=WORK TableDel=PARTS.TXT DelOpt1=1 FieldDel=1 --yes", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(err.find("text tables cannot delete records"), std::string::npos) << err;
    std::ifstream after(dir.path() / "PARTSV.TXT", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), original);
}

} // namespace
