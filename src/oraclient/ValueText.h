// Values as text: how numbers and dates read as text in the session's formats, and how
// text turns into them. The rules the datasets, the SQL functions and the script runner
// share.
#pragma once

#include "OracleValue.h"
#include "engine/FormatSettings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fieldsmith::oraclient {

//! A number as plain digits: no exponent, no grouping, the settings' decimal separator,
//! at most 15 significant digits.
std::string numberText(double value, const engine::FormatSettings& formats);
//! A date in the short date format, then a blank and the long time format unless the time
//! of day is midnight.
std::string dateText(std::int64_t msSinceDayZero, const engine::FormatSettings& formats);
//! A value as text; null reads as the empty text.
std::string valueText(const OracleValue& value, const engine::FormatSettings& formats);

//! Text as a number: an integer when it has no fraction and fits, else a float. Accepts
//! the settings' decimal separator and ".". Throws ORA-01722 otherwise.
OracleValue numberFromText(std::string_view text, const engine::FormatSettings& formats);
//! Text as a date: the short date format with an optional time, or the stored form
//! "YYYY-MM-DD HH:MM:SS". Throws ORA-01861 otherwise.
std::int64_t dateFromText(std::string_view text, const engine::FormatSettings& formats);
//! A number rounded to a NUMBER(p,s) column's scale (none when scale < 0); whole results
//! come back as integers.
OracleValue roundToScale(double value, int scale);

} // namespace fieldsmith::oraclient
