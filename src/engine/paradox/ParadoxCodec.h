// Encoding of Paradox field values inside records: big-endian numbers with the sign bit
// flipped so that stored bytes compare in value order, and the packed-decimal BCD type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fieldsmith::engine::paradox {

//! Paradox field type codes (the first byte of a field descriptor).
enum FieldCode : std::uint8_t {
    kAlpha = 0x01,
    kDate = 0x02,
    kShort = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kNumber = 0x06,
    kLogical = 0x09,
    kMemo = 0x0C,
    kBlob = 0x0D,
    kFmtMemo = 0x0E,
    kOle = 0x0F,
    kGraphic = 0x10,
    kTime = 0x14,
    kTimestamp = 0x15,
    kAutoInc = 0x16,
    kBcd = 0x17,
    kBytes = 0x18,
};

bool isAllZero(const std::uint8_t* p, std::size_t n);

//! Reads an n-byte sign-flipped big-endian integer (n = 2 or 4).
std::int32_t decodeInt(const std::uint8_t* p, int n);
void encodeInt(std::uint8_t* p, int n, std::int32_t value);

double decodeDouble(const std::uint8_t* p);
void encodeDouble(std::uint8_t* p, double value);

//! BCD of 17 bytes with the given decimal count, as exact decimal text ("-12.5").
//! Blank values give nullopt.
std::optional<std::string> decodeBcd(const std::uint8_t* p, int decimals);
//! Encodes decimal text ("-12.345", "7") rounded to the field's decimals; false when the
//! text is not a decimal number or has more than 32 digits.
bool encodeBcd(std::uint8_t* p, int decimals, const std::string& text);

std::uint16_t readU16(const std::uint8_t* p);
std::uint32_t readU32(const std::uint8_t* p);
void writeU16(std::uint8_t* p, std::uint16_t v);
void writeU32(std::uint8_t* p, std::uint32_t v);

} // namespace fieldsmith::engine::paradox
