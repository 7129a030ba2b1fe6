// A file opened by the Paradox driver: positioned reads and writes that either complete or
// throw an error naming the file, and the OS lock that shared and exclusive opens take.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace fieldsmith::engine::paradox {

class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    //! Opens for reading and writing, or for reading only when the file is not writable.
    static File open(const std::filesystem::path& path);
    //! Creates or truncates a file for writing.
    static File create(const std::filesystem::path& path);

    bool isOpen() const { return fd_ >= 0; }
    bool writable() const { return writable_; }
    const std::filesystem::path& path() const { return path_; }
    std::uint64_t size() const;

    //! Reads n bytes at offset; bytes past the end of the file read as zeros. Returns the
    //! number of bytes that were really in the file.
    std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n) const;
    void writeAt(std::uint64_t offset, const void* buf, std::size_t n);
    void truncate(std::uint64_t size);
    //! Maps the file into memory: reads and writes become copies into the page cache,
    //! which survive the process being killed just as written-through data does. The
    //! file may grow past its end in steps; close() cuts it back to what was written.
    void map();
    //! Takes a shared or exclusive lock without waiting; false when another open holds a
    //! conflicting lock (in this process or another).
    bool tryLock(bool exclusive);
    void close();

private:
    void growMapping(std::uint64_t end);

    int fd_ = -1;
    bool writable_ = false;
    std::uint8_t* map_ = nullptr;
    std::uint64_t mapLen_ = 0;  //!< bytes mapped (the file's physical size)
    std::uint64_t logical_ = 0; //!< bytes written or read from the file's own content
    std::filesystem::path path_;
};

//! A file beside a table that shares its stem and has this extension (".MB"), matched
//! without regard to case; the exact spelling is preferred.
std::optional<std::filesystem::path> findCompanion(const std::filesystem::path& table,
                                                   const std::string& extension);
//! The name a new companion file gets: the extension in the case of the table's own.
std::filesystem::path companionPath(const std::filesystem::path& table, const std::string& extension);

} // namespace fieldsmith::engine::paradox
