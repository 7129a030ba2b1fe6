// Every field operation and Add Primary gives the values it gives on a Paradox copy of the
// same data on the other formats too: a dBase table (memo field, production index), and
// tables of a SQLite file and of a PostgreSQL database behind server aliases.
#include "ops/AddPrimary.h"
#include "ops/FieldOperations.h"

#include "app/run/Operations.h"
#include "app/run/TestHost.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/SqlServers.h"
#include "support/TempDir.h"
#include "tables/Preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace fieldsmith;
using engine::FieldType;
using fieldsmith::test::TempDir;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const Rows kPeople = {
    {"1", "berta", "Berlin", "12,5", "first note"},
    {"2", "Anton", "", "7", ""},
    {"3", "Carla", "Oberhausen", "1.234,00 EUR", "a\r\nb"},
    {"4", "", "Berlin", "", "note four"},
    {"5", "bob", "Bonn", "0,99", ""},
};

enum class Format { Paradox, DBase, Sqlite, Postgres };

const char* formatName(Format f) {
    switch (f) {
    case Format::Paradox: return "Paradox";
    case Format::DBase: return "dBase";
    case Format::Sqlite: return "SQLite";
    case Format::Postgres: return "PostgreSQL";
    }
    return "?";
}

//! One format's copy of the tables: T (people with a memo and an index on NAME), SRC and
//! TGT for Copy Field (TGT with an index on KEY).
struct World {
    Format format;
    std::string extension; //!< ".DBF" for dBase; a suffix of this process for server tables
    TempDir dir;
    engine::Session session{dir.path()};
    run::TestHost host;
    run::PageInputs inputs;
    run::SharedState shared{session};
    std::unique_ptr<test::ServerDatabase> server;

    explicit World(Format f) : format(f) {
        session.addStandardAlias("KESTREL", dir.path());
        if (f == Format::Sqlite || f == Format::Postgres) {
            server = std::make_unique<test::ServerDatabase>(f == Format::Sqlite ? test::Server::Sqlite
                                                                                 : test::Server::Postgres);
            server->define(session, "WORK");
            // Tests may run at once against one PostgreSQL database.
            extension = "_" + std::to_string(getpid());
        } else {
            session.addStandardAlias("WORK", dir.path());
            extension = f == Format::DBase ? ".DBF" : "";
        }
        make("T",
             {{"ID", FieldType::ftInteger, 0, false},
              {"NAME", FieldType::ftString, 20, false},
              {"CITY", FieldType::ftString, 20, false},
              {"PRICE", FieldType::ftString, 20, false},
              {"NOTE", FieldType::ftMemo, 10, false},
              {"ALL", FieldType::ftString, 40, false}},
             kPeople, "NAME");
        make("SRC", {{"K", FieldType::ftString, 10, false}, {"V", FieldType::ftString, 10, false}},
             {{"Bonn", "b"}, {"Berlin", "B"}, {"Rom", "r"}}, "K");
        make("TGT",
             {{"KEY", FieldType::ftString, 10, false}, {"OUT", FieldType::ftString, 10, false}},
             {{"Berlin", ""}, {"Paris", ""}, {"Bonn", "old"}}, "KEY");
    }

    ~World() {
        if (!server) return;
        for (const char* t : {"T", "SRC", "TGT"}) {
            try {
                server->exec("DROP TABLE IF EXISTS " + name(t));
            } catch (const std::exception&) {
            }
        }
    }

    std::string name(const std::string& table) const { return table + extension; }

    void make(const std::string& table, const std::vector<engine::FieldDef>& fields,
              const Rows& rows, const std::string& indexField) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name(table));
        t.fieldDefs() = fields;
        t.createTable();
        t.open();
        for (const auto& row : rows) {
            t.append();
            for (std::size_t i = 0; i < row.size(); ++i)
                t.field(static_cast<int>(i)).setAsString(row[i]);
            t.post();
        }
        t.close();
        // Index names are the schema's on a server: each table has its own.
        t.addIndex((server ? name(table) + "_" : std::string()) + "BY" + indexField, indexField, 0);
    }

    //! The values of a table, sorted (a server keeps rows without a key in its own order).
    //! dBase pads character fields with blanks, so a value's trailing blanks are not kept
    //! there: they are left out of the comparison.
    Rows dump(const std::string& table) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name(table));
        t.open();
        Rows rows;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next()) {
            rows.emplace_back();
            for (int i = 0; i < t.fieldCount(); ++i) {
                std::string v = t.field(i).asString();
                while (!v.empty() && v.back() == ' ')
                    v.pop_back();
                rows.back().push_back(v);
            }
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }
};

struct Case {
    const char* what;
    std::function<void(World&)> setInputs;
    void (*operation)(run::RunContext&);
    const char* checkedTable;
};

const Case kCases[] = {
    {"Change Field",
     [](World& w) {
         auto& in = w.inputs.Seite2;
         in.Change1Alias = "WORK";
         in.Change1Table = w.name("T");
         in.Change1Field = "CITY";
         in.vonEdit2 = "Berlin";
         in.zuEdit2 = "Bonn";
     },
     ops::ExecuteFeldReplaceComplete, "T"},
    {"Change Field partially",
     [](World& w) {
         auto& in = w.inputs.Seite3;
         in.Change2Alias = "WORK";
         in.Change2Table = w.name("T");
         in.Change2Field = "NAME";
         in.vonEdit = "b";
         in.zuEdit = "#";
     },
     ops::SuchenErsetzenSubStrings, "T"},
    {"Change Field partially, upper case",
     [](World& w) {
         auto& in = w.inputs.Seite3;
         in.Change2Alias = "WORK";
         in.Change2Table = w.name("T");
         in.Change2Field = "NOTE";
         in.StringChange = false;
         in.allUpperCaseBtn = true;
     },
     ops::SuchenErsetzenSubStrings, "T"},
    {"Merge Fields",
     [](World& w) {
         auto& in = w.inputs.Seite4;
         in.AliasMerge = "WORK";
         in.MergeTable = w.name("T");
         in.MergeFeld1 = "NAME";
         in.Trenn1Edit = " in ";
         in.MergeFeld2 = "CITY";
         in.MergeTargetFeld = "ALL";
     },
     ops::ExecuteMergeFelder, "T"},
    {"New Value IF",
     [](World& w) {
         auto& in = w.inputs.Seite7;
         in.Change3Alias = "WORK";
         in.Change3Table = w.name("T");
         in.Change3Feld = "CITY";
         in.Change3Feld2 = "PRICE";
         in.Change3If = "er";
         in.Change3Then = "n/a";
     },
     ops::NeuValueIF, "T"},
    {"Format Prices",
     [](World& w) {
         auto& in = w.inputs.Seite6;
         in.PreisAlias1 = "WORK";
         in.PreisTable1 = w.name("T");
         in.PreisFeld1 = "PRICE";
     },
     ops::ExecutePreisFeldFormatieren, "T"},
    {"Delete records without a city",
     [](World& w) {
         auto& in = w.inputs.DelPage;
         in.AliasDel = "WORK";
         in.TableDel = w.name("T");
         in.DelFeldBox = "CITY";
     },
     ops::executeDeleteRecs, "T"},
    {"Delete the first two records",
     [](World& w) {
         auto& in = w.inputs.DelPage;
         in.AliasDel = "WORK";
         in.TableDel = w.name("T");
         in.DelOpt1 = true;
         in.DelOpt2 = false;
         in.FieldDel = "2";
     },
     ops::executeDeleteRecs, "T"},
    {"Copy Field",
     [](World& w) {
         auto& in = w.inputs.Seite1;
         in.AliasBoxS1 = "WORK";
         in.TableBoxS1 = w.name("SRC");
         in.IndexFeld1Box = "K";
         in.Feld2Box = "V";
         in.AliasBox2 = "WORK";
         in.TabellenBox2 = w.name("TGT");
         in.IndexFeld2Box = "KEY";
         in.ZielFeldBox = "OUT";
     },
     ops::executeMoveFelder, "TGT"},
    {"Add Primary",
     [](World& w) {
         auto& in = w.inputs.Seite5;
         in.AliasBox = "WORK";
         in.TabellenBox = w.name("T");
         in.FeldBox = "ID";
         in.LeerFeldCheck = false;
         in.NumberEdit = "100";
     },
     ops::ProcessAddPrimary, "T"},
};

class FormatOperations : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        if (GetParam() == Format::Postgres && !test::postgresMissing().empty())
            GTEST_SKIP() << test::postgresMissing();
    }
};

TEST_P(FormatOperations, GiveTheValuesTheyGiveOnAParadoxCopy) {
    for (const auto& c : kCases) {
        World paradox(Format::Paradox), other(GetParam());
        for (World* w : {&paradox, &other}) {
            c.setInputs(*w);
            run::RunContext ctx{w->host, w->session, w->inputs, w->shared};
            c.operation(ctx);
        }
        EXPECT_EQ(other.host.textsOf(run::MessageKind::Error),
                  paradox.host.textsOf(run::MessageKind::Error))
            << c.what;
        EXPECT_EQ(other.host.textsOf(run::MessageKind::Information),
                  paradox.host.textsOf(run::MessageKind::Information))
            << c.what;
        const Rows expected = paradox.dump(c.checkedTable);
        EXPECT_EQ(other.dump(c.checkedTable), expected) << c.what;
        EXPECT_NE(expected, World(Format::Paradox).dump(c.checkedTable)) << c.what << " changed nothing at all";
    }
}

// A preview on each format: the tables stay as they were (on a server, its changes are
// rolled back), and it reports what the run then reports. A server table's indexes cannot
// be dropped and restored without changing the server, so Add Primary is refused there.
TEST_P(FormatOperations, PreviewsChangeNothingAndReportWhatTheRunReports) {
    const bool onServer = GetParam() == Format::Sqlite || GetParam() == Format::Postgres;
    for (const auto& c : kCases) {
        World w(GetParam());
        c.setInputs(w);
        const Rows before = w.dump(c.checkedTable);
        auto files = [&] {
            std::map<std::string, std::string> bytes;
            for (const auto& e : std::filesystem::directory_iterator(w.dir.path())) {
                if (!e.is_regular_file() || e.path().string().find(".sqlite") != std::string::npos) continue;
                std::ifstream in(e.path(), std::ios::binary);
                bytes[e.path().string()].assign(std::istreambuf_iterator<char>(in), {});
            }
            return bytes;
        };
        const auto filesBefore = files();
        run::RunContext ctx{w.host, w.session, w.inputs, w.shared};
        const bool structural = c.operation == ops::ProcessAddPrimary;
        std::optional<tables::PreviewResult> preview;
        try {
            preview = tables::previewRun(ctx, c.operation);
        } catch (const std::exception& e) {
            EXPECT_TRUE(onServer && structural) << c.what << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("A preview cannot show changes to the structure"), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(w.dump(c.checkedTable), before) << c.what;
        EXPECT_EQ(files(), filesBefore) << c.what;
        if (!preview) continue;
        EXPECT_FALSE(onServer && structural) << c.what << " was previewed on a server";
        EXPECT_TRUE(w.host.textsOf(run::MessageKind::Information).empty()) << c.what;
        EXPECT_FALSE(preview->records.empty()) << c.what;
        c.operation(ctx);
        EXPECT_EQ(preview->messages, w.host.textsOf(run::MessageKind::Information)) << c.what;
        EXPECT_NE(w.dump(c.checkedTable), before) << c.what;
    }
}

// Cancel during a preview asks the run's question; Yes ends the walk there, and the preview
// reports what the aborted run would have, the window's host idle again.
TEST(Preview, CancelAsksAndYesEndsTheWalk) {
    World w(Format::Paradox);
    kCases[0].setInputs(w); // Change Field: CITY Berlin → Bonn, records 1 and 4
    w.host.cancelAtRecord = 2;
    w.host.answers = {true};
    run::RunContext ctx{w.host, w.session, w.inputs, w.shared};
    const tables::PreviewResult result = tables::previewRun(ctx, kCases[0].operation);
    EXPECT_EQ(w.host.textsOf(run::MessageKind::Confirmation), (std::vector<std::string>{"Abort process?"}));
    EXPECT_EQ(result.messages, (std::vector<std::string>{"Complete!\r2 Records of 5 processed"}));
    ASSERT_EQ(result.records.size(), 1u);
    EXPECT_EQ(result.records[0].record, "#1");
    EXPECT_EQ(result.records[0].fields.size(), 1u);
    EXPECT_EQ(w.host.CancelRequested, 0);
    EXPECT_TRUE(w.host.idle);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatOperations,
                         ::testing::Values(Format::DBase, Format::Sqlite, Format::Postgres),
                         [](const auto& info) { return std::string(formatName(info.param)); });

// Add Primary drops the table's indexes before its walk and restores them after: the dBase
// table gets its tag back under the restored name, case-insensitive.
TEST(DBaseOperations, AddPrimaryRestoresTheTags) {
    World w(Format::DBase);
    kCases[std::size(kCases) - 1].setInputs(w);
    run::RunContext ctx{w.host, w.session, w.inputs, w.shared};
    ops::ProcessAddPrimary(ctx);
    engine::Table t(w.session);
    t.setDatabaseName("WORK");
    t.setTableName("T.DBF");
    t.updateIndexDefs();
    ASSERT_EQ(t.indexDefs().size(), 1u);
    EXPECT_EQ(t.indexDefs()[0].name, "_NAME");
    EXPECT_EQ(t.indexDefs()[0].fields, "NAME");
    EXPECT_EQ(t.indexDefs()[0].options, unsigned(engine::ixCaseInsensitive));
}

} // namespace
