// `fieldsmith-batch run` with names that are not ASCII: aliases, directories and tables keep
// the file system's spelling, while values are taken into the program's code page.
#include "app/run/BatchRun.h"
#include "app/run/Operations.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "ops/FieldOperations.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sstream>

namespace fieldsmith::run {
namespace {

TEST(BatchRunPaths, NonAsciiAliasDirectoryAndTableNamesReachTheirFiles) {
    test::TempDir root;
    const std::filesystem::path dir = root / "B\xC3\xBC" "cher";
    std::filesystem::create_directories(dir);
    engine::Session session;
    session.addStandardAlias("\xC3\x9C" "BER", dir); // ÜBER
    const std::string table = "M\xC3\xBCller";      // Müller, as UTF-8 on disk
    {
        engine::Table t(session);
        t.setDatabaseName("\xC3\x9C" "BER");
        t.setTableName(table);
        t.fieldDefs() = {{"ORT", engine::FieldType::ftString, 20, false}};
        t.createTable();
        t.open();
        for (const char* ort : {"K\xF6ln", "Bonn"}) { // values in the program's code page
            t.insert();
            t.field(0).setAsString(ort);
            t.post();
        }
    }
    ASSERT_TRUE(std::filesystem::exists(dir / (table + ".DB")));

    OperationTable operations;
    ops::registerOperations(operations);
    std::ostringstream err;
    const int status = runPageFromArgs(
        session,
        {"Seite2", "Change1Alias=\xC3\x9C" "BER", "Change1Table=" + table, "Change1Field=ORT",
         "vonEdit2=K\xC3\xB6ln", "zuEdit2=Z\xC3\xBCrich", "--yes"},
        operations, err, false);
    EXPECT_EQ(status, 0) << err.str();

    engine::Table t(session);
    t.setDatabaseName("\xC3\x9C" "BER");
    t.setTableName(table);
    t.open();
    EXPECT_EQ(t.field(0).asString(), "Z\xFCrich") << "the value came in the program's code page";
}

} // namespace
} // namespace fieldsmith::run
