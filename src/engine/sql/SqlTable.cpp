#include "SqlTable.h"

#include "../DateCalc.h"
#include "../EngineError.h"
#include "../Session.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace fieldsmith::engine::sql {

namespace {

constexpr std::size_t kBatch = 256;     //!< rows fetched in one statement
constexpr std::size_t kRowsKept = 4096; //!< fetched rows kept before the oldest go
constexpr std::size_t kBcdWidth = 40;   //!< decimal text of an exact number
// The flag byte of a field in the record image besides 0 (null) and 1 (a value).
constexpr std::uint8_t kUnreadable = 2; //!< a value this driver cannot read as the field's type
constexpr std::uint8_t kTooLong = 3;    //!< a text longer than its field

bool oneOf(const std::string& t, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (t == n) return true;
    return false;
}

// The engine's field for a column of the catalog. Columns of the key or of an index need
// their values in the record image, so text without a length becomes a string of the
// longest size there (a longer value is an error when read, never cut).
FieldDef fieldFor(const SqlColumn& c, bool indexed) {
    FieldDef f;
    f.name = c.name;
    f.required = c.notNull;
    const std::string& t = c.type;
    if (oneOf(t, {"varchar", "character varying", "char", "character", "nvarchar", "nchar",
                  "varchar2", "bpchar", "varying character", "native character"})) {
        if (c.length > 0 && c.length <= 255) {
            f.type = FieldType::ftString;
            f.size = c.length;
        } else {
            f.type = FieldType::ftMemo;
        }
    } else if (oneOf(t, {"smallint", "int2", "tinyint"})) {
        f.type = FieldType::ftSmallint;
    } else if (oneOf(t, {"integer", "int", "int4", "mediumint", "serial"})) {
        f.type = FieldType::ftInteger;
    } else if (oneOf(t, {"bigint", "int8", "bigserial"})) {
        f.type = FieldType::ftLargeint;
    } else if (oneOf(t, {"boolean", "bool"})) {
        f.type = FieldType::ftBoolean;
    } else if (oneOf(t, {"real", "float4", "double", "double precision", "float", "float8"})) {
        f.type = FieldType::ftFloat;
    } else if (oneOf(t, {"numeric", "decimal"})) {
        if (c.scale >= 0) {
            f.type = FieldType::ftBCD;
            f.size = c.scale;
        } else {
            f.type = FieldType::ftFloat;
        }
    } else if (t == "money") {
        f.type = FieldType::ftCurrency;
    } else if (t == "date") {
        f.type = FieldType::ftDate;
    } else if (oneOf(t, {"time", "time without time zone"})) {
        f.type = FieldType::ftTime;
    } else if (oneOf(t, {"timestamp", "datetime", "timestamp without time zone",
                         "timestamp with time zone", "timestamptz"})) {
        f.type = FieldType::ftDateTime;
    } else if (oneOf(t, {"blob", "bytea"})) {
        f.type = FieldType::ftBlob;
    } else if (t == "uuid") {
        f.type = FieldType::ftString;
        f.size = 36;
    } else {
        f.type = FieldType::ftMemo; // text, json, and columns without a declared type
    }
    if (indexed && f.type == FieldType::ftMemo) {
        f.type = FieldType::ftString;
        f.size = 255;
    }
    return f;
}

std::size_t widthOf(const FieldDef& f) {
    switch (f.type) {
    case FieldType::ftString:
        return 1 + static_cast<std::size_t>(f.size);
    case FieldType::ftBCD:
        return 1 + kBcdWidth;
    case FieldType::ftBoolean:
        return 2;
    case FieldType::ftDate:
    case FieldType::ftTime:
        return 5;
    default:
        return 9;
    }
}

void putU64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t getU64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t getU32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
double getDouble(const std::uint8_t* p) {
    const std::uint64_t bits = getU64(p);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
void putDouble(std::uint8_t* p, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    putU64(p, bits);
}

// Bytes whose memcmp order is the numbers' order.
void appendBigEndian(std::string& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint64_t orderedDouble(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return (bits & 0x8000000000000000ull) ? ~bits : bits | 0x8000000000000000ull;
}
double doubleFromOrdered(std::uint64_t v) {
    const std::uint64_t bits = (v & 0x8000000000000000ull) ? v & ~0x8000000000000000ull : ~v;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
std::uint64_t readBigEndian(std::string_view s, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

unsigned char foldCase(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    return c;
}

// ISO texts of the servers, to the engine's day numbers and milliseconds.
bool parseDate(std::string_view t, std::int64_t& day) {
    int y, m, d;
    if (std::sscanf(std::string(t.substr(0, 10)).c_str(), "%d-%d-%d", &y, &m, &d) != 3)
        return false;
    if (!isValidDate(y, m, d)) return false;
    day = dayNumber(y, m, d);
    return true;
}
bool parseTime(std::string_view t, std::int64_t& ms) {
    int h, mi;
    double s = 0;
    if (std::sscanf(std::string(t).c_str(), "%d:%d:%lf", &h, &mi, &s) < 2) return false;
    ms = (h * 3600 + mi * 60) * 1000LL + std::llround(s * 1000);
    return true;
}
std::string isoDate(std::int64_t day) {
    const CivilDate c = civilFromDayNumber(day);
    char b[16];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", c.year, c.month, c.day);
    return b;
}
std::string isoTime(std::int64_t ms) {
    char b[64];
    std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return b;
}

} // namespace

// ------------------------------------------------------------------------------ opening

SqlTable::SqlTable(std::unique_ptr<SqlBackend> backend, std::string table,
                   const OpenRequest& request)
    : db_(std::move(backend)), table_(std::move(table)), exclusive_(request.exclusive),
      preview_(request.session && request.session->preview()) {
    const int programCp = request.session ? request.session->ansiCodePage() : 1252;
    toProgram_ = CodePageConverter(65001, programCp);
    toServer_ = CodePageConverter(programCp, 65001);
    if (request.session) toProgram_.setLossCounter(&request.session->conversionLosses());
    db_->nameRecordsWith([this](std::string_view identity) { return recordName(identity); });
    if (exclusive_ && !db_->lockExclusive(table_))
        throw EngineError(ErrorKind::Database, "Table " + table_ + " is in use by someone else");
    describe();
}

SqlTable::~SqlTable() {
    try {
        close();
    } catch (...) {
    }
}

void SqlTable::fail(const std::string& what) const {
    throw EngineError(ErrorKind::General,
                      "Table " + table_ + " of " + db_->description() + ": " + what);
}

// The fields and indexes of the table as the catalog has them, and the image's layout.
void SqlTable::describe() {
    shape_ = db_->describe(table_);
    fieldDefs_.clear();
    slots_.clear();
    keyFields_.clear();
    std::size_t offset = 0;
    for (const auto& c : shape_.columns) {
        const bool indexed = std::any_of(shape_.indexes.begin(), shape_.indexes.end(),
                                         [&](const SqlIndex& ix) {
                                             return std::find(ix.columns.begin(), ix.columns.end(),
                                                              c.name) != ix.columns.end();
                                         }) ||
                             std::find(shape_.primaryKey.begin(), shape_.primaryKey.end(),
                                       c.name) != shape_.primaryKey.end();
        FieldDef f = fieldFor(c, indexed);
        Slot s;
        s.column = c.name;
        s.select = db_->selectColumn(c);
        s.type = f.type;
        s.indexed = indexed;
        s.offset = offset;
        s.width = widthOf(f);
        offset += s.width;
        slots_.push_back(s);
        fieldDefs_.push_back(std::move(f));
    }
    for (const auto& k : shape_.primaryKey)
        for (std::size_t i = 0; i < slots_.size(); ++i)
            if (slots_[i].column == k) keyFields_.push_back(static_cast<int>(i));
    for (int k : keyFields_) {
        fieldDefs_[static_cast<std::size_t>(k)].required = true;
        if (isBlobType(slots_[static_cast<std::size_t>(k)].type))
            fail("a key column of type " + shape_.columns[static_cast<std::size_t>(k)].type +
                 " is not supported");
    }
    rowIdOffset_ = offset;
    recordSize_ = offset + 9;
    hasBlobs_ = std::any_of(slots_.begin(), slots_.end(),
                            [](const Slot& sl) { return isBlobType(sl.type); });
    const auto numeric = [](FieldType t) {
        return t == FieldType::ftSmallint || t == FieldType::ftInteger ||
               t == FieldType::ftLargeint || t == FieldType::ftWord || t == FieldType::ftAutoInc;
    };
    rangeFetch_ = keyFields_.empty()
                      ? db_->rowIdColumn() == "rowid"
                      : keyFields_.size() == 1 &&
                            numeric(slots_[static_cast<std::size_t>(keyFields_[0])].type);
    forgetKeys();
    statements_.clear();
    updates_.clear();
    fetchByCount_.clear();
    forgetRows();
}

std::vector<IndexDef> SqlTable::indexes() {
    std::vector<IndexDef> list;
    for (const auto& ix : shape_.indexes) {
        IndexDef def;
        def.name = ix.primary ? std::string() : shownIndexName(table_, ix.name);
        def.fields = joinFieldList(ix.columns);
        def.options = ix.primary ? (ixPrimary | ixUnique) : (ix.unique ? ixUnique : 0u);
        if (ix.descending) def.options |= ixDescending;
        if (ix.caseInsensitive) def.options |= ixCaseInsensitive;
        list.push_back(std::move(def));
    }
    return list;
}

// ------------------------------------------------------------------------------- keys

// Every row's identity, once: the key columns of every row (or the server's row ids),
// sorted in byte order. Rows are then fetched by identity as the walk reaches them.
void SqlTable::loadKeys() {
    std::string list;
    if (keyFields_.empty()) {
        list = db_->rowIdColumn();
    } else {
        for (int k : keyFields_)
            list +=
                (list.empty() ? "" : ", ") + db_->quote(slots_[static_cast<std::size_t>(k)].column);
    }
    const bool more = keysLoaded_ && keys_.slots() > 0;
    // Where the server orders the key as this driver does, the identities come sorted.
    auto st = db_->prepare("SELECT " + list + " FROM " + db_->quote(table_) +
                           (more ? " WHERE " + list + " > ?" : std::string()) +
                           (rangeFetch_ ? " ORDER BY " + list : std::string()));
    st->execute(more ? keyParams(keys_.key(keys_.slots() - 1)) : std::vector<SqlValue>{});
    std::string keys;
    std::string id;
    std::vector<std::uint8_t> raw(recordSize_);
    while (st->next()) {
        std::fill(raw.begin(), raw.end(), 0);
        if (keyFields_.empty()) {
            storeRowId(*st, 0, raw.data());
        } else {
            for (std::size_t i = 0; i < keyFields_.size(); ++i)
                storeColumn(keyFields_[i], *st, static_cast<int>(i), raw.data(), nullptr);
        }
        id = identityOfRaw(raw.data());
        keys += id;
    }
    const std::size_t width = identityOfRaw(raw.data()).size();
    if (more) {
        keys_.append(keys);
    } else {
        // A table without a key is walked in the order of its row ids; where the server
        // changes a row's id when it is updated, updated rows keep their place in the walk.
        keys_.assign(std::move(keys), width, !keyFields_.empty() || db_->rowIdColumn() == "rowid");
    }
    keysLoaded_ = true;
    keysComplete_ = true;
    serverCount_.reset();
}

void SqlTable::startKeys() {
    if (keysLoaded_) return;
    if (!rangeFetch_) {
        loadKeys();
        return;
    }
    std::vector<std::uint8_t> raw(recordSize_, 0);
    keys_.assign(std::string(), identityOfRaw(raw.data()).size(), true);
    keysLoaded_ = true;
    keysComplete_ = false;
    serverCount_.reset();
}

void SqlTable::ensureKeys() {
    startKeys();
    if (!keysComplete_) loadKeys();
}

void SqlTable::forgetKeys() {
    keysLoaded_ = false;
    keysComplete_ = false;
    serverCount_.reset();
}

// A keyed row: the sort keys of its key fields; else its row id (8 bytes, big-endian).
std::string SqlTable::identityOfRaw(const std::uint8_t* raw) const {
    std::string id;
    appendIdentity(raw, id);
    return id;
}

void SqlTable::appendIdentity(const std::uint8_t* raw, std::string& out) const {
    if (keyFields_.empty()) {
        out.append(reinterpret_cast<const char*>(raw + rowIdOffset_ + 1), 8);
        return;
    }
    for (int k : keyFields_)
        const_cast<SqlTable*>(this)->appendSortKey(k, raw, false, out);
}

// Row ids as the servers write them: a number (SQLite) or "(block,item)" (PostgreSQL).
std::string SqlTable::rowIdFromText(const std::string& text) const {
    std::string id;
    if (!text.empty() && text.front() == '(') {
        unsigned long block = 0, item = 0;
        std::sscanf(text.c_str(), "(%lu,%lu)", &block, &item);
        appendBigEndian(id, (static_cast<std::uint64_t>(block) << 16) | item, 8);
    } else {
        appendBigEndian(id, static_cast<std::uint64_t>(std::strtoll(text.c_str(), nullptr, 10)), 8);
    }
    return id;
}

// The parameters that find a row of an identity, in the order of whereIdentity().
std::vector<SqlValue> SqlTable::keyParams(std::string_view identity) const {
    std::vector<SqlValue> params;
    if (keyFields_.empty()) {
        const std::uint64_t v = readBigEndian(identity, 0, 8);
        if (db_->rowIdColumn() == "rowid")
            params.push_back(SqlValue::integer(static_cast<std::int64_t>(v)));
        else
            params.push_back(SqlValue::of("(" + std::to_string(v >> 16) + "," +
                                          std::to_string(v & 0xFFFF) + ")"));
        return params;
    }
    std::size_t at = 0;
    for (int k : keyFields_) {
        const Slot& s = slots_[static_cast<std::size_t>(k)];
        const bool present = identity[at] != 0;
        ++at;
        SqlValue v;
        switch (s.type) {
        case FieldType::ftString: {
            const std::size_t n = s.width - 1;
            std::string_view text = identity.substr(at, n);
            text = text.substr(0, text.find('\0'));
            if (present) v = SqlValue::of(toServer_.convert(text));
            at += n;
            break;
        }
        case FieldType::ftDate:
        case FieldType::ftTime: {
            const auto u = static_cast<std::uint32_t>(readBigEndian(identity, at, 4)) ^ 0x80000000u;
            const auto n = static_cast<std::int32_t>(u);
            if (present) v = SqlValue::of(s.type == FieldType::ftDate ? isoDate(n) : isoTime(n));
            at += 4;
            break;
        }
        case FieldType::ftBoolean:
            if (present) v = SqlValue::of(identity[at] ? "1" : "0");
            at += 1;
            break;
        case FieldType::ftFloat:
        case FieldType::ftCurrency:
        case FieldType::ftBCD:
        case FieldType::ftDateTime: {
            const double d = doubleFromOrdered(readBigEndian(identity, at, 8));
            char b[40];
            std::snprintf(b, sizeof b, "%.17g", d);
            if (present) v = SqlValue::of(b);
            at += 8;
            break;
        }
        default: {
            const auto n =
                static_cast<std::int64_t>(readBigEndian(identity, at, 8) ^ 0x8000000000000000ull);
            if (present) v = SqlValue::integer(n);
            at += 8;
            break;
        }
        }
        params.push_back(std::move(v));
    }
    return params;
}

// "record id = 12 of table kunden", for messages about a change the server refused.
std::string SqlTable::recordName(std::string_view identity) const {
    const auto params = keyParams(identity);
    std::string key;
    for (std::size_t i = 0; i < params.size(); ++i)
        key += (i ? ", " : "") +
               (keyFields_.empty() ? db_->rowIdColumn()
                                   : slots_[static_cast<std::size_t>(keyFields_[i])].column) +
               " = " + (params[i].isNull ? std::string("null") : params[i].asText());
    return "record " + key + " of table " + table_;
}

std::string SqlTable::whereIdentity() const {
    if (keyFields_.empty()) return db_->rowIdColumn() + " = " + db_->rowIdParameter();
    std::string w;
    for (int k : keyFields_)
        w += (w.empty() ? "" : " AND ") + db_->quote(slots_[static_cast<std::size_t>(k)].column) +
             " = ?";
    return w;
}

std::string SqlTable::selectList() const {
    std::string list;
    for (const auto& s : slots_)
        list += (list.empty() ? "" : ", ") + s.select;
    if (keyFields_.empty()) list += ", " + db_->rowIdColumn();
    return list;
}

// ------------------------------------------------------------------------------- rows

void SqlTable::forgetRows() {
    rows_.clear();
    for (auto& w : windows_)
        w = {};
}

void SqlTable::keepRow(std::size_t slot, std::vector<std::uint8_t> raw, Blobs blobs) {
    if (rows_.size() > kRowsKept) rows_.clear();
    // A fetched copy of the row would be older: it is overwritten. A row a window holds
    // needs no copy of its own; the window comes first when the row is read.
    bool held = false;
    for (auto& w : windows_) {
        const auto it = std::lower_bound(w.slots.begin(), w.slots.end(), slot);
        if (it != w.slots.end() && *it == slot) {
            const auto i = static_cast<std::size_t>(it - w.slots.begin());
            std::memcpy(&w.raws[i * recordSize_], raw.data(), recordSize_);
            if (hasBlobs_) w.blobs[i] = blobs;
            held = true;
        }
    }
    if (held && !hasBlobs_) {
        rows_.erase(slot);
        return;
    }
    rows_[slot] = {std::move(raw), std::move(blobs)};
}

// Fetches the rows of a batch of live slots from the one given on. A key the server orders
// as this driver does is fetched by one range in that order; any other by the identities.
void SqlTable::fetchAround(std::size_t slot) {
    const std::size_t limit = rangeFetch_ ? 2048 : kBatch;
    std::vector<std::size_t> wanted;
    for (std::optional<std::size_t> s = slot; s && wanted.size() < limit; s = keys_.nextLive(*s))
        if (!keys_.isDead(*s)) wanted.push_back(*s);
    if (wanted.empty()) return;
    Window& w = windows_[newest_ ^= 1];
    w.slots = wanted;
    w.raws.assign(wanted.size() * recordSize_, 0);
    w.blobs.assign(hasBlobs_ ? wanted.size() : 0, Blobs(slots_.size()));
    std::vector<bool> filled(wanted.size(), false);
    const std::string keyColumn =
        keyFields_.empty() ? db_->rowIdColumn()
                           : db_->quote(slots_[static_cast<std::size_t>(keyFields_[0])].column);

    SqlStatement* st = nullptr;
    std::vector<SqlValue> params;
    if (rangeFetch_) {
        auto& range = fetchByCount_[-1];
        if (!range)
            range = db_->prepareBatch("SELECT " + selectList() + " FROM " + db_->quote(table_) +
                                      " WHERE " + keyColumn + " >= ? AND " + keyColumn +
                                      " <= ? ORDER BY " + keyColumn);
        st = range.get();
        params = keyParams(keys_.key(wanted.front()));
        for (auto& p : keyParams(keys_.key(wanted.back())))
            params.push_back(std::move(p));
    } else {
        auto& byIds = fetchByCount_[static_cast<int>(wanted.size())];
        if (!byIds) {
            std::string where;
            const std::size_t n = wanted.size();
            if (keyFields_.size() <= 1) {
                const std::string p = keyFields_.empty() ? db_->rowIdParameter() : "?";
                where = keyColumn + " IN (";
                for (std::size_t i = 0; i < n; ++i)
                    where += (i ? ", " : "") + p;
                where += ")";
            } else {
                std::string columns = "(";
                for (std::size_t i = 0; i < keyFields_.size(); ++i)
                    columns += (i ? ", " : "") +
                               db_->quote(slots_[static_cast<std::size_t>(keyFields_[i])].column);
                columns += ")";
                where = db_->rowsIn(columns, keyFields_.size(), n);
            }
            byIds = db_->prepareBatch("SELECT " + selectList() + " FROM " + db_->quote(table_) +
                                      " WHERE " + where);
        }
        st = byIds.get();
        for (std::size_t sl : wanted)
            for (auto& p : keyParams(keys_.key(sl)))
                params.push_back(std::move(p));
    }
    st->execute(params);

    std::vector<std::uint8_t> row(recordSize_);
    Blobs rowBlobs(slots_.size());
    std::size_t next = 0; // in a range, rows come in the order of the wanted slots
    while (st->next()) {
        readRow(*st, row.data(), hasBlobs_ ? &rowBlobs : nullptr);
        const std::string id = identityOfRaw(row.data());
        std::size_t at = wanted.size();
        if (rangeFetch_) {
            // A row the snapshot does not know (another session's) is passed over.
            while (next < wanted.size() && keys_.key(wanted[next]) < id)
                ++next;
            if (next < wanted.size() && keys_.key(wanted[next]) == id) at = next++;
        } else {
            const auto it = std::lower_bound(
                wanted.begin(), wanted.end(), id,
                [&](std::size_t sl, const std::string& k) { return keys_.key(sl) < k; });
            if (it != wanted.end() && keys_.key(*it) == id)
                at = static_cast<std::size_t>(it - wanted.begin());
            if (!keys_.sorted()) {
                at = wanted.size();
                for (std::size_t i = 0; i < wanted.size(); ++i)
                    if (keys_.key(wanted[i]) == id) at = i;
            }
        }
        if (at == wanted.size()) continue;
        // A blob field of a fetched row points at its slot: its value stays with the row.
        for (std::size_t f = 0; f < slots_.size(); ++f)
            if (isBlobType(slots_[f].type) && row[slots_[f].offset])
                putU64(&row[slots_[f].offset + 1], wanted[at]);
        std::memcpy(&w.raws[at * recordSize_], row.data(), recordSize_);
        if (hasBlobs_) w.blobs[at] = rowBlobs;
        filled[at] = true;
    }
    // Slots whose rows did not come (deleted by another session) are not kept.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (!filled[i]) continue;
        if (kept != i) {
            w.slots[kept] = w.slots[i];
            std::memmove(&w.raws[kept * recordSize_], &w.raws[i * recordSize_], recordSize_);
            if (hasBlobs_) w.blobs[kept] = std::move(w.blobs[i]);
        }
        ++kept;
    }
    w.slots.resize(kept);
    w.raws.resize(kept * recordSize_);
    if (hasBlobs_) w.blobs.resize(kept);
}

void SqlTable::readRow(const SqlStatement& st, std::uint8_t* raw, Blobs* blobs) const {
    std::memset(raw, 0, recordSize_);
    for (std::size_t f = 0; f < slots_.size(); ++f)
        storeColumn(static_cast<int>(f), st, static_cast<int>(f), raw, blobs);
    if (keyFields_.empty()) storeRowId(st, static_cast<int>(slots_.size()), raw);
}

// Rows a walk learns in one statement: 2048; from a server, where each statement is a
// round trip, as many as fit in 2 MB of images. (SQLite reads the file itself: larger
// batches only push the pages the walk is about to change out of its cache.)
std::size_t SqlTable::walkBatch() const {
    if (hasBlobs_ || !db_->remote()) return 2048;
    return std::clamp<std::size_t>((std::size_t{2} << 20) / std::max<std::size_t>(recordSize_, 1),
                                   2048, 16384);
}

bool SqlTable::fetchMore() {
    if (keysComplete_) return false;
    const std::size_t limit = walkBatch();
    const bool after = keys_.slots() > 0;
    const std::string keyColumn =
        keyFields_.empty() ? db_->rowIdColumn()
                           : db_->quote(slots_[static_cast<std::size_t>(keyFields_[0])].column);
    auto& st = fetchByCount_[after ? -2 : -3];
    if (!st)
        st = db_->prepareBatch("SELECT " + selectList() + " FROM " + db_->quote(table_) +
                               (after ? " WHERE " + keyColumn + " > ?" : std::string()) +
                               " ORDER BY " + keyColumn + " LIMIT " + std::to_string(limit));
    st->execute(after ? keyParams(keys_.key(keys_.slots() - 1)) : std::vector<SqlValue>{});
    if (!after && serverCount_) keys_.reserve(static_cast<std::size_t>(*serverCount_));
    // The window's buffers are kept from batch to batch; rows are read straight into them.
    Window& w = windows_[newest_ ^= 1];
    w.slots.clear();
    w.blobs.clear();
    w.raws.resize(limit * recordSize_);
    Blobs rowBlobs(slots_.size());
    std::string ids;
    ids.reserve(limit * keys_.width());
    std::size_t slot = keys_.slots();
    while (st->next()) {
        if (w.slots.size() == limit) w.raws.resize(w.raws.size() + recordSize_);
        std::uint8_t* row = &w.raws[w.slots.size() * recordSize_];
        readRow(*st, row, hasBlobs_ ? &rowBlobs : nullptr);
        appendIdentity(row, ids);
        for (std::size_t f = 0; f < slots_.size(); ++f)
            if (isBlobType(slots_[f].type) && row[slots_[f].offset])
                putU64(&row[slots_[f].offset + 1], slot);
        w.slots.push_back(slot++);
        if (hasBlobs_) w.blobs.push_back(rowBlobs);
    }
    w.raws.resize(w.slots.size() * recordSize_);
    try {
        keys_.append(ids);
    } catch (const EngineError&) {
        w = {};
        fail("its rows do not come in the order of their key");
    }
    if (w.slots.size() < limit) {
        keysComplete_ = true;
        serverCount_.reset();
    }
    return !w.slots.empty();
}

std::optional<std::size_t> SqlTable::liveFrom(std::size_t slot) {
    for (;;) {
        if (slot < keys_.slots()) {
            if (!keys_.isDead(slot)) return slot;
            if (const auto n = keys_.nextLive(slot)) return n;
        }
        const std::size_t known = keys_.slots();
        if (!fetchMore()) return std::nullopt;
        slot = std::max(slot, known);
    }
}

// A posted row is copied into the window that holds it, so the windows come first.
const std::uint8_t* SqlTable::cachedRaw(std::size_t slot) {
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < 2; ++k) {
            const Window& w = windows_[newest_ ^ k];
            // A batch of a walk holds consecutive slots: the slot's place is its distance
            // from the first.
            if (!w.slots.empty() && slot >= w.slots.front() &&
                slot - w.slots.front() < w.slots.size() && w.slots[slot - w.slots.front()] == slot)
                return &w.raws[(slot - w.slots.front()) * recordSize_];
            const auto it = std::lower_bound(w.slots.begin(), w.slots.end(), slot);
            if (it != w.slots.end() && *it == slot)
                return &w.raws[static_cast<std::size_t>(it - w.slots.begin()) * recordSize_];
        }
        if (pass == 0) {
            if (auto it = rows_.find(slot); it != rows_.end()) return it->second.first.data();
            fetchAround(slot);
        }
    }
    throw EngineError(ErrorKind::Database,
                      "A record of table " + table_ +
                          " was deleted by another program; open the table again");
}

const SqlTable::Blobs* SqlTable::cachedBlobs(std::size_t slot) const {
    if (auto it = rows_.find(slot); it != rows_.end()) return &it->second.second;
    if (!hasBlobs_) return nullptr;
    for (int k = 0; k < 2; ++k) {
        const Window& w = windows_[newest_ ^ k];
        const auto it = std::lower_bound(w.slots.begin(), w.slots.end(), slot);
        if (it != w.slots.end() && *it == slot)
            return &w.blobs[static_cast<std::size_t>(it - w.slots.begin())];
    }
    return nullptr;
}

// --------------------------------------------------------------------------- positions

std::int64_t SqlTable::recordCount() {
    startKeys();
    if (keysComplete_) return keys_.live();
    if (!serverCount_) {
        auto st = db_->prepare("SELECT COUNT(*) FROM " + db_->quote(table_));
        st->execute({});
        std::int64_t n = 0;
        if (!st->next() || !st->integer(0, n)) fail("it did not say how many rows it has");
        while (st->next()) {
        }
        serverCount_ = n;
        keys_.reserve(static_cast<std::size_t>(n)); // a walk learns them all in the end
    }
    return *serverCount_;
}

bool SqlTable::first(RecordPos& pos) {
    startKeys();
    const auto s = liveFrom(0);
    if (s) pos = *s;
    return s.has_value();
}

bool SqlTable::last(RecordPos& pos) {
    ensureKeys();
    const auto s = keys_.lastLive();
    if (s) pos = *s;
    return s.has_value();
}

bool SqlTable::next(RecordPos& pos) {
    startKeys();
    const auto s = liveFrom(static_cast<std::size_t>(pos) + 1);
    if (s) pos = *s;
    return s.has_value();
}

// The known identities are the first ones: positions and ordinals among them hold.
bool SqlTable::prior(RecordPos& pos) {
    startKeys();
    const auto s = keys_.priorLive(static_cast<std::size_t>(pos));
    if (s) pos = *s;
    return s.has_value();
}

std::int64_t SqlTable::ordinal(RecordPos pos) {
    startKeys();
    return keys_.ordinalOf(static_cast<std::size_t>(pos));
}

bool SqlTable::at(std::int64_t ord, RecordPos& pos) {
    startKeys();
    if (ord < 0) return false;
    while (ord >= keys_.live() && fetchMore()) {
    }
    if (ord >= keys_.live()) return false;
    pos = keys_.slotOf(ord);
    return true;
}

void SqlTable::read(RecordPos pos, std::uint8_t* raw) {
    startKeys();
    const auto slot = static_cast<std::size_t>(pos);
    if (slot >= keys_.slots() || keys_.isDead(slot))
        throw EngineError(ErrorKind::General, "Record position no longer valid in table " + table_);
    std::memcpy(raw, cachedRaw(slot), recordSize_);
}

std::string SqlTable::identity(RecordPos pos, const std::uint8_t* raw) {
    (void)pos;
    return identityOfRaw(raw);
}

bool SqlTable::locate(std::string_view identity, RecordPos& pos) {
    startKeys();
    // Known identities are the first ones in order: rows are learnt up to this one.
    while (!keysComplete_ && (keys_.slots() == 0 || keys_.key(keys_.slots() - 1) < identity) &&
           fetchMore()) {
    }
    const auto s = keys_.find(identity);
    if (s) pos = *s;
    return s.has_value();
}

// The first slot whose leading key fields compare >= (after: >) those of raw.
bool SqlTable::seek(const std::uint8_t* raw, int nFields, bool after, RecordPos& pos) {
    if (keyFields_.empty()) return false;
    ensureKeys();
    std::string prefix;
    for (int i = 0; i < nFields && i < static_cast<int>(keyFields_.size()); ++i)
        appendSortKey(keyFields_[static_cast<std::size_t>(i)], raw, false, prefix);
    std::size_t lo = 0, hi = keys_.slots();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        const std::string_view k = keys_.key(mid).substr(0, prefix.size());
        if (after ? k <= prefix : k < prefix)
            lo = mid + 1;
        else
            hi = mid;
    }
    for (std::size_t s = lo; s < keys_.slots(); ++s)
        if (!keys_.isDead(s)) {
            pos = s;
            return true;
        }
    return false;
}

// ------------------------------------------------------------------------------ codec

// A column of the current row, into the field's place in the image: numbers are read as
// numbers where the server keeps them so, texts converted once from UTF-8.
void SqlTable::storeColumn(int field, const SqlStatement& st, int column, std::uint8_t* raw,
                           Blobs* blobs) const {
    const Slot& s = slots_[static_cast<std::size_t>(field)];
    std::uint8_t* p = raw + s.offset;
    std::memset(p, 0, s.width);
    // Texts and numbers, the columns of nearly every row, are read with one call each.
    switch (s.type) {
    case FieldType::ftString:
    case FieldType::ftSmallint:
    case FieldType::ftInteger:
    case FieldType::ftLargeint:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
        storeCell(s, st.cell(column), st, column, p);
        return;
    default:
        break;
    }
    if (st.isNull(column)) return;
    p[0] = 1;
    bool ok = true;
    switch (s.type) {
    case FieldType::ftBCD: {
        const std::string_view t = st.text(column);
        std::memcpy(p + 1, t.data(), std::min(t.size(), kBcdWidth));
        break;
    }
    case FieldType::ftBoolean: {
        const std::string_view t = st.text(column);
        p[1] = (t == "1" || t == "t" || t == "true" || t == "TRUE" || t == "T") ? 1 : 0;
        break;
    }
    case FieldType::ftDate: {
        std::int64_t day = 0;
        ok = parseDate(st.text(column), day);
        putU32(p + 1, static_cast<std::uint32_t>(day));
        break;
    }
    case FieldType::ftTime: {
        std::int64_t ms = 0;
        ok = parseTime(st.text(column), ms);
        putU32(p + 1, static_cast<std::uint32_t>(ms));
        break;
    }
    case FieldType::ftDateTime: {
        const std::string_view t = st.text(column);
        std::int64_t day = 0, ms = 0;
        ok = parseDate(t, day) && (t.size() <= 11 || parseTime(t.substr(11), ms));
        putDouble(p + 1, static_cast<double>(day) * kMsPerDay + static_cast<double>(ms));
        break;
    }
    default: { // blobs: the value stays beside the image
        if (!blobs) break;
        const SqlValue v = st.column(column);
        std::string value = v.text;
        if (v.binary || s.type == FieldType::ftBlob) {
            // PostgreSQL writes bytea as "\x" and hex digits.
            if (!v.binary && value.rfind("\\x", 0) == 0) {
                std::string bytes;
                for (std::size_t i = 2; i + 1 < value.size(); i += 2)
                    bytes += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
                value = std::move(bytes);
            }
        } else {
            value = toProgram_.convert(value);
        }
        (*blobs)[static_cast<std::size_t>(field)] = std::move(value);
        break;
    }
    }
    if (!ok) p[0] = kUnreadable; // decode() says so
}

// A text or number column into its place p (zeroed), as storeColumn reads it: numbers of
// integer fields may come as whole reals or as text.
void SqlTable::storeCell(const Slot& s, const SqlCell& c, const SqlStatement& st, int column,
                         std::uint8_t* p) const {
    using Kind = SqlCell::Kind;
    if (c.kind == Kind::Null) return;
    p[0] = 1;
    bool ok = true;
    switch (s.type) {
    case FieldType::ftString: {
        // A number in a text column comes as the server writes it.
        const std::string_view t = c.kind == Kind::Text ? c.text : st.text(column);
        const bool ascii = std::all_of(
            t.begin(), t.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
        std::string converted;
        const std::string_view text = ascii ? t : (converted = toProgram_.convert(t));
        // A longer text (SQLite keeps what it is given, whatever the declared length): a key
        // or index value cut to the field would find another row, so it is unreadable.
        if (text.size() > s.width - 1 && s.indexed) {
            p[0] = kTooLong;
            return;
        }
        std::memcpy(p + 1, text.data(), std::min(text.size(), s.width - 1));
        break;
    }
    case FieldType::ftFloat:
    case FieldType::ftCurrency: {
        double d = 0;
        if (c.kind == Kind::Integer)
            d = static_cast<double>(c.integer);
        else if (c.kind == Kind::Real)
            d = c.real;
        else
            ok = parseReal(c.text, d);
        putDouble(p + 1, d);
        break;
    }
    default: { // the integer types; a whole number written as a real ("12.0") is one too
        std::int64_t n = 0;
        if (c.kind == Kind::Integer) {
            n = c.integer;
        } else if (c.kind == Kind::Real) {
            n = static_cast<std::int64_t>(c.real);
            ok = static_cast<double>(n) == c.real;
            if (!ok && std::floor(c.real) == c.real) {
                n = static_cast<std::int64_t>(c.real);
                ok = true;
            }
        } else {
            ok = parseInteger(c.text, n);
            double d = 0;
            if (!ok && parseReal(c.text, d) && std::floor(d) == d) {
                n = static_cast<std::int64_t>(d);
                ok = true;
            }
        }
        putU64(p + 1, static_cast<std::uint64_t>(n));
        break;
    }
    }
    if (!ok) p[0] = kUnreadable; // decode() says so
}

void SqlTable::storeRowId(const SqlStatement& st, int column, std::uint8_t* raw) const {
    raw[rowIdOffset_] = 1;
    const std::string id = rowIdFromText(std::string(st.text(column)));
    std::memcpy(&raw[rowIdOffset_ + 1], id.data(), 8);
}

Value SqlTable::decodeSlot(int field, const std::uint8_t* raw) const {
    const Slot& s = slots_[static_cast<std::size_t>(field)];
    const std::uint8_t* p = raw + s.offset;
    if (p[0] == 0) return {};
    if (p[0] == kUnreadable)
        throw EngineError(ErrorKind::BadValue, "Column " + s.column + " of table " + table_ +
                                                   " holds a value that is not a " +
                                                   std::string(fieldTypeName(s.type)));
    if (p[0] == kTooLong)
        throw EngineError(ErrorKind::BadValue, "Column " + s.column + " of table " + table_ +
                                                   " holds a value longer than " +
                                                   std::to_string(s.width - 1) + " characters");
    switch (s.type) {
    case FieldType::ftString: {
        std::size_t n = 0;
        while (n < s.width - 1 && p[1 + n] != 0)
            ++n;
        return Value::text(std::string(reinterpret_cast<const char*>(p + 1), n));
    }
    case FieldType::ftSmallint:
    case FieldType::ftInteger:
    case FieldType::ftLargeint:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
        return Value::integer(static_cast<std::int64_t>(getU64(p + 1)));
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
        return Value::real(getDouble(p + 1));
    case FieldType::ftBCD: {
        std::size_t n = 0;
        while (n < kBcdWidth && p[1 + n] != 0)
            ++n;
        Value v = Value::real(
            std::strtod(std::string(reinterpret_cast<const char*>(p + 1), n).c_str(), nullptr));
        v.s.assign(reinterpret_cast<const char*>(p + 1), n);
        return v;
    }
    case FieldType::ftBoolean:
        return Value::boolean(p[1] != 0);
    case FieldType::ftDate:
        return Value::date(static_cast<std::int32_t>(getU32(p + 1)));
    case FieldType::ftTime:
        return Value::time(static_cast<std::int32_t>(getU32(p + 1)));
    case FieldType::ftDateTime:
        return Value::dateTime(getDouble(p + 1));
    default:
        return {};
    }
}

Value SqlTable::decode(int field, const std::uint8_t* raw) {
    const Slot& s = slots_.at(static_cast<std::size_t>(field));
    if (!isBlobType(s.type)) return decodeSlot(field, raw);
    if (raw[s.offset] == 0) return {};
    // The value came with its row; a row fetched long ago is fetched again.
    std::size_t slot = static_cast<std::size_t>(getU64(raw + s.offset + 1));
    const Blobs* blobs =
        slot < keys_.slots() && keys_.key(slot) == identityOfRaw(raw) ? cachedBlobs(slot) : nullptr;
    if (!blobs) {
        RecordPos pos;
        if (!locate(identityOfRaw(raw), pos)) return {};
        slot = static_cast<std::size_t>(pos);
        cachedRaw(slot);
        blobs = cachedBlobs(slot);
        if (!blobs) return {};
    }
    const auto& value = (*blobs)[static_cast<std::size_t>(field)];
    if (!value || value->empty()) return {};
    return isTextBlobType(s.type) ? Value::text(*value) : Value::bytes(*value);
}

void SqlTable::encode(int field, RecordImage& image, const Value& value) {
    const Slot& s = slots_.at(static_cast<std::size_t>(field));
    const FieldDef& def = fieldDefs_[static_cast<std::size_t>(field)];
    auto bad = [&](const std::string& why) {
        return EngineError(ErrorKind::BadValue,
                           why + " for field '" + def.name + "' of table " + table_);
    };
    if (isBlobType(s.type)) {
        image.blobs[static_cast<std::size_t>(field)] = value.isNull() ? std::string() : value.s;
        return;
    }
    std::uint8_t* p = image.raw.data() + s.offset;
    std::memset(p, 0, s.width);
    if (value.isNull()) return;
    p[0] = 1;
    auto needInt = [&]() -> std::int64_t {
        if (value.kind == Value::Kind::Int || value.kind == Value::Kind::Bool) return value.i;
        if (value.kind == Value::Kind::Float) return std::llround(value.f);
        throw bad("'" + value.s + "' is not a valid integer value");
    };
    auto needReal = [&]() -> double {
        if (value.kind == Value::Kind::Float || value.kind == Value::Kind::DateTime) return value.f;
        if (value.kind == Value::Kind::Int) return static_cast<double>(value.i);
        throw bad("'" + value.s + "' is not a valid floating point value");
    };
    switch (s.type) {
    case FieldType::ftString:
        if (value.kind != Value::Kind::Text && value.kind != Value::Kind::Bytes)
            throw bad("A text value is needed");
        std::memcpy(p + 1, value.s.data(), std::min(value.s.size(), s.width - 1));
        // An embedded NUL would end the text early: the text keeps what comes before it.
        break;
    case FieldType::ftSmallint: {
        const std::int64_t n = needInt();
        if (n < -32768 || n > 32767) throw bad("Value " + std::to_string(n) + " is out of range");
        putU64(p + 1, static_cast<std::uint64_t>(n));
        break;
    }
    case FieldType::ftInteger:
    case FieldType::ftWord:
    case FieldType::ftAutoInc: {
        const std::int64_t n = needInt();
        if (n < -2147483648LL || n > 2147483647LL)
            throw bad("Value " + std::to_string(n) + " is out of range");
        putU64(p + 1, static_cast<std::uint64_t>(n));
        break;
    }
    case FieldType::ftLargeint:
        putU64(p + 1, static_cast<std::uint64_t>(needInt()));
        break;
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
        putDouble(p + 1, needReal());
        break;
    case FieldType::ftBCD: {
        std::string text = value.s;
        if (value.kind != Value::Kind::Float || text.empty()) {
            char b[64];
            std::snprintf(b, sizeof b, "%.*f", std::max(def.size, 0), needReal());
            text = b;
        }
        if (text.size() > kBcdWidth) throw bad("'" + text + "' has too many digits");
        std::memcpy(p + 1, text.data(), text.size());
        break;
    }
    case FieldType::ftBoolean:
        if (value.kind != Value::Kind::Bool) throw bad("A logical value is needed");
        p[1] = value.i ? 1 : 0;
        break;
    case FieldType::ftDate:
        if (value.kind != Value::Kind::Date) throw bad("A date value is needed");
        putU32(p + 1, static_cast<std::uint32_t>(value.i));
        break;
    case FieldType::ftTime:
        if (value.kind != Value::Kind::Time) throw bad("A time value is needed");
        putU32(p + 1, static_cast<std::uint32_t>(value.i));
        break;
    case FieldType::ftDateTime:
        if (value.kind == Value::Kind::Date)
            putDouble(p + 1, static_cast<double>(value.i) * kMsPerDay);
        else if (value.kind == Value::Kind::DateTime)
            putDouble(p + 1, value.f);
        else
            throw bad("A date and time value is needed");
        break;
    default:
        throw bad("Unsupported field type");
    }
}

// Bytes in the field's order: a flag (null first), then the value as memcmp compares it.
void SqlTable::appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                             std::string& out) {
    const Slot& s = slots_.at(static_cast<std::size_t>(field));
    const std::uint8_t* p = raw + s.offset;
    // A value cut to its field would find another row, or none.
    if (p[0] == kTooLong)
        fail("its column " + s.column + " holds a value longer than " +
             std::to_string(s.width - 1) + " characters, too long to order or find rows by");
    const bool present = p[0] == 1;
    out += static_cast<char>(present ? 1 : 0);
    switch (s.type) {
    case FieldType::ftString:
        for (std::size_t i = 0; i < s.width - 1; ++i) {
            const unsigned char c = present ? p[1 + i] : 0;
            out += static_cast<char>(caseInsensitive ? foldCase(c) : c);
        }
        break;
    case FieldType::ftDate:
    case FieldType::ftTime:
        appendBigEndian(out, present ? (getU32(p + 1) ^ 0x80000000u) : 0, 4);
        break;
    case FieldType::ftBoolean:
        out += static_cast<char>(present ? p[1] : 0);
        break;
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
    case FieldType::ftDateTime:
        appendBigEndian(out, present ? orderedDouble(getDouble(p + 1)) : 0, 8);
        break;
    case FieldType::ftBCD:
        appendBigEndian(out, present ? orderedDouble(decodeSlot(field, raw).f) : 0, 8);
        break;
    case FieldType::ftSmallint:
    case FieldType::ftInteger:
    case FieldType::ftLargeint:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
        appendBigEndian(out, present ? (getU64(p + 1) ^ 0x8000000000000000ull) : 0, 8);
        break;
    default:
        break; // long values do not order
    }
}

void SqlTable::blankRecord(std::uint8_t* raw) {
    std::memset(raw, 0, recordSize_);
}

// A field of an image as the server takes it: ISO text for dates and times, text of UTF-8
// for strings, "\x"-hex or bytes for binary values.
SqlValue SqlTable::paramOf(int field, const std::uint8_t* raw, const Blobs* pending) const {
    const Slot& s = slots_[static_cast<std::size_t>(field)];
    if (isBlobType(s.type)) {
        const auto& v =
            pending ? (*pending)[static_cast<std::size_t>(field)] : std::optional<std::string>();
        if (!v || v->empty()) return SqlValue::null();
        if (!isTextBlobType(s.type)) return SqlValue::bytes(*v);
        return SqlValue::of(toServer_.convert(*v));
    }
    const Value v = decodeSlot(field, raw);
    switch (v.kind) {
    case Value::Kind::Null:
        return SqlValue::null();
    case Value::Kind::Text:
        return SqlValue::of(toServer_.convert(v.s));
    case Value::Kind::Int:
        return SqlValue::integer(v.i);
    case Value::Kind::Bool:
        return SqlValue::of(v.i ? "1" : "0"); // both servers read 1 and 0
    case Value::Kind::Float: {
        if (!v.s.empty()) return SqlValue::of(v.s);
        char b[40];
        std::snprintf(b, sizeof b, "%.17g", v.f);
        return SqlValue::of(b);
    }
    case Value::Kind::Date:
        return SqlValue::of(isoDate(v.i));
    case Value::Kind::Time:
        return SqlValue::of(isoTime(v.i));
    case Value::Kind::DateTime: {
        const auto total = static_cast<std::int64_t>(std::llround(v.f));
        return SqlValue::of(isoDate(total / kMsPerDay) + " " + isoTime(total % kMsPerDay));
    }
    default:
        return SqlValue::null();
    }
}

// ---------------------------------------------------------------------------- changes

SqlStatement& SqlTable::statement(const std::string& sql) {
    auto& st = statements_[sql];
    if (!st) {
        if (statements_.size() > 64) { // a walk needs few; an odd mix of columns many
            statements_.clear();
            return statement(sql);
        }
        st = db_->prepare(sql);
    }
    return *st;
}

WriteAccess SqlTable::beginWrite() {
    if (writing_) return WriteAccess::Granted;
    if (!db_->beginWrite(table_)) return WriteAccess::Busy;
    writing_ = true;
    // Rows another session committed since they were read are read again.
    if (keysLoaded_ && db_->changedByOthers()) {
        forgetKeys();
        forgetRows();
        return WriteAccess::GrantedReloaded;
    }
    return WriteAccess::Granted;
}

void SqlTable::requireWritable() const {
    if (!writing_)
        throw EngineError(ErrorKind::Database, "Table " + table_ + " is not open for writing");
}

RecordPos SqlTable::insert(RecordImage& image) {
    requireWritable();
    ensureKeys();
    // Columns without a value are left out, so that the server's defaults (and its own
    // numbering of a key) apply.
    std::string columns, marks;
    std::vector<SqlValue> params;
    bool keyGiven = !keyFields_.empty();
    for (std::size_t f = 0; f < slots_.size(); ++f) {
        SqlValue v = paramOf(static_cast<int>(f), image.raw.data(), &image.blobs);
        if (v.isNull) {
            if (std::find(keyFields_.begin(), keyFields_.end(), static_cast<int>(f)) !=
                keyFields_.end())
                keyGiven = false;
            continue;
        }
        columns += (columns.empty() ? "" : ", ") + db_->quote(slots_[f].column);
        marks += marks.empty() ? "?" : ", ?";
        params.push_back(std::move(v));
    }
    if (filling_ && keyGiven) {
        // The record keeps the key it brings: nothing to read back, and a server takes the
        // record without a wait of its own (a failure is reported at a later change).
        const std::string id = identityOfRaw(image.raw.data());
        db_->change(statement("INSERT INTO " + db_->quote(table_) + " (" + columns +
                              ") VALUES (" + marks + ")"),
                    params, id, false);
        return keepInserted(image, id);
    }
    std::string returning;
    if (keyFields_.empty()) {
        returning = db_->rowIdColumn();
    } else {
        for (int k : keyFields_)
            returning += (returning.empty() ? "" : ", ") +
                         db_->quote(slots_[static_cast<std::size_t>(k)].column);
    }
    const std::string sql = columns.empty() ? "INSERT INTO " + db_->quote(table_) +
                                                  " DEFAULT VALUES RETURNING " + returning
                                            : "INSERT INTO " + db_->quote(table_) + " (" + columns +
                                                  ") VALUES (" + marks + ") RETURNING " + returning;
    SqlStatement& st = statement(sql);
    db_->changeNow(st, params);
    if (!st.next()) fail("the new record was not returned");
    if (keyFields_.empty()) {
        storeRowId(st, 0, image.raw.data());
    } else {
        for (std::size_t i = 0; i < keyFields_.size(); ++i)
            storeColumn(keyFields_[i], st, static_cast<int>(i), image.raw.data(), nullptr);
    }
    while (st.next()) {
    }
    return keepInserted(image, identityOfRaw(image.raw.data()));
}

// A new record's place among the identities, and its image kept for reading it back.
RecordPos SqlTable::keepInserted(const RecordImage& image, const std::string& identity) {
    bool renumbered = false;
    const std::size_t slot = keys_.insert(identity, renumbered);
    if (renumbered) forgetRows();
    Blobs blobs(slots_.size());
    std::vector<std::uint8_t> raw = image.raw;
    for (std::size_t f = 0; f < slots_.size(); ++f)
        if (isBlobType(slots_[f].type)) {
            if (image.blobs[f]) blobs[f] = *image.blobs[f];
            raw[slots_[f].offset] = blobs[f] && !blobs[f]->empty() ? 1 : 0;
            putU64(&raw[slots_[f].offset + 1], slot);
        }
    keepRow(slot, std::move(raw), std::move(blobs));
    return slot;
}

// The UPDATE that sets these fields (their numbers, two bytes each) of the row of an
// identity, prepared once for the run.
SqlStatement& SqlTable::updateStatement(const std::string& fields, bool movingRowId) {
    auto& st = updates_[fields];
    if (!st) {
        if (updates_.size() > 64) { // a walk needs few; an odd mix of columns many
            updates_.clear();
            return updateStatement(fields, movingRowId);
        }
        std::string set;
        for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
            const std::size_t f =
                static_cast<unsigned char>(fields[i]) |
                static_cast<std::size_t>(static_cast<unsigned char>(fields[i + 1])) << 8;
            set += (set.empty() ? "" : ", ") + db_->quote(slots_[f].column) + " = ?";
        }
        st = db_->prepare("UPDATE " + db_->quote(table_) + " SET " + set + " WHERE " +
                          whereIdentity() + (movingRowId ? " RETURNING ctid" : ""));
    }
    return *st;
}

RecordPos SqlTable::update(RecordPos pos, RecordImage& image) {
    requireWritable();
    const auto slot = static_cast<std::size_t>(pos);
    std::vector<std::uint8_t>& old = scratch_;
    old.resize(recordSize_);
    read(pos, old.data());
    const std::string oldId = identityOfRaw(old.data());
    std::string fields; // the changed fields' numbers, two bytes each
    std::vector<SqlValue> params;
    for (std::size_t f = 0; f < slots_.size(); ++f) {
        const Slot& s = slots_[f];
        const bool changed = isBlobType(s.type)
                                 ? image.blobs[f].has_value()
                                 : std::memcmp(&old[s.offset], &image.raw[s.offset], s.width) != 0;
        if (!changed) continue;
        fields += static_cast<char>(f & 0xFF);
        fields += static_cast<char>(f >> 8);
        params.push_back(paramOf(static_cast<int>(f), image.raw.data(), &image.blobs));
    }
    if (fields.empty()) return pos;
    for (auto& p : keyParams(oldId))
        params.push_back(std::move(p));
    const bool movingRowId = keyFields_.empty() && db_->rowIdColumn() == "ctid";
    // A new key may belong past the rows known so far: they are all learnt first, before
    // the server has the row under its new key.
    if (!keyFields_.empty() && identityOfRaw(image.raw.data()) != oldId) ensureKeys();
    SqlStatement& st = updateStatement(fields, movingRowId);
    std::string newId = keyFields_.empty() ? oldId : identityOfRaw(image.raw.data());
    // A change that keeps the key needs no answer and may go ahead of the server's; a new
    // key is checked at once.
    if (movingRowId || newId != oldId)
        db_->changeNow(st, params);
    else
        db_->change(st, params, oldId, true);
    if (movingRowId) {
        if (!st.next())
            throw EngineError(ErrorKind::Database,
                              "A record of table " + table_ + " was deleted by another program");
        newId = rowIdFromText(st.column(0).text);
        std::memcpy(&image.raw[rowIdOffset_ + 1], newId.data(), 8);
        while (st.next()) {
        }
    } else if (newId != oldId && st.changes() == 0) {
        throw EngineError(ErrorKind::Database,
                          "A record of table " + table_ + " was deleted by another program");
    }
    // The row as it stands now, its long values merged with those it had.
    Blobs blobs(slots_.size());
    if (const Blobs* had = cachedBlobs(slot)) blobs = *had;
    for (std::size_t f = 0; f < slots_.size(); ++f)
        if (image.blobs[f]) blobs[f] = *image.blobs[f];
    std::size_t now = slot;
    if (newId != oldId) {
        if (movingRowId) {
            keys_.replace(slot, newId);
        } else {
            keys_.kill(slot);
            bool renumbered = false;
            now = keys_.insert(newId, renumbered);
            if (renumbered) forgetRows();
        }
    }
    std::vector<std::uint8_t> raw = image.raw;
    for (std::size_t f = 0; f < slots_.size(); ++f)
        if (isBlobType(slots_[f].type)) {
            raw[slots_[f].offset] = blobs[f] && !blobs[f]->empty() ? 1 : 0;
            putU64(&raw[slots_[f].offset + 1], now);
        }
    keepRow(now, std::move(raw), std::move(blobs));
    return now;
}

bool SqlTable::remove(RecordPos pos, RecordPos& following, bool& wasLast) {
    requireWritable();
    const auto slot = static_cast<std::size_t>(pos);
    std::vector<std::uint8_t> raw(recordSize_);
    read(pos, raw.data());
    const std::string id = identityOfRaw(raw.data());
    db_->change(statement("DELETE FROM " + db_->quote(table_) + " WHERE " + whereIdentity()),
                keyParams(id), id, false);
    keys_.kill(slot);
    if (serverCount_) --*serverCount_;
    wasLast = false;
    if (const auto n = liveFrom(slot + 1)) {
        following = *n;
        return true;
    }
    if (keys_.live() == 0) return false; // the known identities are complete here
    wasLast = true;
    following = *keys_.lastLive();
    return true;
}

// A run's changes become visible to everyone at its end, in one commit; a preview's are
// taken back.
void SqlTable::flush() {
    if (!writing_) return;
    if (preview_)
        db_->rollback();
    else
        db_->commit();
    writing_ = false;
}

bool SqlTable::refresh() {
    if (writing_ || !keysLoaded_ || !db_->changedByOthers()) return false;
    forgetKeys();
    forgetRows();
    return true;
}

void SqlTable::close() {
    if (!db_) return;
    flush();
    if (db_->inTransaction()) { // an exclusive open's structural changes
        if (preview_)
            db_->rollback();
        else
            db_->commit();
    }
    statements_.clear();
    updates_.clear();
    fetchByCount_.clear();
    db_.reset();
}

// ---------------------------------------------------------------------------- indexes

void SqlTable::dropIndex(const std::string& name) {
    if (!exclusive_)
        throw EngineError(ErrorKind::Database,
                          "Table " + table_ + " must be opened exclusively to drop an index");
    if (name.empty()) {
        if (shape_.primaryKey.empty()) fail("it has no primary index");
        db_->execute(db_->dropPrimaryKey(table_));
    } else {
        const auto it =
            std::find_if(shape_.indexes.begin(), shape_.indexes.end(), [&](const SqlIndex& ix) {
                return !ix.primary && sameName(shownIndexName(table_, ix.name), name);
            });
        if (it == shape_.indexes.end()) fail("index " + name + " does not exist");
        db_->execute("DROP INDEX " + db_->quote(it->name));
    }
    describe();
}

void SqlTable::addIndex(SqlBackend& backend, const std::string& table, const IndexDef& def) {
    const auto names = def.fieldList();
    if (names.empty())
        throw EngineError(ErrorKind::General, "Index " + def.name + " has no fields");
    if (def.isPrimary()) {
        backend.execute(backend.addPrimaryKey(table, names));
        return;
    }
    std::string columns;
    for (const auto& n : names) {
        columns += (columns.empty() ? "" : ", ");
        columns += (def.options & ixCaseInsensitive)
                       ? backend.caseInsensitiveColumn(backend.quote(n))
                       : backend.quote(n);
        if (def.options & ixDescending) columns += " DESC";
    }
    backend.execute(std::string("CREATE ") + ((def.options & ixUnique) ? "UNIQUE " : "") +
                    "INDEX " + backend.quote(serverIndexName(table, def.name)) + " ON " +
                    backend.quote(table) + " (" + columns + ")");
}

} // namespace fieldsmith::engine::sql
