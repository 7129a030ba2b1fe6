// Small rules the operations share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fieldsmith::ops {

//! A number typed into a page: optional leading blanks, an optional sign and decimal
//! digits within the signed 32-bit range; nothing else.
std::optional<std::int32_t> pageInteger(std::string_view text);

} // namespace fieldsmith::ops

namespace fieldsmith::ops {

//! The directory of the running executable, without a trailing separator.
std::string GetExePath();

//! A number read from a page while a run goes on; a text that is not one is an error
//! naming the text, as a failed conversion was.
std::int32_t requirePageInteger(std::string_view text);

} // namespace fieldsmith::ops
