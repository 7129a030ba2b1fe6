#include "ValueRules.h"

#include <array>
#include <cctype>

namespace fieldsmith::ops {

namespace {

// The conversion as a byte map: source bytes of the rule table and their targets, first
// rule first; every other byte maps to itself.
const std::array<unsigned char, 256>& oemMap() {
    static const std::array<unsigned char, 256> map = [] {
        std::array<unsigned char, 256> m{};
        for (int b = 0; b < 256; ++b) m[static_cast<std::size_t>(b)] = static_cast<unsigned char>(b);
        static const unsigned char rules[][2] = {
            {0x8A, 0xE4}, {0x9F, 0xFC}, {0xF5, 0xE4}, {0x82, 0x27}, {0x81, 0xFC}, {0x84, 0xE4},
            {0x94, 0xF6}, {0x9A, 0xDC}, {0x8E, 0xC4}, {0x99, 0xD6}, {0xE1, 0xDF}, {0x98, 0xFF},
            {0x91, 0xE6}, {0x92, 0xC6}, {0xC6, 0xE3}, {0x86, 0xE5}, {0x8F, 0xC5}, {0x9B, 0xF8},
            {0x9D, 0xD8}, {0x80, 0xC7}, {0x87, 0xE7}, {0xD4, 0xC8}, {0x90, 0xC9}, {0xD2, 0xCA},
            {0x88, 0xEA}, {0xD3, 0xCB}, {0x89, 0xEB}, {0xE9, 0xDA}, {0xA3, 0xFA}, {0xEA, 0xDB},
            {0x96, 0xFB}, {0xEB, 0xD9}, {0x97, 0xF9}, {0xA5, 0xD1}, {0xA4, 0xF1}, {0xE5, 0xD5},
        };
        std::array<bool, 256> taken{};
        for (const auto& r : rules) {
            if (taken[r[0]]) continue; // the first rule for a byte wins
            taken[r[0]] = true;
            m[r[0]] = r[1];
        }
        return m;
    }();
    return map;
}

// Windows-1252 case pairs: ASCII, 0xC0-0xDE with 0xE0-0xFE (not 0xD7/0xF7), and
// 0x8A/0x9A, 0x8C/0x9C, 0x8E/0x9E, 0x9F/0xFF.
unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return static_cast<unsigned char>(c + 16);
    if (c == 0x9F) return 0xFF;
    return c;
}

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 16);
    if (c == 0xFF) return 0x9F;
    return c;
}

bool isWordSeparator(char c) {
    switch (c) {
    case ' ': case '-': case '/': case '_': case ';': case '.': case ':': case ',': case '#':
    case '"': case '=': case '$': return true;
    default: return false;
    }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

std::string ConvertOemToAnsi(std::string_view value) {
    std::string out(value);
    const auto& m = oemMap();
    for (char& c : out) c = static_cast<char>(m[static_cast<unsigned char>(c)]);
    return out;
}

std::string Setze_LowerCase(std::string_view value) {
    if (value.empty()) return {};
    std::string out(1, value[0]);
    for (std::size_t i = 1; i < value.size(); ++i) {
        const char c = value[i];
        out += isWordSeparator(value[i - 1]) ? c : static_cast<char>(lower1252(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string allUpperCase(std::string_view value) {
    std::string out(value);
    for (char& c : out) c = static_cast<char>(upper1252(static_cast<unsigned char>(c)));
    return out;
}

std::string allLowerCase(std::string_view value) {
    std::string out(value);
    for (char& c : out) c = static_cast<char>(lower1252(static_cast<unsigned char>(c)));
    return out;
}

std::string trimValue(std::string_view value) {
    std::size_t b = 0, e = value.size();
    while (b < e && static_cast<unsigned char>(value[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(value[e - 1]) <= 0x20) --e;
    return std::string(value.substr(b, e - b));
}

std::optional<std::string> addString(std::string_view value, const AddStringOptions& o) {
    if (o.SizeBox && static_cast<long long>(value.size()) != o.size) return std::nullopt;
    if (o.IfCheckAddString1) {
        // An empty condition text is contained in no value.
        const bool contains = !o.IfCheckAddString2.empty() && !value.empty() &&
                              value.find(o.IfCheckAddString2) != std::string_view::npos;
        if (o.contain != contains) return std::nullopt;
    }
    return o.zuEdit + std::string(value);
}

std::optional<std::string> blankLeadingCrLf(std::string_view value, long long n) {
    if (n < 1 || static_cast<long long>(value.size()) < n) return std::nullopt;
    std::string out(value);
    bool replaced = false;
    for (long long i = 0; i < n; ++i) {
        char& c = out[static_cast<std::size_t>(i)];
        if (c == '\n' || c == '\r') {
            c = ' ';
            replaced = true;
        }
    }
    if (!replaced) return std::nullopt;
    return out;
}

std::string FormatPreisFeld(std::string_view value) {
    if (value.empty()) return {};
    const std::size_t len = value.size();
    std::string out;
    for (std::size_t i = 0; i < len; ++i) {
        const char c = value[i];
        if (isDigit(c)) {
            out += c;
        } else if (c == ',') {
            // 1-based position p = i + 1; kept at L-2 before two final digits, or at
            // L-1 before one final digit.
            const bool twoDecimals = i + 3 == len && isDigit(value[len - 2]) && isDigit(value[len - 1]);
            const bool oneDecimal = i + 2 == len && isDigit(value[len - 1]);
            if (twoDecimals || oneDecimal) out += c;
        }
    }
    const std::size_t comma = out.find(',');
    if (comma == std::string::npos) {
        out += ",00";
    } else if (out.size() - comma - 1 == 1) {
        out += '0';
    }
    return out;
}

} // namespace fieldsmith::ops
