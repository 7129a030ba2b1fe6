#include "PrimaryIndex.h"

#include "../EngineError.h"
#include "../FileIo.h"
#include "ParadoxCodec.h"
#include "ParadoxCrypt.h"

#include <cstring>

namespace fieldsmith::engine::paradox {

void writePrimaryIndexFile(const std::filesystem::path& pxPath, const Header& table,
                           const std::vector<PrimaryIndexEntry>& entries) {
    IndexTreeLayout layout;
    layout.fileType = kPrimaryIndex;
    layout.keyFields.assign(table.fields.begin(), table.fields.begin() + table.numKeyFields);
    layout.version = table.version;
    layout.sortOrder = table.bytes[hdr::kSortOrder];
    layout.stamp = table.bytes[hdr::kChangeCount1];
    layout.counter12 = readU16(&table.bytes[hdr::kUnknown12]) + 1;
    layout.tableName = pxPath.stem().string() + ".DB";
    layout.key = table.encryptionKey;
    writeIndexTreeFile(pxPath, layout, entries);
}

void writeIndexTreeFile(const std::filesystem::path& pxPath, const IndexTreeLayout& layout,
                        const std::vector<PrimaryIndexEntry>& entries) {
    const int k = static_cast<int>(layout.keyFields.size());
    int keyWidth = 0;
    for (const auto& f : layout.keyFields) keyWidth += f.width;
    const int recordSize = keyWidth + 6;

    // Pick the smallest block size that keeps the tree at two levels, as other readers
    // of the format only follow two.
    int code = 2;
    std::size_t perBlock = 0;
    for (int c : {2, 4, 8, 16, 32}) {
        code = c;
        perBlock = static_cast<std::size_t>((c * 1024 - 6) / recordSize);
        if (entries.size() <= perBlock * perBlock) break;
    }
    const std::size_t blockSize = static_cast<std::size_t>(code) * 1024;
    if (perBlock < 2) throw EngineError("Primary key of " + pxPath.string() + " is too wide");

    // Level 1 entries point at data blocks; level 2 (when needed) at level-1 blocks.
    std::vector<std::vector<PrimaryIndexEntry>> level1;
    for (std::size_t i = 0; i < entries.size(); i += perBlock)
        level1.emplace_back(entries.begin() + static_cast<std::ptrdiff_t>(i),
                            entries.begin() + static_cast<std::ptrdiff_t>(std::min(entries.size(), i + perBlock)));
    std::vector<std::vector<PrimaryIndexEntry>> blocks; // in file order: root first
    int levels = 0;
    if (level1.size() == 1) {
        blocks = level1;
        levels = 1;
    } else if (level1.size() > 1) {
        if (level1.size() > perBlock)
            throw EngineError("Table too large for a two-level primary index: " + pxPath.string());
        std::vector<PrimaryIndexEntry> root;
        for (std::size_t i = 0; i < level1.size(); ++i) {
            unsigned sum = 0;
            for (const auto& e : level1[i]) sum += e.count;
            root.push_back({level1[i].front().key, static_cast<std::uint16_t>(i + 2),
                            static_cast<std::uint16_t>(std::min(sum, 32767u))});
        }
        blocks.push_back(root);
        for (auto& b : level1) blocks.push_back(b);
        levels = 2;
    }
    std::size_t totalEntries = 0;
    for (const auto& b : blocks) totalEntries += b.size();

    const std::size_t tableNameLen = layout.version >= 12 ? 261 : 79;
    std::vector<std::uint8_t> h(0x800, 0);
    writeU16(&h[hdr::kRecordSize], static_cast<std::uint16_t>(recordSize));
    writeU16(&h[hdr::kHeaderSize], 0x800);
    h[hdr::kFileType] = static_cast<std::uint8_t>(layout.fileType);
    h[hdr::kBlockSizeCode] = static_cast<std::uint8_t>(code);
    writeU32(&h[hdr::kNumRecords], static_cast<std::uint32_t>(totalEntries));
    const auto n = static_cast<std::uint16_t>(blocks.size());
    writeU16(&h[hdr::kUsedBlocks], n);
    writeU16(&h[hdr::kFileBlocks], n);
    writeU16(&h[hdr::kFirstBlock], n ? 1 : 0);
    writeU16(&h[hdr::kLastBlock], n);
    writeU16(&h[hdr::kUnknown12], static_cast<std::uint16_t>(layout.counter12));
    writeU16(&h[hdr::kIndexRoot], 1);
    h[hdr::kIndexLevels] = static_cast<std::uint8_t>(levels);
    writeU16(&h[hdr::kNumFields], static_cast<std::uint16_t>(k));
    h[hdr::kSortOrder] = static_cast<std::uint8_t>(layout.sortOrder);
    h[hdr::kIndexStamp] = static_cast<std::uint8_t>(layout.stamp);
    h[hdr::kFileVersion] = static_cast<std::uint8_t>(layout.version);
    writeU16(&h[hdr::kMaxBlocks], n);
    writeU32(&h[hdr::kAutoInc], 1);
    writeU16(&h[hdr::kRealHeaderSize], static_cast<std::uint16_t>(0x58 + 2 * k + 4 + tableNameLen));
    for (int i = 0; i < k; ++i) {
        h[0x58 + 2 * static_cast<std::size_t>(i)] = layout.keyFields[static_cast<std::size_t>(i)].code;
        h[0x58 + 2 * static_cast<std::size_t>(i) + 1] = layout.keyFields[static_cast<std::size_t>(i)].size;
    }
    const std::string& name = layout.tableName;
    std::memcpy(&h[0x58 + 2 * static_cast<std::size_t>(k) + 4], name.data(), std::min(name.size(), tableNameLen - 1));

    std::vector<std::uint8_t> body(blocks.size() * blockSize, 0);
    for (std::size_t bi = 0; bi < blocks.size(); ++bi) {
        std::uint8_t* b = &body[bi * blockSize];
        writeU16(b + 0, bi + 1 < blocks.size() ? static_cast<std::uint16_t>(bi + 2) : 0);
        writeU16(b + 2, static_cast<std::uint16_t>(bi));
        writeU16(b + 4, static_cast<std::uint16_t>((static_cast<int>(blocks[bi].size()) - 1) * recordSize));
        std::uint8_t* p = b + 6;
        for (const auto& e : blocks[bi]) {
            std::memcpy(p, e.key.data(), static_cast<std::size_t>(keyWidth));
            encodeInt(p + keyWidth, 2, e.block);
            encodeInt(p + keyWidth + 2, 2, e.count);
            encodeInt(p + keyWidth + 4, 2, 0);
            p += recordSize;
        }
    }
    if (layout.key != 0) {
        writeU32(&h[hdr::kEncryption1], layout.key);
        for (std::size_t bi = 0; bi < blocks.size(); ++bi)
            encryptBlock(&body[bi * blockSize], blockSize, layout.key, static_cast<std::uint32_t>(bi + 1));
    }
    ReplacementFile out(pxPath);
    out.file().writeAt(0, h.data(), h.size());
    if (!body.empty()) out.file().writeAt(h.size(), body.data(), body.size());
    out.commit();
}

} // namespace fieldsmith::engine::paradox
