// An open ASCII text table: the lines of a .TXT read through the layout of its .SCH, and
// records appended at the end. As with the classic text driver there are no indexes and no
// deletes, records of VARYING tables cannot be changed in place, and every open is
// exclusive.
#pragma once

#include "../CodePage.h"
#include "../FileIo.h"
#include "../TableDriver.h"
#include "TextSchema.h"

#include <ctime>
#include <memory>

namespace fieldsmith::engine::text {

class TextTable final : public TableDriver {
public:
    explicit TextTable(const OpenRequest& request);
    ~TextTable() override;

    const std::vector<FieldDef>& fields() const override { return fieldDefs_; }
    std::vector<IndexDef> indexes() override { return {}; }
    int keyFieldCount() const override { return 0; }
    std::size_t recordSize() const override { return recordSize_; }
    std::int64_t recordCount() override { return static_cast<std::int64_t>(lines_.size()); }

    bool first(RecordPos& pos) override;
    bool last(RecordPos& pos) override;
    bool next(RecordPos& pos) override;
    bool prior(RecordPos& pos) override;
    std::int64_t ordinal(RecordPos pos) override;
    bool at(std::int64_t ordinal, RecordPos& pos) override;
    void read(RecordPos pos, std::uint8_t* raw) override;

    Value decode(int field, const std::uint8_t* raw) override;
    void encode(int field, RecordImage& image, const Value& value) override;
    void appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                       std::string& out) override;
    void blankRecord(std::uint8_t* raw) override;
    bool seek(const std::uint8_t*, int, bool, RecordPos&) override { return false; }
    //! A record's line number: lines are never deleted or moved.
    std::string identity(RecordPos pos, const std::uint8_t*) override { return positionIdentity(pos); }
    bool locate(std::string_view identity, RecordPos& pos) override {
        RecordPos p = 0;
        if (!positionFromIdentity(identity, p) || p < 1 || p > lines_.size()) return false;
        pos = p;
        return true;
    }

    WriteAccess beginWrite() override;
    RecordPos insert(RecordImage& image) override;
    RecordPos update(RecordPos pos, RecordImage& image) override;
    bool remove(RecordPos pos, RecordPos& following, bool& wasLast) override;
    void flush() override;
    bool refresh() override;
    void close() override;
    void dropIndex(const std::string& name) override;

private:
    struct Line {
        std::uint64_t start = 0;
        std::uint32_t length = 0; //!< without the line end
    };
    struct SeenState {
        std::uint64_t size = 0;
        timespec modified{};
    };

    [[noreturn]] void refuse(const std::string& what) const;
    std::string tableName() const;
    void scanLines();
    SeenState stateOnDisk() const;
    bool changedOnDisk() const;
    void checkPos(RecordPos pos) const;
    std::string lineBytes(const Line& line);
    void parseVarying(const std::string& line, std::uint64_t number, std::uint8_t* raw) const;
    std::string formatLine(const std::uint8_t* raw) const;
    void beginChange();

    File file_;
    TextSchema schema_;
    std::vector<FieldDef> fieldDefs_;
    std::vector<int> rawOffset_; //!< per field: where its text lies in a record image
    std::size_t recordSize_ = 0;
    CodePageConverter toProgram_;
    CodePageConverter toTable_;

    std::vector<Line> lines_;
    std::uint64_t appendAt_ = 0; //!< where the next record goes
    bool needsLineEnd_ = false;  //!< the last line has no line end yet
    std::vector<char> cache_;    //!< bytes read ahead for walks
    std::uint64_t cacheStart_ = 0;
    SeenState seen_;
};

//! Opens a text table (always exclusively, as the classic text driver did).
std::unique_ptr<TableDriver> openTextTable(const OpenRequest& request);

//! Creates an empty FIXED text table and its schema, replacing an older one of that name.
//! Text tables have no indexes: index definitions are refused.
void createTextTable(const std::filesystem::path& path, const std::vector<FieldDef>& fields,
                     const std::vector<IndexDef>& indexes, int codePage);

//! Refuses: text tables cannot have indexes.
[[noreturn]] void addTextIndex(const std::filesystem::path& path);

} // namespace fieldsmith::engine::text
