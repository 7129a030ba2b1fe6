// Recording and dropping a table's indexes, and rebuilding them from the index list file.
#include "tables/IndexRestore.h"

#include "support/TempDir.h"
#include "app/run/TestHost.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class IndexRestore : public ::testing::Test {
protected:
    IndexRestore() { session.addStandardAlias("WORK", dir.path()); }

    // KUNDEN: ID key, NAME, ORT, STRASSE, HAUSNUMMER; the given secondary indexes.
    void makeKunden(const std::vector<engine::IndexDef>& secondaries, bool keyed = true) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, keyed},
                         {"NAME", FieldType::ftString, 20},
                         {"ORT", FieldType::ftString, 20},
                         {"STRASSE", FieldType::ftString, 30},
                         {"HAUSNUMMER", FieldType::ftString, 5}};
        if (keyed) t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.createTable();
        t.open();
        for (int i = 3; i >= 1; --i) {
            t.insert();
            t.fieldByName("ID").setAsInteger(i);
            t.fieldByName("NAME").setAsString("n" + std::to_string(i));
            t.post();
        }
        t.close();
        for (const auto& ix : secondaries) t.addIndex(ix.name, ix.fields, ix.options);
    }

    std::vector<engine::IndexDef> indexes() {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.updateIndexDefs();
        return t.indexDefs();
    }

    int indexFiles() {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            const std::string ext = e.path().extension().string();
            if (ext == ".PX" || ext.rfind(".X", 0) == 0 || ext.rfind(".Y", 0) == 0) ++n;
        }
        return n;
    }

    TempDir dir;
    engine::Session session;
    run::TestHost host;
};

TEST_F(IndexRestore, RecordsDropsAndRebuildsUnderNewNames) {
    makeKunden({{"ByName", "NAME", 0}, {"ByOrtName", "ORT;NAME", engine::ixUnique}});
    tables::DeleteAllIndexes(host, session, "WORK", "KUNDEN");
    EXPECT_EQ(slurp(dir / "KUNDEN.DB.Index.txt"), "ID*\r\nNAME\r\nORT;NAME\r\n");
    EXPECT_TRUE(indexes().empty());
    EXPECT_EQ(indexFiles(), 0) << "no .PX and no secondary index files while the indexes are gone";
    EXPECT_EQ(session.passwords().size(), 4u) << "the removal leaves the passwords registered";

    tables::RestoreAllIndexes(host, session, "WORK", "KUNDEN.DB");
    const auto defs = indexes();
    ASSERT_EQ(defs.size(), 3u);
    EXPECT_TRUE(defs[0].isPrimary());
    EXPECT_EQ(defs[0].fields, "ID");
    EXPECT_EQ(defs[1].name, "_NAME");
    EXPECT_EQ(defs[1].options, engine::ixCaseInsensitive);
    EXPECT_EQ(defs[2].name, "_ORT&NAME");
    EXPECT_EQ(defs[2].fields, "ORT;NAME");
    EXPECT_TRUE(session.passwords().empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "KUNDEN.DB.Index.txt")) << "the list stays for the next run";
}

TEST_F(IndexRestore, LongIndexNamesBecomeDateTimeAndLineNumber) {
    makeKunden({{"Addr", "STRASSE;HAUSNUMMER;NAME;ORT", 0}});
    tables::DeleteAllIndexes(host, session, "WORK", "KUNDEN");
    tables::RestoreAllIndexes(host, session, "WORK", "KUNDEN.DB");
    const auto defs = indexes();
    ASSERT_EQ(defs.size(), 2u);
    const std::string& name = defs[1].name;
    ASSERT_EQ(name.size(), 1u + 14u + 1u) << name;
    EXPECT_EQ(name[0], '_');
    EXPECT_EQ(name.find_first_not_of("0123456789", 1), std::string::npos) << name;
    EXPECT_EQ(name.back(), '1') << "the line number of the index";
    EXPECT_EQ(tables::restoredIndexName("ORT;NAME", 2, "x"), "ORT&NAME");
    EXPECT_EQ(tables::restoredIndexName("ABCDEFGHIJKL;MNOPQRSTUVWX", 7, "01022026101010"), "010220261010107");
}

TEST_F(IndexRestore, EmptyLinesOfAListAreSkippedButCountForNames) {
    makeKunden({});
    {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.setExclusive(true);
        t.open();
        t.deleteIndex("");
    }
    std::ofstream(dir / "KUNDEN.DB.Index.txt", std::ios::binary)
        << "ID*\r\n\r\nNAME\r\n\r\nSTRASSE;HAUSNUMMER;NAME;ORT\r\n";
    tables::RestoreAllIndexes(host, session, "WORK", "KUNDEN.DB");
    const auto defs = indexes();
    ASSERT_EQ(defs.size(), 3u);
    EXPECT_TRUE(defs[0].isPrimary());
    EXPECT_EQ(defs[1].name, "_NAME");
    EXPECT_EQ(defs[2].fields, "STRASSE;HAUSNUMMER;NAME;ORT");
    EXPECT_EQ(defs[2].name.back(), '4') << "the line number counts the empty lines: " << defs[2].name;
}

TEST_F(IndexRestore, TableWithoutIndexesWritesNoListAndRestoreOnlyOpensAndCloses) {
    makeKunden({}, false);
    tables::DeleteAllIndexes(host, session, "WORK", "KUNDEN");
    EXPECT_FALSE(std::filesystem::exists(dir / "KUNDEN.DB.Index.txt"));
    session.addPassword("mine");
    tables::RestoreAllIndexes(host, session, "WORK", "KUNDEN.DB");
    EXPECT_TRUE(indexes().empty());
    EXPECT_TRUE(session.passwords().empty()) << "a restore removes every password, whoever added it";
}

TEST_F(IndexRestore, ExclusiveOpenAsksAgainUntilCancelled) {
    makeKunden({});
    // Another session holds the table, as another program would.
    engine::Session otherProgram;
    otherProgram.addStandardAlias("WORK", dir.path());
    engine::Table holder(otherProgram);
    holder.setDatabaseName("WORK");
    holder.setTableName("KUNDEN");
    holder.open();
    host.answers = {true, false};
    try {
        tables::DeleteAllIndexes(host, session, "WORK", "KUNDEN");
        FAIL() << "the removal went on although the table was in use";
    } catch (const engine::EngineError& e) {
        EXPECT_TRUE(e.isDatabaseError());
    }
    const auto questions = host.textsOf(run::MessageKind::Retry);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0], "Table KUNDEN.DB\" cannot be opened exclusively - OK to try again?");
    host.answers = {false};
    EXPECT_THROW(tables::RestoreAllIndexes(host, session, "WORK", "KUNDEN.DB"), engine::EngineError);
    EXPECT_EQ(host.textsOf(run::MessageKind::Retry).back(),
              "Tabelle \"KUNDEN.DB\" konnte nicht exclusiv ge\xF6" "ffnet werden - OK zu weiterem Versuch?");
    EXPECT_TRUE(session.passwords().empty());
}

} // namespace
