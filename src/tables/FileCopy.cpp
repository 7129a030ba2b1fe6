#include "FileCopy.h"

#include "engine/EngineError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fieldsmith::tables {

namespace fsys = std::filesystem;

namespace {

[[noreturn]] void failOn(const fsys::path& file, const std::string& what, int err) {
    throw engine::EngineError(engine::ErrorKind::Database,
                              "Cannot " + what + " " + file.string() + ": " + std::strerror(err));
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

// Copies a file with the kernel's means: a reflink where the file system shares blocks,
// else copy_file_range (which copies inside the kernel, or offloads to the storage), and
// plain reads and writes only where neither works. The copy gets the source's
// modification time, so that a restored file is as the run before left it. durable: flushed
// to the disk before it returns (a restored table); a backup is left to the kernel's
// writeback, which keeps its cost a small part of the run's.
void copyFile(const fsys::path& from, const fsys::path& to, bool durable) {
    Fd in, out;
    in.fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0) failOn(from, "read", errno);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0) failOn(from, "read", errno);
    out.fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out.fd < 0) failOn(to, "create", errno);
    if (::ioctl(out.fd, FICLONE, in.fd) != 0) {
        off_t left = st.st_size;
        bool kernelCopy = true;
        while (left > 0 && kernelCopy) {
            const ssize_t n =
                ::copy_file_range(in.fd, nullptr, out.fd, nullptr, static_cast<size_t>(left), 0);
            if (n > 0) {
                left -= n;
            } else if (n == 0) {
                break; // the file became shorter while it was copied
            } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP ||
                       errno == EINVAL) {
                kernelCopy = false;
            } else if (errno != EINTR) {
                failOn(to, "write", errno);
            }
        }
        if (!kernelCopy) {
            if (::lseek(in.fd, 0, SEEK_SET) < 0 || ::ftruncate(out.fd, 0) != 0 ||
                ::lseek(out.fd, 0, SEEK_SET) < 0)
                failOn(to, "write", errno);
            std::vector<char> buf(1 << 20);
            for (;;) {
                const ssize_t n = ::read(in.fd, buf.data(), buf.size());
                if (n == 0) break;
                if (n < 0) {
                    if (errno == EINTR) continue;
                    failOn(from, "read", errno);
                }
                for (ssize_t done = 0; done < n;) {
                    const ssize_t w =
                        ::write(out.fd, buf.data() + done, static_cast<size_t>(n - done));
                    if (w < 0) {
                        if (errno == EINTR) continue;
                        failOn(to, "write", errno);
                    }
                    done += w;
                }
            }
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.fd, times) != 0) failOn(to, "write", errno);
    if (durable && ::fsync(out.fd) != 0) failOn(to, "write", errno);
}

} // namespace fieldsmith::tables
