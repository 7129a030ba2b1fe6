// The export run: the table open in the shared dataset written with the page's separator,
// enclosure and check boxes, byte for byte, in the dataset's order.
#include "csv/CsvExport.h"

#include "CsvTestSupport.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

namespace fieldsmith::csvtest {
namespace {

using engine::FieldType;
using Fields = std::vector<std::string>;

class CsvExport : public CsvRun {
protected:
    CsvExport() {
        auto& in = inputs.CSVMakeTable;
        in.GenParadoxFromCSV = false;
        in.GenCSVFromParadox = true;
        in.CSVEdit = out().string();
    }
    std::filesystem::path out() const { return dir / "out.csv"; }
    // Makes the table and opens it in the shared dataset, as the Table View does.
    void openInView(const std::vector<engine::FieldDef>& fields, const Records& records,
                    const std::string& order = {}) {
        shared.TempTable.close();
        makeTable(session, dir / "V.DB", fields, records);
        if (!order.empty()) {
            engine::Table t(session);
            t.setDatabaseName("WORK");
            t.setTableName("V");
            t.addIndex("By" + order, order, 0);
        }
        shared.TempTable.setDatabaseName("WORK");
        shared.TempTable.setTableName("V");
        shared.TempTable.setIndexFieldNames(order);
        shared.TempTable.open();
    }
};

const std::vector<engine::FieldDef> kNameInfo = {{"NAME", FieldType::ftString, 20},
                                                 {"INFO", FieldType::ftMemo, 10}};

TEST_F(CsvExport, LinesAsThePageSetsThem) {
    struct Case {
        const char* what;
        std::vector<engine::FieldDef> fields;
        Records records;
        std::string separator = ";", enclosure = "\"";
        bool encloseNames = true, bareEmpty = true, names = true;
        std::string file;
    } cases[] = {
        {"a quote becomes an apostrophe, INFO's line break two blanks",
         kNameInfo,
         {{"O\"Neil", "one\r\ntwo"}},
         ";",
         "\"",
         true,
         true,
         true,
         "\"NAME\";\"INFO\"\r\n\"O'Neil\";\"one  two\"\r\n"},
        {"empty values written as nothing",
         kNameInfo,
         {{"", ""}},
         ";",
         "\"",
         true,
         true,
         true,
         "\"NAME\";\"INFO\"\r\n;\r\n"},
        {"empty values enclosed",
         kNameInfo,
         {{"", ""}},
         ";",
         "\"",
         true,
         false,
         true,
         "\"NAME\";\"INFO\"\r\n\"\";\"\"\r\n"},
        {"no enclosure: the separator in a value is not protected",
         kNameInfo,
         {{"a;b", "c"}},
         ";",
         "",
         true,
         true,
         true,
         "NAME;INFO\r\na;b;c\r\n"},
        {"an apostrophe enclosure leaves quotes and apostrophes",
         kNameInfo,
         {{"it's \"x\"", "y"}},
         ";",
         "'",
         true,
         true,
         true,
         "'NAME';'INFO'\r\n'it's \"x\"';'y'\r\n"},
        {"a field named memo in lower case loses its line breaks; REMARK keeps them",
         {{"memo", FieldType::ftString, 20}, {"REMARK", FieldType::ftMemo, 10}},
         {{"a\rb\nc", "d\r\ne"}},
         ";",
         "\"",
         true,
         true,
         true,
         "\"memo\";\"REMARK\"\r\n\"a b c\";\"d\r\ne\"\r\n"},
        {"bare names",
         kNameInfo,
         {{"x", "y"}},
         ";",
         "\"",
         false,
         true,
         true,
         "NAME;INFO\r\n\"x\";\"y\"\r\n"},
        {"no names line", kNameInfo, {{"x", "y"}}, ";", "\"", true, true, false, "\"x\";\"y\"\r\n"},
        {"separator and enclosure of several characters",
         kNameInfo,
         {{"x", ""}},
         ", ",
         "<>",
         true,
         false,
         true,
         "<>NAME<>, <>INFO<>\r\n<>x<>, <><>\r\n"},
        {"numbers as the engine gives them; an empty table",
         {{"N", FieldType::ftInteger, 0}, {"S", FieldType::ftString, 5}},
         {},
         ";",
         "\"",
         true,
         true,
         true,
         "\"N\";\"S\"\r\n"},
        {"single-byte text as it is",
         kNameInfo,
         {{"Jos\xE9 M\xFCller", "\xE4\xF6"}},
         ";",
         "\"",
         true,
         true,
         true,
         "\"NAME\";\"INFO\"\r\n\"Jos\xE9 M\xFCller\";\"\xE4\xF6\"\r\n"},
    };
    for (const auto& c : cases) {
        auto& in = inputs.CSVMakeTable;
        in.FeldSeparEdit = c.separator;
        in.FeldEncloseEdit = c.enclosure;
        in.CsvUseEncloseCharForFieldsCheck = c.encloseNames;
        in.noEncloseCharForEmptyFieldsCheck = c.bareEmpty;
        in.FeldNamenCheck = c.names;
        openInView(c.fields, c.records);
        host = {};
        run();
        EXPECT_EQ(errors(), Fields{}) << c.what;
        EXPECT_EQ(readFile(out()), c.file) << c.what;
        EXPECT_TRUE(host.textsOf(run::MessageKind::Information).empty())
            << c.what << ": the export ends without a message";
    }
}

TEST_F(CsvExport, WrittenInTheViewsOrderFromItsFirstRecord) {
    openInView({{"NAME", FieldType::ftString, 10}, {"CITY", FieldType::ftString, 10}},
               {{"Berg", "Bonn"}, {"Adler", "Aachen"}, {"Chr", "Celle"}}, "CITY");
    shared.TempTable.last(); // another record is current
    run();
    EXPECT_EQ(readFile(out()), "\"NAME\";\"CITY\"\r\n\"Adler\";\"Aachen\"\r\n\"Berg\";\"Bonn\"\r\n"
                               "\"Chr\";\"Celle\"\r\n");
    EXPECT_EQ(shared.TempTable.recNo(), 3) << "the walk ends on the last record";
    EXPECT_EQ(shared.TempTable.indexFieldNames(), "CITY") << "the view keeps its order";
}

TEST_F(CsvExport, ExistingFileIsReplacedOnlyAfterTheUserAgrees) {
    openInView(kNameInfo, {{"x", "y"}});
    writeFile(dir, "out.csv", "precious");
    const std::string question =
        "File does already exist: \"" + out().string() + "\" File will be deleted! Continue?";
    host.answers = {false};
    run();
    EXPECT_EQ(questions(), Fields{question});
    EXPECT_EQ(readFile(out()), "precious");
    EXPECT_FALSE(std::find(host.events.begin(), host.events.end(), "UpdateAnsicht(false)") !=
                 host.events.end());

    host = {};
    host.answers = {true};
    run();
    EXPECT_EQ(readFile(out()), "\"NAME\";\"INFO\"\r\n\"x\";\"y\"\r\n");
}

// Without an open table there is nothing to write: the old file stays, instead of being
// replaced by an empty names line.
TEST_F(CsvExport, NoOpenTableLeavesTheFileAlone) {
    writeFile(dir, "out.csv", "precious");
    run();
    EXPECT_EQ(errors(), Fields{"Table must be opened with \"Table View\" function first!"});
    EXPECT_EQ(questions(), Fields{});
    EXPECT_EQ(readFile(out()), "precious");
}

TEST_F(CsvExport, FileThatCannotBeWrittenNamesTheReason) {
    openInView(kNameInfo, {{"x", "y"}});
    struct Case {
        std::string file, error;
    } cases[] = {
        {(dir / "none" / "out.csv").string(),
         "Cannot write " + (dir / "none" / "out.csv").string() + ": No such file or directory"},
        {dir.path().string(), "Cannot write " + dir.path().string() + ": Is a directory"},
        {"", "CSV File must be specified!"},
    };
    for (const auto& c : cases) {
        host = {};
        inputs.CSVMakeTable.CSVEdit = c.file;
        try {
            run();
            EXPECT_EQ(errors(), Fields{c.error}) << c.file;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.file;
        }
        EXPECT_TRUE(host.idle) << c.file;
    }
}

TEST_F(CsvExport, TablesOwnFilesAreNeverOverwritten) {
    openInView(kNameInfo, {{"x", "y"}});
    for (const char* name : {"V.DB", "V.MB"}) {
        host = {};
        const std::string before = readFile(dir / name);
        inputs.CSVMakeTable.CSVEdit = (dir / name).string();
        run();
        EXPECT_EQ(errors(), Fields{"The CSV file is a file of the table being written: " +
                                   (dir / name).string()})
            << name;
        EXPECT_EQ(readFile(dir / name), before) << name;
    }
}

TEST_F(CsvExport, RunningStateAndCancel) {
    openInView(kNameInfo, {{"1", ""}, {"2", ""}, {"3", ""}});
    host.cancelAtRecord = 1;
    host.answers = {true};
    run();
    EXPECT_EQ(host.events.front(), "UpdateAnsicht(false)") << "Run cannot start a second export";
    EXPECT_EQ(questions(), Fields{"Abort Process?"});
    EXPECT_EQ(readFile(out()), "\"NAME\";\"INFO\"\r\n\"1\";\r\n") << "the lines written stay";
    EXPECT_TRUE(host.idle);
    EXPECT_EQ(host.CancelRequested, 0);
}

TEST_F(CsvExport, ProgramCodePageIsWrittenAsWindows1252) {
    session.setAnsiCodePage(1251);
    // "Zhuk" in Cyrillic has no Windows-1252 letters; the digits and the blank pass.
    openInView(kNameInfo, {{"\xC6\xF3\xEA 7", ""}});
    session.conversionLosses() = 0;
    run();
    EXPECT_EQ(readFile(out()), "\"NAME\";\"INFO\"\r\n\"??? 7\";\r\n");
    EXPECT_EQ(session.conversionLosses(), 3u);
}

} // namespace
} // namespace fieldsmith::csvtest
