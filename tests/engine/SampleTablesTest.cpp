// The engine's reading side against the real sample tables: every table, field and record
// compared with pxlib, and blob values with a small decoder of the blob file written here.

#include "PxlibReader.h"
#include "TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>
extern "C" {
#include <paradox.h>
}

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;

#define SKIP_WITHOUT_SAMPLES()                                                                     \
    if (sampleTableDir().empty()) GTEST_SKIP() << "sample tables not found"

//! The iconv name of a table's text encoding as the independent reader sees it; nullopt when
//! the header names none (then only ASCII text can be judged).
std::optional<std::string> tableEncoding(const PxTable& t) {
    if (t.codePage > 0) return "CP" + std::to_string(t.codePage);
    if (t.sortOrder == 0x14) return std::string("ROMAN8"); // sort order "BLROM800"
    return std::nullopt;
}

bool isAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

//! Text of the table as the program sees it (Windows-1252), converted without the engine.
std::string programText(const PxTable& t, std::string_view stored) {
    if (isAscii(stored)) return std::string(stored);
    const auto enc = tableEncoding(t);
    if (!enc || *enc == "CP936") {
        ADD_FAILURE() << "non-ASCII text in a table whose code page the test cannot convert";
        return std::string(stored);
    }
    return convertCodePage(stored, *enc, "CP1252");
}

//! yyyy-mm-dd of a Paradox day number (0001-01-01 = 1), by the civil-from-days algorithm.
std::string isoDate(long day) {
    long z = day - 719163 + 719468; // days since 0000-03-01
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long d = doy - (153 * mp + 2) / 5 + 1;
    const long m = mp < 10 ? mp + 3 : mp - 9;
    const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld", y, m, d);
    return buf;
}

std::string clockTime(long ms) {
    char buf[64];
    const long s = ms / 1000;
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

FieldType expectedType(int code) {
    switch (code) {
    case pxfAlpha:
        return FieldType::ftString;
    case pxfDate:
        return FieldType::ftDate;
    case pxfShort:
        return FieldType::ftSmallint;
    case pxfLong:
        return FieldType::ftInteger;
    case pxfCurrency:
        return FieldType::ftCurrency;
    case pxfNumber:
        return FieldType::ftFloat;
    case pxfLogical:
        return FieldType::ftBoolean;
    case pxfMemoBLOb:
        return FieldType::ftMemo;
    case pxfBLOb:
        return FieldType::ftBlob;
    case pxfFmtMemoBLOb:
        return FieldType::ftFmtMemo;
    case pxfOLE:
        return FieldType::ftParadoxOle;
    case pxfGraphic:
        return FieldType::ftGraphic;
    case pxfTime:
        return FieldType::ftTime;
    case pxfTimestamp:
        return FieldType::ftDateTime;
    case pxfAutoInc:
        return FieldType::ftAutoInc;
    case pxfBCD:
        return FieldType::ftBCD;
    case pxfBytes:
        return FieldType::ftBytes;
    default:
        return FieldType::ftUnknown;
    }
}

int expectedSize(const PxField& f) {
    switch (f.type) {
    case pxfAlpha:
    case pxfBytes:
        return f.width;
    case pxfBCD:
        return f.decimals;
    case pxfMemoBLOb:
    case pxfBLOb:
    case pxfFmtMemoBLOb:
    case pxfOLE:
    case pxfGraphic:
        return f.width - 10;
    default:
        return 0;
    }
}

//! A session whose texts are ISO dates, clock times and a decimal point.
Session& isoSession() {
    static Session session = [] {
        Session s;
        s.formats().shortDateFormat = "yyyy-mm-dd";
        s.formats().longTimeFormat = "hh:nn:ss";
        s.formats().decimalSeparator = '.';
        return s;
    }();
    return session;
}

std::unique_ptr<Table> openTable(const fs::path& db) {
    auto table = std::make_unique<Table>(isoSession());
    table->setTableName(db.string());
    table->open();
    return table;
}

bool sameNumber(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-13 * std::max(std::fabs(a), std::fabs(b));
}

// Checks one non-blob field of the current record against pxlib's value.
void expectFieldMatches(const PxTable& t, const PxField& f, const PxValue& want, Field field) {
    SCOPED_TRACE("field " + f.name);
    const std::string text = field.asString();
    if (want.isNull) {
        EXPECT_TRUE(field.isNull()) << "pxlib reads blank, the engine reads '" << text << "'";
        EXPECT_EQ(text, "");
        return;
    }
    ASSERT_FALSE(field.isNull()) << "pxlib reads a value, the engine reads blank";
    const Value v = field.value();
    switch (f.type) {
    case pxfAlpha:
        EXPECT_EQ(text, programText(t, want.text));
        break;
    case pxfShort:
    case pxfLong:
    case pxfAutoInc:
        EXPECT_EQ(text, std::to_string(want.integer));
        break;
    case pxfDate:
        EXPECT_EQ(v.i, want.integer);
        EXPECT_EQ(text, isoDate(want.integer));
        break;
    case pxfTime:
        EXPECT_EQ(v.i, want.integer);
        EXPECT_EQ(text, clockTime(want.integer));
        break;
    case pxfTimestamp:
        EXPECT_EQ(v.f, want.number);
        EXPECT_EQ(text.substr(0, 10), isoDate(static_cast<long>(want.number / 86400000.0)));
        break;
    case pxfNumber:
    case pxfCurrency:
    case pxfBCD:
        EXPECT_TRUE(sameNumber(std::strtod(text.c_str(), nullptr), want.number))
            << "engine '" << text << "', pxlib " << want.number << " '" << want.text << "'";
        break;
    case pxfLogical:
        EXPECT_EQ(text, want.integer ? "True" : "False");
        break;
    case pxfBytes:
        EXPECT_EQ(v.s, want.text);
        break;
    default:
        ADD_FAILURE() << "unexpected type " << f.type;
    }
}

TEST(SampleTables, StructureMatchesIndependentReader) {
    SKIP_WITHOUT_SAMPLES();
    const auto tables = sampleTables();
    ASSERT_GE(tables.size(), 30u);
    for (const auto& db : tables) {
        SCOPED_TRACE(db.string());
        const PxTable want = readWithPxlib(db);
        std::unique_ptr<Table> table;
        ASSERT_NO_THROW(table = openTable(db));
        EXPECT_EQ(table->recordCount(), want.recordCount);
        ASSERT_EQ(table->fieldCount(), static_cast<int>(want.fields.size()));
        for (std::size_t i = 0; i < want.fields.size(); ++i) {
            const PxField& f = want.fields[i];
            const Field field = table->field(static_cast<int>(i));
            EXPECT_EQ(field.name(), programText(want, f.name));
            EXPECT_EQ(fieldTypeName(field.type()), fieldTypeName(expectedType(f.type)))
                << "field " << f.name;
            EXPECT_EQ(field.size(), expectedSize(f)) << "field " << f.name;
        }
    }
}

TEST(SampleTables, ValuesMatchIndependentReader) {
    SKIP_WITHOUT_SAMPLES();
    for (const auto& db : sampleTables()) {
        SCOPED_TRACE(db.string());
        const PxTable want = readWithPxlib(db);
        // Text whose code page only the sort order names: see HpRoman8TableReadsInItsCodePage.
        if (want.codePage == 0 && want.sortOrder == 0x14) continue;
        auto table = openTable(db);
        int r = 0;
        for (table->first(); !table->eof(); table->next(), ++r) {
            ASSERT_LT(r, want.recordCount) << "the engine walks more records than pxlib reads";
            SCOPED_TRACE("record " + std::to_string(r + 1));
            EXPECT_EQ(table->recNo(), r + 1);
            for (std::size_t i = 0; i < want.fields.size(); ++i)
                if (pxlibDecodes(want.fields[i].type))
                    expectFieldMatches(want, want.fields[i],
                                       want.records[static_cast<std::size_t>(r)][i],
                                       table->field(static_cast<int>(i)));
        }
        EXPECT_EQ(r, want.recordCount);
    }
}

// ---------------------------------------------------------------------------------- blobs

std::uint32_t u32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

//! A blob field's value read by hand: the leader when the value fits in it, else the block
//! or slot of the .MB that the trailer points at. nullopt when the pointer leads nowhere.
std::optional<std::string> blobByHand(const std::string& record, const PxField& f,
                                      const std::vector<std::uint8_t>& mb) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data()) + f.offset;
    const int leader = f.width - 10;
    if (std::all_of(p, p + f.width, [](std::uint8_t b) { return b == 0; })) return std::string();
    const std::uint32_t length = u32(p + leader + 4);
    if (length <= static_cast<std::uint32_t>(leader))
        return std::string(reinterpret_cast<const char*>(p), length);
    const std::uint32_t locator = u32(p + leader);
    const std::size_t block = locator & 0xFFFFFF00u;
    const std::size_t slot = locator & 0xFFu;
    if (block + 12 + 5 * 64 > mb.size()) return std::nullopt;
    std::size_t start = 0;
    if (mb[block] == 2 && slot == 0xFF)
        start = block + 9;
    else if (mb[block] == 3 && slot < 64)
        start = block + 16 * mb[block + 12 + 5 * slot];
    else
        return std::nullopt;
    if (start + length > mb.size()) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(&mb[start]), length);
}

std::optional<fs::path> blobFileOf(const fs::path& db) {
    for (const auto& p : tableFamily(db)) {
        std::string ext = p.extension().string();
        if (ext == ".MB" || ext == ".mb") return p;
    }
    return std::nullopt;
}

TEST(SampleTables, BlobValuesMatchHandDecodedBlobFile) {
    SKIP_WITHOUT_SAMPLES();
    int checked = 0;
    for (const auto& db : sampleTables()) {
        const auto mbPath = blobFileOf(db);
        if (!mbPath) continue;
        SCOPED_TRACE(db.string());
        const PxTable want = readWithPxlib(db);
        const auto mb = readFileBytes(*mbPath);
        auto table = openTable(db);
        int r = 0;
        for (table->first(); !table->eof() && r < want.recordCount; table->next(), ++r) {
            const std::string& raw = want.rawRecords[static_cast<std::size_t>(r)];
            for (std::size_t i = 0; i < want.fields.size(); ++i) {
                const PxField& f = want.fields[i];
                if (pxlibDecodes(f.type) || f.type == pxfOLE) continue;
                SCOPED_TRACE("record " + std::to_string(r + 1) + " field " + f.name);
                const auto byHand = blobByHand(raw, f, mb);
                ASSERT_TRUE(byHand) << "the sample's blob pointer leads nowhere";
                const Value v = table->field(static_cast<int>(i)).value();
                if (f.type == pxfMemoBLOb) {
                    EXPECT_EQ(v.s, programText(want, *byHand));
                } else if (f.type == pxfGraphic && byHand->size() >= 8) {
                    EXPECT_EQ(v.s, byHand->substr(8)) << "graphic without its 8-byte prefix";
                } else {
                    EXPECT_EQ(v.s, *byHand);
                }
                ++checked;
            }
        }
    }
    EXPECT_GE(checked, 20);
}

// Memo texts whose beginnings were read off the files with a hex viewer.
TEST(SampleTables, MemoTextsReadAsStored) {
    SKIP_WITHOUT_SAMPLES();
    struct Case {
        const char* table;
        int record;
        const char* field;
        const char* begins;
        std::size_t length;
    };
    const Case cases[] = {
        {"db/CUSTOMER.DB", 1, "Comments", "Small comment (less 100 symbols)", 32},
        {"db/HERCULES.DB", 1, "HTML", "<TABLE BORDER=2>\n<TR><TH>Name</TH>", 0},
        {"fields/memo.db", 2, "MEMO", "01234567890\n", 12},
        {"fields/memo.db", 1, "MEMO", "0123456789001234567890012345678900", 555},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.table) + " record " + std::to_string(c.record));
        auto table = openTable(sampleTableCopy() / c.table);
        table->moveBy(c.record - 1);
        const std::string text = table->fieldByName(c.field).asString();
        EXPECT_EQ(text.substr(0, std::strlen(c.begins)), c.begins);
        if (c.length) {
            EXPECT_EQ(text.size(), c.length);
        }
    }
}

// A level-4 table with code page 0 whose sort order is "BLROM800" holds HP Roman-8 text;
// its four characters all exist in Windows-1252.
TEST(SampleTables, HpRoman8TableReadsInItsCodePage) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path db = sampleTableCopy() / "db" / "ROMAN8.db";
    const PxTable want = readWithPxlib(db);
    ASSERT_EQ(want.records.size(), 1u);
    EXPECT_EQ(want.records[0][0].text, "\xEB\xF8\xBE\xF4");
    auto table = openTable(db);
    EXPECT_EQ(table->fieldByName("A").asString(), "\x8A\xBD\x83\xB6")
        << "Roman-8 EB F8 BE F4 is S-caron, one half, f-hook, pilcrow";
}

TEST(SampleTables, EncryptedTableFailsWithClearError) {
    SKIP_WITHOUT_SAMPLES();
    const fs::path db = sampleTableCopy() / "encrypt" / "encrypted.db";
    {
        Table table(isoSession());
        table.setTableName(db.string());
        try {
            table.open();
            FAIL() << "an encrypted table opened without a password";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::NeedsPassword) << e.what();
            EXPECT_NE(std::string(e.what()).find("encrypted.db"), std::string::npos) << e.what();
        }
        EXPECT_FALSE(table.active());
    }
    // With its password the table either reads what pxlib decrypts, or fails clearly.
    Session withPassword;
    withPassword.addPassword("123");
    const PxTable want = readWithPxlib(db);
    Table table(withPassword);
    table.setTableName(db.string());
    try {
        table.open();
    } catch (const EngineError& e) {
        EXPECT_TRUE(e.kind() == ErrorKind::NeedsPassword || e.kind() == ErrorKind::General)
            << e.what();
        return;
    }
    ASSERT_EQ(table.recordCount(), want.recordCount);
    int r = 0;
    for (table.first(); !table.eof(); table.next(), ++r) {
        for (std::size_t i = 0; i < want.fields.size(); ++i)
            expectFieldMatches(want, want.fields[i], want.records[static_cast<std::size_t>(r)][i],
                               table.field(static_cast<int>(i)));
    }
}

} // namespace
