// Previews through fieldsmith-batch itself: for every page that changes records, the
// preview leaves every byte of every table as it was, and the records it lists are exactly
// those the run then changes, with the same old and new values.
#include "engine/Session.h"
#include "engine/Table.h"
#include "support/BatchProgram.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

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

using Row = std::vector<std::string>; // table, record, change, field, old, new

using test::fileBytes;

// The rows of a CSV text (quotes, doubled quotes, CR LF), without its header line.
std::vector<Row> parseCsv(const std::string& text) {
    std::vector<Row> rows;
    Row row;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            row.push_back(std::move(field));
            field.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else if (c != '\r') {
            field += c;
        }
    }
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
}

// A table name as the lists give it and as a run names it: upper case, no ".DB".
std::string plainName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    if (name.size() > 3 && name.ends_with(".DB")) name.resize(name.size() - 3);
    return name;
}

// The records of a table by their key values (joined by ", "), each as its field texts.
using Records = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

class Preview : public ::testing::Test {
protected:
    Preview() {
        std::ofstream(home.path() / "aliases.ini")
            << "[WORK]\nTYPE=STANDARD\nPATH=" << work.path().string()
            << "\n[KESTREL]\nTYPE=STANDARD\nPATH=" << kestrel.path().string() << "\n";
        session.addStandardAlias("WORK", work.path());
        session.addStandardAlias("KESTREL", kestrel.path());
        // KUNDEN: keyed, with a memo and a secondary index on ORT.
        make("KUNDEN",
             {{"ID", FieldType::ftInteger, 0, true},
              {"NAME", FieldType::ftString, 20, false},
              {"ORT", FieldType::ftString, 20, false},
              {"PREIS", FieldType::ftString, 12, false},
              {"CODE", FieldType::ftString, 10, false},
              {"INFO", FieldType::ftString, 60, false},
              {"NOTIZ", FieldType::ftMemo, 10, false}},
             {{"1", "Meier", "Bonn", "12,5", "A1", "", "a note longer than the memo's leader"},
              {"2", "Schulze", "Koeln", "1.234,56", "", "", ""},
              {"3", "Berger", "Bonn", "7", "C3", "", "short"},
              {"4", "Wagner", "Hamburg", "", "", "", ""},
              {"5", "Becker", "Bonn", "0,5", "E5", "", ""}});
        addIndex("KUNDEN", "BYORT", "ORT");
        make("QUELLE",
             {{"K", FieldType::ftInteger, 0, true}, {"VAL", FieldType::ftString, 10, false}},
             {{"1", "eins"}, {"3", "drei"}, {"9", "neun"}});
        make("ITEMS",
             {{"POS", FieldType::ftInteger, 0, true},
              {"NR", FieldType::ftString, 12, false},
              {"GRP", FieldType::ftString, 5, false}},
             {{"1", "", "A"}, {"2", "", "B"}, {"3", "", "A"}});
        make("KUNDCSV", {{"X", FieldType::ftString, 10, false}}, {{"old"}});
        makeIn("KESTREL", "TAVOMAX", {{"TAVO", FieldType::ftInteger, 0, false}}, {{"4711"}});
        std::ofstream(work.path() / "kunden.csv") << "NR;STADT\r\n7;Ulm\r\n8;\"Bad; Ems\"\r\n";
    }

    void make(const std::string& name, std::vector<engine::FieldDef> defs,
              const std::vector<Row>& rows) {
        makeIn("WORK", name, std::move(defs), rows);
    }
    void makeIn(const std::string& alias, const std::string& name,
                std::vector<engine::FieldDef> defs, const std::vector<Row>& rows) {
        engine::Table t(session);
        t.setDatabaseName(alias);
        t.setTableName(name);
        t.fieldDefs() = defs;
        if (defs.front().required) t.indexDefs() = {{"", defs.front().name, engine::ixPrimary}};
        t.createTable();
        t.open();
        for (const auto& r : rows) {
            t.insert();
            for (std::size_t i = 0; i < r.size(); ++i)
                if (!r[i].empty()) t.field(static_cast<int>(i)).setAsString(r[i]);
            t.post();
        }
    }
    void addIndex(const std::string& table, const std::string& name, const std::string& fields) {
        engine::Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(table);
        t.addIndex(name, fields, 0);
    }

    Records records(const std::string& alias, const std::string& table) {
        engine::Table t(session);
        t.setDatabaseName(alias);
        t.setTableName(table);
        t.open();
        int keyFields = 0;
        for (const auto& d : t.indexDefs())
            if (d.isPrimary())
                keyFields = static_cast<int>(std::count(d.fields.begin(), d.fields.end(), ';')) + 1;
        Records out;
        int n = 0;
        for (t.first(); !t.eof() && t.recordCount() > 0; t.next()) {
            std::string label;
            for (int k = 0; k < keyFields; ++k)
                label += (k ? ", " : "") + t.field(k).asString();
            if (keyFields == 0)
                label = "new " + std::to_string(++n); // unkeyed: only inserts are compared
            auto& fields = out[label];
            for (int f = 0; f < t.fieldCount(); ++f)
                fields.emplace_back(t.field(f).name(), t.field(f).asString());
        }
        return out;
    }
    std::map<std::string, Records> allTables() {
        std::map<std::string, Records> all;
        for (const char* alias : {"WORK", "KESTREL"})
            for (const auto& name : session.tableNames(alias))
                all[plainName(name)] = records(alias, name);
        return all;
    }

    // The rows a preview should list for the change from before to after; tables in
    // replaced count as created anew.
    static std::multiset<Row> difference(const std::map<std::string, Records>& before,
                                         const std::map<std::string, Records>& after,
                                         const std::set<std::string>& replaced) {
        std::multiset<Row> rows;
        // A record of a table without a key has no name but its number: "new".
        auto shown = [](const std::string& label) {
            return label.starts_with("new ") ? "new" : label;
        };
        auto whole = [&](const std::string& table, const std::string& label, const auto& fields,
                         bool inserted) {
            for (const auto& [field, text] : fields)
                rows.insert({table, shown(label), inserted ? "inserted" : "deleted", field,
                             inserted ? "" : text, inserted ? text : ""});
        };
        static const Records none;
        for (const auto& [table, now] : after) {
            const auto it = before.find(table);
            const Records& was = it == before.end() || replaced.count(table) ? none : it->second;
            for (const auto& [label, fields] : now) {
                const auto old = was.find(label);
                if (old == was.end()) {
                    whole(table, label, fields, true);
                    continue;
                }
                for (std::size_t f = 0; f < fields.size(); ++f)
                    if (fields[f].second != old->second[f].second)
                        rows.insert({table, shown(label), "changed", fields[f].first,
                                     old->second[f].second, fields[f].second});
            }
            for (const auto& [label, fields] : was)
                if (!now.count(label)) whole(table, label, fields, false);
        }
        return rows;
    }

    // The preview's rows as net changes, to compare with the tables after the run: a record
    // known by its number ("#2": a table without a key while the run walked it) gets its
    // label from the table before the run, and successive changes of one field (a counter
    // handing out numbers) make one change from the first old to the last new value.
    static std::multiset<Row> netChanges(const std::vector<Row>& listed,
                                         const std::map<std::string, Records>& before) {
        std::vector<Row> net;
        for (Row r : listed) {
            r[0] = plainName(r[0]);
            if (r[1].starts_with("#") && before.count(r[0])) {
                auto it = before.at(r[0]).begin();
                std::advance(it, std::stoi(r[1].substr(1)) - 1);
                r[1] = it->first.starts_with("new ") ? "new" : it->first;
            }
            auto same = std::find_if(net.begin(), net.end(), [&](const Row& n) {
                return r[2] == "changed" && n[0] == r[0] && n[1] == r[1] && n[2] == r[2] &&
                       n[3] == r[3];
            });
            if (same == net.end())
                net.push_back(r);
            else
                (*same)[5] = r[5];
        }
        return {net.begin(), net.end()};
    }

    test::BatchResult batch(const std::string& args) {
        return test::runBatchProgram(FIELDSMITH_BATCH, home.path(), args);
    }

    TempDir home, work, kestrel, out;
    engine::Session session;
};

TEST_F(Preview, ListsWhatTheRunChangesAndWritesNothingOnEveryPage) {
    const std::string csv = (work.path() / "kunden.csv").string();
    struct Case {
        std::string what, args;
        std::set<std::string> replaced = {};
    } cases[] = {
        {"Copy Field",
         "Seite1 AliasBoxS1=WORK TableBoxS1=QUELLE IndexFeld1Box=K Feld2Box=VAL AliasBox2=WORK "
         "TabellenBox2=KUNDEN IndexFeld2Box=ID ZielFeldBox=CODE --save-as " +
             (out.path() / "MOVE_ERROR.TXT").string()},
        {"Change Field", "Seite2 Change1Alias=WORK Change1Table=KUNDEN Change1Field=ORT "
                         "vonEdit2=Bonn zuEdit2=Berlin"},
        {"Change Field partially",
         "Seite3 Change2Alias=WORK Change2Table=KUNDEN Change2Field=NAME StringChange=1 "
         "vonEdit=er zuEdit=ER"},
        {"letter case",
         "Seite3 Change2Alias=WORK Change2Table=KUNDEN Change2Field=ORT allUpperCaseBtn=1"},
        {"Empty Field",
         "Seite3 Change2Alias=WORK Change2Table=KUNDEN Change2Field=CODE LeerFeld=1"},
        {"Merge Fields",
         "Seite4 AliasMerge=WORK MergeTable=KUNDEN MergeFeld1=NAME Trenn1Edit=- MergeFeld2=ORT "
         "MergeTargetFeld=INFO"},
        {"Add Primary, running numbers",
         "Seite5 AliasBox=WORK TabellenBox=ITEMS FeldBox=NR useNumberRadio=1 "
         "NumberEdit=100"},
        {"Add Primary, counter table",
         "Seite5 AliasBox=WORK TabellenBox=ITEMS FeldBox=NR getPrimRadio=1 "
         "PrimaryBox=TAVO"},
        {"Format Prices", "Seite6 PreisAlias1=WORK PreisTable1=KUNDEN PreisFeld1=PREIS"},
        {"New Value IF",
         "Seite7 Change3Alias=WORK Change3Table=KUNDEN Change3Feld=ORT Change3If=Bonn "
         "Change3Feld2=CODE ChangeUseString=1 Change3Then=BN"},
        {"Delete records", "DelPage AliasDel=WORK TableDel=KUNDEN DelOpt2=1 DelFeldBox=CODE"},
        {"CSV into an existing table",
         "CSVMakeTable CSVEdit=" + csv + " CSVtoPdxEdit=" + (work.path() / "KUNDCSV").string(),
         {"KUNDCSV"}},
        {"Create Table", "CreateTableSeite NeuTabAlias=WORK NeuTabBox=KUNDEN NeuTab2Alias=WORK "
                         "NeuTabelleEdit=KOPIE IndexesCheck=1 CopyAllRecsCheck=1"},
        {"Create Table over an existing one",
         "CreateTableSeite NeuTabAlias=WORK NeuTabBox=QUELLE "
         "NeuTab2Alias=WORK NeuTabelleEdit=ITEMS IndexesCheck=1 "
         "CopyAllRecsCheck=1",
         {"ITEMS"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case starts from the fixture's tables.
        const auto files = fileBytes(work.path());
        const auto counters = fileBytes(kestrel.path());
        const auto before = allTables();

        const auto preview = batch("run " + c.args + " --yes --preview");
        ASSERT_EQ(preview.status, 0) << preview.err;
        EXPECT_TRUE(fileBytes(work.path()) == files) << "the preview wrote to a table";
        EXPECT_TRUE(fileBytes(kestrel.path()) == counters) << "the preview wrote to a counter table";
        EXPECT_FALSE(fsys::exists(home.path() / "backups")) << "a preview backs nothing up";
        EXPECT_FALSE(fsys::exists(out.path() / "MOVE_ERROR.TXT")) << "a preview saves no file";
        const auto listed = parseCsv(preview.out);
        EXPECT_FALSE(listed.empty()) << preview.out << preview.err;

        const auto run = batch("run " + c.args + " --yes");
        ASSERT_EQ(run.status, 0) << run.err;
        // What the run reports, the preview said it would.
        if (const auto reported = run.err.rfind("Information: "); reported != std::string::npos) {
            std::istringstream report(run.err.substr(reported + 13));
            for (std::string line; std::getline(report, line) && !line.starts_with("Save: ");)
                EXPECT_NE(preview.err.find(line), std::string::npos) << line << "\n---\n"
                                                                     << preview.err;
        }
        EXPECT_EQ(netChanges(listed, before), difference(before, allTables(), c.replaced))
            << preview.out;

        // Back to the fixture for the next case.
        for (const auto& [name, bytes] : files)
            std::ofstream(work / name, std::ios::binary | std::ios::trunc) << bytes;
        for (const auto& [name, bytes] : counters)
            std::ofstream(kestrel / name, std::ios::binary | std::ios::trunc) << bytes;
        for (const auto& e : fsys::directory_iterator(work.path()))
            if (!files.count(e.path().filename().string())) fsys::remove(e.path());
        fsys::remove_all(home.path() / "backups");
        fsys::remove(out.path() / "MOVE_ERROR.TXT");
    }
}

// A table written by another program (a memo file and a single-field secondary index on
// the field the run changes): the preview sees it as the run does and leaves its bytes.
TEST_F(Preview, ARealTableWithItsSecondaryIndex) {
    const fsys::path sample = fsys::path(FIELDSMITH_TESTDATA) / "paradox" / "db";
    if (!fsys::exists(sample / "CUSTOMER.X06")) GTEST_SKIP() << "no sample table in " << sample;
    for (const char* ext : {"DB", "PX", "MB", "X06", "Y06"}) {
        const fsys::path to = work / (std::string("CUSTOMER.") + ext);
        fsys::copy_file(sample / (std::string("CUSTOMER.") + ext), to);
        fsys::permissions(to, fsys::perms::owner_read | fsys::perms::owner_write);
    }
    const std::string args = "run Seite2 Change1Alias=WORK Change1Table=CUSTOMER Change1Field=City "
                             "\"vonEdit2=Los Gatos\" zuEdit2=Campbell --yes";
    const auto files = fileBytes(work.path());
    const auto before = allTables();
    const auto preview = batch(args + " --preview");
    ASSERT_EQ(preview.status, 0) << preview.err;
    EXPECT_TRUE(fileBytes(work.path()) == files) << "the preview wrote to a table";
    const auto listed = parseCsv(preview.out);
    ASSERT_FALSE(listed.empty()) << preview.err;
    ASSERT_EQ(batch(args).status, 0);
    EXPECT_EQ(netChanges(listed, before), difference(before, allTables(), {})) << preview.out;
}

} // namespace
