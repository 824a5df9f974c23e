#pragma once
// One scan in memory (positions × spectrum kinds × points) and its binary scan file.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvad {

class scan_data {
  public:
    void set_dimensions(std::int32_t a, std::int32_t b, std::int32_t c);
    std::int32_t value_index(std::int32_t a, std::int32_t b, std::int32_t c) const {
        return (a * kind_count + b) * point_count + c;
    }
    // The scan file's bytes, exactly as written.
    std::string scan_file_bytes() const;
    // Writes the scan file under a temporary name beside the target, flushed to the disk, and
    // renames it over the target (an earlier scan of that name, or a link, is replaced); true
    // only when the target holds the complete file. Nothing partial is ever under its name.
    bool write_scan_file(const std::string& target_path) const;
    // Whether a scan of these counts stays within the largest scan file the program writes.
    static bool fits(std::int32_t a, std::int32_t b, std::int32_t c);

    std::int32_t position_count = 0;
    std::int32_t kind_count = 0;
    std::int32_t point_count = 0;
    std::vector<std::int32_t> positions;
    std::vector<float> first_wavelengths;
    std::vector<float> last_wavelengths;
    std::vector<std::int32_t> kind_point_counts;
    std::vector<float> values;
    double trailer = 0.0;
    float version = 1.1f;
};

}  // namespace kelvad
