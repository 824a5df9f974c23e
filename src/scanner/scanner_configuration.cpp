#include "scanner/scanner_configuration.h"

#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

// Line n (from 1) of a list, or nothing when the list is shorter.
const std::string* line_at(const line_list_t& lines, std::size_t n) {
    return n >= 1 && n <= lines.size() ? &lines[n - 1] : nullptr;
}

}  // namespace

std::optional<scanner_ini_settings> scanner_ini_settings_of(const line_list_t& lines) {
    if (lines.size() < 2) return std::nullopt;
    scanner_ini_settings s;
    s.input_path = lines[0];
    s.be_name = lines[1];

    const std::string* line = line_at(lines, 3);
    s.automatic_product_identification = line && ascii_lower(*line) == "true";

    line = line_at(lines, 4);
    if (line) s.scan_file_split = parse_whole_number(*line).value_or(1);

    line = line_at(lines, 5);
    if (line) {
        s.spectrum_points = parse_whole_number(*line).value_or(default_spectrum_points);
        if (s.spectrum_points < 0 || s.spectrum_points > most_spectrum_points) {
            s.rejected_spectrum_points = *line;
            s.spectrum_points = default_spectrum_points;
        }
    }

    line = line_at(lines, 6);
    if (line) s.be_insitu_name = *line;

    line = line_at(lines, 10);
    if (line) s.minimum_file_age = static_cast<float>(parse_decimal_number(*line).value_or(0.0));

    line = line_at(lines, 12);
    s.save_scanner_ini = !line || ascii_lower(trim_blanks_and_controls(*line)) == "true";

    s.tail.assign(lines.size() > 8 ? lines.begin() + 8 : lines.end(), lines.end());
    return s;
}

std::string rejected_spectrum_points_message(const std::string& line) {
    return "Error: spectrum points in orvel_scanner.ini out of range (0 to " +
           std::to_string(most_spectrum_points) + "): " + line + " - " +
           std::to_string(default_spectrum_points) + " is used";
}

std::string first_line_or_error(const line_list_t& lines, const std::string& path) {
    if (lines.empty()) throw kelvad_error("Error: " + path + " does not contain any line");
    return lines.front();
}

std::string configured_orvel_path() {
    const std::string path = program_file_path(orvel_path_ini_name);
    if (!platform::file_exists(path)) return program_file_path("");
    return with_trailing_separator(first_line_or_error(load_lines(path), path));
}

password_reading read_password_file(const std::string& path) {
    password_reading result;
    const std::string unreadable = "Could not read password from file " + path;
    try {
        std::optional<std::string> bytes = platform::read_file_bytes(path);
        if (!bytes) {
            result.error = unreadable;
            return result;
        }
        byte_stream stream(std::move(*bytes));
        std::uint16_t entries = 0;
        // A file that ends inside its fixed parts is treated as unreadable; the texts read
        // before that point stay in the password.
        if (!stream.read_float(stream_format_version) || !stream.skip(748) ||
            !stream.read_uint16(entries)) {
            result.error = unreadable;
            return result;
        }
        for (std::uint16_t i = 0; i < entries; ++i) {
            if (!stream.skip(28)) {
                result.error = unreadable;
                return result;
            }
            result.password += read_stream_text(stream);
        }
    } catch (const std::exception&) {
        result.error = "Error reading password file!";
    }
    return result;
}

}  // namespace kelvad
