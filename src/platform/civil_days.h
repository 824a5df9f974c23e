#pragma once
// Calendar dates to day counts, for the local times both systems report as date fields.

#include <cstdint>

namespace kelvad::platform::civil_days {

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
inline std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

}  // namespace kelvad::platform::civil_days
