#include "ParadoxTable.h"

#include "../EngineError.h"
#include "../Session.h"
#include "ParadoxCodec.h"
#include "ParadoxCrypt.h"
#include "ParadoxDriver.h"
#include "PrimaryIndex.h"
#include "SecondaryIndex.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace fieldsmith::engine::paradox {

namespace fsys = std::filesystem;

namespace {

bool isBlobCode(std::uint8_t code) {
    return code == kMemo || code == kBlob || code == kFmtMemo || code == kOle || code == kGraphic;
}

std::uint8_t upperLatin1(std::uint8_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<std::uint8_t>(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<std::uint8_t>(c - 16);
    if (c == 0xFF) return 0x9F;
    return c;
}

constexpr std::uint8_t kGraphicPrefix[4] = {0x01, 0x00, 0x00, 0x01};

// The most bytes of blocks read in one call when the chain's block headers are read.
constexpr std::uint32_t kChainWindowBytes = 256 * 1024;
// The blocks a table being filled holds before it writes them: one call per batch.
constexpr std::size_t kTailBytes = 256 * 1024;

} // namespace

// ----------------------------------------------------------------------------- opening

ParadoxTable::ParadoxTable(const OpenRequest& request)
    : exclusive_(request.exclusive), db_(File::open(request.path)) {
    if (!db_.tryLock(request.exclusive))
        throw EngineError(ErrorKind::Database,
                          "Table " + request.path.string() + " is in use by someone else");
    const std::uint64_t size = db_.size();
    std::vector<std::uint8_t> first(std::min<std::uint64_t>(size, 0x58));
    db_.readAt(0, first.data(), first.size());
    std::vector<std::uint8_t> head = first;
    if (first.size() >= 4) {
        const std::size_t headerSize = std::min<std::uint64_t>(readU16(&first[2]), size);
        head.resize(std::max<std::size_t>(headerSize, first.size()));
        db_.readAt(0, head.data(), head.size());
    }
    header_ = readDataHeader(request.path, head, size);
    if (header_.fileType != kKeyedDb && header_.fileType != kUnkeyedDb)
        damaged("file type " + std::to_string(header_.fileType) + " is not a table");
    if (header_.fileType == kUnkeyedDb && header_.numKeyFields != 0) header_.numKeyFields = 0;
    if (header_.encryptionKey != 0) {
        bool granted = false;
        if (request.session)
            for (const auto& pw : request.session->passwords())
                granted = granted || keyForPassword(pw) == header_.encryptionKey;
        if (!granted)
            throw EngineError(ErrorKind::NeedsPassword,
                              "Table " + request.path.string() + " is encrypted and needs a password");
        key_ = header_.encryptionKey;
    }
    headerSeen_ = headerOnDisk();

    const int programCp = request.session ? request.session->ansiCodePage() : 1252;
    toProgram_ = CodePageConverter(header_.codePage, programCp);
    toTable_ = CodePageConverter(programCp, header_.codePage);
    if (request.session) {
        toProgram_.setLossCounter(&request.session->conversionLosses());
        toTable_.setLossCounter(&request.session->conversionLosses());
    }
    for (const auto& f : header_.fields) {
        FieldDef def;
        def.name = toProgram_.convert(f.name);
        def.type = fieldTypeForCode(f.code);
        switch (f.code) {
        case kAlpha: case kBytes: def.size = f.size; break;
        case kMemo: case kBlob: case kFmtMemo: case kOle: case kGraphic: def.size = f.size - 10; break;
        case kBcd: def.size = f.size; break;
        default: def.size = 0;
        }
        fieldDefs_.push_back(def);
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(header_.numKeyFields); ++i)
        fieldDefs_[i].required = true;
    fieldChanged_.assign(fieldDefs_.size(), false);
    // Code page and field types with their widths decide the stored bytes; a blob field's
    // bytes point into this table's own .MB.
    layout_ = "paradox " + std::to_string(header_.codePage);
    for (const auto& f : header_.fields) {
        if (isBlobCode(f.code)) {
            layout_.clear();
            break;
        }
        layout_ += ' ' + std::to_string(f.code) + ':' + std::to_string(f.width);
    }

    readChain();

    bool hasBlobs = false;
    for (const auto& f : header_.fields) hasBlobs = hasBlobs || isBlobCode(f.code);
    if (hasBlobs) {
        const auto mb = findCompanion(request.path, ".MB");
        if (mb) blobs_ = std::make_unique<BlobFile>(*mb, key_);
    }
}

ParadoxTable::~ParadoxTable() {
    try {
        close();
    } catch (...) {
    }
}

void ParadoxTable::damaged(const std::string& what) const {
    throw EngineError(ErrorKind::Damaged, "Table file " + db_.path().string() + " is damaged: " + what);
}

std::uint16_t ParadoxTable::Block::next() const { return readU16(&bytes[0]); }
std::uint16_t ParadoxTable::Block::prev() const { return readU16(&bytes[2]); }
int ParadoxTable::Block::count(int recordSize) const {
    const auto last = static_cast<std::int16_t>(readU16(&bytes[4]));
    return last < 0 ? 0 : last / recordSize + 1;
}

// Walks the chain of data blocks once, keeping each block's number and record count.
void ParadoxTable::readChain() {
    writeTail();
    const std::uint64_t blockSize = static_cast<std::uint64_t>(header_.blockSize);
    // The blocks the file holds now; measured again when the chain leads past them, as it
    // does when another program appends to the table while this open reads it.
    auto measure = [&] {
        const std::uint64_t size = db_.size();
        const std::uint64_t physical =
            size > static_cast<std::uint64_t>(header_.headerSize)
                ? (size - static_cast<std::uint64_t>(header_.headerSize) + blockSize - 1) / blockSize
                : 0;
        fileBlocks_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(physical, 0xFFFF));
        chainIndex_.resize(fileBlocks_ + 1, -1);
    };
    chainIndex_.clear();
    measure();
    chain_.clear();
    counts_.clear();
    total_ = 0;
    const int capacity = (header_.blockSize - 6) / header_.recordSize;
    std::uint16_t b = readU16(&header_.bytes[hdr::kFirstBlock]);
    firstFree_ = readU16(&header_.bytes[hdr::kFirstFree]);
    // Block headers are read a window of blocks at a time, which takes one call for many
    // blocks of a chain that runs through the file in order, as chains mostly do. The window
    // shrinks while the chain jumps about and grows again while it goes in order.
    const std::uint32_t maxSpan =
        std::max<std::uint32_t>(1, kChainWindowBytes / static_cast<std::uint32_t>(blockSize));
    std::vector<std::uint8_t> window;
    std::uint32_t windowFirst = 0, windowBlocks = 0, used = 0, span = 1;
    auto headerOf = [&](std::uint16_t block, std::uint8_t* bh) {
        if (block < windowFirst || block >= windowFirst + windowBlocks) {
            if (windowBlocks > 0)
                span = used * 2 >= windowBlocks ? std::min(span * 2, maxSpan) : std::max(span / 2, 1u);
            windowFirst = block;
            windowBlocks = std::min<std::uint32_t>(span, fileBlocks_ - block + 1);
            used = 0;
            window.resize(static_cast<std::size_t>(windowBlocks) * blockSize);
            db_.readAt(static_cast<std::uint64_t>(header_.headerSize) + (block - 1) * blockSize,
                       window.data(), window.size());
        }
        ++used;
        std::memcpy(bh, &window[static_cast<std::size_t>(block - windowFirst) * blockSize], 6);
    };
    std::uint8_t bh[6];
    while (b != 0) {
        if (b > fileBlocks_) measure();
        if (b > fileBlocks_) damaged("block " + std::to_string(b) + " lies past the end of the file");
        if (chainIndex_[b] >= 0) damaged("the block chain runs in a circle at block " + std::to_string(b));
        if (key_ != 0) {
            readBlockInto(b, cache_.bytes);
            std::memcpy(bh, cache_.bytes.data(), 6);
        } else {
            headerOf(b, bh);
        }
        int count = 0;
        const auto last = static_cast<std::int16_t>(readU16(&bh[4]));
        if (last >= 0) {
            if (last % header_.recordSize != 0) damaged("block " + std::to_string(b) + " has a broken record count");
            count = last / header_.recordSize + 1;
            if (count > capacity)
                damaged("block " + std::to_string(b) + " claims " + std::to_string(count) +
                        " records, more than it can hold");
        }
        // An encrypted header would need the key; the check above then fails as damage.
        chainIndex_[b] = static_cast<std::int32_t>(chain_.size());
        chain_.push_back(b);
        counts_.push_back(static_cast<std::uint16_t>(count));
        total_ += count;
        b = readU16(&bh[0]);
    }
    prefixDirty_ = true;
    cache_.number = 0;
}

void ParadoxTable::rebuildPrefix() {
    if (!prefixDirty_) return;
    firstKeys_.assign(chain_.size(), std::string());
    prefix_.resize(chain_.size());
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < chain_.size(); ++i) {
        prefix_[i] = sum;
        sum += counts_[i];
    }
    prefixDirty_ = false;
}

std::uint64_t ParadoxTable::blockOffset(std::uint16_t number) const {
    return static_cast<std::uint64_t>(header_.headerSize) +
           static_cast<std::uint64_t>(number - 1) * static_cast<std::uint64_t>(header_.blockSize);
}

void ParadoxTable::readBlockInto(std::uint16_t number, std::vector<std::uint8_t>& buf) {
    const auto bs = static_cast<std::size_t>(header_.blockSize);
    buf.resize(bs);
    if (tailHolds(number)) {
        std::memcpy(buf.data(), &tail_.bytes[(number - tail_.first) * bs], bs);
        return;
    }
    db_.readAt(blockOffset(number), buf.data(), buf.size());
    if (key_ != 0) decryptBlock(buf.data(), buf.size(), key_, number);
}

// Writes part of a block from its clear image: the bytes themselves, or the whole block
// encrypted when the table has a password.
void ParadoxTable::commitRange(std::uint16_t number, const std::vector<std::uint8_t>& clear,
                               std::size_t from, std::size_t len, bool scattered) {
    if (tailHolds(number)) {
        // An encrypted block is always written whole, and so is taken whole.
        if (key_ != 0) {
            from = 0;
            len = clear.size();
        }
        const auto at = (number - tail_.first) * static_cast<std::size_t>(header_.blockSize);
        std::memcpy(&tail_.bytes[at + from], clear.data() + from, len);
        return;
    }
    // A block in the file may link to held ones: they are written first.
    writeTail();
    auto write = [&](std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
        if (scattered) db_.patchAt(offset, bytes, n);
        else db_.writeAt(offset, bytes, n);
    };
    if (key_ == 0) {
        write(blockOffset(number) + from, clear.data() + from, len);
        return;
    }
    std::vector<std::uint8_t> enc = clear;
    encryptBlock(enc.data(), enc.size(), key_, number);
    write(blockOffset(number), enc.data(), enc.size());
}

const ParadoxTable::Block& ParadoxTable::loadBlock(std::uint16_t number) {
    if (cache_.number != number) {
        readBlockInto(number, cache_.bytes);
        cache_.number = number;
    }
    return cache_;
}

void ParadoxTable::writeBlock(std::uint16_t number, std::vector<std::uint8_t>& bytes) {
    commitRange(number, bytes, 0, bytes.size());
    if (cache_.number == number && &bytes != &cache_.bytes) cache_.bytes = bytes;
}

// ---------------------------------------------------------------------------- positions

RecordPos ParadoxTable::posOf(std::size_t chainIdx, int slot) const {
    return (static_cast<RecordPos>(chain_[chainIdx]) << 32) | static_cast<std::uint32_t>(slot);
}

void ParadoxTable::splitPos(RecordPos pos, std::size_t& chainIdx, int& slot) const {
    const auto block = static_cast<std::size_t>(pos >> 32);
    slot = static_cast<int>(pos & 0xFFFFFFFFu);
    if (block == 0 || block >= chainIndex_.size() || chainIndex_[block] < 0)
        throw EngineError(ErrorKind::General, "Record position no longer valid in " + db_.path().string());
    chainIdx = static_cast<std::size_t>(chainIndex_[block]);
    if (slot < 0 || slot >= counts_[chainIdx])
        throw EngineError(ErrorKind::General, "Record position no longer valid in " + db_.path().string());
}

bool ParadoxTable::first(RecordPos& pos) {
    for (std::size_t i = 0; i < chain_.size(); ++i)
        if (counts_[i] > 0) {
            pos = posOf(i, 0);
            return true;
        }
    return false;
}

bool ParadoxTable::last(RecordPos& pos) {
    for (std::size_t i = chain_.size(); i-- > 0;)
        if (counts_[i] > 0) {
            pos = posOf(i, counts_[i] - 1);
            return true;
        }
    return false;
}

bool ParadoxTable::next(RecordPos& pos) {
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    if (slot + 1 < counts_[ci]) {
        pos = posOf(ci, slot + 1);
        return true;
    }
    for (std::size_t i = ci + 1; i < chain_.size(); ++i)
        if (counts_[i] > 0) {
            pos = posOf(i, 0);
            return true;
        }
    return false;
}

bool ParadoxTable::prior(RecordPos& pos) {
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    if (slot > 0) {
        pos = posOf(ci, slot - 1);
        return true;
    }
    for (std::size_t i = ci; i-- > 0;)
        if (counts_[i] > 0) {
            pos = posOf(i, counts_[i] - 1);
            return true;
        }
    return false;
}

std::int64_t ParadoxTable::ordinal(RecordPos pos) {
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    rebuildPrefix();
    return prefix_[ci] + slot;
}

bool ParadoxTable::at(std::int64_t ord, RecordPos& pos) {
    if (ord < 0 || ord >= total_) return false;
    // The ends need no count of the records before each block.
    if (ord == 0) return first(pos);
    if (ord == total_ - 1) return last(pos);
    rebuildPrefix();
    auto it = std::upper_bound(prefix_.begin(), prefix_.end(), ord);
    std::size_t ci = static_cast<std::size_t>(it - prefix_.begin()) - 1;
    while (counts_[ci] == 0) ++ci; // empty blocks share their prefix with the next one
    pos = posOf(ci, static_cast<int>(ord - prefix_[ci]));
    return true;
}

void ParadoxTable::read(RecordPos pos, std::uint8_t* raw) {
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    const Block& b = loadBlock(chain_[ci]);
    std::memcpy(raw, &b.bytes[6 + static_cast<std::size_t>(slot) * static_cast<std::size_t>(header_.recordSize)],
                static_cast<std::size_t>(header_.recordSize));
}

// -------------------------------------------------------------------------------- codec

std::uint32_t ParadoxTable::blobLocator(int field, const std::uint8_t* raw) const {
    const FieldDesc& f = header_.fields[static_cast<std::size_t>(field)];
    const std::uint8_t* p = raw + f.offset;
    if (isAllZero(p, static_cast<std::size_t>(f.width))) return 0;
    const std::uint8_t* trailer = p + f.width - 10;
    const std::uint32_t length = readU32(trailer + 4);
    if (length <= static_cast<std::uint32_t>(f.width - 10)) return 0;
    return readU32(trailer);
}

bool ParadoxTable::decodeText(int field, const std::uint8_t* raw, std::string& out) {
    const FieldDesc& f = header_.fields.at(static_cast<std::size_t>(field));
    if (f.code != kAlpha) return false;
    const std::uint8_t* p = raw + f.offset;
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(f.width) && p[n] != 0)
        ++n;
    const std::string_view bytes(reinterpret_cast<const char*>(p), n);
    if (toProgram_.isIdentity())
        out.assign(bytes);
    else
        out = toProgram_.convert(bytes);
    return true;
}

Value ParadoxTable::decode(int field, const std::uint8_t* raw) {
    const FieldDesc& f = header_.fields.at(static_cast<std::size_t>(field));
    const std::uint8_t* p = raw + f.offset;
    const auto width = static_cast<std::size_t>(f.width);
    if (isAllZero(p, width)) return {};
    switch (f.code) {
    case kAlpha: {
        std::size_t n = 0;
        while (n < width && p[n] != 0) ++n;
        return Value::text(toProgram_.convert(std::string_view(reinterpret_cast<const char*>(p), n)));
    }
    case kDate: return Value::date(decodeInt(p, 4));
    case kShort: return Value::integer(decodeInt(p, 2));
    case kLong:
    case kAutoInc: return Value::integer(decodeInt(p, 4));
    case kCurrency:
    case kNumber: return Value::real(decodeDouble(p));
    case kLogical: return Value::boolean(p[0] != 0x80);
    case kTime: return Value::time(decodeInt(p, 4));
    case kTimestamp: return Value::dateTime(decodeDouble(p));
    case kBcd: {
        auto text = decodeBcd(p, f.size);
        if (!text) return {};
        Value v = Value::real(std::strtod(text->c_str(), nullptr));
        v.s = *text;
        return v;
    }
    case kBytes: return Value::bytes(std::string(reinterpret_cast<const char*>(p), width));
    default: break;
    }
    // Blob fields: the leader holds short values, the blob file the rest.
    const std::size_t leader = width - 10;
    const std::uint8_t* trailer = p + leader;
    const std::uint32_t length = readU32(trailer + 4);
    std::string data;
    if (length <= leader) {
        data.assign(reinterpret_cast<const char*>(p), length);
    } else {
        if (!blobs_)
            throw EngineError(ErrorKind::Damaged,
                              "Blob file of " + db_.path().string() + " is missing (field " +
                                  fieldDefs_[static_cast<std::size_t>(field)].name + ")");
        data = blobs_->read(readU32(trailer), length);
    }
    if (f.code == kGraphic && data.size() >= 8 && std::memcmp(data.data(), kGraphicPrefix, 4) == 0)
        data.erase(0, 8);
    if (data.empty()) return {};
    if (f.code == kMemo || f.code == kFmtMemo) {
        if (f.code == kMemo) return Value::text(toProgram_.convert(data));
        return Value::text(std::move(data));
    }
    return Value::bytes(std::move(data));
}

void ParadoxTable::encode(int field, RecordImage& image, const Value& value) {
    const FieldDesc& f = header_.fields.at(static_cast<std::size_t>(field));
    const FieldDef& def = fieldDefs_[static_cast<std::size_t>(field)];
    std::uint8_t* p = image.raw.data() + f.offset;
    const auto width = static_cast<std::size_t>(f.width);
    auto bad = [&](const std::string& why) {
        return EngineError(ErrorKind::BadValue, why + " for field '" + def.name + "' of table " +
                                                    db_.path().filename().string());
    };
    if (isBlobCode(f.code)) {
        std::string data;
        if (!value.isNull()) data = (f.code == kMemo) ? toTable_.convert(value.s) : value.s;
        image.blobs[static_cast<std::size_t>(field)] = std::move(data);
        return;
    }
    std::memset(p, 0, width);
    if (value.isNull()) return;
    auto needInt = [&](std::int64_t lo, std::int64_t hi) -> std::int32_t {
        std::int64_t v;
        if (value.kind == Value::Kind::Int || value.kind == Value::Kind::Bool) v = value.i;
        else if (value.kind == Value::Kind::Float) v = static_cast<std::int64_t>(std::llround(value.f));
        else throw bad("'" + value.s + "' is not a valid integer value");
        if (v < lo || v > hi) throw bad("Value " + std::to_string(v) + " is out of range");
        return static_cast<std::int32_t>(v);
    };
    // A number field holds a double: a whole number beyond 2^53 would lose its last digits and
    // NaN has no form in the file, so both are refused rather than changed.
    auto needReal = [&]() -> double {
        double d = 0;
        if (value.kind == Value::Kind::Float || value.kind == Value::Kind::DateTime) {
            d = value.f;
        } else if (value.kind == Value::Kind::Int) {
            d = static_cast<double>(value.i);
            if (d >= 9223372036854775808.0 || static_cast<std::int64_t>(d) != value.i)
                throw bad("Value " + std::to_string(value.i) +
                          " cannot be held exactly by a number field");
        } else {
            throw bad("'" + value.s + "' is not a valid floating point value");
        }
        if (std::isnan(d)) throw bad("NaN is not a value a Paradox number field can hold");
        return d;
    };
    switch (f.code) {
    case kAlpha: {
        if (value.kind != Value::Kind::Text && value.kind != Value::Kind::Bytes)
            throw bad("A text value is needed");
        const std::string text = toTable_.convert(value.s);
        std::size_t n = 0;
        while (n < text.size() && n < width && text[n] != '\0') ++n;
        std::memcpy(p, text.data(), n);
        break;
    }
    case kDate:
        if (value.kind != Value::Kind::Date) throw bad("A date value is needed");
        if (value.i < 1 || value.i > 3'652'059) throw bad("Date out of range");
        encodeInt(p, 4, static_cast<std::int32_t>(value.i));
        break;
    case kShort: encodeInt(p, 2, needInt(-32767, 32767)); break;
    case kLong:
    case kAutoInc: encodeInt(p, 4, needInt(-2147483647LL, 2147483647LL)); break;
    case kCurrency:
    case kNumber: encodeDouble(p, needReal()); break;
    case kLogical:
        if (value.kind != Value::Kind::Bool) throw bad("A logical value is needed");
        p[0] = value.i ? 0x81 : 0x80;
        break;
    case kTime:
        if (value.kind != Value::Kind::Time) throw bad("A time value is needed");
        encodeInt(p, 4, static_cast<std::int32_t>(value.i));
        break;
    case kTimestamp:
        if (value.kind != Value::Kind::DateTime && value.kind != Value::Kind::Date) throw bad("A date and time value is needed");
        encodeDouble(p, value.kind == Value::Kind::Date ? static_cast<double>(value.i) * 86'400'000.0 : value.f);
        break;
    case kBcd: {
        std::string text = value.s;
        if (value.kind == Value::Kind::Int) {
            text = std::to_string(value.i); // exact, also beyond what a double holds
        } else if (value.kind != Value::Kind::Float || text.empty()) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*f", f.size, needReal());
            text = buf;
        }
        if (!encodeBcd(p, f.size, text)) throw bad("'" + text + "' is not a valid BCD value");
        break;
    }
    case kBytes:
        std::memcpy(p, value.s.data(), std::min(width, value.s.size()));
        break;
    default: throw bad("Unsupported field type");
    }
}

void ParadoxTable::appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                                 std::string& out) {
    const FieldDesc& f = header_.fields.at(static_cast<std::size_t>(field));
    const std::uint8_t* p = raw + f.offset;
    const std::size_t start = out.size();
    const auto width = isBlobCode(f.code) ? static_cast<std::size_t>(f.width - 10)
                                          : static_cast<std::size_t>(f.width);
    out.append(reinterpret_cast<const char*>(p), width);
    if (caseInsensitive && f.code == kAlpha)
        for (std::size_t i = start; i < out.size(); ++i)
            out[i] = static_cast<char>(upperLatin1(static_cast<std::uint8_t>(out[i])));
}

void ParadoxTable::blankRecord(std::uint8_t* raw) {
    std::memset(raw, 0, static_cast<std::size_t>(header_.recordSize));
}

// --------------------------------------------------------------------------------- keys

int ParadoxTable::keyBytes(int nFields) const {
    nFields = std::min(nFields, header_.numKeyFields);
    if (nFields <= 0) return 0;
    const FieldDesc& f = header_.fields[static_cast<std::size_t>(nFields - 1)];
    return f.offset + f.width;
}

// Key fields lead the record and their stored bytes compare in key order.
int ParadoxTable::compareKeys(const std::uint8_t* a, const std::uint8_t* b, int nFields) const {
    return std::memcmp(a, b, static_cast<std::size_t>(keyBytes(nFields)));
}

std::size_t ParadoxTable::findBlockForKey(const std::uint8_t* raw, int nFields) {
    // The last block whose first record's key is <= the key.
    std::size_t lo = 0, hi = chain_.size();
    std::vector<std::uint8_t> firstRec(static_cast<std::size_t>(header_.recordSize));
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (counts_[mid] == 0) { // never left in a chain by this driver; search linearly
            lo = 0;
            hi = chain_.size();
            break;
        }
        const Block& b = loadBlock(chain_[mid]);
        std::memcpy(firstRec.data(), &b.bytes[6], firstRec.size());
        if (compareKeys(firstRec.data(), raw, nFields) <= 0) lo = mid;
        else hi = mid;
    }
    return lo;
}

bool ParadoxTable::seek(const std::uint8_t* raw, int nFields, bool after, RecordPos& pos) {
    if (header_.numKeyFields == 0 || total_ == 0) return false;
    std::size_t ci = findBlockForKey(raw, nFields);
    // Records equal to the key may begin in the block before.
    if (ci > 0) --ci;
    for (; ci < chain_.size(); ++ci) {
        const Block& b = loadBlock(chain_[ci]);
        for (int s = 0; s < counts_[ci]; ++s) {
            const std::uint8_t* rec = &b.bytes[6 + static_cast<std::size_t>(s) * static_cast<std::size_t>(header_.recordSize)];
            const int c = compareKeys(rec, raw, nFields);
            if (after ? c > 0 : c >= 0) {
                pos = posOf(ci, s);
                return true;
            }
        }
    }
    return false;
}

bool ParadoxTable::boundOfKey(std::string_view key, bool upper, std::int64_t& ordinal) {
    if (header_.numKeyFields == 0) return false;
    rebuildPrefix();
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    auto sortKey = [&](const std::uint8_t* rec) {
        std::string k;
        for (int f = 0; f < header_.numKeyFields; ++f) appendSortKey(f, rec, false, k);
        return k;
    };
    // True when a record of this sort key lies before the bound.
    auto before = [&](std::string_view recordKey) {
        recordKey = recordKey.substr(0, key.size());
        return upper ? !(key < recordKey) : recordKey < key;
    };
    // The first block whose first record does not lie before the bound; the bound is in
    // the block before it, or at its start.
    std::size_t lo = 0, hi = chain_.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (counts_[mid] == 0) return false; // never left in a chain by this driver
        std::string& first = firstKeys_[mid];
        if (first.empty()) first = sortKey(&loadBlock(chain_[mid]).bytes[6]);
        if (before(first)) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) {
        ordinal = 0;
        return true;
    }
    const std::size_t ci = lo - 1;
    const Block& b = loadBlock(chain_[ci]);
    int s0 = 1, s1 = counts_[ci]; // the first record lies before the bound
    while (s0 < s1) {
        const int m = s0 + (s1 - s0) / 2;
        if (before(sortKey(&b.bytes[6 + static_cast<std::size_t>(m) * rs]))) s0 = m + 1;
        else s1 = m;
    }
    ordinal = prefix_[ci] + s0;
    return true;
}

// Keyed tables: the stored key bytes. Unkeyed tables never move a record when another is
// edited (there is no order to keep), so the block and slot serve.
std::string ParadoxTable::identity(RecordPos pos, const std::uint8_t* raw) {
    if (header_.numKeyFields > 0)
        return std::string(reinterpret_cast<const char*>(raw),
                           static_cast<std::size_t>(keyBytes(header_.numKeyFields)));
    return positionIdentity(pos);
}

bool ParadoxTable::locate(std::string_view identity, RecordPos& pos) {
    if (header_.numKeyFields > 0) {
        if (identity.size() != static_cast<std::size_t>(keyBytes(header_.numKeyFields))) return false;
        std::vector<std::uint8_t> raw(static_cast<std::size_t>(header_.recordSize), 0);
        std::memcpy(raw.data(), identity.data(), identity.size());
        const auto found = findKey(raw.data());
        if (found) pos = *found;
        return found.has_value();
    }
    RecordPos p = 0;
    if (!positionFromIdentity(identity, p)) return false;
    const auto block = static_cast<std::size_t>(p >> 32);
    const auto slot = static_cast<int>(p & 0xFFFFFFFFu);
    if (block == 0 || block >= chainIndex_.size() || chainIndex_[block] < 0) return false;
    if (slot < 0 || slot >= counts_[static_cast<std::size_t>(chainIndex_[block])]) return false;
    pos = p;
    return true;
}

std::optional<RecordPos> ParadoxTable::findKey(const std::uint8_t* raw) {
    RecordPos p;
    if (!seek(raw, header_.numKeyFields, false, p)) return std::nullopt;
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(header_.recordSize));
    read(p, rec.data());
    if (compareKeys(rec.data(), raw, header_.numKeyFields) != 0) return std::nullopt;
    return p;
}

// ------------------------------------------------------------------------------ changes

// The writer's role: one open at a time writes a table, in this process or another, so
// that the header, the free list, the blob file and the indexes have one keeper. An open
// that starts writing after another writer finished reads the table again first.
WriteAccess ParadoxTable::beginWrite() {
    if (db_.holdsWriterLock()) return WriteAccess::Granted;
    if (!db_.writable())
        throw EngineError(ErrorKind::Database, "Table " + db_.path().string() + " is read-only");
    if (!db_.tryWriterLock()) return WriteAccess::Busy;
    bool reloaded = false;
    try {
        if (headerOnDisk() != headerSeen_) {
            reload();
            reloaded = true;
        }
        db_.map();
    } catch (...) {
        db_.releaseWriterLock();
        throw;
    }
    return reloaded ? WriteAccess::GrantedReloaded : WriteAccess::Granted;
}

std::vector<std::uint8_t> ParadoxTable::headerOnDisk() const {
    std::vector<std::uint8_t> bytes(0x58);
    db_.readAt(0, bytes.data(), bytes.size());
    return bytes;
}

// Reads header, block chain and blob file again after another writer changed them.
void ParadoxTable::reload() {
    const std::uint64_t size = db_.size();
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(
        size, std::max<std::uint64_t>(static_cast<std::uint64_t>(header_.headerSize), 0x58))));
    db_.readAt(0, head.data(), head.size());
    Header fresh = readDataHeader(db_.path(), head, size);
    if (fresh.fileType == kUnkeyedDb) fresh.numKeyFields = 0;
    if (fresh.recordSize != header_.recordSize || fresh.fields.size() != header_.fields.size() ||
        fresh.numKeyFields != header_.numKeyFields)
        damaged("its structure was changed by another program while it was open");
    header_ = fresh;
    readChain();
    if (blobs_) blobs_ = std::make_unique<BlobFile>(blobs_->path(), key_);
    headerSeen_ = headerOnDisk();
}

// Every change passes here. The first change since the last flush bumps the table's change
// counter, so that index files stamped with the old value read as out of date until the
// flush brings them up to date.
void ParadoxTable::beginChange() {
    if (!db_.holdsWriterLock()) {
        const WriteAccess access = beginWrite();
        if (access == WriteAccess::Busy)
            throw EngineError(ErrorKind::Database,
                              "Table " + db_.path().string() + " is in use by someone else");
        if (access == WriteAccess::GrantedReloaded)
            throw EngineError(ErrorKind::Database, "Table " + db_.path().string() +
                                                       " was changed by another program; open it again");
    }
    if (changed_) return;
    changed_ = true;
    auto& b = header_.bytes;
    counterBeforeChange_ = b[hdr::kChangeCount1];
    b[hdr::kChangeCount1] = static_cast<std::uint8_t>(b[hdr::kChangeCount1] + 1);
    if (b[hdr::kChangeCount1] == 0) b[hdr::kChangeCount1] = 1;
    writeHeader();
}

void ParadoxTable::writeHeader() {
    stampHeader();
    if (tail_.first != 0) {
        tail_.headerPending = true;
        return;
    }
    db_.writeAt(0, header_.bytes.data(), 0x58);
    std::copy(header_.bytes.begin(), header_.bytes.begin() + 0x58, headerSeen_.begin());
}

// The record count after an insert or delete that left the blocks as they were: written
// after the block it counts, so that a reader trusting the header never sees a record the
// blocks do not hold.
void ParadoxTable::writeRecordCount() {
    auto* p = &header_.bytes[hdr::kNumRecords];
    writeU32(p, static_cast<std::uint32_t>(total_));
    if (tail_.first != 0) {
        tail_.headerPending = true;
        return;
    }
    db_.writeAt(hdr::kNumRecords, p, 4);
    std::copy(p, p + 4, headerSeen_.begin() + hdr::kNumRecords);
}

void ParadoxTable::setFilling(bool filling) {
    if (!filling) writeTail();
    filling_ = filling;
}

// The held blocks run from a block to the end of the file: records appended at the end of
// a table whose last block ends the file and whose new blocks come from the end (no free
// blocks) stay in memory until a batch is full.
void ParadoxTable::holdTail() {
    if (tail_.first != 0 || firstFree_ != 0 || fileBlocks_ >= 0xFFFF) return;
    if (chain_.empty()) {
        tail_.first = static_cast<std::uint16_t>(fileBlocks_ + 1);
        tail_.firstInFile = false;
        tail_.bytes.clear();
        return;
    }
    if (chain_.back() != fileBlocks_) return;
    readBlockInto(chain_.back(), tail_.bytes);
    tail_.first = chain_.back();
    tail_.firstInFile = true;
}

void ParadoxTable::writeTail(bool keepLast) {
    if (tail_.first == 0) return;
    const auto bs = static_cast<std::size_t>(header_.blockSize);
    if (!tail_.bytes.empty()) {
        std::vector<std::uint8_t> encrypted;
        const std::uint8_t* out = tail_.bytes.data();
        if (key_ != 0) {
            encrypted = tail_.bytes;
            for (std::size_t at = 0; at < encrypted.size(); at += bs)
                encryptBlock(&encrypted[at], bs, key_, static_cast<std::uint32_t>(tail_.first + at / bs));
            out = encrypted.data();
        }
        // A kill can cut a long write short. So the new blocks go first, while nothing links
        // to them; then the block the file held already, which links to them, its records
        // before its link and count (an encrypted block: its first chunk, which holds them,
        // last); the header after all.
        const std::uint64_t at = blockOffset(tail_.first);
        const std::size_t held = tail_.firstInFile ? bs : 0;
        if (tail_.bytes.size() > held) db_.writeRun(at + held, out + held, tail_.bytes.size() - held);
        if (held) {
            const std::size_t head = key_ != 0 ? std::min<std::size_t>(256, bs) : 6;
            db_.writeAt(at + head, out + head, bs - head);
            db_.writeAt(at, out, head);
        }
    }
    // Written: from here on the header and the blocks go to the file. A failed write above
    // keeps them held, and the header as it was, for the flush to try again.
    Tail written;
    std::swap(written, tail_);
    if (written.headerPending) writeHeader();
    if (keepLast && !written.bytes.empty()) {
        tail_.first = static_cast<std::uint16_t>(fileBlocks_);
        tail_.firstInFile = true;
        tail_.bytes.assign(written.bytes.end() - static_cast<std::ptrdiff_t>(bs),
                           written.bytes.end());
    }
}

// Remembers which fields an update changed, so that a flush rebuilds only the indexes
// over them.
void ParadoxTable::noteFieldChanges(const std::uint8_t* before, const std::uint8_t* after) {
    for (std::size_t i = 0; i < header_.fields.size(); ++i) {
        if (fieldChanged_[i]) continue;
        const FieldDesc& f = header_.fields[i];
        if (std::memcmp(before + f.offset, after + f.offset, static_cast<std::size_t>(f.width)) != 0)
            fieldChanged_[i] = true;
    }
}

// Puts the counters kept in memory into the header bytes.
void ParadoxTable::stampHeader() {
    auto& b = header_.bytes;
    writeU32(&b[hdr::kNumRecords], static_cast<std::uint32_t>(total_));
    writeU16(&b[hdr::kUsedBlocks], static_cast<std::uint16_t>(chain_.size()));
    writeU16(&b[hdr::kFileBlocks], static_cast<std::uint16_t>(fileBlocks_));
    writeU16(&b[hdr::kMaxBlocks], static_cast<std::uint16_t>(fileBlocks_));
    writeU16(&b[hdr::kFirstBlock], chain_.empty() ? 0 : chain_.front());
    writeU16(&b[hdr::kLastBlock], chain_.empty() ? 0 : chain_.back());
    writeU16(&b[hdr::kFirstFree], firstFree_);
    b[hdr::kFileType] = static_cast<std::uint8_t>(header_.numKeyFields > 0 ? kKeyedDb : kUnkeyedDb);
    writeU16(&b[hdr::kNumKeyFields], static_cast<std::uint16_t>(header_.numKeyFields));
}

std::uint16_t ParadoxTable::allocateBlock() {
    if (firstFree_ != 0 && firstFree_ <= fileBlocks_ && chainIndex_[firstFree_] < 0) {
        const std::uint16_t b = firstFree_;
        std::vector<std::uint8_t> buf;
        readBlockInto(b, buf);
        firstFree_ = readU16(&buf[0]);
        if (firstFree_ > fileBlocks_ || (firstFree_ != 0 && chainIndex_[firstFree_] >= 0)) firstFree_ = 0;
        return b;
    }
    firstFree_ = 0;
    if (fileBlocks_ >= 0xFFFF)
        throw EngineError(ErrorKind::General, "Table " + db_.path().string() + " is full (65535 blocks)");
    // A full batch of held blocks goes to the file before the next block is begun.
    if (tail_.first != 0 && tail_.bytes.size() >= kTailBytes) writeTail(true);
    ++fileBlocks_;
    chainIndex_.resize(fileBlocks_ + 1, -1);
    if (tail_.first != 0)
        tail_.bytes.resize(tail_.bytes.size() + static_cast<std::size_t>(header_.blockSize), 0);
    return static_cast<std::uint16_t>(fileBlocks_);
}

void ParadoxTable::freeBlock(std::uint16_t number) {
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(header_.blockSize), 0);
    writeU16(&buf[0], firstFree_);
    writeU16(&buf[4], static_cast<std::uint16_t>(-header_.recordSize));
    writeBlock(number, buf);
    firstFree_ = number;
}

void ParadoxTable::assignAutoIncrement(std::uint8_t* raw) {
    auto& b = header_.bytes;
    std::uint32_t last = readU32(&b[hdr::kAutoInc]);
    for (const auto& f : header_.fields) {
        if (f.code != kAutoInc) continue;
        std::uint8_t* p = raw + f.offset;
        if (isAllZero(p, 4)) {
            ++last;
            encodeInt(p, 4, static_cast<std::int32_t>(last));
        } else {
            const std::int32_t v = decodeInt(p, 4);
            if (v > 0 && static_cast<std::uint32_t>(v) > last) last = static_cast<std::uint32_t>(v);
        }
    }
    writeU32(&b[hdr::kAutoInc], last);
}

// Stores pending blob values and sets their leaders and trailers in the record. The
// locators of the values they replace are returned, to be freed once the record is written.
void ParadoxTable::writeBlobs(RecordImage& image, std::vector<std::uint32_t>& replaced) {
    for (std::size_t i = 0; i < image.blobs.size(); ++i) {
        if (!image.blobs[i]) continue;
        const FieldDesc& f = header_.fields[i];
        const std::string& data0 = *image.blobs[i];
        std::uint8_t* p = image.raw.data() + f.offset;
        if (const std::uint32_t old = blobLocator(static_cast<int>(i), image.raw.data())) replaced.push_back(old);
        std::memset(p, 0, static_cast<std::size_t>(f.width));
        if (data0.empty()) continue;
        std::string data = data0;
        if (f.code == kGraphic) {
            std::string prefix(reinterpret_cast<const char*>(kGraphicPrefix), 4);
            prefix.resize(8);
            writeU32(reinterpret_cast<std::uint8_t*>(prefix.data()) + 4, static_cast<std::uint32_t>(data0.size()));
            data = prefix + data0;
        }
        const auto leader = static_cast<std::size_t>(f.width - 10);
        std::uint8_t* trailer = p + leader;
        writeU32(trailer + 4, static_cast<std::uint32_t>(data.size()));
        if (data.size() <= leader) {
            std::memcpy(p, data.data(), data.size());
            continue;
        }
        if (!blobs_) {
            const std::filesystem::path mb = companionPath(db_.path(), ".MB");
            if (!std::filesystem::exists(mb)) BlobFile::createEmpty(mb, key_);
            blobs_ = std::make_unique<BlobFile>(mb, key_);
        }
        const BlobFile::Stored s = blobs_->write(data);
        const std::size_t shown = f.code == kGraphic ? 8 : 0;
        std::memcpy(p, data.data() + shown, std::min(leader, data.size() - shown));
        writeU32(trailer, s.locator);
        writeU16(trailer + 8, s.modification);
    }
}

bool ParadoxTable::keyAfterLast(const std::uint8_t* raw) {
    if (chain_.empty()) return true;
    const std::size_t ci = chain_.size() - 1;
    if (counts_[ci] == 0) return false;
    const Block& b = loadBlock(chain_[ci]);
    const std::uint8_t* lastRec =
        &b.bytes[6 + static_cast<std::size_t>(counts_[ci] - 1) * static_cast<std::size_t>(header_.recordSize)];
    return compareKeys(lastRec, raw, header_.numKeyFields) < 0;
}

RecordPos ParadoxTable::insert(RecordImage& image) {
    beginChange();
    assignAutoIncrement(image.raw.data());
    // Filling a table in key order appends: no search needed.
    const bool atEnd = header_.numKeyFields > 0 && keyAfterLast(image.raw.data());
    if (header_.numKeyFields > 0 && !atEnd && findKey(image.raw.data()))
        throw EngineError(ErrorKind::KeyViolation, "Key violation in table " + db_.path().filename().string());
    std::vector<std::uint32_t> replaced;
    writeBlobs(image, replaced);
    structural_ = true;
    // A table being filled takes records at its end into the held blocks; a record anywhere
    // else is placed in the file as it stands.
    if (filling_ && (header_.numKeyFields == 0 || atEnd))
        holdTail();
    else
        writeTail();
    return insertRaw(image.raw.data(), atEnd);
}

// Puts a record into its place: key order in keyed tables, the end otherwise. A full
// block is split; a new block is written before anything links to it.
RecordPos ParadoxTable::insertRaw(const std::uint8_t* raw, bool atEnd) {
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    const int capacity = (header_.blockSize - 6) / header_.recordSize;
    if (chain_.empty()) {
        const std::uint16_t nb = allocateBlock();
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(header_.blockSize), 0);
        writeU16(&buf[4], 0);
        std::memcpy(&buf[6], raw, rs);
        writeBlock(nb, buf);
        chain_.push_back(nb);
        counts_.push_back(1);
        chainIndex_[nb] = 0;
        total_ = 1;
        prefixDirty_ = true;
        writeHeader();
        return posOf(0, 0);
    }
    std::size_t ci = chain_.size() - 1;
    int slot = counts_[ci];
    if (header_.numKeyFields > 0 && !atEnd) {
        ci = findBlockForKey(raw, header_.numKeyFields);
        const Block& b = loadBlock(chain_[ci]);
        slot = 0;
        while (slot < counts_[ci] &&
               compareKeys(&b.bytes[6 + static_cast<std::size_t>(slot) * rs], raw, header_.numKeyFields) < 0)
            ++slot;
    }
    loadBlock(chain_[ci]);
    std::vector<std::uint8_t>& buf = cache_.bytes;
    const int count = counts_[ci];
    if (count < capacity) {
        std::memmove(&buf[6 + (static_cast<std::size_t>(slot) + 1) * rs], &buf[6 + static_cast<std::size_t>(slot) * rs],
                     static_cast<std::size_t>(count - slot) * rs);
        std::memcpy(&buf[6 + static_cast<std::size_t>(slot) * rs], raw, rs);
        writeU16(&buf[4], static_cast<std::uint16_t>(count * header_.recordSize));
        if (slot == count) {
            // Appended: the record first, then the count that makes it visible.
            commitRange(chain_[ci], buf, 6 + static_cast<std::size_t>(slot) * rs, rs);
            if (key_ == 0) commitRange(chain_[ci], buf, 4, 2);
        } else {
            commitRange(chain_[ci], buf, 4, 2 + (static_cast<std::size_t>(count) + 1) * rs);
        }
        counts_[ci] = static_cast<std::uint16_t>(count + 1);
        ++total_;
        prefixDirty_ = true;
        writeRecordCount();
        return posOf(ci, slot);
    }
    // Full: a record after the last one of the last block starts a new block; anything
    // else splits the block in two halves.
    std::vector<std::uint8_t> copy = buf; // the cache is reused by the reads below
    std::vector<std::uint8_t>& full = copy;
    const std::uint16_t nb = allocateBlock();
    const std::uint16_t oldNext = readU16(&full[0]);
    std::vector<std::uint8_t> nbuf(static_cast<std::size_t>(header_.blockSize), 0);
    int keep = count;
    if (!(ci + 1 == chain_.size() && slot == count)) keep = count / 2;
    const int moved = count - keep;
    std::memcpy(&nbuf[6], &full[6 + static_cast<std::size_t>(keep) * rs], static_cast<std::size_t>(moved) * rs);
    std::memset(&full[6 + static_cast<std::size_t>(keep) * rs], 0, static_cast<std::size_t>(moved) * rs);
    int newCount = moved, oldCount = keep;
    std::size_t targetCi;
    int targetSlot;
    auto putInto = [&](std::vector<std::uint8_t>& b, int& n, int s) {
        std::memmove(&b[6 + (static_cast<std::size_t>(s) + 1) * rs], &b[6 + static_cast<std::size_t>(s) * rs],
                     static_cast<std::size_t>(n - s) * rs);
        std::memcpy(&b[6 + static_cast<std::size_t>(s) * rs], raw, rs);
        ++n;
    };
    if (slot <= keep && !(keep == count)) {
        putInto(full, oldCount, slot);
        targetCi = ci;
        targetSlot = slot;
    } else {
        putInto(nbuf, newCount, slot - keep);
        targetCi = ci + 1;
        targetSlot = slot - keep;
    }
    writeU16(&nbuf[0], oldNext);
    writeU16(&nbuf[2], chain_[ci]);
    writeU16(&nbuf[4], static_cast<std::uint16_t>(newCount > 0 ? (newCount - 1) * header_.recordSize : -header_.recordSize));
    writeBlock(nb, nbuf);
    writeU16(&full[0], nb);
    writeU16(&full[4], static_cast<std::uint16_t>(oldCount > 0 ? (oldCount - 1) * header_.recordSize : -header_.recordSize));
    if (keep == count) {
        // Appended after the last record: of the old block only its link to the new one
        // changed, so only the link is written again.
        commitRange(chain_[ci], full, 0, 2);
        if (cache_.number == chain_[ci]) cache_.bytes.swap(full);
    } else {
        writeBlock(chain_[ci], full);
    }
    if (oldNext != 0) {
        std::vector<std::uint8_t> after;
        readBlockInto(oldNext, after);
        writeU16(&after[2], nb);
        writeBlock(oldNext, after);
    }
    chain_.insert(chain_.begin() + static_cast<std::ptrdiff_t>(ci) + 1, nb);
    counts_[ci] = static_cast<std::uint16_t>(oldCount);
    counts_.insert(counts_.begin() + static_cast<std::ptrdiff_t>(ci) + 1, static_cast<std::uint16_t>(newCount));
    for (std::size_t i = ci + 1; i < chain_.size(); ++i) chainIndex_[chain_[i]] = static_cast<std::int32_t>(i);
    ++total_;
    prefixDirty_ = true;
    writeHeader();
    return posOf(targetCi, targetSlot);
}

RecordPos ParadoxTable::update(RecordPos pos, RecordImage& image) {
    writeTail();
    beginChange();
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    std::vector<std::uint8_t> old(rs);
    read(pos, old.data());
    const bool keyChanged = header_.numKeyFields > 0 && compareKeys(old.data(), image.raw.data(), header_.numKeyFields) != 0;
    if (keyChanged && findKey(image.raw.data()))
        throw EngineError(ErrorKind::KeyViolation, "Key violation in table " + db_.path().filename().string());
    std::vector<std::uint32_t> replaced;
    writeBlobs(image, replaced);
    RecordPos result = pos;
    if (keyChanged) structural_ = true;
    else noteFieldChanges(old.data(), image.raw.data());
    if (!keyChanged) {
        loadBlock(chain_[ci]);
        std::memcpy(&cache_.bytes[6 + static_cast<std::size_t>(slot) * rs], image.raw.data(), rs);
        commitRange(chain_[ci], cache_.bytes, 6 + static_cast<std::size_t>(slot) * rs, rs, true);
    } else {
        // The new record is written before the old one goes, so that a crash in between
        // leaves both rather than neither.
        insertRaw(image.raw.data(), false);
        if (auto oldPos = findKey(old.data())) {
            splitPos(*oldPos, ci, slot);
            removeAt(ci, slot);
        }
        result = *findKey(image.raw.data());
    }
    for (std::uint32_t loc : replaced) blobs_->release(loc);
    return result;
}

bool ParadoxTable::remove(RecordPos pos, RecordPos& following, bool& wasLast) {
    writeTail();
    beginChange();
    std::size_t ci;
    int slot;
    splitPos(pos, ci, slot);
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(header_.recordSize));
    read(pos, rec.data());
    const std::uint16_t block = chain_[ci];
    const std::uint16_t nextBlock = ci + 1 < chain_.size() ? chain_[ci + 1] : 0;
    structural_ = true;
    removeAt(ci, slot);
    for (std::size_t i = 0; i < header_.fields.size(); ++i)
        if (isBlobCode(header_.fields[i].code) && blobs_)
            if (const std::uint32_t loc = blobLocator(static_cast<int>(i), rec.data())) blobs_->release(loc);
    if (total_ == 0) return false;
    // The following record: in the same block when records moved up into the slot, else
    // the first one of the next block that has any (a freed block has left the chain).
    wasLast = false;
    const std::int32_t here = chainIndex_[block];
    if (here >= 0 && slot < counts_[static_cast<std::size_t>(here)]) {
        following = posOf(static_cast<std::size_t>(here), slot);
        return true;
    }
    std::size_t start = chain_.size();
    if (here >= 0) start = static_cast<std::size_t>(here) + 1;
    else if (nextBlock != 0 && chainIndex_[nextBlock] >= 0) start = static_cast<std::size_t>(chainIndex_[nextBlock]);
    for (std::size_t i = start; i < chain_.size(); ++i)
        if (counts_[i] > 0) {
            following = posOf(i, 0);
            return true;
        }
    wasLast = true;
    return last(following);
}

// Takes a record out of its block; an emptied block leaves the chain for the free list.
void ParadoxTable::removeAt(std::size_t ci, int slot) {
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    std::vector<std::uint8_t> buf;
    readBlockInto(chain_[ci], buf);
    const int count = counts_[ci];
    std::memmove(&buf[6 + static_cast<std::size_t>(slot) * rs], &buf[6 + (static_cast<std::size_t>(slot) + 1) * rs],
                 static_cast<std::size_t>(count - slot - 1) * rs);
    std::memset(&buf[6 + static_cast<std::size_t>(count - 1) * rs], 0, rs);
    const int left = count - 1;
    // The header counts one record fewer before the blocks hold one fewer: a reader that
    // trusts the header never looks for a record that is gone (an insert orders it the
    // other way round).
    --total_;
    writeRecordCount();
    prefixDirty_ = true;
    if (left > 0) {
        // One write covers the count and every record that moved up.
        writeU16(&buf[4], static_cast<std::uint16_t>((left - 1) * header_.recordSize));
        commitRange(chain_[ci], buf, 4, 2 + static_cast<std::size_t>(count) * rs);
        if (cache_.number == chain_[ci]) cache_.bytes = buf;
        counts_[ci] = static_cast<std::uint16_t>(left);
        return;
    }
    if (chain_.size() == 1) {
        // The table is empty now: no blocks at all, as a new table has.
        chain_.clear();
        counts_.clear();
        fileBlocks_ = 0;
        firstFree_ = 0;
        chainIndex_.assign(1, -1);
        cache_.number = 0;
        writeHeader();
        db_.truncate(static_cast<std::uint64_t>(header_.headerSize));
        return;
    }
    std::size_t freedCi = ci;
    if (ci == 0 && chain_[0] == 1) {
        // Block 1 stays the head of the chain: the next block's records move into it.
        std::vector<std::uint8_t> nbuf;
        readBlockInto(chain_[1], nbuf);
        const std::uint16_t afterNext = readU16(&nbuf[0]);
        // The records and their count (bytes 4 and 5) come over together.
        std::memcpy(&buf[4], &nbuf[4], static_cast<std::size_t>(header_.blockSize - 4));
        writeU16(&buf[0], afterNext);
        writeU16(&buf[2], 0);
        writeBlock(chain_[0], buf);
        if (afterNext != 0) {
            std::vector<std::uint8_t> a;
            readBlockInto(afterNext, a);
            writeU16(&a[2], chain_[0]);
            writeBlock(afterNext, a);
        }
        counts_[0] = counts_[1];
        freedCi = 1;
    } else {
        const std::uint16_t prev = ci > 0 ? chain_[ci - 1] : 0;
        const std::uint16_t next = ci + 1 < chain_.size() ? chain_[ci + 1] : 0;
        if (prev) {
            std::vector<std::uint8_t> p;
            readBlockInto(prev, p);
            writeU16(&p[0], next);
            writeBlock(prev, p);
        }
        if (next) {
            std::vector<std::uint8_t> n;
            readBlockInto(next, n);
            writeU16(&n[2], prev);
            writeBlock(next, n);
        }
    }
    const std::uint16_t freed = chain_[freedCi];
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(freedCi));
    counts_.erase(counts_.begin() + static_cast<std::ptrdiff_t>(freedCi));
    chainIndex_[freed] = -1;
    for (std::size_t i = 0; i < chain_.size(); ++i) chainIndex_[chain_[i]] = static_cast<std::int32_t>(i);
    freeBlock(freed);
    writeHeader();
}

// --------------------------------------------------------------------- indexes, closing

std::vector<IndexDef> ParadoxTable::indexes() {
    std::vector<IndexDef> list;
    if (header_.numKeyFields > 0) {
        IndexDef primary;
        std::vector<std::string> names;
        for (int i = 0; i < header_.numKeyFields; ++i) names.push_back(fieldDefs_[static_cast<std::size_t>(i)].name);
        primary.fields = joinFieldList(names);
        primary.options = ixPrimary | ixUnique;
        list.push_back(primary);
    }
    for (auto& def : readSecondaryIndexDefs(db_.path(), header_, toProgram_)) list.push_back(std::move(def));
    return list;
}

void ParadoxTable::writePrimaryIndex() {
    if (header_.numKeyFields == 0) return;
    std::vector<PrimaryIndexEntry> entries;
    entries.reserve(chain_.size());
    const auto kb = static_cast<std::size_t>(keyBytes(header_.numKeyFields));
    const auto bs = static_cast<std::size_t>(header_.blockSize);
    writeTail(); // the blocks are read from the file
    // The first key of each block. Blocks that follow each other in the file, as those of a
    // filled table do, are read a run at a time; an encrypted block on its own.
    constexpr std::size_t kRunBytes = std::size_t{1} << 20;
    std::vector<std::uint8_t> run;
    for (std::size_t i = 0; i < chain_.size();) {
        std::size_t n = 1;
        if (key_ == 0)
            while (i + n < chain_.size() && chain_[i + n] == chain_[i] + n &&
                   (n + 1) * bs <= kRunBytes)
                ++n;
        const std::uint8_t* first = nullptr;
        if (n > 1) {
            run.resize(n * bs);
            db_.readAt(blockOffset(chain_[i]), run.data(), run.size());
            first = run.data();
        }
        for (std::size_t k = 0; k < n; ++k) {
            if (counts_[i + k] == 0) continue;
            const std::uint8_t* block = n > 1 ? first + k * bs : loadBlock(chain_[i]).bytes.data();
            entries.push_back({std::string(reinterpret_cast<const char*>(block + 6), kb),
                               chain_[i + k], counts_[i + k]});
        }
        i += n;
    }
    const auto px = findCompanion(db_.path(), ".PX");
    writePrimaryIndexFile(px ? *px : companionPath(db_.path(), ".PX"), header_, entries);
}

// Brings the header and the indexes up to date with the changes since the last flush,
// flushes every file to the disk and gives up the writer's role. The indexes that the
// changes did not touch keep their contents and only take the new stamp.
void ParadoxTable::flush() {
    if (!db_.isOpen()) return;
    writeTail();
    if (changed_) {
        writeHeader();
        const auto px = findCompanion(db_.path(), ".PX");
        if (structural_ || !px || !indexWasCurrent(*px, hdr::kIndexStamp)) writePrimaryIndex();
        else restampIndex(*px, hdr::kIndexStamp);
        rebuildSecondaryIndexes();
        changed_ = structural_ = false;
        std::fill(fieldChanged_.begin(), fieldChanged_.end(), false);
    }
    if (db_.holdsWriterLock()) {
        if (blobs_) blobs_->finishWriting();
        db_.unmapAndSync();
        db_.releaseWriterLock();
    }
}

// Closes also when the flush fails; the failure is reported after the files are closed.
void ParadoxTable::close() {
    if (!db_.isOpen()) return;
    std::exception_ptr failure;
    try {
        flush();
    } catch (...) {
        failure = std::current_exception();
    }
    blobs_.reset();
    db_.close();
    if (failure) std::rethrow_exception(failure);
}

// Reads the table again when another writer changed it since this open last looked.
bool ParadoxTable::refresh() {
    if (db_.holdsWriterLock() || headerOnDisk() == headerSeen_) return false;
    reload();
    return true;
}

// A flush writes index files beside the table through temporary files: the directory must
// take new files.
void ParadoxTable::requireWritableFamily() {
    if (!db_.writable())
        throw EngineError(ErrorKind::Database, "Table " + db_.path().string() + " is read-only");
    if (header_.numKeyFields > 0 || !findSecondaryIndexes(db_.path(), header_, toProgram_).empty())
        requireWritableDirectory(db_.path().has_parent_path() ? db_.path().parent_path() : ".");
}

// Whether an index file reads and was up to date with the table before this open changed
// it: only then may it keep its contents. A damaged or stale one is rebuilt instead.
bool ParadoxTable::indexWasCurrent(const fsys::path& file, std::size_t stampOffset) {
    try {
        File f = File::open(file);
        const std::uint64_t size = f.size();
        std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(size, 0x800)));
        f.readAt(0, head.data(), head.size());
        (void)readDataHeader(file, head, size); // throws for a file that does not read
        return head.size() > stampOffset && head[stampOffset] == counterBeforeChange_;
    } catch (const EngineError&) {
        return false;
    }
}

// An index whose contents are still right takes the table's new change counter as its stamp.
void ParadoxTable::restampIndex(const fsys::path& file, std::size_t offset) {
    File f = File::open(file);
    const std::uint8_t stamp = header_.bytes[hdr::kChangeCount1];
    f.writeAt(offset, &stamp, 1);
    f.sync();
}

void ParadoxTable::dropIndex(const std::string& name) {
    writeTail();
    const std::string table = db_.path().filename().string();
    if (!exclusive_)
        throw EngineError(ErrorKind::Database, "Table " + table + " must be opened exclusively to drop an index");
    const auto secondaries = findSecondaryIndexes(db_.path(), header_, toProgram_);
    if (name.empty()) {
        if (header_.numKeyFields == 0)
            throw EngineError(ErrorKind::General, "Table " + table + " has no primary index");
        for (const auto& s : secondaries)
            if (!(s.def.options & ixNonMaintained))
                throw EngineError(ErrorKind::General, "Index " + s.def.name + " of table " + table +
                                                          " needs the primary index; drop it first");
        header_.numKeyFields = 0;
        writeU32(&header_.bytes[hdr::kWorkspace], 0);
        for (auto& f : fieldDefs_) f.required = false;
        if (!db_.writable()) throw EngineError(ErrorKind::Database, "Table " + table + " is read-only");
        writeHeader();
        if (const auto px = findCompanion(db_.path(), ".PX")) std::filesystem::remove(*px);
        return;
    }
    for (const auto& s : secondaries) {
        if (!sameName(s.def.name, name)) continue;
        std::filesystem::remove(s.xFile);
        if (!s.yFile.empty()) std::filesystem::remove(s.yFile);
        return;
    }
    throw EngineError(ErrorKind::General, "Index " + name + " does not exist on table " + table);
}

void ParadoxTable::makePrimary(const std::vector<std::string>& names) {
    writeTail(); // the table is written anew below
    const std::string table = db_.path().filename().string();
    if (header_.numKeyFields > 0) throw EngineError(ErrorKind::General, "Table " + table + " has a primary index already");
    if (!findSecondaryIndexes(db_.path(), header_, toProgram_).empty())
        throw EngineError(ErrorKind::General, "Drop the secondary indexes of table " + table +
                                                  " before it gets a primary index");
    if (names.empty() || names.size() > fieldDefs_.size())
        throw EngineError(ErrorKind::General, "No fields given for the primary index of table " + table);
    for (std::size_t k = 0; k < names.size(); ++k)
        if (!sameName(names[k], fieldDefs_[k].name))
            throw EngineError(ErrorKind::General, "The primary index of table " + table +
                                                      " must cover its leading fields in order; " + names[k] +
                                                      " is not field " + std::to_string(k + 1));
    for (std::size_t k = 0; k < names.size(); ++k)
        if (isBlobCode(header_.fields[k].code))
            throw EngineError(ErrorKind::General, "Field " + names[k] + " cannot be part of a key");
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    std::vector<std::string> records;
    records.reserve(static_cast<std::size_t>(total_));
    RecordPos p;
    for (bool ok = first(p); ok; ok = next(p)) {
        std::string r(rs, '\0');
        read(p, reinterpret_cast<std::uint8_t*>(r.data()));
        records.push_back(std::move(r));
    }
    const int k = static_cast<int>(names.size());
    header_.numKeyFields = k;
    const auto kb = static_cast<std::size_t>(keyBytes(k));
    std::stable_sort(records.begin(), records.end(),
                     [&](const std::string& a, const std::string& b) { return a.compare(0, kb, b, 0, kb) < 0; });
    for (std::size_t i = 1; i < records.size(); ++i) {
        if (records[i].compare(0, kb, records[i - 1], 0, kb) != 0) continue;
        header_.numKeyFields = 0;
        std::string keyText;
        for (int f = 0; f < k; ++f) {
            const Value v = decode(f, reinterpret_cast<const std::uint8_t*>(records[i].data()));
            keyText += (f ? ", " : "") + (v.kind == Value::Kind::Text ? v.s : std::to_string(v.kind == Value::Kind::Float ? static_cast<long long>(v.f) : v.i));
        }
        throw EngineError(ErrorKind::KeyViolation, "Key violation in table " + table + ": key (" + keyText +
                                                       ") occurs more than once");
    }
    // Rewrite the table with the records in key order, through a temporary file.
    auto& hb = header_.bytes;
    hb[hdr::kChangeCount1] = static_cast<std::uint8_t>(hb[hdr::kChangeCount1] + 1);
    writeU32(&hb[hdr::kWorkspace], 0x00010001u);
    const int capacity = (header_.blockSize - 6) / header_.recordSize;
    const std::size_t nBlocks = (records.size() + static_cast<std::size_t>(capacity) - 1) / static_cast<std::size_t>(capacity);
    chain_.clear();
    counts_.clear();
    fileBlocks_ = static_cast<std::uint32_t>(nBlocks);
    chainIndex_.assign(nBlocks + 1, -1);
    firstFree_ = 0;
    const fsys::path path = db_.path();
    {
        ReplacementFile replacement(path);
        File& out = replacement.file();
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(header_.blockSize));
        for (std::size_t bi = 0; bi < nBlocks; ++bi) {
            std::fill(buf.begin(), buf.end(), 0);
            const std::size_t from = bi * static_cast<std::size_t>(capacity);
            const std::size_t n = std::min(records.size() - from, static_cast<std::size_t>(capacity));
            writeU16(&buf[0], bi + 1 < nBlocks ? static_cast<std::uint16_t>(bi + 2) : 0);
            writeU16(&buf[2], static_cast<std::uint16_t>(bi));
            writeU16(&buf[4], static_cast<std::uint16_t>((n - 1) * rs));
            for (std::size_t r = 0; r < n; ++r) std::memcpy(&buf[6 + r * rs], records[from + r].data(), rs);
            // An encrypted table stays encrypted: every block is written as the key wants.
            if (key_ != 0) encryptBlock(buf.data(), buf.size(), key_, static_cast<std::uint32_t>(bi + 1));
            out.writeAt(static_cast<std::uint64_t>(header_.headerSize) + bi * buf.size(), buf.data(), buf.size());
            chain_.push_back(static_cast<std::uint16_t>(bi + 1));
            counts_.push_back(static_cast<std::uint16_t>(n));
            chainIndex_[bi + 1] = static_cast<std::int32_t>(bi);
        }
        stampHeader();
        out.writeAt(0, header_.bytes.data(), header_.bytes.size());
        replacement.commit();
    }
    db_ = File::open(path);
    if (!db_.tryLock(true)) throw EngineError(ErrorKind::Database, "Table " + path.string() + " is in use by someone else");
    headerSeen_ = headerOnDisk();
    cache_.number = 0;
    prefixDirty_ = true;
    for (std::size_t i = 0; i < static_cast<std::size_t>(k); ++i) fieldDefs_[i].required = true;
    writePrimaryIndex();
}

// Maintained secondary indexes are rewritten whole when the table closes after changes.
// Until then the table's bumped change counter marks them out of date.
void ParadoxTable::rebuildSecondaryIndexes() {
    for (const auto& s : findSecondaryIndexes(db_.path(), header_, toProgram_)) {
        if (s.def.options & ixNonMaintained) continue;
        // An index over fields no update touched (and keyed on a primary key no change
        // moved) still holds the right entries.
        bool touched = structural_;
        for (const auto& name : s.def.fieldList())
            for (std::size_t i = 0; i < fieldDefs_.size() && !touched; ++i)
                touched = fieldChanged_[i] && sameName(fieldDefs_[i].name, name);
        if (!touched && indexWasCurrent(s.xFile, hdr::kXStamp)) {
            restampIndex(s.xFile, hdr::kXStamp);
            continue;
        }
        const std::string ext = s.xFile.extension().string();
        const bool composite = ext.size() == 4 && (ext[2] == 'G' || ext[2] == 'g');
        writeSecondaryIndex(s.def, s.xFile, composite);
    }
}

void ParadoxTable::addSecondaryIndex(const IndexDef& def) {
    const std::string table = db_.path().filename().string();
    if (header_.version < 5)
        throw EngineError(ErrorKind::General, "Table " + table + " is in an old format that cannot take a secondary index");
    if (def.name.empty()) throw EngineError(ErrorKind::General, "A secondary index of table " + table + " needs a name");
    const auto existing = findSecondaryIndexes(db_.path(), header_, toProgram_);
    for (const auto& s : existing)
        if (sameName(s.def.name, def.name))
            throw EngineError(ErrorKind::General, "Index " + def.name + " exists already on table " + table);
    // Composite files XG0..XGF; the first free digit names the new index.
    const char* digits = "0123456789ABCDEF";
    for (int d = 0; d < 16; ++d) {
        const std::string ext = std::string(".XG") + digits[d];
        if (findCompanion(db_.path(), ext)) continue;
        IndexDef copy = def;
        if (header_.numKeyFields == 0) copy.options |= ixNonMaintained;
        writeSecondaryIndex(copy, companionPath(db_.path(), ext), true);
        return;
    }
    throw EngineError(ErrorKind::General, "Table " + table + " has 16 composite indexes already");
}

// Writes the X file (one record per table record: the indexed fields, the primary key or
// the record's place, and the block hint) sorted by the index, and the Y tree over it.
void ParadoxTable::writeSecondaryIndex(const IndexDef& def, const fsys::path& xPath, bool composite) {
    const std::string table = db_.path().filename().string();
    std::vector<int> indexed;
    for (const auto& name : def.fieldList()) {
        int found = -1;
        for (std::size_t i = 0; i < fieldDefs_.size(); ++i)
            if (sameName(fieldDefs_[i].name, name)) found = static_cast<int>(i);
        if (found < 0) throw EngineError(ErrorKind::UnknownField, "Index field " + name + " not found in table " + table);
        if (isBlobCode(header_.fields[static_cast<std::size_t>(found)].code))
            throw EngineError(ErrorKind::General, "Field " + name + " cannot be indexed");
        indexed.push_back(found);
    }
    if (indexed.empty()) throw EngineError(ErrorKind::General, "Index " + def.name + " has no fields");
    const bool keyed = header_.numKeyFields > 0;
    const bool ci = def.options & ixCaseInsensitive;
    const bool descending = def.options & ixDescending;

    std::vector<FieldDesc> xf;
    std::vector<std::uint16_t> numbers;
    for (int f : indexed) {
        xf.push_back(header_.fields[static_cast<std::size_t>(f)]);
        numbers.push_back(static_cast<std::uint16_t>(f + 1));
    }
    auto hint = [&](std::uint8_t code, const char* name) {
        FieldDesc d;
        d.code = code;
        d.size = code == kShort ? 2 : 4;
        d.width = d.size;
        d.name = name;
        xf.push_back(d);
    };
    if (keyed) {
        for (int k = 0; k < header_.numKeyFields; ++k) xf.push_back(header_.fields[static_cast<std::size_t>(k)]);
        hint(kShort, "Blk Num");
    } else {
        hint(kLong, "Tup No");
        hint(kShort, "Blk Num");
        hint(kShort, "Tup Offset");
    }
    int offset = 0;
    for (std::size_t i = 0; i < xf.size(); ++i) {
        xf[i].offset = offset;
        offset += xf[i].width;
        if (i >= indexed.size()) numbers.push_back(static_cast<std::uint16_t>(i + 1));
    }
    const int xRecordSize = offset;
    const int xKeyFields = keyed ? static_cast<int>(indexed.size()) + header_.numKeyFields : static_cast<int>(indexed.size()) + 2;
    int xKeyWidth = 0;
    for (int i = 0; i < xKeyFields; ++i) xKeyWidth += xf[static_cast<std::size_t>(i)].width;

    // One X record per table record, with the bytes it sorts by.
    struct Entry {
        std::string sortKey;
        std::string record;
        std::size_t indexedLen = 0; //!< the part of sortKey made of the indexed fields
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(total_));
    const auto rs = static_cast<std::size_t>(header_.recordSize);
    std::int64_t tup = 0;
    for (std::size_t c = 0; c < chain_.size(); ++c) {
        const Block& b = loadBlock(chain_[c]);
        for (int slot = 0; slot < counts_[c]; ++slot) {
            const std::uint8_t* rec = &b.bytes[6 + static_cast<std::size_t>(slot) * rs];
            Entry e;
            e.record.resize(static_cast<std::size_t>(xRecordSize));
            auto* out = reinterpret_cast<std::uint8_t*>(e.record.data());
            std::size_t at = 0;
            for (int f : indexed) {
                const FieldDesc& d = header_.fields[static_cast<std::size_t>(f)];
                std::memcpy(out + at, rec + d.offset, static_cast<std::size_t>(d.width));
                appendSortKey(f, rec, ci, e.sortKey);
                at += static_cast<std::size_t>(d.width);
            }
            if (descending)
                for (char& ch : e.sortKey) ch = static_cast<char>(~static_cast<unsigned char>(ch));
            e.indexedLen = e.sortKey.size();
            ++tup;
            if (keyed) {
                const auto kb = static_cast<std::size_t>(keyBytes(header_.numKeyFields));
                std::memcpy(out + at, rec, kb);
                e.sortKey.append(reinterpret_cast<const char*>(rec), kb);
                at += kb;
                encodeInt(out + at, 2, chain_[c]);
            } else {
                encodeInt(out + at, 4, static_cast<std::int32_t>(tup));
                encodeInt(out + at + 4, 2, chain_[c]);
                encodeInt(out + at + 6, 2, static_cast<std::int32_t>(slot * header_.recordSize));
                e.sortKey.append(out + at, out + at + 4);
            }
            entries.push_back(std::move(e));
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.sortKey < b.sortKey; });
    if (def.options & ixUnique) {
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (entries[i].sortKey.compare(0, entries[i].indexedLen, entries[i - 1].sortKey, 0,
                                           entries[i - 1].indexedLen) == 0)
                throw EngineError(ErrorKind::KeyViolation, "Key violation in table " + table +
                                                               ": unique index " + def.name + " has a duplicate value");
    }

    // The X file: header, then the records packed into blocks chained 1..N.
    DataHeaderLayout layout;
    layout.fields = xf;
    layout.fileType = composite ? ((def.options & ixNonMaintained) ? kXgNonMaintained : kXgMaintained)
                              : ((def.options & ixNonMaintained) ? kXnnNonMaintained : kXnnMaintained);
    layout.numKeyFields = xKeyFields;
    layout.version = header_.version;
    layout.codePage = header_.codePage;
    layout.sortOrder = header_.sortOrder;
    layout.sortName = header_.sortName.empty() ? "ascii" : header_.sortName;
    layout.blockSizeCode = header_.blockSize / 1024;
    layout.tableName = xPath.filename().string();
    layout.fieldNumbers = numbers;
    if (composite) layout.indexName = toTable_.convert(def.name);
    layout.indexFieldNumber = indexed.front() + 1;
    layout.changeCount1 = 1;
    layout.changeCount2 = header_.bytes[hdr::kChangeCount2];
    layout.indexStamp = 0xFF;
    layout.xStamp = header_.bytes[hdr::kChangeCount1];
    layout.indexFlags = (ci && composite ? 0x01 : 0) | (descending ? 0x10 : 0) | ((def.options & ixUnique) ? 0x20 : 0);
    std::vector<std::uint8_t> xh = buildDataHeader(layout);
    const std::size_t blockSize = static_cast<std::size_t>(header_.blockSize);
    const std::size_t capacity = (blockSize - 6) / static_cast<std::size_t>(xRecordSize);
    const std::size_t nBlocks = (entries.size() + capacity - 1) / capacity;
    std::vector<std::uint8_t> body(nBlocks * blockSize, 0);
    std::vector<PrimaryIndexEntry> tree;
    for (std::size_t bi = 0; bi < nBlocks; ++bi) {
        std::uint8_t* b = &body[bi * blockSize];
        const std::size_t from = bi * capacity;
        const std::size_t n = std::min(capacity, entries.size() - from);
        writeU16(b, bi + 1 < nBlocks ? static_cast<std::uint16_t>(bi + 2) : 0);
        writeU16(b + 2, static_cast<std::uint16_t>(bi));
        writeU16(b + 4, static_cast<std::uint16_t>((n - 1) * static_cast<std::size_t>(xRecordSize)));
        for (std::size_t r = 0; r < n; ++r)
            std::memcpy(b + 6 + r * static_cast<std::size_t>(xRecordSize), entries[from + r].record.data(),
                        static_cast<std::size_t>(xRecordSize));
        tree.push_back({entries[from].record.substr(0, static_cast<std::size_t>(xKeyWidth)),
                        static_cast<std::uint16_t>(bi + 1), static_cast<std::uint16_t>(n)});
    }
    writeU32(&xh[hdr::kNumRecords], static_cast<std::uint32_t>(entries.size()));
    writeU16(&xh[hdr::kUsedBlocks], static_cast<std::uint16_t>(nBlocks));
    writeU16(&xh[hdr::kFileBlocks], static_cast<std::uint16_t>(nBlocks));
    writeU16(&xh[hdr::kMaxBlocks], static_cast<std::uint16_t>(nBlocks));
    writeU16(&xh[hdr::kFirstBlock], nBlocks ? 1 : 0);
    writeU16(&xh[hdr::kLastBlock], static_cast<std::uint16_t>(nBlocks));
    if (key_ != 0) {
        writeU32(&xh[hdr::kEncryption2], key_);
        for (std::size_t bi = 0; bi < nBlocks; ++bi)
            encryptBlock(&body[bi * blockSize], blockSize, key_, static_cast<std::uint32_t>(bi + 1));
    }
    {
        ReplacementFile out(xPath);
        out.file().writeAt(0, xh.data(), xh.size());
        if (!body.empty()) out.file().writeAt(xh.size(), body.data(), body.size());
        out.commit();
    }

    IndexTreeLayout y;
    y.fileType = composite ? kYgn : kYnn;
    y.keyFields.assign(xf.begin(), xf.begin() + xKeyFields);
    y.version = header_.version;
    y.sortOrder = header_.sortOrder;
    y.stamp = layout.changeCount1;
    y.tableName = layout.tableName;
    y.key = key_;
    std::string yExt = xPath.extension().string();
    yExt[1] = yExt[1] == 'x' ? 'y' : 'Y';
    writeIndexTreeFile(fsys::path(xPath).replace_extension(yExt), y, tree);
}

std::unique_ptr<TableDriver> openParadoxTable(const OpenRequest& request) {
    return std::make_unique<ParadoxTable>(request);
}

} // namespace fieldsmith::engine::paradox
