// Backups of runs and undo, through fieldsmith-batch itself: a run backs up the families it
// writes, undo puts every byte back, refuses after a later change, and only the newest runs
// are kept.
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/BatchProgram.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#ifndef FIELDSMITH_TESTDATA
#define FIELDSMITH_TESTDATA ""
#endif
#ifndef FIELDSMITH_BATCH
#define FIELDSMITH_BATCH "fieldsmith-batch"
#endif

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;

namespace {

namespace fsys = std::filesystem;

using test::fileBytes;

class RunUndo : public ::testing::Test {
protected:
    RunUndo() {
        std::ofstream(home.path() / "aliases.ini")
            << "[WORK]\nTYPE=STANDARD\nPATH=" << dir.path().string() << "\n";
        session.addStandardAlias("WORK", dir.path());
        session.addPassword("s3cret");
        // An encrypted keyed table with a memo and a secondary index.
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"ORT", FieldType::ftString, 20, false},
                         {"NOTIZ", FieldType::ftMemo, 20, false}};
        t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.setCreatePassword("s3cret");
        t.createTable();
        t.addIndex("BYORT", "ORT", 0);
        t.open();
        for (int i = 1; i <= 50; ++i) {
            t.insert();
            t.fieldByName("ID").setAsInteger(i);
            t.fieldByName("ORT").setAsString(i % 2 ? "Bonn" : "Koeln");
            t.fieldByName("NOTIZ").setAsString(std::string(300, static_cast<char>('a' + i % 26)));
            t.post();
        }
    }

    //! Runs fieldsmith-batch with these arguments; standard error goes to err.
    std::string batch(const std::string& args, int& status) {
        auto r = test::runBatchProgram(FIELDSMITH_BATCH, home.path(), "--password s3cret " + args);
        status = r.status;
        err = std::move(r.err);
        return std::move(r.out);
    }
    std::string batch(const std::string& args) {
        int status = 0;
        std::string out = batch(args, status);
        EXPECT_EQ(status, 0) << args << ": " << err;
        return out;
    }
    void changeOrt(const std::string& from, const std::string& to) {
        batch("run Seite2 Change1Alias=WORK Change1Table=KUNDEN Change1Field=ORT vonEdit2=" + from +
              " zuEdit2=" + to + " --yes");
    }
    std::string ortOf(int id) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.open();
        for (t.first(); !t.eof(); t.next())
            if (t.fieldByName("ID").asInteger() == id) return t.fieldByName("ORT").asString();
        return "?";
    }
    std::size_t backupFolders() {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fsys::directory_iterator(home.path() / "backups"))
            ++n;
        return n;
    }

    TempDir home, dir;
    engine::Session session;
    std::string err;
};

TEST_F(RunUndo, UndoGivesBackEveryByteOfAnEncryptedTableFamily) {
    const auto before = fileBytes(dir.path());
    ASSERT_TRUE(before.count("KUNDEN.MB") && before.count("KUNDEN.PX") &&
                before.count("KUNDEN.XG0"));
    changeOrt("Bonn", "Berlin");
    ASSERT_EQ(ortOf(1), "Berlin");
    ASSERT_NE(fileBytes(dir.path()), before);

    const std::string list = batch("undo --list");
    EXPECT_NE(list.find("Seite2"), std::string::npos) << list;
    EXPECT_NE(list.find("KUNDEN.DB"), std::string::npos) << list;

    int status = 0;
    batch("undo", status);
    EXPECT_EQ(status, 4) << "an unanswered question ends the command";
    EXPECT_NE(err.find("Undo the run Seite2 on KUNDEN.DB"), std::string::npos) << err;
    batch("undo --no");
    EXPECT_EQ(ortOf(1), "Berlin");

    batch("undo --yes");
    EXPECT_EQ(fileBytes(dir.path()), before);
    EXPECT_EQ(ortOf(1), "Bonn");
    // Still encrypted: without the password the table does not open.
    engine::Session noPassword;
    noPassword.addStandardAlias("WORK", dir.path());
    engine::Table t(noPassword);
    t.setDatabaseName("WORK");
    t.setTableName("KUNDEN");
    EXPECT_ANY_THROW(t.open());

    batch("undo --yes", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("There is no run to undo"), std::string::npos) << err;
}

// A table written by another program, with a single-field secondary index (.X06/.Y06 on
// City) and a memo file: the run rewrites the index, and undo puts it back with the data.
TEST_F(RunUndo, UndoGivesBackTheSingleFieldIndexesOfARealTable) {
    const fsys::path sample = fsys::path(FIELDSMITH_TESTDATA) / "paradox" / "db";
    if (!fsys::exists(sample / "CUSTOMER.X06")) GTEST_SKIP() << "no sample table in " << sample;
    for (const char* ext : {"DB", "PX", "MB", "X06", "Y06"}) {
        fsys::copy_file(sample / (std::string("CUSTOMER.") + ext), dir / (std::string("CUSTOMER.") + ext));
        fsys::permissions(dir / (std::string("CUSTOMER.") + ext), fsys::perms::owner_read | fsys::perms::owner_write);
    }
    const auto before = fileBytes(dir.path());
    batch("run Seite2 Change1Alias=WORK Change1Table=CUSTOMER Change1Field=City \"vonEdit2=Los Gatos\" "
          "zuEdit2=Campbell --yes");
    const auto after = fileBytes(dir.path());
    ASSERT_NE(after.at("CUSTOMER.X06"), before.at("CUSTOMER.X06")) << "the run did not touch the index";
    batch("undo --yes");
    const auto undone = fileBytes(dir.path());
    for (const auto& [name, bytes] : before)
        EXPECT_TRUE(undone.count(name) && undone.at(name) == bytes) << name << " is not as it was";
    EXPECT_EQ(undone.size(), before.size());
}

TEST_F(RunUndo, UndoIsRefusedWhenTheTableChangedAfterTheRun) {
    changeOrt("Bonn", "Berlin");
    {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("KUNDEN");
        t.open();
        t.edit();
        t.fieldByName("ORT").setAsString("Hamm");
        t.post();
    }
    const auto changed = fileBytes(dir.path());
    int status = 0;
    batch("undo --yes", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("cannot be undone: table"), std::string::npos) << err;
    EXPECT_NE(err.find("was changed after it"), std::string::npos) << err;
    EXPECT_EQ(fileBytes(dir.path()), changed);
}

TEST_F(RunUndo, OnlyTheNewestRunsAreKeptAndUndoGoesBackOneRunAtATime) {
    std::ofstream(home.path() / "fieldsmith.ini") << "[Settings]\nBackupRuns=2\n";
    const auto start = fileBytes(dir.path());
    changeOrt("Bonn", "Aachen");
    const auto afterFirst = fileBytes(dir.path());
    changeOrt("Aachen", "Berlin");
    changeOrt("Berlin", "Celle");
    EXPECT_EQ(backupFolders(), 2u);

    batch("undo --yes");
    EXPECT_EQ(ortOf(1), "Berlin");
    batch("undo --yes");
    EXPECT_EQ(ortOf(1), "Aachen");
    EXPECT_EQ(fileBytes(dir.path()), afterFirst);
    int status = 0;
    batch("undo --yes", status);
    EXPECT_EQ(status, 1) << "the first run's backup was dropped";
    EXPECT_NE(fileBytes(dir.path()), start);
}

TEST_F(RunUndo, UndoBringsBackATableThatARunReplacedAndDropsWhatItMade) {
    {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("ARTIKEL");
        t.fieldDefs() = {{"NR", FieldType::ftInteger, 0, true},
                         {"TEXT", FieldType::ftString, 20, false}};
        t.indexDefs() = {{"", "NR", engine::ixPrimary}};
        t.createTable();
        t.addIndex("BYTEXT", "TEXT", 0);
    }
    std::ofstream(dir / "neu.csv") << "NR;TEXT\r\n1;Schraube\r\n2;Mutter\r\n";
    const auto before = fileBytes(dir.path());
    for (const char* name : {"ARTIKEL.DB", "NEU.DB"}) {
        batch("run CSVMakeTable CSVEdit='" + (dir / "neu.csv").string() + "' CSVtoPdxEdit='" +
              (dir / name).string() + "' FeldSeparEdit=';' --yes");
        ASSERT_TRUE(fsys::exists(dir / name)) << err;
    }
    ASSERT_FALSE(fsys::exists(dir / "ARTIKEL.XG0")) << "the import made the table anew";
    // The run names the table it made, once: not the trial table of its definition.
    const std::string list = batch("undo --list");
    const std::string newest = list.substr(0, list.find('\n'));
    EXPECT_NE(newest.find((dir / "NEU.DB").string()), std::string::npos) << list;
    EXPECT_EQ(newest.find("NEU.DB"), newest.rfind("NEU.DB")) << newest;
    batch("undo --yes");
    EXPECT_FALSE(fsys::exists(dir / "NEU.DB")) << "the table the last run made is gone";
    batch("undo --yes");
    EXPECT_EQ(fileBytes(dir.path()), before);
}

// A run on a table of a server alias has no backup, and undo says so rather than passing
// over it to the run before, whose undo would now set back tables the user went on from.
TEST_F(RunUndo, AfterARunOnAServerTableUndoRefusesInsteadOfUndoingAnEarlierRun) {
    const fsys::path db = home.path() / "shop.sqlite"; // beside, not among, the file tables
    std::ofstream{db};                                 // an empty file is an empty SQLite database
    std::ofstream(home.path() / "aliases.ini", std::ios::app)
        << "[SHOP]\nTYPE=SQLITE\nSERVER NAME=" << db.string() << "\n";
    session.addAlias("SHOP", {{"TYPE", "SQLITE"}, {"SERVER NAME", db.string()}});
    {
        engine::Table t(session);
        t.setDatabaseName("SHOP");
        t.setTableName("kunden");
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"ORT", FieldType::ftString, 20, false}};
        t.indexDefs() = {{"", "ID", engine::ixPrimary}};
        t.createTable();
        t.open();
        t.insert();
        t.fieldByName("ID").setAsInteger(1);
        t.fieldByName("ORT").setAsString("Bonn");
        t.post();
    }
    changeOrt("Bonn", "Berlin");
    const auto afterFileRun = fileBytes(dir.path());
    batch("run Seite2 Change1Alias=SHOP Change1Table=kunden Change1Field=ORT vonEdit2=Bonn "
          "zuEdit2=Celle --yes");
    const std::string list = batch("undo --list");
    EXPECT_NE(list.substr(0, list.find('\n')).find("kunden of SHOP"), std::string::npos) << list;
    int status = 0;
    batch("undo --yes", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("cannot be undone: it changed tables of a server alias"), std::string::npos)
        << err;
    EXPECT_EQ(ortOf(1), "Berlin") << "the run before stays as it is";
    EXPECT_EQ(fileBytes(dir.path()), afterFileRun);
}

TEST_F(RunUndo, ARunRefusedBecauseAnotherProgramWritesLeavesNoBackup) {
    engine::Table writer(session);
    writer.setDatabaseName("WORK");
    writer.setTableName("KUNDEN");
    writer.open();
    writer.beginWriting(); // holds the writer's role, as another program in the middle of a run
    int status = 0;
    batch("run Seite2 Change1Alias=WORK Change1Table=KUNDEN Change1Field=ORT vonEdit2=Bonn "
          "zuEdit2=Celle --yes",
          status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("is in use by someone else"), std::string::npos) << err;
    EXPECT_FALSE(fsys::exists(home.path() / "backups") && backupFolders() > 0);
}

TEST_F(RunUndo, ARunThatWritesNothingLeavesNoBackup) {
    int status = 0;
    batch("run Seite2 Change1Alias=WORK Change1Table=NOSUCH Change1Field=ORT vonEdit2=a zuEdit2=b "
          "--yes",
          status);
    EXPECT_NE(status, 0);
    EXPECT_FALSE(fsys::exists(home.path() / "backups") && backupFolders() > 0);
}

} // namespace
