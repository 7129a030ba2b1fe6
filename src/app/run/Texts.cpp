#include "app/run/Texts.h"

#include <charconv>

namespace fieldsmith::run {

void appendNumber(std::string& out, std::int64_t n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

void recordsOfProcessed(std::string& out, std::int64_t n, std::int64_t total) {
    out.clear();
    appendNumber(out, n);
    out += " Records of ";
    appendNumber(out, total);
    out += " processed";
}

void processedOf(std::string& out, std::int64_t n, std::int64_t total) {
    out.assign("processed: ");
    appendNumber(out, n);
    out += " of ";
    appendNumber(out, total);
}

void recordsChanged(std::string& out, std::int64_t n) {
    out.clear();
    appendNumber(out, n);
    out += " Records changed!";
}

std::string recordsOfProcessed(std::int64_t n, std::int64_t total) {
    std::string out;
    recordsOfProcessed(out, n, total);
    return out;
}

std::string processedOf(std::int64_t n, std::int64_t total) {
    std::string out;
    processedOf(out, n, total);
    return out;
}

std::string recordsChanged(std::int64_t n) {
    std::string out;
    recordsChanged(out, n);
    return out;
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
