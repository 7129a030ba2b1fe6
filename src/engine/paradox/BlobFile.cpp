#include "BlobFile.h"

#include "../EngineError.h"
#include "ParadoxCodec.h"
#include "ParadoxCrypt.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace fieldsmith::engine::paradox {

namespace {
constexpr std::uint32_t kUnit = 4096;
constexpr std::uint32_t kSubThreshold = 2048; // larger blobs get blocks of their own
constexpr int kSlots = 64;
constexpr int kFirstChunk = 0x15; // chunk numbers 0x15..0xFF hold data
constexpr int kLastChunk = 0xFF;
} // namespace

BlobFile::BlobFile(const std::filesystem::path& path, std::uint32_t key)
    : file_(File::open(path)), key_(key) {}

// A writer maps the file; readers read it with positioned reads (see File::map).
void BlobFile::beginWriting() {
    if (!file_.mapped()) file_.map();
}

void BlobFile::finishWriting() {
    file_.unmapAndSync();
}

// Reads clear bytes: an encrypted file is deciphered in whole 256-byte chunks.
void BlobFile::readClear(std::uint64_t offset, void* buf, std::size_t n) const {
    if (key_ == 0) {
        file_.readAt(offset, buf, n);
        return;
    }
    const std::uint64_t from = offset / 256 * 256;
    const std::uint64_t to = (offset + n + 255) / 256 * 256;
    std::vector<std::uint8_t> chunks(static_cast<std::size_t>(to - from));
    file_.readAt(from, chunks.data(), chunks.size());
    decryptBlobChunks(chunks.data(), chunks.size(), key_);
    std::memcpy(buf, chunks.data() + (offset - from), n);
}

void BlobFile::writeClear(std::uint64_t offset, const void* buf, std::size_t n) {
    if (key_ == 0) {
        file_.writeAt(offset, buf, n);
        return;
    }
    const std::uint64_t from = offset / 256 * 256;
    const std::uint64_t to = (offset + n + 255) / 256 * 256;
    std::vector<std::uint8_t> chunks(static_cast<std::size_t>(to - from));
    readClear(from, chunks.data(), chunks.size());
    std::memcpy(chunks.data() + (offset - from), buf, n);
    encryptBlobChunks(chunks.data(), chunks.size(), key_);
    file_.writeAt(from, chunks.data(), chunks.size());
}

void BlobFile::createEmpty(const std::filesystem::path& path, std::uint32_t key) {
    std::array<std::uint8_t, kUnit> h{};
    h[0] = 0;
    writeU16(&h[1], 1);
    writeU16(&h[3], 1); // modification counter
    const std::uint8_t constant[] = {0x82, 0x73, 0x02, 0x00, 0x29, 0x00};
    std::memcpy(&h[5], constant, sizeof constant);
    writeU16(&h[0x0B], 0x1000);
    writeU16(&h[0x0D], 0x1000);
    h[0x10] = 0x10;
    writeU16(&h[0x11], 0x0040);
    writeU16(&h[0x13], 0x0800);
    writeU16(&h[0x29], 0x02A1);
    if (key != 0) encryptBlobChunks(h.data(), h.size(), key);
    File f = File::create(path);
    f.writeAt(0, h.data(), h.size());
    f.sync();
    syncDirectory(path.has_parent_path() ? path.parent_path() : std::filesystem::path("."));
}

void BlobFile::damaged(const std::string& what) const {
    throw EngineError(ErrorKind::Damaged, "Blob file " + file_.path().string() + " is damaged: " + what);
}

std::string BlobFile::read(std::uint32_t locator, std::uint32_t length) const {
    const std::uint32_t blockOffset = locator & 0xFFFFFF00u;
    const std::uint32_t index = locator & 0xFFu;
    const std::uint64_t size = file_.size();
    if (blockOffset == 0 || blockOffset + 3 > size)
        damaged("blob at offset " + std::to_string(blockOffset) + " lies outside the file");
    std::uint8_t head[12];
    readClear(blockOffset, head, sizeof head);
    // The length comes from the record: it is checked against the block before anything
    // is allocated for it.
    if (head[0] == 2) {
        const std::uint32_t units = readU16(&head[1]);
        if (index != 0xFF) damaged("single blob block addressed with slot " + std::to_string(index));
        if (readU32(&head[3]) != length)
            damaged("blob length at offset " + std::to_string(blockOffset) + " does not match its record");
        if (static_cast<std::uint64_t>(length) + 9 > static_cast<std::uint64_t>(units) * kUnit ||
            blockOffset + 9ULL + length > size)
            damaged("blob at offset " + std::to_string(blockOffset) + " runs past its block");
        std::string data(length, '\0');
        readClear(blockOffset + 9, data.data(), length);
        return data;
    }
    if (head[0] == 3) {
        if (index >= kSlots) damaged("slot " + std::to_string(index) + " out of range");
        std::uint8_t slot[5];
        readClear(blockOffset + 12 + 5 * index, slot, sizeof slot);
        const std::uint32_t first = slot[0];
        const std::uint32_t chunks = slot[1];
        if (first == 0) damaged("blob slot " + std::to_string(index) + " at offset " +
                                std::to_string(blockOffset) + " is free");
        const std::uint32_t stored = chunks == 0 ? 0 : (chunks - 1) * 16 + slot[4];
        if (stored != length || first * 16 + length > kUnit)
            damaged("blob slot " + std::to_string(index) + " at offset " +
                    std::to_string(blockOffset) + " does not match its record");
        std::string data(length, '\0');
        readClear(blockOffset + first * 16, data.data(), length);
        return data;
    }
    damaged("record points at a block of type " + std::to_string(head[0]) + " at offset " +
            std::to_string(blockOffset));
}

// Finds the sub-allocated blocks and free runs, once, before the first change.
void BlobFile::scan() {
    if (scanned_) return;
    const std::uint64_t size = file_.size();
    std::uint32_t offset = kUnit;
    while (offset + 3 <= size) {
        std::uint8_t head[3];
        readClear(offset, head, 3);
        std::uint32_t units = readU16(&head[1]);
        if (head[0] == 3 || units == 0) units = 1;
        if (head[0] == 3) subBlocks_.push_back(offset);
        else if (head[0] == 4) freeRuns_[offset] = units;
        offset += units * kUnit;
    }
    endOffset_ = static_cast<std::uint32_t>(std::max<std::uint64_t>(kUnit, (size + kUnit - 1) / kUnit * kUnit));
    scanned_ = true;
}

std::uint16_t BlobFile::nextModification() {
    if (!cacheCleared_) {
        std::uint8_t h[2];
        readClear(3, h, 2);
        modification_ = readU16(h);
        // The free-space cache would no longer match; an empty list is always valid.
        const std::uint8_t zeros[6] = {};
        writeClear(0x38, zeros, sizeof zeros);
        cacheCleared_ = true;
    }
    if (++modification_ == 0) modification_ = 1;
    // The header counts ahead of the blob that takes the number, so that a kill in between
    // never leaves a blob newer than the header says.
    std::uint8_t h[2];
    writeU16(h, modification_);
    writeClear(3, h, 2);
    return modification_;
}


BlobFile::~BlobFile() = default;

// Takes units of 4 KiB from a free run, or from the end of the file.
std::uint32_t BlobFile::allocateUnits(std::uint32_t units) {
    for (auto it = freeRuns_.begin(); it != freeRuns_.end(); ++it) {
        if (it->second < units) continue;
        const std::uint32_t offset = it->first;
        const std::uint32_t rest = it->second - units;
        freeRuns_.erase(it);
        if (rest > 0) {
            const std::uint32_t restOffset = offset + units * kUnit;
            std::uint8_t head[3] = {4, 0, 0};
            writeU16(&head[1], static_cast<std::uint16_t>(rest));
            writeClear(restOffset, head, 3);
            freeRuns_[restOffset] = rest;
        }
        return offset;
    }
    const std::uint32_t offset = endOffset_;
    endOffset_ += units * kUnit;
    return offset;
}

bool BlobFile::placeInSubBlock(std::uint32_t blockOffset, std::string_view data, Stored& out) {
    const int need = static_cast<int>((data.size() + 15) / 16);
    // A block known to lack a free slot or a long enough run of chunks is not read again.
    if (auto known = room_.find(blockOffset);
        known != room_.end() && (known->second.freeSlots == 0 || known->second.longestRun < need))
        return false;
    if (subOffset_ != blockOffset) {
        subBlock_.resize(kUnit);
        readClear(blockOffset, subBlock_.data(), kUnit);
        subOffset_ = blockOffset;
    }
    std::vector<std::uint8_t>& b = subBlock_;
    if (b[0] != 3) return false;
    // Slots are taken from the highest number down; chunks first fit.
    int freeSlot = -1, freeSlots = 0;
    std::array<bool, 256> used{};
    for (int s = kSlots - 1; s >= 0; --s) {
        const std::uint8_t* e = &b[12 + 5 * static_cast<std::size_t>(s)];
        if (e[0] == 0) {
            if (freeSlot < 0) freeSlot = s;
            ++freeSlots;
            continue;
        }
        for (int c = e[0]; c < e[0] + e[1] && c < 256; ++c) used[static_cast<std::size_t>(c)] = true;
    }
    int run = 0, longest = 0, start = -1;
    for (int c = kFirstChunk; c <= kLastChunk; ++c) {
        run = used[static_cast<std::size_t>(c)] ? 0 : run + 1;
        longest = std::max(longest, run);
        if (run == need && start < 0) start = c - need + 1;
    }
    if (freeSlot < 0 || start < 0) {
        room_[blockOffset] = {freeSlots, longest};
        return false;
    }
    room_.erase(blockOffset); // changes now; looked at afresh next time
    const std::uint16_t mod = nextModification();
    const std::size_t at = static_cast<std::size_t>(start) * 16;
    std::memcpy(&b[at], data.data(), data.size());
    std::memset(&b[at + data.size()], 0, static_cast<std::size_t>(need) * 16 - data.size());
    std::uint8_t* e = &b[12 + 5 * static_cast<std::size_t>(freeSlot)];
    e[0] = static_cast<std::uint8_t>(start);
    e[1] = static_cast<std::uint8_t>(need);
    writeU16(&e[2], mod);
    e[4] = static_cast<std::uint8_t>(data.size() - static_cast<std::size_t>(need - 1) * 16);
    // The data first, then the slot that points at it.
    writeClear(blockOffset + at, &b[at], static_cast<std::size_t>(need) * 16);
    writeClear(blockOffset + 12 + 5 * static_cast<std::uint32_t>(freeSlot), e, 5);
    out = {blockOffset | static_cast<std::uint32_t>(freeSlot), mod};
    return true;
}

BlobFile::Stored BlobFile::write(std::string_view data) {
    beginWriting();
    scan();
    Stored out;
    if (data.size() <= kSubThreshold) {
        // Newest sub-allocated blocks first: they are the likeliest to have room.
        for (auto it = subBlocks_.rbegin(); it != subBlocks_.rend(); ++it)
            if (placeInSubBlock(*it, data, out)) return out;
        const std::uint32_t offset = allocateUnits(1);
        std::array<std::uint8_t, kUnit> b{};
        b[0] = 3;
        writeU16(&b[1], 1);
        writeClear(offset, b.data(), b.size());
        subBlocks_.push_back(offset);
        subOffset_ = 0;
        if (!placeInSubBlock(offset, data, out)) damaged("cannot place a small blob");
        return out;
    }
    const auto units = static_cast<std::uint32_t>((data.size() + 9 + kUnit - 1) / kUnit);
    if (units > 0xFFFF) throw EngineError(ErrorKind::General, "Blob too large for " + file_.path().string());
    const std::uint32_t offset = allocateUnits(units);
    const std::uint16_t mod = nextModification();
    std::vector<std::uint8_t> b(static_cast<std::size_t>(units) * kUnit, 0);
    b[0] = 2;
    writeU16(&b[1], static_cast<std::uint16_t>(units));
    writeU32(&b[3], static_cast<std::uint32_t>(data.size()));
    writeU16(&b[7], mod);
    std::memcpy(&b[9], data.data(), data.size());
    writeClear(offset, b.data(), b.size());
    return {offset | 0xFFu, mod};
}

void BlobFile::release(std::uint32_t locator) {
    if (locator == 0) return;
    beginWriting();
    scan();
    const std::uint32_t blockOffset = locator & 0xFFFFFF00u;
    const std::uint32_t index = locator & 0xFFu;
    if (blockOffset + 3 > file_.size()) return;
    std::uint8_t head[3];
    readClear(blockOffset, head, 3);
    if (head[0] == 2 && index == 0xFF) {
        head[0] = 4;
        writeClear(blockOffset, head, 1);
        freeRuns_[blockOffset] = std::max<std::uint32_t>(1, readU16(&head[1]));
        return;
    }
    if (head[0] != 3 || index >= kSlots) return;
    if (subOffset_ == blockOffset) subOffset_ = 0;
    room_.erase(blockOffset);
    std::array<std::uint8_t, kUnit> b{};
    readClear(blockOffset, b.data(), b.size());
    std::uint8_t* e = &b[12 + 5 * index];
    e[0] = 0;
    e[2] = e[3] = 0;
    bool anyUsed = false;
    for (int s = 0; s < kSlots; ++s) anyUsed = anyUsed || b[12 + 5 * s] != 0;
    if (!anyUsed) {
        b[0] = 4;
        writeU16(&b[1], 1);
        subBlocks_.erase(std::remove(subBlocks_.begin(), subBlocks_.end(), blockOffset), subBlocks_.end());
        freeRuns_[blockOffset] = 1;
    }
    writeClear(blockOffset, b.data(), 12 + 5 * kSlots);
}

} // namespace fieldsmith::engine::paradox
