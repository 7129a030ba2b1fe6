#include "ParadoxHeader.h"

#include "../EngineError.h"
#include "ParadoxCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace fieldsmith::engine::paradox {

int fieldWidth(std::uint8_t code, std::uint8_t size) {
    switch (code) {
    case 0x01: return size >= 1 ? size : 0;
    case 0x02: case 0x04: case 0x14: case 0x16: return 4;
    case 0x03: return 2;
    case 0x05: case 0x06: case 0x15: return 8;
    case 0x09: return 1;
    case 0x0C: return size >= 11 ? size : 0;
    case 0x0D: case 0x0E: case 0x0F: case 0x10: return size >= 10 ? size : 0;
    case 0x17: return 17;
    case 0x18: return size >= 1 ? size : 0;
    default: return 0;
    }
}

FieldType fieldTypeForCode(std::uint8_t code) {
    switch (code) {
    case 0x01: return FieldType::ftString;
    case 0x02: return FieldType::ftDate;
    case 0x03: return FieldType::ftSmallint;
    case 0x04: return FieldType::ftInteger;
    case 0x05: return FieldType::ftCurrency;
    case 0x06: return FieldType::ftFloat;
    case 0x09: return FieldType::ftBoolean;
    case 0x0C: return FieldType::ftMemo;
    case 0x0D: return FieldType::ftBlob;
    case 0x0E: return FieldType::ftFmtMemo;
    case 0x0F: return FieldType::ftParadoxOle;
    case 0x10: return FieldType::ftGraphic;
    case 0x14: return FieldType::ftTime;
    case 0x15: return FieldType::ftDateTime;
    case 0x16: return FieldType::ftAutoInc;
    case 0x17: return FieldType::ftBCD;
    case 0x18: return FieldType::ftBytes;
    default: return FieldType::ftUnknown;
    }
}

int codePageFor(int version, int codePageField, int sortOrder, const std::string& sortName) {
    if (version >= 5 && codePageField > 0) return codePageField;
    if (sortName == "BLROM800") return kHpRoman8;
    switch (sortOrder) {
    case 0x54: return 850;
    case 0xC0: return 866;
    case 0x82: case 0xE6: return 865;
    case 0x4C: case 0x62: case 0x11: case 0x5D: return 1252;
    default: return 437;
    }
}

Header readDataHeader(const std::filesystem::path& path, const std::vector<std::uint8_t>& head,
                      std::uint64_t fileSize) {
    auto damaged = [&](const std::string& what) -> EngineError {
        return EngineError(ErrorKind::Damaged, "Table file " + path.string() + " is damaged: " + what);
    };
    if (head.size() < 0x58) throw damaged("too short for a header (" + std::to_string(head.size()) + " bytes)");
    Header h;
    const std::uint8_t* b = head.data();
    h.recordSize = readU16(b + hdr::kRecordSize);
    h.headerSize = readU16(b + hdr::kHeaderSize);
    h.fileType = b[hdr::kFileType];
    const int code = b[hdr::kBlockSizeCode];
    h.version = b[hdr::kFileVersion];
    const int numFields = readU16(b + hdr::kNumFields);
    h.numKeyFields = readU16(b + hdr::kNumKeyFields);
    h.sortOrder = b[hdr::kSortOrder];
    if (h.fileType > 8) throw damaged("unknown file type " + std::to_string(h.fileType));
    if (code < 1 || code > 32) throw damaged("block size code " + std::to_string(code));
    if (h.version < 3 || h.version > 15) throw damaged("format version " + std::to_string(h.version));
    if (h.recordSize <= 0) throw damaged("record size 0");
    if (h.headerSize < 0x58 || static_cast<std::uint64_t>(h.headerSize) > fileSize ||
        static_cast<std::size_t>(h.headerSize) > head.size())
        throw damaged("header size " + std::to_string(h.headerSize));
    if (numFields < 1 || numFields > 255) throw damaged("field count " + std::to_string(numFields));
    if (h.numKeyFields > numFields) throw damaged("key field count " + std::to_string(h.numKeyFields));
    h.blockSize = code * 1024;
    if (h.recordSize > h.blockSize - 6)
        throw damaged("record size " + std::to_string(h.recordSize) + " exceeds the block size");

    const bool extended = h.version >= 5;
    const std::size_t end = static_cast<std::size_t>(h.headerSize);
    std::size_t p = extended ? 0x78 : 0x58;
    if (p + 2 * static_cast<std::size_t>(numFields) > end) throw damaged("field descriptors past the header");
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        FieldDesc f;
        f.code = b[p + 2 * static_cast<std::size_t>(i)];
        f.size = b[p + 2 * static_cast<std::size_t>(i) + 1];
        f.width = fieldWidth(f.code, f.size);
        if (f.width == 0)
        {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", f.code);
            throw damaged("field " + std::to_string(i + 1) + " has type " + code + " size " +
                          std::to_string(f.size));
        }
        f.offset = offset;
        offset += f.width;
        h.fields.push_back(f);
    }
    if (offset != h.recordSize)
        throw damaged("fields add up to " + std::to_string(offset) + " bytes, records have " +
                      std::to_string(h.recordSize));
    const std::uint32_t enc1 = readU32(b + hdr::kEncryption1);
    h.encryptionKey = (enc1 == 0xFF00FF00u && extended) ? readU32(b + hdr::kEncryption2) : enc1;

    // Names follow the descriptors, the pointers and the table name.
    const std::size_t tableNameLen = h.version >= 12 ? 261 : 79;
    p += 2 * static_cast<std::size_t>(numFields) + 4 + 4 * static_cast<std::size_t>(numFields) + tableNameLen;
    for (auto& f : h.fields) {
        std::size_t q = p;
        while (q < end && b[q] != 0) ++q;
        if (q >= end) throw damaged("field names run past the header");
        f.name.assign(reinterpret_cast<const char*>(b + p), q - p);
        p = q + 1;
    }
    if (extended) {
        const std::size_t numbersAt = 0x58 + static_cast<std::size_t>(readU16(b + hdr::kFieldNumbersOfs));
        if (numbersAt + 2 * static_cast<std::size_t>(numFields) <= end)
            for (int i = 0; i < numFields; ++i)
                h.fieldNumbers.push_back(readU16(b + numbersAt + 2 * static_cast<std::size_t>(i)));
        const std::size_t sortAt = 0x58 + static_cast<std::size_t>(readU16(b + hdr::kSortNameOfs));
        if (sortAt > 0x58) {
            std::size_t q = sortAt;
            while (q < end && b[q] != 0) ++q;
            if (q < end) h.sortName.assign(reinterpret_cast<const char*>(b + sortAt), q - sortAt);
        }
        const std::size_t nameOfs = readU16(b + hdr::kIndexNameOfs);
        if (nameOfs != 0) {
            std::size_t q = 0x58 + nameOfs;
            const std::size_t start = q;
            while (q < end && b[q] != 0) ++q;
            if (q < end) h.indexName.assign(reinterpret_cast<const char*>(b + start), q - start);
        }
    }
    h.codePage = codePageFor(h.version, extended ? readU16(b + hdr::kCodePage) : 0, h.sortOrder, h.sortName);
    h.bytes.assign(head.begin(), head.begin() + static_cast<std::ptrdiff_t>(end));
    return h;
}

std::vector<std::uint8_t> buildDataHeader(const DataHeaderLayout& layout) {
    const std::size_t n = layout.fields.size();
    const std::size_t tableNameLen = layout.version >= 12 ? 261 : 79;
    int recordSize = 0;
    for (const auto& f : layout.fields) recordSize += f.width;
    std::size_t namesLen = 0;
    for (const auto& f : layout.fields) namesLen += f.name.size() + 1;
    const std::size_t namesAt = 0x78 + 2 * n + 4 + 4 * n + tableNameLen;
    const std::size_t numbersAt = namesAt + namesLen;
    const std::size_t sortAt = numbersAt + 2 * n;
    const std::size_t indexNameAt = sortAt + layout.sortName.size() + 1;
    const std::size_t real = indexNameAt + (layout.indexName.empty() ? 0 : layout.indexName.size() + 1);
    const std::size_t headerSize = (real + 0x7FF) / 0x800 * 0x800;

    std::vector<std::uint8_t> h(headerSize, 0);
    writeU16(&h[hdr::kRecordSize], static_cast<std::uint16_t>(recordSize));
    writeU16(&h[hdr::kHeaderSize], static_cast<std::uint16_t>(headerSize));
    h[hdr::kFileType] = static_cast<std::uint8_t>(layout.fileType);
    h[hdr::kBlockSizeCode] = static_cast<std::uint8_t>(layout.blockSizeCode);
    writeU16(&h[hdr::kUnknown12], 3);
    h[hdr::kIndexFieldNumber] = static_cast<std::uint8_t>(layout.indexFieldNumber);
    if (layout.fileType != kUnkeyedDb) writeU32(&h[hdr::kWorkspace], 0x00010001u);
    writeU16(&h[hdr::kNumFields], static_cast<std::uint16_t>(n));
    writeU16(&h[hdr::kNumKeyFields], static_cast<std::uint16_t>(layout.numKeyFields));
    writeU32(&h[hdr::kEncryption1], 0xFF00FF00u);
    h[hdr::kSortOrder] = static_cast<std::uint8_t>(layout.sortOrder);
    h[hdr::kIndexStamp] = static_cast<std::uint8_t>(layout.indexStamp);
    h[hdr::kChangeCount1] = static_cast<std::uint8_t>(layout.changeCount1);
    h[hdr::kChangeCount2] = static_cast<std::uint8_t>(layout.changeCount2);
    h[hdr::kXStamp] = static_cast<std::uint8_t>(layout.xStamp);
    h[hdr::kFileVersion] = static_cast<std::uint8_t>(layout.version);
    h[0x3E] = 0x1F;
    h[0x3F] = 0x0F;
    writeU16(&h[hdr::kRealHeaderSize], static_cast<std::uint16_t>(real));
    h[hdr::kIndexFlags] = static_cast<std::uint8_t>(layout.indexFlags);
    h[0x56] = 0x20;
    writeU16(&h[0x58], static_cast<std::uint16_t>(0x0100 | layout.version));
    writeU16(&h[0x5A], static_cast<std::uint16_t>(0x0100 | layout.version));
    writeU32(&h[hdr::kUpdateTime], static_cast<std::uint32_t>(std::time(nullptr)));
    writeU16(&h[hdr::kHiFieldId], static_cast<std::uint16_t>(n + 1));
    writeU16(&h[hdr::kFieldNumbersOfs], static_cast<std::uint16_t>(numbersAt - 0x58));
    if (!layout.indexName.empty()) writeU16(&h[hdr::kIndexNameOfs], static_cast<std::uint16_t>(indexNameAt - 0x58));
    writeU16(&h[hdr::kCodePage], static_cast<std::uint16_t>(layout.codePage));
    h[0x6C] = 1;
    h[0x6D] = 1;
    writeU16(&h[hdr::kSortNameOfs], static_cast<std::uint16_t>(sortAt - 0x58));
    writeU16(&h[0x70], 1);
    for (std::size_t i = 0; i < n; ++i) {
        h[0x78 + 2 * i] = layout.fields[i].code;
        h[0x78 + 2 * i + 1] = layout.fields[i].size;
    }
    std::memcpy(&h[0x78 + 2 * n + 4 + 4 * n], layout.tableName.data(),
                std::min(layout.tableName.size(), tableNameLen - 1));
    std::size_t p = namesAt;
    for (const auto& f : layout.fields) {
        std::memcpy(&h[p], f.name.data(), f.name.size());
        p += f.name.size() + 1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t number = i < layout.fieldNumbers.size() ? layout.fieldNumbers[i] : static_cast<std::uint16_t>(i + 1);
        writeU16(&h[numbersAt + 2 * i], number);
    }
    std::memcpy(&h[sortAt], layout.sortName.data(), layout.sortName.size());
    if (!layout.indexName.empty()) std::memcpy(&h[indexNameAt], layout.indexName.data(), layout.indexName.size());
    return h;
}

} // namespace fieldsmith::engine::paradox
