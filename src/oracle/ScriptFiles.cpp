#include "oracle/ScriptFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace fieldsmith::oracle {

ScriptFileWriter::ScriptFileWriter(std::string path) : path_(std::move(path)) {
    partPath_ = path_ + ".part";
    fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(path_, errno);
    buffer_.reserve(kBufferSize + 65536);
}

ScriptFileWriter::~ScriptFileWriter() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(partPath_.c_str());
}

void ScriptFileWriter::fail(const std::string& path, int error) {
    throw std::runtime_error("Cannot write " + path + ": " + std::strerror(error));
}

void ScriptFileWriter::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(path_, errno);
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
}

void ScriptFileWriter::commit() {
    if (fd_ < 0) return;
    flush();
    if (::fsync(fd_) != 0) fail(path_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        ::unlink(partPath_.c_str());
        fail(path_, errno);
    }
    if (std::rename(partPath_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(partPath_.c_str());
        fail(path_, error);
    }
}

} // namespace fieldsmith::oracle
