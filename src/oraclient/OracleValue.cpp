#include "OracleValue.h"

#include "OracleError.h"

#include <cctype>
#include <vector>

namespace fieldsmith::oraclient {

namespace {

// Splits a type text into upper-case words, numbers and the characters ( ) , *.
std::vector<std::string> typeTokens(std::string_view text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (std::isalnum(c) || c == '_') {
            std::string word;
            while (i < text.size() &&
                   (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
                word += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
            out.push_back(word);
        } else {
            out.emplace_back(1, text[i++]);
        }
    }
    return out;
}

bool isNumber(const std::string& s) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

std::optional<OracleType> parseOracleType(std::string_view text) {
    const std::vector<std::string> t = typeTokens(text);
    if (t.empty()) return std::nullopt;
    std::size_t pos = 1;
    std::string word = t[0];
    auto next = [&](const char* w) {
        if (pos < t.size() && t[pos] == w) {
            ++pos;
            return true;
        }
        return false;
    };
    if (word == "DOUBLE" && next("PRECISION"))
        word = "DOUBLE PRECISION";
    else if (word == "LONG" && next("RAW"))
        word = "LONG RAW";
    else if (word == "LONG" && next("TEXT"))
        word = "LONG"; // the embedded backend's spelling

    // The arguments in parentheses: one or two numbers, "*" for the precision, and a
    // BYTE or CHAR length semantic.
    std::vector<std::string> args;
    bool hasArgs = false;
    if (pos < t.size() && t[pos] == "(") {
        hasArgs = true;
        ++pos;
        while (pos < t.size() && t[pos] != ")") {
            if (t[pos] != "," && t[pos] != "BYTE" && t[pos] != "CHAR") args.push_back(t[pos]);
            ++pos;
        }
        if (pos >= t.size()) throw OracleError(907, "missing right parenthesis");
        ++pos;
    }
    if (word == "TIMESTAMP") {
        // WITH [LOCAL] TIME ZONE is accepted and kept as a plain timestamp.
        if (next("WITH")) {
            next("LOCAL");
            if (!next("TIME") || !next("ZONE")) return std::nullopt;
        }
    }
    if (pos != t.size()) return std::nullopt;
    for (const auto& a : args)
        if (!isNumber(a) && a != "*")
            throw OracleError(910, "specified length too long for its datatype");
    auto num = [&](std::size_t i) { return args[i] == "*" ? 0 : std::stoi(args[i]); };

    OracleType type;
    auto textType = [&](const char* name, int maxLength, bool lengthRequired) {
        if (!hasArgs && lengthRequired) throw OracleError(906, "missing left parenthesis");
        if (hasArgs && args.size() != 1) throw OracleError(907, "missing right parenthesis");
        const int length = hasArgs ? num(0) : 1;
        if (length < 1 || length > maxLength)
            throw OracleError(910, "specified length too long for its datatype");
        type.kind = ColumnKind::Text;
        type.length = length;
        type.name = std::string(name) + "(" + std::to_string(length) + ")";
    };
    if (word == "VARCHAR2" || word == "VARCHAR") {
        textType("VARCHAR2", 4000, true);
    } else if (word == "NVARCHAR2") {
        textType("NVARCHAR2", 4000, true);
    } else if (word == "CHAR" || word == "CHARACTER") {
        textType("CHAR", 2000, false);
    } else if (word == "NCHAR") {
        textType("NCHAR", 2000, false);
    } else if (word == "RAW") {
        textType("RAW", 2000, true);
        type.kind = ColumnKind::Bytes;
    } else if (word == "NUMBER" || word == "NUMERIC" || word == "DECIMAL" || word == "DEC") {
        if (args.size() > 2) throw OracleError(907, "missing right parenthesis");
        type.kind = ColumnKind::Number;
        if (args.empty() && word == "NUMBER") {
            type.name = "NUMBER"; // any precision, any scale
            return type;
        }
        if (args.empty()) args.push_back("38"); // NUMERIC and DECIMAL: whole numbers
        const int p = num(0);
        if (args[0] != "*" && (p < 1 || p > 38))
            throw OracleError(1727, "numeric precision specifier is out of range (1 to 38)");
        const int s = args.size() == 2 ? std::stoi(args[1]) : 0;
        if (s > 127)
            throw OracleError(1728, "numeric scale specifier is out of range (-84 to 127)");
        type.precision = p;
        type.scale = s;
        type.name = "NUMBER(" + args[0] + (args.size() == 2 ? "," + args[1] : "") + ")";
    } else if (word == "INTEGER" || word == "INT" || word == "SMALLINT") {
        if (hasArgs) return std::nullopt;
        type = {ColumnKind::Number, "NUMBER(38)", 0, 38, 0};
    } else if (word == "FLOAT") {
        if (args.size() > 1) return std::nullopt;
        type.kind = ColumnKind::Number;
        if (!args.empty() && (num(0) < 1 || num(0) > 126))
            throw OracleError(1724, "floating point precision is out of range (1 to 126)");
        type.name = args.empty() ? "FLOAT" : "FLOAT(" + args[0] + ")";
    } else if (word == "REAL" || word == "DOUBLE PRECISION" || word == "BINARY_FLOAT" ||
               word == "BINARY_DOUBLE") {
        if (hasArgs) return std::nullopt;
        type.kind = ColumnKind::Number;
        type.name = word == "REAL" ? "FLOAT(63)" : word == "DOUBLE PRECISION" ? "FLOAT(126)" : word;
    } else if (word == "DATE") {
        if (hasArgs) return std::nullopt;
        type = {ColumnKind::Date, "DATE", 0, 0, -1};
    } else if (word == "TIMESTAMP") {
        if (args.size() > 1) return std::nullopt;
        if (!args.empty() && (num(0) < 0 || num(0) > 9))
            throw OracleError(30088, "datetime/interval precision is out of range");
        type.kind = ColumnKind::Timestamp;
        type.name = args.empty() ? "TIMESTAMP" : "TIMESTAMP(" + args[0] + ")";
    } else if (word == "LONG" || word == "CLOB" || word == "NCLOB") {
        if (hasArgs) return std::nullopt;
        type = {ColumnKind::LongText, word, 0, 0, -1};
    } else if (word == "BLOB" || word == "LONG RAW") {
        if (hasArgs) return std::nullopt;
        type = {ColumnKind::Bytes, word, 0, 0, -1};
    } else if (word == "ROWID" || word == "UROWID") {
        type = {ColumnKind::RowId, "ROWID", 0, 0, -1};
    } else {
        return std::nullopt;
    }
    return type;
}

} // namespace fieldsmith::oraclient
