#include "DBaseTable.h"

#include "../EngineError.h"
#include "../Session.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace fieldsmith::engine::dbase {

namespace {

constexpr std::size_t kCacheBytes = 256 * 1024;

bool isMemoType(const Header& h, char type) {
    if (type == 'M') return true;
    if (h.dialect == Dialect::VisualFoxPro) return type == 'G' || type == 'W' || type == 'P';
    if (h.dialect == Dialect::FoxPro) return type == 'G' || type == 'P';
    return type == 'B' || type == 'G';
}

// The engine's field type of a descriptor.
FieldDef fieldDefFor(const Header& h, const FieldDesc& f) {
    FieldDef d;
    d.name = f.name;
    const bool vfp = h.dialect == Dialect::VisualFoxPro;
    switch (f.type) {
    case 'C':
        d.type = FieldType::ftString;
        d.size = f.length;
        break;
    case 'V':
        d.type = FieldType::ftString;
        d.size = f.length;
        break;
    case 'N':
        if (f.decimals > 0 || f.length > 18) {
            d.type = FieldType::ftFloat;
            d.size = f.decimals;
        } else {
            d.type = f.length <= 4   ? FieldType::ftSmallint
                     : f.length <= 9 ? FieldType::ftInteger
                                     : FieldType::ftLargeint;
        }
        break;
    case 'F':
        d.type = FieldType::ftFloat;
        d.size = f.decimals;
        break;
    case 'D':
        d.type = FieldType::ftDate;
        break;
    case 'L':
        d.type = FieldType::ftBoolean;
        break;
    case 'M':
        d.type = FieldType::ftMemo;
        break;
    case 'I':
        d.type = FieldType::ftInteger;
        break;
    case '+':
        d.type = FieldType::ftAutoInc;
        break;
    case 'O':
        d.type = FieldType::ftFloat;
        break;
    case '@':
        d.type = FieldType::ftTimeStamp;
        break;
    case 'Y':
        d.type = FieldType::ftCurrency;
        break;
    case 'T':
        d.type = FieldType::ftDateTime;
        break;
    case 'B':
        d.type = vfp ? FieldType::ftFloat : FieldType::ftBlob;
        d.size = vfp ? f.decimals : 0;
        break;
    case 'G':
        d.type = FieldType::ftDBaseOle;
        break;
    case 'P':
        d.type = FieldType::ftGraphic;
        break;
    case 'W':
        d.type = FieldType::ftBlob;
        break;
    case 'Q':
        d.type = FieldType::ftVarBytes;
        d.size = f.length;
        break;
    default:
        d.type = FieldType::ftBytes;
        d.size = f.length;
        break;
    }
    return d;
}

} // namespace

// ----------------------------------------------------------------------------- opening

DBaseTable::DBaseTable(const OpenRequest& request)
    : exclusive_(request.exclusive), db_(File::open(request.path)) {
    if (!db_.tryLock(request.exclusive))
        throw EngineError(ErrorKind::Database,
                          "Table " + request.path.string() + " is in use by someone else");
    programCodePage_ = request.session ? request.session->ansiCodePage() : 1252;
    readStructure();
    const int tableCp = header_.codePage > 0 ? header_.codePage : programCodePage_;
    toProgram_ = CodePageConverter(tableCp, programCodePage_);
    toTable_ = CodePageConverter(programCodePage_, tableCp);
    if (request.session) {
        toProgram_.setLossCounter(&request.session->conversionLosses());
        toTable_.setLossCounter(&request.session->conversionLosses());
    }
    upper_ = upperCaseMap(tableCp);
    for (std::size_t k = 0; k < visible_.size(); ++k)
        fieldDefs_[k].name =
            toProgram_.convert(header_.fields[static_cast<std::size_t>(visible_[k])].name);
    openMemoFile();
    readIndexFiles();
    seen_ = stateOnDisk();
}

DBaseTable::~DBaseTable() {
    try {
        close();
    } catch (...) {
    }
}

void DBaseTable::damaged(std::uint64_t offset, const std::string& what) const {
    throw EngineError(ErrorKind::Damaged, "Table file " + db_.path().string() +
                                              " is damaged at offset " + std::to_string(offset) +
                                              ": " + what);
}

std::string DBaseTable::tableName() const {
    return db_.path().filename().string();
}

// Reads the header and the deletion flags of every record. The header's record count is
// trusted as far as the file holds records: a count past the end of a cut-off file shrinks.
void DBaseTable::readStructure() {
    header_ = readHeader(db_);
    visible_.clear();
    fieldDefs_.clear();
    for (std::size_t i = 0; i < header_.fields.size(); ++i) {
        if (header_.fields[i].hidden) continue;
        visible_.push_back(static_cast<int>(i));
        fieldDefs_.push_back(fieldDefFor(header_, header_.fields[i]));
    }
    const std::uint64_t size = db_.size();
    const std::uint64_t fit = (size - header_.headerLength) / header_.recordLength;
    count_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(header_.recordCount, fit));
    scanDeleted();
}

void DBaseTable::scanDeleted() {
    deleted_.clear();
    cacheFirst_ = cacheCount_ = 0;
    const std::size_t rl = header_.recordLength;
    const std::uint32_t perChunk =
        static_cast<std::uint32_t>(std::max<std::size_t>(kCacheBytes / rl, 1));
    std::vector<std::uint8_t> chunk;
    for (std::uint32_t r = 1; r <= count_; r += perChunk) {
        const std::uint32_t n = std::min(perChunk, count_ - r + 1);
        chunk.resize(static_cast<std::size_t>(n) * rl);
        db_.readAt(recordOffset(r), chunk.data(), chunk.size());
        for (std::uint32_t k = 0; k < n; ++k)
            if (chunk[k * rl] == kDeleted) deleted_.push_back(r + k);
    }
}

// The memo file is found by its extension in any case. A missing one leaves the other
// fields readable; a memo value then fails with an error naming the file.
void DBaseTable::openMemoFile() {
    bool hasMemo = false;
    for (const auto& f : header_.fields)
        hasMemo = hasMemo || isMemoType(header_, f.type);
    if (!hasMemo) return;
    if (header_.memo == MemoStyle::None) {
        // Memo fields in a table whose version byte names no memo file: take what is there.
        if (findCompanion(db_.path(), ".DBT"))
            header_.memo = MemoStyle::DBase3;
        else if (findCompanion(db_.path(), ".FPT"))
            header_.memo = MemoStyle::FoxPro;
        else
            return;
    }
    const auto path =
        findCompanion(db_.path(), header_.memo == MemoStyle::FoxPro ? ".FPT" : ".DBT");
    if (path) memo_ = std::make_unique<MemoFile>(*path, header_.memo);
}

DBaseTable::SeenState DBaseTable::stateOnDisk() const {
    SeenState s;
    s.header.resize(32);
    db_.readAt(0, s.header.data(), 32);
    struct stat st {};
    if (::stat(db_.path().c_str(), &st) == 0) {
        s.size = static_cast<std::uint64_t>(st.st_size);
        s.modified = st.st_mtim;
    }
    return s;
}

bool DBaseTable::changedOnDisk() const {
    const SeenState now = stateOnDisk();
    return now.header != seen_.header || now.size != seen_.size ||
           now.modified.tv_sec != seen_.modified.tv_sec ||
           now.modified.tv_nsec != seen_.modified.tv_nsec;
}

// Reads header, deletion flags and index definitions again after another writer.
void DBaseTable::reload() {
    const Header before = header_;
    const std::vector<FieldDef> defs = fieldDefs_;
    readStructure();
    if (header_.recordLength != before.recordLength ||
        header_.headerLength != before.headerLength ||
        header_.fields.size() != before.fields.size())
        damaged(0, "its structure was changed by another program while it was open");
    header_.memo = before.memo;
    fieldDefs_ = defs;
    readIndexFiles();
    seen_ = stateOnDisk();
}

// ---------------------------------------------------------------------------- positions

std::uint64_t DBaseTable::recordOffset(std::uint32_t recno) const {
    return header_.headerLength + static_cast<std::uint64_t>(recno - 1) * header_.recordLength;
}

bool DBaseTable::isDeleted(std::uint32_t recno) const {
    return !deleted_.empty() && std::binary_search(deleted_.begin(), deleted_.end(), recno);
}

bool DBaseTable::locate(std::string_view identity, RecordPos& pos) {
    RecordPos p = 0;
    if (!positionFromIdentity(identity, p) || p < 1 || p > count_ ||
        isDeleted(static_cast<std::uint32_t>(p)))
        return false;
    pos = p;
    return true;
}

void DBaseTable::checkPos(RecordPos pos) const {
    if (pos < 1 || pos > count_)
        throw EngineError(ErrorKind::General,
                          "Record position no longer valid in " + db_.path().string());
}

std::int64_t DBaseTable::recordCount() {
    return static_cast<std::int64_t>(count_) - static_cast<std::int64_t>(deleted_.size());
}

bool DBaseTable::first(RecordPos& pos) {
    for (std::uint32_t r = 1; r <= count_; ++r)
        if (!isDeleted(r)) {
            pos = r;
            return true;
        }
    return false;
}

bool DBaseTable::last(RecordPos& pos) {
    for (std::uint32_t r = count_; r >= 1; --r)
        if (!isDeleted(r)) {
            pos = r;
            return true;
        }
    return false;
}

bool DBaseTable::next(RecordPos& pos) {
    for (RecordPos r = pos + 1; r <= count_; ++r)
        if (!isDeleted(static_cast<std::uint32_t>(r))) {
            pos = r;
            return true;
        }
    return false;
}

bool DBaseTable::prior(RecordPos& pos) {
    for (RecordPos r = std::min<RecordPos>(pos, count_ + 1u); r-- > 1;)
        if (!isDeleted(static_cast<std::uint32_t>(r))) {
            pos = r;
            return true;
        }
    return false;
}

std::int64_t DBaseTable::ordinal(RecordPos pos) {
    checkPos(pos);
    const auto before =
        std::lower_bound(deleted_.begin(), deleted_.end(), static_cast<std::uint32_t>(pos));
    return static_cast<std::int64_t>(pos) - 1 - (before - deleted_.begin());
}

// The record of a live ordinal: the i-th deleted record lies before it exactly when its
// number is at most ordinal + 1 + i, and that test holds for a leading run of them.
bool DBaseTable::at(std::int64_t ord, RecordPos& pos) {
    if (ord < 0 || ord >= recordCount()) return false;
    std::size_t lo = 0, hi = deleted_.size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (static_cast<std::int64_t>(deleted_[mid]) <= ord + 1 + static_cast<std::int64_t>(mid))
            lo = mid + 1;
        else
            hi = mid;
    }
    pos = static_cast<RecordPos>(ord + 1 + static_cast<std::int64_t>(lo));
    return true;
}

// Walks read ahead a chunk of records at a time; a writer reads its mapping directly.
void DBaseTable::read(RecordPos pos, std::uint8_t* raw) {
    checkPos(pos);
    const std::size_t rl = header_.recordLength;
    const auto r = static_cast<std::uint32_t>(pos);
    if (db_.mapped()) {
        db_.readAt(recordOffset(r), raw, rl);
        return;
    }
    if (r < cacheFirst_ || r >= cacheFirst_ + cacheCount_ || cacheFirst_ == 0) {
        const std::uint32_t per =
            static_cast<std::uint32_t>(std::max<std::size_t>(kCacheBytes / rl, 1));
        cacheFirst_ = r;
        cacheCount_ = std::min(per, count_ - r + 1);
        cache_.resize(static_cast<std::size_t>(cacheCount_) * rl);
        db_.readAt(recordOffset(r), cache_.data(), cache_.size());
    }
    std::memcpy(raw, &cache_[static_cast<std::size_t>(r - cacheFirst_) * rl], rl);
}

// ------------------------------------------------------------------------------ changes

// The writer's role: one open at a time writes a table, in this process or another, so
// that the record count, the memo file's free blocks and the production index have one
// keeper. An open that starts writing after another writer finished reads the table again.
WriteAccess DBaseTable::beginWrite() {
    if (db_.holdsWriterLock()) return WriteAccess::Granted;
    if (!header_.readOnlyReason.empty())
        throw EngineError(ErrorKind::General, "Table " + db_.path().string() +
                                                  " cannot be changed: " + header_.readOnlyReason);
    if (!db_.writable())
        throw EngineError(ErrorKind::Database, "Table " + db_.path().string() + " is read-only");
    if (const std::string problem = unmaintainedIndexes(); !problem.empty())
        throw EngineError(ErrorKind::General,
                          "Table " + db_.path().string() + " cannot be changed: " + problem);
    if (!db_.tryWriterLock()) return WriteAccess::Busy;
    bool reloaded = false;
    try {
        if (changedOnDisk()) {
            reload();
            reloaded = true;
        }
        db_.map();
        dropLeftovers();
    } catch (...) {
        db_.releaseWriterLock();
        throw;
    }
    cacheFirst_ = cacheCount_ = 0;
    return reloaded ? WriteAccess::GrantedReloaded : WriteAccess::Granted;
}

// A writer killed while it had the file mapped leaves the room it had reserved, or a
// record the header does not count yet: bytes past the counted records that no reader
// shows. They go, and the end-of-file mark stands right after the last record.
void DBaseTable::dropLeftovers() {
    const std::uint64_t end = recordOffset(count_ + 1);
    if (db_.size() <= end + 1) return;
    db_.truncate(end);
    db_.writeAt(end, &kEndOfFile, 1);
}

void DBaseTable::beginChange() {
    if (!db_.holdsWriterLock()) {
        const WriteAccess access = beginWrite();
        if (access == WriteAccess::Busy)
            throw EngineError(ErrorKind::Database,
                              "Table " + db_.path().string() + " is in use by someone else");
        if (access == WriteAccess::GrantedReloaded)
            throw EngineError(ErrorKind::Database,
                              "Table " + db_.path().string() +
                                  " was changed by another program; open it again");
    }
    if (changed_) return;
    changed_ = true;
    std::uint8_t head[4] = {};
    db_.readAt(0, head, 4);
    stampDate(head);
    db_.writeAt(hdr::kDate, head + hdr::kDate, 3);
}

void DBaseTable::writeRecord(std::uint32_t recno, const std::uint8_t* raw, bool withEndMark) {
    const std::size_t rl = header_.recordLength;
    if (withEndMark) {
        std::vector<std::uint8_t> buf(raw, raw + rl);
        buf.push_back(kEndOfFile);
        db_.writeAt(recordOffset(recno), buf.data(), buf.size());
    } else {
        db_.writeAt(recordOffset(recno), raw, rl);
    }
    cacheFirst_ = cacheCount_ = 0;
}

// The record count, written after the record it makes visible.
void DBaseTable::writeRecordCount() {
    std::uint8_t b[4];
    writeU32(b, count_);
    db_.writeAt(hdr::kRecordCount, b, 4);
}

std::uint32_t DBaseTable::memoBlock(const FieldDesc& f, const std::uint8_t* raw) const {
    const std::uint8_t* p = raw + f.offset;
    if (f.length == 4) return readU32(p); // Visual FoxPro: a binary block number
    std::uint32_t block = 0;
    bool any = false;
    for (int i = 0; i < f.length; ++i) {
        const char c = static_cast<char>(p[i]);
        if (c >= '0' && c <= '9') {
            if (block > 429496728u) return 0;
            block = block * 10 + static_cast<std::uint32_t>(c - '0');
            any = true;
        } else if (c != ' ' && c != '\0') {
            return 0;
        }
    }
    return any ? block : 0;
}

MemoFile& DBaseTable::memoForWriting() {
    if (!memo_) {
        const std::filesystem::path path = companionPath(db_.path(), ".DBT");
        if (header_.memo == MemoStyle::DBase4) {
            MemoFile::createDBase4(path, db_.path().stem().string());
        } else {
            std::vector<std::uint8_t> head(512, 0);
            writeU32(&head[0], 1);
            File f = File::create(path);
            f.writeAt(0, head.data(), head.size());
        }
        memo_ = std::make_unique<MemoFile>(
            path, header_.memo == MemoStyle::DBase4 ? MemoStyle::DBase4 : MemoStyle::DBase3);
    }
    return *memo_;
}

// Stores the pending memo values and puts their block numbers into the record. The blocks
// of the values they replace are returned, to be freed once the record is written.
void DBaseTable::writeMemos(RecordImage& image, std::vector<std::uint32_t>& replaced) {
    for (std::size_t i = 0; i < image.blobs.size() && i < visible_.size(); ++i) {
        if (!image.blobs[i]) continue;
        const FieldDesc& f = header_.fields[static_cast<std::size_t>(visible_[i])];
        std::uint8_t* p = image.raw.data() + f.offset;
        if (const std::uint32_t old = memoBlock(f, image.raw.data())) replaced.push_back(old);
        std::memset(p, ' ', static_cast<std::size_t>(f.length));
        const std::string& data = *image.blobs[i];
        if (data.empty()) continue;
        const std::uint32_t block = memoForWriting().write(data);
        const std::string digits = std::to_string(block);
        std::memcpy(p + f.length - static_cast<int>(digits.size()), digits.data(), digits.size());
    }
}

RecordPos DBaseTable::insert(RecordImage& image) {
    beginChange();
    image.raw[0] = kLive;
    invalidateIndex(nullptr, image.raw.data());
    std::vector<std::uint32_t> replaced;
    writeMemos(image, replaced);
    const std::uint32_t recno = count_ + 1;
    writeRecord(recno, image.raw.data(), true);
    count_ = recno;
    writeRecordCount();
    return recno;
}

RecordPos DBaseTable::update(RecordPos pos, RecordImage& image) {
    beginChange();
    checkPos(pos);
    const auto recno = static_cast<std::uint32_t>(pos);
    std::vector<std::uint8_t> old(header_.recordLength);
    db_.readAt(recordOffset(recno), old.data(), old.size());
    image.raw[0] = old[0];
    std::vector<std::uint32_t> replaced;
    writeMemos(image, replaced);
    invalidateIndex(old.data(), image.raw.data());
    writeRecord(recno, image.raw.data(), false);
    if (memo_)
        for (std::uint32_t block : replaced)
            memo_->release(block);
    return pos;
}

// A delete marks the record; it stays in the file (and in the production index) until the
// table is packed, as in dBase.
bool DBaseTable::remove(RecordPos pos, RecordPos& following, bool& wasLast) {
    beginChange();
    checkPos(pos);
    const auto recno = static_cast<std::uint32_t>(pos);
    const std::uint8_t mark = kDeleted;
    db_.writeAt(recordOffset(recno), &mark, 1);
    cacheFirst_ = cacheCount_ = 0;
    const auto it = std::lower_bound(deleted_.begin(), deleted_.end(), recno);
    if (it == deleted_.end() || *it != recno) deleted_.insert(it, recno);
    if (recordCount() == 0) return false;
    wasLast = false;
    following = pos;
    if (next(following)) return true;
    wasLast = true;
    return last(following);
}

// Brings the production index up to date, flushes every file to the disk and gives up the
// writer's role. The index is written whole through a replacement file; only then does the
// header's production-index flag, cleared by the first change that made the index stale,
// say again that it is to be used.
void DBaseTable::flush() {
    if (!db_.isOpen()) return;
    if (changed_) {
        if (indexStale_ && mdxPath_) {
            rebuildProductionIndex(tags_);
            indexStale_ = false;
        }
        if (indexFlagOff_ && mdxPath_ && !tags_.empty()) {
            db_.sync();
            setProductionIndexFlag(true);
        }
        indexFlagOff_ = false;
        changed_ = false;
    }
    if (db_.holdsWriterLock()) {
        if (memo_) memo_->sync();
        db_.unmapAndSync();
        db_.releaseWriterLock();
        seen_ = stateOnDisk();
    }
}

void DBaseTable::close() {
    if (!db_.isOpen()) return;
    flush();
    memo_.reset();
    db_.close();
}

bool DBaseTable::refresh() {
    if (db_.holdsWriterLock() || !changedOnDisk()) return false;
    reload();
    return true;
}

// A flush writes the production index beside the table through a temporary file: the
// directory must take new files.
void DBaseTable::requireWritableFamily() {
    if (!header_.readOnlyReason.empty())
        throw EngineError(ErrorKind::General, "Table " + db_.path().string() +
                                                  " cannot be changed: " + header_.readOnlyReason);
    if (!db_.writable())
        throw EngineError(ErrorKind::Database, "Table " + db_.path().string() + " is read-only");
    if (const std::string problem = unmaintainedIndexes(); !problem.empty())
        throw EngineError(ErrorKind::General,
                          "Table " + db_.path().string() + " cannot be changed: " + problem);
    if (mdxPath_)
        requireWritableDirectory(db_.path().has_parent_path() ? db_.path().parent_path() : ".");
}

} // namespace fieldsmith::engine::dbase
