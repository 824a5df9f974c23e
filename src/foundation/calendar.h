#pragma once
// Calendar dates of local times held as milliseconds since 1970-01-01 00:00 local time.

#include <cstdint>

namespace kelvad {

struct civil_time {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

civil_time civil_time_of(std::int64_t local_ms);

}  // namespace kelvad
