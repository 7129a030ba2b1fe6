// Calendar arithmetic on the day numbers the table formats store (0001-01-01 = day 1).
#pragma once

#include <cstdint>

namespace fieldsmith::engine {

struct CivilDate {
    int year = 1;
    int month = 1;
    int day = 1;
};

std::int64_t dayNumber(int year, int month, int day);
CivilDate civilFromDayNumber(std::int64_t day);
bool isValidDate(int year, int month, int day);

constexpr std::int64_t kMsPerDay = 86'400'000;

} // namespace fieldsmith::engine
