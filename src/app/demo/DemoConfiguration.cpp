#include "DemoConfiguration.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "ops/CounterTables.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace fieldsmith::demo {

namespace fsys = std::filesystem;
using engine::FieldDef;
using engine::FieldType;
using engine::IndexDef;

namespace {

using Row = std::vector<std::string>;

// A demo table, unless a table of that name is there already: the user's files are never
// replaced.
void makeTable(engine::Session& session, const std::string& alias, const std::string& name,
               std::vector<FieldDef> fields, std::vector<IndexDef> indexes, const std::vector<Row>& rows) {
    engine::Table t(session);
    t.setDatabaseName(alias);
    t.setTableName(name);
    std::error_code ec;
    if (!session.isSqlAlias(alias) && fsys::exists(t.filePath(), ec)) return;
    t.fieldDefs() = std::move(fields);
    std::vector<IndexDef> secondaries;
    for (auto& ix : indexes) {
        if (ix.isPrimary()) t.indexDefs().push_back(ix);
        else secondaries.push_back(ix);
    }
    t.createTable();
    t.open();
    for (const auto& row : rows) {
        t.insert();
        for (std::size_t i = 0; i < row.size(); ++i)
            if (!row[i].empty()) t.field(static_cast<int>(i)).setAsString(row[i]);
        t.post();
    }
    t.close();
    for (const auto& ix : secondaries) t.addIndex(ix.name, ix.fields, ix.options);
}

// Writes a file only when there is none of that name.
void writeIfMissing(const fsys::path& path, const std::string& content) {
    std::error_code ec;
    if (fsys::exists(path, ec)) return;
    std::ofstream out(path, std::ios::binary);
    out << content;
    out.close();
    if (!out) throw engine::EngineError("Cannot write " + path.string() + ": " + std::strerror(errno));
}

} // namespace

bool ensureDemoConfiguration(const fsys::path& dir) {
    if (fsys::exists(dir / "aliases.ini")) return false;
    const fsys::path kestrel = dir / "data" / "kestrel";
    const fsys::path arbeit = dir / "data" / "arbeit";
    fsys::create_directories(kestrel);
    fsys::create_directories(arbeit);

    engine::Session session;
    session.addStandardAlias("KESTREL", kestrel);
    session.addStandardAlias("ARBEIT", arbeit);

    // One counter table per key name, each holding the last number handed out.
    int start = 1000;
    for (const auto& key : ops::keyNames()) {
        const auto names = ops::counterNamesFor(key);
        makeTable(session, "KESTREL", names.table, {{names.field, FieldType::ftInteger, 0, false}}, {},
                  {{std::to_string(start)}});
        start += 1000;
    }

    // Customers: keyed, with a case-insensitive name index and a composite one.
    makeTable(session, "ARBEIT", "KUNDEN",
              {{"ID", FieldType::ftInteger, 0, true},
               {"NAME", FieldType::ftString, 30},
               {"VORNAME", FieldType::ftString, 20},
               {"ORT", FieldType::ftString, 25},
               {"PLZ", FieldType::ftString, 5},
               {"TELEFON", FieldType::ftString, 20}},
              {{"", "ID", engine::ixPrimary},
               {"ByName", "NAME", engine::ixCaseInsensitive},
               {"ByOrtName", "ORT;NAME", 0}},
              {{"1", "M\xFCller", "Hans", "Berlin", "10115", "030 1234"},
               {"2", "SCHMIDT", "PETRA", "Hamburg", "20095", ""},
               {"3", "meier", "klaus", "Berlin", "10117", "030-555"},
               {"4", "Schulz", "Anna", "  K\xF6ln ", "50667", ""},
               {"5", "Weber", "Jonas", "Oberhausen", "46045", "0208 77"},
               {"6", "Schmidt", "Petra", "Hamburg", "20095", ""}});

    // Articles: empty numbers for new keys, price strings to normalise, DOS characters.
    makeTable(session, "ARBEIT", "ARTIKEL",
              {{"NR", FieldType::ftString, 12},
               {"GRUPPE", FieldType::ftString, 5},
               {"BEZEICHNUNG", FieldType::ftString, 40},
               {"PREIS", FieldType::ftString, 15},
               {"MENGE", FieldType::ftInteger, 0, false}},
              {},
              {{"", "A", "Schraube M4", "12,5", "100"},
               {"", "A", "Mutter M4", "1.234,56", "250"},
               {"", "B", "Unterlegscheibe", "0,9", ""},
               {"", "B", "Gr\x94\xe1" "e XL", "7", "3"},
               {"A-17", "C", "D\x81" "bel", "-12,50", "12"},
               {"", "C", "", "", ""}});

    // Notes with a memo field, short and long.
    makeTable(session, "ARBEIT", "NOTIZEN",
              {{"ID", FieldType::ftInteger, 0, true},
               {"BETREFF", FieldType::ftString, 40},
               {"TEXT", FieldType::ftMemo, 40}},
              {{"", "ID", engine::ixPrimary}},
              {{"1", "Kurz", "Eine kurze Notiz."},
               {"2", "Lang", std::string("\r\nEine lange Notiz, die nicht in den Satz passt. ") + std::string(300, '.')},
               {"3", "Leer", ""}});

    writeIfMissing(arbeit / "kunden.csv", "NAME;VORNAME;ORT\r\n\"M\x81ller\";Hans;Berlin\r\n"
                                          "Schmidt;Petra;Hamburg\r\nWeber;Jonas;Oberhausen\r\n");
    writeIfMissing(dir / "fieldsmith.ini", "[Settings]\nAnsiCodePage=1252\n");
    ensureDemoOracleDatabase(dir);

    // A SQLite database behind a server alias, so that server tables work at once.
    const fsys::path lager = dir / "data" / "lager.sqlite";
    std::error_code ec;
    if (!fsys::exists(lager, ec)) {
        writeIfMissing(lager, ""); // an empty file is an empty SQLite database
        session.addAlias("LAGER", {{"TYPE", "SQLITE"}, {"SERVER NAME", lager.string()}});
        makeTable(session, "LAGER", "BESTAND",
                  {{"NR", FieldType::ftInteger, 0, true},
                   {"ARTIKEL", FieldType::ftString, 40},
                   {"LAGERORT", FieldType::ftString, 20},
                   {"MENGE", FieldType::ftInteger, 0, false},
                   {"PREIS", FieldType::ftString, 15}},
                  {{"", "NR", engine::ixPrimary}, {"BESTAND_ORT", "LAGERORT", 0}},
                  {{"1", "Schraube M4", "Halle 1", "100", "12,5"},
                   {"2", "Mutter M4", "Halle 1", "250", "1.234,56"},
                   {"3", "Unterlegscheibe", "Halle 2", "", "0,9"},
                   {"4", "D\xFC" "bel", "Halle 2", "12", "-12,50"}});
    }
    // The aliases last: their file is what marks the configuration as made.
    writeIfMissing(dir / "aliases.ini",
                   "; Demo aliases: directories of tables, a SQLite database and the Oracle-style\n"
                   "; database KR4. A PostgreSQL database would be:\n"
                   ";   [NAME]\n;   TYPE=POSTGRESQL\n;   SERVER NAME=localhost:5432/database\n;   USER NAME=user\n\n"
                   "[ARBEIT]\nTYPE=STANDARD\nPATH=" + arbeit.string() + "\n\n"
                   "[KESTREL]\nTYPE=STANDARD\nPATH=" + kestrel.string() + "\n\n"
                   "[LAGER]\nTYPE=SQLITE\nSERVER NAME=" + lager.string() + "\n\n"
                   "[KR4]\nTYPE=ORACLE\nSERVER NAME=KR4\n");
    return true;
}

} // namespace fieldsmith::demo
