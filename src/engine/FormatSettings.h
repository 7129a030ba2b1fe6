// How dates, times and numbers read and write as text: the classic engine took these from
// the user's locale; the window sets them from the locale, tests and batch mode set them
// explicitly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fieldsmith::engine {

struct FormatSettings {
    //! Date pattern: d, dd, m, mm, yy, yyyy; other characters are literal separators.
    std::string shortDateFormat = "yyyy-mm-dd";
    //! Time pattern: h, hh, n, nn, s, ss (n is the minute, as in the classic patterns).
    std::string longTimeFormat = "hh:nn:ss";
    char decimalSeparator = '.';

    //! Dates as dd.mm.yyyy, times as hh:nn:ss and a decimal comma, as a German desk has them.
    static FormatSettings german();
};

std::string formatDate(std::int64_t dayNumber, const FormatSettings& fmt);
std::string formatTime(std::int64_t msOfDay, const FormatSettings& fmt);
//! Date, then a blank and the time unless the time of day is midnight.
std::string formatDateTime(double msSinceDayZero, const FormatSettings& fmt);
//! General number format: up to 15 significant digits, no grouping.
std::string formatFloat(double value, const FormatSettings& fmt);

std::optional<std::int64_t> parseDate(std::string_view text, const FormatSettings& fmt);
std::optional<std::int64_t> parseTime(std::string_view text, const FormatSettings& fmt);
std::optional<double> parseDateTime(std::string_view text, const FormatSettings& fmt);
//! Accepts the settings' decimal separator and also "." ; no grouping, optional exponent.
//! A number beyond the range of a double is no value.
std::optional<double> parseFloat(std::string_view text, const FormatSettings& fmt);
//! A signed decimal integer with optional blanks around it and an optional sign.
std::optional<std::int64_t> parseInteger(std::string_view text);

} // namespace fieldsmith::engine
