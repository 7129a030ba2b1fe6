#include "oracle/InsertScript.h"

#include "engine/FormatSettings.h"
#include "oraclient/ValueText.h"

#include <cstdint>

namespace fieldsmith::oracle {

using oraclient::ColumnKind;
using oraclient::OracleValue;
using oraclient::ValueKind;

std::string QuoteInsertValue(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

bool isWholeNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) return false;
    }
    return negative || value <= 2147483647LL;
}

namespace {

// The longest literal piece of a long CLOB value, in bytes of the program's text: a
// character takes at most four bytes in the database, and a literal at most 4000.
constexpr std::size_t kClobPiece = 1000;

// A text as a quoted literal; CR and NUL leave the literal as CHR() terms joined by "||".
// No empty literal is written between them: '' is NULL, and NULL would swallow the rest.
// A CLOB value longer than one piece is joined from TO_CLOB pieces, since a single
// literal may not be longer than 4000 bytes.
void appendQuoted(std::string& out, std::string_view text, bool clob) {
    const bool pieces = clob && text.size() > kClobPiece;
    const char* open = pieces ? "TO_CLOB('" : "'";
    const char* close = pieces ? "')" : "'";
    bool inLiteral = false, first = true;
    std::size_t pieceBytes = 0;
    for (char c : text) {
        // A piece ends before a character starts (never inside a UTF-8 sequence).
        if (inLiteral && pieces && pieceBytes >= kClobPiece && (c & 0xC0) != 0x80) {
            out += close;
            inLiteral = false;
        }
        if (c == '\r' || c == '\0') {
            if (inLiteral) out += close;
            inLiteral = false;
            out += first ? "" : " || ";
            out += c == '\r' ? "CHR(13)" : "CHR(0)";
            first = false;
            continue;
        }
        if (!inLiteral) {
            out += first ? "" : " || ";
            out += open;
            inLiteral = true;
            first = false;
            pieceBytes = 0;
        }
        out += c;
        ++pieceBytes;
        if (c == '\'') out += '\'';
    }
    if (inLiteral) out += close;
}

bool numberColumn(const OracleValue& value, ColumnKind column) {
    if (column == ColumnKind::Number) return true;
    return column == ColumnKind::Unknown &&
           (value.kind == ValueKind::Integer || value.kind == ValueKind::Float);
}

} // namespace

void appendInsertValue(std::string& out, const OracleValue& value, ColumnKind column,
                       const engine::FormatSettings& formats) {
    if (value.isNull()) {
        out += "NULL";
        return;
    }
    if (value.kind == ValueKind::Date) {
        // A fixed format with a four-digit year: the user's short date may have two digits
        // or may not read back at all.
        static const engine::FormatSettings iso{"yyyy-mm-dd", "hh:nn:ss", '.'};
        const std::int64_t day =
            value.whole >= 0 ? value.whole / 86400000 : -((-value.whole + 86399999) / 86400000);
        out += "TO_DATE('";
        out += engine::formatDate(day, iso);
        out += ' ';
        out += engine::formatTime(value.whole - day * 86400000, iso);
        out += "', 'YYYY-MM-DD HH24:MI:SS')";
        return;
    }
    const bool isText = value.kind == ValueKind::Text || value.kind == ValueKind::Bytes;
    const std::string text = isText ? std::string() : oraclient::valueText(value, formats);
    const std::string& shown = isText ? value.text : text;
    if (shown.empty() || shown == "NULL") {
        out += "NULL";
        return;
    }
    // Only a number column's whole numbers go unquoted; "007" in a text column stays text.
    if (numberColumn(value, column) && isWholeNumber(shown)) {
        out += shown;
        return;
    }
    appendQuoted(out, shown, column == ColumnKind::LongText);
}

std::string insertHead(std::string_view owner, std::string_view table,
                       const std::vector<std::string>& columns) {
    std::string head = "INSERT INTO ";
    head += owner;
    head += '.';
    head += table;
    head += "  ( ";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i) head += ", ";
        head += columns[i];
    }
    head += " )  VALUES (";
    return head;
}

} // namespace fieldsmith::oracle
