// Oracle SQL to SQLite SQL: statement kinds, names and schemas, column types and the
// backend's own checks, implicit conversions, pseudo-columns and placeholders.
#include "BackendSupport.h"
#include "OracleError.h"
#include "SqliteBackend.h"
#include "SqliteSchema.h"
#include "engine/FieldDef.h"

#include <algorithm>

namespace fieldsmith::oraclient {

using engine::upperAscii;
using Kind = SqlToken::Kind;

namespace {

[[noreturn]] void invalidStatement() {
    throw OracleError(900, "invalid SQL statement");
}

void expect(const std::vector<SqlToken>& t, std::size_t pos, const char* symbol, int code,
            const char* text) {
    if (pos >= t.size() || !t[pos].isSymbol(symbol)) throw OracleError(code, text);
}

// Chains "a || b || c" become ORA_CONCAT(a, b, c). In SQLite "||" binds tighter than any
// other binary operator, so each operand is one term: a literal, a placeholder, a name, a
// call, a parenthesised expression or a CASE expression.
void rewriteConcatenation(std::vector<SqlToken>& t) {
    auto isTerm = [](const SqlToken& k) {
        return k.kind == Kind::String || k.kind == Kind::Number || k.kind == Kind::QuotedName ||
               k.kind == Kind::Word ||
               (k.kind == Kind::Symbol && !k.text.empty() && k.text[0] == '?');
    };
    // The first position of the term that ends just before end.
    auto termStart = [&](std::size_t end) -> std::size_t {
        std::size_t p = end - 1;
        if (t[p].isSymbol(")")) {
            for (int depth = 0;; --p) {
                depth += t[p].isSymbol(")") ? 1 : t[p].isSymbol("(") ? -1 : 0;
                if (depth == 0) break;
                if (p == 0) throw OracleError(936, "missing expression");
            }
            if (p > 0 && t[p - 1].kind == Kind::Word && !t[p - 1].is("IN") && !t[p - 1].is("AND") &&
                !t[p - 1].is("OR") && !t[p - 1].is("NOT") && !t[p - 1].is("SELECT") &&
                !t[p - 1].is("VALUES") && !t[p - 1].is("WHERE") && !t[p - 1].is("EXISTS"))
                --p;
        } else if (t[p].is("END")) {
            for (int depth = 0;; --p) {
                depth += t[p].is("END") ? 1 : t[p].is("CASE") ? -1 : 0;
                if (depth == 0) break;
                if (p == 0) throw OracleError(936, "missing expression");
            }
        } else if (!isTerm(t[p])) {
            throw OracleError(936, "missing expression");
        }
        while (p >= 2 && t[p - 1].isSymbol(".") && t[p - 2].isName())
            p -= 2;
        return p;
    };
    // The position after the term that starts at begin.
    auto termEnd = [&](std::size_t begin) -> std::size_t {
        if (begin >= t.size()) throw OracleError(936, "missing expression");
        std::size_t p = begin;
        if (t[p].is("CASE")) {
            for (int depth = 0; p < t.size(); ++p) {
                depth += t[p].is("CASE") ? 1 : t[p].is("END") ? -1 : 0;
                if (depth == 0) return p + 1;
            }
            throw OracleError(905, "missing keyword");
        }
        if (t[p].isSymbol("(")) return skipParens(t, p);
        if (!isTerm(t[p])) throw OracleError(936, "missing expression");
        while (p + 2 < t.size() && t[p + 1].isSymbol(".") && t[p + 2].isName())
            p += 2;
        if (p + 1 < t.size() && t[p + 1].isSymbol("(")) return skipParens(t, p + 1);
        return p + 1;
    };
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (!t[i].isSymbol("||")) continue;
        if (i == 0) throw OracleError(936, "missing expression");
        const std::size_t start = termStart(i);
        std::vector<std::pair<std::size_t, std::size_t>> terms = {{start, i}};
        std::size_t end = i;
        while (end < t.size() && t[end].isSymbol("||")) {
            const std::size_t next = termEnd(end + 1);
            terms.emplace_back(end + 1, next);
            end = next;
        }
        std::string call = "ORA_CONCAT(";
        for (std::size_t k = 0; k < terms.size(); ++k)
            call += (k ? ", " : "") + joinTokens(t, terms[k].first, terms[k].second);
        call += ")";
        const bool space = t[start].spaceBefore;
        t.erase(t.begin() + static_cast<std::ptrdiff_t>(start),
                t.begin() + static_cast<std::ptrdiff_t>(end));
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(start), token(Kind::Symbol, call, space));
        i = start;
    }
}

} // namespace

std::string SqliteBackend::schemaOf(const std::string& owner, bool creating) {
    if (owner == user_) return "main";
    if (!isUser(owner)) {
        if (creating) throw OracleError(1918, "user '" + owner + "' does not exist");
        throw OracleError(942, "table or view does not exist");
    }
    if (!attach(owner)) throw OracleError(2020, "too many database links in use");
    return owner;
}

std::pair<std::string, std::string> SqliteBackend::objectName(const std::vector<SqlToken>& t,
                                                              std::size_t& pos, bool creating,
                                                              Translation& tr) {
    if (pos >= t.size() || !t[pos].isName()) throw OracleError(903, "invalid table name");
    std::string schema = "main";
    std::string name = identifierOf(t[pos]);
    if (pos + 2 < t.size() && t[pos + 1].isSymbol(".") && t[pos + 2].isName()) {
        schema = schemaOf(name, creating);
        name = identifierOf(t[pos + 2]);
        pos += 2;
    }
    ++pos;
    if (schema != "main") tr.schemas.insert(schema);
    return {schema, name};
}

Translation SqliteBackend::translate(const std::string& sql) {
    std::vector<SqlToken> t = tokenizeSql(sql);
    while (!t.empty() && t.back().isSymbol(";") && !(t.size() > 1 && t[t.size() - 2].is("END")))
        t.pop_back();
    if (t.empty()) invalidStatement();
    Translation tr;
    const SqlToken& first = t[0];
    auto at = [&](std::size_t i, const char* w) { return i < t.size() && t[i].is(w); };
    if (first.is("SELECT") || first.is("WITH") || first.isSymbol("(")) {
        tr.kind = StatementKind::Query;
        translateQueryOrDml(t, tr);
    } else if (first.is("INSERT") || first.is("UPDATE") || first.is("DELETE")) {
        tr.kind = first.is("INSERT")   ? StatementKind::Insert
                  : first.is("UPDATE") ? StatementKind::Update
                                       : StatementKind::Delete;
        tr.writes = true;
        translateQueryOrDml(t, tr);
    } else if (first.is("COMMIT") || first.is("ROLLBACK")) {
        if (t.size() > 1 && !(t.size() == 2 && t[1].is("WORK"))) unimplemented(); // savepoints
        tr.kind = first.is("COMMIT") ? StatementKind::Commit : StatementKind::Rollback;
    } else if (first.is("CREATE") && (at(1, "TABLE") || (at(1, "GLOBAL") && at(2, "TEMPORARY")))) {
        translateCreateTable(t, tr);
    } else if (first.is("CREATE") && (at(1, "INDEX") || at(2, "INDEX"))) {
        translateCreateIndex(t, tr);
    } else if ((first.is("DROP") || first.is("TRUNCATE")) && at(1, "TABLE")) {
        std::size_t pos = 2;
        auto [schema, name] = objectName(t, pos, false, tr);
        // DROP TABLE may end in CASCADE CONSTRAINTS and PURGE; TRUNCATE in storage clauses.
        for (; pos < t.size(); ++pos)
            if (!at(pos, "CASCADE") && !at(pos, "CONSTRAINTS") && !at(pos, "PURGE") &&
                !at(pos, "DROP") && !at(pos, "REUSE") && !at(pos, "STORAGE"))
                throw OracleError(933, "SQL command not properly ended");
        tr.ddl = true;
        tr.targetSchema = schema;
        tr.targetTable = name;
        if (first.is("DROP")) {
            tr.kind = StatementKind::DropTable;
            tr.statements.push_back("DROP TABLE " + quoteName(schema) + "." + quoteName(name));
        } else {
            tr.kind = StatementKind::TruncateTable;
            tr.statements.push_back("DELETE FROM " + quoteName(schema) + "." + quoteName(name));
        }
    } else if (first.is("DROP") && at(1, "INDEX")) {
        std::size_t pos = 2;
        auto [schema, name] = objectName(t, pos, false, tr);
        if (pos != t.size()) throw OracleError(933, "SQL command not properly ended");
        tr.kind = StatementKind::DropIndex;
        tr.ddl = true;
        tr.targetSchema = schema;
        tr.statements.push_back("DROP INDEX " + quoteName(schema) + "." + quoteName(name));
    } else if (first.is("BEGIN") || first.is("CALL")) {
        tr.kind = StatementKind::Block;
        tr.calls = parseBlock(t);
    } else if (first.is("CREATE") || first.is("ALTER") || first.is("DECLARE") ||
               first.is("GRANT") || first.is("REVOKE") || first.is("MERGE") ||
               first.is("SAVEPOINT") || first.is("RENAME") || first.is("COMMENT") ||
               first.is("LOCK") || first.is("DROP")) {
        unimplemented();
    } else {
        invalidStatement();
    }
    return tr;
}

// Rewrites the parts of an expression where Oracle and SQLite differ, in place.
void SqliteBackend::rewriteExpressions(std::vector<SqlToken>& t, std::size_t from, std::size_t to,
                                       Translation& tr) {
    for (std::size_t i = from; i < to && i < t.size(); ++i) {
        SqlToken& k = t[i];
        const bool afterDot = i > 0 && t[i - 1].isSymbol(".");
        const bool call = i + 1 < t.size() && t[i + 1].isSymbol("(");
        const bool qualifier = i + 2 < t.size() && t[i + 1].isSymbol(".") &&
                               (t[i + 2].isName() || t[i + 2].isSymbol("*"));
        if (k.kind == Kind::String && k.text == "''") {
            k = token(Kind::Word, "NULL", k.spaceBefore); // Oracle keeps no empty strings
        } else if (k.kind == Kind::Bind) {
            const std::string name = upperAscii(k.text.substr(1));
            auto it = std::find(tr.bindNames.begin(), tr.bindNames.end(), name);
            if (it == tr.bindNames.end()) it = tr.bindNames.insert(tr.bindNames.end(), name);
            k = token(Kind::Symbol, "?" + std::to_string(it - tr.bindNames.begin() + 1),
                      k.spaceBefore);
        } else if (k.kind == Kind::Word) {
            k.text = upperAscii(k.text);
            if (qualifier && !afterDot) {
                const std::string owner = k.text;
                if (owner == "SYS" && t[i + 2].is("DUAL")) {
                    t.erase(t.begin() + static_cast<std::ptrdiff_t>(i),
                            t.begin() + static_cast<std::ptrdiff_t>(i) + 2);
                    to -= 2;
                    t[i].spaceBefore = true;
                    --i;
                    continue;
                }
                if (owner == user_) {
                    k.text = "main";
                } else if (isUser(owner)) {
                    if (!attach(owner)) throw OracleError(2020, "too many database links in use");
                    tr.schemas.insert(owner);
                }
            } else if (!afterDot && !call && k.text == "SYSDATE") {
                k.text = "ORA_SYSDATE()";
            } else if (!afterDot && !call && k.text == "USER" && !(i > 0 && t[i - 1].is("AS"))) {
                k.text = "ORA_USER()";
            } else if (k.text == "MINUS") {
                k.text = "EXCEPT";
            } else if ((k.text == "DATE" || k.text == "TIMESTAMP") && i + 1 < t.size() &&
                       t[i + 1].kind == Kind::String) {
                // DATE 'YYYY-MM-DD' and TIMESTAMP '...' literals.
                const auto ms = parseStoredDate(stringValueOf(t[i + 1]));
                if (!ms) throw OracleError(1861, "literal does not match format string");
                t[i + 1].text = quoteString(storedDate(*ms, k.text == "TIMESTAMP"));
                t.erase(t.begin() + static_cast<std::ptrdiff_t>(i));
                t[i].spaceBefore = true;
                --to;
            }
        } else if (k.kind == Kind::QuotedName && qualifier && !afterDot) {
            const std::string owner = identifierOf(k);
            if (owner == user_)
                k = token(Kind::Word, "main", k.spaceBefore);
            else if (isUser(owner)) {
                if (!attach(owner)) throw OracleError(2020, "too many database links in use");
                tr.schemas.insert(owner);
            }
        }
    }
}

void SqliteBackend::translateQueryOrDml(std::vector<SqlToken>& t, Translation& tr) {
    if (tr.kind == StatementKind::Query) {
        // SELECT ... FOR UPDATE: SQLite locks whole files, the clause has nothing to add.
        int depth = 0;
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            if (t[i].isSymbol("("))
                ++depth;
            else if (t[i].isSymbol(")"))
                --depth;
            else if (depth == 0 && t[i].is("FOR") && t[i + 1].is("UPDATE")) {
                t.resize(i);
                break;
            }
        }
    }
    // The target of a DML statement, for error texts and implicit conversions.
    if (tr.kind != StatementKind::Query) {
        std::size_t pos = 1;
        if (t[0].is("INSERT")) {
            if (pos >= t.size() || !t[pos].is("INTO"))
                throw OracleError(925, "missing INTO keyword");
            ++pos;
        } else if (t[0].is("DELETE") && pos < t.size() && t[pos].is("FROM")) {
            ++pos;
        }
        const std::size_t nameAt = pos;
        auto [schema, name] = objectName(t, pos, false, tr);
        tr.targetSchema = schema;
        tr.targetTable = name;
        // Write the target with its schema, so that it cannot fall through to another one.
        std::vector<SqlToken> qualified = {
            token(Kind::QuotedName, quoteName(schema), t[nameAt].spaceBefore),
            token(Kind::Symbol, ".", false), token(Kind::QuotedName, quoteName(name), false)};
        t.erase(t.begin() + static_cast<std::ptrdiff_t>(nameAt),
                t.begin() + static_cast<std::ptrdiff_t>(pos));
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(nameAt), qualified.begin(),
                 qualified.end());
        rewriteExpressions(t, nameAt + 3, t.size(), tr);
        rewriteConcatenation(t);
        wrapTargetValues(t, nameAt + 3, tr);
    } else {
        rewriteExpressions(t, 0, t.size(), tr);
        rewriteConcatenation(t);
        // Hints for the select items of the first SELECT: SYSDATE and TO_DATE give dates.
        std::size_t from = 0;
        while (from < t.size() && !t[from].is("SELECT"))
            ++from;
        ++from;
        if (from < t.size() &&
            (t[from].is("DISTINCT") || t[from].is("ALL") || t[from].is("UNIQUE")))
            ++from;
        std::size_t end = from;
        int depth = 0;
        for (; end < t.size(); ++end) {
            if (t[end].isSymbol("("))
                ++depth;
            else if (t[end].isSymbol(")"))
                --depth;
            else if (depth == 0 && t[end].is("FROM"))
                break;
        }
        std::vector<ColumnKind>* hints = &tr.leadingHints;
        for (auto [a, b] : splitTopLevel(t, from, end)) {
            if (a >= b) continue;
            if (t[b - 1].isSymbol("*")) {
                tr.hasStar = true;
                tr.trailingHints.clear();
                hints = &tr.trailingHints;
                continue;
            }
            const bool date = t[a].text == "ORA_SYSDATE()" || t[a].is("TO_DATE");
            hints->push_back(date ? ColumnKind::Date : ColumnKind::Unknown);
        }
    }
    if (tr.kind == StatementKind::Insert) {
        bool bindBefore = false;
        int depth = 0;
        for (std::size_t i = 0; i + 1 < t.size(); ++i) {
            depth += t[i].isSymbol("(") ? 1 : t[i].isSymbol(")") ? -1 : 0;
            bindBefore = bindBefore || (t[i].kind == Kind::Symbol && t[i].text[0] == '?');
            if (depth == 0 && t[i].is("VALUES") && t[i + 1].isSymbol("(")) {
                if (!bindBefore && skipParens(t, i + 1) == t.size()) {
                    tr.insertTokens = t;
                    tr.valuesAt = i + 1;
                }
                break;
            }
        }
    }
    tr.statements.push_back(joinTokens(t));
}

// Values written into NUMBER and DATE columns go through ORA_IN, which converts text
// with the session's formats as Oracle converts it with the session's NLS settings.
void SqliteBackend::wrapTargetValues(std::vector<SqlToken>& t, std::size_t afterTarget,
                                     Translation& tr) {
    const auto columns = tableColumns(tr.targetSchema, tr.targetTable);
    if (columns.empty()) return;
    auto typeOf = [&](const std::string& name) -> const OracleType* {
        for (const auto& c : columns)
            if (engine::sameName(c.name, name)) return &c.type;
        return nullptr;
    };
    struct Wrap {
        std::size_t from, to;
        const OracleType* type;
    };
    std::vector<Wrap> wraps;
    auto addWrap = [&](std::size_t a, std::size_t b, const OracleType* type) {
        if (type && a < b &&
            (type->kind == ColumnKind::Number || type->kind == ColumnKind::Date ||
             type->kind == ColumnKind::Timestamp))
            wraps.push_back({a, b, type});
    };
    std::size_t pos = afterTarget;
    if (t[0].is("INSERT")) {
        if (pos < t.size() && t[pos].kind == Kind::Word && !t[pos].is("VALUES") &&
            !t[pos].is("SELECT"))
            ++pos; // alias
        std::vector<const OracleType*> targets;
        if (pos < t.size() && t[pos].isSymbol("(") &&
            !(pos + 1 < t.size() && t[pos + 1].is("SELECT"))) {
            const std::size_t close = skipParens(t, pos);
            for (auto [a, b] : splitTopLevel(t, pos + 1, close - 1))
                targets.push_back(a < b ? typeOf(identifierOf(t[b - 1])) : nullptr);
            pos = close;
        } else {
            for (const auto& c : columns)
                targets.push_back(&c.type);
        }
        if (pos < t.size() && t[pos].is("VALUES") && pos + 1 < t.size() &&
            t[pos + 1].isSymbol("(")) {
            const std::size_t close = skipParens(t, pos + 1);
            const auto values = splitTopLevel(t, pos + 2, close - 1);
            for (std::size_t i = 0; i < values.size() && i < targets.size(); ++i)
                addWrap(values[i].first, values[i].second, targets[i]);
        }
    } else if (t[0].is("UPDATE")) {
        while (pos < t.size() && !t[pos].is("SET"))
            ++pos;
        std::size_t end = ++pos;
        int depth = 0;
        for (; end < t.size(); ++end) {
            if (t[end].isSymbol("("))
                ++depth;
            else if (t[end].isSymbol(")"))
                --depth;
            else if (depth == 0 && (t[end].is("WHERE") || t[end].is("RETURNING")))
                break;
        }
        for (auto [a, b] : splitTopLevel(t, pos, end)) {
            std::size_t eq = a;
            while (eq < b && !t[eq].isSymbol("="))
                ++eq;
            if (eq == a || eq >= b || t[a].isSymbol("(")) continue;
            addWrap(eq + 1, b, typeOf(identifierOf(t[eq - 1])));
        }
    }
    // From the back, so that earlier positions stay valid.
    for (auto w = wraps.rbegin(); w != wraps.rend(); ++w) {
        const auto kind = w->type->kind == ColumnKind::Number ? ImplicitTarget::Number
                          : w->type->kind == ColumnKind::Date ? ImplicitTarget::Date
                                                              : ImplicitTarget::Timestamp;
        const int scale = w->type->kind == ColumnKind::Number ? w->type->scale : -1;
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(w->to),
                 token(Kind::Symbol,
                       ", " + std::to_string(static_cast<int>(kind)) + ", " +
                           std::to_string(scale) + ")",
                       false));
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(w->from),
                 token(Kind::Symbol, "ORA_IN(", true));
    }
}

// CREATE TABLE [owner.]name (columns and constraints) [physical clauses]: columns get the
// declared type that keeps their Oracle type, plus the checks Oracle makes (text length,
// numbers only, precision); PRIMARY KEY and UNIQUE become unique indexes with the
// constraint's name, so that a violation can name it.
void SqliteBackend::translateCreateTable(const std::vector<SqlToken>& t, Translation& tr) {
    std::size_t pos = 1;
    if (t[pos].is("GLOBAL")) unimplemented();
    ++pos; // TABLE
    auto [schema, table] = objectName(t, pos, true, tr);
    tr.kind = StatementKind::CreateTable;
    tr.ddl = true;
    tr.targetSchema = schema;
    tr.targetTable = table;
    if (pos < t.size() && t[pos].is("AS")) unimplemented();
    expect(t, pos, "(", 906, "missing left parenthesis");
    const std::size_t close = skipParens(t, pos);
    for (std::size_t i = close; i < t.size(); ++i)
        if (t[i].is("AS") || t[i].is("SELECT")) unimplemented();

    struct Column {
        std::string name;
        OracleType type;
        bool notNull = false;
        std::string extra; // DEFAULT and CHECK clauses
    };
    struct Key {
        std::string name;
        std::vector<std::string> columns;
        bool primary;
    };
    std::vector<Column> columns;
    std::vector<Key> keys;
    std::vector<std::string> checks;
    auto nameList = [&](std::size_t& p) {
        expect(t, p, "(", 906, "missing left parenthesis");
        const std::size_t end = skipParens(t, p);
        std::vector<std::string> names;
        for (auto [a, b] : splitTopLevel(t, p + 1, end - 1)) {
            if (b != a + 1 || !t[a].isName()) throw OracleError(904, "invalid identifier");
            names.push_back(identifierOf(t[a]));
        }
        p = end;
        return names;
    };
    auto expression = [&](std::size_t a, std::size_t b) {
        std::vector<SqlToken> e(t.begin() + static_cast<std::ptrdiff_t>(a),
                                t.begin() + static_cast<std::ptrdiff_t>(b));
        rewriteExpressions(e, 0, e.size(), tr);
        return joinTokens(e);
    };
    // One constraint at p (after an optional CONSTRAINT name); column is set for a column's own.
    auto constraint = [&](std::size_t& p, std::size_t end, std::string name, Column* column) {
        // A key with a column list may also follow a column without a comma between them.
        auto keyColumns = [&]() {
            if (column && !(p < end && t[p].isSymbol("(")))
                return std::vector<std::string>{column->name};
            return nameList(p);
        };
        if (p + 1 < end && t[p].is("PRIMARY") && t[p + 1].is("KEY")) {
            p += 2;
            keys.push_back({name, keyColumns(), true});
        } else if (t[p].is("UNIQUE")) {
            ++p;
            keys.push_back({name, keyColumns(), false});
        } else if (t[p].is("CHECK")) {
            const std::size_t a = p + 1;
            expect(t, a, "(", 906, "missing left parenthesis");
            p = skipParens(t, a);
            checks.push_back((name.empty() ? "" : "CONSTRAINT " + quoteName(name) + " ") +
                             "CHECK " + expression(a, p));
        } else if (column && p + 1 < end && t[p].is("NOT") && t[p + 1].is("NULL")) {
            column->notNull = true;
            p += 2;
        } else if (column && t[p].is("NULL")) {
            ++p;
        } else if (t[p].is("FOREIGN") || t[p].is("REFERENCES")) {
            unimplemented();
        } else {
            throw OracleError(907, "missing right parenthesis");
        }
    };
    for (auto [a, b] : splitTopLevel(t, pos + 1, close - 1)) {
        if (a >= b) throw OracleError(904, "invalid identifier");
        std::size_t p = a;
        if (t[p].is("CONSTRAINT") || t[p].is("PRIMARY") || t[p].is("UNIQUE") || t[p].is("CHECK") ||
            t[p].is("FOREIGN")) {
            std::string name;
            if (t[p].is("CONSTRAINT")) {
                if (p + 1 >= b || !t[p + 1].isName()) throw OracleError(904, "invalid identifier");
                name = identifierOf(t[p + 1]);
                p += 2;
            }
            constraint(p, b, name, nullptr);
            if (p != b) throw OracleError(907, "missing right parenthesis");
            continue;
        }
        if (!t[p].isName()) throw OracleError(904, "invalid identifier");
        Column col;
        col.name = identifierOf(t[p++]);
        const std::size_t typeStart = p;
        static const char* stops[] = {"DEFAULT", "NOT",    "NULL",  "CONSTRAINT",
                                      "PRIMARY", "UNIQUE", "CHECK", "REFERENCES"};
        while (p < b && std::none_of(std::begin(stops), std::end(stops),
                                     [&](const char* w) { return t[p].is(w); }))
            p = t[p].isSymbol("(") ? skipParens(t, p) : p + 1;
        if (p == typeStart) throw OracleError(902, "invalid datatype");
        const auto type = parseOracleType(joinTokens(t, typeStart, p));
        if (!type || type->kind == ColumnKind::RowId) throw OracleError(902, "invalid datatype");
        col.type = *type;
        while (p < b) {
            if (t[p].is("DEFAULT")) {
                const std::size_t e0 = ++p;
                while (p < b && std::none_of(std::begin(stops) + 1, std::end(stops),
                                             [&](const char* w) { return t[p].is(w); }))
                    p = t[p].isSymbol("(") ? skipParens(t, p) : p + 1;
                col.extra += " DEFAULT (" + expression(e0, p) + ")";
                continue;
            }
            std::string name;
            if (t[p].is("CONSTRAINT")) {
                if (p + 1 >= b || !t[p + 1].isName()) throw OracleError(904, "invalid identifier");
                name = identifierOf(t[p + 1]);
                p += 2;
            }
            if (p >= b) throw OracleError(902, "invalid datatype");
            constraint(p, b, name, &col);
        }
        columns.push_back(std::move(col));
    }
    if (columns.empty()) throw OracleError(904, "invalid identifier");
    for (const auto& key : keys) {
        for (const auto& name : key.columns) {
            auto it = std::find_if(columns.begin(), columns.end(),
                                   [&](const Column& c) { return c.name == name; });
            if (it == columns.end()) throw OracleError(904, "\"" + name + "\": invalid identifier");
            if (key.primary) it->notNull = true;
        }
    }
    if (std::count_if(keys.begin(), keys.end(), [](const Key& k) { return k.primary; }) > 1)
        throw OracleError(2260, "table can have only one primary key");

    std::string sql = "CREATE TABLE " + quoteName(schema) + "." + quoteName(table) + " (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        const std::string q = quoteName(c.name);
        sql += (i ? ", " : "") + q + " " + declaredTypeFor(c.type);
        if (c.notNull) sql += " NOT NULL";
        sql += c.extra;
        const std::string len = std::to_string(c.type.length);
        if (c.type.kind == ColumnKind::Text) {
            // Length in characters; length() stops at a NUL character, so a value holding one
            // is measured in bytes, which is never less.
            sql += " CONSTRAINT " + quoteName("ORA-12899/" + len + "/" + c.name) +
                   " CHECK (length(CAST(" + q + " AS BLOB)) <= " + len + " OR (instr(CAST(" + q +
                   " AS BLOB), x'00') = 0 AND length(" + q + ") <= " + len + "))";
        } else if (c.type.kind == ColumnKind::Bytes && c.type.length > 0) {
            sql += " CONSTRAINT " + quoteName("ORA-12899/" + len + "/" + c.name) +
                   " CHECK (length(CAST(" + q + " AS BLOB)) <= " + len + ")";
        } else if (c.type.kind == ColumnKind::Number) {
            // Comparisons rather than an IN list: SQLite checks an IN list through a
            // temporary index that it builds and drops for every row written.
            sql += " CONSTRAINT " + quoteName("ORA-01722/" + c.name) + " CHECK (typeof(" + q +
                   ") = 'integer' OR typeof(" + q + ") = 'real' OR " + q + " IS NULL)";
            if (c.type.precision > 0) {
                const int digits = c.type.precision - std::max(c.type.scale, 0);
                sql += " CONSTRAINT " + quoteName("ORA-01438/" + c.name) + " CHECK (abs(" + q +
                       ") < 1e" + std::to_string(digits) + ")";
            }
        }
    }
    for (const auto& check : checks)
        sql += ", " + check;
    sql += ")";
    tr.statements.push_back(sql);
    int unnamed = 0;
    for (const auto& key : keys) {
        std::string name = key.name;
        if (name.empty()) name = "SYS_C_" + table + "_" + std::to_string(++unnamed);
        std::string index = "CREATE UNIQUE INDEX " + quoteName(schema) + "." + quoteName(name) +
                            " ON " + quoteName(table) + " (";
        for (std::size_t i = 0; i < key.columns.size(); ++i)
            index += (i ? ", " : "") + quoteName(key.columns[i]);
        tr.statements.push_back(index + ")");
    }
}

// CREATE [UNIQUE|BITMAP] INDEX [owner.]name ON [owner.]table (columns) [physical clauses].
// The index lives in the table's schema.
void SqliteBackend::translateCreateIndex(const std::vector<SqlToken>& t, Translation& tr) {
    std::size_t pos = 1;
    const bool unique = t[pos].is("UNIQUE");
    if (unique || t[pos].is("BITMAP")) ++pos;
    ++pos; // INDEX
    Translation ignored;
    auto [indexSchema, index] = objectName(t, pos, true, ignored);
    if (pos >= t.size() || !t[pos].is("ON")) throw OracleError(969, "missing ON keyword");
    ++pos;
    auto [schema, table] = objectName(t, pos, false, tr);
    if (indexSchema != "main" && indexSchema != schema) unimplemented();
    expect(t, pos, "(", 906, "missing left parenthesis");
    const std::size_t close = skipParens(t, pos);
    std::vector<SqlToken> cols(t.begin() + static_cast<std::ptrdiff_t>(pos),
                               t.begin() + static_cast<std::ptrdiff_t>(close));
    rewriteExpressions(cols, 0, cols.size(), tr);
    tr.kind = StatementKind::CreateIndex;
    tr.ddl = true;
    tr.targetSchema = schema;
    tr.targetTable = table;
    tr.statements.push_back(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                            quoteName(schema) + "." + quoteName(index) + " ON " + quoteName(table) +
                            " " + joinTokens(cols));
}

} // namespace fieldsmith::oraclient
