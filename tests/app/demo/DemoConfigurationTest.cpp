// The demo configuration of a first start: made where nothing is, never replacing what the
// user has.
#include "app/demo/DemoConfiguration.h"

#include "support/TempDir.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace fieldsmith;
using fieldsmith::test::TempDir;

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write(const std::filesystem::path& p, const std::string& text) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

TEST(DemoConfiguration, FirstStartMakesAliasesSettingsAndTablesThatOpen) {
    TempDir dir;
    ASSERT_TRUE(demo::ensureDemoConfiguration(dir.path()));
    engine::Session session(dir.path());
    session.loadConfiguration();
    EXPECT_EQ(session.ansiCodePage(), 1252);
    for (const char* table : {"KUNDEN", "ARTIKEL", "NOTIZEN"}) {
        engine::Table t(session);
        t.setDatabaseName("ARBEIT");
        t.setTableName(table);
        EXPECT_NO_THROW(t.open()) << table;
        EXPECT_GT(t.recordCount(), 0) << table;
    }
    engine::Table lager(session);
    lager.setDatabaseName("LAGER");
    lager.setTableName("BESTAND");
    EXPECT_NO_THROW(lager.open()) << "the SQLite alias works at once";
    EXPECT_EQ(lager.recordCount(), 4);
    EXPECT_FALSE(demo::ensureDemoConfiguration(dir.path())) << "made once only";
}

// Without aliases.ini the demo is made again, but a user's settings, tables and files of the
// same names stay exactly as they were.
TEST(DemoConfiguration, NeverReplacesAFileTheUserHas) {
    TempDir dir;
    const std::string settings = "[Settings]\nAnsiCodePage=1251\n; mine\n";
    write(dir / "fieldsmith.ini", settings);
    write(dir / "data" / "arbeit" / "kunden.csv", "my;own;file\r\n");
    {
        engine::Session session;
        session.addStandardAlias("ARBEIT", dir / "data" / "arbeit");
        engine::Table t(session);
        t.setDatabaseName("ARBEIT");
        t.setTableName("KUNDEN");
        t.fieldDefs() = {{"MINE", engine::FieldType::ftString, 10, false}};
        t.createTable();
    }
    const std::string kunden = slurp(dir / "data" / "arbeit" / "KUNDEN.DB");

    ASSERT_TRUE(demo::ensureDemoConfiguration(dir.path()));
    EXPECT_EQ(slurp(dir / "fieldsmith.ini"), settings);
    EXPECT_EQ(slurp(dir / "data" / "arbeit" / "kunden.csv"), "my;own;file\r\n");
    EXPECT_EQ(slurp(dir / "data" / "arbeit" / "KUNDEN.DB"), kunden);
    EXPECT_TRUE(std::filesystem::exists(dir / "data" / "arbeit" / "NOTIZEN.DB")) << "missing tables are made";
    engine::Session session(dir.path());
    session.loadConfiguration();
    EXPECT_EQ(session.ansiCodePage(), 1251);
}

} // namespace
