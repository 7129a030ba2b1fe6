// The error that ends a CSV import or export: a file that cannot be read or written, or
// text that is not a delimited file. Its message names the file and, where it helps, the line.
#pragma once

#include <stdexcept>
#include <string>

namespace fieldsmith::csv {

class CsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

//! "<what> <file>: <the system's reason for errno>", for a failed system call.
[[noreturn]] void throwSystemError(const std::string& what, const std::string& file, int error);

} // namespace fieldsmith::csv
