// The memo file beside a dBase or FoxPro table: .DBT in the dBase III+ style (values end at
// 0x1A) and the dBase IV style (length headers and a chain of free blocks), and .FPT.
#pragma once

#include "../FileIo.h"
#include "DBaseHeader.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace fieldsmith::engine::dbase {

class MemoFile {
public:
    MemoFile(const std::filesystem::path& path, MemoStyle style);

    //! Creates an empty dBase IV memo file (512-byte blocks) for the table of this stem.
    static void createDBase4(const std::filesystem::path& path, const std::string& tableStem);

    const std::filesystem::path& path() const { return file_.path(); }
    MemoStyle style() const { return style_; }

    //! The value that starts at a block. Throws a Damaged error naming the file and the
    //! block when it leads past the end of the file.
    std::string read(std::uint32_t block);

    //! Stores a value and returns its first block. The blocks are on the disk before this
    //! returns; only then may a record point to them.
    std::uint32_t write(std::string_view data);

    //! Gives the blocks of a value that no record points to any more to the free-block
    //! chain (dBase IV style only; dBase III+ never reuses memo space).
    void release(std::uint32_t block);

    void sync() { file_.sync(); }

private:
    struct FreeRun {
        std::uint32_t at = 0;   //!< first block; 0 stands for the file header
        std::uint32_t next = 0; //!< the next run, or the end of the chain
        std::uint32_t count = 0;
    };

    [[noreturn]] void damaged(std::uint32_t block, const std::string& what) const;
    std::uint32_t endBlock() const;
    std::uint32_t blocksFor(std::size_t bytes) const;
    std::string readUntilTerminator(std::uint64_t offset);
    std::uint32_t writeDBase3(std::string_view data);
    std::uint32_t writeDBase4(std::string_view data);
    //! The free runs of a dBase IV memo file in chain order; false when the chain is not
    //! sound (then nothing may be reused, and new values go to the end).
    bool readFreeChain(std::vector<FreeRun>& runs);
    void setNext(std::uint32_t runAt, std::uint32_t next);
    void writeRun(const FreeRun& run);

    File file_;
    MemoStyle style_;
    std::uint32_t blockSize_ = 512;
};

} // namespace fieldsmith::engine::dbase
