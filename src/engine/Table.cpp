#include "Table.h"

#include "EngineError.h"
#include "FormatSettings.h"
#include "Session.h"
#include "dbase/DBaseDriver.h"
#include "paradox/ParadoxDriver.h"
#include "text/TextTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace fieldsmith::engine {

namespace fsys = std::filesystem;

// The order a table is walked in: the driver's primary order, or an in-memory sorted
// list of sort keys for any other index.
struct Table::Order {
    int indexPos = -1;         //!< position in indexDefs_, -1 for the storage order
    bool primary = true;       //!< served by the driver's primary order
    std::vector<int> fields;   //!< field positions of the index
    unsigned options = 0;
    //! Secondary orders: sort key of the index fields followed by the record's ordinal in
    //! primary order (8 bytes, big-endian), sorted.
    std::vector<std::string> entries;
    bool stale = true;
};

namespace {

bool isStringType(FieldType t) {
    return t == FieldType::ftString || t == FieldType::ftFixedChar || t == FieldType::ftWideString;
}

bool isIntegerType(FieldType t) {
    return t == FieldType::ftSmallint || t == FieldType::ftInteger || t == FieldType::ftWord ||
           t == FieldType::ftAutoInc || t == FieldType::ftLargeint;
}

bool isFloatType(FieldType t) {
    return t == FieldType::ftFloat || t == FieldType::ftCurrency || t == FieldType::ftBCD;
}

void appendOrdinal(std::string& key, std::int64_t ordinal) {
    for (int shift = 56; shift >= 0; shift -= 8)
        key += static_cast<char>((static_cast<std::uint64_t>(ordinal) >> shift) & 0xFF);
}

std::int64_t ordinalFromEntry(const std::string& entry) {
    std::uint64_t v = 0;
    for (std::size_t i = entry.size() - 8; i < entry.size(); ++i)
        v = (v << 8) | static_cast<unsigned char>(entry[i]);
    return static_cast<std::int64_t>(v);
}

} // namespace

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
        first();
    }
}

fsys::path Table::filePath() const {
    if (tableName_.empty()) fail(ErrorKind::General, "Table name is empty");
    fsys::path name(tableName_);
    if (!name.has_extension()) name += ".DB";
    if (name.is_absolute() || databaseName_.empty()) return name;
    return session_.directoryOf(databaseName_) / name;
}

void Table::open() {
    if (active()) return;
    const fsys::path path = filePath();
    TableType type = tableType_ == TableType::Default ? tableTypeForName(path.filename().string())
                                                      : tableType_;
    OpenRequest request{path, exclusive_, &session_};
    switch (type) {
    case TableType::Paradox: driver_ = paradox::openParadoxTable(request); break;
    case TableType::DBase: driver_ = dbase::openDBaseTable(request); break;
    case TableType::Ascii: driver_ = text::openTextTable(request); break;
    case TableType::Default: break;
    }
    fieldDefs_ = driver_->fields();
    recentLookups_.clear();
    indexDefs_ = driver_->indexes();
    current_.assign(driver_->recordSize(), 0);
    state_ = DataSetState::Browse;
    range_.reset();
    try {
        resolveOrder();
    } catch (...) {
        driver_.reset();
        order_.reset();
        state_ = DataSetState::Inactive;
        throw;
    }
    first();
}

void Table::close() {
    if (!driver_) return;
    std::unique_ptr<TableDriver> d = std::move(driver_);
    order_.reset();
    range_.reset();
    hasRecord_ = false;
    eof_ = bof_ = true;
    state_ = DataSetState::Inactive;
    image_ = {};
    d->close();
}

void Table::refresh() {
    requireActive("refresh");
    requireBrowse("refresh");
    // The orders kept in memory follow every change made through this engine.
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
    auto bound = [&](const std::string& key, bool upper) {
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
    first();
}

// ----------------------------------------------------------------------------- changes

void Table::edit() {
    requireActive("edit");
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
    if (!hasRecord_ || orderSize() == 0) {
        insert();
        return;
    }
    image_.raw = current_;
    image_.blobs.assign(fieldDefs_.size(), std::nullopt);
    state_ = DataSetState::Edit;
}

void Table::insert() {
    requireActive("insert");
    requireBrowse("insert");
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
    const RecordPos p = inserting ? d.insert(image_) : d.update(pos_, image_);
    state_ = DataSetState::Browse;
    image_ = {};
    pos_ = p;
    hasRecord_ = true;
    if (reordered) {
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
    const std::int64_t ord = currentOrdinal();
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
    notify();
}

// ------------------------------------------------------------------------------ fields

int Table::fieldCount() const { return static_cast<int>(fieldDefs_.size()); }

Field Table::field(int index) {
    requireActive("read a field");
    if (index < 0 || index >= fieldCount())
        fail(ErrorKind::UnknownField, "Field index " + std::to_string(index) +
                                          " out of range in table " + tableName_);
    return Field(*this, index);
}

std::optional<int> Table::findField(std::string_view name) const {
    // Walks ask for the same few names on every record: those are remembered as spelled.
    for (const auto& [spelled, index] : recentLookups_)
        if (spelled == name && index < static_cast<int>(fieldDefs_.size())) return index;
    for (std::size_t i = 0; i < fieldDefs_.size(); ++i) {
        if (!sameName(fieldDefs_[i].name, name)) continue;
        if (recentLookups_.size() >= 8) recentLookups_.erase(recentLookups_.begin());
        recentLookups_.emplace_back(std::string(name), static_cast<int>(i));
        return static_cast<int>(i);
    }
    return std::nullopt;
}

Field Table::fieldByName(std::string_view name) {
    requireActive("read a field");
    if (auto i = findField(name)) return Field(*this, *i);
    fail(ErrorKind::UnknownField,
         "Field '" + std::string(name) + "' not found in table " + tableName_);
}

Value Table::fieldValue(int index) const {
    if (!driver_) return {};
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
        const auto& pending = image_.blobs[static_cast<std::size_t>(index)];
        if (pending) {
            if (pending->empty()) return {};
            return isTextBlobType(fieldDefs_[static_cast<std::size_t>(index)].type)
                       ? Value::text(*pending)
                       : Value::bytes(*pending);
        }
        return driver_->decode(index, image_.raw.data());
    }
    if (!hasRecord_) return {};
    return driver_->decode(index, current_.data());
}

std::string Table::fieldText(int index) const {
    const Value v = fieldValue(index);
    const FormatSettings& fmt = session_.formats();
    switch (v.kind) {
    case Value::Kind::Null: return {};
    case Value::Kind::Text:
    case Value::Kind::Bytes: return v.s;
    case Value::Kind::Int: return std::to_string(v.i);
    case Value::Kind::Bool: return v.i ? "True" : "False";
    case Value::Kind::Float:
        if (!v.s.empty()) { // exact decimal text (BCD)
            std::string t = v.s;
            for (char& c : t)
                if (c == '.') c = fmt.decimalSeparator;
            return t;
        }
        return formatFloat(v.f, fmt);
    case Value::Kind::Date: return formatDate(v.i, fmt);
    case Value::Kind::Time: return formatTime(v.i, fmt);
    case Value::Kind::DateTime: return formatDateTime(v.f, fmt);
    }
    return {};
}

void Table::setFieldValue(int index, const Value& value) {
    requireActive("set a field");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        fail(ErrorKind::General, "Table " + tableName_ + " is not in edit or insert mode");
    driver().encode(index, image_, value);
    notify();
}

void Table::setFieldText(int index, std::string_view text) {
    requireActive("set a field");
    if (state_ != DataSetState::Edit && state_ != DataSetState::Insert)
        fail(ErrorKind::General, "Table " + tableName_ + " is not in edit or insert mode");
    setFieldTextInto(index, text);
    notify();
}

// Converts text by the field's type and encodes it into image_.
void Table::setFieldTextInto(int index, std::string_view text) {
    const FieldDef& def = fieldDefs_[static_cast<std::size_t>(index)];
    const FormatSettings& fmt = session_.formats();
    auto bad = [&](const char* kind) {
        fail(ErrorKind::BadValue, "'" + std::string(text) + "' is not a valid " + kind +
                                      " value for field '" + def.name + "'");
    };
    Value v;
    const FieldType t = def.type;
    if (isStringType(t) || isTextBlobType(t)) {
        v = Value::text(std::string(text));
    } else if (isBlobType(t) || t == FieldType::ftBytes || t == FieldType::ftVarBytes) {
        v = Value::bytes(std::string(text));
    } else if (text.empty()) {
        v = Value::null();
    } else if (isIntegerType(t)) {
        auto n = parseInteger(text);
        if (!n) bad("integer");
        v = Value::integer(*n);
    } else if (isFloatType(t)) {
        auto f = parseFloat(text, fmt);
        if (!f) bad("floating point");
        v = Value::real(*f);
        if (t == FieldType::ftBCD) {
            std::string s(text);
            for (char& c : s)
                if (c == fmt.decimalSeparator) c = '.';
            s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
            v.s = s;
        }
    } else if (t == FieldType::ftBoolean) {
        const std::string u = upperAscii(text);
        if (std::string_view("TRUE").starts_with(u)) v = Value::boolean(true);
        else if (std::string_view("FALSE").starts_with(u)) v = Value::boolean(false);
        else bad("boolean");
    } else if (t == FieldType::ftDate) {
        auto d = parseDate(text, fmt);
        if (!d) bad("date");
        v = Value::date(*d);
    } else if (t == FieldType::ftTime) {
        auto ms = parseTime(text, fmt);
        if (!ms) bad("time");
        v = Value::time(*ms);
    } else if (t == FieldType::ftDateTime || t == FieldType::ftTimeStamp) {
        auto ms = parseDateTime(text, fmt);
        if (!ms) bad("date and time");
        v = Value::dateTime(*ms);
    } else {
        v = Value::text(std::string(text));
    }
    driver().encode(index, image_, v);
}

// -------------------------------------------------------------------------- definitions

void Table::updateFieldDefs() {
    if (active()) {
        fieldDefs_ = driver_->fields();
    } else {
        Table probe(session_);
        openProbe(probe);
        fieldDefs_ = probe.fieldDefs_;
    }
    recentLookups_.clear();
}

void Table::updateIndexDefs() {
    if (active()) {
        indexDefs_ = driver_->indexes();
        return;
    }
    Table probe(session_);
    openProbe(probe);
    indexDefs_ = probe.indexDefs_;
}

// Opens another table object on this closed table's file, to read its definitions.
void Table::openProbe(Table& probe) const {
    probe.setDatabaseName(databaseName_);
    probe.setTableName(tableName_);
    probe.setTableType(tableType_);
    probe.open();
}

void Table::createTable() {
    if (active()) fail(ErrorKind::General, "Cannot create the open table " + tableName_);
    const fsys::path path = filePath();
    TableType type = tableType_ == TableType::Default ? tableTypeForName(path.filename().string())
                                                      : tableType_;
    if (type == TableType::DBase && !createPassword_.empty())
        fail(ErrorKind::General,
             "dBase tables cannot be protected by a password: " + path.string());
    if (type == TableType::DBase)
        return dbase::createDBaseTable(path, fieldDefs_, indexDefs_, session_);
    if (type == TableType::Ascii)
        return text::createTextTable(path, fieldDefs_, indexDefs_, session_.ansiCodePage());
    if (type != TableType::Paradox)
        fail(ErrorKind::General, "Only Paradox tables can be created yet: " + path.string());
    paradox::createParadoxTable(path, fieldDefs_, indexDefs_, session_, createPassword_);
}

void Table::addIndex(const std::string& name, const std::string& fields, unsigned options) {
    if (active()) fail(ErrorKind::General, "Cannot add an index to the open table " + tableName_);
    const fsys::path path = filePath();
    const TableType type =
        tableType_ == TableType::Default ? tableTypeForName(path.filename().string()) : tableType_;
    if (type == TableType::DBase)
        return dbase::addDBaseIndex(path, name, fields, options, session_);
    if (type == TableType::Ascii) text::addTextIndex(path);
    paradox::addParadoxIndex(path, name, fields, options, session_);
}

void Table::deleteIndex(const std::string& name) {
    requireActive("drop an index");
    requireBrowse("drop an index");
    driver().dropIndex(name);
    indexDefs_ = driver().indexes();
    if (order_ && order_->indexPos >= 0) {
        // The table falls back to its storage order when its index is gone.
        indexName_.clear();
        indexFieldNames_.clear();
    }
    range_.reset();
    resolveOrder();
    first();
}

} // namespace fieldsmith::engine
