// UTF-8 values brought into the program's code page, and what the first pass learns of a
// value: its stored length and whether it reads as UTF-8.
#include "csv/Utf8Decoder.h"

#include <gtest/gtest.h>

namespace {

using fieldsmith::csv::Utf8Decoder;

TEST(Utf8Decoder, CharactersBecomeTheirBytesOrCountedQuestionMarks) {
    struct Case {
        const char* what;
        int codePage;
        std::string utf8;
        std::string expected;
        std::uint64_t lost;
    } cases[] = {
        {"ASCII passes", 1252, "Abc 1;2", "Abc 1;2", 0},
        {"umlauts", 1252, "M\xC3\xBCller \xC3\x84\xC3\x96\xC3\x9F", "M\xFCller \xC4\xD6\xDF", 0},
        {"the euro sign is 0x80 in 1252", 1252, "5 \xE2\x82\xAC", "5 \x80", 0},
        {"no CJK in 1252", 1252, "\xE4\xB8\xAD!", "?!", 1},
        {"an emoji is one character", 1252, "\xF0\x9F\x98\x80", "?", 1},
        {"Cyrillic in 1251", 1251, "\xD0\x96", "\xC6", 0},
        {"a stray continuation byte", 1252,
         "a\x80"
         "b",
         "a?b", 1},
        {"a sequence cut short keeps what follows", 1252,
         "\xE2\x82"
         "ab",
         "??ab", 2},
        {"an overlong form is not UTF-8", 1252, "\xC0\xAF", "??", 2},
        {"a surrogate is not UTF-8", 1252, "\xED\xA0\x80", "???", 3},
    };
    for (const auto& c : cases) {
        const Utf8Decoder decoder(c.codePage);
        std::string out;
        EXPECT_EQ(decoder.convert(c.utf8, out), c.lost) << c.what;
        EXPECT_EQ(out, c.expected) << c.what;
        EXPECT_EQ(Utf8Decoder::scan(c.utf8).length, c.expected.size())
            << c.what << ": the first pass measures what the second stores";
    }
}

TEST(Utf8Decoder, ScanTellsValidAndMultiByte) {
    struct Case {
        std::string text;
        bool valid, multiByte;
    } cases[] = {
        {"plain", true, false},
        {"M\xC3\xBCller", true, true},
        {"M\xFCller", false, false},    // Windows-1252
        {"\x84\x94\x81", false, false}, // code page 850
        {"\xC3\xBC and \xFC", false, true},
    };
    for (const auto& c : cases) {
        const auto scan = Utf8Decoder::scan(c.text);
        EXPECT_EQ(scan.valid, c.valid) << c.text;
        EXPECT_EQ(scan.multiByte, c.multiByte) << c.text;
    }
}

TEST(Utf8Decoder, HighBytesFoundAtAnyPosition) {
    for (std::size_t at = 0; at < 20; ++at) {
        std::string text(20, 'a');
        EXPECT_FALSE(Utf8Decoder::hasHighBytes(text));
        text[at] = '\xE4';
        EXPECT_TRUE(Utf8Decoder::hasHighBytes(text)) << "at " << at;
    }
}

} // namespace
