#include "FileIo.h"

#include "EngineError.h"
#include "FieldDef.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fieldsmith::engine {

namespace {

[[noreturn]] void ioError(const std::filesystem::path& path, const char* what, int error) {
    throw EngineError(ErrorKind::General,
                      std::string(what) + " " + path.string() + ": " + std::strerror(error));
}

[[noreturn]] void ioError(const std::filesystem::path& path, const char* what) {
    ioError(path, what, errno);
}

// A file that would pass the process's size limit must fail with an error the run can
// report, not end the process by the signal the kernel sends by default.
void ignoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

// The byte the writer's lock covers: far past the end of any table file, so that it never
// meets the byte-range locks other programs take on records.
constexpr off_t kWriterLockOffset = 0x7FFFFFF0;

bool ofdLock(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kWriterLockOffset;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

} // namespace

File::~File() { close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_), writable_(other.writable_), writerLock_(other.writerLock_),
      map_(other.map_), mapLen_(other.mapLen_), logical_(other.logical_),
      path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.writerLock_ = false;
    other.map_ = nullptr;
    other.mapLen_ = 0;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        writable_ = other.writable_;
        writerLock_ = other.writerLock_;
        map_ = other.map_;
        mapLen_ = other.mapLen_;
        logical_ = other.logical_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.writerLock_ = false;
        other.map_ = nullptr;
        other.mapLen_ = 0;
    }
    return *this;
}

File File::open(const std::filesystem::path& path) {
    ignoreFileSizeSignal();
    File f;
    f.path_ = path;
    f.fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    f.writable_ = f.fd_ >= 0;
    if (f.fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        f.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (f.fd_ < 0) {
        if (errno == ENOENT)
            throw EngineError(ErrorKind::Database, "Table does not exist: " + path.string());
        ioError(path, "Cannot open");
    }
    return f;
}

File File::create(const std::filesystem::path& path) {
    ignoreFileSizeSignal();
    File f;
    f.path_ = path;
    f.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (f.fd_ < 0) ioError(path, "Cannot create");
    f.writable_ = true;
    return f;
}

std::uint64_t File::size() const {
    if (map_) return logical_;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) ioError(path_, "Cannot examine");
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t File::readAt(std::uint64_t offset, void* buf, std::size_t n) const {
    auto* p = static_cast<char*>(buf);
    if (map_) {
        const std::uint64_t avail =
            offset < logical_ ? std::min<std::uint64_t>(n, logical_ - offset) : 0;
        if (avail) std::memcpy(p, map_ + offset, avail);
        if (avail < n) std::memset(p + avail, 0, n - avail);
        return avail;
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ioError(path_, "Cannot read");
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    if (done < n) std::memset(p + done, 0, n - done);
    return done;
}

// Makes sure the disk holds room for the bytes from..to of the file, growing it to `to`.
void File::reserve(std::uint64_t from, std::uint64_t to) {
    if (to <= from) return;
    const int rc = ::posix_fallocate(fd_, static_cast<off_t>(from), static_cast<off_t>(to - from));
    if (rc == 0) return;
    if (rc == EOPNOTSUPP || rc == EINVAL) {
        // A file system without reservations: growing the file is the best there is.
        if (::ftruncate(fd_, static_cast<off_t>(to)) == 0) return;
        ioError(path_, "Cannot grow", errno);
    }
    // Whatever the failed reservation added goes again; the file keeps its old length.
    (void)!::ftruncate(fd_, static_cast<off_t>(from));
    ioError(path_, "Cannot grow", rc);
}

void File::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    if (!writable_)
        throw EngineError(ErrorKind::Database, "Table file is read-only: " + path_.string());
    const auto* p = static_cast<const char*>(buf);
    if (map_) {
        if (offset + n > mapLen_) growMapping(offset + n);
        if (offset + n > writableTo_) prepareWriteAhead(offset);
        std::memcpy(map_ + offset, p, n);
        logical_ = std::max(logical_, offset + n);
        return;
    }
    if (const std::uint64_t now = size(); offset + n > now) reserve(now, offset + n);
    writeFully(offset, p, n);
}

void File::writeFully(std::uint64_t offset, const void* buf, std::size_t n) {
    const auto* p = static_cast<const char*>(buf);
    for (std::size_t done = 0; done < n;) {
        const ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ioError(path_, "Cannot write");
        }
        done += static_cast<std::size_t>(r);
    }
}

// Each page a walk writes through the mapping costs a fault, two when the walk read it
// first. A write that follows on the pages written before is taken as a walk that goes on:
// the pages ahead are made writable in one call. A write elsewhere only marks its page.
void File::prepareWriteAhead(std::uint64_t offset) {
    const std::uint64_t page = offset / kPageBytes * kPageBytes;
    const bool follows = writableTo_ > 0 && page <= writableTo_ + kPageBytes;
    if (!follows) {
        writableTo_ = page + kPageBytes;
        return;
    }
    // Within the file's content only, unless the walk appends: a page past the end that no
    // one writes is not made dirty.
    const std::uint64_t end = offset < logical_ ? (logical_ + kPageBytes - 1) / kPageBytes * kPageBytes : mapLen_;
    const std::uint64_t to = std::min({mapLen_, end, page + kWriteAhead});
#ifdef MADV_POPULATE_WRITE
    if (to > page) ::madvise(map_ + page, to - page, MADV_POPULATE_WRITE); // a hint: errors are harmless
#endif
    writableTo_ = to;
}

void File::writeRun(std::uint64_t offset, const void* buf, std::size_t n) {
    if (!map_) return writeAt(offset, buf, n);
    if (!writable_)
        throw EngineError(ErrorKind::Database, "Table file is read-only: " + path_.string());
    // The mapping grows over the run first (reserving its space), so that it keeps covering
    // the whole file; its pages are not touched.
    if (offset + n > mapLen_) growMapping(offset + n);
    writeFully(offset, buf, n);
    logical_ = std::max(logical_, offset + n);
}

void File::patchAt(std::uint64_t offset, const void* buf, std::size_t n) {
    if (!map_ || offset + n > logical_) return writeAt(offset, buf, n);
    // A change on the page after the page of the last change is taken as a walk that goes
    // through the file: the mapping takes it, one fault for all the changes of a page and
    // the pages ahead made writable in one call. A change elsewhere goes by pwrite.
    const std::uint64_t page = offset / kPageBytes;
    if (page != patchPage_) {
        patchMapped_ = page == patchPage_ + 1;
        patchPage_ = page;
    }
    if (patchMapped_) return writeAt(offset, buf, n);
    writeFully(offset, buf, n);
}

void File::truncate(std::uint64_t size) {
    if (map_) {
        logical_ = size;
        return; // the mapping keeps its length; close() cuts the file
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) ioError(path_, "Cannot resize");
}

void File::map() {
    if (map_ || fd_ < 0 || !writable_) return;
    const std::uint64_t size = this->size();
    logical_ = size;
    mapLen_ = 0;
    if (size == 0) {
        growMapping(64 * 1024);
        return;
    }
    void* m = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) return; // positioned reads and writes still work
    map_ = static_cast<std::uint8_t*>(m);
    mapLen_ = size;
}

// Grows the file and its mapping in steps, so that appending stays cheap. The new space
// is reserved on the disk first: a mapped page without room behind it cannot be written.
void File::growMapping(std::uint64_t end) {
    std::uint64_t len = std::max<std::uint64_t>(end, mapLen_ + mapLen_ / 4);
    len = (len + (1 << 20) - 1) / (1 << 20) * (1 << 20);
    const std::uint64_t physical = map_ ? mapLen_ : size();
    try {
        reserve(physical, len);
    } catch (const EngineError&) {
        // A disk nearly full may still have room for what this write needs.
        len = (end + 0xFFFF) / 0x10000 * 0x10000;
        reserve(physical, len);
    }
    void* m = map_ ? ::mremap(map_, mapLen_, len, MREMAP_MAYMOVE)
                   : ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) ioError(path_, "Cannot map");
    map_ = static_cast<std::uint8_t*>(m);
    mapLen_ = len;
}

bool File::tryLock(bool exclusive) {
    if (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) return false;
    ioError(path_, "Cannot lock");
}

bool File::tryWriterLock() {
    if (writerLock_) return true;
    if (ofdLock(fd_, F_WRLCK)) return writerLock_ = true;
    if (errno == EAGAIN || errno == EACCES) return false;
    ioError(path_, "Cannot lock");
}

void File::releaseWriterLock() {
    if (!writerLock_) return;
    ofdLock(fd_, F_UNLCK);
    writerLock_ = false;
}

namespace {

std::string gScratchDirectory; // with a trailing separator; empty: none

bool isScratch(const std::filesystem::path& path) {
    return !gScratchDirectory.empty() && path.native().starts_with(gScratchDirectory);
}

} // namespace

void setScratchDirectory(const std::filesystem::path& dir) {
    gScratchDirectory = dir.empty() ? std::string() : (dir / "").native();
}

void File::sync() {
    if (fd_ < 0 || !writable_ || isScratch(path_)) return;
    if (map_ && logical_ > 0 && ::msync(map_, logical_, MS_SYNC) != 0) ioError(path_, "Cannot flush");
    if (::fsync(fd_) != 0) ioError(path_, "Cannot flush");
}

void File::unmapAndSync() {
    unmap();
    sync();
}

void File::unmap() {
    if (!map_) return;
    ::munmap(map_, mapLen_);
    map_ = nullptr;
    if (writable_ && mapLen_ != logical_) (void)!::ftruncate(fd_, static_cast<off_t>(logical_));
    mapLen_ = 0;
    writableTo_ = 0;
}

void File::close() {
    unmap();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    writerLock_ = false;
}

// ------------------------------------------------------------------------ replacements

ReplacementFile::ReplacementFile(std::filesystem::path target)
    : target_(std::move(target)), temp_(std::filesystem::path(target_).concat(".tmp")),
      file_(File::create(temp_)) {}

ReplacementFile::~ReplacementFile() {
    if (committed_) return;
    file_.close();
    std::error_code ec;
    std::filesystem::remove(temp_, ec);
}

void ReplacementFile::commit() {
    file_.sync();
    file_.close();
    if (::rename(temp_.c_str(), target_.c_str()) != 0) ioError(target_, "Cannot replace");
    committed_ = true;
    syncDirectory(target_.has_parent_path() ? target_.parent_path() : ".");
}

void writeWholeFile(const std::filesystem::path& path, std::string_view content) {
    File f = File::create(path);
    f.writeAt(0, content.data(), content.size());
    f.sync();
}

std::string readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) ioError(path, "Cannot read");
    std::string content;
    char buf[65536];
    for (;;) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            ioError(path, "Cannot read", error);
        }
        if (r == 0) break;
        content.append(buf, static_cast<std::size_t>(r));
    }
    ::close(fd);
    return content;
}

void syncDirectory(const std::filesystem::path& dir) {
    if (isScratch(dir / "")) return;
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ioError(dir, "Cannot open directory");
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0 && error != EINVAL) ioError(dir, "Cannot flush directory", error);
}

void requireWritableDirectory(const std::filesystem::path& dir) {
    // access() answers for the permissions; a probe file also finds a read-only mount or a
    // full disk, which permissions do not show (and which stop even the superuser).
    const std::filesystem::path probe = dir / ".fieldsmith-write-test";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        throw EngineError(ErrorKind::Database, "Cannot write files in directory " + dir.string() +
                                                   ": " + std::strerror(errno));
    if (fd >= 0) ::close(fd);
    ::unlink(probe.c_str());
}

// ------------------------------------------------------------------------ companions

std::optional<std::filesystem::path> findCompanion(const std::filesystem::path& table,
                                                   const std::string& extension) {
    const std::filesystem::path exact = companionPath(table, extension);
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    const std::string wanted = table.stem().string() + extension;
    const std::filesystem::path dir = table.has_parent_path() ? table.parent_path() : ".";
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        if (sameName(entry.path().filename().string(), wanted)) return entry.path();
    return std::nullopt;
}

std::filesystem::path companionPath(const std::filesystem::path& table, const std::string& extension) {
    const std::string ext = table.extension().string();
    bool lower = !ext.empty();
    for (char c : ext)
        if (std::isupper(static_cast<unsigned char>(c))) lower = false;
    std::string e = extension;
    for (char& c : e)
        c = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(c))
                                    : std::toupper(static_cast<unsigned char>(c)));
    return std::filesystem::path(table).replace_extension(e);
}

} // namespace fieldsmith::engine
