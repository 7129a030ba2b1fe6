// An open dBase or FoxPro table: the records of its .DBF in storage order with deleted ones
// hidden, its memo file, and the tags of its production index, read and changed in place.
#pragma once

#include "../CodePage.h"
#include "../FileIo.h"
#include "../TableDriver.h"
#include "DBaseHeader.h"
#include "IndexFiles.h"
#include "MemoFile.h"
#include "TagExpression.h"

#include <array>
#include <ctime>
#include <memory>
#include <optional>

namespace fieldsmith::engine::dbase {

class DBaseTable final : public TableDriver {
public:
    explicit DBaseTable(const OpenRequest& request);
    ~DBaseTable() override;

    const std::vector<FieldDef>& fields() const override { return fieldDefs_; }
    std::vector<IndexDef> indexes() override;
    int keyFieldCount() const override { return 0; }
    std::size_t recordSize() const override { return header_.recordLength; }
    std::int64_t recordCount() override;

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
    bool seek(const std::uint8_t*, int, bool, RecordPos&) override { return false; }
    //! A record's number: records never move in a dBase file.
    std::string identity(RecordPos pos, const std::uint8_t*) override { return positionIdentity(pos); }
    bool locate(std::string_view identity, RecordPos& pos) override;

    WriteAccess beginWrite() override;
    RecordPos insert(RecordImage& image) override;
    RecordPos update(RecordPos pos, RecordImage& image) override;
    bool remove(RecordPos pos, RecordPos& following, bool& wasLast) override;
    void flush() override;
    bool refresh() override;
    void requireWritableFamily() override;
    void close() override;
    void dropIndex(const std::string& name) override;

    //! Adds a tag to the production index of the table held exclusively: on these fields
    //! (joined by "+", in UPPER() when case-insensitive), or on an expression when options
    //! has ixExpression and fields is its text.
    void addTag(const std::string& name, const std::string& fields, unsigned options);

private:
    //! A tag of the production index with its parsed expression (none when this engine
    //! cannot evaluate it).
    struct Tag {
        TagDef def;
        std::optional<TagExpression> expression;
        std::string problem; //!< why the tag cannot be kept up to date
    };
    //! Where the state of the files was seen last: another writer's change shows as a
    //! difference.
    struct SeenState {
        std::vector<std::uint8_t> header;
        std::uint64_t size = 0;
        timespec modified{};
    };

    // opening (DBaseTable.cpp)
    [[noreturn]] void damaged(std::uint64_t offset, const std::string& what) const;
    std::string tableName() const;
    void readStructure();
    void openMemoFile();
    void scanDeleted();
    SeenState stateOnDisk() const;
    bool changedOnDisk() const;
    void reload();
    // positions
    std::uint64_t recordOffset(std::uint32_t recno) const;
    bool isDeleted(std::uint32_t recno) const;
    void checkPos(RecordPos pos) const;
    // changes
    void dropLeftovers();
    void beginChange();
    void writeRecord(std::uint32_t recno, const std::uint8_t* raw, bool withEndMark);
    void writeRecordCount();
    void writeMemos(RecordImage& image, std::vector<std::uint32_t>& replaced);
    std::uint32_t memoBlock(const FieldDesc& f, const std::uint8_t* raw) const;
    MemoFile& memoForWriting();
    // codec (DBaseCodec.cpp)
    const FieldDesc& desc(int field) const;
    bool isNullFlagged(const FieldDesc& f, const std::uint8_t* raw) const;
    Value decodeMemo(int field, const FieldDesc& f, const std::uint8_t* raw);
    // indexes (DBaseIndexes.cpp)
    void readIndexFiles();
    std::string unmaintainedIndexes() const;
    void invalidateIndex(const std::uint8_t* before, const std::uint8_t* after);
    void rebuildProductionIndex(const std::vector<Tag>& tags);
    void setProductionIndexFlag(bool on);
    void markTaggedFields(const std::vector<Tag>& tags);
    void requireExclusiveChange(const char* what);

    bool exclusive_ = false;
    File db_;
    Header header_;
    std::vector<int> visible_; //!< field position → index in header_.fields
    std::vector<FieldDef> fieldDefs_;
    int programCodePage_ = 1252;
    CodePageConverter toProgram_;
    CodePageConverter toTable_;
    std::array<std::uint8_t, 256> upper_{};
    std::unique_ptr<MemoFile> memo_;

    std::uint32_t count_ = 0;            //!< records in the file, deleted ones included
    std::vector<std::uint32_t> deleted_; //!< numbers of the deleted records, ascending

    //! Records read ahead for walks while this open does not write.
    std::vector<std::uint8_t> cache_;
    std::uint32_t cacheFirst_ = 0; //!< record number of the first cached record, 0 = none
    std::uint32_t cacheCount_ = 0;

    std::optional<std::filesystem::path> mdxPath_;
    std::vector<Tag> tags_;
    std::vector<TagDef> singleIndexes_; //!< .NDX files that belong to the table
    bool indexStale_ = false;           //!< the production index must be written at the next flush
    bool indexFlagOff_ = false;         //!< the header's production-index flag is cleared on disk

    SeenState seen_;
    bool changed_ = false;
};

} // namespace fieldsmith::engine::dbase
