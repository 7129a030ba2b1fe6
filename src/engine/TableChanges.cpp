// The changing side of a Table: edit, insert, post and delete, the writer's role they need,
// and record identities for walks and viewers that must find a record again.
#include "EngineError.h"
#include "Session.h"
#include "Table.h"
#include "TableOrder.h"

#include <algorithm>

namespace fieldsmith::engine {

using namespace detail;

// ------------------------------------------------------------------------- writer's role

// Every change needs the table's writer role. This program's other opens of the table give
// it up between their changes; another program holding it refuses the change.
void Table::ensureWriter() {
    refuseOriginalInPreview();
    auto& d = driver();
    WriteAccess access = d.beginWrite();
    if (access == WriteAccess::Busy) {
        for (Table* other : session_.openTablesWithKey(openKey_))
            if (other != this && other->writing_) other->flush();
        access = d.beginWrite();
    }
    if (access == WriteAccess::Busy)
        fail(ErrorKind::Database, "Table " + tableName_ + " is in use by someone else");
    // Told once the role is this open's: a refused run backs nothing up, and no other
    // writer changes the family while it is copied.
    if (!writing_) {
        if (onServer())
            session_.beforeServerWrite(databaseName_, tableName_);
        else
            session_.beforeWrite(openPath_);
    }
    writing_ = true;
    if (access == WriteAccess::GrantedReloaded) afterReload();
}

// Another writer changed the table since this open read it: positions and orders are
// rebuilt, and the current record is found again by its identity.
void Table::afterReload() {
    ordinal_ = -1;
    if (order_ && !order_->primary) order_->stale = true;
    if (range_) applyRange();
    event(TableEvent::Reordered);
    if (!hasRecord_) return;
    auto& d = driver();
    RecordPos p = 0;
    const bool keyed = d.keyFieldCount() > 0;
    if (keyed) {
        if (!d.locate(d.identity(pos_, current_.data()), p)) {
            hasRecord_ = false;
            fail(ErrorKind::Database, "The record of table " + tableName_ +
                                          " was deleted by another program; open the table again");
        }
    } else {
        // Without a key the record is only known by its place and its bytes.
        std::vector<std::uint8_t> now(current_.size());
        const bool same = d.locate(d.identity(pos_, current_.data()), p) &&
                          (d.read(p, now.data()), now == current_);
        if (!same)
            fail(ErrorKind::Database, "Table " + tableName_ +
                                          " was changed by another program since it was opened; open it again");
    }
    pos_ = p;
    loadCurrent();
}

// ----------------------------------------------------------------------------- changes

void Table::edit() {
    requireActive("edit");
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
    if (!hasRecord_ || orderSize() == 0) {
        insert();
        return;
    }
    ensureWriter();
    image_.raw = current_;
    image_.blobs.assign(fieldDefs_.size(), std::nullopt);
    state_ = DataSetState::Edit;
}

void Table::insert() {
    requireActive("insert");
    requireBrowse("insert");
    ensureWriter();
    image_.raw.assign(driver().recordSize(), 0);
    driver().blankRecord(image_.raw.data());
    image_.blobs.assign(fieldDefs_.size(), std::nullopt);
    state_ = DataSetState::Insert;
    notify();
}

void Table::post() {
    requireActive("post");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    auto& d = driver();
    if (!writing_) {
        // The role went to another open of this program since the edit began. Its changes
        // would be overwritten by the bytes this edit started from.
        const WriteAccess access = d.beginWrite();
        if (access == WriteAccess::Busy)
            fail(ErrorKind::Database, "Table " + tableName_ + " is in use by someone else");
        writing_ = true;
        if (access == WriteAccess::GrantedReloaded) {
            cancel();
            afterReload();
            fail(ErrorKind::Database, "Table " + tableName_ +
                                          " was changed elsewhere while the record was edited; the edit was not posted");
        }
    }
    const bool inserting = state_ == DataSetState::Insert;
    // What the change does to the orders: an insert or a new primary key shifts records;
    // a new value in a secondary index's fields moves one entry of that order.
    bool reordered = inserting;
    const bool secondary = order_ && !order_->primary && !order_->stale;
    std::string oldKey, newKey;
    std::int64_t primaryOrdinal = -1;
    if (!inserting) {
        std::string a, b;
        for (int f = 0; f < d.keyFieldCount(); ++f) {
            d.appendSortKey(f, current_.data(), false, a);
            d.appendSortKey(f, image_.raw.data(), false, b);
        }
        reordered = a != b;
        if (secondary && !reordered) {
            const int n = static_cast<int>(order_->fields.size());
            oldKey = sortKeyOf(current_.data(), n);
            newKey = sortKeyOf(image_.raw.data(), n);
            if (oldKey != newKey) primaryOrdinal = d.ordinal(pos_);
        }
    }
    // A blob's old value may be gone once the new one is written: a preview reads it first.
    std::vector<std::optional<std::string>> oldBlobs;
    if (session_.preview() && !inserting) oldBlobs = pendingBlobsBefore();
    const RecordPos p = inserting ? d.insert(image_) : d.update(pos_, image_);
    tellPreview(inserting ? ChangeKind::Inserted : ChangeKind::Changed, oldBlobs);
    state_ = DataSetState::Browse;
    image_ = {};
    pos_ = p;
    hasRecord_ = true;
    constexpr std::size_t kMovedInPlace = 16384; // larger orders are sorted again on demand
    if (reordered || (primaryOrdinal >= 0 && order_->entries.size() > kMovedInPlace)) {
        afterStructureChange();
    } else if (primaryOrdinal >= 0) {
        auto& entries = order_->entries;
        appendOrdinal(oldKey, primaryOrdinal);
        appendOrdinal(newKey, primaryOrdinal);
        auto it = std::lower_bound(entries.begin(), entries.end(), oldKey);
        if (it != entries.end() && *it == oldKey) entries.erase(it);
        entries.insert(std::lower_bound(entries.begin(), entries.end(), newKey), newKey);
        ordinal_ = -1;
        if (range_) applyRange();
    }
    loadCurrent();
    eof_ = bof_ = false;
    event(TableEvent::RecordsChanged);
    notify();
}

// A table opened before a preview began works on the table itself: a preview never writes it.
void Table::refuseOriginalInPreview() const {
    if (session_.preview() && !openedForPreview_)
        fail(ErrorKind::General, "Table " + tableName_ +
                                     " was opened before the preview began; a preview does not change it");
}

// The old texts of the blob fields an edit gives new values, by field.
std::vector<std::optional<std::string>> Table::pendingBlobsBefore() const {
    std::vector<std::optional<std::string>> old(image_.blobs.size());
    for (std::size_t f = 0; f < old.size(); ++f)
        if (image_.blobs[f]) old[f] = textOfValue(driver_->decode(static_cast<int>(f), current_.data()));
    return old;
}

// A preview hears of each change; the texts are built only for the changes it lists. Called
// while current_ still holds the record as it was and image_ the record as posted; oldBlobs
// has the old values of the blobs the change replaced (pendingBlobsBefore()).
void Table::tellPreview(ChangeKind kind, const std::vector<std::optional<std::string>>& oldBlobs) {
    PreviewSink* sink = session_.preview();
    if (!sink) return;
    auto& d = driver();
    const int n = fieldCount();
    auto before = [&](int f) {
        const auto i = static_cast<std::size_t>(f);
        return i < oldBlobs.size() && oldBlobs[i] ? *oldBlobs[i] : textOfValue(d.decode(f, current_.data()));
    };
    auto after = [&](int f) {
        const auto& pending = image_.blobs[static_cast<std::size_t>(f)];
        if (!pending) return textOfValue(d.decode(f, image_.raw.data()));
        return isTextBlobType(fieldDefs_[static_cast<std::size_t>(f)].type) || pending->empty()
                   ? *pending
                   : std::string("(") + std::to_string(pending->size()) + " bytes)";
    };
    if (kind == ChangeKind::Changed && image_.raw == current_) {
        // Only a blob can still differ: a posted record that keeps every value is no change.
        bool differs = false;
        for (int f = 0; f < n && !differs; ++f)
            differs = image_.blobs[static_cast<std::size_t>(f)] && before(f) != after(f);
        if (!differs) return;
    }
    sink->recordChange(tableName_, kind, [&] {
        RecordChange c;
        c.table = tableName_;
        c.kind = kind;
        const std::uint8_t* keyed = kind == ChangeKind::Inserted ? image_.raw.data() : current_.data();
        for (int k = 0; k < d.keyFieldCount(); ++k)
            c.record += (k ? ", " : "") + textOfValue(d.decode(k, keyed));
        if (d.keyFieldCount() == 0)
            c.record = kind == ChangeKind::Inserted ? "new" : "#" + std::to_string(currentOrdinal() + 1);
        for (int f = 0; f < n; ++f) {
            std::string was = kind == ChangeKind::Inserted ? std::string() : before(f);
            std::string now = kind == ChangeKind::Deleted ? std::string() : after(f);
            if (was != now || kind != ChangeKind::Changed)
                c.fields.push_back({fieldDefs_[static_cast<std::size_t>(f)].name, std::move(was), std::move(now)});
        }
        return c;
    });
}

bool Table::storesRecordsLike(const Table& source) const {
    if (!driver_ || !source.driver_) return false;
    const std::string& layout = driver_->recordLayout();
    return !layout.empty() && layout == source.driver_->recordLayout() &&
           driver_->recordSize() == source.driver_->recordSize();
}

void Table::copyRecordFrom(const Table& source) {
    requireActive("set a field");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        fail(ErrorKind::General, "Table " + tableName_ + " is not in edit or insert mode");
    if (!storesRecordsLike(source))
        fail(ErrorKind::General,
             "Table " + source.tableName_ + " does not store its records as table " + tableName_);
    if (!source.hasRecord_ || source.state_ != DataSetState::Browse)
        fail(ErrorKind::NoRecord, "Table " + source.tableName_ + " has no current record");
    image_.raw = source.current_;
    image_.blobs.assign(fieldDefs_.size(), std::nullopt);
    notify();
}

void Table::cancel() {
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
    state_ = DataSetState::Browse;
    image_ = {};
    notify();
}

void Table::afterStructureChange() {
    ordinal_ = -1;
    if (order_ && !order_->primary) order_->stale = true;
    if (range_) applyRange();
}

void Table::deleteRecord() {
    requireActive("delete");
    if (state_ == DataSetState::Insert || state_ == DataSetState::Edit) cancel();
    if (!hasRecord_ || orderSize() == 0)
        fail(ErrorKind::NoRecord, "Cannot perform this operation on an empty dataset");
    ensureWriter();
    if (!hasRecord_) fail(ErrorKind::NoRecord, "Cannot perform this operation on an empty dataset");
    const std::int64_t ord = currentOrdinal();
    tellPreview(ChangeKind::Deleted);
    RecordPos following = 0;
    bool wasLast = false;
    const bool any = driver().remove(pos_, following, wasLast);
    afterStructureChange();
    const std::int64_t lo = range_ ? range_->lo : 0;
    const std::int64_t n = orderSize();
    if (!any || n == 0) {
        hasRecord_ = false;
        eof_ = bof_ = true;
    } else if (order_->primary && !range_) {
        pos_ = following;
        ordinal_ = wasLast ? -1 : ord;
        hasRecord_ = true;
        loadCurrent();
        eof_ = wasLast;
        bof_ = false;
    } else {
        positionAt(std::clamp(ord, lo, lo + n - 1));
        eof_ = ord >= lo + n;
        bof_ = false;
    }
    event(TableEvent::RecordsChanged);
    notify();
}

// -------------------------------------------------------------------------- identities

void IdentityList::add(std::string_view identity) {
    if (count_ == 0) width_ = identity.size();
    if (identity.size() != width_)
        throw EngineError(ErrorKind::General, "Record identities of one table differ in length");
    data_.append(identity);
    ++count_;
}

std::string Table::identity() {
    if (!active() || !hasRecord_) return {};
    return driver().identity(pos_, current_.data());
}

bool Table::gotoIdentity(std::string_view identity) {
    requireActive("move");
    requireBrowse("move");
    RecordPos p = 0;
    if (!driver().locate(identity, p)) return false;
    pos_ = p;
    hasRecord_ = true;
    ordinal_ = -1;
    loadCurrent();
    eof_ = bof_ = false;
    notify();
    return true;
}

IdentityList Table::identities() {
    requireActive("list records");
    requireBrowse("list records");
    IdentityList list;
    auto& d = driver();
    std::vector<std::uint8_t> raw(d.recordSize());
    RecordPos p = 0;
    if (order_->primary && !range_) {
        for (bool ok = d.first(p); ok; ok = d.next(p)) {
            d.read(p, raw.data());
            list.add(d.identity(p, raw.data()));
        }
        return list;
    }
    Row row;
    const std::int64_t n = orderSize();
    for (std::int64_t i = 0; i < n; ++i) {
        if (!readRow(i, row)) break;
        list.add(d.identity(row.pos, row.raw.data()));
    }
    return list;
}

bool Table::orderDependsOn(const std::vector<std::string>& fieldNames) const {
    if (!order_) return false;
    for (const auto& name : fieldNames) {
        const auto f = findField(name);
        if (f && std::find(order_->fields.begin(), order_->fields.end(), *f) != order_->fields.end())
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------- rows

bool Table::readRow(std::int64_t index, Row& row) {
    requireActive("read a record");
    const std::int64_t n = orderSize();
    if (index < 0 || index >= n) return false;
    const std::int64_t ordinal = (range_ ? range_->lo : 0) + index;
    auto& d = driver();
    RecordPos p = 0;
    const bool ok = order_->primary
                        ? d.at(ordinal, p)
                        : d.at(ordinalFromEntry(order_->entries[static_cast<std::size_t>(ordinal)]), p);
    if (!ok) return false;
    row.pos = p;
    row.raw.resize(d.recordSize());
    d.read(p, row.raw.data());
    return true;
}

std::string Table::rowText(const Row& row, int field) {
    requireActive("read a field");
    return textOfValue(driver().decode(field, row.raw.data()));
}

std::string Table::rowIdentity(const Row& row) {
    requireActive("read a record");
    return driver().identity(row.pos, row.raw.data());
}

} // namespace fieldsmith::engine
