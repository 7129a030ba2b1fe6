// `fieldsmith-batch run CSVMakeTable ...`: both directions from the command line, the
// replace question answered by --yes and --no, and file names kept as the file system
// spells them.
#include "CsvTestSupport.h"

#include "app/run/BatchRun.h"
#include "csv/CsvExchange.h"
#include "engine/Table.h"

#include <gtest/gtest.h>
#include <sstream>

namespace fieldsmith::csvtest {
namespace {

using engine::FieldType;

class CsvBatch : public CsvRun {
protected:
    CsvBatch() { csv::registerOperations(operations); }
    int batch(std::vector<std::string> args) {
        err.str({});
        args.insert(args.begin(), "CSVMakeTable");
        return run::runPageFromArgs(session, args, operations, err, false);
    }
    run::OperationTable operations;
    std::ostringstream err;
};

TEST_F(CsvBatch, ImportAndTheReplaceQuestion) {
    const auto file = writeFile(dir, "in.csv", "a,b\r\n1,2\r\n");
    const std::vector<std::string> args = {
        "CSVEdit=" + file.string(), "CSVtoPdxEdit=" + (dir / "T.DB").string(), "FeldSeparEdit=,"};
    ASSERT_EQ(batch(args), run::kBatchDone) << err.str();
    EXPECT_EQ(readTable(session, dir / "T.DB").records, (Records{{"1", "2"}}));

    writeFile(dir, "in.csv", "a,b\r\n3,4\r\n");
    struct Case {
        const char* answer;
        int status;
        Records records;
    } cases[] = {
        {nullptr, run::kBatchUnanswered, {{"1", "2"}}},
        {"--no", run::kBatchDone, {{"1", "2"}}},
        {"--yes", run::kBatchDone, {{"3", "4"}}},
    };
    for (const auto& c : cases) {
        auto withAnswer = args;
        if (c.answer) withAnswer.push_back(c.answer);
        EXPECT_EQ(batch(withAnswer), c.status) << (c.answer ? c.answer : "no answer") << err.str();
        EXPECT_EQ(readTable(session, dir / "T.DB").records, c.records)
            << (c.answer ? c.answer : "no answer");
    }
    EXPECT_NE(err.str().find("exists and will be replaced with all its files. Continue?"),
              std::string::npos)
        << err.str();
}

TEST_F(CsvBatch, ExportTakesTheTableTheViewWouldShow) {
    makeTable(session, dir / "V.DB",
              {{"NAME", FieldType::ftString, 10}, {"CITY", FieldType::ftString, 10}},
              {{"Berg", "Bonn"}, {"Adler", "Aachen"}});
    {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("V");
        t.addIndex("ByCity", "CITY", 0);
    }
    const auto out = dir / "out.csv";
    const std::vector<std::string> common = {"GenCSVFromParadox=1", "CSVEdit=" + out.string(),
                                             "ViewTabAlias=WORK", "ViewTabTable=V"};
    ASSERT_EQ(batch(common), run::kBatchDone) << err.str();
    EXPECT_EQ(readFile(out), "\"NAME\";\"CITY\"\r\n\"Berg\";\"Bonn\"\r\n\"Adler\";\"Aachen\"\r\n");

    auto ordered = common;
    ordered.push_back("ViewIndex=CITY");
    ordered.push_back("--yes");
    ASSERT_EQ(batch(ordered), run::kBatchDone) << err.str();
    EXPECT_EQ(readFile(out), "\"NAME\";\"CITY\"\r\n\"Adler\";\"Aachen\"\r\n\"Berg\";\"Bonn\"\r\n");
}

TEST_F(CsvBatch, ExportWithoutATableOrWithAMissingOne) {
    const auto out = (dir / "out.csv").string();
    EXPECT_EQ(batch({"GenCSVFromParadox=1", "CSVEdit=" + out}), run::kBatchFailed);
    EXPECT_NE(err.str().find("Table must be opened with \"Table View\" function first!"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(
        batch({"GenCSVFromParadox=1", "CSVEdit=" + out, "ViewTabAlias=WORK", "ViewTabTable=NONE"}),
        run::kBatchFailed);
    EXPECT_NE(err.str().find("NONE"), std::string::npos)
        << "the open error names the table: " << err.str();
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(CsvBatch, ViewInputsBelongToTheCsvPageOnly) {
    err.str({});
    EXPECT_EQ(run::runPageFromArgs(session, {"Seite2", "ViewTabTable=V"}, operations, err, false),
              run::kBatchUsage);
    EXPECT_NE(run::runUsage().find("ViewTabAlias=ALIAS ViewTabTable=TABLE [ViewIndex=FIELDS]"),
              std::string::npos);
}

// File names are bytes of the file system (UTF-8 here), not text in the program's code page.
TEST_F(CsvBatch, FileNamesKeepTheirUtf8Bytes) {
    const auto file = writeFile(dir, "K\xC3\xBCnden.csv", "a\r\n1\r\n");
    ASSERT_EQ(
        batch({"CSVEdit=" + file.string(), "CSVtoPdxEdit=" + (dir / "K\xC3\xBCNDEN.DB").string()}),
        run::kBatchDone)
        << err.str();
    EXPECT_TRUE(std::filesystem::exists(dir / "K\xC3\xBCNDEN.DB"));
}

} // namespace
} // namespace fieldsmith::csvtest
