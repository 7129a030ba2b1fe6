// A table dataset with a cursor: the engine's one way to read and change a table of any
// format. Cursor rules, orders, ranges and edit states live here; the formats are drivers.
#pragma once

#include "EngineError.h"
#include "FieldDef.h"
#include "Preview.h"
#include "TableDriver.h"
#include "Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {

class Session;
class Table;

enum class TableType { Default, Paradox, DBase, Ascii };
enum class DataSetState { Inactive, Browse, Edit, Insert };

//! What a table's event handler hears besides record moves.
enum class TableEvent {
    Opened,
    AboutToClose,   //!< still open: a viewer may post what the user typed
    Closed,
    Reordered,      //!< another index or range: positions of records changed
    RecordsChanged, //!< a record was posted, inserted or deleted
};

//! Identities of records (TableDriver::identity) in one flat buffer: a walk over a million
//! records keeps a few bytes per record.
class IdentityList {
public:
    std::size_t size() const { return count_; }
    std::string_view at(std::size_t i) const {
        return std::string_view(data_).substr(i * width_, width_);
    }
    void add(std::string_view identity);

private:
    std::size_t width_ = 0;
    std::size_t count_ = 0;
    std::string data_;
};

//! The table type that a table name stands for: .DBF dBase, .TXT ASCII text, else Paradox.
TableType tableTypeForName(std::string_view tableName);

//! A field of an open table, by position. Cheap to copy; valid while the table is open.
class Field {
public:
    Field(Table& table, int index) : table_(&table), index_(index) {}

    int index() const { return index_; }
    const std::string& name() const;
    FieldType type() const;
    int size() const;
    bool required() const;
    bool isNull() const;
    //! Null reads as the empty text.
    std::string asString() const;
    //! Empty text makes a non-string field null; a string keeps what its size allows.
    void setAsString(std::string_view text);
    std::int64_t asInteger() const;
    void setAsInteger(std::int64_t value);
    Value value() const;
    void setValue(const Value& value);
    //! Whether the field belongs to the index the table is ordered by.
    bool isIndexField() const;

private:
    Table* table_;
    int index_;
};

class Table {
public:
    explicit Table(Session& session);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    Session& session() const { return session_; }

    // --- properties; change them while the table is closed
    void setDatabaseName(std::string name);
    const std::string& databaseName() const { return databaseName_; }
    //! Without extension the name stands for the Paradox table NAME.DB.
    void setTableName(std::string name);
    const std::string& tableName() const { return tableName_; }
    void setTableType(TableType type);
    TableType tableType() const { return tableType_; }
    void setExclusive(bool exclusive);
    bool exclusive() const { return exclusive_; }
    //! Field names joined by ";": order by an index whose fields begin with these.
    //! Setting it on an open table reorders the table at once. Clears the index name.
    void setIndexFieldNames(std::string names);
    const std::string& indexFieldNames() const { return indexFieldNames_; }
    //! Order by the index of this name; empty means the primary order.
    void setIndexName(std::string name);
    const std::string& indexName() const { return indexName_; }

    //! The table's main file: the alias's directory and the name with its extension.
    std::filesystem::path filePath() const;

    // --- life cycle
    //! Opens the table. An exclusive open first closes this program's own other opens of
    //! the same table: the retry question of a refused exclusive open is for other programs.
    void open();
    //! Flushes (see flush()) and closes. A flush error is thrown after the table is closed.
    void close();
    bool active() const { return driver_ != nullptr; }
    //! Re-reads the record count and the current record from the files, also after another
    //! program changed the table.
    void refresh();
    //! Writes every change through to the disk and brings the table's indexes up to date;
    //! another open or program may write the table afterwards. A run that reports completion
    //! has flushed. Errors are thrown, never swallowed.
    void flush();
    //! Marks the open table as being filled by a copy or an import: records appended at its
    //! end may reach the files a batch at a time (see TableDriver::setFilling). A flush
    //! writes what is held; filling ends with setFilling(false) or the close.
    void setFilling(bool filling);
    //! Throws before a run writes when its changes could not be flushed at the end (a
    //! read-only table, or a directory where index files cannot be rebuilt).
    void requireWritable();
    //! Takes the table's writer role now rather than at the first change; a Database error
    //! when another program writes the table.
    void beginWriting();

    // --- cursor
    std::int64_t recordCount();
    void first();
    void last();
    //! Moves to the following record; at the last record eof() becomes true and the
    //! cursor stays where it is.
    void next();
    void prior();
    //! Moves n records forward (or back when negative), stopping at either end.
    void moveBy(std::int64_t n);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    bool isEmpty();
    //! 1-based position of the current record in the current order (and range); 0 when
    //! there is none.
    std::int64_t recNo();

    // --- ranges on the current index
    //! Restricts the table to records whose leading index fields lie between from and to
    //! (values as text, one per field given), and moves to the first of them.
    void setRange(const std::vector<std::string>& from, const std::vector<std::string>& to);
    void cancelRange();
    bool hasRange() const { return range_.has_value(); }

    // --- changes
    DataSetState state() const { return state_; }
    void edit();
    void insert();
    void append() { insert(); }
    //! Writes the edited or inserted record through to the files.
    void post();
    void cancel();
    //! Deletes the current record; the cursor goes to the record that followed it.
    void deleteRecord();
    //! Whether source stores its records in the same bytes as this table (both open), so
    //! that copyRecordFrom() may copy them.
    bool storesRecordsLike(const Table& source) const;
    //! Puts the current record of source, as stored, into the record being inserted or
    //! edited: a copy without converting each field. Tables that do not store their records
    //! alike (storesRecordsLike()) are an error.
    void copyRecordFrom(const Table& source);

    // --- fields
    int fieldCount() const;
    Field field(int index);
    //! The field of this name (case-insensitive); an unknown name is an error naming the
    //! field and the table.
    Field fieldByName(std::string_view name);
    std::optional<int> findField(std::string_view name) const;

    // --- definitions
    //! Field definitions: those of the open table, or those set for createTable().
    std::vector<FieldDef>& fieldDefs() {
        recentLookups_.clear(); // the caller may change the names
        return fieldDefs_;
    }
    std::vector<IndexDef>& indexDefs() { return indexDefs_; }
    //! Reads the field definitions from the files (table open or closed).
    void updateFieldDefs();
    //! Reads the index definitions from the files (table open or closed).
    void updateIndexDefs();
    //! Creates the table from fieldDefs() and indexDefs(), replacing an older one.
    void createTable();
    //! A password that createTable() protects the new table with; empty for none.
    void setCreatePassword(std::string password) { createPassword_ = std::move(password); }
    //! Adds an index to the closed table.
    void addIndex(const std::string& name, const std::string& fields, unsigned options);
    //! Drops an index by name ("" is the primary index).
    void deleteIndex(const std::string& name);
    //! A table of a server database: the statements that make its secondary indexes again
    //! exactly as they are (uniqueness, order, expressions, conditions), each with the
    //! index's name as the server knows it. Empty for a file table.
    std::vector<std::pair<std::string, std::string>> serverIndexStatements() const;
    //! Runs such a statement on the closed table unless it has an index of that name again;
    //! true when it ran.
    bool restoreServerIndex(const std::string& index, const std::string& statement);

    //! Whether this open was made during a preview (on shadow copies, or on a server
    //! table whose changes are rolled back): such an open is closed when the preview ends.
    bool openedForPreview() const { return openedForPreview_; }

    // --- record identities
    //! The identity of the current record (TableDriver::identity); empty when there is none.
    std::string identity();
    //! Moves to the record of an identity; false, with the cursor where it was, when the
    //! record is gone.
    bool gotoIdentity(std::string_view identity);
    //! The identities of every record of the current order and range, in that order: a walk
    //! that changes the fields its order depends on goes by this list, so that it meets every
    //! record exactly once.
    IdentityList identities();
    //! Whether writing one of these fields can move a record within the current order.
    bool orderDependsOn(const std::vector<std::string>& fieldNames) const;

    // --- reading without moving the cursor (the Table View's rows)
    struct Row {
        std::vector<std::uint8_t> raw;
        RecordPos pos = 0;
    };
    //! The record at a 0-based position of the current order and range; false past the end.
    bool readRow(std::int64_t index, Row& row);
    //! A field of a row read by readRow(), as Field::asString() would give it.
    std::string rowText(const Row& row, int field);
    std::string rowIdentity(const Row& row);

    // --- notification
    //! Called after every record move and value change, unless controls are disabled.
    void setDataChangeHandler(std::function<void(Table&)> handler);
    void disableControls() { ++controlsDisabled_; }
    void enableControls();
    bool controlsDisabled() const { return controlsDisabled_ > 0; }
    //! Called on open and close, when the order changes and when records change. Never
    //! suspended: a viewer must always know when its rows went stale.
    void setEventHandler(std::function<void(Table&, TableEvent)> handler);

private:
    friend class Field;
    struct Order;
    struct Range {
        std::int64_t lo = 0; //!< first ordinal in range
        std::int64_t hi = 0; //!< one past the last
        std::string fromKey, toKey;
        int keyFields = 0;
    };

    TableDriver& driver() const;
    std::filesystem::path resolvePath(const std::filesystem::path& wanted) const;
    std::filesystem::path exactOrResolved(const std::filesystem::path& wanted) const;
    void closeOwnOpens(const std::string& key);
    void finishOpen();
    //! The server alias the table belongs to, when it is one; empty for a file table.
    bool onServer() const;
    void ensureWriter();
    void afterReload();
    void refuseServerStructureInPreview() const;
    void refuseOriginalInPreview() const;
    std::vector<std::optional<std::string>> pendingBlobsBefore() const;
    void tellPreview(ChangeKind kind, const std::vector<std::optional<std::string>>& oldBlobs = {});
    void event(TableEvent e);
    std::string textOfValue(const Value& v) const;
    void requireActive(const char* what) const;
    void requireBrowse(const char* what);
    void resolveOrder();
    std::int64_t orderSize();
    std::int64_t currentOrdinal();
    bool positionAt(std::int64_t ordinal);
    void loadCurrent();
    void notify();
    void applyRange();
    std::string sortKeyOf(const std::uint8_t* raw, int fields) const;
    void afterStructureChange();
    void openProbe(Table& probe) const;
    Value fieldValue(int index) const;
    void setFieldValue(int index, const Value& value);
    std::string fieldText(int index) const;
    //! The position of a field by name (case-insensitive), -1 when there is none.
    int fieldIndexOf(std::string_view name) const;
    void setFieldText(int index, std::string_view text);
    void setFieldTextInto(int index, std::string_view text);
    [[noreturn]] void fail(ErrorKind kind, const std::string& message) const;

    Session& session_;
    std::string databaseName_;
    std::string tableName_;
    TableType tableType_ = TableType::Default;
    bool exclusive_ = false;
    std::string indexFieldNames_;
    std::string indexName_;

    std::string createPassword_;
    std::unique_ptr<TableDriver> driver_;
    std::filesystem::path openPath_; //!< the file the driver opened
    std::vector<FieldDef> fieldDefs_;
    std::vector<IndexDef> indexDefs_;
    std::unique_ptr<Order> order_;
    std::optional<Range> range_;

    // cursor
    bool hasRecord_ = false;
    RecordPos pos_ = 0;
    std::int64_t ordinal_ = -1; //!< position in the current order, -1 when not known
    bool eof_ = true;
    bool bof_ = true;
    DataSetState state_ = DataSetState::Inactive;
    std::vector<std::uint8_t> current_; //!< stored bytes of the current record
    RecordImage image_;                 //!< the record being edited or inserted

    mutable std::vector<std::pair<std::string, int>> recentLookups_; //!< name as asked → field
    std::function<void(Table&)> onDataChange_;
    std::function<void(Table&, TableEvent)> onEvent_;
    int controlsDisabled_ = 0;
    bool writing_ = false; //!< this open holds the table's writer role
    bool openedForPreview_ = false;

    friend class Session;
    std::string openKey_; //!< which table is open, for the session (Session::fileKey, ...)
};

} // namespace fieldsmith::engine
