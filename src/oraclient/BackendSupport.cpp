#include "BackendSupport.h"

#include "OracleError.h"
#include "engine/FieldDef.h"

#include <algorithm>

namespace fieldsmith::oraclient {

SqlToken token(SqlToken::Kind kind, std::string text, bool space) {
    SqlToken t;
    t.kind = kind;
    t.text = std::move(text);
    t.spaceBefore = space;
    return t;
}

void unimplemented() {
    throw OracleError(3001, "unimplemented feature");
}

using engine::sameName;
using engine::upperAscii;
using Kind = SqlToken::Kind;

std::size_t skipParens(const std::vector<SqlToken>& t, std::size_t pos) {
    int depth = 0;
    for (; pos < t.size(); ++pos) {
        if (t[pos].isSymbol("("))
            ++depth;
        else if (t[pos].isSymbol(")") && --depth == 0)
            return pos + 1;
    }
    throw OracleError(907, "missing right parenthesis");
}

std::vector<std::pair<std::size_t, std::size_t>> splitTopLevel(const std::vector<SqlToken>& t,
                                                               std::size_t from, std::size_t to) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    int depth = 0;
    std::size_t start = from;
    for (std::size_t i = from; i < to; ++i) {
        if (t[i].isSymbol("("))
            ++depth;
        else if (t[i].isSymbol(")"))
            --depth;
        else if (depth == 0 && t[i].isSymbol(",")) {
            out.emplace_back(start, i);
            start = i + 1;
        }
    }
    out.emplace_back(start, to);
    return out;
}

namespace {

struct Procedure {
    const char* name;
    std::vector<const char*> params;
};

const Procedure kProcedures[] = {
    {"DBMS_APPLICATION_INFO.SET_CLIENT_INFO", {"CLIENT_INFO"}},
    {"DBMS_APPLICATION_INFO.SET_MODULE", {"MODULE_NAME", "ACTION_NAME"}},
    {"DBMS_APPLICATION_INFO.SET_ACTION", {"ACTION_NAME"}},
};

} // namespace

// BEGIN call; call; ... END; and CALL name(args): stored-procedure calls with literal
// arguments, by position or by name (name => value). Other PL/SQL is not supported.
ProcedureCalls parseBlock(const std::vector<SqlToken>& t) {
    ProcedureCalls calls;
    const bool block = t[0].is("BEGIN");
    std::size_t pos = 1;
    const std::size_t end = block ? t.size() - (t.back().isSymbol(";") ? 2 : 1) : t.size();
    if (block && (end < 1 || !t[end].is("END")))
        throw OracleError(6550, "line 1, column 1:\nPLS-00103: END expected");
    while (pos < end) {
        if (t[pos].is("NULL")) {
            pos += 1;
        } else if (block && (t[pos].is("INSERT") || t[pos].is("UPDATE") || t[pos].is("DELETE") ||
                             t[pos].is("COMMIT") || t[pos].is("ROLLBACK"))) {
            // A data change inside the block runs as a statement of its own, in order.
            std::size_t stop = pos;
            while (stop < end && !t[stop].isSymbol(";"))
                ++stop;
            calls.push_back({std::string(), {{std::string(), joinTokens(t, pos, stop)}}});
            pos = stop;
        } else {
            std::string name;
            while (pos < end && (t[pos].isName() || t[pos].isSymbol(".")))
                name += identifierOf(t[pos++]);
            if (t[pos - 1].isSymbol(".")) name.pop_back();
            if (name.empty()) unimplemented();
            std::vector<NamedArgument> args;
            if (pos < end && t[pos].isSymbol("(")) {
                const std::size_t close = skipParens(t, pos);
                for (auto [a, b] : splitTopLevel(t, pos + 1, close - 1)) {
                    std::string param;
                    if (b - a == 3 && t[a].isName() && t[a + 1].isSymbol("=>")) {
                        param = identifierOf(t[a]);
                        a += 2;
                    }
                    if (b - a != 1) unimplemented();
                    if (t[a].kind == Kind::String)
                        args.emplace_back(param, stringValueOf(t[a]));
                    else if (t[a].kind == Kind::Number || t[a].is("NULL"))
                        args.emplace_back(param, t[a].is("NULL") ? "" : t[a].text);
                    else
                        unimplemented();
                }
                pos = close;
            }
            calls.emplace_back(name, std::move(args));
        }
        if (block) {
            if (pos >= end || !t[pos].isSymbol(";"))
                throw OracleError(6550, "line 1, column 1:\nPLS-00103: ';' expected");
            ++pos;
        } else if (pos != end) {
            throw OracleError(933, "SQL command not properly ended");
        }
    }
    return calls;
}

ResolvedCall resolveProcedure(const std::string& name, const std::vector<NamedArgument>& args) {
    std::string upper = upperAscii(name);
    if (upper.rfind("SYS.", 0) == 0) upper = upper.substr(4);
    const Procedure* proc = nullptr;
    for (const auto& p : kProcedures)
        if (upper == p.name) proc = &p;
    if (!proc)
        throw OracleError(6550, "line 1, column 7:\nPLS-00201: identifier '" + upperAscii(name) +
                                    "' must be declared");
    std::vector<std::string> values(proc->params.size());
    std::vector<bool> given(proc->params.size(), false);
    std::size_t position = 0;
    const std::string shortName = upper.substr(upper.rfind('.') + 1);
    for (const auto& [param, value] : args) {
        std::size_t index = proc->params.size();
        if (param.empty()) {
            index = position++;
        } else {
            for (std::size_t i = 0; i < proc->params.size(); ++i)
                if (sameName(param, proc->params[i])) index = i;
        }
        if (index >= proc->params.size() || given[index])
            throw OracleError(
                6550,
                "line 1, column 7:\nPLS-00306: wrong number or types of arguments in call to '" +
                    shortName + "'");
        values[index] = value;
        given[index] = true;
    }
    if (std::find(given.begin(), given.end(), false) != given.end())
        throw OracleError(
            6550, "line 1, column 7:\nPLS-00306: wrong number or types of arguments in call to '" +
                      shortName + "'");
    // The server keeps at most 64 bytes of each.
    for (auto& v : values)
        v = v.substr(0, 64);
    return {shortName, std::move(values)};
}

} // namespace fieldsmith::oraclient
