// The Oracle functions the embedded backend adds to SQLite: NVL, TO_DATE, TO_CHAR,
// TO_NUMBER, SYS_CONTEXT, and its own ORA_IN (implicit conversion on INSERT and UPDATE),
// ORA_SYSDATE and ORA_USER. Errors are reported as "ORA-nnnnn: ..." messages.
#include "OracleError.h"
#include "SqliteBackend.h"
#include "SqliteSchema.h"
#include "ValueText.h"
#include "engine/DateCalc.h"
#include "engine/FieldDef.h"

#include <cctype>
#include <cmath>
#include <ctime>
#include <sqlite3.h>

namespace fieldsmith::oraclient {

using engine::kMsPerDay;
using engine::upperAscii;

namespace {

SqliteBackend& backendOf(sqlite3_context* ctx) {
    return *static_cast<SqliteBackend*>(sqlite3_user_data(ctx));
}

std::string textOf(sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
}

void resultText(sqlite3_context* ctx, const std::string& text) {
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void resultError(sqlite3_context* ctx, const OracleError& e) {
    sqlite3_result_error(ctx, e.what(), -1);
}

// --- Oracle date format models (YYYY-MM-DD HH24:MI:SS and the like)

struct ModelElement {
    const char* name;
    int digits; // 0 for words
};
const ModelElement kElements[] = {{"YYYY", 4}, {"RRRR", 4}, {"HH24", 2}, {"HH12", 2}, {"MONTH", 0},
                                  {"MON", 0},  {"YY", 2},   {"RR", 2},   {"MM", 2},   {"DD", 2},
                                  {"HH", 2},   {"MI", 2},   {"SS", 2},   {"AM", 0},   {"PM", 0},
                                  {"FF3", 3},  {"FF", 3}};
const char* kMonths[] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                         "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};

// Calls fn(element or nullptr, literal text) for each piece of a model.
template <typename Fn> void forEachElement(std::string_view model, Fn fn) {
    std::size_t i = 0;
    while (i < model.size()) {
        if (model[i] == '"') {
            const std::size_t end = model.find('"', i + 1);
            fn(nullptr,
               model.substr(i + 1, (end == std::string_view::npos ? model.size() : end) - i - 1));
            i = end == std::string_view::npos ? model.size() : end + 1;
            continue;
        }
        const ModelElement* found = nullptr;
        for (const auto& e : kElements) {
            const std::size_t n = std::char_traits<char>::length(e.name);
            if (upperAscii(model.substr(i, n)) == e.name) {
                found = &e;
                break;
            }
        }
        if (found) {
            fn(found, std::string_view());
            i += std::char_traits<char>::length(found->name);
        } else {
            fn(nullptr, model.substr(i, 1));
            ++i;
        }
    }
}

std::int64_t parseWithModel(std::string_view text, std::string_view model) {
    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0, ms = 0;
    bool pm = false, twelve = false;
    std::size_t pos = 0;
    const OracleError mismatch(1861, "literal does not match format string");
    forEachElement(model, [&](const ModelElement* e, std::string_view literal) {
        if (!e) {
            for (char c : literal) {
                if (pos < text.size() &&
                    (text[pos] == c || (!std::isalnum(static_cast<unsigned char>(c)) &&
                                        !std::isalnum(static_cast<unsigned char>(text[pos])))))
                    ++pos;
                else if (c != ' ')
                    throw mismatch;
            }
            return;
        }
        const std::string name = e->name;
        if (e->digits == 0) {
            if (name == "AM" || name == "PM") {
                const std::string word = upperAscii(text.substr(pos, 2));
                if (word != "AM" && word != "PM") throw mismatch;
                pm = word == "PM";
                twelve = true;
                pos += 2;
                return;
            }
            for (int m = 0; m < 12; ++m) {
                const std::string full = kMonths[m];
                const std::string probe = name == "MONTH" ? full : full.substr(0, 3);
                if (upperAscii(text.substr(pos, probe.size())) == probe) {
                    month = m + 1;
                    pos += probe.size();
                    return;
                }
            }
            throw OracleError(1843, "not a valid month");
        }
        int value = 0, count = 0;
        while (pos < text.size() && count < e->digits &&
               std::isdigit(static_cast<unsigned char>(text[pos]))) {
            value = value * 10 + (text[pos++] - '0');
            ++count;
        }
        if (count == 0)
            throw OracleError(1858,
                              "a non-numeric character was found where a numeric was expected");
        if (name == "YYYY" || name == "RRRR")
            year = count <= 2 ? (value < 50 ? 2000 + value : 1900 + value) : value;
        else if (name == "YY" || name == "RR")
            year = value < 50 ? 2000 + value : 1900 + value;
        else if (name == "MM")
            month = value;
        else if (name == "DD")
            day = value;
        else if (name == "HH24")
            hour = value;
        else if (name == "HH" || name == "HH12")
            hour = value, twelve = true;
        else if (name == "MI")
            minute = value;
        else if (name == "SS")
            second = value;
        else if (name == "FF3" || name == "FF") {
            for (int k = count; k < 3; ++k)
                value *= 10;
            ms = value;
        }
    });
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    if (pos != text.size())
        throw OracleError(1830, "date format picture ends before converting entire input string");
    if (twelve) {
        if (hour < 1 || hour > 12) throw OracleError(1849, "hour must be between 1 and 12");
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (month < 1 || month > 12) throw OracleError(1843, "not a valid month");
    if (!engine::isValidDate(year, month, day))
        throw OracleError(1847, "day of month must be between 1 and last day of month");
    if (hour > 23) throw OracleError(1850, "hour must be between 0 and 23");
    if (minute > 59) throw OracleError(1851, "minutes must be between 0 and 59");
    if (second > 59) throw OracleError(1852, "seconds must be between 0 and 59");
    return engine::dayNumber(year, month, day) * kMsPerDay +
           ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
}

std::string formatWithModel(std::int64_t ms, std::string_view model) {
    std::int64_t dayNo = ms / kMsPerDay, rest = ms % kMsPerDay;
    if (rest < 0) rest += kMsPerDay, --dayNo;
    const engine::CivilDate d = engine::civilFromDayNumber(dayNo);
    const int hour = static_cast<int>(rest / 3'600'000),
              minute = static_cast<int>(rest / 60'000 % 60),
              second = static_cast<int>(rest / 1000 % 60), milli = static_cast<int>(rest % 1000);
    std::string out;
    auto num = [&](int v, int width) {
        std::string s = std::to_string(v);
        while (static_cast<int>(s.size()) < width)
            s.insert(s.begin(), '0');
        out += s;
    };
    forEachElement(model, [&](const ModelElement* e, std::string_view literal) {
        if (!e) {
            out += literal;
            return;
        }
        const std::string name = e->name;
        if (name == "YYYY" || name == "RRRR")
            num(d.year, 4);
        else if (name == "YY" || name == "RR")
            num(d.year % 100, 2);
        else if (name == "MM")
            num(d.month, 2);
        else if (name == "MONTH")
            out += kMonths[d.month - 1];
        else if (name == "MON")
            out += std::string(kMonths[d.month - 1]).substr(0, 3);
        else if (name == "DD")
            num(d.day, 2);
        else if (name == "HH24")
            num(hour, 2);
        else if (name == "HH" || name == "HH12")
            num(hour % 12 == 0 ? 12 : hour % 12, 2);
        else if (name == "MI")
            num(minute, 2);
        else if (name == "SS")
            num(second, 2);
        else if (name == "AM" || name == "PM")
            out += hour < 12 ? "AM" : "PM";
        else
            num(milli, 3);
    });
    return out;
}

// --- the functions

// ORA_IN(value, target, scale): a value on its way into a NUMBER or DATE column.
void oraIn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto target = static_cast<ImplicitTarget>(sqlite3_value_int(argv[1]));
    const int scale = sqlite3_value_int(argv[2]);
    sqlite3_value* v = argv[0];
    const int type = sqlite3_value_type(v);
    try {
        if (type == SQLITE_NULL) return sqlite3_result_null(ctx);
        if (target == ImplicitTarget::Number) {
            double number = 0;
            if (type == SQLITE_INTEGER) return sqlite3_result_int64(ctx, sqlite3_value_int64(v));
            if (type == SQLITE_FLOAT) {
                number = sqlite3_value_double(v);
            } else if (type == SQLITE_TEXT) {
                const OracleValue parsed = numberFromText(textOf(v), backendOf(ctx).formats());
                if (parsed.kind == ValueKind::Integer)
                    return sqlite3_result_int64(ctx, parsed.whole);
                number = parsed.real;
            } else {
                throw OracleError(932, "inconsistent datatypes: expected NUMBER got BLOB");
            }
            const OracleValue rounded = roundToScale(number, scale);
            if (rounded.kind == ValueKind::Integer)
                sqlite3_result_int64(ctx, rounded.whole);
            else
                sqlite3_result_double(ctx, rounded.real);
            return;
        }
        if (type != SQLITE_TEXT)
            throw OracleError(932, "inconsistent datatypes: expected DATE got NUMBER");
        const std::string text = textOf(v);
        auto ms = parseStoredDate(text);
        if (!ms) ms = dateFromText(text, backendOf(ctx).formats());
        resultText(ctx, storedDate(*ms, target == ImplicitTarget::Timestamp));
    } catch (const OracleError& e) {
        resultError(ctx, e);
    }
}

void nvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

void toDate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    try {
        const std::string text = textOf(argv[0]);
        std::int64_t ms;
        if (argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL) {
            ms = parseWithModel(text, textOf(argv[1]));
        } else if (auto stored = parseStoredDate(text)) {
            ms = *stored;
        } else {
            ms = dateFromText(text, backendOf(ctx).formats());
        }
        resultText(ctx, storedDate(ms, false));
    } catch (const OracleError& e) {
        resultError(ctx, e);
    }
}

void toChar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL) return sqlite3_result_null(ctx);
    const auto& formats = backendOf(ctx).formats();
    if (type == SQLITE_INTEGER)
        return resultText(ctx, std::to_string(sqlite3_value_int64(argv[0])));
    if (type == SQLITE_FLOAT)
        return resultText(ctx, numberText(sqlite3_value_double(argv[0]), formats));
    const std::string text = textOf(argv[0]);
    if (auto ms = parseStoredDate(text)) {
        if (argc > 1 && sqlite3_value_type(argv[1]) != SQLITE_NULL)
            return resultText(ctx, formatWithModel(*ms, textOf(argv[1])));
        return resultText(ctx, dateText(*ms, formats));
    }
    resultText(ctx, text);
}

void toNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL || type == SQLITE_INTEGER || type == SQLITE_FLOAT)
        return sqlite3_result_value(ctx, argv[0]);
    try {
        const OracleValue v = numberFromText(textOf(argv[0]), backendOf(ctx).formats());
        if (v.kind == ValueKind::Integer)
            sqlite3_result_int64(ctx, v.whole);
        else
            sqlite3_result_double(ctx, v.real);
    } catch (const OracleError& e) {
        resultError(ctx, e);
    }
}

// The server's clock: local time, whole seconds.
void sysdate(sqlite3_context* ctx, int, sqlite3_value**) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::int64_t ms =
        engine::dayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * kMsPerDay +
        ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000;
    resultText(ctx, storedDate(ms, false));
}

// CHR(n): the character whose code in the database character set is n; a code above 255
// stands for its bytes, most significant first, as Oracle reads it for a multi-byte set.
void chr(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const sqlite3_int64 n = sqlite3_value_int64(argv[0]);
    if (n < 0 || n > 0xFFFFFFFFLL)
        return sqlite3_result_error(ctx, "ORA-01722: invalid number", -1);
    std::string bytes;
    for (int shift = 24; shift > 0; shift -= 8)
        if (const auto b = static_cast<char>((n >> shift) & 0xFF); b || !bytes.empty()) bytes += b;
    bytes += static_cast<char>(n & 0xFF);
    sqlite3_result_text64(ctx, bytes.data(), bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// ORA_CONCAT(a, b, ...): Oracle's "||", which takes null as the empty text and gives null
// for an empty result (SQLite's gives null for any null operand).
void oraConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string out;
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) continue;
        const auto* p = sqlite3_value_text(argv[i]);
        out.append(reinterpret_cast<const char*>(p),
                   static_cast<std::size_t>(sqlite3_value_bytes(argv[i])));
    }
    if (out.empty()) return sqlite3_result_null(ctx);
    sqlite3_result_text64(ctx, out.data(), out.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// TO_CLOB(text): the text itself; the backend keeps CLOBs as text.
void toClob(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, argv[0]);
}

void user(sqlite3_context* ctx, int, sqlite3_value**) {
    resultText(ctx, backendOf(ctx).schemaName());
}

void sysContext(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const std::string ns = upperAscii(textOf(argv[0])), key = upperAscii(textOf(argv[1]));
    const auto& b = backendOf(ctx);
    if (ns != "USERENV") return sqlite3_result_null(ctx);
    if (key == "CLIENT_INFO")
        return b.clientInfo().empty() ? sqlite3_result_null(ctx) : resultText(ctx, b.clientInfo());
    if (key == "SESSION_USER" || key == "CURRENT_SCHEMA" || key == "CURRENT_USER")
        return resultText(ctx, b.schemaName());
    if (key == "DB_NAME") return resultText(ctx, upperAscii(b.databaseName()));
    sqlite3_result_error(ctx, "ORA-02003: invalid USERENV parameter", -1);
}

} // namespace

void registerOracleFunctions(sqlite3* db, SqliteBackend* backend) {
    struct Function {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic;
    };
    const Function functions[] = {
        {"ORA_IN", 3, oraIn, true},
        {"NVL", 2, nvl, true},
        {"TO_DATE", 1, toDate, true},
        {"TO_DATE", 2, toDate, true},
        {"TO_CHAR", 1, toChar, true},
        {"TO_CHAR", 2, toChar, true},
        {"TO_NUMBER", 1, toNumber, true},
        {"ORA_SYSDATE", 0, sysdate, false},
        {"ORA_USER", 0, user, true},
        {"SYS_CONTEXT", 2, sysContext, false},
        {"CHR", 1, chr, true},
        {"TO_CLOB", 1, toClob, true},
        {"ORA_CONCAT", -1, oraConcat, true},
    };
    for (const auto& f : functions) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        if (sqlite3_create_function_v2(db, f.name, f.args, flags, backend, f.fn, nullptr, nullptr,
                                       nullptr) != SQLITE_OK)
            throw OracleError(600, std::string("internal error code, arguments: [function ") +
                                       f.name + "]");
    }
}

} // namespace fieldsmith::oraclient
