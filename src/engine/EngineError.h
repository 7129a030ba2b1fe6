// The table engine's errors: one exception type whose message names the table, field or
// value concerned, with a kind for the callers that must tell errors apart.
#pragma once

#include <stdexcept>
#include <string>

namespace fieldsmith::engine {

enum class ErrorKind {
    General,       //!< any other failure of the engine
    Database,      //!< the database refused the request (table in use, locked, missing)
    NeedsPassword, //!< the table is encrypted and the session holds no matching password
    KeyViolation,  //!< a post would give two records the same primary key
    Damaged,       //!< a file of the table is truncated or inconsistent
    UnknownField,  //!< a field name that the table does not have
    BadValue,      //!< a text that does not fit the field's type
    NoRecord,      //!< an operation that needs a current record on an empty table
};

class EngineError : public std::runtime_error {
public:
    EngineError(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    explicit EngineError(const std::string& message) : EngineError(ErrorKind::General, message) {}

    ErrorKind kind() const { return kind_; }
    //! True for the errors the classic engine reported as database errors (refused opens).
    bool isDatabaseError() const { return kind_ == ErrorKind::Database; }

private:
    ErrorKind kind_;
};

} // namespace fieldsmith::engine
