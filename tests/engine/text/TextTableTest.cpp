// ASCII text tables: the format sheet's examples read and appended in both layouts, and
// what the classic text driver could not do refused with a clear message, the files left
// as they were.
#include "../TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

const std::string kFields = "Field1=PARTNO,LONGINT,08,00,00\r\n"
                            "Field2=DESCR,CHAR,20,00,08\r\n"
                            "Field3=PRICE,FLOAT,10,02,28\r\n"
                            "Field4=ADDED,DATE,10,00,38\r\n";
const std::string kFixedSchema = "[PARTS]\r\nFILETYPE=FIXED\r\nCHARSET=ANSIINTL\r\n" + kFields;
const std::string kFixedData = "    1001Hex bolt M6               0.3503/15/2001\r\n"
                               "    1002Washer 6mm                0.0511/02/1999\r\n";
const std::string kVaryingSchema =
    "[PARTS]\r\nFILETYPE=VARYING\r\nCHARSET=ANSIINTL\r\nDELIMITER=\"\r\nSEPARATOR=,\r\n" + kFields;
const std::string kVaryingData = "1001,\"Hex bolt M6\",0.35,03/15/2001\r\n"
                                 "1002,\"Washer 6mm\",0.05,11/02/1999\r\n";

std::string fileText(const fs::path& p) {
    const auto b = readFileBytes(p);
    return std::string(b.begin(), b.end());
}

void writeText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

class TextTables : public ::testing::Test {
protected:
    fs::path make(const std::string& schema, const std::string& data,
                  const std::string& name = "PARTS") {
        writeText(dir.path() / (name + ".SCH"), schema);
        writeText(dir.path() / (name + ".TXT"), data);
        return dir.path() / (name + ".TXT");
    }
    std::unique_ptr<Table> table(const fs::path& file) {
        auto t = std::make_unique<Table>(session);
        t->setTableName(file.string());
        return t;
    }
    std::vector<std::string> rows(Table& t) {
        std::vector<std::string> out;
        for (t.first(); !t.eof(); t.next()) {
            std::string r;
            for (int i = 0; i < t.fieldCount(); ++i)
                r += (i ? "|" : "") + t.field(i).asString();
            out.push_back(r);
        }
        return out;
    }

    TempDir dir;
    Session session;
};

TEST_F(TextTables, TheSheetsExamplesReadInBothLayouts) {
    for (const auto& [schema, data, what] : {std::tuple{kFixedSchema, kFixedData, "FIXED"},
                                             std::tuple{kVaryingSchema, kVaryingData, "VARYING"}}) {
        auto t = table(make(schema, data));
        t->open();
        EXPECT_EQ(t->fieldCount(), 4) << what;
        EXPECT_EQ(t->fieldByName("PRICE").type(), FieldType::ftFloat) << what;
        EXPECT_EQ(rows(*t), (std::vector<std::string>{"1001|Hex bolt M6|0.35|2001-03-15",
                                                      "1002|Washer 6mm|0.05|1999-11-02"}))
            << what;
        EXPECT_TRUE(t->indexDefs().empty()) << what;
    }
}

TEST_F(TextTables, AppendedRecordsFollowTheLayout) {
    struct Case {
        std::string schema, data, what, appended;
    } cases[] = {
        {kFixedSchema, kFixedData, "FIXED",
         "    1003Nut \"M6\", zinc            1.2501/02/2003\r\n"},
        {kVaryingSchema, kVaryingData, "VARYING",
         "1003,\"Nut \"\"M6\"\", zinc\",1.25,01/02/2003\r\n"},
        // A last line without its line end gets one before the new record.
        {kVaryingSchema, kVaryingData.substr(0, kVaryingData.size() - 2),
         "VARYING without final line end", "\r\n1003,\"Nut \"\"M6\"\", zinc\",1.25,01/02/2003\r\n"},
    };
    for (const auto& c : cases) {
        const fs::path file = make(c.schema, c.data);
        {
            auto t = table(file);
            t->open();
            t->append();
            t->fieldByName("PARTNO").setAsInteger(1003);
            t->fieldByName("DESCR").setAsString("Nut \"M6\", zinc");
            t->fieldByName("PRICE").setAsString("1.25");
            t->fieldByName("ADDED").setAsString("2003-01-02");
            t->post();
            EXPECT_EQ(t->recordCount(), 3) << c.what;
        }
        EXPECT_EQ(fileText(file), c.data + c.appended) << c.what;
        auto t = table(file);
        t->open();
        t->last();
        EXPECT_EQ(t->fieldByName("DESCR").asString(), "Nut \"M6\", zinc") << c.what;
        EXPECT_EQ(t->fieldByName("PRICE").asString(), "1.25") << c.what;
    }
}

TEST_F(TextTables, FixedRecordsChangeInPlace) {
    const fs::path file = make(kFixedSchema, kFixedData);
    auto t = table(file);
    t->open();
    t->last();
    t->edit();
    t->fieldByName("PRICE").setAsString("12.5");
    t->post();
    t->close();
    EXPECT_EQ(fileText(file),
              kFixedData.substr(0, 50) + "    1002Washer 6mm               12.5011/02/1999\r\n");
}

// Every refusal names what text tables cannot do and leaves both files as they were.
TEST_F(TextTables, WhatTextTablesCannotDoIsRefusedAndChangesNothing) {
    struct Case {
        const char* what;
        std::string schema;
        std::function<void(Table&)> action;
        const char* message;
    } cases[] = {
        {"delete", kFixedSchema, [](Table& t) { t.deleteRecord(); },
         "text tables cannot delete records"},
        {"drop an index", kFixedSchema, [](Table& t) { t.deleteIndex("X"); },
         "text tables cannot have indexes"},
        {"edit a VARYING record", kVaryingSchema,
         [](Table& t) {
             t.edit();
             t.fieldByName("DESCR").setAsString("longer description");
             t.post();
         },
         "text tables cannot change records of a VARYING layout"},
        {"a range", kFixedSchema, [](Table& t) { t.setRange({"1"}, {"2"}); }, "has no index"},
        {"order by fields", kFixedSchema, [](Table& t) { t.setIndexFieldNames("PARTNO"); },
         "No index"},
        {"a value too wide", kFixedSchema,
         [](Table& t) {
             t.append();
             t.fieldByName("PARTNO").setAsInteger(123456789);
             t.post();
         },
         "does not fit"},
    };
    for (const auto& c : cases) {
        const fs::path file = make(c.schema, c.schema == kFixedSchema ? kFixedData : kVaryingData);
        const std::string before = fileText(file);
        const std::string schemaBefore = fileText(dir.path() / "PARTS.SCH");
        {
            auto t = table(file);
            t->open();
            try {
                c.action(*t);
                ADD_FAILURE() << c.what << ": not refused";
            } catch (const EngineError& e) {
                EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                    << c.what << ": " << e.what();
            }
            t->cancel();
        }
        EXPECT_EQ(fileText(file), before) << c.what;
        EXPECT_EQ(fileText(dir.path() / "PARTS.SCH"), schemaBefore) << c.what;
    }
    auto closed = table(make(kFixedSchema, kFixedData));
    EXPECT_THROW(closed->addIndex("X", "PARTNO", 0), EngineError);
    EXPECT_EQ(fileText(dir.path() / "PARTS.TXT"), kFixedData);
}

TEST_F(TextTables, TextTablesAreAlwaysOpenedExclusively) {
    const fs::path file = make(kFixedSchema, kFixedData);
    auto a = table(file);
    a->open();
    auto b = table(file);
    try {
        b->open();
        FAIL() << "a second open was not refused";
    } catch (const EngineError& e) {
        EXPECT_TRUE(e.isDatabaseError()) << e.what();
    }
}

TEST_F(TextTables, SchemaErrorsNameTheFileAndLine) {
    struct Case {
        std::string schema;
        std::string expected;
    } cases[] = {
        {"FILETYPE=FIXED\r\n" + kFields, "line 1"},
        {"[P]\r\nFILETYPE=ROUND\r\n" + kFields, "line 2: FILETYPE must be FIXED or VARYING"},
        {"[P]\r\nFILETYPE=FIXED\r\nField1=A,CHAR,10,00\r\n",
         "line 3: a field entry has the five parts"},
        {"[P]\r\nFILETYPE=FIXED\r\nField1=A,BLOB,10,00,00\r\n", "line 3: unknown field type BLOB"},
        {"[P]\r\nFILETYPE=FIXED\r\nField2=A,CHAR,10,00,00\r\n", "Field1 is missing"},
        {"[P]\r\nFILETYPE=FIXED\r\nField1=A,CHAR,x,00,00\r\n", "line 3: 'x' is not a number"},
    };
    for (const auto& c : cases) {
        auto t = table(make(c.schema, kFixedData));
        try {
            t->open();
            ADD_FAILURE() << c.expected << ": opened";
        } catch (const EngineError& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("PARTS.SCH"), std::string::npos) << m;
            EXPECT_NE(m.find(c.expected), std::string::npos) << m;
        }
    }
}

// A schema may spell its keys in any case, use blanks around "=", a tab separator written
// as #9 and no delimiter; the data's bytes are in the schema's character set.
TEST_F(TextTables, SchemaVariantsAndCharacterSets) {
    const fs::path file =
        make("[dos]\r\nfiletype = varying\r\ncharset = DB850DE0\r\ndelimiter=\r\nseparator = #9\r\n"
             "field1 = Full "
             "Name,char,10,00,00\r\nfield2=Born,Date,10,00,10\r\nfield3=OK,bool,1,00,20\r\n",
             "M\x81ller\t4-3-94\tY\r\n\tx\r\n", "DOS");
    auto t = table(file);
    t->open();
    EXPECT_EQ(t->fieldByName("Full Name").asString(), "M\xfcller");
    EXPECT_EQ(t->fieldByName("Born").asString(), "1994-04-03");
    EXPECT_EQ(t->fieldByName("OK").asString(), "True");
    t->next();
    EXPECT_THROW(t->fieldByName("Born").asString(), EngineError) << "a value that is not a date";
}

TEST_F(TextTables, CreatedTablesAreFixedWithTheirSchema) {
    const fs::path file = dir.path() / "NEW.TXT";
    {
        auto t = table(file);
        t->fieldDefs() = {{"ID", FieldType::ftInteger, 0, false},
                          {"NAME", FieldType::ftString, 5, false}};
        t->createTable();
        t->open();
        t->append();
        t->fieldByName("ID").setAsInteger(7);
        t->fieldByName("NAME").setAsString("abc");
        t->post();
    }
    EXPECT_EQ(fileText(dir.path() / "NEW.SCH"),
              "[NEW]\r\nFILETYPE=FIXED\r\nCHARSET=ANSIINTL\r\nField1=ID,LONGINT,11,00,00\r\n"
              "Field2=NAME,CHAR,05,00,11\r\n");
    EXPECT_EQ(fileText(file), "          7abc  \r\n");
}

} // namespace
