// The blob file (.MB) of a Paradox table: memo, formatted memo, binary, OLE and graphic
// values too long for their record's leader, in 4 KiB blocks.
#pragma once

#include "../FileIo.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine::paradox {

class BlobFile {
public:
    //! Opens an existing blob file; key is the cipher key of an encrypted table, or 0.
    BlobFile(const std::filesystem::path& path, std::uint32_t key);
    ~BlobFile();
    BlobFile(const BlobFile&) = delete;
    BlobFile& operator=(const BlobFile&) = delete;
    //! Flushes what was written to the disk and unmaps the file: another open may write
    //! it next.
    void finishWriting();
    //! Writes an empty blob file (the header block alone).
    static void createEmpty(const std::filesystem::path& path, std::uint32_t key = 0);

    //! Reads length bytes of the blob at locator (offset | slot from the record trailer).
    std::string read(std::uint32_t locator, std::uint32_t length) const;

    struct Stored {
        std::uint32_t locator = 0;
        std::uint16_t modification = 0;
    };
    //! Stores a blob longer than its leader and returns where it went.
    Stored write(std::string_view data);
    //! Frees the space of a stored blob. A locator of 0 is ignored.
    void release(std::uint32_t locator);

    const std::filesystem::path& path() const { return file_.path(); }

private:
    [[noreturn]] void damaged(const std::string& what) const;
    void readClear(std::uint64_t offset, void* buf, std::size_t n) const;
    void writeClear(std::uint64_t offset, const void* buf, std::size_t n);
    void beginWriting();
    void scan();
    std::uint16_t nextModification();
    std::uint32_t allocateUnits(std::uint32_t units);
    bool placeInSubBlock(std::uint32_t blockOffset, std::string_view data, Stored& out);

    File file_;
    std::uint32_t key_ = 0;
    bool scanned_ = false;
    bool cacheCleared_ = false;
    std::vector<std::uint32_t> subBlocks_;          //!< offsets of sub-allocated blocks
    std::map<std::uint32_t, std::uint32_t> freeRuns_; //!< offset → length in 4 KiB units
    std::uint32_t endOffset_ = 0;                    //!< end of the last block
    std::uint16_t modification_ = 0;
    std::uint32_t subOffset_ = 0;          //!< the sub-allocated block kept in memory
    std::vector<std::uint8_t> subBlock_;
    struct Room {
        int freeSlots = 0;
        int longestRun = 0; //!< longest run of free 16-byte chunks
    };
    std::map<std::uint32_t, Room> room_; //!< sub-allocated blocks found too full

};

} // namespace fieldsmith::engine::paradox
