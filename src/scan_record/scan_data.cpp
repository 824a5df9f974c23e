#include "scan_record/scan_data.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <new>
#include <system_error>

#include "foundation/durable_files.h"
#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

// The largest scan file a record may describe. A real scan is tens of kilobytes; a count
// gone wrong (a misread configuration, a damaged result file) must not make the program
// claim gigabytes of zeroed memory, which on Linux ends the process instead of raising.
constexpr std::uint64_t largest_scan_file = 256ull * 1024 * 1024;

std::uint64_t scan_file_size(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    return 24 + 4 * a + 12 * b + 4 * a * b * c;
}

// Whether a scan of these counts (each below 2^31) stays within the largest scan file. A·B
// fits 64 bits; the product with C is weighed by division before it is formed.
bool scan_fits(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    const std::uint64_t fixed = 24 + 4 * a + 12 * b;
    if (fixed > largest_scan_file) return false;
    const std::uint64_t ab = a * b;
    if (ab != 0 && c > (largest_scan_file - fixed) / 4 / ab) return false;
    return true;
}

// Little-endian stores at a cursor into a buffer already sized for the whole file: a scan
// holds some twelve thousand values, and appending them one by one costs more than the rest.
void put_u32(char*& out, std::uint32_t v) {
    out[0] = static_cast<char>(v);
    out[1] = static_cast<char>(v >> 8);
    out[2] = static_cast<char>(v >> 16);
    out[3] = static_cast<char>(v >> 24);
    out += 4;
}

void put_i32(char*& out, std::int32_t v) {
    put_u32(out, static_cast<std::uint32_t>(v));
}

void put_f32(char*& out, float v) {
    put_u32(out, std::bit_cast<std::uint32_t>(v));
}

void put_f64(char*& out, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    put_u32(out, static_cast<std::uint32_t>(bits));
    put_u32(out, static_cast<std::uint32_t>(bits >> 32));
}

// Element i of an array, or zero where a caller left the array shorter than its count.
template <typename T>
T element(const std::vector<T>& array, std::size_t i) {
    return i < array.size() ? array[i] : T{};
}

}  // namespace

void scan_data::set_dimensions(std::int32_t a, std::int32_t b, std::int32_t c) {
    // A negative count means no entries; stored as 0, so that the counts written to a scan
    // file always agree with the arrays that follow them.
    a = std::max(a, 0);
    b = std::max(b, 0);
    c = std::max(c, 0);
    const auto ua = static_cast<std::uint64_t>(a);
    const auto ub = static_cast<std::uint64_t>(b);
    const auto uc = static_cast<std::uint64_t>(c);
    if (!scan_fits(ua, ub, uc)) {
        throw kelvad_error("Scan too large: " + std::to_string(a) + " positions, " +
                           std::to_string(b) + " kinds, " + std::to_string(c) + " points");
    }
    try {
        // The largest array first: if memory fails, the record is still as it was.
        values.resize(static_cast<std::size_t>(ua * ub * uc));
        positions.resize(static_cast<std::size_t>(a));
        first_wavelengths.resize(static_cast<std::size_t>(b));
        last_wavelengths.resize(static_cast<std::size_t>(b));
        kind_point_counts.resize(static_cast<std::size_t>(b));
    } catch (const std::bad_alloc&) {
        throw kelvad_error("Not enough memory for a scan of " + std::to_string(a) + " positions, " +
                           std::to_string(b) + " kinds, " + std::to_string(c) + " points");
    }
    position_count = a;
    kind_count = b;
    point_count = c;
}

std::string scan_data::scan_file_bytes() const {
    const auto a = static_cast<std::size_t>(std::max(position_count, 0));
    const auto b = static_cast<std::size_t>(std::max(kind_count, 0));
    const auto c = static_cast<std::size_t>(std::max(point_count, 0));
    // Counts set by hand past set_dimensions are weighed the same way before any byte is made.
    if (!scan_fits(a, b, c)) throw kelvad_error("Scan too large to write");
    const bool has_trailer = version >= 1.1f;
    std::string bytes(static_cast<std::size_t>(scan_file_size(a, b, c)) - (has_trailer ? 0 : 8),
                      '\0');
    char* out = bytes.data();
    put_f32(out, version);
    put_i32(out, position_count);
    put_i32(out, kind_count);
    put_i32(out, point_count);
    for (std::size_t i = 0; i < a; ++i) put_i32(out, element(positions, i));
    for (std::size_t k = 0; k < b; ++k) {
        put_f32(out, element(first_wavelengths, k));
        put_f32(out, element(last_wavelengths, k));
        put_i32(out, element(kind_point_counts, k));
    }
    const std::size_t value_count = a * b * c;
    const std::size_t held = std::min(value_count, values.size());
    for (std::size_t i = 0; i < held; ++i) put_f32(out, values[i]);
    // Cells beyond a values array that a caller left short stay zero.
    out += 4 * (value_count - held);
    if (has_trailer) put_f64(out, trailer);
    return bytes;
}

bool scan_data::write_scan_file(const std::string& target_path) const {
    return static_cast<bool>(put_in_place(target_path, scan_file_bytes(), true));
}

bool scan_data::fits(std::int32_t a, std::int32_t b, std::int32_t c) {
    return scan_fits(static_cast<std::uint64_t>(std::max(a, 0)),
                     static_cast<std::uint64_t>(std::max(b, 0)),
                     static_cast<std::uint64_t>(std::max(c, 0)));
}

}  // namespace kelvad
