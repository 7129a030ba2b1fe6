// Tables the engine created and changed, read back by pxlib: every field type, memos and
// blobs of every size class, block splits, key changes, deletes, the primary index and
// encryption. Blob contents are judged with a small decoder of the blob file written here.

#include "PxlibReader.h"
#include "TestSupport.h"

#include "engine/Session.h"
#include "engine/Table.h"

#include <gtest/gtest.h>
extern "C" {
#include <paradox.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace fieldsmith::engine;
using namespace fieldsmith::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------------ little decoders

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
//! A Short-integer field as the index stores its block numbers and counts.
int shortField(const std::uint8_t* p) {
    return static_cast<std::int16_t>(((p[0] ^ 0x80) << 8) | p[1]);
}

//! Paradox day number (0001-01-01 = 1) of a civil date, by the days-from-civil algorithm.
long dayNumber(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 719163;
}

std::string fmt(const char* pattern, auto... args) {
    char buf[128];
    std::snprintf(buf, sizeof buf, pattern, args...);
    return buf;
}

//! What the blob file holds for one blob field of a record, found by the rules of the format
//! sheet (leader, trailer, .MB block and slot). Reports every rule the files break.
struct BlobRead {
    std::string value;  //!< the whole blob as stored (Graphic: with its 8-byte prefix)
    std::string leader; //!< the leader bytes of the record
    int home = 0;       //!< 0 blank, 1 leader only, 2 own block, 3 slot
};

BlobRead readBlob(const std::string& field, const Bytes& mb, const std::string& where) {
    BlobRead out;
    const std::size_t leader = field.size() - 10;
    const auto* t = reinterpret_cast<const std::uint8_t*>(field.data()) + leader;
    out.leader = field.substr(0, leader);
    const std::uint32_t loc = le32(t), len = le32(t + 4);
    const std::uint16_t mod = le16(t + 8);
    if (std::all_of(field.begin(), field.end(), [](char c) { return c == 0; })) return out;
    if (len <= leader) {
        EXPECT_EQ(loc, 0u) << where << ": a blob that fits the leader has a locator";
        EXPECT_EQ(mod, 0u) << where << ": a blob that fits the leader has a modification number";
        out.value = field.substr(0, len);
        out.home = 1;
        return out;
    }
    const std::size_t block = loc & 0xFFFFFF00u, index = loc & 0xFF;
    if (loc == 0 || block == 0 || block % 4096 != 0 || block + 4096 > mb.size()) {
        ADD_FAILURE() << where << ": bad locator " << loc << " in a blob file of " << mb.size();
        return out;
    }
    const std::uint8_t* b = mb.data() + block;
    if (b[0] == 2) {
        EXPECT_EQ(index, 0xFFu) << where << ": a single-blob block needs the index 0xFF";
        EXPECT_EQ(le32(b + 3), len) << where << ": block length differs from the trailer's";
        EXPECT_EQ(le16(b + 7), mod) << where << ": block modification differs from the trailer's";
        EXPECT_EQ(le16(b + 1), (len + 9 + 4095) / 4096) << where << ": block size in 4 KiB units";
        EXPECT_GT(len, 2048u) << where << ": a blob of up to 2048 bytes belongs in a slot";
        if (block + 9 + len > mb.size()) {
            ADD_FAILURE() << where << ": blob runs past the end of the blob file";
            return out;
        }
        out.value.assign(reinterpret_cast<const char*>(b + 9), len);
        out.home = 2;
    } else if (b[0] == 3) {
        if (index > 63) {
            ADD_FAILURE() << where << ": slot " << index << " out of range";
            return out;
        }
        const std::uint8_t* slot = b + 12 + 5 * index;
        EXPECT_GE(slot[0], 0x15) << where << ": slot free or pointing into the slot table";
        EXPECT_EQ((slot[1] - 1) * 16u + slot[4], len) << where << ": slot length differs";
        EXPECT_EQ(le16(slot + 2), mod) << where << ": slot modification differs";
        EXPECT_LE(len, 2048u) << where << ": a blob over 2048 bytes in a slot";
        if (slot[0] * 16u + len > 4096) {
            ADD_FAILURE() << where << ": slot data runs past its block";
            return out;
        }
        out.value.assign(reinterpret_cast<const char*>(b + 16 * slot[0]), len);
        out.home = 3;
    } else {
        ADD_FAILURE() << where << ": locator points at a block of type " << int(b[0]);
    }
    return out;
}

//! The blocks of the .MB must tile the file: header, then blocks of types 2, 3 and 4.
void expectBlobFileWalks(const Bytes& mb) {
    ASSERT_GE(mb.size(), 4096u);
    EXPECT_EQ(mb.size() % 4096, 0u) << "blob file size is no multiple of 4096";
    EXPECT_EQ(mb[0], 0) << "blob file header type";
    EXPECT_EQ(le16(&mb[0x13]), 0x800) << "blob file header threshold";
    std::size_t at = 4096;
    while (at < mb.size()) {
        const int type = mb[at];
        ASSERT_TRUE(type == 2 || type == 3 || type == 4) << "block type " << type << " at " << at;
        const std::size_t units = type == 3 ? 1 : le16(&mb[at + 1]);
        ASSERT_GE(units, 1u) << "empty block at " << at;
        at += units * 4096;
    }
    EXPECT_EQ(at, mb.size()) << "the last block runs past the end of the blob file";
}

// ------------------------------------------------------------------ pxlib with the index

void collect(pxdoc_t*, int, const char* msg, void* data) {
    *static_cast<std::string*>(data) += std::string(msg) + "; ";
}

struct PxDoc {
    std::string messages;
    pxdoc_t* doc = PX_new3(collect, nullptr, nullptr, nullptr, &messages);
    ~PxDoc() {
        PX_close(doc);
        PX_delete(doc);
    }
};

//! The records as pxlib reads them through the primary index, and the index's entry count.
struct IndexedRead {
    int indexEntries = -1;
    std::vector<std::string> raw;
};

IndexedRead readThroughIndex(const fs::path& db) {
    IndexedRead out;
    PxDoc data, index;
    if (PX_open_file(data.doc, db.c_str()) < 0) {
        ADD_FAILURE() << "pxlib cannot open " << db << ": " << data.messages;
        return out;
    }
    const fs::path px = fs::path(db).replace_extension(".PX");
    if (PX_open_file(index.doc, px.c_str()) < 0) {
        ADD_FAILURE() << "pxlib cannot open " << px << ": " << index.messages;
        return out;
    }
    out.indexEntries = PX_get_num_records(index.doc);
    if (PX_read_primary_index(index.doc) < 0) {
        ADD_FAILURE() << "pxlib cannot read the index: " << index.messages;
        return out;
    }
    if (PX_add_primary_index(data.doc, index.doc) < 0) {
        ADD_FAILURE() << "pxlib refuses the index: " << data.messages;
        data.doc->px_pindex = nullptr;
        data.doc->px_indexdata = nullptr;
        return out;
    }
    std::string rec(static_cast<std::size_t>(PX_get_recordsize(data.doc)), '\0');
    for (int r = 0; r < PX_get_num_records(data.doc); ++r) {
        if (!PX_get_record(data.doc, r, rec.data())) {
            ADD_FAILURE() << "pxlib cannot read record " << r << " by the index: " << data.messages;
            break;
        }
        out.raw.push_back(rec);
    }
    // The index document owns what PX_add_primary_index lent to the data document.
    data.doc->px_pindex = nullptr;
    data.doc->px_indexdata = nullptr;
    data.doc->px_indexdatalen = 0;
    return out;
}

//! A memo that fits its leader, as pxlib gives it without the blob file.
std::optional<std::string> pxlibLeaderMemo(const fs::path& db, const std::string& field) {
    PxDoc d;
    if (PX_open_file(d.doc, db.c_str()) < 0) return std::nullopt;
    int mod = 0, size = 0;
    char* value = nullptr;
    std::string copy = field;
    const int rc =
        PX_get_data_blob(d.doc, copy.data(), static_cast<int>(copy.size()), &mod, &size, &value);
    if (rc <= 0 || !value) return rc == 0 ? std::optional<std::string>("") : std::nullopt;
    std::string out(value, static_cast<std::size_t>(size));
    d.doc->free(d.doc, value);
    return out;
}

//! The .PX's stamp and tree against the .DB: pxlib's and the engine's acceptance rules.
void expectIndexMatchesData(const fs::path& db) {
    const Bytes d = readFileBytes(db);
    const Bytes x = readFileBytes(fs::path(db).replace_extension(".PX"));
    ASSERT_GE(x.size(), 0x58u);
    EXPECT_EQ(x[4], 1) << "PX file type";
    EXPECT_EQ(x[0x2C], d[0x2D]) << "PX stamp 0x2C must equal the table's 0x2D";
    const int keyWidth = le16(&x[0]) - 6;
    const std::size_t dHead = le16(&d[2]), dBlock = d[5] * 1024u, dRec = le16(&d[0]);
    const std::size_t xHead = le16(&x[2]), xBlock = x[5] * 1024u;
    const std::uint32_t dbRecords = le32(&d[6]);
    const int levels = x[0x20];
    ASSERT_LE(levels, 2) << "pxlib reads at most two index levels";
    if (dbRecords == 0) {
        EXPECT_EQ(levels, 0);
        return;
    }
    auto records = [&](const Bytes& f, std::size_t head, std::size_t size, int block, int width) {
        std::vector<const std::uint8_t*> out;
        const std::uint8_t* b = f.data() + head + (block - 1) * size;
        if (head + block * size > f.size()) return out;
        const int n = static_cast<std::int16_t>(le16(b + 4)) / width + 1;
        for (int i = 0; i < n; ++i)
            out.push_back(b + 6 + i * width);
        return out;
    };
    // Level-1 entries, in tree order.
    std::vector<const std::uint8_t*> level1 =
        records(x, xHead, xBlock, le16(&x[0x1E]), keyWidth + 6);
    int entries = static_cast<int>(level1.size());
    if (levels == 2) {
        std::vector<const std::uint8_t*> lower;
        for (const auto* e : level1) {
            const auto below = records(x, xHead, xBlock, shortField(e + keyWidth), keyWidth + 6);
            int sum = 0;
            for (const auto* l : below)
                sum += shortField(l + keyWidth + 2);
            EXPECT_EQ(shortField(e + keyWidth + 2), sum) << "level-2 count is the sum below it";
            EXPECT_EQ(std::memcmp(e, below.at(0), keyWidth), 0) << "level-2 key is the first below";
            lower.insert(lower.end(), below.begin(), below.end());
        }
        entries += static_cast<int>(lower.size());
        level1 = lower;
    }
    EXPECT_EQ(static_cast<std::uint32_t>(entries), le32(&x[6])) << "PX entry count";
    EXPECT_GT(level1.size(), 3u) << "the fixture should spread over several data blocks";
    // Each level-1 entry: a data block in chain order, its first key and its record count.
    long sum = 0;
    int expectedBlock = le16(&d[0x0E]);
    for (const auto* e : level1) {
        const int block = shortField(e + keyWidth), count = shortField(e + keyWidth + 2);
        EXPECT_EQ(block, expectedBlock) << "level-1 entries follow the data block chain";
        const auto recs = records(d, dHead, dBlock, block, static_cast<int>(dRec));
        EXPECT_EQ(static_cast<int>(recs.size()), count) << "count of data block " << block;
        if (!recs.empty()) {
            EXPECT_EQ(std::memcmp(e, recs[0], keyWidth), 0) << "key of data block " << block;
        }
        expectedBlock = le16(d.data() + dHead + (block - 1) * dBlock);
        sum += count;
    }
    EXPECT_EQ(expectedBlock, 0) << "the index ends before the data block chain";
    EXPECT_EQ(sum, static_cast<long>(dbRecords)) << "level-1 counts must add up to the records";
}

// ------------------------------------------------------------------ the all-types table

struct Column {
    const char* name;
    FieldType type;
    int size;
    int pxType;
};
const Column kColumns[] = {
    {"ID", FieldType::ftInteger, 0, pxfLong},
    {"SMALL", FieldType::ftSmallint, 0, pxfShort},
    {"NAME", FieldType::ftString, 20, pxfAlpha},
    {"SEQ", FieldType::ftAutoInc, 0, pxfAutoInc},
    {"NUM", FieldType::ftFloat, 0, pxfNumber},
    {"MONEY", FieldType::ftCurrency, 0, pxfCurrency},
    {"DEC", FieldType::ftBCD, 2, pxfBCD},
    {"FLAG", FieldType::ftBoolean, 0, pxfLogical},
    {"DAY", FieldType::ftDate, 0, pxfDate},
    {"CLOCK", FieldType::ftTime, 0, pxfTime},
    {"STAMP", FieldType::ftDateTime, 0, pxfTimestamp},
    {"RAW", FieldType::ftBytes, 8, pxfBytes},
    {"NOTE", FieldType::ftMemo, 20, pxfMemoBLOb},
    {"RICH", FieldType::ftFmtMemo, 10, pxfFmtMemoBLOb},
    {"BIN", FieldType::ftBlob, 10, pxfBLOb},
    {"PIC", FieldType::ftGraphic, 10, pxfGraphic},
};
enum Col {
    cId,
    cSmall,
    cName,
    cSeq,
    cNum,
    cMoney,
    cDec,
    cFlag,
    cDay,
    cClock,
    cStamp,
    cRaw,
    cNote,
    cRich,
    cBin,
    cPic,
    cCount
};

//! A blob payload of n bytes that differs from record to record and byte to byte.
std::string pattern(int seed, std::size_t n, bool text) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = text ? static_cast<char>('a' + (seed + i * 7) % 26)
                    : static_cast<char>((seed * 31 + i * 13) & 0xFF);
    if (text && n > 40) s.replace(n - 6, 6, fmt("#%05d", seed % 100000));
    return s;
}

//! One record: the text set for each field (empty = blank) and the values pxlib should give.
struct Row {
    int id = 0;
    long seq = 0;
    std::string text[cCount];
    std::optional<double> number[cCount]; //!< expected numeric value per field, nullopt = blank
};

// The record with key id in its gen-th version: every field type, blanks scattered, memos and
// blobs cycling through empty, in the leader, in a slot and in a block of their own.
Row makeRow(int id, int gen) {
    Row r;
    r.id = id;
    auto& t = r.text;
    auto& n = r.number;
    t[cId] = std::to_string(id), n[cId] = id;
    if (id % 7 != 0) n[cSmall] = (id * 37 + gen) % 2000 - 1000, t[cSmall] = fmt("%.0f", *n[cSmall]);
    t[cName] = fmt("Name %d%s/%d", id, id % 5 == 0 ? "\xE4" : "", gen);
    if (id % 11 != 0) n[cNum] = id * 1.25 - 30 + gen, t[cNum] = fmt("%.2f", *n[cNum]);
    n[cMoney] = id * 0.5 - 7.25, t[cMoney] = fmt("%.2f", *n[cMoney]);
    if (id % 9 != 0) {
        const long cents = (id * 7919L + gen) % 200000 - 100000;
        t[cDec] = fmt("%s%ld.%02ld", cents < 0 ? "-" : "", std::labs(cents) / 100,
                      std::labs(cents) % 100);
        n[cDec] = cents / 100.0;
    }
    if (id % 3 != 0) n[cFlag] = (id + gen) % 2, t[cFlag] = *n[cFlag] ? "True" : "False";
    const int y = 1890 + id % 200, m = 1 + id % 12, d = 1 + id % 28;
    const long ms = (id * 7777L + gen) % 86400 * 1000;
    const std::string clock =
        fmt("%02ld:%02ld:%02ld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    if (id % 13 != 0) n[cDay] = dayNumber(y, m, d), t[cDay] = fmt("%04d-%02d-%02d", y, m, d);
    if (id % 4 != 1) n[cClock] = ms, t[cClock] = clock;
    n[cStamp] = dayNumber(y, m, d) * 86400000.0 + ms,
    t[cStamp] = t[cDay].empty() ? "" : t[cDay] + " " + clock;
    if (t[cStamp].empty()) n[cStamp].reset();
    t[cRaw] = std::string{static_cast<char>(id), '\0', '\xFF', 'b', static_cast<char>(gen + 1)};
    const std::size_t memoSizes[] = {0, 12, 300, 3000 + static_cast<std::size_t>(id)};
    t[cNote] = pattern(id + gen, memoSizes[(id + gen) % 4], true);
    const std::size_t richSizes[] = {0, 6, 700};
    t[cRich] = pattern(id, richSizes[(id + gen) % 3], false);
    if (!t[cRich].empty()) t[cRich].replace(0, 4, std::string("\x07\0\0\0", 4));
    const std::size_t binSizes[] = {0, 9, 1000, 5000};
    t[cBin] = pattern(id * 3 + gen, binSizes[(id + 2 * gen) % 4], false);
    const std::size_t picSizes[] = {0, 100, 4000};
    t[cPic] = pattern(id + 5 * gen, picSizes[(id + gen) % 3], false);
    if (!t[cPic].empty()) t[cPic].replace(0, 2, "BM");
    return r;
}

class WrittenTables : public ::testing::Test {
protected:
    WrittenTables() { session.addStandardAlias("WORK", dir.path()); }

    void create(const std::string& name, bool keyed) {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        for (const auto& c : kColumns)
            t.fieldDefs().push_back({c.name, c.type, c.size, false});
        if (keyed) t.indexDefs() = {{"", "ID", ixPrimary}};
        t.createTable();
    }

    std::unique_ptr<Table> open(const std::string& name) {
        auto t = std::make_unique<Table>(session);
        t->setDatabaseName("WORK");
        t->setTableName(name);
        t->open();
        return t;
    }

    static void setFields(Table& t, const Row& r) {
        for (int c = 0; c < cCount; ++c)
            if (c != cSeq) t.field(c).setAsString(r.text[c]);
    }

    // Moves to the record with this ID.
    static void locate(Table& t, int id) {
        for (t.first(); !t.eof(); t.next())
            if (t.field(cId).asInteger() == id) return;
        FAIL() << "record " << id << " not found";
    }

    // Compares the table as pxlib and the blob decoder read it with the expected rows.
    void expectReadBack(const std::string& name, std::vector<Row> rows, bool keyed,
                        const std::string& stage) {
        SCOPED_TRACE(name + ", " + stage);
        if (keyed)
            std::sort(rows.begin(), rows.end(), [](auto& a, auto& b) { return a.id < b.id; });
        const fs::path db = dir.path() / (name + ".DB");
        const PxTable px = readWithPxlib(db);
        ASSERT_EQ(px.recordCount, static_cast<int>(rows.size()));
        ASSERT_EQ(px.fields.size(), static_cast<std::size_t>(cCount));
        for (int c = 0; c < cCount; ++c) {
            EXPECT_EQ(px.fields[c].name, kColumns[c].name);
            EXPECT_EQ(px.fields[c].type, kColumns[c].pxType) << kColumns[c].name;
        }
        EXPECT_EQ(px.fields[cDec].decimals, 2);
        const Bytes mb = readFileBytes(fs::path(db).replace_extension(".MB"));
        expectBlobFileWalks(mb);
        int homes[4] = {};
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Row& want = rows[r];
            const auto& got = px.records[r];
            for (int c = 0; c < cCount; ++c) {
                const std::string where = fmt("record %d field %s", want.id, kColumns[c].name);
                const PxValue& v = got[c];
                const PxField& f = px.fields[c];
                switch (c) {
                case cName: {
                    const std::string text =
                        px.codePage == 1252 || px.codePage == 0
                            ? v.text
                            : convertCodePage(v.text, fmt("CP%d", px.codePage), "CP1252");
                    EXPECT_EQ(text, want.text[c]) << where;
                    break;
                }
                case cSeq:
                    EXPECT_FALSE(v.isNull) << where;
                    EXPECT_EQ(v.integer, want.seq) << where;
                    break;
                case cRaw: {
                    std::string padded = want.text[c];
                    padded.resize(8, '\0');
                    EXPECT_EQ(v.text, padded) << where;
                    break;
                }
                case cNote:
                case cRich:
                case cBin:
                case cPic: {
                    const std::string field = px.rawRecords[r].substr(f.offset, f.width);
                    const BlobRead b = readBlob(field, mb, where);
                    ++homes[b.home];
                    std::string stored = want.text[c];
                    std::string shown = stored; // what the leader starts with
                    if (c == cPic && !stored.empty()) {
                        std::string prefix("\x01\0\0\x01\0\0\0\0", 8);
                        const auto len = static_cast<std::uint32_t>(stored.size());
                        std::memcpy(prefix.data() + 4, &len, 4);
                        stored = prefix + stored;
                    }
                    EXPECT_EQ(b.value.size(), stored.size()) << where;
                    EXPECT_TRUE(b.value == stored) << where << ": blob contents differ";
                    const std::size_t lead = std::min(b.leader.size(), shown.size());
                    EXPECT_EQ(b.leader.substr(0, lead), shown.substr(0, lead))
                        << where << ": the leader copies the first bytes";
                    if (c == cNote && want.text[c].size() <= b.leader.size()) {
                        EXPECT_EQ(pxlibLeaderMemo(db, field), want.text[c])
                            << where << " via pxlib";
                    }
                    break;
                }
                default:
                    if (!want.number[c]) {
                        EXPECT_TRUE(v.isNull) << where << " should be blank";
                        break;
                    }
                    EXPECT_FALSE(v.isNull) << where;
                    const double gotN = c == cDec || c == cNum || c == cMoney || c == cStamp
                                            ? v.number
                                            : static_cast<double>(v.integer);
                    EXPECT_NEAR(gotN, *want.number[c], 1e-9) << where;
                }
            }
        }
        if (!rows.empty()) {
            for (int h = 0; h < 4; ++h)
                EXPECT_GT(homes[h], 0)
                    << "no blob stored in place " << h << ": the fixture misses a case";
        }
        if (keyed) {
            expectIndexMatchesData(db);
            const IndexedRead byIndex = readThroughIndex(db);
            EXPECT_EQ(byIndex.raw, px.rawRecords) << "pxlib reads other records through the index";
        } else {
            EXPECT_FALSE(fs::exists(fs::path(db).replace_extension(".PX")));
        }
    }

    TempDir dir;
    Session session;
};

TEST_F(WrittenTables, AllFieldTypesReadBackByPxlibAfterSplitsKeyChangesAndDeletes) {
    struct Case {
        const char* name;
        bool keyed;
        bool filling; //!< appends held and written a batch at a time
    } cases[] = {{"KEYED", true, false},
                 {"PLAIN", false, false},
                 {"KEYEDF", true, true},
                 {"PLAINF", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        create(c.name, c.keyed);
        std::vector<Row> rows;
        long seq = 0;
        {
            auto t = open(c.name);
            t->setFilling(c.filling);
            // Keys in scrambled order: keyed inserts land in the middle and split blocks.
            for (int i = 0; i < 150; ++i) {
                Row r = makeRow(i * 37 % 150 + 1, 0);
                r.seq = ++seq;
                t->insert();
                setFields(*t, r);
                t->post();
                rows.push_back(r);
            }
        }
        expectReadBack(c.name, rows, c.keyed, "after inserts");
        {
            auto t = open(c.name);
            t->setFilling(c.filling);
            // Change the key and every other field of one record in five: memos and blobs
            // change their size class (leader, slot, own block, empty).
            for (Row& r : rows) {
                if (r.id % 5 != 0) continue;
                locate(*t, r.id);
                const long keep = r.seq;
                r = makeRow(r.id + 1000, 1);
                r.seq = keep;
                t->edit();
                setFields(*t, r);
                t->post();
            }
            // Delete a run of keys, emptying whole blocks of the keyed table.
            for (int id = 30; id <= 110; ++id) {
                if (id % 5 == 0) continue;
                locate(*t, id);
                t->deleteRecord();
            }
            std::erase_if(rows, [](const Row& r) { return r.id >= 30 && r.id <= 110 && r.id % 5; });
            for (int id = 2001; id <= 2040; ++id) {
                Row r = makeRow(id, 2);
                r.seq = ++seq;
                t->insert();
                setFields(*t, r);
                t->post();
                rows.push_back(r);
            }
        }
        expectReadBack(c.name, rows, c.keyed, "after key changes, deletes and more inserts");
    }
}

// A table being filled writes its new blocks a batch at a time, the header after them: a
// reader that opens it meanwhile, ours or pxlib, finds the records of the batches written so
// far, in order, and the finished table reads whole, also through its index.
TEST_F(WrittenTables, AFilledTableReadsWholeWhileItIsFilledAndAfter) {
    for (const bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        const std::string name = keyed ? "FILLK" : "FILLU";
        {
            Table t(session);
            t.setDatabaseName("WORK");
            t.setTableName(name);
            t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, keyed},
                             {"NAME", FieldType::ftString, 20, false}};
            if (keyed) t.indexDefs() = {{"", "ID", ixPrimary}};
            t.createTable();
        }
        const fs::path db = dir.path() / (name + ".DB");
        constexpr int kRecords = 40000; // about 1 MB: several batches
        auto t = open(name);
        t->setFilling(true);
        int seenBefore = 0;
        for (int id = 1; id <= kRecords; ++id) {
            t->insert();
            t->field(0).setAsInteger(id);
            t->field(1).setAsString(fmt("Name %d", id));
            t->post();
            if (id % 7000 != 0) continue;
            SCOPED_TRACE(fmt("after %d appended", id));
            Session other;
            other.addStandardAlias("WORK", dir.path());
            Table reader(other);
            reader.setDatabaseName("WORK");
            reader.setTableName(name);
            reader.open();
            int n = 0;
            for (reader.first(); !reader.eof() && reader.recordCount() > 0; reader.next()) {
                if (reader.field(0).asInteger() != ++n) {
                    ADD_FAILURE() << "record " << n << " reads ID " << reader.field(0).asInteger();
                    break;
                }
            }
            EXPECT_EQ(n, reader.recordCount());
            EXPECT_GE(n, seenBefore) << "records written once stay";
            seenBefore = n;
            const PxTable px = readWithPxlib(db);
            EXPECT_EQ(px.recordCount, n);
        }
        EXPECT_GT(seenBefore, 0) << "full batches reach the file while the table is filled";
        // The fill reads its own records, held or written, and changes them like any other.
        t->last();
        EXPECT_EQ(t->field(0).asInteger(), kRecords);
        t->edit();
        t->field(1).setAsString("Last one");
        t->post();
        t->close();
        const PxTable px = readWithPxlib(db);
        ASSERT_EQ(px.recordCount, kRecords);
        for (int r = 0; r < kRecords; ++r) {
            ASSERT_EQ(px.records[r][0].integer, r + 1) << "record " << r;
            ASSERT_EQ(px.records[r][1].text, r + 1 < kRecords ? fmt("Name %d", r + 1) : "Last one");
        }
        if (keyed) {
            EXPECT_EQ(readThroughIndex(db).raw, px.rawRecords);
        }
    }
}

TEST_F(WrittenTables, EmptiedKeyedTableKeepsAValidIndex) {
    create("GONE", true);
    {
        auto t = open("GONE");
        for (int id = 1; id <= 40; ++id) {
            t->insert();
            setFields(*t, makeRow(id, 0));
            t->post();
        }
        t->first();
        while (t->recordCount() > 0)
            t->deleteRecord();
    }
    expectReadBack("GONE", {}, true, "after deleting every record");
}

// ------------------------------------------------------------------ encryption

TEST_F(WrittenTables, EncryptedTablesAreReadByPxlib) {
    struct Case {
        const char* name;
        bool keyed;
        bool filling; //!< new blocks written a batch at a time, each block encrypted
    } cases[] = {{"SECRETK", true, false},
                 {"SECRETU", false, false},
                 {"SECRETF", true, true},
                 {"SECRETG", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            Table t(session);
            t.setDatabaseName("WORK");
            t.setTableName(c.name);
            t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, c.keyed},
                             {"NAME", FieldType::ftString, 24, false},
                             {"AMOUNT", FieldType::ftFloat, 0, false}};
            if (c.keyed) t.indexDefs() = {{"", "ID", ixPrimary}};
            t.setCreatePassword("swordfish");
            t.createTable();
        }
        session.addPassword("swordfish");
        {
            auto t = open(c.name);
            t->setFilling(c.filling);
            for (int i = 0; i < 200; ++i) { // several blocks, keys out of order
                t->insert();
                t->field(0).setAsInteger(i * 7 % 200 + 1);
                t->field(1).setAsString(fmt("Plaintext%04d", i * 7 % 200 + 1));
                t->field(2).setAsString(fmt("%d.5", i));
                t->post();
            }
        }
        session.removeAllPasswords();
        const fs::path db = dir.path() / (std::string(c.name) + ".DB");
        const Bytes raw = readFileBytes(db);
        const std::string all(raw.begin(), raw.end());
        EXPECT_EQ(all.find("Plaintext"), std::string::npos) << "record text stored in clear";
        EXPECT_EQ(le32(&raw[0x25]), 0xFF00FF00u) << "level 4+ marks encryption at 0x25";
        EXPECT_NE(le32(&raw[0x5C]), 0u) << "the key at 0x5C";

        PxTable px;
        try {
            px = readWithPxlib(db);
        } catch (const std::exception& e) {
            GTEST_SKIP() << "pxlib 0.6.8 cannot read the encrypted table: " << e.what();
        }
        ASSERT_EQ(px.recordCount, 200);
        for (int r = 0; r < 200; ++r) {
            const int id = c.keyed ? r + 1 : r * 7 % 200 + 1;
            const int i = c.keyed ? (id - 1) * 143 % 200 : r; // 7 * 143 = 1001 = 1 mod 200
            EXPECT_EQ(px.records[r][0].integer, id) << "record " << r;
            EXPECT_EQ(px.records[r][1].text, fmt("Plaintext%04d", id)) << "record " << r;
            EXPECT_DOUBLE_EQ(px.records[r][2].number, i + 0.5) << "record " << r;
        }
        if (c.keyed) {
            const IndexedRead byIndex = readThroughIndex(db);
            EXPECT_EQ(byIndex.raw, px.rawRecords) << "pxlib reads other records through the index";
        }
    }
}

// Every path that rewrites a table or an index file keeps an encrypted table encrypted: it
// opens with its password afterwards, its records are unchanged, nothing is readable on
// disk, and pxlib still reads it.
TEST_F(WrittenTables, StructuralChangesKeepATableEncrypted) {
    const std::string password = "swordfish";
    auto make = [&](const std::string& name) {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        t.fieldDefs() = {{"ID", FieldType::ftInteger, 0, true},
                         {"NAME", FieldType::ftString, 24, false},
                         {"NOTE", FieldType::ftMemo, 10, false}};
        t.indexDefs() = {{"", "ID", ixPrimary}, {"ByName", "NAME", ixCaseInsensitive}};
        t.setCreatePassword(password);
        t.createTable();
        session.addPassword(password);
        t.open();
        for (int i = 0; i < 120; ++i) {
            const int id = i * 7 % 120 + 1;
            t.insert();
            t.field(0).setAsInteger(id);
            t.field(1).setAsString(fmt("Plaintext%04d", id));
            t.field(2).setAsString(fmt("Secret memo %04d ", id) + std::string(200, 'm'));
            t.post();
        }
        t.close();
    };
    auto withTable = [&](const std::string& name, auto&& change) {
        Table t(session);
        t.setDatabaseName("WORK");
        t.setTableName(name);
        change(t);
    };
    struct Case {
        const char* name;
        std::function<void(Table&)> change;
        bool keyedAfter;
    } cases[] = {
        {"DROPSEC", [](Table& t) { t.setExclusive(true); t.open(); t.deleteIndex("ByName"); t.close(); }, true},
        {"DROPPRIM",
         [](Table& t) {
             t.setExclusive(true);
             t.open();
             t.deleteIndex("ByName");
             t.deleteIndex("");
             t.close();
         },
         false},
        {"READDED",
         [](Table& t) {
             t.setExclusive(true);
             t.open();
             t.deleteIndex("ByName");
             t.deleteIndex("");
             t.close();
             t.addIndex("", "ID", ixPrimary);
             t.addIndex("_NAME", "NAME", ixCaseInsensitive);
         },
         true},
        {"ADDSEC", [](Table& t) { t.addIndex("ById2", "NAME;ID", 0); }, true},
        {"EDITED",
         [](Table& t) {
             t.open();
             t.first();
             t.edit();
             t.field(1).setAsString("Plaintext0001");
             t.post();
             t.close();
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make(c.name);
        withTable(c.name, c.change);
        // Opens with the password and holds the records it held.
        {
            auto t = open(c.name);
            ASSERT_EQ(t->recordCount(), 120);
            int n = 0;
            for (t->first(); !t->eof(); t->next(), ++n) {
                const int id = static_cast<int>(t->field(0).asInteger());
                if (c.keyedAfter) {
                    EXPECT_EQ(id, n + 1) << "key order";
                }
                EXPECT_EQ(t->field(1).asString(), fmt("Plaintext%04d", id));
                EXPECT_EQ(t->field(2).asString(), fmt("Secret memo %04d ", id) + std::string(200, 'm'));
            }
        }
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path().stem() != c.name) continue;
            const Bytes raw = readFileBytes(entry.path());
            const std::string all(raw.begin(), raw.end());
            EXPECT_EQ(all.find("Plaintext"), std::string::npos) << entry.path().filename() << " holds clear text";
            EXPECT_EQ(all.find("Secret memo"), std::string::npos) << entry.path().filename() << " holds clear text";
        }
        session.removeAllPasswords();
        try {
            Table t(session);
            t.setDatabaseName("WORK");
            t.setTableName(c.name);
            t.open();
            ADD_FAILURE() << "opened without its password";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::NeedsPassword);
        }
        PxTable px;
        try {
            px = readWithPxlib(dir.path() / (std::string(c.name) + ".DB"));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "pxlib cannot read the table: " << e.what();
            continue;
        }
        EXPECT_EQ(px.recordCount, 120);
    }
}

} // namespace
