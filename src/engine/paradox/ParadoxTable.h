// An open Paradox table: the block chain of its .DB file, its blob file and its primary
// index, read and changed in place.
#pragma once

#include "../CodePage.h"
#include "../TableDriver.h"
#include "BlobFile.h"
#include "../FileIo.h"
#include "ParadoxHeader.h"

#include <memory>
#include <optional>

namespace fieldsmith::engine::paradox {

class ParadoxTable final : public TableDriver {
public:
    explicit ParadoxTable(const OpenRequest& request);
    ~ParadoxTable() override;

    const std::vector<FieldDef>& fields() const override { return fieldDefs_; }
    std::vector<IndexDef> indexes() override;
    int keyFieldCount() const override { return header_.numKeyFields; }
    std::size_t recordSize() const override { return static_cast<std::size_t>(header_.recordSize); }
    std::int64_t recordCount() override { return total_; }

    bool first(RecordPos& pos) override;
    bool last(RecordPos& pos) override;
    bool next(RecordPos& pos) override;
    bool prior(RecordPos& pos) override;
    std::int64_t ordinal(RecordPos pos) override;
    bool at(std::int64_t ordinal, RecordPos& pos) override;
    void read(RecordPos pos, std::uint8_t* raw) override;

    Value decode(int field, const std::uint8_t* raw) override;
    bool decodeText(int field, const std::uint8_t* raw, std::string& out) override;
    void encode(int field, RecordImage& image, const Value& value) override;
    void appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                       std::string& out) override;
    void blankRecord(std::uint8_t* raw) override;
    const std::string& recordLayout() const override { return layout_; }
    bool seek(const std::uint8_t* raw, int nFields, bool after, RecordPos& pos) override;
    bool boundOfKey(std::string_view key, bool upper, std::int64_t& ordinal) override;
    std::string identity(RecordPos pos, const std::uint8_t* raw) override;
    bool locate(std::string_view identity, RecordPos& pos) override;

    WriteAccess beginWrite() override;
    RecordPos insert(RecordImage& image) override;
    RecordPos update(RecordPos pos, RecordImage& image) override;
    bool remove(RecordPos pos, RecordPos& following, bool& wasLast) override;
    void flush() override;
    void setFilling(bool filling) override;
    bool refresh() override;
    void requireWritableFamily() override;
    void close() override;
    void dropIndex(const std::string& name) override;

    //! Adds a secondary index: writes its X and Y files from the records as they stand.
    void addSecondaryIndex(const IndexDef& def);

    //! Makes an unkeyed table keyed on its leading fields: sorts the records, refuses a
    //! duplicate key, rewrites the table and writes its .PX.
    void makePrimary(const std::vector<std::string>& fieldNames);

    //! Writes the .PX of a keyed table from its block chain (also for an empty table).
    void writePrimaryIndex();

private:
    struct Block {
        std::uint16_t number = 0;
        std::vector<std::uint8_t> bytes; //!< clear text, blockSize bytes
        std::uint16_t next() const;
        std::uint16_t prev() const;
        int count(int recordSize) const;
    };

    [[noreturn]] void damaged(const std::string& what) const;
    void readChain();
    const Block& loadBlock(std::uint16_t number);
    std::uint64_t blockOffset(std::uint16_t number) const;
    void readBlockInto(std::uint16_t number, std::vector<std::uint8_t>& buf);
    void writeBlock(std::uint16_t number, std::vector<std::uint8_t>& bytes);
    //! Writes bytes [from, from + len) of a block (the whole block when encrypted).
    //! scattered: a change in place that the next writes are unlikely to meet.
    void commitRange(std::uint16_t number, const std::vector<std::uint8_t>& clear, std::size_t from,
                     std::size_t len, bool scattered = false);
    void writeHeader();
    void writeRecordCount();
    //! Before a record is appended while filling: holds the last block in memory when the
    //! table ends with it and new blocks come from the end of the file.
    void holdTail();
    //! Writes the held blocks, then the header. keepLast: the last block stays held, for the
    //! records that follow it.
    void writeTail(bool keepLast = false);
    void stampHeader();
    void beginChange();
    std::vector<std::uint8_t> headerOnDisk() const;
    void reload();
    void noteFieldChanges(const std::uint8_t* before, const std::uint8_t* after);
    void restampIndex(const std::filesystem::path& file, std::size_t offset);
    bool indexWasCurrent(const std::filesystem::path& file, std::size_t stampOffset);
    void rebuildPrefix();
    std::uint16_t allocateBlock();
    void freeBlock(std::uint16_t number);
    int compareKeys(const std::uint8_t* a, const std::uint8_t* b, int nFields) const;
    int keyBytes(int nFields) const;
    //! Chain index of the block where a record with this key belongs.
    std::size_t findBlockForKey(const std::uint8_t* raw, int nFields);
    void writeBlobs(RecordImage& image, std::vector<std::uint32_t>& replaced);
    std::uint32_t blobLocator(int field, const std::uint8_t* raw) const;
    void assignAutoIncrement(std::uint8_t* raw);
    RecordPos insertRaw(const std::uint8_t* raw, bool atEnd);
    bool keyAfterLast(const std::uint8_t* raw);
    void removeAt(std::size_t chainIdx, int slot);
    RecordPos posOf(std::size_t chainIdx, int slot) const;
    void splitPos(RecordPos pos, std::size_t& chainIdx, int& slot) const;
    std::optional<RecordPos> findKey(const std::uint8_t* raw);
    void writeSecondaryIndex(const IndexDef& def, const std::filesystem::path& xPath,
                             bool composite);
    void rebuildSecondaryIndexes();

    bool exclusive_ = false;
    std::uint32_t key_ = 0; //!< cipher key of an encrypted table, 0 for none
    File db_;
    Header header_;
    std::vector<FieldDef> fieldDefs_;
    std::unique_ptr<BlobFile> blobs_;
    CodePageConverter toProgram_;
    CodePageConverter toTable_;

    std::vector<std::uint16_t> chain_;       //!< block numbers in chain order
    std::vector<std::int32_t> chainIndex_;   //!< block number → index in chain_, -1
    std::vector<std::uint16_t> counts_;      //!< records per chain block
    std::vector<std::int64_t> prefix_;       //!< records before each chain block
    //! The sort key of each chain block's first record, as far as known (empty: not yet);
    //! dropped with prefix_ when records come or go. Key searches find their block by it
    //! without reading blocks.
    std::vector<std::string> firstKeys_;
    bool prefixDirty_ = true;
    std::int64_t total_ = 0;
    std::uint32_t fileBlocks_ = 0;
    std::uint16_t firstFree_ = 0;

    Block cache_;
    //! While the table is filled, the blocks at its end that records go to: held in memory
    //! and written a batch at a time, the header after them, so that the file always holds
    //! a whole table. Blocks first .. fileBlocks_; first is 0 when none are held.
    struct Tail {
        std::uint16_t first = 0;
        std::vector<std::uint8_t> bytes; //!< clear images, block after block
        bool firstInFile = false;        //!< the first block is one the file holds already
        bool headerPending = false;      //!< the header waits for the blocks it counts
    };
    bool filling_ = false;
    Tail tail_;
    bool tailHolds(std::uint16_t number) const {
        return tail_.first != 0 && number >= tail_.first && number <= fileBlocks_;
    }
    //! The header as this open last read or wrote it: another writer's change shows as a
    //! difference when this open starts to write again.
    std::vector<std::uint8_t> headerSeen_;
    bool changed_ = false;    //!< records changed since the last flush
    std::uint8_t counterBeforeChange_ = 0; //!< the change counter the indexes were stamped with
    bool structural_ = false; //!< records inserted, deleted or moved since the last flush
    std::vector<bool> fieldChanged_; //!< per field: its bytes changed since the last flush
    std::string layout_;             //!< see recordLayout(); empty with blob fields
};

} // namespace fieldsmith::engine::paradox
