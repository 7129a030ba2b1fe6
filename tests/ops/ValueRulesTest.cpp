// The value rules as tables of cases: DOS conversion, case modes, trim, add string,
// leading line breaks and the price format (every worked example included).
#include "ops/ValueRules.h"

#include <gtest/gtest.h>

using namespace fieldsmith::ops;

namespace {

TEST(ValueRules, ConvertOemToAnsi) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"Hello, World 123", "Hello, World 123"},
        {"\x84\x94\x81\xE1", "\xE4\xF6\xFC\xDF"},           // äöüß from code page 850
        {"\x82\x8A\x9F\xF5", "'\xE4\xFC\xE4"},              // the four rules ahead of the table
        {"\xE4\x9C", "\xE4\x9C"},                           // no rule: unchanged
        {"\x86", "\xE5"},                                   // converted once, not again as 0xE5
        {"\xE9", "\xDA"},                                   // Windows text is altered: é → Ú
        {"\xC6\xE5\xEA\xEB", "\xE3\xD5\xDB\xD9"},           // a second conversion changes Æ å ê ë
        {"\x80\x87\x90\xA5\xA4\xE5\x9B\x9D", "\xC7\xE7\xC9\xD1\xF1\xD5\xF8\xD8"},
    };
    for (const auto& c : cases) EXPECT_EQ(ConvertOemToAnsi(c.in), c.out) << c.in;
}

// Every rule of the conversion table, and every other byte mapping to itself.
TEST(ValueRules, ConvertOemToAnsiFollowsEachRuleOfItsTable) {
    const std::pair<unsigned char, unsigned char> rules[36] = {
        {0x8A, 0xE4}, {0x9F, 0xFC}, {0xF5, 0xE4}, {0x82, 0x27}, {0x81, 0xFC}, {0x84, 0xE4},
        {0x94, 0xF6}, {0x9A, 0xDC}, {0x8E, 0xC4}, {0x99, 0xD6}, {0xE1, 0xDF}, {0x98, 0xFF},
        {0x91, 0xE6}, {0x92, 0xC6}, {0xC6, 0xE3}, {0x86, 0xE5}, {0x8F, 0xC5}, {0x9B, 0xF8},
        {0x9D, 0xD8}, {0x80, 0xC7}, {0x87, 0xE7}, {0xD4, 0xC8}, {0x90, 0xC9}, {0xD2, 0xCA},
        {0x88, 0xEA}, {0xD3, 0xCB}, {0x89, 0xEB}, {0xE9, 0xDA}, {0xA3, 0xFA}, {0xEA, 0xDB},
        {0x96, 0xFB}, {0xEB, 0xD9}, {0x97, 0xF9}, {0xA5, 0xD1}, {0xA4, 0xF1}, {0xE5, 0xD5},
    };
    for (int b = 1; b < 256; ++b) {
        unsigned char expected = static_cast<unsigned char>(b);
        for (const auto& [from, to] : rules)
            if (from == b) expected = to;
        const std::string in(1, static_cast<char>(b));
        EXPECT_EQ(ConvertOemToAnsi(in), std::string(1, static_cast<char>(expected)))
            << "byte 0x" << std::hex << b;
    }
}

TEST(ValueRules, CaseModes) {
    struct Case {
        std::string in, word, upper, lower;
    } cases[] = {
        {"HANS-PETER M\xDCLLER", "Hans-Peter M\xFCller", "HANS-PETER M\xDCLLER", "hans-peter m\xFCller"},
        {"hans m\xFCller", "hans m\xFCller", "HANS M\xDCLLER", "hans m\xFCller"},
        {"O'NEIL", "O'neil", "O'NEIL", "o'neil"},
        {"ABC1DEF", "Abc1def", "ABC1DEF", "abc1def"},
        {"X", "X", "X", "x"},
        {"", "", "", ""},
        {"A;B.C:D,E#F\"G=H$I/J_K L", "A;B.C:D,E#F\"G=H$I/J_K L", "A;B.C:D,E#F\"G=H$I/J_K L", "a;b.c:d,e#f\"g=h$i/j_k l"},
        {"\x8A\x8C\x8E\x9F\xDF", "\x8A\x9C\x9E\xFF\xDF", "\x8A\x8C\x8E\x9F\xDF", "\x9A\x9C\x9E\xFF\xDF"},
        {"A\tB\rC", "A\tb\rc", "A\tB\rC", "a\tb\rc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Setze_LowerCase(c.in), c.word) << c.in;
        EXPECT_EQ(allUpperCase(c.in), c.upper) << c.in;
        EXPECT_EQ(allLowerCase(c.in), c.lower) << c.in;
    }
}

TEST(ValueRules, Trim) {
    EXPECT_EQ(trimValue(" \t\r\n "), "");
    EXPECT_EQ(trimValue("\r\n a  b \t"), "a  b");
    EXPECT_EQ(trimValue("x"), "x");
}

AddStringOptions opts(std::string zu, bool sizeBox = false, int size = 0, bool ifCheck = false,
                      bool contain = true, std::string text = "-") {
    return {std::move(zu), sizeBox, size, ifCheck, contain, std::move(text)};
}

TEST(ValueRules, AddString) {
    struct Case {
        std::string value;
        AddStringOptions options;
        std::optional<std::string> result;
    } cases[] = {
        {"1234567", opts("X-", true, 7), "X-1234567"},
        {"123456", opts("X-", true, 7), std::nullopt},
        {"AB", opts("X-"), "X-AB"},
        {"X-AB", opts("X-"), "X-X-AB"}, // nothing checks what the value starts with
        {"A-B", opts("P", false, 0, true, true, "-"), "PA-B"},
        {"AB", opts("P", false, 0, true, true, "-"), std::nullopt},
        {"A-B", opts("P", false, 0, true, false, "-"), std::nullopt},
        {"AB", opts("P", false, 0, true, false, "-"), "PAB"},
        {"AB", opts("P", false, 0, true, true, ""), std::nullopt},  // an empty text is in no value
        {"AB", opts("P", false, 0, true, false, ""), "PAB"},
        {"", opts("P", false, 0, true, false, "-"), "P"},
    };
    for (const auto& c : cases) EXPECT_EQ(addString(c.value, c.options), c.result) << c.value;
}

TEST(ValueRules, BlankLeadingCrLf) {
    struct Case {
        std::string value;
        long long n;
        std::optional<std::string> result;
    } cases[] = {
        {"\r\nABC", 2, "  ABC"},
        {"A\r\nB", 2, "A \nB"},
        {"\r", 2, std::nullopt},
        {"AB\r\n", 2, std::nullopt},
        {"\r\nABC", 0, std::nullopt},
        {"\n\n\n", 3, "   "},
    };
    for (const auto& c : cases) EXPECT_EQ(blankLeadingCrLf(c.value, c.n), c.result) << c.value;
}

TEST(ValueRules, FormatPreisFeld) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"12", "12,00"},     {"12,5", "12,50"},        {"12,50", "12,50"},     {"99,9", "99,90"},
        {"0", "0,00"},       {"007", "007,00"},        {",5", ",50"},          {"1.234,56", "1234,56"},
        {"1 234,5", "1234,50"}, {"12,", "12,00"},      {"12,505", "12505,00"}, {"3,14159", "314159,00"},
        {"12.50", "1250,00"}, {"1,2,3", "12,30"},      {"-12,50", "12,50"},    {"", ""},
        {",", ",00"},        {"abc", ",00"},           {"12,5 ", "125,00"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatPreisFeld(c.in), c.out) << c.in;
}

} // namespace
