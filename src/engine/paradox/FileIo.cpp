#include "FileIo.h"

#include "../EngineError.h"
#include "../FieldDef.h"

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fieldsmith::engine::paradox {

namespace {
[[noreturn]] void ioError(const std::filesystem::path& path, const char* what) {
    throw EngineError(ErrorKind::General,
                      std::string(what) + " " + path.string() + ": " + std::strerror(errno));
}
} // namespace

File::~File() { close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_), writable_(other.writable_), map_(other.map_), mapLen_(other.mapLen_),
      logical_(other.logical_), path_(std::move(other.path_)) {
    other.fd_ = -1;
    other.map_ = nullptr;
    other.mapLen_ = 0;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        writable_ = other.writable_;
        map_ = other.map_;
        mapLen_ = other.mapLen_;
        logical_ = other.logical_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
        other.map_ = nullptr;
        other.mapLen_ = 0;
    }
    return *this;
}

File File::open(const std::filesystem::path& path) {
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
        const std::uint64_t avail = offset < logical_ ? std::min<std::uint64_t>(n, logical_ - offset) : 0;
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

void File::writeAt(std::uint64_t offset, const void* buf, std::size_t n) {
    if (!writable_)
        throw EngineError(ErrorKind::Database, "Table file is read-only: " + path_.string());
    const auto* p = static_cast<const char*>(buf);
    if (map_) {
        if (offset + n > mapLen_) growMapping(offset + n);
        std::memcpy(map_ + offset, p, n);
        logical_ = std::max(logical_, offset + n);
        return;
    }
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            ioError(path_, "Cannot write");
        }
        done += static_cast<std::size_t>(r);
    }
}

void File::truncate(std::uint64_t size) {
    if (map_) {
        logical_ = size;
        return; // the mapping keeps its length; close() cuts the file
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) ioError(path_, "Cannot resize");
}

void File::map() {
    if (map_ || fd_ < 0) return;
    const std::uint64_t size = this->size();
    logical_ = size;
    if (size == 0) {
        mapLen_ = 0;
        map_ = nullptr;
        if (!writable_) return;
        growMapping(64 * 1024);
        return;
    }
    void* m = ::mmap(nullptr, size, PROT_READ | (writable_ ? PROT_WRITE : 0), MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) return; // positioned reads and writes still work
    map_ = static_cast<std::uint8_t*>(m);
    mapLen_ = size;
}

// Grows the file and its mapping in steps, so that appending stays cheap.
void File::growMapping(std::uint64_t end) {
    std::uint64_t len = std::max<std::uint64_t>(end, mapLen_ + mapLen_ / 4);
    len = (len + (1 << 20) - 1) / (1 << 20) * (1 << 20);
    if (::ftruncate(fd_, static_cast<off_t>(len)) != 0) ioError(path_, "Cannot grow");
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

void File::close() {
    if (map_) {
        ::munmap(map_, mapLen_);
        map_ = nullptr;
        if (writable_ && mapLen_ != logical_) (void)!::ftruncate(fd_, static_cast<off_t>(logical_));
        mapLen_ = 0;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

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

} // namespace fieldsmith::engine::paradox
