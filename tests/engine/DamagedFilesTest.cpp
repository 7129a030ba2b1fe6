// Damaged tables: mutated copies of the sample tables and of engine-made tables with memos
// must either read or fail with an EngineError; never crash, hang or throw anything else.

#include "TestSupport.h"

#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define FIELDSMITH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FIELDSMITH_ASAN 1
#endif
#endif

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <set>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

//! One damaged copy of one file of a table family.
struct Variant {
    std::string what;
    std::size_t file; //!< index into the family
    Bytes bytes;
};

std::uint16_t u16(const Bytes& b, std::size_t at) {
    return at + 1 < b.size() ? static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}

void put16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (at + 1 >= b.size()) return;
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, static_cast<std::uint16_t>(v));
    put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

std::string upperExt(const fs::path& p) {
    std::string e = p.extension().string();
    for (char& c : e)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return e;
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

// Damage to a .DB: truncations, header bytes, block links and counts. Each table gets every
// fourth header byte and one of the u16 patterns, chosen by its number, so that the sample
// tables together cover all of them while each table stays quick.
void damageTable(std::vector<Variant>& out, std::size_t file, const Bytes& db, std::size_t share) {
    const std::size_t hs = std::max<std::size_t>(u16(db, 2), 0x58);
    const std::size_t bs = std::max<std::size_t>(db.size() > 5 ? db[5] : 1, 1) * 1024;
    const std::size_t rs = std::max<std::size_t>(u16(db, 0), 1);
    addTruncations(out, file, db,
                   {0, 1, 2, 0x21, 0x57, 0x58, 0x78, 0x100, hs - 1, hs, hs + 3, hs + 6,
                    hs + 6 + rs / 2, hs + bs / 2, hs + bs - 1, hs + bs});
    const std::size_t headerEnd = std::min<std::size_t>(db.size(), hs);
    const std::size_t fieldsEnd =
        std::min<std::size_t>(headerEnd, 0x78 + 2 * (db.size() > 0x22 ? u16(db, 0x21) : 0) + 8);
    for (std::size_t at = share % 4; at < fieldsEnd; at += 4) {
        Bytes b = db;
        b[at] ^= 0xFF;
        out.push_back({"header byte " + std::to_string(at) + " inverted", file, std::move(b)});
    }
    for (std::size_t at :
         {0x00, 0x02, 0x06, 0x0A, 0x0C, 0x0E, 0x10, 0x21, 0x23, 0x4D, 0x51, 0x64, 0x66, 0x6E})
        for (std::uint16_t v :
             {std::array<std::uint16_t, 4>{0x0000, 0x0001, 0x7FFF, 0xFFFF}[share % 4]}) {
            Bytes b = db;
            put16(b, at, v);
            out.push_back({"header u16 at " + std::to_string(at) + " = " + std::to_string(v), file,
                           std::move(b)});
        }
    const std::size_t blocks = db.size() > hs ? (db.size() - hs + bs - 1) / bs : 0;
    for (std::size_t blk = 1; blk <= std::min<std::size_t>(blocks, 2); ++blk) {
        const std::size_t at = hs + (blk - 1) * bs;
        const std::string where = "block " + std::to_string(blk);
        for (std::uint16_t next :
             {std::uint16_t(0), static_cast<std::uint16_t>(blk), std::uint16_t(1),
              static_cast<std::uint16_t>(blocks + 1), std::uint16_t(0xFFFF)}) {
            Bytes b = db;
            put16(b, at, next);
            out.push_back({where + " next = " + std::to_string(next), file, std::move(b)});
        }
        for (std::uint16_t last :
             {std::uint16_t(1), std::uint16_t(0x7FFF), std::uint16_t(0x8000), std::uint16_t(0xFFFF),
              static_cast<std::uint16_t>(rs * ((bs - 6) / rs)),
              static_cast<std::uint16_t>(rs * 2 + 1)}) {
            Bytes b = db;
            put16(b, at + 4, last);
            out.push_back(
                {where + " last record offset = " + std::to_string(last), file, std::move(b)});
        }
        Bytes b = db;
        put16(b, at + 2, 0xFFFF);
        out.push_back({where + " prev = 65535", file, std::move(b)});
    }
    // Garbage records: every byte of the first data block after its header, three ways.
    std::mt19937 rng(static_cast<unsigned>(db.size()));
    for (int k = 0; k < 3 && db.size() > hs + 6; ++k) {
        Bytes b = db;
        for (std::size_t i = hs + 6; i < std::min(b.size(), hs + bs); ++i)
            b[i] = k == 0 ? 0xFF : static_cast<std::uint8_t>(rng());
        out.push_back(
            {"first block's records scrambled (" + std::to_string(k) + ")", file, std::move(b)});
    }
}

// Damage to the blob trailers of the first records: lengths and locators that lead nowhere.
void damageBlobTrailers(std::vector<Variant>& out, std::size_t file, const Bytes& db,
                        const std::vector<std::pair<std::size_t, std::size_t>>& blobFields) {
    const std::size_t hs = u16(db, 2);
    const std::size_t rs = u16(db, 0);
    for (const auto& [offset, width] : blobFields)
        for (std::size_t rec = 0; rec < 3; ++rec) {
            const std::size_t trailer = hs + 6 + rec * rs + offset + width - 10;
            if (trailer + 10 > db.size()) continue;
            const std::string where =
                "record " + std::to_string(rec + 1) + " blob at " + std::to_string(offset);
            // Lengths of gigabytes are the subject of BlobLengthIsCheckedBeforeReading.
            for (std::uint32_t len :
                 {0x01000000u, 0x7FFFu, static_cast<std::uint32_t>(width - 9)}) {
                Bytes b = db;
                put32(b, trailer + 4, len);
                out.push_back({where + " length " + std::to_string(len), file, std::move(b)});
            }
            for (std::uint32_t loc :
                 {0u, 0xFFu, 0x1000u | 63u, 0x1000u | 0xFFu, 0x7FFFFF00u | 0xFFu, 0x2000u | 200u}) {
                Bytes b = db;
                put32(b, trailer, loc);
                if (u16(b, trailer + 4) == 0 && b[trailer + 6] == 0) put32(b, trailer + 4, 5000);
                out.push_back({where + " locator " + std::to_string(loc), file, std::move(b)});
            }
        }
}

// Damage to a .MB: truncations, block types and sizes, slot tables.
void damageBlobFile(std::vector<Variant>& out, std::size_t file, const Bytes& mb) {
    addTruncations(out, file, mb, {0, 3, 100, 4096, 4099, 4096 + 12 + 5 * 64, 8192, 8193});
    std::size_t at = 4096;
    for (int n = 0; n < 5 && at + 3 <= mb.size(); ++n) {
        const std::string where = "blob block at " + std::to_string(at);
        for (std::uint8_t type : {0, 2, 3, 4, 0xFF}) {
            Bytes b = mb;
            b[at] = type;
            out.push_back({where + " type " + std::to_string(type), file, std::move(b)});
        }
        for (std::uint16_t units : {0, 1, 0xFFFF}) {
            Bytes b = mb;
            put16(b, at + 1, units);
            out.push_back({where + " units " + std::to_string(units), file, std::move(b)});
        }
        if (mb[at] == 2) {
            Bytes b = mb;
            put32(b, at + 3, 0xFFFFFFFFu);
            out.push_back({where + " length 4294967295", file, std::move(b)});
        }
        if (mb[at] == 3) {
            std::mt19937 rng(static_cast<unsigned>(at));
            Bytes b = mb;
            for (std::size_t i = at + 12; i < at + 12 + 5 * 64 && i < b.size(); ++i)
                b[i] = static_cast<std::uint8_t>(rng());
            out.push_back({where + " slot table scrambled", file, std::move(b)});
            Bytes c = mb;
            for (int s = 0; s < 64; ++s)
                if (at + 12 + 5 * s + 4 < c.size()) c[at + 12 + 5 * s + 1] = 0xFF;
            out.push_back({where + " every slot 255 chunks", file, std::move(c)});
        }
        const std::uint16_t units = mb[at] == 3 ? 1 : std::max<std::uint16_t>(u16(mb, at + 1), 1);
        at += static_cast<std::size_t>(units) * 4096;
    }
}

// Damage to an index file: truncations and a few inverted header bytes.
void damageIndexFile(std::vector<Variant>& out, std::size_t file, const Bytes& ix) {
    addTruncations(out, file, ix, {0, 0x20, 0x58, 0x78});
    for (std::size_t at = 0; at < std::min<std::size_t>(ix.size(), 0x80); at += 3) {
        Bytes b = ix;
        b[at] ^= 0xFF;
        out.push_back(
            {"index header byte " + std::to_string(at) + " inverted", file, std::move(b)});
    }
}

//! Opens the table and walks it reading every field, then moves about. Returns "" when the
//! table read or failed with an EngineError, else what went wrong.
std::string walkTable(const fs::path& db) {
    Session session;
    Table table(session);
    table.setTableName(db.string());
    try {
        table.open();
        const std::int64_t count = table.recordCount();
        const std::int64_t limit = 10 * count + 10;
        std::int64_t steps = 0;
        for (table.first(); !table.eof(); table.next()) {
            if (++steps > limit)
                return "the walk did not end after " + std::to_string(limit) + " steps";
            for (int i = 0; i < table.fieldCount(); ++i)
                table.field(i).asString();
        }
        table.last();
        table.prior();
        table.moveBy(-count);
        table.close();
    } catch (const EngineError&) {
        return {};
    } catch (const std::exception& e) {
        return std::string("threw a non-engine exception: ") + e.what();
    }
    return {};
}

//! Runs every variant of one table family; returns the descriptions of the failures.
std::vector<std::string> runVariants(const std::vector<fs::path>& family, const fs::path& db,
                                     int& variantCount, std::size_t share) {
    std::vector<Bytes> original;
    for (const auto& f : family)
        original.push_back(readFileBytes(f));
    std::vector<Variant> variants;
    std::size_t dbIndex = 0;
    for (std::size_t i = 0; i < family.size(); ++i) {
        const std::string ext = upperExt(family[i]);
        if (ext == ".DB")
            dbIndex = i;
        else if (ext == ".MB")
            damageBlobFile(variants, i, original[i]);
        else if (ext == ".PX" || (ext.size() == 4 && (ext[1] == 'X' || ext[1] == 'Y')))
            damageIndexFile(variants, i, original[i]);
    }
    const Bytes& dbBytes = original[dbIndex];
    damageTable(variants, dbIndex, dbBytes, share);
    // Blob fields of the table, from its descriptors (level-4+ layout; older levels have none).
    std::vector<std::pair<std::size_t, std::size_t>> blobFields;
    if (dbBytes.size() > 0x78 && dbBytes[0x39] >= 5) {
        std::size_t offset = 0;
        for (std::size_t i = 0; i < u16(dbBytes, 0x21) && 0x78 + 2 * i + 1 < dbBytes.size(); ++i) {
            const std::uint8_t type = dbBytes[0x78 + 2 * i], size = dbBytes[0x78 + 2 * i + 1];
            const std::size_t width = type == 0x02 || type == 0x04 || type == 0x14 || type == 0x16
                                          ? 4
                                      : type == 0x03                                 ? 2
                                      : type == 0x05 || type == 0x06 || type == 0x15 ? 8
                                      : type == 0x09                                 ? 1
                                      : type == 0x17                                 ? 17
                                                                                     : size;
            if (type >= 0x0C && type <= 0x10) blobFields.emplace_back(offset, width);
            offset += width;
        }
    }
    damageBlobTrailers(variants, dbIndex, dbBytes, blobFields);

    std::vector<std::string> failures;
    for (const auto& v : variants) {
        writeFileBytes(family[v.file], v.bytes);
        const std::string result = walkTable(db);
        writeFileBytes(family[v.file], original[v.file]);
        if (!result.empty())
            failures.push_back(db.filename().string() + " (" + family[v.file].filename().string() +
                               " " + v.what + "): " + result);
    }
    variantCount += static_cast<int>(variants.size());
    return failures;
}

void expectNoFailures(const std::vector<std::string>& failures) {
    for (std::size_t i = 0; i < failures.size() && i < 25; ++i)
        ADD_FAILURE() << failures[i];
    EXPECT_TRUE(failures.empty()) << failures.size() << " damaged variants were not handled";
}

TEST(DamagedFiles, SampleTablesReadOrFailWithEngineError) {
    if (sampleTableDir().empty()) GTEST_SKIP() << "sample tables not found";
    TempDir work;
    std::vector<std::string> failures;
    int variants = 0;
    std::size_t share = 0;
    for (const auto& source : sampleTables()) {
        const fs::path dir = work.path() / source.parent_path().filename() / source.stem();
        fs::create_directories(dir);
        std::vector<fs::path> family;
        for (const auto& f : tableFamily(source)) {
            fs::copy_file(f, dir / f.filename());
            family.push_back(dir / f.filename());
        }
        for (auto& f : runVariants(family, dir / source.filename(), variants, share++))
            failures.push_back(std::move(f));
    }
    EXPECT_GT(variants, 2000);
    expectNoFailures(failures);
}

TEST(DamagedFiles, EngineMadeTablesWithMemosReadOrFailWithEngineError) {
    TempDir work;
    Session session;
    session.addStandardAlias("WORK", work.path());
    std::vector<std::string> failures;
    int variants = 0;
    for (const bool keyed : {true, false}) {
        const std::string name = keyed ? "KEYED" : "UNKEYED";
        {
            Table t(session);
            t.setDatabaseName("WORK");
            t.setTableName(name);
            t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, keyed},
                             {"NOTE", FieldType::ftMemo, 12, false},
                             {"NAME", FieldType::ftString, 10, false},
                             {"DATA", FieldType::ftBlob, 4, false}};
            if (keyed) t.indexDefs() = {{"", "ID", ixPrimary | ixUnique}};
            t.createTable();
            t.open();
            // Memo sizes that live in the leader, in sub-allocated slots and in blocks of their
            // own.
            const std::size_t sizes[] = {5, 100, 3000, 12, 2048, 700, 9000, 0};
            for (int i = 0; i < 40; ++i) {
                t.insert();
                t.fieldByName("ID").setAsInteger(keyed ? 1000 - i : i);
                t.fieldByName("NOTE").setAsString(
                    std::string(sizes[i % 8], static_cast<char>('a' + i % 26)));
                t.fieldByName("NAME").setAsString("n" + std::to_string(i));
                t.fieldByName("DATA").setAsString(std::string(sizes[(i + 3) % 8], '\x7F'));
                t.post();
            }
        }
        const fs::path db = work.path() / (name + ".DB");
        ASSERT_EQ(walkTable(db), "");
        for (auto& f : runVariants(tableFamily(db), db, variants, keyed ? 0 : 1))
            failures.push_back(std::move(f));
    }
    EXPECT_GT(variants, 300);
    expectNoFailures(failures);
}

// Caps the heap of the test process while it lives, so that an allocation of gigabytes
// fails with std::bad_alloc instead of succeeding slowly. Under AddressSanitizer the cap is
// its max_allocation_size_mb option, set below.
class HeapCap {
public:
    explicit HeapCap(rlim_t bytes) {
        getrlimit(RLIMIT_DATA, &saved_);
#ifndef FIELDSMITH_ASAN
        rlimit capped = saved_;
        capped.rlim_cur = std::min(bytes, saved_.rlim_max);
        setrlimit(RLIMIT_DATA, &capped);
#else
        (void)bytes;
#endif
    }
    ~HeapCap() {
        setrlimit(RLIMIT_DATA, &saved_);
    }
    HeapCap(const HeapCap&) = delete;
    HeapCap& operator=(const HeapCap&) = delete;

private:
    rlimit saved_{};
};

// A blob trailer claiming gigabytes must be refused from the blob file's own counts, not by
// first reserving that much memory for it.
TEST(DamagedFiles, BlobLengthIsCheckedBeforeReading) {
    TempDir work;
    Session session;
    session.addStandardAlias("WORK", work.path());
    {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName("MEMOS");
        t.fieldDefs() = {{"NOTE", FieldType::ftMemo, 10, false}};
        t.createTable();
        t.open();
        for (std::size_t size : {100, 5000}) {
            t.insert();
            t.fieldByName("NOTE").setAsString(std::string(size, 'm'));
            t.post();
        }
    }
    const fs::path db = work.path() / "MEMOS.DB";
    const Bytes original = readFileBytes(db);
    const std::size_t hs = u16(original, 2);
    for (std::size_t rec : {0, 1}) {
        for (std::uint32_t length : {0xFFFFFFF0u, 0x7FFFFFFFu}) {
            SCOPED_TRACE("record " + std::to_string(rec + 1) + " length " + std::to_string(length));
            Bytes b = original;
            put32(b, hs + 6 + rec * 20 + 10 + 4, length);
            writeFileBytes(db, b);
            const HeapCap cap(rlim_t(1) << 30);
            EXPECT_EQ(walkTable(db), "");
        }
    }
}

} // namespace

#ifdef FIELDSMITH_ASAN
// No allocation of the engine tests needs a gigabyte; a larger one is a fault to report.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=1024";
}
#endif

#ifdef FIELDSMITH_ASAN
// The independent reader keeps a few small blocks for good (its index reading); those are
// not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpx.so\n";
}
#endif
