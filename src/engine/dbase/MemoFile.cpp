#include "MemoFile.h"

#include "../EngineError.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace fieldsmith::engine::dbase {

namespace {

constexpr std::uint8_t kDBase4Marker[4] = {0xFF, 0xFF, 0x08, 0x00};
constexpr std::uint32_t kMaxChainSteps = 1u << 20;

} // namespace

MemoFile::MemoFile(const std::filesystem::path& path, MemoStyle style)
    : file_(File::open(path)), style_(style) {
    std::uint8_t head[24] = {};
    file_.readAt(0, head, sizeof head);
    if (style_ == MemoStyle::DBase4) {
        const std::uint16_t size = readU16(head + 20);
        blockSize_ = size == 0 ? 512 : size;
        if (blockSize_ < 64 || blockSize_ % 64 != 0)
            damaged(0, "the block size " + std::to_string(blockSize_) + " is not a multiple of 64");
    } else if (style_ == MemoStyle::FoxPro) {
        blockSize_ = static_cast<std::uint32_t>((head[6] << 8) | head[7]);
        if (blockSize_ == 0) blockSize_ = 1; // "SET BLOCKSIZE TO 0": byte-sized blocks
        if (blockSize_ <= 32 && blockSize_ > 1) blockSize_ *= 512; // sizes given in 512-byte units
    }
}

void MemoFile::createDBase4(const std::filesystem::path& path, const std::string& tableStem) {
    std::vector<std::uint8_t> head(512, 0);
    writeU32(&head[0], 1);
    const std::string stem = tableStem.substr(0, 8);
    std::memcpy(&head[8], stem.data(), stem.size());
    head[18] = 0x02;
    head[19] = 0x01;
    writeU16(&head[20], 512);
    File f = File::create(path);
    f.writeAt(0, head.data(), head.size());
    f.sync();
}

void MemoFile::damaged(std::uint32_t block, const std::string& what) const {
    throw EngineError(ErrorKind::Damaged, "Memo file " + file_.path().string() +
                                              " is damaged at block " + std::to_string(block) +
                                              ": " + what);
}

std::uint32_t MemoFile::endBlock() const {
    const std::uint64_t blocks = (file_.size() + blockSize_ - 1) / blockSize_;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, 0xFFFFFFFFu));
}

std::uint32_t MemoFile::blocksFor(std::size_t bytes) const {
    return static_cast<std::uint32_t>((bytes + blockSize_ - 1) / blockSize_);
}

// ------------------------------------------------------------------------------ reading

// A dBase III+ value: the bytes up to the first 0x1A, or to the end of the file.
std::string MemoFile::readUntilTerminator(std::uint64_t offset) {
    const std::uint64_t size = file_.size();
    std::string out;
    char chunk[4096];
    while (offset < size) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, size - offset));
        file_.readAt(offset, chunk, n);
        const void* end = std::memchr(chunk, kEndOfFile, n);
        if (end) {
            out.append(chunk, static_cast<std::size_t>(static_cast<const char*>(end) - chunk));
            return out;
        }
        out.append(chunk, n);
        offset += n;
    }
    return out;
}

std::string MemoFile::read(std::uint32_t block) {
    if (block == 0) damaged(block, "a record points to the file header");
    const std::uint64_t offset = static_cast<std::uint64_t>(block) * blockSize_;
    const std::uint64_t size = file_.size();
    if (offset >= size)
        damaged(block,
                "a record points past the end of the file (" + std::to_string(size) + " bytes)");
    if (style_ == MemoStyle::DBase3) return readUntilTerminator(offset);
    std::uint8_t head[8];
    file_.readAt(offset, head, sizeof head);
    std::uint64_t length = 0;
    std::uint64_t start = offset + 8;
    if (style_ == MemoStyle::FoxPro) {
        length = readU32BigEndian(head + 4);
    } else {
        // Other writers put dBase III+ values into dBase IV files; those have no marker.
        if (std::memcmp(head, kDBase4Marker, 4) != 0) return readUntilTerminator(offset);
        const std::uint32_t stored = readU32(head + 4);
        if (stored < 8)
            damaged(block, "the value claims " + std::to_string(stored) + " bytes with its header");
        length = stored - 8;
    }
    if (start + length > size)
        damaged(block,
                "the value claims " + std::to_string(length) + " bytes, more than the file holds");
    std::string out(static_cast<std::size_t>(length), '\0');
    file_.readAt(start, out.data(), out.size());
    return out;
}

// ------------------------------------------------------------------------------ writing

std::uint32_t MemoFile::write(std::string_view data) {
    if (style_ == MemoStyle::DBase3) return writeDBase3(data);
    if (style_ == MemoStyle::DBase4) return writeDBase4(data);
    throw EngineError(ErrorKind::General,
                      "Memo file " + file_.path().string() + " is read only in this program");
}

// dBase III+: the value goes to the next free block (never before the end of the file),
// followed by two 0x1A; then the header's next-block pointer moves past it.
std::uint32_t MemoFile::writeDBase3(std::string_view data) {
    std::uint8_t head[4];
    file_.readAt(0, head, 4);
    const std::uint32_t block = std::max({readU32(head), endBlock(), 1u});
    std::string bytes(data);
    bytes += "\x1A\x1A";
    bytes.resize(static_cast<std::size_t>(blocksFor(bytes.size())) * blockSize_, '\0');
    file_.writeAt(static_cast<std::uint64_t>(block) * blockSize_, bytes.data(), bytes.size());
    writeU32(head, block + blocksFor(bytes.size()));
    file_.writeAt(0, head, 4);
    return block;
}

bool MemoFile::readFreeChain(std::vector<FreeRun>& runs) {
    runs.clear();
    const std::uint32_t end = endBlock();
    std::uint8_t head[8];
    file_.readAt(0, head, 4);
    std::uint32_t at = readU32(head);
    std::uint32_t previousEnd = 1;
    while (at < end) {
        if (at < previousEnd || runs.size() >= kMaxChainSteps) return false;
        file_.readAt(static_cast<std::uint64_t>(at) * blockSize_, head, 8);
        // A value's first block is no free run, whatever a header points to.
        if (std::memcmp(head, kDBase4Marker, 4) == 0) return false;
        FreeRun r{at, readU32(head), readU32(head + 4)};
        if (r.count == 0 || r.count > end - at || r.next <= at) return false;
        runs.push_back(r);
        previousEnd = at + r.count;
        at = r.next;
    }
    return true;
}

void MemoFile::setNext(std::uint32_t runAt, std::uint32_t next) {
    std::uint8_t b[4];
    writeU32(b, next);
    file_.writeAt(static_cast<std::uint64_t>(runAt) * blockSize_, b, 4);
}

void MemoFile::writeRun(const FreeRun& run) {
    std::uint8_t b[8];
    writeU32(b, run.next);
    writeU32(b + 4, run.count);
    file_.writeAt(static_cast<std::uint64_t>(run.at) * blockSize_, b, 8);
}

// dBase IV: the first free run large enough takes the value (the rest of the run stays
// free); else the value goes to the end of the file. The chain is changed before the
// blocks are written, so that a kill in between leaves unused blocks, never a free run
// holding a value.
std::uint32_t MemoFile::writeDBase4(std::string_view data) {
    const std::uint32_t need = blocksFor(data.size() + 8);
    std::vector<FreeRun> runs;
    const bool sound = readFreeChain(runs);
    std::uint32_t block = 0;
    if (sound) {
        for (std::size_t i = 0; i < runs.size() && block == 0; ++i) {
            if (runs[i].count < need) continue;
            const FreeRun r = runs[i];
            const std::uint32_t previous = i == 0 ? 0 : runs[i - 1].at;
            std::uint32_t successor = r.next;
            if (r.count > need) {
                successor = r.at + need;
                writeRun({successor, r.next, r.count - need});
            }
            setNext(previous, successor);
            block = r.at;
        }
    }
    const std::uint32_t end = endBlock();
    if (block == 0) {
        block = std::max(end, 1u);
        // The chain's end moves past the new blocks: the last run's link, or the header.
        const std::uint32_t last = sound && !runs.empty() ? runs.back().at : 0;
        setNext(last, block + need);
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(need) * blockSize_, 0);
    std::memcpy(bytes.data(), kDBase4Marker, 4);
    writeU32(&bytes[4], static_cast<std::uint32_t>(data.size() + 8));
    if (!data.empty()) std::memcpy(&bytes[8], data.data(), data.size());
    file_.writeAt(static_cast<std::uint64_t>(block) * blockSize_, bytes.data(), bytes.size());
    return block;
}

// Puts a value's blocks into the chain in block order, merged with a free neighbour. The
// run's own header is written before anything links to it.
void MemoFile::release(std::uint32_t block) {
    if (style_ != MemoStyle::DBase4 || block == 0) return;
    const std::uint32_t end = endBlock();
    if (block >= end) return;
    std::uint8_t head[8];
    file_.readAt(static_cast<std::uint64_t>(block) * blockSize_, head, 8);
    if (std::memcmp(head, kDBase4Marker, 4) != 0) return; // not a value we can measure
    const std::uint32_t count = blocksFor(readU32(head + 4));
    if (count == 0 || count > end - block) return;
    std::vector<FreeRun> runs;
    if (!readFreeChain(runs)) return; // an unsound chain gets nothing more added
    std::size_t i = 0;
    while (i < runs.size() && runs[i].at < block)
        ++i;
    if (i > 0 && runs[i - 1].at + runs[i - 1].count > block) return; // already free
    if (i < runs.size() && block + count > runs[i].at) return;
    FreeRun run{block, i < runs.size() ? runs[i].at : end, count};
    if (i < runs.size() && block + count == runs[i].at) {
        run.next = runs[i].next;
        run.count += runs[i].count;
    }
    if (i > 0 && runs[i - 1].at + runs[i - 1].count == block) {
        FreeRun& before = runs[i - 1];
        before.count += run.count;
        before.next = run.next;
        writeRun(before);
        return;
    }
    writeRun(run);
    setNext(i == 0 ? 0 : runs[i - 1].at, block);
}

} // namespace fieldsmith::engine::dbase
