// Small rules the operations share.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fieldsmith::ops {

//! A number typed into a page: optional leading blanks, an optional sign and decimal
//! digits within the signed 32-bit range; nothing else.
std::optional<std::int32_t> pageInteger(std::string_view text);

} // namespace fieldsmith::ops
