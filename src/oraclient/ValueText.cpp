#include "ValueText.h"

#include "OracleError.h"
#include "SqliteSchema.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace fieldsmith::oraclient {

std::string numberText(double value, const engine::FormatSettings& formats) {
    if (std::isnan(value) || std::isinf(value)) return engine::formatFloat(value, formats);
    if (value == std::floor(value) && std::fabs(value) < 9.0e15) {
        const auto whole = static_cast<long long>(value);
        return std::to_string(whole);
    }
    // Fifteen significant digits, written out without an exponent. The digits come from
    // to_chars, which rounds as printf does; 15 digits survive the trip through a double,
    // so writing them out directly gives what printing the rounded value would.
    char sci[40];
    const auto [end, ec] =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, 14);
    if (ec == std::errc()) {
        const std::string_view text(sci, static_cast<std::size_t>(end - sci));
        const auto e = text.find('e');
        const bool negative = text[0] == '-';
        std::string digits;
        for (char c : text.substr(0, e))
            if (c >= '0' && c <= '9') digits += c;
        int exponent = 0;
        std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                        exponent);
        if (exponent < 15) {
            std::string out = negative ? "-" : "";
            if (exponent < 0) {
                out += '0';
                out += formats.decimalSeparator;
                out.append(static_cast<std::size_t>(-exponent - 1), '0');
                out += digits;
            } else {
                out.append(digits, 0, static_cast<std::size_t>(exponent) + 1);
                out += formats.decimalSeparator;
                out.append(digits, static_cast<std::size_t>(exponent) + 1);
            }
            while (out.back() == '0')
                out.pop_back();
            if (out.back() == formats.decimalSeparator) out.pop_back();
            if (out == "-0") out = "0";
            return out;
        }
    }
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const double rounded = std::strtod(buf, nullptr);
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(rounded))));
    const int decimals = std::max(0, 14 - exponent);
    std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
    std::string out = buf;
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0')
            out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    if (out == "-0") out = "0";
    for (char& c : out)
        if (c == '.') c = formats.decimalSeparator;
    return out;
}

std::string dateText(std::int64_t ms, const engine::FormatSettings& formats) {
    return engine::formatDateTime(static_cast<double>(ms), formats);
}

std::string valueText(const OracleValue& v, const engine::FormatSettings& formats) {
    switch (v.kind) {
    case ValueKind::Null:
        return {};
    case ValueKind::Text:
    case ValueKind::Bytes:
        return v.text;
    case ValueKind::Integer:
        return std::to_string(v.whole);
    case ValueKind::Float:
        return numberText(v.real, formats);
    case ValueKind::Date:
        return dateText(v.whole, formats);
    }
    return {};
}

OracleValue numberFromText(std::string_view text, const engine::FormatSettings& formats) {
    if (auto whole = engine::parseInteger(text)) return OracleValue::ofInteger(*whole);
    const auto number = engine::parseFloat(text, formats);
    if (!number || std::isnan(*number) || std::isinf(*number))
        throw OracleError(1722, "invalid number");
    if (*number == std::floor(*number) && std::fabs(*number) < 9.0e15)
        return OracleValue::ofInteger(static_cast<std::int64_t>(*number));
    return OracleValue::ofFloat(*number);
}

std::int64_t dateFromText(std::string_view text, const engine::FormatSettings& formats) {
    if (auto ms = engine::parseDateTime(text, formats))
        return static_cast<std::int64_t>(std::llround(*ms));
    if (auto ms = parseStoredDate(text)) return *ms;
    throw OracleError(1861, "literal does not match format string");
}

OracleValue roundToScale(double value, int scale) {
    if (scale >= 0 && scale < 20) {
        const double factor = std::pow(10.0, scale);
        value = std::round(value * factor) / factor;
    }
    if (value == std::floor(value) && std::fabs(value) < 9.0e15)
        return OracleValue::ofInteger(static_cast<std::int64_t>(value));
    return OracleValue::ofFloat(value);
}

} // namespace fieldsmith::oraclient
