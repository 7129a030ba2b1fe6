// The field codec of the dBase driver: values of every type letter decoded from and
// encoded into records, memo values fetched from the memo file, and sort keys.
#include "DBaseTable.h"

#include "../DateCalc.h"
#include "../EngineError.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace fieldsmith::engine::dbase {

namespace {

// The length of a value without its padding of blanks or NULs at the end. A character
// field is mostly padding: blanks are skipped eight at a time first.
std::size_t unpaddedLength(const std::uint8_t* p, std::size_t n) {
    constexpr std::uint64_t kEightBlanks = 0x2020202020202020ULL;
    for (std::uint64_t w; n >= 8; n -= 8) {
        std::memcpy(&w, p + n - 8, 8);
        if (w != kEightBlanks) break;
    }
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
        --n;
    return n;
}

std::string_view trimmedText(const std::uint8_t* p, int length) {
    const std::size_t b = unpaddedLength(p, static_cast<std::size_t>(length));
    std::size_t a = 0;
    const char* c = reinterpret_cast<const char*>(p);
    while (a < b && (c[a] == ' ' || c[a] == '\0'))
        ++a;
    return {c + a, b - a};
}

std::uint64_t readBigEndian(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

std::uint64_t readLittleEndian(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n; i-- > 0;)
        v = (v << 8) | p[i];
    return v;
}

void appendBigEndian(std::string& out, std::uint64_t v, int n) {
    for (int i = n; i-- > 0;)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Bytes of a double whose memcmp order is the numeric order.
void appendOrderedDouble(std::string& out, double d) {
    if (d == 0 || std::isnan(d)) d = 0;
    std::uint64_t bits = std::bit_cast<std::uint64_t>(d);
    bits = (bits >> 63) ? ~bits : bits | (1ULL << 63);
    appendBigEndian(out, bits, 8);
}

bool isAllZero(const std::uint8_t* p, int n) {
    for (int i = 0; i < n; ++i)
        if (p[i] != 0) return false;
    return true;
}

std::optional<double> parseNumber(std::string_view t) {
    if (t.empty() || t[0] == '*') return std::nullopt;
    std::string s(t);
    if (s.find('.') == std::string::npos)
        for (char& c : s)
            if (c == ',') c = '.';
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::int64_t dayOfDateText(std::string_view t) {
    if (t.size() != 8) return 0;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    const int y = v / 10000, m = v / 100 % 100, d = v % 100;
    if (y < 1 || !isValidDate(y, m, d)) return 0;
    return dayNumber(y, m, d);
}

constexpr double kMsPerDayDouble = 86'400'000.0;
constexpr std::int64_t kJulianDayOfDayZero = 1721425; //!< 0001-01-01 is Julian day 1721426

} // namespace

const FieldDesc& DBaseTable::desc(int field) const {
    // visible_ holds indexes into header_.fields only.
    return header_.fields[static_cast<std::size_t>(visible_.at(static_cast<std::size_t>(field)))];
}

bool DBaseTable::isNullFlagged(const FieldDesc& f, const std::uint8_t* raw) const {
    if (f.nullBit < 0 || header_.nullFlagsField < 0) return false;
    const FieldDesc& flags = header_.fields[static_cast<std::size_t>(header_.nullFlagsField)];
    return raw[flags.offset + f.nullBit / 8] & (1u << (f.nullBit % 8));
}

// A memo, binary or OLE value from the memo file; a missing memo file is an error naming it
// only when a record really points into it.
Value DBaseTable::decodeMemo(int field, const FieldDesc& f, const std::uint8_t* raw) {
    const std::uint32_t block = memoBlock(f, raw);
    if (block == 0) return {};
    if (!memo_)
        throw EngineError(ErrorKind::Damaged,
                          "Memo file of " + db_.path().string() + " is missing (field " +
                              fieldDefs_[static_cast<std::size_t>(field)].name + ")");
    std::string data = memo_->read(block);
    if (data.empty()) return {};
    if (f.type == 'M' && !(f.flags & 0x04)) return Value::text(toProgram_.convert(data));
    return Value::bytes(std::move(data));
}

bool DBaseTable::decodeText(int field, const std::uint8_t* raw, std::string& out) {
    const FieldDesc& f = desc(field);
    if (f.type != 'C' || isNullFlagged(f, raw)) return false;
    const std::uint8_t* p = raw + f.offset;
    const std::string_view bytes(reinterpret_cast<const char*>(p),
                                 unpaddedLength(p, static_cast<std::size_t>(f.length)));
    if ((f.flags & 0x04) || toProgram_.isIdentity())
        out.assign(bytes);
    else
        out = toProgram_.convert(bytes);
    return true;
}

Value DBaseTable::decode(int field, const std::uint8_t* raw) {
    const FieldDesc& f = desc(field);
    const std::uint8_t* p = raw + f.offset;
    if (isNullFlagged(f, raw)) return {};
    const bool level7 = header_.dialect == Dialect::DBase7;
    const bool vfp = header_.dialect == Dialect::VisualFoxPro;
    switch (f.type) {
    case 'C': {
        const std::size_t n = unpaddedLength(p, static_cast<std::size_t>(f.length));
        if (n == 0) return {};
        const std::string_view bytes(reinterpret_cast<const char*>(p), n);
        return Value::text((f.flags & 0x04) ? std::string(bytes) : toProgram_.convert(bytes));
    }
    case 'V':
    case 'Q': {
        std::size_t n = static_cast<std::size_t>(f.length);
        if (f.varLengthBit >= 0) {
            const FieldDesc& flags =
                header_.fields[static_cast<std::size_t>(header_.nullFlagsField)];
            if (raw[flags.offset + f.varLengthBit / 8] & (1u << (f.varLengthBit % 8)))
                n = std::min<std::size_t>(p[f.length - 1], static_cast<std::size_t>(f.length - 1));
        }
        const std::string_view bytes(reinterpret_cast<const char*>(p), n);
        if (f.type == 'Q') return Value::bytes(std::string(bytes));
        if (n == 0) return {};
        return Value::text(toProgram_.convert(bytes));
    }
    case 'N':
    case 'F': {
        const auto v = parseNumber(trimmedText(p, f.length));
        if (!v) return {};
        const FieldType t = fieldDefs_[static_cast<std::size_t>(field)].type;
        if (t == FieldType::ftSmallint || t == FieldType::ftInteger || t == FieldType::ftLargeint)
            return Value::integer(std::llround(*v));
        return Value::real(*v);
    }
    case 'D': {
        const std::int64_t day =
            dayOfDateText(std::string_view(reinterpret_cast<const char*>(p), 8));
        return day ? Value::date(day) : Value();
    }
    case 'L':
        switch (p[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y':
            return Value::boolean(true);
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            return Value::boolean(false);
        default:
            return {};
        }
    case 'I':
    case '+':
        if (level7) {
            if (isAllZero(p, 4)) return {};
            return Value::integer(static_cast<std::int32_t>(
                static_cast<std::uint32_t>(readBigEndian(p, 4)) ^ 0x80000000u));
        }
        if (vfp) return Value::integer(static_cast<std::int32_t>(readLittleEndian(p, 4)));
        break;
    case 'O':
        if (level7) {
            if (isAllZero(p, 8)) return {};
            std::uint64_t bits = readBigEndian(p, 8);
            bits = (bits >> 63) ? bits & ~(1ULL << 63) : ~bits;
            return Value::real(std::bit_cast<double>(bits));
        }
        break;
    case '@':
        if (level7) {
            if (isAllZero(p, 8)) return {};
            return Value::dateTime(std::bit_cast<double>(readBigEndian(p, 8)));
        }
        break;
    case 'Y':
        if (vfp)
            return Value::real(
                static_cast<double>(static_cast<std::int64_t>(readLittleEndian(p, 8))) / 10000.0);
        break;
    case 'T':
        if (vfp) {
            const auto julian = static_cast<std::int32_t>(readLittleEndian(p, 4));
            const auto ms = static_cast<std::int32_t>(readLittleEndian(p + 4, 4));
            if (julian <= 0) return {};
            return Value::dateTime(
                static_cast<double>(julian - kJulianDayOfDayZero) * kMsPerDayDouble + ms);
        }
        break;
    case 'B':
        if (vfp) return Value::real(std::bit_cast<double>(readLittleEndian(p, 8)));
        break;
    default:
        break;
    }
    if (f.type == 'M' || f.type == 'B' || f.type == 'G' || f.type == 'W' || f.type == 'P')
        return decodeMemo(field, f, raw);
    if (isAllZero(p, f.length)) return {};
    return Value::bytes(
        std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length)));
}

void DBaseTable::encode(int field, RecordImage& image, const Value& value) {
    const FieldDesc& f = desc(field);
    const FieldDef& def = fieldDefs_[static_cast<std::size_t>(field)];
    std::uint8_t* p = image.raw.data() + f.offset;
    const auto length = static_cast<std::size_t>(f.length);
    auto bad = [&](const std::string& why) {
        return EngineError(ErrorKind::BadValue,
                           why + " for field '" + def.name + "' of table " + tableName());
    };
    if (header_.dialect != Dialect::DBase)
        throw EngineError(ErrorKind::General, "Table " + db_.path().string() +
                                                  " cannot be changed: " + header_.readOnlyReason);
    switch (f.type) {
    case 'M':
    case 'B':
    case 'G': {
        std::string data;
        if (!value.isNull()) data = f.type == 'M' ? toTable_.convert(value.s) : value.s;
        image.blobs[static_cast<std::size_t>(field)] = std::move(data);
        return;
    }
    case 'C': {
        std::memset(p, ' ', length);
        if (value.isNull()) return;
        if (value.kind != Value::Kind::Text && value.kind != Value::Kind::Bytes)
            throw bad("A text value is needed");
        const std::string text = toTable_.convert(value.s);
        std::memcpy(p, text.data(), std::min(length, text.size()));
        return;
    }
    case 'N':
    case 'F': {
        std::memset(p, ' ', length);
        if (value.isNull()) return;
        std::string text;
        char buf[96];
        if (value.kind == Value::Kind::Int || value.kind == Value::Kind::Bool) {
            if (f.decimals > 0)
                std::snprintf(buf, sizeof buf, "%lld.%0*d", static_cast<long long>(value.i),
                              f.decimals, 0);
            else
                std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value.i));
        } else if (value.kind == Value::Kind::Float) {
            if (!std::isfinite(value.f) || std::fabs(value.f) >= 1e20)
                throw bad("Value out of range");
            std::snprintf(buf, sizeof buf, "%.*f", f.decimals, value.f);
            if (std::strtod(buf, nullptr) == 0 && buf[0] == '-')
                std::memmove(buf, buf + 1, std::strlen(buf));
        } else {
            throw bad("'" + value.s + "' is not a valid number");
        }
        text = buf;
        if (text.size() > length)
            throw bad("Value " + text + " does not fit the field's " + std::to_string(f.length) +
                      " digits");
        std::memcpy(p + length - text.size(), text.data(), text.size());
        return;
    }
    case 'D': {
        std::memset(p, ' ', 8);
        if (value.isNull()) return;
        if (value.kind != Value::Kind::Date) throw bad("A date value is needed");
        const CivilDate d = civilFromDayNumber(value.i);
        if (value.i < 1 || d.year > 9999) throw bad("Date out of range");
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
        std::memcpy(p, buf, 8);
        return;
    }
    case 'L':
        if (value.isNull())
            p[0] = '?';
        else if (value.kind == Value::Kind::Bool)
            p[0] = value.i ? 'T' : 'F';
        else
            throw bad("A logical value is needed");
        return;
    default:
        throw bad("Fields of type " + std::string(1, f.type) + " cannot be set");
    }
}

void DBaseTable::appendSortKey(int field, const std::uint8_t* raw, bool caseInsensitive,
                               std::string& out) {
    const FieldDesc& f = desc(field);
    const std::uint8_t* p = raw + f.offset;
    const bool level7 = header_.dialect == Dialect::DBase7;
    const bool vfp = header_.dialect == Dialect::VisualFoxPro;
    switch (f.type) {
    case 'C':
    case 'V': {
        const std::size_t start = out.size();
        out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length));
        if (caseInsensitive)
            for (std::size_t i = start; i < out.size(); ++i)
                out[i] = static_cast<char>(upper_[static_cast<std::uint8_t>(out[i])]);
        return;
    }
    case 'N':
    case 'F':
        // A blank number is zero in a tag's keys.
        appendOrderedDouble(out, parseNumber(trimmedText(p, f.length)).value_or(0.0));
        return;
    case 'D':
        appendBigEndian(out,
                        static_cast<std::uint64_t>(
                            dayOfDateText(std::string_view(reinterpret_cast<const char*>(p), 8))),
                        4);
        return;
    case 'L': {
        const Value v = decode(field, raw);
        out += static_cast<char>(v.isNull() ? 0 : v.i ? 2 : 1);
        return;
    }
    default:
        break;
    }
    if (level7 && (f.type == 'I' || f.type == '+' || f.type == 'O' || f.type == '@')) {
        out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length));
        return;
    }
    if (vfp && (f.type == 'I' || f.type == 'Y' || f.type == 'T' || f.type == 'B')) {
        const Value v = decode(field, raw);
        out += static_cast<char>(v.isNull() ? 0 : 1);
        appendOrderedDouble(out, v.kind == Value::Kind::Int ? static_cast<double>(v.i) : v.f);
        return;
    }
    if (f.type == 'M' || f.type == 'B' || f.type == 'G' || f.type == 'W' || f.type == 'P') return;
    out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.length));
}

void DBaseTable::blankRecord(std::uint8_t* raw) {
    std::memset(raw, ' ', header_.recordLength);
    for (const auto& f : header_.fields) {
        std::uint8_t* p = raw + f.offset;
        switch (f.type) {
        case 'C':
        case 'N':
        case 'F':
        case 'D':
        case 'V':
            break;
        case 'L':
            p[0] = header_.dialect == Dialect::DBase ? '?' : ' ';
            break;
        case 'M':
        case 'B':
        case 'G':
        case 'P':
        case 'W':
            if (f.length == 4 || (f.type == 'B' && header_.dialect == Dialect::VisualFoxPro))
                std::memset(p, 0, static_cast<std::size_t>(f.length));
            break;
        default:
            std::memset(p, 0, static_cast<std::size_t>(f.length));
            break;
        }
    }
}

} // namespace fieldsmith::engine::dbase
