#include "SqlLexer.h"

#include "OracleError.h"

#include <cctype>

namespace fieldsmith::oraclient {

namespace {

bool isWordStart(unsigned char c) {
    return std::isalpha(c) || c == '_' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '$' || c == '#' || c >= 0x80;
}

} // namespace

bool SqlToken::is(std::string_view w) const {
    if (kind != Kind::Word || text.size() != w.size()) return false;
    for (std::size_t i = 0; i < w.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(w[i]))
            return false;
    return true;
}

std::vector<SqlToken> tokenizeSql(std::string_view sql) {
    std::vector<SqlToken> out;
    std::size_t i = 0;
    bool space = false;
    const std::size_t n = sql.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(sql[i]);
        if (std::isspace(c)) {
            space = true;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            while (i < n && sql[i] != '\n')
                ++i;
            space = true;
            continue;
        }
        if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const std::size_t end = sql.find("*/", i + 2);
            i = end == std::string_view::npos ? n : end + 2;
            space = true;
            continue;
        }
        SqlToken t;
        t.spaceBefore = space;
        space = false;
        const std::size_t start = i;
        if (c == '\'') {
            t.kind = SqlToken::Kind::String;
            ++i;
            for (;;) {
                if (i >= n) throw OracleError(1756, "quoted string not properly terminated");
                if (sql[i] == '\'') {
                    if (i + 1 < n && sql[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (c == '"') {
            t.kind = SqlToken::Kind::QuotedName;
            const std::size_t end = sql.find('"', i + 1);
            if (end == std::string_view::npos)
                throw OracleError(1740, "missing double quote in identifier");
            if (end == i + 1) throw OracleError(1741, "illegal zero-length identifier");
            i = end + 1;
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n &&
                                       std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
            t.kind = SqlToken::Kind::Number;
            while (i < n && (std::isdigit(static_cast<unsigned char>(sql[i])) || sql[i] == '.'))
                ++i;
            if (i < n && (sql[i] == 'e' || sql[i] == 'E')) {
                std::size_t j = i + 1;
                if (j < n && (sql[j] == '+' || sql[j] == '-')) ++j;
                if (j < n && std::isdigit(static_cast<unsigned char>(sql[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(sql[i])))
                        ++i;
                }
            }
        } else if (isWordStart(c)) {
            t.kind = SqlToken::Kind::Word;
            while (i < n && isWordChar(static_cast<unsigned char>(sql[i])))
                ++i;
        } else if (c == ':' && i + 1 < n && isWordChar(static_cast<unsigned char>(sql[i + 1]))) {
            t.kind = SqlToken::Kind::Bind;
            ++i;
            while (i < n && isWordChar(static_cast<unsigned char>(sql[i])))
                ++i;
        } else {
            t.kind = SqlToken::Kind::Symbol;
            static const char* twoChar[] = {"||", "<=", ">=", "<>", "!=", "=>", ":="};
            ++i;
            for (const char* two : twoChar)
                if (c == two[0] && i < n && sql[i] == two[1]) {
                    ++i;
                    break;
                }
        }
        t.text.assign(sql.substr(start, i - start));
        out.push_back(std::move(t));
    }
    return out;
}

std::string identifierOf(const SqlToken& token) {
    if (token.kind == SqlToken::Kind::QuotedName)
        return token.text.substr(1, token.text.size() - 2);
    std::string out = token.text;
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string stringValueOf(const SqlToken& token) {
    std::string out;
    const std::string& s = token.text;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        out += s[i];
        if (s[i] == '\'') ++i;
    }
    return out;
}

std::string quoteString(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string quoteName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string joinTokens(const std::vector<SqlToken>& tokens, std::size_t from, std::size_t to) {
    std::string out;
    to = std::min(to, tokens.size());
    for (std::size_t i = from; i < to; ++i) {
        if (i > from && tokens[i].spaceBefore) out += ' ';
        out += tokens[i].text;
    }
    return out;
}

} // namespace fieldsmith::oraclient
