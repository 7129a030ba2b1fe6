// The interface each table format implements. The Table (Table.h) holds the cursor rules,
// orders, ranges and edit states; a driver only knows its files: how records are found in
// primary order, how fields are encoded, and how changes reach the disk.
#pragma once

#include "FieldDef.h"
#include "Value.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine {

class Session;

//! Where a record stands in a driver's files. Opaque to everyone but the driver; valid
//! until the next change that inserts, deletes or moves records.
using RecordPos = std::uint64_t;

//! A record being edited or inserted: its stored bytes plus the blob values set since.
struct RecordImage {
    std::vector<std::uint8_t> raw;
    //! Per field: the new value of a blob field set during the edit; unset = unchanged.
    std::vector<std::optional<std::string>> blobs;
};

//! What beginWrite() found.
enum class WriteAccess {
    Granted,         //!< this open may write; nothing changed under it
    GrantedReloaded, //!< granted, but another writer had changed the table: the driver read
                     //!< it again, and earlier record positions are no longer valid
    Busy,            //!< another open (in this process or another) is writing the table
};

struct OpenRequest {
    std::filesystem::path path; //!< the table's main file, with extension
    bool exclusive = false;
    const Session* session = nullptr; //!< passwords, program code page
};

//! The identity of a record that is known by its position alone (8 bytes, big-endian).
inline std::string positionIdentity(RecordPos pos) {
    std::string id(8, '\0');
    for (int i = 0; i < 8; ++i) id[static_cast<std::size_t>(i)] = static_cast<char>((pos >> (56 - 8 * i)) & 0xFF);
    return id;
}
//! The position back from positionIdentity(); false for a text of another length.
inline bool positionFromIdentity(std::string_view identity, RecordPos& pos) {
    if (identity.size() != 8) return false;
    pos = 0;
    for (char c : identity) pos = (pos << 8) | static_cast<unsigned char>(c);
    return true;
}

class TableDriver {
public:
    virtual ~TableDriver() = default;

    virtual const std::vector<FieldDef>& fields() const = 0;
    //! The index definitions as the files hold them now (primary first).
    virtual std::vector<IndexDef> indexes() = 0;
    //! Number of leading fields that form the primary key; 0 for a table without one.
    virtual int keyFieldCount() const = 0;
    virtual std::size_t recordSize() const = 0;
    virtual std::int64_t recordCount() = 0;

    // --- navigation in primary order (key order for keyed tables, else storage order)
    virtual bool first(RecordPos& pos) = 0;
    virtual bool last(RecordPos& pos) = 0;
    //! Moves to the following record; false (pos unchanged) at the end.
    virtual bool next(RecordPos& pos) = 0;
    virtual bool prior(RecordPos& pos) = 0;
    //! 0-based position of a record in primary order.
    virtual std::int64_t ordinal(RecordPos pos) = 0;
    virtual bool at(std::int64_t ordinal, RecordPos& pos) = 0;
    virtual void read(RecordPos pos, std::uint8_t* raw) = 0;

    // --- field codec (values in the program's code page)
    //! Decodes one field of a stored record; blob fields are fetched from their file.
    virtual Value decode(int field, const std::uint8_t* raw) = 0;
    //! The text of a field that stores plain text, put straight into out: what decode()
    //! gives as a text value, without the value around it, for walks that read texts. False
    //! leaves the field to decode() (other types, blobs, nulls).
    virtual bool decodeText(int field, const std::uint8_t* raw, std::string& out) {
        (void)field, (void)raw, (void)out;
        return false;
    }
    //! Encodes a value into a record image; blobs go to image.blobs. Throws BadValue.
    virtual void encode(int field, RecordImage& image, const Value& value) = 0;
    //! Appends bytes whose memcmp order is the field's order in an index.
    virtual void appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                               std::string& out) = 0;
    //! A record with every field blank.
    virtual void blankRecord(std::uint8_t* raw) = 0;
    //! Names how this table stores its records: two tables of the same non-empty layout store
    //! every value in the same bytes, so a record read from one may be inserted into the other
    //! as it is. Empty when records refer to files of their own (blobs) or the driver does
    //! not say.
    virtual const std::string& recordLayout() const {
        static const std::string none;
        return none;
    }

    //! First record whose leading nFields key fields compare >= (after: >) those of raw.
    //! Only for keyed tables; false when there is no such record.
    virtual bool seek(const std::uint8_t* raw, int nFields, bool after, RecordPos& pos) = 0;

    //! The first ordinal of the primary order whose sort key (appendSortKey of the key
    //! fields, case kept), cut to the length of key, is >= key (> key when upper). False
    //! when the driver has no quicker way than a search record by record.
    virtual bool boundOfKey(std::string_view key, bool upper, std::int64_t& ordinal) {
        (void)key;
        (void)upper;
        (void)ordinal;
        return false;
    }

    //! A record's identity, which stays the record's while records are edited: the stored
    //! primary key of a keyed table (it changes only with the key), or else where the record
    //! stands in a format whose records do not move when others are edited. Every identity
    //! of one open table has the same length.
    virtual std::string identity(RecordPos pos, const std::uint8_t* raw) = 0;
    //! Finds the record of an identity; false when there is none any more.
    virtual bool locate(std::string_view identity, RecordPos& pos) = 0;

    // --- changes; each writes through to the files before it returns
    //! Makes this open the table's one writer; called before every change. Cheap while
    //! this open writes already.
    virtual WriteAccess beginWrite() = 0;
    virtual RecordPos insert(RecordImage& image) = 0;
    //! Rewrites a record; returns where it stands afterwards (a key change moves it).
    virtual RecordPos update(RecordPos pos, RecordImage& image) = 0;
    //! Deletes a record. Returns false when the table is now empty, else sets following to
    //! the record that came after it (or the new last record when it was the last).
    virtual bool remove(RecordPos pos, RecordPos& following, bool& wasLast) = 0;

    //! Brings every file of the table up to date with the changes (header, indexes), flushes
    //! them to the disk and gives up the writer's role. Errors are thrown, never swallowed:
    //! a run that cannot flush did not complete.
    virtual void flush() {}
    //! The table is being filled, as a copy or an import fills a new table: records added
    //! at its end may reach the files a batch at a time instead of each before insert()
    //! returns. The files always hold a whole table; a kill loses at most the last batch.
    //! Every other change, flush() and the end of filling write the batch first.
    virtual void setFilling(bool filling) { (void)filling; }
    //! Reads the table again when another writer changed it; true when it did.
    virtual bool refresh() { return false; }
    //! Throws when the files a flush will write (indexes) cannot be written.
    virtual void requireWritableFamily() {}

    //! Drops an index by name ("" = the primary index) on the table held exclusively.
    virtual void dropIndex(const std::string& name) = 0;

    //! Called once before the driver is destroyed by a regular close; flushes first.
    virtual void close() {}
};

} // namespace fieldsmith::engine
