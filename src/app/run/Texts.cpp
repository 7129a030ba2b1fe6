#include "app/run/Texts.h"

namespace fieldsmith::run {

std::string recordsOfProcessed(std::int64_t n, std::int64_t total) {
    return std::to_string(n) + " Records of " + std::to_string(total) + " processed";
}

std::string processedOf(std::int64_t n, std::int64_t total) {
    return "processed: " + std::to_string(n) + " of " + std::to_string(total);
}

std::string recordsChanged(std::int64_t n) {
    return std::to_string(n) + " Records changed!";
}

std::string completionMessage(std::int64_t processed, std::int64_t total, std::string_view ending) {
    std::string text(kComplete);
    text += '\r';
    text += recordsOfProcessed(processed, total);
    text += ending;
    return text;
}

std::string conversionLossMessage(std::uint64_t characters) {
    return std::to_string(characters) +
           " character(s) had no equivalent between the table's code page and the program's "
           "and were replaced by \"?\".";
}

std::string executionDuration(std::int64_t elapsedMs, const engine::FormatSettings& formats) {
    // Whole seconds, as a clock shows them; the time format has no fraction.
    return std::string(kExecutionDuration) + engine::formatTime(elapsedMs / 1000 * 1000, formats);
}

} // namespace fieldsmith::run
