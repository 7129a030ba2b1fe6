// Table names on a file system that tells case apart: what a table list shows opens, with
// its companion files found however their extensions are cased; a name that fits two files
// differing only in case is reported, not guessed.
#include "support/TempDir.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

using namespace fieldsmith::engine;
using fieldsmith::test::TempDir;
namespace fs = std::filesystem;

namespace {

// A keyed table with a memo, made as NAME.DB and then renamed to the given file names
// (".DB" → dbName, ".PX" → pxName, ".MB" → mbName).
void makeTable(const fs::path& dir, const std::string& dbName, const std::string& pxName,
               const std::string& mbName) {
    Session s;
    s.addStandardAlias("W", dir);
    Table t(s);
    t.setDatabaseName("W");
    t.setTableName("MADE");
    t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true}, {"NOTE", FieldType::ftMemo, 5, false}};
    t.indexDefs() = {{"", "ID", ixPrimary}};
    t.createTable();
    t.open();
    t.insert();
    t.fieldByName("ID").setAsInteger(1);
    t.fieldByName("NOTE").setAsString("a memo longer than its five-byte leader");
    t.post();
    t.close();
    fs::rename(dir / "MADE.DB", dir / dbName);
    fs::rename(dir / "MADE.PX", dir / pxName);
    fs::rename(dir / "MADE.MB", dir / mbName);
}

TEST(TableNames, WhatTheListShowsOpensWithItsCompanionsInAnyCase) {
    struct Case {
        const char* what;
        std::vector<std::array<const char*, 3>> files; //!< db, px, mb names
        const char* typed;
        const char* error; //!< part of the expected error, or nullptr when it opens
    } cases[] = {
        {"lower-case extensions", {{"memo.db", "memo.px", "memo.mb"}}, "memo", nullptr},
        {"mixed case companions", {{"Memo.Db", "Memo.pX", "Memo.MB"}}, "Memo", nullptr},
        {"another case of the stem", {{"ORDERS.DB", "ORDERS.PX", "ORDERS.MB"}}, "orders", nullptr},
        {"typed with its extension", {{"memo.db", "memo.px", "memo.mb"}}, "memo.db", nullptr},
        {"two files differing in case",
         {{"memo.db", "memo.px", "memo.mb"}, {"memo.DB", "memo.PX", "memo.MB"}}, "memo",
         "fits several files that differ only in case (memo"},
        {"the exact name typed wins",
         {{"memo.db", "memo.px", "memo.mb"}, {"memo.DB", "memo.PX", "memo.MB"}}, "memo.DB", nullptr},
        {"no such table", {}, "nothing", "does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        for (const auto& f : c.files) makeTable(dir.path(), f[0], f[1], f[2]);
        Session session;
        session.addStandardAlias("W", dir.path());
        if (!c.files.empty()) {
            const auto names = session.tableNames("W");
            EXPECT_NE(std::find(names.begin(), names.end(), fs::path(c.files[0][0]).stem().string()), names.end());
        }
        Table t(session);
        t.setDatabaseName("W");
        t.setTableName(c.typed);
        if (c.error) {
            try {
                t.open();
                ADD_FAILURE() << "opened";
            } catch (const EngineError& e) {
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
            continue;
        }
        ASSERT_NO_THROW(t.open());
        EXPECT_EQ(t.fieldByName("NOTE").asString(), "a memo longer than its five-byte leader")
            << "the blob file was found";
        t.edit();
        t.fieldByName("NOTE").setAsString("changed through its own family");
        t.post();
        t.close();
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                  static_cast<long>(3 * c.files.size()))
            << "no second family of other case was made";
    }
}

TEST(TableNames, AMissingAliasDirectoryIsNamedWhenListingAndOpening) {
    TempDir dir;
    Session session;
    session.addStandardAlias("GONE", dir.path() / "missing");
    try {
        session.tableNames("GONE");
        ADD_FAILURE() << "listed";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("of alias GONE does not exist"), std::string::npos) << e.what();
    }
    Table t(session);
    t.setDatabaseName("GONE");
    t.setTableName("ANY");
    try {
        t.open();
        ADD_FAILURE() << "opened";
    } catch (const EngineError& e) {
        EXPECT_NE(std::string(e.what()).find("of alias GONE does not exist"), std::string::npos) << e.what();
    }
}

} // namespace
