// Oracle SQL to PostgreSQL SQL: statement kinds, names and schemas, column types, the
// ROWID column, Oracle functions and pseudo-columns, and placeholders.
#include "BackendSupport.h"
#include "OracleError.h"
#include "PgBackend.h"
#include "SqliteSchema.h"
#include "ValueText.h"
#include "engine/FieldDef.h"

#include <algorithm>
#include <charconv>

namespace fieldsmith::oraclient {

using engine::upperAscii;
using Kind = SqlToken::Kind;

namespace {


void insertAt(std::vector<SqlToken>& t, std::size_t pos, SqlToken tok) {
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(pos), std::move(tok));
}

void eraseRange(std::vector<SqlToken>& t, std::size_t from, std::size_t to) {
    t.erase(t.begin() + static_cast<std::ptrdiff_t>(from),
            t.begin() + static_cast<std::ptrdiff_t>(to));
}

std::string numberLiteral(double v) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, ec == std::errc() ? end : buffer);
}

bool isOneOf(const SqlToken& k, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return k.is(w); });
}

} // namespace

std::string PgBackend::pgTypeFor(const OracleType& type) {
    switch (type.kind) {
    case ColumnKind::Text: {
        const std::string n = std::to_string(type.length > 0 ? type.length : 4000);
        const bool fixed = type.name.rfind("CHAR", 0) == 0 || type.name.rfind("NCHAR", 0) == 0;
        return (fixed ? "char(" : "varchar(") + n + ")";
    }
    case ColumnKind::LongText:
        return "text";
    case ColumnKind::Number:
        if (type.precision > 0 && type.scale >= -84 && type.scale != -1 &&
            type.name.rfind("NUMBER", 0) == 0)
            return "numeric(" + std::to_string(type.precision) + "," + std::to_string(type.scale) +
                   ")";
        if (type.precision > 0 && type.scale == 0)
            return "numeric(" + std::to_string(type.precision) + ",0)";
        return "numeric";
    case ColumnKind::Date:
        return "timestamp(0)";
    case ColumnKind::Timestamp:
        return "timestamp(" +
               std::to_string(type.precision > 0 && type.precision <= 6 ? type.precision : 6) + ")";
    case ColumnKind::Bytes:
        return "bytea";
    default:
        throw OracleError(902, "invalid datatype");
    }
}

std::pair<std::string, std::string> PgBackend::objectName(const std::vector<SqlToken>& t,
                                                          std::size_t& pos) {
    if (pos >= t.size() || !t[pos].isName()) throw OracleError(903, "invalid table name");
    std::string schema = schema_;
    std::string name = pgName(identifierOf(t[pos]));
    if (pos + 2 < t.size() && t[pos + 1].isSymbol(".") && t[pos + 2].isName()) {
        schema = name;
        name = pgName(identifierOf(t[pos + 2]));
        pos += 2;
    }
    ++pos;
    return {schema, name};
}

PgBackend::Translation PgBackend::translate(const std::string& sql) {
    std::vector<SqlToken> t = tokenizeSql(sql);
    while (!t.empty() && t.back().isSymbol(";") && !(t.size() > 1 && t[t.size() - 2].is("END")))
        t.pop_back();
    if (t.empty()) throw OracleError(900, "invalid SQL statement");
    Translation tr;
    const SqlToken first = t[0];
    auto at = [&](std::size_t i, const char* w) { return i < t.size() && t[i].is(w); };
    auto qualified = [](const std::string& schema, const std::string& name) {
        return quoteName(schema) + "." + quoteName(name);
    };
    if (first.is("SELECT") || first.is("WITH") || first.isSymbol("(")) {
        tr.kind = StatementKind::Query;
        rewrite(t, tr);
        const std::string table = expandStars(t);
        tr.sql = joinTokens(t);
        // The rows of one table come in the order they were inserted, as on the embedded
        // backend, unless the query asks for an order of its own: an update moves a row
        // within the server's heap, and a result that is edited and read again would
        // otherwise change its order.
        int depth = 0;
        bool plain = first.is("SELECT") && !table.empty();
        for (const auto& k : t) {
            depth += k.isSymbol("(") ? 1 : k.isSymbol(")") ? -1 : 0;
            if (depth == 0 && isOneOf(k, {"ORDER", "GROUP", "DISTINCT", "UNIQUE", "UNION", "EXCEPT",
                                          "INTERSECT", "FOR", "FETCH", "OFFSET", "LIMIT"}))
                plain = false;
        }
        if (plain) tr.sql += " ORDER BY " + table + ".ora$rowid";
    } else if (first.is("INSERT") || first.is("UPDATE") || first.is("DELETE")) {
        tr.kind = first.is("INSERT")   ? StatementKind::Insert
                  : first.is("UPDATE") ? StatementKind::Update
                                       : StatementKind::Delete;
        std::size_t pos = 1;
        if (first.is("INSERT")) {
            if (!at(pos, "INTO")) throw OracleError(925, "missing INTO keyword");
            ++pos;
        } else if (first.is("DELETE") && at(pos, "FROM")) {
            ++pos;
        }
        std::size_t nameEnd = pos;
        std::tie(tr.targetSchema, tr.targetTable) = objectName(t, nameEnd);
        rewrite(t, tr);
        convertTargetValues(t, nameEnd, tr);
        expandStars(t);
        tr.sql = joinTokens(t);
        const bool returning =
            std::any_of(t.begin(), t.end(), [](const SqlToken& k) { return k.is("RETURNING"); });
        if (tr.kind == StatementKind::Insert && !returning &&
            hasRowId(tr.targetSchema, tr.targetTable)) {
            tr.sql += " RETURNING ora$rowid";
            tr.returnsRowId = true;
        }
    } else if (first.is("COMMIT") || first.is("ROLLBACK")) {
        if (t.size() > 1 && !(t.size() == 2 && t[1].is("WORK"))) unimplemented(); // savepoints
        tr.kind = first.is("COMMIT") ? StatementKind::Commit : StatementKind::Rollback;
    } else if (first.is("CREATE") && (at(1, "TABLE") || (at(1, "GLOBAL") && at(2, "TEMPORARY")))) {
        translateCreateTable(t, tr);
    } else if (first.is("CREATE") && (at(1, "INDEX") || at(2, "INDEX"))) {
        // CREATE [UNIQUE|BITMAP] INDEX [owner.]name ON [owner.]table (columns) [physical
        // clauses]: the index lives in the table's schema, as in Oracle.
        std::size_t pos = 1;
        const bool unique = t[pos].is("UNIQUE");
        if (unique || t[pos].is("BITMAP")) ++pos;
        ++pos;
        auto [indexSchema, index] = objectName(t, pos);
        if (!at(pos, "ON")) throw OracleError(969, "missing ON keyword");
        ++pos;
        const bool indexQualified =
            t[pos - 2].isSymbol(".") || (pos >= 4 && t[pos - 3].isSymbol("."));
        auto [schema, table] = objectName(t, pos);
        if (indexQualified && indexSchema != schema && indexSchema != schema_) unimplemented();
        if (pos >= t.size() || !t[pos].isSymbol("("))
            throw OracleError(906, "missing left parenthesis");
        const std::size_t close = skipParens(t, pos);
        std::vector<SqlToken> cols(t.begin() + static_cast<std::ptrdiff_t>(pos),
                                   t.begin() + static_cast<std::ptrdiff_t>(close));
        rewrite(cols, tr);
        tr.kind = StatementKind::CreateIndex;
        tr.ddl = true;
        tr.targetSchema = schema;
        tr.targetTable = table;
        tr.sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + quoteName(index) +
                 " ON " + qualified(schema, table) + " " + joinTokens(cols);
    } else if ((first.is("DROP") || first.is("TRUNCATE")) && at(1, "TABLE")) {
        std::size_t pos = 2;
        std::tie(tr.targetSchema, tr.targetTable) = objectName(t, pos);
        bool cascade = false;
        for (; pos < t.size(); ++pos) {
            if (at(pos, "CASCADE"))
                cascade = true;
            else if (!at(pos, "CONSTRAINTS") && !at(pos, "PURGE") && !at(pos, "DROP") &&
                     !at(pos, "REUSE") && !at(pos, "STORAGE"))
                throw OracleError(933, "SQL command not properly ended");
        }
        tr.ddl = true;
        const std::string name = qualified(tr.targetSchema, tr.targetTable);
        if (first.is("DROP")) {
            tr.kind = StatementKind::DropTable;
            tr.sql = "DROP TABLE " + name + (cascade ? " CASCADE" : "");
        } else {
            // DELETE rather than TRUNCATE: the count of rows is the statement's feedback.
            tr.kind = StatementKind::TruncateTable;
            tr.sql = "DELETE FROM " + name;
        }
    } else if (first.is("DROP") && at(1, "INDEX")) {
        std::size_t pos = 2;
        auto [schema, name] = objectName(t, pos);
        if (pos != t.size()) throw OracleError(933, "SQL command not properly ended");
        tr.kind = StatementKind::DropIndex;
        tr.ddl = true;
        tr.targetSchema = schema;
        tr.sql = "DROP INDEX " + qualified(schema, name);
    } else if (first.is("BEGIN") || first.is("CALL")) {
        tr.kind = StatementKind::Block;
        tr.calls = parseBlock(t);
    } else if (isOneOf(first, {"CREATE", "ALTER", "DECLARE", "GRANT", "REVOKE", "MERGE",
                               "SAVEPOINT", "RENAME", "COMMENT", "LOCK", "DROP"})) {
        unimplemented();
    } else {
        throw OracleError(900, "invalid SQL statement");
    }
    return tr;
}

// Rewrites, in place, the parts of a statement where Oracle and PostgreSQL differ.
void PgBackend::rewrite(std::vector<SqlToken>& t, Translation& tr) {
    std::vector<std::string> bindNames;
    for (std::size_t i = 0; i < t.size(); ++i) {
        SqlToken& k = t[i];
        const bool afterDot = i > 0 && t[i - 1].isSymbol(".");
        const bool call = i + 1 < t.size() && t[i + 1].isSymbol("(");
        if (k.kind == Kind::String && k.text == "''") {
            k = token(Kind::Word, "NULL", k.spaceBefore); // Oracle keeps no empty strings
        } else if (k.kind == Kind::String) {
            // A NUL cannot pass in the statement's text; it is kept as its stand-in.
            if (k.text.find('\0') != std::string::npos) {
                std::string out;
                for (char c : k.text)
                    c == '\0' ? out += "\xEF\xBF\xBF" : out += c;
                k.text = std::move(out);
            }
        } else if (k.kind == Kind::Bind) {
            const std::string name = upperAscii(k.text.substr(1));
            auto it = std::find(bindNames.begin(), bindNames.end(), name);
            if (it == bindNames.end()) it = bindNames.insert(bindNames.end(), name);
            k = token(Kind::Symbol, "$" + std::to_string(it - bindNames.begin() + 1),
                      k.spaceBefore);
        } else if (k.isSymbol("||")) {
            k.text = "OPERATOR(pg_temp.|||)"; // see the constructor in PgBackend.cpp
        } else if (k.kind == Kind::QuotedName) {
            k.text = quoteName(pgName(identifierOf(k)));
        } else if (k.kind == Kind::Word) {
            const std::string w = upperAscii(k.text);
            const bool space = k.spaceBefore;
            if (w == "ROWID" && !call) {
                k.text = "ora$rowid";
            } else if (afterDot) {
                continue;
            } else if (w == "SYS" && i + 2 < t.size() && t[i + 1].isSymbol(".") &&
                       t[i + 2].is("DUAL")) {
                eraseRange(t, i, i + 2);
                t[i].spaceBefore = true;
                --i;
            } else if (w == "DUAL" && i > 0 && (t[i - 1].is("FROM") || t[i - 1].isSymbol(","))) {
                k = token(Kind::Symbol, "(SELECT 'X' AS dummy) dual", k.spaceBefore);
            } else if ((w == "SYSDATE" || w == "SYSTIMESTAMP") && !call) {
                // The time the statement started, not the transaction: a session's
                // transaction may last long.
                k = token(Kind::Symbol,
                          "CAST(statement_timestamp() AT TIME ZONE " + quoteString(serverZone_) +
                              (w == "SYSDATE" ? " AS timestamp(0))" : " AS timestamp(6))"),
                          k.spaceBefore);
            } else if (w == "USER" && !call && !(i > 0 && t[i - 1].is("AS"))) {
                k = token(Kind::String, quoteString(user_), k.spaceBefore);
            } else if (w == "MINUS") {
                k.text = "EXCEPT";
            } else if (w == "NVL" && call) {
                k.text = "coalesce";
            } else if (w == "TO_CLOB" && call) {
                // Text is text: the parentheses stay, the conversion goes.
                eraseRange(t, i, i + 1);
                --i;
            } else if (w == "CHR" && call && i + 3 < t.size() && t[i + 2].kind == Kind::Number &&
                       t[i + 2].text == "0" && t[i + 3].isSymbol(")")) {
                t[i + 2].text = "65535"; // see the NUL stand-in in PgBackend.cpp
            } else if ((w == "TO_DATE" || w == "TO_NUMBER" || w == "TO_CHAR") && call) {
                const std::size_t close = skipParens(t, i + 1);
                const auto args = splitTopLevel(t, i + 2, close - 1);
                if (args.size() == 1) {
                    // Without a format: a cast, in the ISO forms this session uses.
                    const char* to = w == "TO_DATE"     ? " AS timestamp(0)"
                                     : w == "TO_NUMBER" ? " AS numeric"
                                                        : " AS text";
                    insertAt(t, close - 1, token(Kind::Symbol, to));
                    t[i].text = "CAST";
                } else if (w == "TO_DATE") {
                    insertAt(t, close, token(Kind::Symbol, " AS timestamp(0))", false));
                    t[i].text = "to_timestamp";
                    insertAt(t, i, token(Kind::Symbol, "CAST(", space));
                    ++i;
                }
            } else if (w == "SYS_CONTEXT" && call && i + 5 < t.size() &&
                       t[i + 2].kind == Kind::String && t[i + 3].isSymbol(",") &&
                       t[i + 4].kind == Kind::String && t[i + 5].isSymbol(")")) {
                const std::string what = upperAscii(stringValueOf(t[i + 4]));
                std::string value = "NULL";
                if (what == "CLIENT_INFO")
                    value = clientInfo_.empty() ? "NULL" : quoteString(clientInfo_);
                else if (what == "SESSION_USER" || what == "CURRENT_USER" ||
                         what == "CURRENT_SCHEMA")
                    value = quoteString(user_);
                else if (what == "DB_NAME" || what == "INSTANCE_NAME")
                    value = quoteString(database_.name);
                else if (what == "MODULE")
                    value = module_.empty() ? "NULL" : quoteString(module_);
                else if (what == "ACTION")
                    value = action_.empty() ? "NULL" : quoteString(action_);
                eraseRange(t, i, i + 6);
                insertAt(t, i, token(Kind::Symbol, value, space));
            }
        }
    }
    tr.bindCount = bindNames.size();
}

// "*" and "q.*" in select lists leave out the ROWID column of the tables they stand for.
// Returns the qualifier of the one table of the statement's own SELECT when it is such a
// table and its "*" was expanded, else nothing.
std::string PgBackend::expandStars(std::vector<SqlToken>& t) {
    std::string ordered;
    struct Source {
        std::string qualifier;     //!< as the select list may name it (PostgreSQL name)
        std::string written;       //!< the qualifier to write before a column
        std::string schema, table; //!< empty table: a subquery, columns unknown
    };
    struct Replacement {
        std::size_t from, to;
        std::string text;
    };
    std::vector<Replacement> replacements;
    // Depth of every token, to find the clauses of each SELECT at its own level.
    std::vector<int> depth(t.size());
    int level = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].isSymbol(")")) --level;
        depth[i] = level;
        if (t[i].isSymbol("(")) ++level;
    }
    auto endOfLevel = [&](std::size_t from, int d) {
        std::size_t i = from;
        while (i < t.size() && depth[i] >= d)
            ++i;
        return i;
    };
    for (std::size_t s = 0; s < t.size(); ++s) {
        if (!t[s].is("SELECT")) continue;
        const int d = depth[s];
        const std::size_t levelEnd = endOfLevel(s, d);
        std::size_t from = s + 1;
        while (from < levelEnd && !(depth[from] == d && t[from].is("FROM")))
            ++from;
        if (from >= levelEnd) continue;
        std::size_t itemsStart = s + 1;
        if (itemsStart < from && isOneOf(t[itemsStart], {"DISTINCT", "ALL", "UNIQUE"}))
            ++itemsStart;
        // The sources of the FROM clause.
        std::size_t end = from + 1;
        while (end < levelEnd &&
               !(depth[end] == d &&
                 isOneOf(t[end], {"WHERE", "GROUP", "ORDER", "HAVING", "UNION", "EXCEPT", "MINUS",
                                  "INTERSECT", "CONNECT", "START", "FOR", "FETCH", "OFFSET",
                                  "LIMIT", "RETURNING"})))
            ++end;
        std::vector<Source> sources;
        bool known = true;
        std::size_t p = from + 1;
        while (p < end) {
            Source src;
            if (t[p].isSymbol("(")) {
                p = skipParens(t, p);
                known = false;
            } else if (t[p].isName()) {
                const std::size_t nameAt = p;
                std::tie(src.schema, src.table) = objectName(t, p);
                src.qualifier = src.table;
                src.written = joinTokens(t, nameAt, p);
            } else {
                known = false;
                ++p;
            }
            if (p < end && t[p].is("AS")) ++p;
            if (p < end && t[p].isName() &&
                !isOneOf(t[p], {"ON", "USING", "JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS",
                                "NATURAL", "OUTER"})) {
                src.qualifier = pgName(identifierOf(t[p]));
                src.written = t[p].text;
                ++p;
            }
            sources.push_back(src);
            // On to the next source: after a comma or a JOIN at this level.
            while (p < end && !(depth[p] == d && (t[p].isSymbol(",") || t[p].is("JOIN"))))
                ++p;
            if (p < end) ++p;
        }
        auto columnsOf = [&](const Source& src) {
            std::string text;
            for (const auto& c : tableColumns(src.schema, src.table)) {
                if (c.name == "ora$rowid") continue;
                text += (text.empty() ? "" : ", ") + src.written + "." + quoteName(c.name);
            }
            return text;
        };
        for (auto [a, b] : splitTopLevel(t, itemsStart, from)) {
            if (b == a + 1 && t[a].isSymbol("*")) {
                if (!known || std::none_of(sources.begin(), sources.end(), [&](const Source& src) {
                        return hasRowId(src.schema, src.table);
                    }))
                    continue;
                std::string text;
                for (const auto& src : sources)
                    text += (text.empty() ? "" : ", ") +
                            (hasRowId(src.schema, src.table) ? columnsOf(src) : src.written + ".*");
                replacements.push_back({a, b, text});
                if (d == 0 && sources.size() == 1) ordered = sources[0].written;
            } else if (b >= a + 3 && t[b - 1].isSymbol("*") && t[b - 2].isSymbol(".")) {
                const std::string q = pgName(identifierOf(t[b - 3]));
                for (const auto& src : sources)
                    if (!src.table.empty() && src.qualifier == q &&
                        hasRowId(src.schema, src.table)) {
                        replacements.push_back({a, b, columnsOf(src)});
                        if (d == 0 && sources.size() == 1) ordered = src.written;
                    }
            }
        }
    }
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement& x, const Replacement& y) { return x.from > y.from; });
    for (const auto& r : replacements) {
        const bool space = t[r.from].spaceBefore;
        eraseRange(t, r.from, r.to);
        insertAt(t, r.from, token(Kind::Symbol, r.text, space));
    }
    return ordered;
}

// Text written into NUMBER and DATE columns is converted with the session's formats, as
// Oracle converts it with the session's NLS settings: a literal here, a placeholder's
// text when it runs.
void PgBackend::convertTargetValues(std::vector<SqlToken>& t, std::size_t pos, Translation& tr) {
    const auto& columns = tableColumns(tr.targetSchema, tr.targetTable);
    auto kindOf = [](const std::string& type) {
        for (const char* n : {"numeric", "integer", "bigint", "smallint", "double", "real"})
            if (type.rfind(n, 0) == 0) return ColumnKind::Number;
        if (type.rfind("timestamp", 0) == 0 || type == "date") return ColumnKind::Date;
        return ColumnKind::Unknown;
    };
    auto kindOfName = [&](const SqlToken& k) {
        const std::string name = pgName(identifierOf(k));
        for (const auto& c : columns)
            if (c.name == name) return kindOf(c.type);
        return ColumnKind::Unknown;
    };
    std::vector<std::pair<std::size_t, ColumnKind>> values; // token position, target kind
    if (t[0].is("INSERT")) {
        if (pos < t.size() && t[pos].kind == Kind::Word && !t[pos].is("VALUES") &&
            !t[pos].is("SELECT"))
            ++pos; // alias
        std::vector<ColumnKind> targets;
        if (pos < t.size() && t[pos].isSymbol("(") &&
            !(pos + 1 < t.size() && t[pos + 1].is("SELECT"))) {
            const std::size_t close = skipParens(t, pos);
            for (auto [a, b] : splitTopLevel(t, pos + 1, close - 1))
                targets.push_back(a < b ? kindOfName(t[b - 1]) : ColumnKind::Unknown);
            pos = close;
        } else {
            for (const auto& c : columns)
                if (c.name != "ora$rowid") targets.push_back(kindOf(c.type));
        }
        if (pos + 1 < t.size() && t[pos].is("VALUES") && t[pos + 1].isSymbol("(")) {
            const std::size_t close = skipParens(t, pos + 1);
            const auto items = splitTopLevel(t, pos + 2, close - 1);
            for (std::size_t i = 0; i < items.size() && i < targets.size(); ++i)
                if (items[i].second == items[i].first + 1)
                    values.emplace_back(items[i].first, targets[i]);
        }
    } else if (t[0].is("UPDATE")) {
        while (pos < t.size() && !t[pos].is("SET"))
            ++pos;
        std::size_t end = ++pos;
        for (int depth = 0; end < t.size(); ++end) {
            depth += t[end].isSymbol("(") ? 1 : t[end].isSymbol(")") ? -1 : 0;
            if (depth == 0 && (t[end].is("WHERE") || t[end].is("RETURNING"))) break;
        }
        for (auto [a, b] : splitTopLevel(t, pos, end))
            if (b == a + 3 && t[a].isName() && t[a + 1].isSymbol("="))
                values.emplace_back(a + 2, kindOfName(t[a]));
    }
    for (auto [at, kind] : values) {
        SqlToken& k = t[at];
        if (kind == ColumnKind::Unknown) continue;
        if (k.kind == Kind::Symbol && k.text.size() > 1 && k.text[0] == '$') {
            tr.implicitBinds.emplace_back(std::stoul(k.text.substr(1)) - 1, kind);
        } else if (k.kind == Kind::String) {
            const std::string text = stringValueOf(k);
            if (kind == ColumnKind::Number) {
                const OracleValue v = numberFromText(text, formats_);
                k.text =
                    v.kind == ValueKind::Integer ? std::to_string(v.whole) : numberLiteral(v.real);
                k.kind = Kind::Number;
            } else {
                auto ms = parseStoredDate(text);
                if (!ms) ms = dateFromText(text, formats_);
                k.text = quoteString(storedDate(*ms, true));
            }
        }
    }
}

// CREATE TABLE [owner.]name (columns and constraints) [physical clauses]: Oracle column
// types become PostgreSQL types, constraints keep their names, and the table gets its
// ROWID column.
void PgBackend::translateCreateTable(const std::vector<SqlToken>& t, Translation& tr) {
    std::size_t pos = 1;
    if (t[pos].is("GLOBAL")) unimplemented();
    ++pos; // TABLE
    std::tie(tr.targetSchema, tr.targetTable) = objectName(t, pos);
    tr.kind = StatementKind::CreateTable;
    tr.ddl = true;
    if (pos < t.size() && t[pos].is("AS")) unimplemented();
    if (pos >= t.size() || !t[pos].isSymbol("("))
        throw OracleError(906, "missing left parenthesis");
    const std::size_t close = skipParens(t, pos);
    for (std::size_t i = close; i < t.size(); ++i)
        if (t[i].is("AS") || t[i].is("SELECT")) unimplemented();
    auto rewritten = [&](std::size_t a, std::size_t b) {
        std::vector<SqlToken> part(t.begin() + static_cast<std::ptrdiff_t>(a),
                                   t.begin() + static_cast<std::ptrdiff_t>(b));
        Translation ignored;
        rewrite(part, ignored);
        return joinTokens(part);
    };
    std::string defs;
    int columns = 0;
    for (auto [a, b] : splitTopLevel(t, pos + 1, close - 1)) {
        if (a >= b) throw OracleError(904, "invalid identifier");
        defs += defs.empty() ? "" : ", ";
        if (isOneOf(t[a], {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK"})) {
            defs += rewritten(a, b);
            continue;
        }
        if (t[a].is("FOREIGN")) unimplemented();
        if (!t[a].isName()) throw OracleError(904, "invalid identifier");
        std::size_t p = a + 1;
        static const std::initializer_list<const char*> stops = {
            "DEFAULT", "NOT", "NULL", "CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "REFERENCES"};
        while (p < b && !isOneOf(t[p], stops))
            p = t[p].isSymbol("(") ? skipParens(t, p) : p + 1;
        if (p == a + 1) throw OracleError(902, "invalid datatype");
        const auto type = parseOracleType(joinTokens(t, a + 1, p));
        if (!type || type->kind == ColumnKind::RowId || type->kind == ColumnKind::Unknown)
            throw OracleError(902, "invalid datatype");
        for (std::size_t r = p; r < b; ++r)
            if (t[r].is("REFERENCES")) unimplemented();
        // A key with a column list may follow a column without a comma between them (the
        // Create Table page writes its key so): it is a constraint of the table.
        std::size_t tableKey = b;
        for (std::size_t r = p; r < b && tableKey == b; ++r) {
            const std::size_t k = t[r].is("CONSTRAINT") ? r + 2 : r;
            if ((k + 2 < b && t[k].is("PRIMARY") && t[k + 1].is("KEY") && t[k + 2].isSymbol("(")) ||
                (k + 1 < b && t[k].is("UNIQUE") && t[k + 1].isSymbol("(")))
                tableKey = r;
        }
        defs += quoteName(pgName(identifierOf(t[a]))) + " " + pgTypeFor(*type);
        if (p < tableKey) defs += " " + rewritten(p, tableKey);
        if (tableKey < b) defs += ", " + rewritten(tableKey, b);
        ++columns;
    }
    if (columns == 0) throw OracleError(904, "invalid identifier");
    tr.sql = "CREATE TABLE " + quoteName(tr.targetSchema) + "." + quoteName(tr.targetTable) + " (" +
             defs + ", ora$rowid bigint GENERATED ALWAYS AS IDENTITY UNIQUE)";
}

} // namespace fieldsmith::oraclient
