#include "csv/CsvReader.h"

#include "csv/CsvError.h"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fieldsmith::csv {

void throwSystemError(const std::string& what, const std::string& file, int error) {
    throw CsvError(what + " " + file + ": " + std::strerror(error));
}

CsvReader::CsvReader(const std::filesystem::path& path, std::optional<char> separator,
                     std::size_t bufferSize)
    : path_(path.string()), buffer_(bufferSize < 1 ? 1 : bufferSize) {
    if (separator) separator_ = static_cast<unsigned char>(*separator);
    // A quote as the separator cannot also enclose values.
    quoting_ = separator_ != '"';
    stop_[static_cast<unsigned char>('\r')] = stop_[static_cast<unsigned char>('\n')] = true;
    if (separator_ >= 0) stop_[separator_] = true;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throwSystemError("Cannot read", path_, errno);
    skipByteOrderMark();
}

CsvReader::~CsvReader() {
    if (fd_ >= 0) ::close(fd_);
}

void CsvReader::rewind() {
    pos_ = end_ = 0;
    eof_ = false;
    line_ = 1;
    recordLine_ = 0;
    afterCr_ = false;
    skipByteOrderMark();
}

// The mark EF BB BF says "UTF-8" and is no part of the first field. Looked at before the
// first piece is read, so that the file is read from just after it.
void CsvReader::skipByteOrderMark() {
    char head[3] = {};
    ssize_t n;
    do
        n = ::pread(fd_, head, sizeof head, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) throwSystemError("Cannot read", path_, errno);
    bom_ = n == 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0;
    if (::lseek(fd_, bom_ ? 3 : 0, SEEK_SET) < 0) throwSystemError("Cannot read", path_, errno);
}

// Reads the next piece of the file into the buffer; false at the end of the file.
bool CsvReader::fill() {
    if (eof_) return false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwSystemError("Cannot read", path_, errno);
        pos_ = 0;
        end_ = static_cast<std::size_t>(n);
        if (n == 0) eof_ = true;
        return n > 0;
    }
}

// True when no byte is left, after reading the next piece if the buffer is used up.
bool CsvReader::atEnd() {
    return pos_ == end_ && !fill();
}

// Counts the line ends inside a quoted value, a CR LF as one, so that messages name the
// line where a record starts.
void CsvReader::countLines(const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] == '\r')
            ++line_;
        else if (p[i] == '\n' && !afterCr_)
            ++line_;
        afterCr_ = p[i] == '\r';
    }
}

// A quoted value, from after its opening quote to its closing one: everything between
// belongs to the value, and two quotes in a row stand for one. A file that ends before the
// closing quote is not a delimited file we can read safely: the rest of it would silently
// become one value.
void CsvReader::readQuoted() {
    const std::uint64_t startLine = line_;
    afterCr_ = false;
    for (;;) {
        if (atEnd())
            throw CsvError("File " + path_ + ": the quoted value that starts in line " +
                           std::to_string(startLine) + " has no closing quote");
        const char* from = buffer_.data() + pos_;
        const void* quote = std::memchr(from, '"', end_ - pos_);
        const std::size_t n =
            quote ? static_cast<std::size_t>(static_cast<const char*>(quote) - from) : end_ - pos_;
        countLines(from, n);
        text_.append(from, n);
        pos_ += n;
        if (!quote) continue;
        ++pos_; // the quote
        if (!atEnd() && buffer_[pos_] == '"') {
            text_ += '"';
            ++pos_;
            afterCr_ = false;
            continue;
        }
        return;
    }
}

// Bytes up to the next separator or line end (not consumed), or to the end of the file.
void CsvReader::readPlain() {
    for (;;) {
        std::size_t i = pos_;
        while (i < end_ && !stop_[static_cast<unsigned char>(buffer_[i])])
            ++i;
        text_.append(buffer_.data() + pos_, i - pos_);
        pos_ = i;
        if (i < end_ || !fill()) return;
    }
}

bool CsvReader::readRecord() {
    text_.clear();
    ends_.clear();
    if (atEnd()) return false;
    recordLine_ = line_;
    for (;;) {
        // One field: an optional quoted part, then plain bytes up to what ends the field.
        // Text after a closing quote is kept as it stands, as spreadsheet programs read it.
        if (quoting_ && buffer_[pos_] == '"') {
            ++pos_;
            readQuoted();
        }
        readPlain();
        ends_.push_back(text_.size());
        if (atEnd()) return true;
        const char c = buffer_[pos_++];
        if (static_cast<unsigned char>(c) == separator_) {
            if (atEnd()) {
                ends_.push_back(text_.size()); // a separator at the very end: one more, empty
                return true;
            }
            continue;
        }
        ++line_;
        if (c == '\r' && !atEnd() && buffer_[pos_] == '\n') ++pos_;
        return true;
    }
}

std::string_view CsvReader::field(std::size_t i) const {
    assert(i < ends_.size());
    const std::size_t from = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(from, ends_[i] - from);
}

} // namespace fieldsmith::csv
