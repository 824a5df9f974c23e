// The health line: what the program has done since its start, what waits now and what the
// process holds of the system, once an hour and at shutdown, so that a program left running for
// months can be watched from its log.

#include <algorithm>
#include <cstdio>

#include "foundation/log.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"

namespace kelvad {

std::string health_line(const health_counts& counts, std::size_t waiting, std::int64_t oldest_s,
                        const platform::footprint& footprint) {
    std::string line = "health: since start " + std::to_string(counts.traverse) + " traverse, " +
                       std::to_string(counts.plate) + " plate, " + std::to_string(counts.unknown) +
                       " unknown, " + std::to_string(counts.failed) + " failed; waiting " +
                       std::to_string(waiting) + ", oldest " + std::to_string(oldest_s) + " s";
    std::string held;
    const auto add = [&held](const std::string& figure) {
        held += held.empty() ? "; " : ", ";
        held += figure;
    };
    if (footprint.resident_bytes) {
        char megabytes[32];
        std::snprintf(megabytes, sizeof megabytes, "%.1f",
                      static_cast<double>(*footprint.resident_bytes) / (1024.0 * 1024.0));
        add("memory " + std::string(megabytes) + " MB");
    }
    if (footprint.handles) add("handles " + std::to_string(*footprint.handles));
    if (footprint.gdi_objects) add("gdi " + std::to_string(*footprint.gdi_objects));
    if (footprint.user_objects) add("user " + std::to_string(*footprint.user_objects));
    return line + held;
}

void Tkelvad_main::log_health() {
    std::size_t waiting = 0;
    std::int64_t oldest_ns = 0;
    // Once an hour a listing of its own: the cycle's listings stay as lean as they are.
    if (input_path.size() > 1 && platform::folder_exists(input_path)) {
        // Only counted and dated: no order is needed.
        const platform::file_listing listing(input_path + "*.csv");
        const std::vector<std::string>& names = listing.names();
        waiting = names.size();
        const std::int64_t now = platform::utc_now_ns();
        for (const std::string& name : names) {
            if (const auto stamp = platform::stamp_of(input_path + name))
                oldest_ns = std::max(oldest_ns, now - stamp->modified_ns);
        }
    }
    log_line(
        health_line(health, waiting, oldest_ns / 1'000'000'000, platform::process_footprint()));
}

void Tkelvad_main::health_timerTimer() {
    if (!startup_complete()) return;
    log_health();
}

void Tkelvad_main::FormDestroy() {
    log_health();
    TFS_scanner_main::FormDestroy();
}

}  // namespace kelvad
