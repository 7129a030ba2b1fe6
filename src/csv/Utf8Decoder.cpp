#include "csv/Utf8Decoder.h"

#include "engine/CodePage.h"

#include <algorithm>
#include <cstring>

namespace fieldsmith::csv {

namespace {

// The length of the well-formed UTF-8 sequence at p (1 to 4) and its character, or 0 when
// the bytes there are not one (a stray continuation byte, an overlong form, a surrogate, a
// sequence cut short).
std::size_t decodeOne(const unsigned char* p, std::size_t n, char32_t& c) {
    const unsigned char b = p[0];
    if (b < 0x80) {
        c = b;
        return 1;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF; // the allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        c = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        c = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    c = (c << 6) | (p[1] & 0x3F);
    for (std::size_t i = 2; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    return len;
}

} // namespace

Utf8Decoder::Utf8Decoder(int codePage) {
    // Each byte of the code page above ASCII, as the character it stands for.
    const engine::CodePageConverter toUtf8(codePage, 65001);
    for (int b = 0x80; b < 0x100; ++b) {
        const std::string utf8 = toUtf8.convert(std::string(1, static_cast<char>(b)));
        char32_t c = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
        if (utf8.empty() || decodeOne(p, utf8.size(), c) != utf8.size() || c < 0x80) continue;
        bytes_.emplace_back(c, static_cast<char>(b));
    }
    std::sort(bytes_.begin(), bytes_.end());
}

bool Utf8Decoder::hasHighBytes(std::string_view text) {
    std::size_t i = 0;
    // Eight bytes at a time: values are mostly ASCII.
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ULL) return true;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
    return false;
}

std::uint64_t Utf8Decoder::convert(std::string_view utf8, std::string& out) const {
    std::uint64_t lost = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    for (std::size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            out += static_cast<char>(p[i++]);
            continue;
        }
        char32_t c = 0;
        const std::size_t len = decodeOne(p + i, n - i, c);
        if (len == 0) {
            out += '?';
            ++lost;
            ++i;
            continue;
        }
        i += len;
        const auto it =
            std::lower_bound(bytes_.begin(), bytes_.end(), std::make_pair(c, '\0'),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        if (it != bytes_.end() && it->first == c) {
            out += it->second;
        } else {
            out += '?';
            ++lost;
        }
    }
    return lost;
}

Utf8Decoder::Scan Utf8Decoder::scan(std::string_view text) {
    Scan s;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++s.length) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t c = 0;
        const std::size_t len = decodeOne(p + i, n - i, c);
        if (len == 0) {
            s.valid = false;
            ++i;
        } else {
            s.multiByte = true;
            i += len;
        }
    }
    return s;
}

} // namespace fieldsmith::csv
