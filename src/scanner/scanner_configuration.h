#pragma once
// The configuration files beside the program as the start-up reads them: what each line sets
// and what holds where a file or a line is missing. The window applies what they give; the
// configuration check reads them the same way without a window and without writing anything.

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/text.h"

namespace kelvad {

inline constexpr char scanner_ini_name[] = "orvel_scanner.ini";
inline constexpr char orvel_path_ini_name[] = "orvel_path.ini";
inline constexpr char postbake_ini_name[] = "orvel_postbake_path.ini";
inline constexpr char password_file_name[] = "orvel_pswd.bin";

// The texts of the two edits before any configuration is read: a file of fewer than two lines
// leaves them, and the input folder is then composed from that text.
inline constexpr char design_input_path_text[] = "Specify input path here";
inline constexpr char design_be_name_text[] = "Specify BE name here";

// Spectra of more points than this are no configuration but a typing error: a line of that
// many fields per position would stall the cycle for hours.
inline constexpr std::int32_t most_spectrum_points = 10000;
inline constexpr std::int32_t default_spectrum_points = 125;

// What orvel_scanner.ini sets when it has at least two lines.
struct scanner_ini_settings {
    std::string input_path;  // line 1, unchanged
    std::string be_name;     // line 2, unchanged
    bool automatic_product_identification = false;
    std::int32_t scan_file_split = 1;
    std::int32_t spectrum_points = default_spectrum_points;
    // Line 5 when it is a number out of range; the default is used and the start-up says so.
    std::optional<std::string> rejected_spectrum_points;
    std::string be_insitu_name;
    float minimum_file_age = 0.0f;
    bool save_scanner_ini = true;
    line_list_t tail;  // lines 9 and following, kept by the shutdown rewrite
};

// The settings of the file's lines; nothing for a file of fewer than two lines.
std::optional<scanner_ini_settings> scanner_ini_settings_of(const line_list_t& lines);

// The message the start-up shows for a spectrum-points line out of range.
std::string rejected_spectrum_points_message(const std::string& line);

// Line 1 of a configuration file; raises kelvad_error for a file without any line.
std::string first_line_or_error(const line_list_t& lines, const std::string& path);

// The ORVEL folder, ending in a separator: line 1 of orvel_path.ini, or the program's folder
// when that file does not exist. Raises kelvad_error for a file that cannot be read or holds
// no line.
std::string configured_orvel_path();

// The password file's texts, in file order, and the message the start-up shows when the file
// cannot be read whole (empty when it could); the texts read before a failure are kept.
struct password_reading {
    std::string password;
    std::string error;
};
password_reading read_password_file(const std::string& path);

}  // namespace kelvad
