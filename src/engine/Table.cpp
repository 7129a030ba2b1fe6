#include "Table.h"

#include "EngineError.h"
#include "FileIo.h"
#include "TableOrder.h"
#include "FormatSettings.h"
#include "Session.h"
#include "dbase/DBaseDriver.h"
#include "paradox/ParadoxDriver.h"
#include "sql/SqlTable.h"
#include "text/TextTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sys/stat.h>

namespace fieldsmith::engine {

namespace fsys = std::filesystem;

using namespace detail;

TableType tableTypeForName(std::string_view tableName) {
    const std::string ext = upperAscii(fsys::path(std::string(tableName)).extension().string());
    if (ext == ".DBF") return TableType::DBase;
    if (ext == ".TXT") return TableType::Ascii;
    return TableType::Paradox;
}

// ------------------------------------------------------------------------------- Field

const std::string& Field::name() const { return table_->fieldDefs_.at(index_).name; }
FieldType Field::type() const { return table_->fieldDefs_.at(index_).type; }
int Field::size() const { return table_->fieldDefs_.at(index_).size; }
bool Field::required() const { return table_->fieldDefs_.at(index_).required; }
bool Field::isNull() const { return table_->fieldValue(index_).isNull(); }
std::string Field::asString() const { return table_->fieldText(index_); }
void Field::setAsString(std::string_view text) { table_->setFieldText(index_, text); }
Value Field::value() const { return table_->fieldValue(index_); }
void Field::setValue(const Value& value) { table_->setFieldValue(index_, value); }

std::int64_t Field::asInteger() const {
    const Value v = table_->fieldValue(index_);
    switch (v.kind) {
    case Value::Kind::Null: return 0;
    case Value::Kind::Int:
    case Value::Kind::Bool:
    case Value::Kind::Date:
    case Value::Kind::Time: return v.i;
    case Value::Kind::Float:
    case Value::Kind::DateTime: return static_cast<std::int64_t>(std::llround(v.f));
    case Value::Kind::Text:
    case Value::Kind::Bytes:
        if (auto n = parseInteger(v.s)) return *n;
        break;
    }
    table_->fail(ErrorKind::BadValue,
                 "'" + v.s + "' is not a valid integer value for field '" + name() + "'");
}

void Field::setAsInteger(std::int64_t value) {
    const FieldType t = type();
    if (isIntegerType(t)) table_->setFieldValue(index_, Value::integer(value));
    else if (isFloatType(t)) table_->setFieldValue(index_, Value::real(static_cast<double>(value)));
    else table_->setFieldText(index_, std::to_string(value));
}

bool Field::isIndexField() const {
    const auto* order = table_->order_.get();
    if (!order) return false;
    return std::find(order->fields.begin(), order->fields.end(), index_) != order->fields.end();
}

// ------------------------------------------------------------------------------- Table

Table::Table(Session& session) : session_(session) {}

Table::~Table() {
    try {
        close();
    } catch (...) {
    }
}

void Table::fail(ErrorKind kind, const std::string& message) const {
    throw EngineError(kind, message);
}

TableDriver& Table::driver() const {
    if (!driver_) fail(ErrorKind::General, "Table " + tableName_ + " is not open");
    return *driver_;
}

void Table::requireActive(const char* what) const {
    if (!driver_)
        fail(ErrorKind::General,
             std::string("Cannot ") + what + ": table " + tableName_ + " is not open");
}

void Table::setDatabaseName(std::string name) {
    if (active()) fail(ErrorKind::General, "Cannot change the database of an open table");
    databaseName_ = std::move(name);
}

void Table::setTableName(std::string name) {
    if (active()) fail(ErrorKind::General, "Cannot change the name of an open table");
    tableName_ = std::move(name);
}

void Table::setTableType(TableType type) {
    if (active()) fail(ErrorKind::General, "Cannot change the type of an open table");
    tableType_ = type;
}

void Table::setExclusive(bool exclusive) {
    if (active()) fail(ErrorKind::General, "Cannot change the exclusive flag of an open table");
    exclusive_ = exclusive;
}

void Table::setIndexFieldNames(std::string names) {
    indexFieldNames_ = std::move(names);
    indexName_.clear();
    if (active()) {
        requireBrowse("change the index");
        range_.reset();
        resolveOrder();
        event(TableEvent::Reordered);
        first();
    }
}

void Table::setIndexName(std::string name) {
    indexName_ = std::move(name);
    indexFieldNames_.clear();
    if (active()) {
        requireBrowse("change the index");
        range_.reset();
        resolveOrder();
        event(TableEvent::Reordered);
        first();
    }
}

fsys::path Table::filePath() const {
    if (tableName_.empty()) fail(ErrorKind::General, "Table name is empty");
    fsys::path name(tableName_);
    const bool implied = !name.has_extension();
    if (implied) name += ".DB";
    if (!name.is_absolute() && !databaseName_.empty()) name = session_.directoryOf(databaseName_) / name;
    return implied ? resolvePath(name) : exactOrResolved(name);
}

// A name typed with its extension names that file when it exists.
fsys::path Table::exactOrResolved(const fsys::path& wanted) const {
    std::error_code ec;
    if (fsys::exists(wanted, ec)) return wanted;
    return resolvePath(wanted);
}

// Finds the file a table name stands for on a file system that tells case apart: table
// lists show names as the files have them, and many tables end in ".db". A name that
// fits two files differing only in case is reported instead of guessed.
fsys::path Table::resolvePath(const fsys::path& wanted) const {
    const fsys::path dir = wanted.has_parent_path() ? wanted.parent_path() : fsys::path(".");
    std::error_code ec;
    if (!fsys::is_directory(dir, ec)) {
        const bool viaAlias = !databaseName_.empty() && !fsys::path(tableName_).is_absolute();
        fail(ErrorKind::Database, "The directory " + dir.string() +
                                      (viaAlias ? " of alias " + databaseName_ : std::string()) +
                                      " does not exist");
    }
    const std::string wantedName = wanted.filename().string();
    const std::string wantedStem = wanted.stem().string();
    std::vector<fsys::path> sameStem, anyCase;
    for (const auto& entry : fsys::directory_iterator(dir, ec)) {
        const fsys::path& p = entry.path();
        if (!sameName(p.filename().string(), wantedName)) continue;
        anyCase.push_back(p);
        if (p.stem().string() == wantedStem) sameStem.push_back(p);
    }
    const auto& candidates = sameStem.empty() ? anyCase : sameStem;
    if (candidates.size() == 1) return candidates.front();
    if (candidates.size() > 1) {
        std::string names;
        for (const auto& c : candidates) names += (names.empty() ? "" : ", ") + c.filename().string();
        fail(ErrorKind::Database, "Table name " + tableName_ + " fits several files that differ only in case (" +
                                      names + "); rename all but one");
    }
    return wanted;
}

// This program's shared opens of a table give way to an exclusive use of it: the retry
// question of a refused exclusive open is meant for other programs. An exclusive holder
// is at work on the table and keeps it.
void Table::closeOwnOpens(const std::string& key) {
    for (Table* other : session_.openTablesWithKey(key))
        if (other != this && !other->exclusive()) other->close();
}

bool Table::onServer() const {
    return !databaseName_.empty() && !fsys::path(tableName_).is_absolute() &&
           session_.isSqlAlias(databaseName_);
}

void Table::open() {
    if (active()) return;
    if (tableName_.empty()) fail(ErrorKind::General, "Table name is empty");
    if (onServer()) {
        const std::string key = Session::serverTableKey(databaseName_, tableName_);
        if (exclusive_) closeOwnOpens(key);
        OpenRequest request{tableName_, exclusive_, &session_};
        driver_ = sql::openSqlTable(request, databaseName_, tableName_);
        openPath_.clear();
        openKey_ = key;
        finishOpen();
        return;
    }
    const fsys::path path = session_.workingFile(filePath());
    TableType type = tableType_ == TableType::Default ? tableTypeForName(path.filename().string())
                                                      : tableType_;
    if (exclusive_) closeOwnOpens(Session::fileKey(path));
    OpenRequest request{path, exclusive_, &session_};
    switch (type) {
    case TableType::Paradox: driver_ = paradox::openParadoxTable(request); break;
    case TableType::DBase: driver_ = dbase::openDBaseTable(request); break;
    case TableType::Ascii: driver_ = text::openTextTable(request); break;
    case TableType::Default: break;
    }
    openPath_ = path;
    openKey_ = Session::fileKey(path);
    finishOpen();
}

// What every open does once its driver stands: definitions, order, first record.
void Table::finishOpen() {
    fieldDefs_ = driver_->fields();
    recentLookups_.clear();
    indexDefs_ = driver_->indexes();
    current_.assign(driver_->recordSize(), 0);
    state_ = DataSetState::Browse;
    range_.reset();
    writing_ = false;
    openedForPreview_ = session_.preview() != nullptr;
    try {
        resolveOrder();
    } catch (...) {
        driver_.reset();
        order_.reset();
        state_ = DataSetState::Inactive;
        throw;
    }
    session_.registerOpen(this);
    first();
    event(TableEvent::Opened);
}

void Table::close() {
    if (!driver_) return;
    event(TableEvent::AboutToClose);
    if (!driver_) return; // the handler closed it
    std::unique_ptr<TableDriver> d = std::move(driver_);
    session_.unregisterOpen(this);
    order_.reset();
    range_.reset();
    hasRecord_ = false;
    eof_ = bof_ = true;
    state_ = DataSetState::Inactive;
    image_ = {};
    writing_ = false;
    std::exception_ptr failure;
    try {
        d->close();
    } catch (...) {
        failure = std::current_exception();
    }
    d.reset();
    event(TableEvent::Closed);
    if (failure) std::rethrow_exception(failure);
}

void Table::flush() {
    if (!driver_) return;
    driver_->flush();
    writing_ = false;
}

void Table::setFilling(bool filling) {
    requireActive("fill");
    driver().setFilling(filling);
}

void Table::requireWritable() {
    requireActive("write");
    driver().requireWritableFamily();
}

void Table::beginWriting() {
    requireActive("write");
    requireBrowse("write");
    ensureWriter();
}

void Table::refresh() {
    requireActive("refresh");
    requireBrowse("refresh");
    // The orders kept in memory follow every change made through this engine; another
    // program's changes are read again.
    if (driver().refresh()) afterReload();
    const std::int64_t n = orderSize();
    if (n == 0) {
        hasRecord_ = false;
    } else if (hasRecord_) {
        std::int64_t ord = currentOrdinal();
        positionAt(std::min<std::int64_t>(std::max<std::int64_t>(ord, 0), n - 1));
    }
    notify();
}

void Table::resolveOrder() {
    auto order = std::make_unique<Order>();
    if (!indexName_.empty() || !indexFieldNames_.empty()) {
        indexDefs_ = driver().indexes();
        int found = -1;
        if (!indexName_.empty()) {
            for (std::size_t i = 0; i < indexDefs_.size(); ++i)
                if (sameName(indexDefs_[i].name, indexName_)) found = static_cast<int>(i);
            if (found < 0)
                fail(ErrorKind::General,
                     "Index " + indexName_ + " does not exist on table " + tableName_);
        } else {
            const auto wanted = splitFieldList(indexFieldNames_);
            // The primary index wins over a secondary one with the same leading fields.
            for (std::size_t i = 0; i < indexDefs_.size() && found < 0; ++i) {
                const auto have = indexDefs_[i].fieldList();
                if (have.size() < wanted.size()) continue;
                bool match = true;
                for (std::size_t k = 0; k < wanted.size(); ++k)
                    match = match && sameName(have[k], wanted[k]);
                if (match) found = static_cast<int>(i);
            }
            if (found < 0)
                fail(ErrorKind::General, "No index for fields '" + indexFieldNames_ +
                                             "' on table " + tableName_);
        }
        const IndexDef& def = indexDefs_[static_cast<std::size_t>(found)];
        if (def.options & ixDamaged)
            fail(ErrorKind::Damaged, "Index " + def.name + " of table " + tableName_ +
                                         " is damaged and cannot order the table; drop it");
        // Orders are built from field values: an index on an expression cannot give one.
        if ((def.options & ixExpression) && def.fieldList().empty())
            fail(ErrorKind::General, "Index " + def.name + " of table " + tableName_ +
                                         " is an expression index and cannot order the table");
        order->indexPos = found;
        order->options = def.options;
        for (const auto& name : def.fieldList()) {
            auto f = findField(name);
            if (!f) fail(ErrorKind::UnknownField, "Index field " + name + " not found in table " + tableName_);
            order->fields.push_back(*f);
        }
        order->primary = def.isPrimary();
    } else if (driver().keyFieldCount() > 0) {
        for (int i = 0; i < driver().keyFieldCount(); ++i) order->fields.push_back(i);
        order->options = ixPrimary | ixUnique;
    }
    order_ = std::move(order);
}

std::string Table::sortKeyOf(const std::uint8_t* raw, int fields) const {
    std::string key;
    const bool ci = order_->options & ixCaseInsensitive;
    for (int k = 0; k < fields && k < static_cast<int>(order_->fields.size()); ++k)
        driver_->appendSortKey(order_->fields[static_cast<std::size_t>(k)], raw, ci, key);
    if (order_->options & ixDescending)
        for (char& c : key) c = static_cast<char>(~static_cast<unsigned char>(c));
    return key;
}

// Builds the sorted entries of a secondary order from a walk in primary order.
std::int64_t Table::orderSize() {
    if (!order_ || order_->primary) return range_ ? range_->hi - range_->lo : driver().recordCount();
    if (order_->stale) {
        auto& d = driver();
        std::vector<std::string> entries;
        entries.reserve(static_cast<std::size_t>(d.recordCount()));
        std::vector<std::uint8_t> raw(d.recordSize());
        RecordPos p = 0;
        std::int64_t ord = 0;
        for (bool ok = d.first(p); ok; ok = d.next(p), ++ord) {
            d.read(p, raw.data());
            std::string key = sortKeyOf(raw.data(), static_cast<int>(order_->fields.size()));
            appendOrdinal(key, ord);
            entries.push_back(std::move(key));
        }
        std::sort(entries.begin(), entries.end());
        order_->entries = std::move(entries);
        order_->stale = false;
    }
    const auto total = static_cast<std::int64_t>(order_->entries.size());
    return range_ ? range_->hi - range_->lo : total;
}

std::int64_t Table::recordCount() {
    requireActive("count records");
    return orderSize();
}

bool Table::isEmpty() { return recordCount() == 0; }

// Ordinal of the current record in the whole current order (not range-relative).
std::int64_t Table::currentOrdinal() {
    if (!hasRecord_) return -1;
    if (ordinal_ < 0) {
        if (order_->primary) {
            ordinal_ = driver().ordinal(pos_);
        } else {
            orderSize();
            std::string key = sortKeyOf(current_.data(), static_cast<int>(order_->fields.size()));
            appendOrdinal(key, driver().ordinal(pos_));
            auto it = std::lower_bound(order_->entries.begin(), order_->entries.end(), key);
            ordinal_ = it - order_->entries.begin();
        }
    }
    return ordinal_;
}

// Positions on the record at a whole-order ordinal; false when out of bounds.
bool Table::positionAt(std::int64_t ordinal) {
    auto& d = driver();
    RecordPos p = 0;
    bool ok;
    if (order_->primary) {
        ok = d.at(ordinal, p);
    } else {
        orderSize();
        ok = ordinal >= 0 && ordinal < static_cast<std::int64_t>(order_->entries.size()) &&
             d.at(ordinalFromEntry(order_->entries[static_cast<std::size_t>(ordinal)]), p);
    }
    if (!ok) return false;
    pos_ = p;
    ordinal_ = ordinal;
    hasRecord_ = true;
    loadCurrent();
    return true;
}

void Table::loadCurrent() {
    if (hasRecord_) driver_->read(pos_, current_.data());
}

void Table::notify() {
    if (onDataChange_ && controlsDisabled_ == 0) onDataChange_(*this);
}

void Table::setDataChangeHandler(std::function<void(Table&)> handler) {
    onDataChange_ = std::move(handler);
}

void Table::setEventHandler(std::function<void(Table&, TableEvent)> handler) {
    onEvent_ = std::move(handler);
}

void Table::event(TableEvent e) {
    if (onEvent_) onEvent_(*this, e);
}

void Table::enableControls() {
    if (controlsDisabled_ > 0) --controlsDisabled_;
}

void Table::requireBrowse(const char* what) {
    (void)what;
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
        // Moving away from an edited record posts it, as the classic datasets did.
        post();
    }
}

void Table::first() {
    requireActive("move");
    requireBrowse("move");
    const std::int64_t lo = range_ ? range_->lo : 0;
    if (orderSize() == 0 || !positionAt(lo)) {
        hasRecord_ = false;
        eof_ = bof_ = true;
    } else {
        bof_ = true;
        eof_ = false;
    }
    notify();
}

void Table::last() {
    requireActive("move");
    requireBrowse("move");
    const std::int64_t n = orderSize();
    const std::int64_t lo = range_ ? range_->lo : 0;
    if (n == 0 || !positionAt(lo + n - 1)) {
        hasRecord_ = false;
        eof_ = bof_ = true;
    } else {
        eof_ = true;
        bof_ = false;
    }
    notify();
}

void Table::next() {
    requireActive("move");
    requireBrowse("move");
    if (!hasRecord_) {
        eof_ = true;
        return;
    }
    bool moved = false;
    if (order_->primary && !range_) {
        RecordPos p = pos_;
        if (driver().next(p)) {
            pos_ = p;
            if (ordinal_ >= 0) ++ordinal_;
            loadCurrent();
            moved = true;
        }
    } else {
        const std::int64_t hi = range_ ? range_->hi : orderSize();
        const std::int64_t ord = currentOrdinal();
        if (ord + 1 < hi) moved = positionAt(ord + 1);
    }
    if (moved) {
        bof_ = false;
        eof_ = false;
    } else {
        eof_ = true;
    }
    notify();
}

void Table::prior() {
    requireActive("move");
    requireBrowse("move");
    if (!hasRecord_) {
        bof_ = true;
        return;
    }
    bool moved = false;
    if (order_->primary && !range_) {
        RecordPos p = pos_;
        if (driver().prior(p)) {
            pos_ = p;
            if (ordinal_ > 0) --ordinal_;
            else ordinal_ = -1;
            loadCurrent();
            moved = true;
        }
    } else {
        const std::int64_t lo = range_ ? range_->lo : 0;
        const std::int64_t ord = currentOrdinal();
        if (ord - 1 >= lo) moved = positionAt(ord - 1);
    }
    if (moved) {
        bof_ = false;
        eof_ = false;
    } else {
        bof_ = true;
    }
    notify();
}

void Table::moveBy(std::int64_t n) {
    requireActive("move");
    requireBrowse("move");
    if (!hasRecord_ || n == 0) return;
    const std::int64_t lo = range_ ? range_->lo : 0;
    const std::int64_t hi = lo + orderSize();
    const std::int64_t target = currentOrdinal() + n;
    const std::int64_t clamped = std::clamp(target, lo, hi - 1);
    positionAt(clamped);
    eof_ = target >= hi;
    bof_ = target < lo;
    notify();
}

std::int64_t Table::recNo() {
    if (!active() || !hasRecord_) return 0;
    if (state_ == DataSetState::Insert) return 0;
    const std::int64_t lo = range_ ? range_->lo : 0;
    return currentOrdinal() - lo + 1;
}

// ------------------------------------------------------------------------------ ranges

void Table::setRange(const std::vector<std::string>& from, const std::vector<std::string>& to) {
    requireActive("set a range");
    requireBrowse("set a range");
    if (!order_ || order_->fields.empty())
        fail(ErrorKind::General, "Table " + tableName_ + " has no index to set a range on");
    const int n = static_cast<int>(std::min({from.size(), to.size(), order_->fields.size()}));
    // Encode the bounds through a scratch record so that they compare as stored values.
    RecordImage scratch;
    scratch.raw.assign(driver().recordSize(), 0);
    scratch.blobs.assign(fieldDefs_.size(), std::nullopt);
    auto keyOf = [&](const std::vector<std::string>& values) {
        driver().blankRecord(scratch.raw.data());
        for (int k = 0; k < n; ++k) {
            const int f = order_->fields[static_cast<std::size_t>(k)];
            std::swap(image_, scratch);
            try {
                setFieldTextInto(f, values[static_cast<std::size_t>(k)]);
            } catch (...) {
                std::swap(image_, scratch);
                throw;
            }
            std::swap(image_, scratch);
        }
        return sortKeyOf(scratch.raw.data(), n);
    };
    Range r;
    r.keyFields = n;
    r.fromKey = keyOf(from);
    r.toKey = keyOf(to);
    range_ = r;
    applyRange();
    event(TableEvent::Reordered);
    first();
}

void Table::applyRange() {
    if (!range_) return;
    Range r = *range_;
    range_.reset(); // sizes below are of the whole order
    const std::int64_t total = orderSize();
    auto& d = driver();
    std::vector<std::uint8_t> raw(d.recordSize());
    // Binary search over the current order by the sort key of each position.
    auto keyAt = [&](std::int64_t ord) {
        if (!order_->primary) {
            const std::string& e = order_->entries[static_cast<std::size_t>(ord)];
            return e.substr(0, e.size() - 8);
        }
        RecordPos p = 0;
        d.at(ord, p);
        d.read(p, raw.data());
        return sortKeyOf(raw.data(), r.keyFields);
    };
    // The primary order of a driver that finds keys itself needs no search here.
    const bool byDriver =
        order_->primary && !(order_->options & (ixCaseInsensitive | ixDescending));
    auto bound = [&](const std::string& key, bool upper) {
        std::int64_t found = 0;
        if (byDriver && d.boundOfKey(key, upper, found)) return found;
        std::int64_t lo = 0, hi = total;
        while (lo < hi) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            const std::string k = keyAt(mid).substr(0, key.size());
            if (upper ? !(key < k) : (k < key)) lo = mid + 1;
            else hi = mid;
        }
        return lo;
    };
    r.lo = bound(r.fromKey, false);
    r.hi = std::max(r.lo, bound(r.toKey, true));
    range_ = r;
}

void Table::cancelRange() {
    requireActive("cancel a range");
    requireBrowse("cancel a range");
    if (!range_) return;
    range_.reset();
    event(TableEvent::Reordered);
    first();
}

} // namespace fieldsmith::engine
