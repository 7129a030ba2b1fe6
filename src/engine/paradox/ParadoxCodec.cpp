#include "ParadoxCodec.h"

#include <cctype>
#include <cstring>

namespace fieldsmith::engine::paradox {

bool isAllZero(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::int32_t decodeInt(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    v ^= 1u << (8 * n - 1);
    if (n == 2) return static_cast<std::int16_t>(v);
    return static_cast<std::int32_t>(v);
}

void encodeInt(std::uint8_t* p, int n, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    v ^= 1u << (8 * n - 1);
    for (int i = n - 1; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

double decodeDouble(const std::uint8_t* p) {
    std::uint8_t b[8];
    std::memcpy(b, p, 8);
    if (b[0] & 0x80) {
        b[0] &= 0x7F;
    } else {
        for (auto& x : b) x = static_cast<std::uint8_t>(~x);
    }
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | b[i];
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

void encodeDouble(std::uint8_t* p, double value) {
    if (value == 0) value = 0; // no negative zero: it would sort below zero
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<std::uint8_t>(bits);
        bits >>= 8;
    }
    if (value >= 0) {
        p[0] |= 0x80;
    } else {
        for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
    }
}

std::optional<std::string> decodeBcd(const std::uint8_t* p, int decimals) {
    if ((p[0] & 0xC0) == 0) return std::nullopt;
    const bool negative = !(p[0] & 0x80);
    if (decimals < 0 || decimals > 32) decimals = p[0] & 0x3F;
    if (decimals > 32) decimals = 32;
    std::string digits;
    digits.reserve(32);
    for (int i = 2; i < 34; ++i) {
        int nib = (i % 2 == 0) ? (p[i / 2] >> 4) : (p[i / 2] & 0x0F);
        if (negative) nib ^= 0x0F;
        if (nib > 9) nib = 0; // some files carry non-decimal nibbles in unused positions
        digits += static_cast<char>('0' + nib);
    }
    std::string intPart = digits.substr(0, static_cast<std::size_t>(32 - decimals));
    std::string frac = digits.substr(static_cast<std::size_t>(32 - decimals));
    const auto firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? "0" : intPart.substr(firstNonZero);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    std::string out = intPart;
    if (!frac.empty()) out += "." + frac;
    if (negative && out != "0") out = "-" + out;
    return out;
}

bool encodeBcd(std::uint8_t* p, int decimals, const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string intDigits, fracDigits;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            (point ? fracDigits : intDigits) += c;
        } else if (c == ' ') {
            break;
        } else {
            return false;
        }
    }
    for (; i < text.size(); ++i)
        if (text[i] != ' ') return false;
    if (intDigits.empty() && fracDigits.empty()) return false;
    // Round the fraction to the field's decimals, half away from zero.
    bool roundUp = fracDigits.size() > static_cast<std::size_t>(decimals) &&
                   fracDigits[static_cast<std::size_t>(decimals)] >= '5';
    fracDigits.resize(static_cast<std::size_t>(decimals), '0');
    std::string all = intDigits + fracDigits;
    if (roundUp) {
        int k = static_cast<int>(all.size()) - 1;
        while (k >= 0 && all[static_cast<std::size_t>(k)] == '9') all[static_cast<std::size_t>(k--)] = '0';
        if (k >= 0) ++all[static_cast<std::size_t>(k)];
        else all.insert(all.begin(), '1');
    }
    const auto nz = all.find_first_not_of('0');
    all = nz == std::string::npos ? std::string() : all.substr(nz);
    if (all.size() > 32) return false;
    all.insert(0, 32 - all.size(), '0');
    if (all.find_first_not_of('0') == std::string::npos) negative = false;
    std::memset(p, 0, 17);
    p[0] = static_cast<std::uint8_t>((negative ? 0x40 : 0xC0) | (decimals & 0x3F));
    for (int d = 0; d < 32; ++d) {
        int nib = all[static_cast<std::size_t>(d)] - '0';
        if (negative) nib ^= 0x0F;
        const int pos = d + 2;
        if (pos % 2 == 0) p[pos / 2] |= static_cast<std::uint8_t>(nib << 4);
        else p[pos / 2] |= static_cast<std::uint8_t>(nib);
    }
    return true;
}

} // namespace fieldsmith::engine::paradox
