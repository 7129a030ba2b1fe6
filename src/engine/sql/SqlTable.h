// A table of a SQL database behind a server alias, as the engine walks and changes tables:
// rows in the byte order of their keys (or of the server's row ids), fetched a batch at a
// time by identity, each post one statement in the run's one transaction.
#pragma once

#include "../CodePage.h"
#include "../TableDriver.h"
#include "KeyIndex.h"
#include "SqlBackend.h"

#include <map>
#include <memory>
#include <optional>

namespace fieldsmith::engine::sql {

class SqlTable final : public TableDriver {
public:
    //! Opens a table (its name as the server spells it) on a connection of its own.
    SqlTable(std::unique_ptr<SqlBackend> backend, std::string table, const OpenRequest& request);
    ~SqlTable() override;

    const std::vector<FieldDef>& fields() const override { return fieldDefs_; }
    std::vector<IndexDef> indexes() override;
    int keyFieldCount() const override { return static_cast<int>(keyFields_.size()); }
    std::size_t recordSize() const override { return recordSize_; }
    std::int64_t recordCount() override;

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
    bool seek(const std::uint8_t* raw, int nFields, bool after, RecordPos& pos) override;
    std::string identity(RecordPos pos, const std::uint8_t* raw) override;
    bool locate(std::string_view identity, RecordPos& pos) override;

    WriteAccess beginWrite() override;
    RecordPos insert(RecordImage& image) override;
    RecordPos update(RecordPos pos, RecordImage& image) override;
    bool remove(RecordPos pos, RecordPos& following, bool& wasLast) override;
    void flush() override;
    //! A table being filled takes its records without reading their keys back: the key
    //! each record brings is the one it gets, and a server may send them ahead.
    void setFilling(bool filling) override { filling_ = filling; }
    bool refresh() override;
    void close() override;
    void dropIndex(const std::string& name) override;

    //! The statements for a new index on the closed table.
    static void addIndex(SqlBackend& backend, const std::string& table, const IndexDef& def);

private:
    //! Where a field lives in the driver's record image: a flag byte (0 = null) and the
    //! value. Strings are text of the program's code page; numbers, dates and times binary;
    //! blob fields hold the slot whose fetched row carries their value.
    struct Slot {
        std::string column;
        std::string select; //!< how a SELECT reads it
        FieldType type = FieldType::ftString;
        bool indexed = false; //!< in the key or an index: a text longer than the field is
                              //!< unreadable there, not cut
        std::size_t offset = 0;
        std::size_t width = 0;
    };
    //! A fetched row's long values, by field.
    using Blobs = std::vector<std::optional<std::string>>;

    [[noreturn]] void fail(const std::string& what) const;
    void describe();
    //! Reads the identities after those known (all when none are), in key order.
    void loadKeys();
    //! Starts the walk's knowledge of the rows: streamed where ranges can be fetched.
    void startKeys();
    //! Makes the identities complete.
    void ensureKeys();
    void forgetKeys();
    //! Fetches the next batch of rows after the known ones and learns their identities;
    //! false when there were none.
    bool fetchMore();
    std::size_t walkBatch() const;
    //! The first live slot at or after a slot, fetching more rows as needed.
    std::optional<std::size_t> liveFrom(std::size_t slot);
    //! Reads the current row of a statement that selected selectList().
    void readRow(const SqlStatement& st, std::uint8_t* raw, Blobs* blobs) const;
    std::string identityOfRaw(const std::uint8_t* raw) const;
    void appendIdentity(const std::uint8_t* raw, std::string& out) const;
    std::vector<SqlValue> keyParams(std::string_view identity) const;
    std::string whereIdentity() const;
    std::string recordName(std::string_view identity) const;
    std::string selectList() const;
    //! A column of the statement's current row into the field's place in the image.
    void storeColumn(int field, const SqlStatement& st, int column, std::uint8_t* raw,
                     Blobs* blobs) const;
    void storeCell(const Slot& s, const SqlCell& c, const SqlStatement& st, int column,
                   std::uint8_t* p) const;
    void storeRowId(const SqlStatement& st, int column, std::uint8_t* raw) const;
    SqlValue paramOf(int field, const std::uint8_t* raw, const Blobs* pending) const;
    RecordPos keepInserted(const RecordImage& image, const std::string& identity);
    std::string rowIdFromText(const std::string& text) const;
    void fetchAround(std::size_t slot);
    const std::uint8_t* cachedRaw(std::size_t slot);
    //! The long values fetched with a row, or null.
    const Blobs* cachedBlobs(std::size_t slot) const;
    void forgetRows();
    //! Keeps a row this open posted, so that it reads without asking the server.
    void keepRow(std::size_t slot, std::vector<std::uint8_t> raw, Blobs blobs);
    void requireWritable() const;
    Value decodeSlot(int field, const std::uint8_t* raw) const;
    //! A statement of this table, prepared once.
    SqlStatement& statement(const std::string& sql);
    SqlStatement& updateStatement(const std::string& fields, bool movingRowId);

    std::unique_ptr<SqlBackend> db_;
    std::string table_;
    bool exclusive_ = false;
    bool writing_ = false;
    bool preview_ = false; //!< opened for a preview: its changes are rolled back, never committed
    std::vector<FieldDef> fieldDefs_;
    std::vector<Slot> slots_;
    std::vector<int> keyFields_; //!< fields of the primary key in key order; empty: row ids
    std::size_t recordSize_ = 0;
    std::size_t rowIdOffset_ = 0; //!< where a row id sits in the image (tables without key)
    SqlTableShape shape_;
    CodePageConverter toProgram_;
    CodePageConverter toServer_;

    //! The identities of the rows, in key order. Where the server orders the key as this
    //! driver does, a walk learns them a batch at a time with the rows, and keys_ holds the
    //! known first part of them; a move that needs all of them loads the rest.
    KeyIndex keys_;
    bool keysLoaded_ = false;
    bool filling_ = false;
    bool keysComplete_ = false;
    std::optional<std::int64_t> serverCount_; //!< the rows while the identities are partial
    //! Rows fetched in one statement: consecutive live slots, their images side by side,
    //! and their long values when the table has blob fields. Two are kept, so that a walk
    //! that looks back a little does not fetch again.
    struct Window {
        std::vector<std::size_t> slots; //!< ascending
        std::vector<std::uint8_t> raws; //!< slots.size() images
        std::vector<Blobs> blobs;
    };
    Window windows_[2];
    int newest_ = 0;
    //! Rows posted by this open, by slot (a few: cleared when too many).
    std::map<std::size_t, std::pair<std::vector<std::uint8_t>, Blobs>> rows_;
    bool hasBlobs_ = false;
    //! The key is one number (or the row id) whose order the server shares: batches are
    //! fetched by a range in that order, else by their identities.
    bool rangeFetch_ = false;
    std::map<int, std::unique_ptr<SqlStatement>> fetchByCount_; //!< prepared per batch size
    std::map<std::string, std::unique_ptr<SqlStatement>> statements_;
    std::map<std::string, std::unique_ptr<SqlStatement>> updates_; //!< by the fields they set
    std::vector<std::uint8_t> scratch_; //!< a row's image before its change
};

//! Opens the table of a server alias.
std::unique_ptr<TableDriver> openSqlTable(const OpenRequest& request, const std::string& alias,
                                          const std::string& table);
//! The tables of a server alias.
std::vector<std::string> sqlTableNames(const Session& session, const std::string& alias);
//! Creates a table, replacing one of that name.
void createSqlTable(const Session& session, const std::string& alias, const std::string& table,
                    const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes);
void addSqlIndex(const Session& session, const std::string& alias, const std::string& table,
                 const IndexDef& def);
//! The statements that make the secondary indexes of a server table again exactly as they
//! are, each with the index's name as the server knows it.
std::vector<std::pair<std::string, std::string>>
sqlIndexStatements(const Session& session, const std::string& alias, const std::string& table);
//! Runs such a statement unless the table has an index of that name again; true when it ran.
bool restoreSqlIndex(const Session& session, const std::string& alias, const std::string& table,
                     const std::string& index, const std::string& statement);

} // namespace fieldsmith::engine::sql
