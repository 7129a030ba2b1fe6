// Texts that several operations show: the shared check messages, the progress and
// completion texts of a run. Defined once here so that every operation writes them alike.
#pragma once

#include "engine/FormatSettings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fieldsmith::run {

inline constexpr std::string_view kAliasMustBeSpecified = "ALIAS must be specified!";
inline constexpr std::string_view kTableMustBeSpecified = "Table must be specified!";
inline constexpr std::string_view kTargetFieldMustBeSpecified = "Target Field must be specified!";
inline constexpr std::string_view kComplete = "Complete!";
inline constexpr std::string_view kAbortProcess = "Abort process?";
inline constexpr std::string_view kAbortProcessCapital = "Abort Process?";
inline constexpr std::string_view kExecutionDuration = "Execution Duration: ";
inline constexpr std::string_view kSelectDatabaseFunction = "Select Database function";
inline constexpr std::string_view kApplicationTitle = "KR4 Fieldsmith";
inline constexpr std::string_view kWindowCaption = "Orvane Fieldsmith";

//! Appends a whole number in decimal, without a string of its own: for texts built per record.
void appendNumber(std::string& out, std::int64_t n);

//! "{n} Records of {N} processed"
std::string recordsOfProcessed(std::int64_t n, std::int64_t total);
//! "processed: {n} of {N}"
std::string processedOf(std::int64_t n, std::int64_t total);
//! "{n} Records changed!"
std::string recordsChanged(std::int64_t n);
// The same texts written over a buffer that a walk keeps, so that a text per record costs
// no allocation.
void recordsOfProcessed(std::string& out, std::int64_t n, std::int64_t total);
void processedOf(std::string& out, std::int64_t n, std::int64_t total);
void recordsChanged(std::string& out, std::int64_t n);
//! "Complete!", CR, "{processed} Records of {total} processed", then the ending as given.
std::string completionMessage(std::int64_t processed, std::int64_t total,
                              std::string_view ending = {});
//! The one report of a run after which characters had no equivalent between a table's code
//! page and the program's and were replaced by "?".
std::string conversionLossMessage(std::uint64_t characters);

//! "Execution Duration: " and the elapsed time in the long time format.
std::string executionDuration(std::int64_t elapsedMs, const engine::FormatSettings& formats);

} // namespace fieldsmith::run
