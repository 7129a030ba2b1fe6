// Damaged dBase, FoxPro and text tables: mutated copies of every file of a table family
// must read, take a change and close, or fail with an EngineError; never crash, hang or
// throw anything else.
#include "DBaseTestSupport.h"

#include "../TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Variant {
    std::string what;
    std::size_t file; //!< index into the family
    Bytes bytes;
};

std::uint16_t u16(const Bytes& b, std::size_t at) {
    return at + 1 < b.size() ? static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}

void put(Bytes& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n && at + static_cast<std::size_t>(i) < b.size(); ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string upperExt(const fs::path& p) {
    return upperAscii(p.extension().string());
}

void addTruncations(std::vector<Variant>& out, std::size_t file, const Bytes& b,
                    std::vector<std::size_t> lengths) {
    for (std::size_t k = 1; k < 8; ++k)
        lengths.push_back(b.size() * k / 8);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    for (std::size_t n : lengths)
        if (n < b.size())
            out.push_back({"truncated to " + std::to_string(n), file,
                           Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n))});
}

void addValues(std::vector<Variant>& out, std::size_t file, const Bytes& b,
               const std::string& where, std::size_t at, int width,
               std::initializer_list<std::uint64_t> values) {
    for (std::uint64_t v : values) {
        Bytes c = b;
        put(c, at, v, width);
        out.push_back({where + " = " + std::to_string(v), file, std::move(c)});
    }
}

// Damage to a .DBF: truncations, header bytes, counts and lengths, descriptors (type
// letters, lengths, the terminator), memo pointers and scrambled records.
void damageTable(std::vector<Variant>& out, std::size_t file, const Bytes& db) {
    const std::size_t hs = u16(db, 8), rs = std::max<std::size_t>(u16(db, 10), 1);
    const bool level7 = !db.empty() && (db[0] & 7) == 4;
    const std::size_t first = level7 ? 68 : 32, size = level7 ? 48 : 32;
    addTruncations(out, file, db,
                   {0, 1, 31, 32, 33, first + size, hs - 1, hs, hs + 1, hs + rs / 2, hs + rs});
    for (std::size_t at = 0; at < 32; ++at) {
        Bytes b = db;
        b[at] ^= 0xFF;
        out.push_back({"header byte " + std::to_string(at) + " inverted", file, std::move(b)});
    }
    addValues(out, file, db, "record count", 4, 4, {0, 1, 0x7FFFFFFF, 0xFFFFFFFF});
    addValues(out, file, db, "header length", 8, 2, {0, 1, 33, first + size, hs + 1, 0xFFFF});
    addValues(out, file, db, "record length", 10, 2, {0, 1, 2, rs - 1, rs + 1, 0xFFFF});
    for (std::uint8_t version : {0x03, 0x83, 0x8B, 0x04, 0x8C, 0x30, 0x32, 0xF5, 0x02, 0x00}) {
        Bytes b = db;
        b[0] = version;
        out.push_back({"version byte " + std::to_string(version), file, std::move(b)});
    }
    for (std::size_t at = first; at + size <= hs && db[at] != 0x0D && at < first + 4 * size;
         at += size) {
        const std::size_t type = at + (level7 ? 32 : 11), length = at + (level7 ? 33 : 16);
        const std::string where = "descriptor at " + std::to_string(at);
        for (char letter : std::string("CNFDLMBGI+O@YTVQ0P?")) {
            Bytes b = db;
            b[type] = static_cast<std::uint8_t>(letter);
            out.push_back({where + " type " + letter, file, std::move(b)});
        }
        for (std::uint8_t len : {0, 1, 4, 8, 255}) {
            Bytes b = db;
            b[length] = len;
            out.push_back({where + " length " + std::to_string(len), file, std::move(b)});
        }
        Bytes b = db;
        b[length + 1] = 0xFF;
        out.push_back({where + " decimals 255", file, std::move(b)});
        Bytes c = db;
        c[at] = 0;
        out.push_back({where + " without a name", file, std::move(c)});
    }
    if (hs > 0 && hs - 1 < db.size()) {
        Bytes b = db;
        b[hs - 1] = 'X';
        out.push_back({"terminator replaced", file, std::move(b)});
    }
    // Every memo-sized run of digits in the first records pointed elsewhere.
    for (std::size_t rec = 0; rec < 3; ++rec)
        for (std::size_t at = hs + rec * rs + 1;
             at + 10 <= hs + (rec + 1) * rs && at + 10 <= db.size(); ++at) {
            bool pointer = db[at + 9] >= '0' && db[at + 9] <= '9' && db[at] == ' ';
            if (!pointer) continue;
            for (const char* text : {"4294967295", "  99999999", "        -1", "0000000000",
                                     "         1", "12345abcde"}) {
                Bytes b = db;
                std::copy(text, text + 10, b.begin() + static_cast<std::ptrdiff_t>(at));
                out.push_back({"record " + std::to_string(rec + 1) + " memo pointer '" + text + "'",
                               file, std::move(b)});
            }
            at += 9;
        }
    std::mt19937 rng(static_cast<unsigned>(db.size()));
    for (int k = 0; k < 3 && db.size() > hs; ++k) {
        Bytes b = db;
        for (std::size_t i = hs; i < std::min(b.size(), hs + 4 * rs); ++i)
            b[i] = k == 0 ? 0xFF : static_cast<std::uint8_t>(rng());
        out.push_back({"records scrambled (" + std::to_string(k) + ")", file, std::move(b)});
    }
}

// Damage to a memo file: truncations, the header's pointers and block size, value headers.
void damageMemo(std::vector<Variant>& out, std::size_t file, const Bytes& m, bool foxPro) {
    addTruncations(out, file, m, {0, 4, 8, 22, 511, 512, 520, 1024});
    addValues(out, file, m, "next block", 0, 4, {0, 1, 0xFFFFFFFF, 3});
    addValues(out, file, m, "block size", foxPro ? 6 : 20, 2, {0, 1, 63, 64, 0xFFFF, 0x0100});
    for (std::size_t block = 1; block < 4 && (block + 1) * 512 <= m.size(); ++block) {
        const std::size_t at = block * 512;
        const std::string where = "block " + std::to_string(block);
        addValues(out, file, m, where + " marker", at, 4, {0, 0x0008FFFF, 0xFFFFFFFF});
        addValues(out, file, m, where + " length", at + 4, 4, {0, 7, 8, 0x7FFFFFFF, 0xFFFFFFFF});
        addValues(out, file, m, where + " as a free run", at, 8,
                  {0x0000000100000002ull, 0x0000000500000001ull});
    }
    for (std::size_t at = 0; at < std::min<std::size_t>(m.size(), 64); at += 5) {
        Bytes b = m;
        b[at] ^= 0xFF;
        out.push_back({"memo header byte " + std::to_string(at) + " inverted", file, std::move(b)});
    }
}

// Damage to a production index: truncations, the tag count and table, tag headers.
void damageIndex(std::vector<Variant>& out, std::size_t file, const Bytes& x) {
    addTruncations(out, file, x, {0, 28, 544, 2047, 2048, 2560});
    addValues(out, file, x, "tag count", 28, 2, {0, 1, 47, 48, 0xFFFF});
    for (std::size_t tag = 0; tag < 2; ++tag) {
        const std::size_t entry = 544 + 32 * tag;
        addValues(out, file, x, "tag " + std::to_string(tag + 1) + " page", entry, 4,
                  {0, 3, 0xFFFF, 0xFFFFFFFF});
        const std::size_t header = static_cast<std::size_t>(u16(x, entry)) * 512;
        if (header + 512 > x.size()) continue;
        addValues(out, file, x, "tag " + std::to_string(tag + 1) + " key length", header + 12, 2,
                  {0, 0xFFFF});
        Bytes b = x;
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(header) + 24,
                  b.begin() + static_cast<std::ptrdiff_t>(header) + 500, 'A');
        out.push_back(
            {"tag " + std::to_string(tag + 1) + " expression without end", file, std::move(b)});
        Bytes c = x;
        const char odd[] = "UPPER(NAME+(";
        std::copy(odd, odd + sizeof odd, c.begin() + static_cast<std::ptrdiff_t>(header) + 24);
        out.push_back(
            {"tag " + std::to_string(tag + 1) + " expression unbalanced", file, std::move(c)});
        Bytes d = x;
        d[header + 245] = 1;
        out.push_back({"tag " + std::to_string(tag + 1) + " with a FOR flag", file, std::move(d)});
    }
}

//! Opens the table, reads every field of every record, moves about, then (unless asked not
//! to) changes the first record and closes. "" when that worked or ended in an
//! EngineError, else what went wrong.
std::string exercise(const fs::path& table, bool change) {
    Session session;
    Table t(session);
    t.setTableName(table.string());
    try {
        t.open();
        const std::int64_t count = t.recordCount();
        std::int64_t steps = 0;
        for (t.first(); !t.eof(); t.next()) {
            if (++steps > 10 * count + 10) return "the walk did not end";
            for (int i = 0; i < t.fieldCount(); ++i)
                t.field(i).asString();
        }
        t.last();
        t.prior();
        t.moveBy(-count);
        for (const auto& ix : std::vector<IndexDef>(t.indexDefs()))
            if (!ix.fields.empty() || !ix.name.empty()) {
                t.setIndexName(ix.name);
                for (t.first(); !t.eof(); t.next()) {
                }
            }
        if (change && count > 0) {
            t.first();
            t.edit();
            t.field(0).setAsString("changed");
            t.post();
            t.append();
            t.field(0).setAsString("added");
            t.post();
        }
        t.close();
    } catch (const EngineError&) {
        return {};
    } catch (const std::exception& e) {
        return std::string("threw a non-engine exception: ") + e.what();
    }
    return {};
}

// Runs every variant on the family; files a change wrote or created are put back after each.
std::vector<std::string> runVariants(const std::vector<fs::path>& family, const fs::path& table,
                                     const std::vector<Variant>& variants, int& count) {
    std::vector<Bytes> original;
    for (const auto& f : family)
        original.push_back(readFileBytes(f));
    std::vector<std::string> failures;
    for (const auto& v : variants) {
        writeFileBytes(family[v.file], v.bytes);
        const std::string result = exercise(table, true);
        for (const auto& e : fs::directory_iterator(table.parent_path()))
            if (std::find(family.begin(), family.end(), e.path()) == family.end())
                fs::remove(e.path());
        for (std::size_t i = 0; i < family.size(); ++i)
            writeFileBytes(family[i], original[i]);
        if (!result.empty())
            failures.push_back(table.filename().string() + " (" +
                               family[v.file].filename().string() + " " + v.what + "): " + result);
    }
    count += static_cast<int>(variants.size());
    return failures;
}

std::vector<Variant> variantsOf(const std::vector<fs::path>& family) {
    std::vector<Variant> variants;
    for (std::size_t i = 0; i < family.size(); ++i) {
        const Bytes b = readFileBytes(family[i]);
        const std::string ext = upperExt(family[i]);
        if (ext == ".DBF")
            damageTable(variants, i, b);
        else if (ext == ".DBT" || ext == ".FPT")
            damageMemo(variants, i, b, ext == ".FPT");
        else if (ext == ".MDX")
            damageIndex(variants, i, b);
    }
    return variants;
}

std::vector<fs::path> familyOf(const fs::path& table) {
    std::vector<fs::path> family;
    for (const auto& e : fs::directory_iterator(table.parent_path()))
        family.push_back(e.path());
    std::sort(family.begin(), family.end());
    return family;
}

void expectNoFailures(const std::vector<std::string>& failures) {
    for (std::size_t i = 0; i < failures.size() && i < 25; ++i)
        ADD_FAILURE() << failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " damaged variants were not handled";
}

// Tables this engine makes: dBase IV and III+ with memos, deleted records and an index.
TEST(DBaseDamagedFiles, EngineMadeTablesReadOrFailWithEngineError) {
    TempDir work;
    Session session;
    std::vector<std::string> failures;
    int count = 0;
    for (const bool dbase3 : {false, true}) {
        const fs::path dir = work.path() / (dbase3 ? "iii" : "iv");
        fs::create_directories(dir);
        const fs::path file = dir / "DAMAGE.DBF";
        {
            auto t = tableOn(session, file);
            t->fieldDefs() = {{"NAME", FieldType::ftString, 10, false},
                              {"QTY", FieldType::ftFloat, 2, false},
                              {"NOTE", FieldType::ftMemo, 0, false},
                              {"DAY", FieldType::ftDate, 0, false},
                              {"OK", FieldType::ftBoolean, 0, false}};
            t->indexDefs() = {{"BYNAME", "NAME", ixCaseInsensitive},
                              {"BYQTY", "QTY", ixDescending}};
            t->createTable();
            if (dbase3) {
                auto b = readFileBytes(file);
                b[0] = 0x83;
                writeFileBytes(file, b);
                Bytes head(512, 0);
                head[0] = 1;
                writeFileBytes(dir / "DAMAGE.DBT", head);
            }
            t->open();
            for (int i = 0; i < 12; ++i) {
                t->append();
                t->fieldByName("NAME").setAsString("n" + std::to_string(i));
                t->fieldByName("QTY").setAsString(std::to_string(i * 1.5 - 4));
                t->fieldByName("NOTE").setAsString(
                    std::string(static_cast<std::size_t>(i * 97 % 900), 'm'));
                t->fieldByName("DAY").setAsString(i % 3 ? "2020-05-0" + std::to_string(1 + i % 9)
                                                        : "");
                t->post();
            }
            t->first();
            t->deleteRecord();
        }
        ASSERT_EQ(exercise(file, false), "");
        for (auto& f : runVariants(familyOf(file), file, variantsOf(familyOf(file)), count))
            failures.push_back(std::move(f));
    }
    EXPECT_GT(count, 600);
    expectNoFailures(failures);
}

// Tables of the independent writers: FoxPro with .FPT, Visual FoxPro with null flags, the
// format sheet's dBase IV memo file and production index.
TEST(DBaseDamagedFiles, OtherProgramsTablesReadOrFailWithEngineError) {
    if (const std::string why = missingPythonDbf(); !why.empty()) GTEST_SKIP() << why;
    TempDir fixtures, work;
    makeFixtures(fixtures.path());
    std::vector<std::string> failures;
    int count = 0;
    for (const char* name : {"FOX", "VFP", "IV_MEMO", "TAGS"}) {
        const fs::path dir = work.path() / name;
        fs::create_directories(dir);
        for (const auto& e : fs::directory_iterator(fixtures.path()))
            if (e.path().stem() == name) fs::copy_file(e.path(), dir / e.path().filename());
        const fs::path file = dir / (std::string(name) + ".DBF");
        ASSERT_EQ(exercise(file, false), "") << name;
        for (auto& f : runVariants(familyOf(file), file, variantsOf(familyOf(file)), count))
            failures.push_back(std::move(f));
    }
    EXPECT_GT(count, 600);
    expectNoFailures(failures);
}

// Text tables: damaged schemas and data lines.
TEST(DBaseDamagedFiles, TextTablesReadOrFailWithEngineError) {
    TempDir work;
    const std::string schemas[] = {
        "[T]\r\nFILETYPE=VARYING\r\nCHARSET=ascii\r\nDELIMITER=\"\r\nSEPARATOR=,\r\n"
        "Field1=A,CHAR,5,00,00\r\nField2=B,LONGINT,6,00,05\r\nField3=C,DATE,10,00,11\r\n",
        "[T]\r\nFILETYPE=FIXED\r\nCHARSET=ascii\r\nField1=A,CHAR,5,00,00\r\nField2=B,LONGINT,6,00,"
        "05\r\n"
        "Field3=C,DATE,10,00,11\r\n",
    };
    const std::string data = "\"abc\",12,01/02/2003\r\nxyzzy     7  12/31/1999\r\n";
    std::vector<std::string> failures;
    int count = 0;
    for (const auto& schema : schemas) {
        const fs::path file = work.path() / "T.TXT";
        std::vector<std::pair<std::string, std::string>> variants; // schema, data
        for (std::size_t n = 0; n < schema.size(); n += 7)
            variants.push_back({schema.substr(0, n), data});
        for (std::size_t n = 0; n < data.size(); n += 3)
            variants.push_back({schema, data.substr(0, n)});
        for (std::size_t at = 0; at < schema.size(); at += 3) {
            std::string s = schema;
            s[at] = at % 2 ? ',' : '\xff';
            variants.push_back({s, data});
        }
        variants.push_back({schema, std::string(100000, 'x')});
        variants.push_back({schema, std::string(5000, '"') + "\r\n"});
        variants.push_back({schema, "\x1A"});
        variants.push_back({schema + "Field99999=Z,CHAR,99999,00,00\r\n", data});
        variants.push_back({schema + "Field4=Z,CHAR,0,00,00\r\n", data});
        for (const auto& [s, d] : variants) {
            std::ofstream(work.path() / "T.SCH", std::ios::binary) << s;
            std::ofstream(file, std::ios::binary) << d;
            const std::string result = exercise(file, true);
            if (!result.empty())
                failures.push_back("schema of " + std::to_string(s.size()) + " bytes, data of " +
                                   std::to_string(d.size()) + " bytes: " + result);
        }
        count += static_cast<int>(variants.size());
    }
    EXPECT_GT(count, 100);
    expectNoFailures(failures);
}

} // namespace
