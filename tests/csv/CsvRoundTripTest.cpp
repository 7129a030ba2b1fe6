// A table with every text hazard written to a CSV file and read back: what the file format
// cannot carry (double quotes, INFO's line breaks) is the only difference.
#include "CsvTestSupport.h"

#include "engine/Table.h"

#include <gtest/gtest.h>

namespace fieldsmith::csvtest {
namespace {

using engine::FieldType;

TEST_F(CsvRun, RoundTripKeepsEveryValueTheFormatCanCarry) {
    const std::string long300 = std::string(150, 'x') + "\r\n" + std::string(148, 'y');
    const std::vector<engine::FieldDef> fields = {{"NAME", FieldType::ftString, 40},
                                                  {"CITY", FieldType::ftString, 40},
                                                  {"INFO", FieldType::ftMemo, 10},
                                                  {"REMARK", FieldType::ftMemo, 10},
                                                  {"CODE", FieldType::ftString, 10}};
    const Records original = {
        {"M\xFCller; \"Sohn\"", "K\xF6ln", "first\r\nsecond", long300, "A1"},
        {"", "", "", "", ""}, // empty and NULL read alike
        {"  blanks kept  ",
         "Stra\xDF"
         "e;Ecke",
         "one\ntwo\rthree", "a;b\r\n\"c\"", "\xC4\xD6\xDC\xE4\xF6\xFC\xDF"},
        {"'apostrophe'", ";", "\"", "\r\n", ";;"},
    };
    makeTable(session, dir / "SRC.DB", fields, original);
    {
        engine::Table t(session); // a record whose fields were never set: NULL values
        t.setDatabaseName("WORK");
        t.setTableName("SRC");
        t.open();
        t.insert();
        t.post();
    }
    shared.TempTable.setDatabaseName("WORK");
    shared.TempTable.setTableName("SRC");
    shared.TempTable.open();

    auto& in = inputs.CSVMakeTable;
    in.GenParadoxFromCSV = false;
    in.GenCSVFromParadox = true;
    in.CSVEdit = (dir / "round.csv").string();
    run();
    shared.TempTable.close();
    in.GenCSVFromParadox = false;
    in.GenParadoxFromCSV = true;
    in.CSVtoPdxEdit = (dir / "BACK.DB").string();
    run();
    ASSERT_EQ(errors(), std::vector<std::string>{});

    // What the file cannot carry: quotes become apostrophes, INFO's line breaks blanks.
    Records expected = original;
    expected.push_back({"", "", "", "", ""});
    for (auto& record : expected) {
        for (auto& value : record)
            for (char& c : value)
                if (c == '"') c = '\'';
        for (char& c : record[2])
            if (c == '\r' || c == '\n') c = ' ';
    }
    const auto back = readTable(session, dir / "BACK.DB");
    EXPECT_EQ(back.records, expected);
    std::vector<std::string> names;
    for (const auto& f : back.fields)
        names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"NAME", "CITY", "INFO", "REMARK", "CODE"}));
    EXPECT_EQ(back.fields[3].type, FieldType::ftMemo) << "the 300-character value needs a memo";
}

} // namespace
} // namespace fieldsmith::csvtest
