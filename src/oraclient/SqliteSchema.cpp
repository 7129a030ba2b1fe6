#include "SqliteSchema.h"

#include "OracleError.h"
#include "engine/DateCalc.h"

#include <cctype>
#include <cstdio>
#include <sqlite3.h>

namespace fieldsmith::oraclient {

namespace fsys = std::filesystem;
using engine::kMsPerDay;

void createSchemaFile(const fsys::path& file) {
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    if (rc == SQLITE_OK) {
        // WAL is a property of the file: set once here, every later connection uses it.
        if (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK) {
            sqlite3_close(db);
            return;
        }
        message = sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    throw OracleError(1119, "error in creating database file '" + file.string() + "': " + message);
}

std::vector<std::string> schemaTables(const fsys::path& file) {
    std::vector<std::string> out;
    if (!fsys::exists(file)) return out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT "
                               "LIKE 'sqlite_%' ORDER BY name",
                               -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW)
                out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return out;
}

// The program commits after every row it copies, so durability is a per-commit cost.
// WAL with synchronous=NORMAL writes each commit into the write-ahead log before COMMIT
// returns, so a killed process keeps every committed row and never the uncommitted ones;
// the log is synced at checkpoints, so only a power cut or an operating-system crash can
// lose the last commits, and even then the file stays consistent. FULL would add an fsync
// to every commit, milliseconds per copied row. Another session waits up to five seconds
// for a lock before its statement fails with ORA-00054.
void applyDurability(sqlite3* db, const std::string& schema) {
    const std::string q = "\"" + schema + "\".";
    for (const std::string& pragma :
         {"PRAGMA " + q + "journal_mode=WAL", "PRAGMA " + q + "synchronous=NORMAL"}) {
        if (sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw OracleError(1115, std::string("IO error reading block from file: ") +
                                        sqlite3_errmsg(db));
    }
}

std::string declaredTypeFor(const OracleType& type) {
    if (type.name == "LONG") return "LONG TEXT";
    return type.name;
}

OracleType typeFromDeclared(const char* declared) {
    if (!declared) return {};
    try {
        if (auto t = parseOracleType(declared)) return *t;
    } catch (const OracleError&) {
    }
    return {};
}

std::string storedDate(std::int64_t ms, bool withFraction) {
    std::int64_t day = ms / kMsPerDay, rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --day;
    }
    const engine::CivilDate d = engine::civilFromDayNumber(day);
    const long long s = rest / 1000;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:%02lld:%02lld", d.year, d.month, d.day,
                  s / 3600, (s / 60) % 60, s % 60);
    std::string out = buf;
    if (withFraction && rest % 1000 != 0) {
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(rest % 1000));
        out += buf;
    }
    return out;
}

std::optional<std::int64_t> parseStoredDate(std::string_view t) {
    auto digits = [&](std::size_t pos, std::size_t n, int& v) {
        if (pos + n > t.size()) return false;
        v = 0;
        for (std::size_t i = pos; i < pos + n; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
            v = v * 10 + (t[i] - '0');
        }
        return true;
    };
    int y, mo, d, h = 0, mi = 0, s = 0, ms = 0;
    if (!digits(0, 4, y) || t.size() < 10 || t[4] != '-' || !digits(5, 2, mo) || t[7] != '-' ||
        !digits(8, 2, d) || !engine::isValidDate(y, mo, d))
        return std::nullopt;
    std::size_t pos = 10;
    if (pos < t.size()) {
        if ((t[pos] != ' ' && t[pos] != 'T') || !digits(pos + 1, 2, h) || t.size() < pos + 9 ||
            t[pos + 3] != ':' || !digits(pos + 4, 2, mi) || t[pos + 6] != ':' ||
            !digits(pos + 7, 2, s))
            return std::nullopt;
        pos += 9;
        if (pos < t.size()) {
            if (t[pos] != '.') return std::nullopt;
            int scale = 100;
            for (++pos; pos < t.size(); ++pos) {
                if (!std::isdigit(static_cast<unsigned char>(t[pos]))) return std::nullopt;
                ms += (t[pos] - '0') * scale;
                scale /= 10;
            }
        }
        if (h > 23 || mi > 59 || s > 59) return std::nullopt;
    }
    return engine::dayNumber(y, mo, d) * kMsPerDay + ((h * 60LL + mi) * 60 + s) * 1000 + ms;
}

std::int64_t zeroDateMs() {
    return engine::dayNumber(1899, 12, 30) * kMsPerDay;
}

} // namespace fieldsmith::oraclient
