#include "DBaseHeader.h"

#include "../EngineError.h"
#include "../FileIo.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace fieldsmith::engine::dbase {

namespace {

[[noreturn]] void damaged(const File& file, std::uint64_t offset, const std::string& what) {
    throw EngineError(ErrorKind::Damaged, "Table file " + file.path().string() +
                                              " is damaged at offset " + std::to_string(offset) +
                                              ": " + what);
}

std::string hexByte(std::uint8_t b) {
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

//! Language-driver bytes and their code pages: the dBase drivers and the FoxPro marks,
//! which share one byte and do not collide in what they mean.
struct LanguageDriver {
    std::uint8_t byte;
    int codePage;
};

constexpr LanguageDriver kLanguageDrivers[] = {
    {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x04, 10000}, {0x08, 865},  {0x09, 437},
    {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},   {0x0F, 437},  {0x10, 850},
    {0x11, 437},  {0x12, 850},  {0x13, 932},  {0x14, 850},   {0x15, 437},  {0x16, 850},
    {0x17, 865},  {0x18, 437},  {0x19, 437},  {0x1A, 850},   {0x1B, 437},  {0x1C, 863},
    {0x1D, 850},  {0x1F, 852},  {0x22, 852},  {0x23, 852},   {0x24, 860},  {0x25, 850},
    {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936},   {0x4E, 949},  {0x4F, 950},
    {0x50, 874},  {0x57, 1252}, {0x58, 1252}, {0x59, 1252},  {0x64, 852},  {0x65, 866},
    {0x66, 865},  {0x67, 861},  {0x6A, 737},  {0x6B, 857},   {0x78, 950},  {0x79, 949},
    {0x7A, 936},  {0x7B, 932},  {0x7C, 874},  {0x7D, 1255},  {0x7E, 1256}, {0xC8, 1250},
    {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253},
};

//! What new tables get for a code page: the engine's own driver names where it has one
//! (DBWINUS0 for 1252, DB437US0, DB850US0, ...), else the first byte that means it.
constexpr LanguageDriver kPreferredDrivers[] = {
    {0x57, 1252}, {0x1B, 437},  {0x37, 850},  {0x1F, 852},  {0x26, 866},
    {0x08, 865},  {0xC8, 1250}, {0xC9, 1251}, {0xCB, 1253}, {0xCA, 1254},
};

// The fixed lengths of the binary types; 0 for types whose length the descriptor chooses.
int requiredLength(Dialect dialect, char type) {
    const bool vfp = dialect == Dialect::VisualFoxPro;
    switch (type) {
    case 'D':
        return 8;
    case 'L':
        return 1;
    case 'I':
    case '+':
        return dialect == Dialect::DBase7 || vfp ? 4 : 0;
    case 'O':
    case '@':
        return dialect == Dialect::DBase7 ? 8 : 0;
    case 'Y':
    case 'T':
        return vfp ? 8 : 0;
    case 'B':
        return vfp ? 8 : 0;
    default:
        return 0;
    }
}

// Reads the descriptors: 32 bytes each (48 in dBase 7) until the terminator or the end of
// the header.
void readDescriptors(const File& file, const std::vector<std::uint8_t>& head, Header& h) {
    const bool level7 = h.dialect == Dialect::DBase7;
    const std::size_t start = level7 ? 68 : 32;
    const std::size_t size = level7 ? 48 : 32;
    const std::size_t nameLength = level7 ? 32 : 11;
    std::size_t at = start;
    int offset = 1;
    for (;;) {
        if (at >= head.size()) damaged(file, at, "the field descriptors have no terminator");
        if (head[at] == kFieldTerminator) break;
        if (at + size > head.size()) damaged(file, at, "a field descriptor is cut off");
        const std::uint8_t* d = &head[at];
        FieldDesc f;
        std::size_t n = 0;
        while (n < nameLength && d[n] != 0)
            ++n;
        f.name.assign(reinterpret_cast<const char*>(d), n);
        while (!f.name.empty() && f.name.back() == ' ')
            f.name.pop_back();
        f.descriptorAt = at;
        if (level7) {
            f.type = static_cast<char>(d[32]);
            f.length = d[33];
            f.decimals = d[34];
            f.mdxFlag = d[37] != 0;
            f.autoNext = readU32(d + 40);
        } else {
            f.type = static_cast<char>(d[11]);
            f.length = d[16];
            f.decimals = d[17];
            f.flags = d[18];
            f.mdxFlag = d[31] != 0;
            // Clipper and FoxPro keep the high byte of a long character field's length in
            // the decimals byte.
            if (f.type == 'C' && f.decimals > 0) {
                f.length += f.decimals * 256;
                f.decimals = 0;
            }
        }
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
        if (f.name.empty())
            damaged(file, at, "field " + std::to_string(h.fields.size() + 1) + " has no name");
        if (f.length <= 0)
            damaged(file, at, "field " + f.name + " has the length " + std::to_string(f.length));
        const int need = requiredLength(h.dialect, f.type);
        if (need > 0 && f.length != need)
            damaged(file, at,
                    "field " + f.name + " of type " + std::string(1, f.type) + " is " +
                        std::to_string(f.length) + " bytes long instead of " +
                        std::to_string(need));
        if (h.dialect == Dialect::VisualFoxPro && (f.flags & 0x01)) f.hidden = true;
        if (f.type == '0') {
            f.hidden = true;
            h.nullFlagsField = static_cast<int>(h.fields.size());
        }
        f.offset = offset;
        offset += f.length;
        h.fields.push_back(std::move(f));
        at += size;
    }
    if (h.fields.empty()) damaged(file, start, "the table has no fields");
    if (offset > h.recordLength)
        damaged(file, hdr::kRecordLength,
                "records are " + std::to_string(h.recordLength) +
                    " bytes long, but the fields need " + std::to_string(offset));
    if (at + 1 > h.headerLength)
        damaged(file, hdr::kHeaderLength,
                "the header length " + std::to_string(h.headerLength) +
                    " ends inside the field descriptors");
}

// Gives each nullable and each variable-length field of a Visual FoxPro table its bit in
// the hidden _NullFlags field: in field order, a variable-length field's length bit first,
// then its null bit.
void assignNullBits(const File& file, Header& h) {
    int bit = 0;
    for (auto& f : h.fields) {
        if (f.hidden) continue;
        if (f.type == 'V' || f.type == 'Q') f.varLengthBit = bit++;
        if (f.flags & 0x02) f.nullBit = bit++;
    }
    if (bit == 0) return;
    if (h.nullFlagsField < 0) damaged(file, 32, "nullable fields but no _NullFlags field");
    const FieldDesc& nf = h.fields[static_cast<std::size_t>(h.nullFlagsField)];
    if (nf.length * 8 < bit)
        damaged(file, nf.descriptorAt,
                "the _NullFlags field is too short for " + std::to_string(bit) + " flags");
}

} // namespace

std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t readU32BigEndian(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

void writeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

int codePageOfLanguageDriver(std::uint8_t ld) {
    for (const auto& d : kLanguageDrivers)
        if (d.byte == ld) return d.codePage;
    return 0;
}

std::uint8_t languageDriverFor(int codePage) {
    for (const auto& d : kPreferredDrivers)
        if (d.codePage == codePage) return d.byte;
    for (const auto& d : kLanguageDrivers)
        if (d.codePage == codePage) return d.byte;
    return 0;
}

Header readHeader(const File& file) {
    const std::uint64_t size = file.size();
    if (size < 32)
        damaged(file, size,
                "the file is shorter than a header (" + std::to_string(size) + " bytes)");
    std::uint8_t first[32];
    file.readAt(0, first, sizeof first);
    Header h;
    h.version = first[0];
    switch (h.version) {
    case 0x03:
        break;
    case 0x83:
        h.memo = MemoStyle::DBase3;
        break;
    case 0x8B:
    case 0x8E:
        h.memo = MemoStyle::DBase4;
        break;
    case 0x43:
    case 0x63:
    case 0xCB:
        h.memo = h.version == 0xCB ? MemoStyle::DBase4 : MemoStyle::None;
        h.readOnlyReason = "it is a dBase IV SQL table";
        break;
    case 0x04:
    case 0x8C:
        h.dialect = Dialect::DBase7;
        h.memo = h.version == 0x8C ? MemoStyle::DBase4 : MemoStyle::None;
        h.readOnlyReason = "dBase 7 tables are read only in this program";
        break;
    case 0x30:
    case 0x31:
    case 0x32:
        h.dialect = Dialect::VisualFoxPro;
        h.readOnlyReason = "FoxPro tables are read only in this program";
        break;
    case 0xF5:
        h.dialect = Dialect::FoxPro;
        h.memo = MemoStyle::FoxPro;
        h.readOnlyReason = "FoxPro tables are read only in this program";
        break;
    case 0x02:
    case 0xFB:
        throw EngineError(ErrorKind::General, "Table " + file.path().string() +
                                                  " is a dBase II or FoxBASE table (version byte " +
                                                  hexByte(h.version) +
                                                  "), which this program cannot read");
    default:
        damaged(file, 0,
                "the version byte " + hexByte(h.version) +
                    " is not one of a dBase or FoxPro table");
    }
    h.recordCount = readU32(first + hdr::kRecordCount);
    h.headerLength = readU16(first + hdr::kHeaderLength);
    h.recordLength = readU16(first + hdr::kRecordLength);
    h.languageDriver = first[hdr::kLanguageDriver];
    h.codePage = codePageOfLanguageDriver(h.languageDriver);
    if (h.dialect == Dialect::DBase || h.dialect == Dialect::DBase7)
        h.productionIndex = first[hdr::kProductionIndex] == 0x01;
    if (first[15] == 0x01 && h.dialect == Dialect::DBase)
        throw EngineError(ErrorKind::NeedsPassword,
                          "Table " + file.path().string() +
                              " is encrypted by dBase and cannot be read");
    if (h.headerLength < 33)
        damaged(file, hdr::kHeaderLength,
                "the header length " + std::to_string(h.headerLength) + " is too small");
    if (h.recordLength < 2)
        damaged(file, hdr::kRecordLength,
                "the record length " + std::to_string(h.recordLength) + " is too small");
    if (h.headerLength > size)
        damaged(file, hdr::kHeaderLength,
                "the header length " + std::to_string(h.headerLength) +
                    " passes the end of the file (" + std::to_string(size) + " bytes)");
    std::vector<std::uint8_t> head(h.headerLength);
    file.readAt(0, head.data(), head.size());
    readDescriptors(file, head, h);
    if (h.dialect == Dialect::VisualFoxPro) {
        assignNullBits(file, h);
        for (const auto& f : h.fields)
            if (f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P')
                h.memo = MemoStyle::FoxPro;
    }
    return h;
}

NewField newFieldFor(const FieldDef& def, const std::string& table) {
    auto bad = [&](const std::string& why) -> NewField {
        throw EngineError(ErrorKind::General,
                          "Invalid field " + def.name + " for dBase table " + table + ": " + why);
    };
    if (def.name.empty() || def.name.size() > 10)
        return bad("dBase field names have 1 to 10 characters");
    if (!std::isalpha(static_cast<unsigned char>(def.name[0])))
        return bad("a dBase field name starts with a letter");
    for (char c : def.name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return bad("a dBase field name has only letters, digits and '_'");
    NewField f;
    f.name = upperAscii(def.name);
    switch (def.type) {
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString:
        if (def.size < 1 || def.size > 254)
            return bad("character size " + std::to_string(def.size));
        f.type = 'C';
        f.length = def.size;
        break;
    case FieldType::ftSmallint:
        f = {f.name, 'N', 6, 0};
        break;
    case FieldType::ftInteger:
    case FieldType::ftWord:
    case FieldType::ftAutoInc:
        f = {f.name, 'N', 11, 0};
        break;
    case FieldType::ftLargeint:
        f = {f.name, 'N', 20, 0};
        break;
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
    case FieldType::ftBCD: {
        const int decimals = def.size > 0 ? def.size : (def.type == FieldType::ftBCD ? 0 : 4);
        if (decimals > 18) return bad("more than 18 decimals");
        f = {f.name, 'N', 20, decimals};
        break;
    }
    case FieldType::ftBoolean:
        f = {f.name, 'L', 1, 0};
        break;
    case FieldType::ftDate:
        f = {f.name, 'D', 8, 0};
        break;
    case FieldType::ftMemo:
    case FieldType::ftFmtMemo:
        f = {f.name, 'M', 10, 0};
        break;
    case FieldType::ftBlob:
    case FieldType::ftGraphic:
    case FieldType::ftTypedBinary:
        f = {f.name, 'B', 10, 0};
        break;
    case FieldType::ftDBaseOle:
    case FieldType::ftParadoxOle:
        f = {f.name, 'G', 10, 0};
        break;
    default:
        return bad("type " + std::string(fieldTypeName(def.type)) +
                   " cannot be stored in a dBase table");
    }
    return f;
}

void stampDate(std::uint8_t* header) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    header[hdr::kDate] = static_cast<std::uint8_t>(std::clamp(tm.tm_year, 0, 255));
    header[hdr::kDate + 1] = static_cast<std::uint8_t>(tm.tm_mon + 1);
    header[hdr::kDate + 2] = static_cast<std::uint8_t>(tm.tm_mday);
}

std::vector<std::uint8_t> buildHeader(const std::vector<NewField>& fields, bool withMemo,
                                      std::uint8_t languageDriver) {
    const std::size_t headerLength = 32 + 32 * fields.size() + 1;
    std::vector<std::uint8_t> h(headerLength, 0);
    h[0] = withMemo ? 0x8B : 0x03;
    stampDate(h.data());
    writeU16(&h[hdr::kHeaderLength], static_cast<std::uint16_t>(headerLength));
    int recordLength = 1;
    for (const auto& f : fields)
        recordLength += f.length;
    writeU16(&h[hdr::kRecordLength], static_cast<std::uint16_t>(recordLength));
    h[hdr::kLanguageDriver] = languageDriver;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::uint8_t* d = &h[32 + 32 * i];
        std::copy(fields[i].name.begin(), fields[i].name.end(), d);
        d[11] = static_cast<std::uint8_t>(fields[i].type);
        d[16] = static_cast<std::uint8_t>(fields[i].length);
        d[17] = static_cast<std::uint8_t>(fields[i].decimals);
    }
    h[headerLength - 1] = kFieldTerminator;
    return h;
}

} // namespace fieldsmith::engine::dbase
