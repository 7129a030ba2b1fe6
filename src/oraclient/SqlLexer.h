// Oracle SQL split into tokens: words, quoted names, string literals, numbers, bind
// placeholders and symbols, with comments dropped. The embedded backend rewrites statements
// on these tokens; string literals pass through untouched.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oraclient {

struct SqlToken {
    enum class Kind { Word, QuotedName, String, Number, Bind, Symbol };
    Kind kind = Kind::Symbol;
    //! The token as written: a string literal with its quotes and doubled quotes, a quoted
    //! name with its double quotes, a bind placeholder with its colon.
    std::string text;
    bool spaceBefore = false; //!< blanks, line breaks or a comment stood before it

    bool isWord() const { return kind == Kind::Word; }
    //! A word equal to w (w in upper case), compared without regard to case.
    bool is(std::string_view w) const;
    bool isSymbol(std::string_view s) const { return kind == Kind::Symbol && text == s; }
    //! A word or quoted name: an identifier.
    bool isName() const { return kind == Kind::Word || kind == Kind::QuotedName; }
};

//! Splits a statement into tokens. Throws OracleError for a string literal or a quoted
//! name that is not closed (ORA-01756, ORA-01740).
std::vector<SqlToken> tokenizeSql(std::string_view sql);

//! An identifier as the database keeps it: an unquoted name in upper case, a quoted name
//! without its quotes and exactly as written.
std::string identifierOf(const SqlToken& token);
//! The text between the quotes of a string literal, with doubled quotes made single.
std::string stringValueOf(const SqlToken& token);
//! A string literal holding text.
std::string quoteString(std::string_view text);
//! A name in double quotes, with inner double quotes doubled.
std::string quoteName(std::string_view name);

//! The tokens written out again, one blank where the statement had white space.
std::string joinTokens(const std::vector<SqlToken>& tokens, std::size_t from = 0,
                       std::size_t to = std::string::npos);

} // namespace fieldsmith::oraclient
