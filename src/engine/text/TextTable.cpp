#include "TextTable.h"

#include "../DateCalc.h"
#include "../EngineError.h"
#include "../Session.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace fieldsmith::engine::text {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

std::string_view trimmed(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && s[a] == ' ')
        ++a;
    while (b > a && s[b - 1] == ' ')
        --b;
    return s.substr(a, b - a);
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Month/day/year with "/", "-" or "." and a two- or four-digit year (two digits: 1950 to
// 2049); a leading four-digit part is taken as year-month-day.
std::optional<std::int64_t> parseTextDate(std::string_view t) {
    std::string parts[3];
    int n = 0;
    for (char c : t) {
        if (c == '/' || c == '-' || c == '.') {
            if (++n > 2) return std::nullopt;
        } else {
            parts[n] += c;
        }
    }
    if (n != 2) return std::nullopt;
    for (const auto& p : parts)
        if (!allDigits(p) || p.size() > 4) return std::nullopt;
    int y, m, d;
    if (parts[0].size() == 4) {
        y = std::stoi(parts[0]);
        m = std::stoi(parts[1]);
        d = std::stoi(parts[2]);
    } else {
        m = std::stoi(parts[0]);
        d = std::stoi(parts[1]);
        y = std::stoi(parts[2]);
        if (parts[2].size() <= 2) y += y < 50 ? 2000 : 1900;
    }
    if (y < 1 || !isValidDate(y, m, d)) return std::nullopt;
    return dayNumber(y, m, d);
}

// H:MM[:SS[.mmm]] with an optional AM or PM.
std::optional<std::int64_t> parseTextTime(std::string_view t) {
    std::string s(t);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int shift = -1;
    if (s.size() > 2 && (s.ends_with("AM") || s.ends_with("PM"))) {
        shift = s.ends_with("PM") ? 12 : 0;
        s = std::string(trimmed(s.substr(0, s.size() - 2)));
    }
    int h = 0, m = 0, sec = 0, ms = 0;
    char extra = 0;
    const int got = std::sscanf(s.c_str(), "%d:%d:%d.%d%c", &h, &m, &sec, &ms, &extra);
    if (got < 2 || got > 4) return std::nullopt;
    if (shift >= 0) {
        if (h < 1 || h > 12) return std::nullopt;
        h = h % 12 + shift;
    }
    if (h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59 || ms < 0 || ms > 999)
        return std::nullopt;
    return ((h * 60 + m) * 60 + sec) * 1000LL + ms;
}

std::optional<double> parseTextNumber(std::string_view t) {
    std::string s(t);
    if (s.find('.') == std::string::npos)
        for (char& c : s)
            if (c == ',') c = '.';
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string dateText(std::int64_t day, int width) {
    const CivilDate d = civilFromDayNumber(day);
    char buf[32];
    if (width >= 10)
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.month, d.day, d.year);
    else
        std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", d.month, d.day, d.year % 100);
    return buf;
}

std::string timeText(std::int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(ms / 3'600'000),
                  static_cast<int>(ms / 60'000 % 60), static_cast<int>(ms / 1000 % 60));
    return buf;
}

} // namespace

// ----------------------------------------------------------------------------- opening

TextTable::TextTable(const OpenRequest& request) : file_(File::open(request.path)) {
    if (!file_.tryLock(true))
        throw EngineError(ErrorKind::Database,
                          "Table " + request.path.string() + " is in use by someone else");
    const auto sch = findCompanion(request.path, ".SCH");
    if (!sch)
        throw EngineError(ErrorKind::Database, "Text table " + request.path.string() +
                                                   " has no schema file " +
                                                   request.path.stem().string() + ".SCH beside it");
    schema_ = readSchema(*sch);
    int end = 0;
    for (const auto& f : schema_.fields) {
        FieldDef d;
        d.name = f.name;
        d.type = fieldTypeOf(f.type);
        d.size = f.type == TextType::Char ? f.width : (f.type == TextType::Float ? f.decimals : 0);
        fieldDefs_.push_back(d);
        rawOffset_.push_back(schema_.fixed ? f.offset : end);
        end = schema_.fixed ? std::max(end, f.offset + f.width) : end + f.width;
    }
    recordSize_ = static_cast<std::size_t>(std::max(end, 1));
    const int program = request.session ? request.session->ansiCodePage() : 1252;
    const int table = schema_.codePage > 0 ? schema_.codePage : program;
    toProgram_ = CodePageConverter(table, program);
    toTable_ = CodePageConverter(program, table);
    if (request.session) {
        toProgram_.setLossCounter(&request.session->conversionLosses());
        toTable_.setLossCounter(&request.session->conversionLosses());
    }
    scanLines();
    seen_ = stateOnDisk();
}

TextTable::~TextTable() {
    try {
        close();
    } catch (...) {
    }
}

std::string TextTable::tableName() const {
    return file_.path().filename().string();
}

void TextTable::refuse(const std::string& what) const {
    throw EngineError(ErrorKind::General, "Table " + tableName() + ": text tables cannot " + what);
}

// Finds every line once: a line ends at LF (CR LF or LF alone); empty lines are no records;
// a last line without a line end is one, and a final 0x1A is not.
void TextTable::scanLines() {
    lines_.clear();
    cache_.clear();
    const std::uint64_t size = file_.size();
    const std::uint64_t longest = recordSize_ * 2 + schema_.fields.size() * 4 + 1024;
    std::vector<char> chunk(kChunk);
    std::uint64_t start = 0;
    auto add = [&](std::uint64_t from, std::uint64_t to) {
        if (to > from && (to - from) > longest)
            throw EngineError(ErrorKind::Damaged, "Text table " + file_.path().string() +
                                                      " is damaged at offset " +
                                                      std::to_string(from) + ": line " +
                                                      std::to_string(lines_.size() + 1) +
                                                      " is longer than its schema allows");
        if (to > from) lines_.push_back({from, static_cast<std::uint32_t>(to - from)});
    };
    for (std::uint64_t at = 0; at < size; at += kChunk) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - at));
        file_.readAt(at, chunk.data(), n);
        for (std::size_t i = 0; i < n; ++i) {
            if (chunk[i] != '\n') continue;
            std::uint64_t end = at + i;
            char before = 0;
            if (end > start) {
                if (i > 0)
                    before = chunk[i - 1];
                else
                    file_.readAt(end - 1, &before, 1);
            }
            add(start, before == '\r' ? end - 1 : end);
            start = at + i + 1;
        }
        if (at + n - start > longest) add(start, at + n);
    }
    appendAt_ = size;
    needsLineEnd_ = false;
    if (start < size) {
        std::string tail(static_cast<std::size_t>(size - start), '\0');
        file_.readAt(start, tail.data(), tail.size());
        if (tail.back() == '\x1A') {
            tail.pop_back();
            appendAt_ = size - 1;
        }
        while (!tail.empty() && tail.back() == '\r')
            tail.pop_back();
        add(start, start + tail.size());
        needsLineEnd_ = !tail.empty();
        if (needsLineEnd_) appendAt_ = start + tail.size();
    }
}

TextTable::SeenState TextTable::stateOnDisk() const {
    SeenState s;
    struct stat st {};
    if (::stat(file_.path().c_str(), &st) == 0) {
        s.size = static_cast<std::uint64_t>(st.st_size);
        s.modified = st.st_mtim;
    }
    return s;
}

bool TextTable::changedOnDisk() const {
    const SeenState now = stateOnDisk();
    return now.size != seen_.size || now.modified.tv_sec != seen_.modified.tv_sec ||
           now.modified.tv_nsec != seen_.modified.tv_nsec;
}

// ---------------------------------------------------------------------------- positions

void TextTable::checkPos(RecordPos pos) const {
    if (pos < 1 || pos > lines_.size())
        throw EngineError(ErrorKind::General,
                          "Record position no longer valid in " + file_.path().string());
}

bool TextTable::first(RecordPos& pos) {
    if (lines_.empty()) return false;
    pos = 1;
    return true;
}

bool TextTable::last(RecordPos& pos) {
    if (lines_.empty()) return false;
    pos = lines_.size();
    return true;
}

bool TextTable::next(RecordPos& pos) {
    if (pos >= lines_.size()) return false;
    ++pos;
    return true;
}

bool TextTable::prior(RecordPos& pos) {
    if (pos <= 1) return false;
    pos = std::min<RecordPos>(pos - 1, lines_.size());
    return true;
}

std::int64_t TextTable::ordinal(RecordPos pos) {
    checkPos(pos);
    return static_cast<std::int64_t>(pos) - 1;
}

bool TextTable::at(std::int64_t ord, RecordPos& pos) {
    if (ord < 0 || ord >= recordCount()) return false;
    pos = static_cast<RecordPos>(ord + 1);
    return true;
}

std::string TextTable::lineBytes(const Line& line) {
    if (line.start < cacheStart_ || line.start + line.length > cacheStart_ + cache_.size()) {
        const std::uint64_t size = file_.size();
        cacheStart_ = line.start;
        cache_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(
            std::max<std::uint64_t>(kChunk, line.length), size - line.start)));
        file_.readAt(cacheStart_, cache_.data(), cache_.size());
    }
    return std::string(cache_.data() + (line.start - cacheStart_), line.length);
}

void TextTable::read(RecordPos pos, std::uint8_t* raw) {
    checkPos(pos);
    const std::string line = lineBytes(lines_[pos - 1]);
    std::memset(raw, ' ', recordSize_);
    if (schema_.fixed) {
        std::memcpy(raw, line.data(), std::min(line.size(), recordSize_));
        for (std::size_t i = 0; i < std::min(line.size(), recordSize_); ++i)
            if (raw[i] == '\t' || raw[i] == '\0') raw[i] = ' ';
    } else {
        parseVarying(line, pos, raw);
    }
}

// Splits a VARYING line: a value that starts with the delimiter runs to the next delimiter
// not doubled (a doubled one is a literal delimiter); any other runs to the separator.
void TextTable::parseVarying(const std::string& line, std::uint64_t number,
                             std::uint8_t* raw) const {
    std::size_t at = 0;
    for (std::size_t f = 0; f < schema_.fields.size() && at <= line.size(); ++f) {
        std::string value;
        if (schema_.hasDelimiter && at < line.size() && line[at] == schema_.delimiter) {
            ++at;
            while (at < line.size()) {
                if (line[at] == schema_.delimiter) {
                    if (at + 1 < line.size() && line[at + 1] == schema_.delimiter) {
                        value += schema_.delimiter;
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += line[at++];
            }
            while (at < line.size() && line[at] != schema_.separator)
                ++at;
        } else {
            const std::size_t end = std::min(line.find(schema_.separator, at), line.size());
            value = std::string(trimmed(std::string_view(line).substr(at, end - at)));
            at = end;
        }
        ++at; // the separator
        const TextField& tf = schema_.fields[f];
        if (static_cast<int>(value.size()) > tf.width)
            throw EngineError(ErrorKind::Damaged,
                              "Text table " + file_.path().string() + ", line " +
                                  std::to_string(number) + ": the value of field " + tf.name +
                                  " is longer than its width " + std::to_string(tf.width));
        std::memcpy(raw + rawOffset_[f], value.data(), value.size());
    }
}

// -------------------------------------------------------------------------------- codec

Value TextTable::decode(int field, const std::uint8_t* raw) {
    const TextField& tf = schema_.fields.at(static_cast<std::size_t>(field));
    std::string_view text(reinterpret_cast<const char*>(raw) +
                              rawOffset_[static_cast<std::size_t>(field)],
                          static_cast<std::size_t>(tf.width));
    if (tf.type == TextType::Char) {
        while (!text.empty() && text.back() == ' ')
            text.remove_suffix(1);
        if (text.empty()) return {};
        return Value::text(toProgram_.convert(text));
    }
    text = trimmed(text);
    if (text.empty()) return {};
    auto bad = [&](const char* kind) {
        return EngineError(ErrorKind::Damaged, "Text table " + file_.path().string() + ": '" +
                                                   std::string(text) + "' is not a valid " + kind +
                                                   " value for field " + tf.name);
    };
    switch (tf.type) {
    case TextType::Float:
    case TextType::Money:
        if (auto v = parseTextNumber(text)) return Value::real(*v);
        throw bad("number");
    case TextType::Number:
    case TextType::LongInt:
        if (auto v = parseInteger(text)) return Value::integer(*v);
        throw bad("integer");
    case TextType::Bool: {
        const std::string u = upperAscii(text);
        if (u == "T" || u == "Y" || u == "TRUE" || u == "1" || u == "YES")
            return Value::boolean(true);
        if (u == "F" || u == "N" || u == "FALSE" || u == "0" || u == "NO")
            return Value::boolean(false);
        throw bad("logical");
    }
    case TextType::Date:
        if (auto d = parseTextDate(text)) return Value::date(*d);
        throw bad("date");
    case TextType::Time:
        if (auto t = parseTextTime(text)) return Value::time(*t);
        throw bad("time");
    case TextType::Timestamp: {
        const std::size_t blank = text.find(' ');
        const auto d = parseTextDate(text.substr(0, blank));
        const auto t = blank == std::string_view::npos ? std::optional<std::int64_t>(0)
                                                       : parseTextTime(trimmed(text.substr(blank)));
        if (d && t)
            return Value::dateTime(static_cast<double>(*d) * kMsPerDay + static_cast<double>(*t));
        throw bad("timestamp");
    }
    case TextType::Char:
        break;
    }
    return {};
}

void TextTable::encode(int field, RecordImage& image, const Value& value) {
    const TextField& tf = schema_.fields.at(static_cast<std::size_t>(field));
    std::uint8_t* p = image.raw.data() + rawOffset_[static_cast<std::size_t>(field)];
    const auto width = static_cast<std::size_t>(tf.width);
    auto bad = [&](const std::string& why) {
        return EngineError(ErrorKind::BadValue,
                           why + " for field '" + tf.name + "' of table " + tableName());
    };
    std::string text;
    if (!value.isNull()) {
        switch (tf.type) {
        case TextType::Char: {
            if (value.kind != Value::Kind::Text && value.kind != Value::Kind::Bytes)
                throw bad("A text value is needed");
            text = toTable_.convert(value.s);
            // A line end inside a value would end the record.
            for (char& c : text)
                if (c == '\r' || c == '\n') c = ' ';
            if (!schema_.fixed && !schema_.hasDelimiter &&
                text.find(schema_.separator) != std::string::npos)
                throw bad("'" + value.s +
                          "' holds the separator, which this text table has no delimiter for");
            if (text.size() > width) text.resize(width);
            break;
        }
        case TextType::Float:
        case TextType::Money:
        case TextType::Number:
        case TextType::LongInt: {
            char buf[64];
            const bool integer = tf.type == TextType::Number || tf.type == TextType::LongInt;
            if (value.kind == Value::Kind::Int || value.kind == Value::Kind::Bool) {
                if (integer)
                    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value.i));
                else
                    std::snprintf(buf, sizeof buf, "%.*f", tf.decimals,
                                  static_cast<double>(value.i));
            } else if (value.kind == Value::Kind::Float && std::isfinite(value.f)) {
                if (integer)
                    std::snprintf(buf, sizeof buf, "%lld",
                                  static_cast<long long>(std::llround(value.f)));
                else
                    std::snprintf(buf, sizeof buf, "%.*f", tf.decimals, value.f);
            } else {
                throw bad("'" + value.s + "' is not a valid number");
            }
            text = buf;
            break;
        }
        case TextType::Bool:
            if (value.kind != Value::Kind::Bool) throw bad("A logical value is needed");
            text = value.i ? "T" : "F";
            break;
        case TextType::Date:
            if (value.kind != Value::Kind::Date) throw bad("A date value is needed");
            text = dateText(value.i, tf.width);
            break;
        case TextType::Time:
            if (value.kind != Value::Kind::Time) throw bad("A time value is needed");
            text = timeText(value.i);
            break;
        case TextType::Timestamp: {
            if (value.kind != Value::Kind::DateTime && value.kind != Value::Kind::Date)
                throw bad("A date and time value is needed");
            const double ms = value.kind == Value::Kind::Date
                                  ? static_cast<double>(value.i) * kMsPerDay
                                  : value.f;
            const auto day = static_cast<std::int64_t>(std::floor(ms / kMsPerDay));
            text =
                dateText(day, 10) + " " + timeText(static_cast<std::int64_t>(ms) - day * kMsPerDay);
            break;
        }
        }
        if (text.size() > width)
            throw bad("Value " + text + " does not fit the field's width of " +
                      std::to_string(width));
    }
    std::memset(p, ' ', width);
    const bool rightAligned = tf.type != TextType::Char && tf.type != TextType::Bool &&
                              tf.type != TextType::Date && tf.type != TextType::Time &&
                              tf.type != TextType::Timestamp;
    std::memcpy(p + (rightAligned ? width - text.size() : 0), text.data(), text.size());
}

void TextTable::appendSortKey(int field, const std::uint8_t* raw, bool, std::string& out) {
    const TextField& tf = schema_.fields.at(static_cast<std::size_t>(field));
    out.append(reinterpret_cast<const char*>(raw) + rawOffset_[static_cast<std::size_t>(field)],
               static_cast<std::size_t>(tf.width));
}

void TextTable::blankRecord(std::uint8_t* raw) {
    std::memset(raw, ' ', recordSize_);
}

// ------------------------------------------------------------------------------ changes

WriteAccess TextTable::beginWrite() {
    if (file_.holdsWriterLock()) return WriteAccess::Granted;
    if (!file_.writable())
        throw EngineError(ErrorKind::Database, "Table " + file_.path().string() + " is read-only");
    if (!file_.tryWriterLock()) return WriteAccess::Busy;
    if (!changedOnDisk()) return WriteAccess::Granted;
    try {
        scanLines();
        seen_ = stateOnDisk();
    } catch (...) {
        file_.releaseWriterLock();
        throw;
    }
    return WriteAccess::GrantedReloaded;
}

void TextTable::beginChange() {
    const WriteAccess access = beginWrite();
    if (access == WriteAccess::Busy)
        throw EngineError(ErrorKind::Database,
                          "Table " + file_.path().string() + " is in use by someone else");
    if (access == WriteAccess::GrantedReloaded)
        throw EngineError(ErrorKind::Database,
                          "Table " + file_.path().string() +
                              " was changed by another program; open it again");
}

// A record as a line: FIXED as its columns, VARYING as values with separators, character
// values in delimiters (a delimiter inside doubled).
std::string TextTable::formatLine(const std::uint8_t* raw) const {
    if (schema_.fixed) return std::string(reinterpret_cast<const char*>(raw), recordSize_);
    std::string line;
    for (std::size_t f = 0; f < schema_.fields.size(); ++f) {
        if (f > 0) line += schema_.separator;
        const TextField& tf = schema_.fields[f];
        std::string_view v(reinterpret_cast<const char*>(raw) + rawOffset_[f],
                           static_cast<std::size_t>(tf.width));
        if (tf.type != TextType::Char) {
            line += trimmed(v);
            continue;
        }
        while (!v.empty() && v.back() == ' ')
            v.remove_suffix(1);
        if (v.empty()) continue;
        if (!schema_.hasDelimiter) {
            line += v;
            continue;
        }
        line += schema_.delimiter;
        for (char c : v) {
            if (c == schema_.delimiter) line += c;
            line += c;
        }
        line += schema_.delimiter;
    }
    return line;
}

RecordPos TextTable::insert(RecordImage& image) {
    beginChange();
    std::string bytes = needsLineEnd_ ? "\r\n" : "";
    const std::uint64_t start = appendAt_ + bytes.size();
    const std::string line = formatLine(image.raw.data());
    bytes += line + "\r\n";
    file_.writeAt(appendAt_, bytes.data(), bytes.size());
    if (file_.size() > appendAt_ + bytes.size())
        file_.truncate(appendAt_ + bytes.size()); // a final 0x1A
    appendAt_ += bytes.size();
    needsLineEnd_ = false;
    lines_.push_back({start, static_cast<std::uint32_t>(line.size())});
    cache_.clear();
    return lines_.size();
}

// FIXED records change in place, column for column; VARYING ones would change length.
RecordPos TextTable::update(RecordPos pos, RecordImage& image) {
    checkPos(pos);
    if (!schema_.fixed)
        refuse("change records of a VARYING layout in place; records can only be appended");
    const Line& line = lines_[pos - 1];
    if (line.length < recordSize_)
        throw EngineError(
            ErrorKind::General,
            "Table " + tableName() + ": line " + std::to_string(pos) +
                " is shorter than the FIXED layout of its schema and cannot be changed in place");
    beginChange();
    file_.writeAt(line.start, image.raw.data(), recordSize_);
    cache_.clear();
    return pos;
}

bool TextTable::remove(RecordPos, RecordPos&, bool&) {
    refuse("delete records");
}

void TextTable::dropIndex(const std::string&) {
    refuse("have indexes");
}

void TextTable::flush() {
    if (!file_.isOpen() || !file_.holdsWriterLock()) return;
    file_.sync();
    file_.releaseWriterLock();
    seen_ = stateOnDisk();
}

bool TextTable::refresh() {
    if (file_.holdsWriterLock() || !changedOnDisk()) return false;
    scanLines();
    seen_ = stateOnDisk();
    return true;
}

void TextTable::close() {
    if (!file_.isOpen()) return;
    flush();
    file_.close();
}

// ------------------------------------------------------------------------------ family

std::unique_ptr<TableDriver> openTextTable(const OpenRequest& request) {
    return std::make_unique<TextTable>(request);
}

void createTextTable(const std::filesystem::path& path, const std::vector<FieldDef>& fields,
                     const std::vector<IndexDef>& indexes, int codePage) {
    const std::string table = path.filename().string();
    if (!indexes.empty())
        throw EngineError(ErrorKind::General,
                          "Table " + table + ": text tables cannot have indexes");
    if (fields.empty())
        throw EngineError(ErrorKind::General, "Table " + table + " needs at least one field");
    TextSchema s;
    s.tableName = upperAscii(path.stem().string());
    s.fixed = true;
    s.charset = charsetFor(codePage);
    int offset = 0;
    for (const auto& def : fields) {
        for (const auto& f : s.fields)
            if (sameName(f.name, def.name))
                throw EngineError(ErrorKind::General,
                                  "Field name " + def.name + " occurs twice in table " + table);
        TextField f = textFieldFor(def, table);
        f.offset = offset;
        offset += f.width;
        s.fields.push_back(f);
    }
    if (const auto existing = findCompanion(path, path.extension().string())) {
        File old = File::open(*existing);
        if (!old.tryLock(true))
            throw EngineError(ErrorKind::Database,
                              "Table " + existing->string() + " is in use by someone else");
    }
    const auto sch = findCompanion(path, ".SCH");
    const std::filesystem::path schPath = sch ? *sch : companionPath(path, ".SCH");
    {
        const std::string text = schemaText(s);
        ReplacementFile out(schPath);
        out.file().writeAt(0, text.data(), text.size());
        out.commit();
    }
    File data = File::create(path);
    data.sync();
}

void addTextIndex(const std::filesystem::path& path) {
    throw EngineError(ErrorKind::General,
                      "Table " + path.filename().string() + ": text tables cannot have indexes");
}

} // namespace fieldsmith::engine::text
