// Reads a delimited text file one record at a time, never the whole file: a quoted value
// keeps its separators and line breaks and turns a doubled quote into one; CR LF, a lone LF
// and a lone CR each end a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::csv {

class CsvReader {
public:
    static constexpr std::size_t kDefaultBufferSize = 1 << 20;

    //! Opens the file; an error names it and the system's reason. separator: the byte that
    //! splits a record into fields, none when every line is one field. bufferSize: the piece
    //! of the file read at a time (tests make it tiny to cut records anywhere).
    CsvReader(const std::filesystem::path& path, std::optional<char> separator,
              std::size_t bufferSize = kDefaultBufferSize);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    //! Whether the file starts with a UTF-8 byte-order mark. The mark belongs to no field.
    bool hasByteOrderMark() const { return bom_; }

    //! Reads the next record; false at the end of the file. An empty line is a record of one
    //! empty field; the line end after the last line makes no further record.
    bool readRecord();
    std::size_t fieldCount() const { return ends_.size(); }
    //! A field of the record just read, its enclosing quotes removed. Valid until the next
    //! readRecord().
    std::string_view field(std::size_t i) const;
    //! The fields of the record just read one after another, for a look at all its bytes
    //! at once.
    std::string_view recordBytes() const { return text_; }
    //! The 1-based line on which the record just read starts.
    std::uint64_t recordLine() const { return recordLine_; }

    //! Back to the first record, for the second pass over the file.
    void rewind();

private:
    bool fill();
    bool atEnd();
    void skipByteOrderMark();
    void readQuoted();
    void readPlain();
    void countLines(const char* p, std::size_t n);

    int fd_ = -1;
    std::string path_;
    int separator_ = -1; //!< -1: none
    bool quoting_ = true;
    std::vector<char> buffer_;
    std::size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    bool bom_ = false;
    bool stop_[256] = {}; //!< the bytes that end a plain value
    std::uint64_t line_ = 1, recordLine_ = 0;
    bool afterCr_ = false;          //!< inside a quoted value, the last byte counted was a CR
    std::string text_;              //!< the current record's fields, one after another
    std::vector<std::size_t> ends_; //!< where each field ends in text_
};

} // namespace fieldsmith::csv
