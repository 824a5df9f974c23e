#include "foundation/calendar.h"

namespace kelvad {

civil_time civil_time_of(std::int64_t local_ms) {
    constexpr std::int64_t ms_per_day = 86400000;
    const std::int64_t days =
        local_ms >= 0 ? local_ms / ms_per_day : (local_ms - (ms_per_day - 1)) / ms_per_day;
    const std::int64_t rest = local_ms - days * ms_per_day;
    // Days since 1970 to a proleptic Gregorian date (the era-based method of H. Hinnant).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    civil_time t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

}  // namespace kelvad
