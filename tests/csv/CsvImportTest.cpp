// The import run over small files: the fields and records the table gets, the progress and
// messages, and the cases where the program protects the user's data and text.
#include "csv/CsvImport.h"

#include "CsvTestSupport.h"
#include "app/run/Texts.h"
#include "engine/EngineError.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

namespace fieldsmith::csvtest {
namespace {

using Fields = std::vector<std::string>;

class CsvImport : public CsvRun {
protected:
    TableContent table(const std::string& name = "T.DB") { return readTable(session, dir / name); }
    bool ranAtAll() const {
        return std::find(host.events.begin(), host.events.end(), "UpdateAnsicht(false)") !=
               host.events.end();
    }
    // An older table T.DB with one record, to see whether an import leaves it alone.
    void makeOldTable() {
        makeTable(session, dir / "T.DB", {{"OLD", engine::FieldType::ftString, 10}}, {{"kept"}});
    }
    bool oldTableIntact() {
        const auto t = table();
        return describeFields(t.fields) == Fields{"OLD string 10"} &&
               t.records == Records{{"kept"}};
    }
};

// ------------------------------------------------------------------ what a file becomes

TEST_F(CsvImport, FieldsAndRecordsOfSmallFiles) {
    const std::string s251(251, 'x'), s252(252, 'x');
    struct Case {
        const char* what;
        std::string bytes;
        bool names;
        std::string separator;
        Fields fields;
        Records records;
        std::string lastProgress;
    } cases[] = {
        {"names from the first line",
         "a;b;c\r\n1;2;3\r\n4;5;6\r\n",
         true,
         ";",
         {"a string 5", "b string 5", "c string 5"},
         {{"1", "2", "3"}, {"4", "5", "6"}},
         "2 Records of 2 processed"},
        {"generated names",
         "a;b;c\r\n1;2;3\r\n4;5;6\r\n",
         false,
         ";",
         {"FELD000 string 5", "FELD001 string 5", "FELD002 string 5"},
         {{"a", "b", "c"}, {"1", "2", "3"}, {"4", "5", "6"}},
         "2 Records of 3 processed"},
        {"short and long lines, an empty line",
         "a;b;c\r\n1\r\n1;2;3;4\r\n\r\n",
         true,
         ";",
         {"a string 5", "b string 5", "c string 5"},
         {{"1", "", ""}, {"1", "2", "3"}, {"", "", ""}},
         "3 Records of 3 processed"},
        {"251 characters make the largest string field",
         "a;b;c\r\n1;" + s251 + ";2\r\n",
         true,
         ";",
         {"a string 5", "b string 255", "c string 5"},
         {{"1", s251, "2"}},
         "1 Records of 1 processed"},
        {"252 characters make a memo field",
         "a;b;c\r\n1;" + s252 + ";2\r\n",
         true,
         ";",
         {"a string 5", "b memo 100", "c string 5"},
         {{"1", s252, "2"}},
         "1 Records of 1 processed"},
        {"a separator of two characters splits nothing",
         "a;b\r\n1;2\r\n",
         true,
         ";;",
         {"a;b string 7"},
         {{"1;2"}},
         "1 Records of 1 processed"},
        {"an empty separator splits nothing",
         "a,b\r\n1,2\r\n",
         false,
         "",
         {"FELD000 string 7"},
         {{"a,b"}, {"1,2"}},
         "1 Records of 2 processed"},
        {"an empty file without names",
         "",
         false,
         ";",
         {"FELD000 string 4"},
         {},
         "0 Records of 0 processed"},
        {"only a names line",
         "a;b\r\n",
         true,
         ";",
         {"a string 5", "b string 5"},
         {},
         "0 Records of 0 processed"},
        {"two quotes alone are an empty value",
         "a;b\r\n\"\";x\r\n",
         true,
         ";",
         {"a string 5", "b string 5"},
         {{"", "x"}},
         "1 Records of 1 processed"},
    };
    for (const auto& c : cases) {
        host = {};
        inputs.CSVMakeTable.FeldNamenCheck = c.names;
        inputs.CSVMakeTable.FeldSeparEdit = c.separator;
        import(writeFile(dir, "in.csv", c.bytes));
        ASSERT_EQ(errors(), Fields{}) << c.what;
        const auto t = table();
        EXPECT_EQ(describeFields(t.fields), c.fields) << c.what;
        EXPECT_EQ(t.records, c.records) << c.what;
        EXPECT_EQ(host.panels[1], c.lastProgress) << c.what;
        EXPECT_EQ(host.panels[2], " ") << c.what;
        EXPECT_TRUE(host.idle) << c.what;
        EXPECT_TRUE(host.textsOf(run::MessageKind::Information).empty())
            << c.what << ": the import ends without a message";
    }
}

TEST_F(CsvImport, TargetIsReachedThroughThePrivateAlias) {
    import(writeFile(dir, "in.csv", "a\r\n1\r\n"), "KUNDEN");
    EXPECT_EQ(table("KUNDEN.DB").records, Records{{"1"}})
        << "a name without extension is a .DB table";
    EXPECT_EQ(session.directoryOf("CSV_IMP1"), dir.path());
}

// A name without a directory, as typed in a terminal, is a table in the current directory.
TEST_F(CsvImport, ATargetWithoutDirectoryIsInTheCurrentDirectory) {
    const auto file = writeFile(dir, "in.csv", "a\r\n1\r\n");
    struct InDirectory {
        std::filesystem::path before = std::filesystem::current_path();
        explicit InDirectory(const std::filesystem::path& d) { std::filesystem::current_path(d); }
        ~InDirectory() { std::filesystem::current_path(before); }
    } here(dir.path());
    inputs.CSVMakeTable.CSVEdit = file.string();
    inputs.CSVMakeTable.CSVtoPdxEdit = "HERE.DB";
    run();
    EXPECT_EQ(errors(), Fields{});
    EXPECT_EQ(table("HERE.DB").records, Records{{"1"}});
}

TEST_F(CsvImport, ADBaseTargetBecomesADBaseTable) {
    import(writeFile(dir, "in.csv", "NAME;NOTE\r\nAdler;" + std::string(300, 'n') + "\r\nBerg;kurz\r\n"),
           (dir / "KUNDEN.DBF").string());
    const auto t = table("KUNDEN.DBF");
    EXPECT_EQ(t.records, (Records{{"Adler", std::string(300, 'n')}, {"Berg", "kurz"}}));
    EXPECT_TRUE(std::filesystem::exists(dir / "KUNDEN.DBT")) << "the long value went to a memo";
    EXPECT_FALSE(std::filesystem::exists(dir / "KUNDEN.DB"));
}

// ------------------------------------------------------------------ protecting data and text

// Split at every separator and stripped of one quote at each end, these values would land in
// the wrong fields, and the program could not read its own export back.
TEST_F(CsvImport, QuotesProtectSeparatorsLineBreaksAndDoubledQuotes) {
    import(writeFile(dir, "in.csv",
                     "\"x\";\"y\";\"z\"\r\n"
                     "\"1;5\";\"two\r\nlines\";\"say \"\"hi\"\"\"\r\n"
                     "plain;\"\";last\r\n"));
    const auto t = table();
    EXPECT_EQ(t.records, (Records{{"1;5", "two\r\nlines", "say \"hi\""}, {"plain", "", "last"}}));
    EXPECT_EQ(describeFields(t.fields), (Fields{"x string 9", "y string 14", "z string 12"}));
}

// Raw counts with quotes (and UTF-8 bytes) would make memo fields of values that fit a
// string field: lengths are those of the values as stored.
TEST_F(CsvImport, LengthsAreThoseOfTheStoredValues) {
    const std::string s251(251, 'q');
    std::string umlauts;
    for (int i = 0; i < 200; ++i)
        umlauts += "\xC3\xA4"; // 200 characters, 400 bytes
    import(writeFile(dir, "in.csv", "a;b;c\r\n\"" + s251 + "\";" + umlauts + ";\"x\"\"y\"\r\n"));
    const auto t = table();
    EXPECT_EQ(describeFields(t.fields), (Fields{"a string 255", "b string 204", "c string 7"}));
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0][0], s251);
    EXPECT_EQ(t.records[0][1], std::string(200, '\xE4'));
    EXPECT_EQ(t.records[0][2], "x\"y");
}

TEST_F(CsvImport, ExistingTableIsReplacedOnlyAfterTheUserAgrees) {
    makeOldTable();
    writeFile(dir, "T.XG0", "an old secondary index");
    const auto file = writeFile(dir, "in.csv", "NEW\r\nfresh\r\n");
    const std::string question = "Table " + (dir / "T.DB").string() +
                                 " exists and will be replaced with all its files. Continue?";

    host.answers = {false};
    import(file);
    EXPECT_EQ(questions(), Fields{question});
    EXPECT_TRUE(oldTableIntact()) << "No keeps the old table";
    EXPECT_TRUE(std::filesystem::exists(dir / "T.XG0"));
    EXPECT_TRUE(host.idle);

    host = {};
    host.answers = {true};
    import(file);
    EXPECT_EQ(questions(), Fields{question});
    EXPECT_EQ(table().records, Records{{"fresh"}});
    EXPECT_FALSE(std::filesystem::exists(dir / "T.XG0")) << "the old family went with it";
}

TEST_F(CsvImport, RefusedDefinitionLeavesTheOldTableAlone) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string engineError;
    } cases[] = {
        {"an empty name", "a;;b\r\n1;2;3\r\n", "Field 2 of table T.DB has no name"},
        {"a name twice", "Name;NAME\r\n1;2\r\n", "Field name NAME occurs twice in table T.DB"},
        {"an empty file with names", "", "Field 1 of table T.DB has no name"},
    };
    for (const auto& c : cases) {
        makeOldTable();
        host = {};
        try {
            import(writeFile(dir, "in.csv", c.bytes));
            ADD_FAILURE() << c.what << ": the engine's error goes on to the error box";
        } catch (const engine::EngineError& e) {
            EXPECT_EQ(std::string(e.what()), c.engineError) << c.what;
        }
        EXPECT_EQ(errors(), Fields{"Error on Define Table"}) << c.what;
        EXPECT_EQ(questions(), Fields{}) << c.what << ": nothing to replace it with";
        EXPECT_TRUE(oldTableIntact()) << c.what;
        EXPECT_TRUE(host.idle) << c.what;
    }
}

// The field table is as wide as a Paradox table may be, not 91 fields; a wider file is
// refused with its count before anything is touched.
TEST_F(CsvImport, FieldCountLimitIsThatOfAParadoxTable) {
    std::string names, values;
    for (int j = 0; j < 255; ++j) {
        names += (j ? ";F" : "F") + std::to_string(j);
        values += (j ? ";" : "") + std::to_string(j);
    }
    import(writeFile(dir, "wide.csv", names + "\r\n" + values + "\r\n"));
    auto t = table();
    ASSERT_EQ(t.fields.size(), 255u);
    EXPECT_EQ(t.fields[254].name, "F254");
    EXPECT_EQ(t.records.at(0).at(254), "254");

    makeOldTable();
    const auto file = writeFile(dir, "wider.csv", std::string(255, ';') + "\r\n");
    try {
        import(file);
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), "The first line of " + file.string() +
                                             " holds 256 fields; a table takes at most 255.");
    }
    EXPECT_TRUE(oldTableIntact());
    EXPECT_TRUE(host.idle);
}

TEST_F(CsvImport, UnreadableTextIsRefusedBeforeAnythingIsTouched) {
    makeOldTable();
    const auto file = writeFile(dir, "open.csv", "a;b\r\n\"1;2\r\n");
    EXPECT_THROW(import(file), std::exception);
    EXPECT_EQ(questions(), Fields{});
    EXPECT_TRUE(oldTableIntact());
}

// Deleting the files of a table that another program has open would pull them from under it.
TEST_F(CsvImport, TableInUseByAnotherProgramIsNotReplaced) {
    makeOldTable();
    engine::Session otherProgram;
    engine::Table other(otherProgram);
    other.setDatabaseName("");
    other.setTableName((dir / "T.DB").string());
    other.open();
    host.answers = {true};
    try {
        import(writeFile(dir, "in.csv", "NEW\r\n1\r\n"));
        FAIL();
    } catch (const engine::EngineError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Table " + (dir / "T.DB").string() + " is in use by someone else");
    }
    other.close();
    EXPECT_TRUE(oldTableIntact());
}

// ------------------------------------------------------------------ encodings

TEST_F(CsvImport, TextIsReadAsUtf8OrAsSingleByteDosText) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string name, value;
        std::uint64_t lost;
    } cases[] = {
        {"a byte-order mark: UTF-8, the mark is no part of the name",
         "\xEF\xBB\xBFName\r\nCaf\xC3\xA9 \xE4\xB8\xAD\r\n", "Name", "Caf\xE9 ?", 1},
        {"valid UTF-8 with a multi-byte character, no mark",
         "N\xC3\xA4me\r\nM\xC3\xBCller \xC3\xA9t\xC3\xA9\r\n", "N\xE4me", "M\xFCller \xE9t\xE9", 0},
        {"code page 850: the DOS characters converted, the name as it is",
         "N\x84me\r\n\x84\x94\x81\xE1 \x82\r\n", "N\x84me", "\xE4\xF6\xFC\xDF '", 0},
        {"Windows-1252 is not UTF-8 and goes through the DOS rule too",
         "N\r\nM\xFCller Jos\xE9\r\n", "N", "M\xFCller Jos\xDA", 0},
        {"pure ASCII", "N\r\nplain\r\n", "N", "plain", 0},
    };
    for (const auto& c : cases) {
        host = {};
        session.conversionLosses() = 0;
        host.answers = {true};
        import(writeFile(dir, "in.csv", c.bytes));
        const auto t = table();
        ASSERT_EQ(t.fields.size(), 1u) << c.what;
        EXPECT_EQ(t.fields[0].name, c.name) << c.what;
        EXPECT_EQ(t.records, Records{{c.value}}) << c.what;
        EXPECT_EQ(session.conversionLosses(), c.lost) << c.what;
    }
}

// ------------------------------------------------------------------ checks and targets

TEST_F(CsvImport, ChecksBeforeTheRun) {
    const auto file = writeFile(dir, "in.csv", "a\r\n1\r\n");
    struct Case {
        const char* what;
        std::string csv, target;
        std::string error;
    } cases[] = {
        {"missing file", (dir / "none.csv").string(), (dir / "T.DB").string(),
         "File does not exist: " + (dir / "none.csv").string()},
        {"no file named", "", (dir / "T.DB").string(), "File does not exist: "},
        {"no target", file.string(), "", "Table must be specified!"},
        {"a directory as target", file.string(), dir.path().string() + "/",
         "Table must be specified!"},
        {"another extension", file.string(), (dir / "T.csv").string(),
         "The target must be a Paradox table (.DB) or a dBase table (.DBF): " +
             (dir / "T.csv").string()},
        {"missing directory", file.string(), (dir / "sub" / "T.DB").string(),
         "Directory does not exist: " + (dir / "sub").string()},
    };
    for (const auto& c : cases) {
        host = {};
        inputs.CSVMakeTable.CSVEdit = c.csv;
        inputs.CSVMakeTable.CSVtoPdxEdit = c.target;
        run();
        EXPECT_EQ(errors(), Fields{c.error}) << c.what;
        EXPECT_FALSE(ranAtAll()) << c.what;
        EXPECT_FALSE(std::filesystem::exists(dir / "T.DB")) << c.what;
    }
}

TEST_F(CsvImport, CsvFileIsNeverItsOwnTarget) {
    // A text file named like the table it would become: replacing the table would delete
    // the very file being read.
    const auto file = writeFile(dir, "t.db", "a\r\n1\r\n");
    host.answers = {true};
    inputs.CSVMakeTable.CSVEdit = file.string();
    inputs.CSVMakeTable.CSVtoPdxEdit = (dir / "T.DB").string();
    run();
    EXPECT_EQ(errors(), Fields{"The CSV file is a file of the target table " + file.string() +
                               "; choose another target."});
    EXPECT_EQ(readFile(file), "a\r\n1\r\n");
}

// ------------------------------------------------------------------ the run

TEST_F(CsvImport, CancelAsksAndKeepsTheRecordsLoaded) {
    const auto file = writeFile(dir, "in.csv", "N\r\n1\r\n2\r\n3\r\n4\r\n5\r\n");
    struct Case {
        bool yes;
        Records records;
        std::string lastProgress;
        int progressEvery = 1; //!< 0: a host that wants no texts on the way still gets the last
    } cases[] = {
        {true, {{"1"}, {"2"}}, "2 Records of 5 processed"},
        {false, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}, "5 Records of 5 processed"},
        {true, {{"1"}, {"2"}}, "2 Records of 5 processed", 0},
        {false, {{"1"}, {"2"}, {"3"}, {"4"}, {"5"}}, "5 Records of 5 processed", 0},
    };
    for (const auto& c : cases) {
        makeOldTable();
        host = {};
        host.progressEvery = c.progressEvery;
        host.answers = {true, c.yes}; // replace the old table; then the abort question
        host.cancelAtRecord = 2;
        import(file);
        EXPECT_EQ(questions().back(), "Abort Process?") << c.yes;
        EXPECT_EQ(table().records, c.records) << c.yes;
        EXPECT_EQ(host.panels[1], c.lastProgress) << c.yes;
        EXPECT_TRUE(host.idle) << c.yes;
        EXPECT_EQ(host.CancelRequested, 0) << c.yes;
    }
}

// A failure on the way (a full disk, a lost file) ends the import with its error; the
// status bar then tells how far it came, also on a host that wanted no texts on the way,
// and the records loaded until then stay.
TEST_F(CsvImport, AFailureMidwayShowsHowFarTheImportCame) {
    const auto file = writeFile(dir, "in.csv", "N\r\n1\r\n2\r\n3\r\n4\r\n5\r\n");
    for (const int progressEvery : {1, 0}) {
        host = {};
        host.progressEvery = progressEvery;
        host.onPendingMessages = [](run::TestHost&, int breather) {
            if (breather == 3) throw engine::EngineError(engine::ErrorKind::General, "Disk full");
        };
        EXPECT_THROW(import(file), engine::EngineError) << "the error goes on to the error box";
        EXPECT_EQ(host.panels[1], "3 Records of 5 processed") << progressEvery;
        EXPECT_EQ(table().records, (Records{{"1"}, {"2"}, {"3"}})) << progressEvery;
        EXPECT_TRUE(host.idle) << progressEvery;
    }
}

TEST_F(CsvImport, RunningFromTheFirstReadToTheEndWithoutAWaitCursor) {
    import(writeFile(dir, "in.csv", "N\r\n1\r\n"));
    EXPECT_EQ(host.events.front(), "UpdateAnsicht(false)");
    EXPECT_EQ(host.events.back(), "UpdateAnsicht(true)");
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "WarteMaus"), 0);
    EXPECT_EQ(host.pendingMessageRuns, 1) << "one breather per record";
}

// A long file lets the window breathe while it is measured, and Cancel there stops the
// import before anything is touched.
TEST_F(CsvImport, CancelWhileTheFileIsMeasuredTouchesNothing) {
    makeOldTable();
    std::string bytes = "N\r\n";
    for (int i = 0; i < 10000; ++i)
        bytes += std::to_string(i) + "\r\n";
    host.cancelAtRecord = 1;
    host.answers = {true};
    import(writeFile(dir, "long.csv", bytes));
    EXPECT_EQ(questions(), Fields{"Abort Process?"});
    EXPECT_TRUE(oldTableIntact());
    EXPECT_TRUE(host.idle);
}

} // namespace
} // namespace fieldsmith::csvtest
