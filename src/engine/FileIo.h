// The files of the table drivers: positioned reads and writes that either complete or throw
// an error naming the file and the system's reason, the OS locks that shared, exclusive and
// writing opens take, space reserved before a file grows, and files replaced atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fieldsmith::engine {

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
    //! Writes n bytes at offset. Space beyond the end of the file is reserved first, so a
    //! full disk is an error before anything is written.
    void writeAt(std::uint64_t offset, const void* buf, std::size_t n);
    //! The same for a record changed in place. In a mapped file a walk that changes records
    //! on page after page goes through the mapping, one fault per page however many records
    //! of it change; changes here and there go by pwrite, a system call each, where a store
    //! into the mapping would cost a fault each. Both reach the same page cache.
    void patchAt(std::uint64_t offset, const void* buf, std::size_t n);
    //! Writes a long run of bytes by one system call, also in a mapped file: the kernel copies
    //! them into the page cache where stores into fresh mapped pages cost a fault per page.
    void writeRun(std::uint64_t offset, const void* buf, std::size_t n);
    void truncate(std::uint64_t size);
    //! Maps the file for writing: writes become copies into the page cache, which survive
    //! the process being killed just as written-through data does. The file grows in steps
    //! whose disk space is reserved before the mapping covers it; close() cuts it back to
    //! what was written. Only a writer maps: a reader of a mapped file that someone else
    //! shortens would die by a signal, so readers use positioned reads.
    void map();
    bool mapped() const { return map_ != nullptr; }
    //! Ends the mapping: the file is cut back to what was written and read with positioned
    //! reads again.
    void unmap();
    //! Takes a shared or exclusive lock without waiting; false when another open holds a
    //! conflicting lock (in this process or another).
    bool tryLock(bool exclusive);
    //! The writer's lock: at most one open of a file (in any process) holds it. Independent
    //! of the shared and exclusive locks, so readers may go on while one open writes.
    bool tryWriterLock();
    void releaseWriterLock();
    bool holdsWriterLock() const { return writerLock_; }
    //! Flushes what was written through to the disk (mapped pages and the file).
    void sync();
    //! Ends the mapping, then flushes: what a writer does when it is done. Cheaper than
    //! sync() before unmap(): each page written back while still mapped is write-protected
    //! again on its own, a TLB flush apiece; pages no longer mapped need none.
    void unmapAndSync();
    //! Cuts a grown mapping back to what was written, flushes when asked, and closes.
    void close();

private:
    void growMapping(std::uint64_t end);
    //! pwrite until all n bytes are written.
    void writeFully(std::uint64_t offset, const void* buf, std::size_t n);
    void prepareWriteAhead(std::uint64_t offset);
    void reserve(std::uint64_t from, std::uint64_t to);

    int fd_ = -1;
    bool writable_ = false;
    bool writerLock_ = false;
    std::uint8_t* map_ = nullptr;
    std::uint64_t mapLen_ = 0;  //!< bytes mapped (the file's physical size)
    std::uint64_t logical_ = 0; //!< bytes written or read from the file's own content
    // patchAt's guess of the kind of walk: the page of the last change and how it went.
    static constexpr std::uint64_t kPageBytes = 4096;
    std::uint64_t patchPage_ = ~std::uint64_t{0};
    bool patchMapped_ = false;
    // Where the pages made writable ahead of a walk that writes page after page end.
    static constexpr std::uint64_t kWriteAhead = 64 * kPageBytes;
    std::uint64_t writableTo_ = 0;
    std::filesystem::path path_;
};

//! A new version of a file, written beside it under a temporary name and moved over it in
//! one step once complete and flushed. Until commit() the old file stays untouched; a
//! replacement that is dropped without commit() removes its temporary file.
class ReplacementFile {
public:
    explicit ReplacementFile(std::filesystem::path target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    File& file() { return file_; }
    const std::filesystem::path& temporaryPath() const { return temp_; }
    //! Flushes the new file, renames it over the target and flushes the directory.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    File file_;
    bool committed_ = false;
};

//! Writes a whole file, replacing one of that name, and flushes it. Errors name the file and
//! the system's reason.
void writeWholeFile(const std::filesystem::path& path, std::string_view content);
//! Reads a whole file. Errors name the file and the system's reason.
std::string readWholeFile(const std::filesystem::path& path);

//! Flushes a directory, so that files created, renamed or removed in it stay so.
void syncDirectory(const std::filesystem::path& dir);
//! Files under dir are scratch copies that are thrown away (a preview's): flushing them to
//! the disk is skipped. An empty path ends it. One directory at a time, for the process.
void setScratchDirectory(const std::filesystem::path& dir);

//! Throws an error naming the directory when new files cannot be created in it.
void requireWritableDirectory(const std::filesystem::path& dir);

//! A file beside a table that shares its stem and has this extension (".MB"), matched
//! without regard to case; the exact spelling is preferred.
std::optional<std::filesystem::path> findCompanion(const std::filesystem::path& table,
                                                   const std::string& extension);
//! The name a new companion file gets: the extension in the case of the table's own.
std::filesystem::path companionPath(const std::filesystem::path& table, const std::string& extension);

} // namespace fieldsmith::engine
