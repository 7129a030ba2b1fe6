// Setting page inputs by control name, as batch mode does, and the pages' text rules.
#include "app/run/PageInputs.h"
#include "app/run/PageRules.h"

#include <gtest/gtest.h>

namespace fieldsmith::run {
namespace {

TEST(SetInput, TextsChecksAndRadioGroups) {
    PageInputs in;
    EXPECT_EQ(setInput(in, "Seite2", "vonEdit2", "  abc "), SetInputResult::Ok);
    EXPECT_EQ(in.Seite2.vonEdit2, "  abc ") << "values are taken as they are";
    EXPECT_EQ(setInput(in, "Seite2", "CaseBox", "1"), SetInputResult::Ok);
    EXPECT_TRUE(in.Seite2.CaseBox);
    EXPECT_EQ(setInput(in, "Seite2", "CaseBox", "0"), SetInputResult::Ok);
    EXPECT_FALSE(in.Seite2.CaseBox);

    // A radio button set to 1 is selected in its group; the other group stays as it was.
    EXPECT_EQ(setInput(in, "Seite3", "AddSiteIDBtn", "1"), SetInputResult::Ok);
    EXPECT_TRUE(in.Seite3.AddSiteIDBtn);
    EXPECT_FALSE(in.Seite3.StringChange);
    EXPECT_TRUE(in.Seite3.IfCheckAddContain);
    EXPECT_EQ(setInput(in, "Seite3", "IfCheckAddNotContain", "1"), SetInputResult::Ok);
    EXPECT_FALSE(in.Seite3.IfCheckAddContain);
    EXPECT_TRUE(in.Seite3.AddSiteIDBtn);
}

TEST(SetInput, RefusesWhatThePageDoesNotHave) {
    struct Case {
        const char* page;
        const char* control;
        const char* value;
        SetInputResult expected;
    };
    const Case cases[] = {
        {"Seite2", "vonEdit", "x", SetInputResult::UnknownControl}, // that one is on Seite3
        {"Seite2", "CaseBox", "yes", SetInputResult::BadValue},
        {"Seite5", "useNumberRadio", "", SetInputResult::BadValue},
        {"AnsichtTabelle", "ViewTabAlias", "X", SetInputResult::UnknownControl},
        {"NoPage", "AliasBox", "X", SetInputResult::UnknownControl},
    };
    for (const Case& c : cases) {
        PageInputs in;
        EXPECT_EQ(setInput(in, c.page, c.control, c.value), c.expected)
            << c.page << " " << c.control << "=" << c.value;
    }
}

TEST(SetInput, DefaultsAreThoseOfThePages) {
    const PageInputs in;
    EXPECT_EQ(in.Seite5.NumberEdit, "50000");
    EXPECT_EQ(in.Seite5.AddPrimStartRecordEdit, "1");
    EXPECT_TRUE(in.Seite5.LeerFeldCheck);
    EXPECT_EQ(in.Seite3.SizeEdit, "7");
    EXPECT_EQ(in.Seite3.IfCheckAddString2, "-");
    EXPECT_EQ(in.Seite3.CRLFStellenEdit, "2");
    EXPECT_EQ(in.Seite4.NumCharsEdit, "1");
    EXPECT_TRUE(in.DelPage.DelOpt2);
    EXPECT_EQ(in.CSVMakeTable.FeldSeparEdit, ";");
    EXPECT_EQ(in.CSVMakeTable.FeldEncloseEdit, "\"");
    EXPECT_TRUE(in.ExportSeite.ExportSelect);
}

TEST(PageRules, CsvTargetName) {
    const std::pair<const char*, const char*> cases[] = {
        {"/data/export.csv", "/data/EXPORT.DB"},
        {"export.csv", "EXPORT.DB"},
        {"/data/my.file.txt", "/data/MY.FILE.DB"},
        {"/data/noext", "DB"},
        {"", "DB"},
        {"/data/Mixed_ae.CSV", "/data/MIXED_AE.DB"},
    };
    for (const auto& [csv, target] : cases)
        EXPECT_EQ(csvTargetName(csv), target) << csv;
}

TEST(PageRules, TableNameFromFile) {
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/EMP_140509_INSERTS.SQL", "EMP"},
        {"/scripts/EMP_1.sql", "EMP"},
        {"/x.sql", ""},
        {"EMP_1.sql", ""},         // no separator at all
        {"/my_dir/plain.sql", ""}, // the underscore must follow the last separator
        // A script named by the export keeps a table name with underscores whole.
        {"/tmp/MY_TABLE_140509_INSERTS.SQL", "MY_TABLE"},
        {"/tmp/MY_TABLE_140509_inserts.sql", "MY_TABLE"},
        {"/tmp/MY_TABLE_1405_INSERTS.SQL", "MY"}, // not the export's clock: the first part
        {"/tmp/_140509_INSERTS.SQL", ""},
    };
    for (const auto& [file, table] : cases)
        EXPECT_EQ(TableNameFromFile(file), table) << file;
}

TEST(PageRules, DerivedNames) {
    EXPECT_EQ(newTableNameFor("ORDERS"), "NEWORDERS.DB");
    EXPECT_EQ(exportFileName("/tmp/", "EMP", 14, 5, 9), "/tmp/EMP_140509_INSERTS.SQL");
    EXPECT_EQ(exportFileName("/tmp/", "EMP", 0, 0, 0), "/tmp/EMP_000000_INSERTS.SQL");
    EXPECT_EQ(joinPickerPath("/", "x.sql"), "/x.sql");
    EXPECT_EQ(joinPickerPath("/tmp", "x.sql"), "/tmp/x.sql");
}

} // namespace
} // namespace fieldsmith::run
