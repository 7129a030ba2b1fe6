// Tables in DOS code pages: text is presented in the program's code page and stored back
// in the table's own, and a post leaves every field it did not set byte for byte.
#include "support/TempDir.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;

namespace {

const std::filesystem::path kSamples = std::filesystem::path(FIELDSMITH_TESTDATA) / "paradox";

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(CodePages, ChangingOneFieldOfADosTableLeavesEveryOtherByte) {
    if (!std::filesystem::exists(kSamples / "db/CONTACTS.DB")) GTEST_SKIP() << "sample tables absent";
    TempDir dir;
    std::filesystem::copy_file(kSamples / "db/CONTACTS.DB", dir / "CONTACTS.DB");
    const std::string before = slurp(dir / "CONTACTS.DB");

    Session session;
    session.addStandardAlias("WORK", dir.path());
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("CONTACTS");
    t.open();
    t.moveBy(2);
    const std::string company = t.fieldByName("Company").asString();
    session.conversionLosses() = 0;
    t.edit();
    // ü exists in code page 437, ø does not: it becomes "?" and is counted.
    t.fieldByName("Company").setAsString("M\xFCller & S\xF8n");
    t.post();
    EXPECT_EQ(session.conversionLosses(), 1u);
    EXPECT_EQ(t.fieldByName("Company").asString(), "M\xFCller & S?n");
    t.close();

    const std::string after = slurp(dir / "CONTACTS.DB");
    ASSERT_EQ(after.size(), before.size());
    // Find the record by its old company text; the field is the third (offset 30, width 30).
    const std::size_t at = before.find(company);
    ASSERT_NE(at, std::string::npos);
    const std::string stored = after.substr(at, 30);
    EXPECT_EQ(stored.substr(0, 12), std::string("M\x81ller & S?n"));
    std::size_t differing = 0;
    for (std::size_t i = 0x58; i < before.size(); ++i) {
        if (i >= at && i < at + 30) continue;
        if (before[i] != after[i]) ++differing;
    }
    EXPECT_EQ(differing, 0u) << "bytes outside the header and the changed field";
}

TEST(CodePages, ProgramCodePageComesFromTheSettingsFile) {
    TempDir dir;
    std::ofstream(dir / "fieldsmith.ini") << "[Settings]\nAnsiCodePage=1251\n";
    std::ofstream(dir / "aliases.ini") << "[WORK]\nTYPE=STANDARD\nPATH=" << dir.path().string() << "\n";
    Session session(dir.path());
    session.loadConfiguration();
    EXPECT_EQ(session.ansiCodePage(), 1251);
    // A Cyrillic text written in 1251 comes back unchanged from a table made in 1251.
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("CYR");
    t.fieldDefs() = {{"NAME", FieldType::ftString, 20, false}};
    t.createTable();
    t.open();
    t.insert();
    t.fieldByName("NAME").setAsString("\xCC\xEE\xF1\xEA\xE2\xE0"); // Moskva in 1251
    t.post();
    t.close();
    t.open();
    EXPECT_EQ(t.fieldByName("NAME").asString(), "\xCC\xEE\xF1\xEA\xE2\xE0");
    t.close();
    // A program running in Windows-1252 has no equivalents for these letters.
    Session western;
    western.addStandardAlias("WORK", dir.path());
    Table w(western);
    w.setDatabaseName("WORK");
    w.setTableName("CYR");
    w.open();
    EXPECT_EQ(w.fieldByName("NAME").asString(), "??????");
    EXPECT_EQ(western.conversionLosses(), 6u);
}

} // namespace

namespace {

TEST(Encryption, SampleNeedsItsPasswordAndDecryptsToItsRecords) {
    const auto sample = kSamples / "encrypt/encrypted.db";
    if (!std::filesystem::exists(sample)) GTEST_SKIP() << "sample tables absent";
    Session session;
    Table t(session);
    t.setTableName(sample.string());
    try {
        t.open();
        FAIL() << "opened without a password";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::NeedsPassword);
        EXPECT_NE(std::string(e.what()).find("password"), std::string::npos);
    }
    session.addPassword("wrong");
    EXPECT_THROW(t.open(), EngineError);
    session.addPassword("123");
    t.open();
    std::vector<std::string> texts;
    for (t.first(); !t.eof(); t.next()) texts.push_back(t.fieldByName("Text").asString());
    EXPECT_EQ(texts, (std::vector<std::string>{"Value 1", "Value 2", "Value 3", "Last one"}));
    t.close();
    session.removeAllPasswords();
    EXPECT_THROW(t.open(), EngineError) << "removing the passwords closes the door again";
}

TEST(Encryption, TableMadeWithAPasswordRoundTrips) {
    TempDir dir;
    Session session;
    session.addStandardAlias("WORK", dir.path());
    Table t(session);
    t.setDatabaseName("WORK");
    t.setTableName("SECRET");
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                     {"NAME", FieldType::ftString, 30, false},
                     {"NOTE", FieldType::ftMemo, 10, false}};
    t.indexDefs() = {{"", "ID", ixPrimary}};
    t.setCreatePassword("s3cret");
    t.createTable();
    EXPECT_THROW(t.open(), EngineError);
    session.addPassword("s3cret");
    t.open();
    for (int i = 1; i <= 300; ++i) {
        t.insert();
        t.fieldByName("ID").setAsInteger(i);
        t.fieldByName("NAME").setAsString("name " + std::to_string(i));
        if (i % 50 == 0) t.fieldByName("NOTE").setAsString(std::string(3000, 'n') + std::to_string(i));
        t.post();
    }
    t.first();
    t.edit();
    t.fieldByName("NAME").setAsString("changed");
    t.post();
    t.close();
    // Nothing readable in clear on disk.
    const std::string db = slurp(dir / "SECRET.DB");
    EXPECT_EQ(db.find("name 1"), std::string::npos);
    EXPECT_EQ(slurp(dir / "SECRET.MB").find("nnnnnnnn"), std::string::npos);
    t.open();
    EXPECT_EQ(t.recordCount(), 300);
    EXPECT_EQ(t.fieldByName("NAME").asString(), "changed");
    t.moveBy(99);
    EXPECT_EQ(t.fieldByName("NOTE").asString(), std::string(3000, 'n') + "100");
    t.close();
    Session stranger;
    stranger.addStandardAlias("WORK", dir.path());
    Table s(stranger);
    s.setDatabaseName("WORK");
    s.setTableName("SECRET");
    EXPECT_THROW(s.open(), EngineError);
}

} // namespace
