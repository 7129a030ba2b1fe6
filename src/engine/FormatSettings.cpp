#include "FormatSettings.h"

#include "DateCalc.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fieldsmith::engine {

FormatSettings FormatSettings::german() {
    FormatSettings f;
    f.shortDateFormat = "dd.mm.yyyy";
    f.longTimeFormat = "hh:nn:ss";
    f.decimalSeparator = ',';
    return f;
}

namespace {

// Splits a pattern into runs of one letter ("dd", "yyyy") and literal characters.
template <typename Fn> void forEachToken(std::string_view pattern, Fn fn) {
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
        std::size_t j = i + 1;
        if (std::isalpha(static_cast<unsigned char>(c))) {
            while (j < pattern.size() &&
                   std::tolower(static_cast<unsigned char>(pattern[j])) == c)
                ++j;
        }
        fn(c, j - i, pattern.substr(i, j - i));
        i = j;
    }
}

void appendNumber(std::string& out, long long value, std::size_t width) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0) out += '-';
    for (std::size_t k = digits.size(); k < width; ++k) out += '0';
    out += digits;
}

// Reads up to maxDigits digits at pos; false when none.
bool readNumber(std::string_view text, std::size_t& pos, std::size_t maxDigits, int& value) {
    std::size_t start = pos;
    long long v = 0;
    while (pos < text.size() && pos - start < maxDigits &&
           std::isdigit(static_cast<unsigned char>(text[pos]))) {
        v = v * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == start) return false;
    value = static_cast<int>(v);
    return true;
}

void skipBlanks(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
}

} // namespace

std::string formatDate(std::int64_t dayNo, const FormatSettings& fmt) {
    const CivilDate d = civilFromDayNumber(dayNo);
    std::string out;
    forEachToken(fmt.shortDateFormat, [&](char c, std::size_t n, std::string_view lit) {
        switch (c) {
        case 'd': appendNumber(out, d.day, n >= 2 ? 2 : 1); break;
        case 'm': appendNumber(out, d.month, n >= 2 ? 2 : 1); break;
        case 'y':
            if (n <= 2) appendNumber(out, ((d.year % 100) + 100) % 100, 2);
            else appendNumber(out, d.year, 4);
            break;
        default: out += lit;
        }
    });
    return out;
}

std::string formatTime(std::int64_t ms, const FormatSettings& fmt) {
    const long long totalSeconds = ms / 1000;
    const int h = static_cast<int>(totalSeconds / 3600);
    const int mi = static_cast<int>((totalSeconds / 60) % 60);
    const int s = static_cast<int>(totalSeconds % 60);
    std::string out;
    forEachToken(fmt.longTimeFormat, [&](char c, std::size_t n, std::string_view lit) {
        switch (c) {
        case 'h': appendNumber(out, h, n >= 2 ? 2 : 1); break;
        case 'n': appendNumber(out, mi, n >= 2 ? 2 : 1); break;
        case 's': appendNumber(out, s, n >= 2 ? 2 : 1); break;
        default: out += lit;
        }
    });
    return out;
}

std::string formatDateTime(double msSinceDayZero, const FormatSettings& fmt) {
    const auto total = static_cast<std::int64_t>(std::llround(msSinceDayZero));
    std::int64_t day = total / kMsPerDay;
    std::int64_t ms = total % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --day;
    }
    std::string out = formatDate(day, fmt);
    if (ms != 0) {
        out += ' ';
        out += formatTime(ms, fmt);
    }
    return out;
}

std::string formatFloat(double value, const FormatSettings& fmt) {
    if (std::isnan(value) || std::isinf(value)) return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    // "%.15g" as printf writes it in the C locale; to_chars does the same without parsing
    // a format, which a copy of a million numbers notices.
    char buf[64];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15).ptr;
    std::string out(buf, end);
    if (out == "-0") out = "0";
    if (fmt.decimalSeparator != '.') {
        for (char& c : out)
            if (c == '.') c = fmt.decimalSeparator;
    }
    return out;
}

std::optional<std::int64_t> parseDate(std::string_view text, const FormatSettings& fmt) {
    std::size_t pos = 0;
    int year = -1, month = -1, day = -1;
    bool ok = true;
    skipBlanks(text, pos);
    forEachToken(fmt.shortDateFormat, [&](char c, std::size_t n, std::string_view lit) {
        if (!ok) return;
        int v = 0;
        switch (c) {
        case 'd': ok = readNumber(text, pos, 2, v); day = v; break;
        case 'm': ok = readNumber(text, pos, 2, v); month = v; break;
        case 'y': {
            const std::size_t start = pos;
            ok = readNumber(text, pos, 4, v);
            if (ok && pos - start <= 2 && n <= 4) v += v < 50 ? 2000 : 1900;
            year = v;
            break;
        }
        default:
            // Any single non-digit separator matches a literal separator.
            if (pos < text.size() && !std::isdigit(static_cast<unsigned char>(text[pos])) &&
                lit.size() == 1)
                ++pos;
            else if (text.substr(pos, lit.size()) == lit)
                pos += lit.size();
            else
                ok = false;
        }
    });
    skipBlanks(text, pos);
    if (!ok || pos != text.size() || !isValidDate(year, month, day)) return std::nullopt;
    return dayNumber(year, month, day);
}

std::optional<std::int64_t> parseTime(std::string_view text, const FormatSettings& fmt) {
    (void)fmt;
    // Times are read leniently as h[:n[:s[.zzz]]], with any non-digit separator.
    std::size_t pos = 0;
    skipBlanks(text, pos);
    int parts[3] = {0, 0, 0};
    int ms = 0;
    int count = 0;
    while (count < 3) {
        if (!readNumber(text, pos, 2, parts[count])) break;
        ++count;
        if (pos < text.size() && (text[pos] == ':' || text[pos] == '.') && count < 3) {
            ++pos;
            continue;
        }
        break;
    }
    if (count == 0) return std::nullopt;
    if (pos < text.size() && text[pos] == '.' && count == 3) {
        ++pos;
        std::size_t start = pos;
        if (!readNumber(text, pos, 3, ms)) return std::nullopt;
        for (std::size_t k = pos - start; k < 3; ++k) ms *= 10;
    }
    skipBlanks(text, pos);
    // An AM/PM suffix.
    if (pos < text.size()) {
        std::string rest(text.substr(pos));
        for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if ((rest == "AM" || rest == "PM") && parts[0] <= 12) {
            if (rest == "PM" && parts[0] < 12) parts[0] += 12;
            if (rest == "AM" && parts[0] == 12) parts[0] = 0;
            pos = text.size();
        }
    }
    if (pos != text.size() || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return (static_cast<std::int64_t>(parts[0]) * 3600 + parts[1] * 60 + parts[2]) * 1000 + ms;
}

std::optional<double> parseDateTime(std::string_view text, const FormatSettings& fmt) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    text = text.substr(b, e - b);
    const std::size_t blank = text.find(' ');
    const auto day = parseDate(text.substr(0, blank), fmt);
    if (!day) return std::nullopt;
    std::int64_t ms = 0;
    if (blank != std::string_view::npos) {
        const auto t = parseTime(text.substr(blank + 1), fmt);
        if (!t) return std::nullopt;
        ms = *t;
    }
    return static_cast<double>(*day) * kMsPerDay + static_cast<double>(ms);
}

std::optional<double> parseFloat(std::string_view text, const FormatSettings& fmt) {
    std::string s;
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    if (b == e) return std::nullopt;
    for (std::size_t i = b; i < e; ++i) {
        char c = text[i];
        if (c == fmt.decimalSeparator) c = '.';
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
              c == 'e' || c == 'E'))
            return std::nullopt;
        s += c;
    }
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    // A number too large for a double ("1e400") is no value, not an infinite one.
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::size_t pos = 0;
    skipBlanks(text, pos);
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t start = pos;
    unsigned long long v = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        v = v * 10 + static_cast<unsigned>(text[pos] - '0');
        if (v > 9'223'372'036'854'775'807ULL) return std::nullopt;
        ++pos;
    }
    if (pos == start) return std::nullopt;
    skipBlanks(text, pos);
    if (pos != text.size()) return std::nullopt;
    const auto value = static_cast<std::int64_t>(v);
    return negative ? -value : value;
}

} // namespace fieldsmith::engine
