// The reader of delimited files: how quotes, separators and the three kinds of line end
// cut a file into records and fields, wherever the pieces it reads happen to end.
#include "csv/CsvReader.h"

#include "CsvTestSupport.h"
#include "csv/CsvError.h"

#include <gtest/gtest.h>

namespace fieldsmith::csvtest {
namespace {

using csv::CsvReader;

Records readAll(const std::filesystem::path& file, std::optional<char> separator,
                std::size_t bufferSize, std::vector<std::uint64_t>* lines = nullptr) {
    CsvReader reader(file, separator, bufferSize);
    Records records;
    while (reader.readRecord()) {
        std::vector<std::string> fields;
        for (std::size_t i = 0; i < reader.fieldCount(); ++i)
            fields.emplace_back(reader.field(i));
        records.push_back(fields);
        if (lines) lines->push_back(reader.recordLine());
    }
    return records;
}

// Every case is read with pieces of 1, 2, 3 and 7 bytes as well as whole, so that a quote,
// a doubled quote or a CR LF cut between two pieces is read as when it is not.
constexpr std::size_t kBufferSizes[] = {1, 2, 3, 7, CsvReader::kDefaultBufferSize};

TEST(CsvReader, QuotesSeparatorsAndLineEnds) {
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<char> separator;
        Records expected;
    } cases[] = {
        {"plain fields, CR LF", "a;b;c\r\n1;2;3\r\n", ';', {{"a", "b", "c"}, {"1", "2", "3"}}},
        {"no line end after the last line", "a;b\r\n1;2", ';', {{"a", "b"}, {"1", "2"}}},
        {"a lone LF ends a line", "a;b\n1;2\n", ';', {{"a", "b"}, {"1", "2"}}},
        {"a lone CR ends a line", "a;b\r1;2\r", ';', {{"a", "b"}, {"1", "2"}}},
        {"line ends mixed", "a\r\nb\nc\rd", ';', {{"a"}, {"b"}, {"c"}, {"d"}}},
        {"an empty line is one empty field",
         "a;b\r\n\r\n1;2\r\n",
         ';',
         {{"a", "b"}, {""}, {"1", "2"}}},
        {"empty fields and a separator at the end", ";x;\r\n;", ';', {{"", "x", ""}, {"", ""}}},
        {"a quoted separator belongs to the value", "\"1;5\";\"2\"\r\n", ';', {{"1;5", "2"}}},
        {"a quoted line break belongs to the value",
         "\"one\r\ntwo\";x\r\n\"lf\nonly\"\n",
         ';',
         {{"one\r\ntwo", "x"}, {"lf\nonly"}}},
        {"a doubled quote is one quote",
         "\"say \"\"hi\"\"\";\"\"\"\"\r\n",
         ';',
         {{"say \"hi\"", "\""}}},
        {"two quotes are an empty value", "\"\";a\r\n", ';', {{"", "a"}}},
        {"a quote inside a plain value is kept", "12\" disk;5'\r\n", ';', {{"12\" disk", "5'"}}},
        {"text after the closing quote is kept", "\"ab\"cd;x\r\n", ';', {{"abcd", "x"}}},
        {"another separator", "a,\"b,c\",d\n", ',', {{"a", "b,c", "d"}}},
        {"no separator: every line one field",
         "a;b\r\n\"c;d\"\r\n",
         std::nullopt,
         {{"a;b"}, {"c;d"}}},
        {"a quote as the separator encloses nothing", "a\"b\r\n", '"', {{"a", "b"}}},
        {"an empty file has no records", "", ';', {}},
        {"a lone line end is one empty record", "\r\n", ';', {{""}}},
        {"a byte-order mark is no part of the first field",
         "\xEF\xBB\xBFName;x\r\n",
         ';',
         {{"Name", "x"}}},
        {"bytes that only begin like a mark are data", "\xEF\xBBZ;x", ';', {{"\xEF\xBBZ", "x"}}},
        {"a file of just the mark", "\xEF\xBB\xBF", ';', {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = writeFile(dir, "case.csv", c.bytes);
        for (std::size_t size : kBufferSizes)
            EXPECT_EQ(readAll(file, c.separator, size), c.expected)
                << c.what << ", pieces of " << size;
    }
}

TEST(CsvReader, ByteOrderMarkIsReportedAndRewindSkipsItAgain) {
    TempDir dir;
    const auto file = writeFile(dir, "bom.csv", "\xEF\xBB\xBFN\r\n1\r\n");
    CsvReader reader(file, ';', 2);
    EXPECT_TRUE(reader.hasByteOrderMark());
    ASSERT_TRUE(reader.readRecord());
    ASSERT_TRUE(reader.readRecord());
    EXPECT_FALSE(reader.readRecord());
    reader.rewind();
    ASSERT_TRUE(reader.readRecord());
    EXPECT_EQ(reader.field(0), "N") << "the second pass starts after the mark too";
    EXPECT_FALSE(CsvReader(writeFile(dir, "plain.csv", "N\r\n"), ';').hasByteOrderMark());
}

TEST(CsvReader, RecordLineCountsLineBreaksInsideQuotedValues) {
    TempDir dir;
    const auto file = writeFile(dir, "lines.csv", "a\r\n\"x\r\ny\ny\";b\r\nc\rd\n");
    for (std::size_t size : kBufferSizes) {
        std::vector<std::uint64_t> lines;
        readAll(file, ';', size, &lines);
        EXPECT_EQ(lines, (std::vector<std::uint64_t>{1, 2, 5, 6})) << "pieces of " << size;
    }
}

TEST(CsvReader, UnclosedQuoteIsAnErrorNamingTheFileAndTheLine) {
    TempDir dir;
    const auto file = writeFile(dir, "open.csv", "a;b\r\n1;\"2;3\r\n4;5\r\n");
    try {
        readAll(file, ';', 3);
        FAIL() << "the rest of the file was taken as one value";
    } catch (const csv::CsvError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "File " + file.string() +
                      ": the quoted value that starts in line 2 has no closing quote");
    }
}

TEST(CsvReader, MissingFileNamesTheSystemsReason) {
    try {
        CsvReader reader("/nonexistent/x.csv", ';');
        FAIL();
    } catch (const csv::CsvError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot read /nonexistent/x.csv: No such file or directory");
    }
}

} // namespace
} // namespace fieldsmith::csvtest
