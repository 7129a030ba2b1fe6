// What the Oracle backends share beyond the tokenizer: parentheses and comma lists of a
// token stream, anonymous blocks of procedure calls, and the procedures a session knows.
#pragma once

#include "OracleBackend.h"
#include "SqlLexer.h"

#include <string>
#include <utility>
#include <vector>

namespace fieldsmith::oraclient {

//! A token made by a translation, with or without a space before it.
SqlToken token(SqlToken::Kind kind, std::string text, bool space = true);
//! ORA-03001 for SQL that no backend translates.
[[noreturn]] void unimplemented();

//! The position after the parenthesis that closes the one at pos; ORA-00907 when none does.
std::size_t skipParens(const std::vector<SqlToken>& t, std::size_t pos);
//! Ranges [from, to) of the pieces between commas at the top level of [from, to).
std::vector<std::pair<std::size_t, std::size_t>> splitTopLevel(const std::vector<SqlToken>& t,
                                                               std::size_t from, std::size_t to);

//! The procedure calls of a block, each with its arguments by name or by position (""),
//! and the data changes in between (no name; the one argument holds the SQL).
using ProcedureCalls = std::vector<std::pair<std::string, std::vector<NamedArgument>>>;
//! "BEGIN call; ...; END;" or "CALL name(args)" with literal arguments. Throws OracleError
//! for other PL/SQL.
ProcedureCalls parseBlock(const std::vector<SqlToken>& tokens);

//! A call of one of the procedures a session knows (DBMS_APPLICATION_INFO's SET_CLIENT_INFO,
//! SET_MODULE, SET_ACTION): its name without the package, and its arguments in declared
//! order, each cut to the 64 bytes the server keeps.
struct ResolvedCall {
    std::string shortName;
    std::vector<std::string> values;
};
//! Checks a call's name and arguments; ORA-06550 with the PLS error otherwise.
ResolvedCall resolveProcedure(const std::string& name, const std::vector<NamedArgument>& args);

} // namespace fieldsmith::oraclient
