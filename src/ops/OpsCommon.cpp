#include "OpsCommon.h"

#include <cctype>

namespace fieldsmith::ops {

std::optional<std::int32_t> pageInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (v < -2147483648LL || v > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace fieldsmith::ops

#include <filesystem>
#include <stdexcept>

namespace fieldsmith::ops {

std::string GetExePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path().string();
    return exe.parent_path().string();
}

std::int32_t requirePageInteger(std::string_view text) {
    if (auto n = pageInteger(text)) return *n;
    throw std::runtime_error("'" + std::string(text) + "' is not a valid integer value");
}

} // namespace fieldsmith::ops
