// The text of an INSERT script: how one row becomes its four lines, and how a value
// becomes a literal that reads back as the same value.
#pragma once

#include "oraclient/OracleValue.h"

#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {
struct FormatSettings;
}

namespace fieldsmith::oracle {

//! The text between the quotes of an SQL string literal: every quote doubled.
std::string QuoteInsertValue(std::string_view text);

//! Whether a text is a whole number as the script writes it unquoted: optional leading
//! blanks, an optional sign and decimal digits, within the signed 32-bit range.
bool isWholeNumber(std::string_view text);

//! Appends a value as the script writes it: NULL for a null, an empty text and the text
//! "NULL"; a number column's whole numbers (signed 32-bit) unquoted; a date as TO_DATE of
//! its ISO text; everything else quoted, numbers in the session's formats. Text stays as
//! the column holds it; carriage returns and NUL characters, which a script line cannot
//! carry, are written as CHR(13) and CHR(0) joined to the literal around them; a line feed
//! stays a line break of the file. A CLOB value longer than 1000 bytes is joined from
//! TO_CLOB pieces, as a single literal may not exceed 4000 bytes.
void appendInsertValue(std::string& out, const oraclient::OracleValue& value,
                       oraclient::ColumnKind column, const engine::FormatSettings& formats);

//! "INSERT INTO owner.table  ( A, B )  VALUES (" — the part of every row's INSERT line
//! before its values.
std::string insertHead(std::string_view owner, std::string_view table,
                       const std::vector<std::string>& columns);

//! The three lines after each INSERT line, each ended by CR LF.
inline constexpr std::string_view kRowTail = "/ \r\nCOMMIT; \r\n/ \r\n";

} // namespace fieldsmith::oracle
