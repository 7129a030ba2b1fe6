#include "OracleError.h"

#include <cstdio>

namespace fieldsmith::oraclient {

std::string oraCode(int code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "ORA-%05d", code);
    return buf;
}

OracleError::OracleError(int code, std::string_view text)
    : std::runtime_error(oraCode(code) + ": " + std::string(text)), code_(code) {}

} // namespace fieldsmith::oraclient
