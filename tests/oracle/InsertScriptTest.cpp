// How values become the literals of an INSERT script, and the layout of a row's lines.
#include "oracle/InsertScript.h"

#include "engine/FormatSettings.h"

#include <gtest/gtest.h>

namespace fieldsmith::oracle {
namespace {

using oraclient::ColumnKind;
using oraclient::OracleValue;

TEST(InsertScript, WholeNumberTestTakesDecimalDigitsWithin32Bits) {
    struct Case {
        const char* text;
        bool whole;
    } cases[] = {
        {"42", true},         {"-7", true},          {" 5", true},          {"+3", true},
        {"2147483647", true}, {"-2147483648", true}, {"2147483648", false}, {"3.5", false},
        {"007a", false},      {"$1F", false},        {"0x1F", false},       {"1e5", false},
        {"", false},          {"-", false},          {"5 ", false},         {" ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isWholeNumber(c.text), c.whole) << "'" << c.text << "'";
}

TEST(InsertScript, QuoteInsertValueDoublesEveryQuote) {
    EXPECT_EQ(QuoteInsertValue("O'Neil"), "O''Neil");
    EXPECT_EQ(QuoteInsertValue("'quoted'"), "''quoted''");
    EXPECT_EQ(QuoteInsertValue("a''b'''c"), "a''''b''''''c") << "runs of quotes are kept";
    EXPECT_EQ(QuoteInsertValue("plain"), "plain");
}

TEST(InsertScript, ValuesRenderByColumnKind) {
    const engine::FormatSettings german = engine::FormatSettings::german();
    struct Case {
        const char* what;
        OracleValue value;
        ColumnKind column;
        std::string expected;
    } cases[] = {
        {"null", OracleValue::null(), ColumnKind::Text, "NULL"},
        {"empty text", OracleValue::ofText(""), ColumnKind::Text, "NULL"},
        {"the text NULL", OracleValue::ofText("NULL"), ColumnKind::Text, "NULL"},
        {"the text null", OracleValue::ofText("null"), ColumnKind::Text, "'null'"},
        {"leading zeros in a text column", OracleValue::ofText("007"), ColumnKind::Text, "'007'"},
        {"ZIP code", OracleValue::ofText("01234"), ColumnKind::Text, "'01234'"},
        {"number-like text", OracleValue::ofText("42"), ColumnKind::LongText, "'42'"},
        {"hexadecimal text", OracleValue::ofText("$1F"), ColumnKind::Text, "'$1F'"},
        {"whole number", OracleValue::ofInteger(7369), ColumnKind::Number, "7369"},
        {"negative number", OracleValue::ofInteger(-7), ColumnKind::Number, "-7"},
        {"beyond 32 bits", OracleValue::ofInteger(2147483648LL), ColumnKind::Number,
         "'2147483648'"},
        {"decimal in the session's format", OracleValue::ofFloat(-3.5), ColumnKind::Number,
         "'-3,5'"},
        {"expression number", OracleValue::ofInteger(12), ColumnKind::Unknown, "12"},
        {"whole number kept as a float", OracleValue::ofFloat(1.0), ColumnKind::Number, "1"},
        {"number in a text column", OracleValue::ofInteger(7), ColumnKind::Text, "'7'"},
        {"small fraction", OracleValue::ofFloat(1e-7), ColumnKind::Number, "'0,0000001'"},
        {"fifteen digits", OracleValue::ofFloat(0.1 + 0.2), ColumnKind::Number, "'0,3'"},
        {"rounded to fifteen digits", OracleValue::ofFloat(123456789.123456789), ColumnKind::Number,
         "'123456789,123457'"},
        {"large fraction", OracleValue::ofFloat(1234567890123.25), ColumnKind::Number,
         "'1234567890123,25'"},
        {"beyond fifteen integer digits", OracleValue::ofFloat(4503599627370495.5),
         ColumnKind::Number, "'4503599627370500'"},
        {"quote", OracleValue::ofText("O'Neil"), ColumnKind::Text, "'O''Neil'"},
        {"CR LF", OracleValue::ofText("a\r\nb"), ColumnKind::Text, "'a' || CHR(13) || '\nb'"},
        {"LF alone", OracleValue::ofText("a\nb"), ColumnKind::Text, "'a\nb'"},
        {"CR at both ends", OracleValue::ofText("\rx\r"), ColumnKind::Text,
         "CHR(13) || 'x' || CHR(13)"},
        {"NUL in RTF", OracleValue::ofText(std::string("{\\rtf1 x\0y}", 11)), ColumnKind::LongText,
         "'{\\rtf1 x' || CHR(0) || 'y}'"},
    };
    for (const auto& c : cases) {
        std::string out;
        appendInsertValue(out, c.value, c.column, german);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(InsertScript, LongClobValuesAreJoinedFromPiecesOfAtMostAThousandBytes) {
    const std::string text = std::string(999, 'x') + "'" + std::string(1200, 'y') + "\r\n";
    std::string out;
    appendInsertValue(out, OracleValue::ofText(text), ColumnKind::LongText, {});
    EXPECT_EQ(out, "TO_CLOB('" + std::string(999, 'x') + "''') || TO_CLOB('" +
                       std::string(1000, 'y') + "') || TO_CLOB('" + std::string(200, 'y') +
                       "') || CHR(13) || TO_CLOB('\n')");
    std::string varchar;
    appendInsertValue(varchar, OracleValue::ofText(std::string(1500, 'z')), ColumnKind::Text, {});
    EXPECT_EQ(varchar, "'" + std::string(1500, 'z') + "'") << "only CLOBs are cut";
}

TEST(InsertScript, DatesAreWrittenWithTheirCenturyWhateverTheSessionsFormat) {
    engine::FormatSettings twoDigitYears = engine::FormatSettings::german();
    twoDigitYears.shortDateFormat = "dd.mm.yy";
    const std::int64_t day = *engine::parseDate("1949-03-05", engine::FormatSettings{}) * 86400000;
    std::string midnight, afternoon;
    appendInsertValue(midnight, OracleValue::ofDate(day), ColumnKind::Date, twoDigitYears);
    appendInsertValue(afternoon, OracleValue::ofDate(day + (14 * 3600 + 5 * 60 + 9) * 1000LL),
                      ColumnKind::Date, twoDigitYears);
    EXPECT_EQ(midnight, "TO_DATE('1949-03-05 00:00:00', 'YYYY-MM-DD HH24:MI:SS')");
    EXPECT_EQ(afternoon, "TO_DATE('1949-03-05 14:05:09', 'YYYY-MM-DD HH24:MI:SS')");
}

TEST(InsertScript, InsertHeadHasTwoBlanksAroundTheColumnList) {
    EXPECT_EQ(insertHead("SCOTT", "EMP", {"EMPNO", "ENAME"}),
              "INSERT INTO SCOTT.EMP  ( EMPNO, ENAME )  VALUES (");
}

} // namespace
} // namespace fieldsmith::oracle
