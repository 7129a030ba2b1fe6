// The one error type of the Oracle client layer: every failure of a logon, a statement, a
// procedure call or a value conversion carries an "ORA-nnnnn: text" message.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace fieldsmith::oraclient {

class OracleError : public std::runtime_error {
public:
    //! The message is "ORA-" and the code in five digits, ": " and the text.
    OracleError(int code, std::string_view text);

    //! The error number (1017 for ORA-01017).
    int code() const { return code_; }

private:
    int code_;
};

//! "ORA-00942" for 942.
std::string oraCode(int code);

} // namespace fieldsmith::oraclient
