// The plate import: one spectrum of one plate becomes a small file of wavelength and value
// pairs in the folder of the measurement that carries the measuring device's alias.

#include <optional>
#include <vector>

#include "foundation/durable_files.h"
#include "foundation/file_utils.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;

bool starts_with_lowered(const std::string& line, std::string_view keyword) {
    return line.size() >= keyword.size() && ascii_lower(line.substr(0, keyword.size())) == keyword;
}

// Everything after the first ";" of the line, or the whole line without one.
std::string after_first_semicolon(const std::string& line) {
    const auto at = line.find(';');
    return at == std::string::npos ? line : line.substr(at + 1);
}

}  // namespace

// When the wavelengths run out first, the lines start with ","; when the values run out
// first, the next wavelength stands after the last line end without one of its own.
std::string xy_text(std::string_view wavelengths, std::string_view values) {
    std::string out;
    std::size_t w = 0, v = 0;
    bool value_taken = false;
    do {
        if (const auto at = wavelengths.find(';', w); at != std::string_view::npos) {
            out.append(wavelengths.substr(w, at - w));
            w = at + 1;
        }
        const auto at = values.find(';', v);
        value_taken = at != std::string_view::npos;
        if (value_taken) {
            out += ',';
            out.append(values.substr(v, at - v));
            out += "\r\n";
            v = at + 1;
        }
    } while (value_taken);
    return out;
}

void Tkelvad_main::import_o3p_result() {
    if (!load_input()) return;
    line_list_t& lines = *line_list;
    const std::size_t size = lines.size();
    const std::string deleted = "Deleted: " + current_file_name;

    // The lines to say once the input is deleted, or nothing when the input has gone to the
    // failed folder and must not be deleted.
    const auto convert = [&]() -> std::optional<std::vector<std::string>> {
        if (size <= 8) return std::vector<std::string>{deleted};
        std::size_t index = 0;
        while (index < size && !starts_with_lowered(lines[index], "device")) ++index;
        if (index == size) {
            report("Error: No device identified!");
            return std::vector<std::string>{deleted};
        }
        const std::string& device_line = lines[index];
        const std::optional<std::int32_t> device_number =
            parse_whole_number(after_first_semicolon(device_line));
        if (!device_number) {
            report("Error: No device identified in " + device_line);
            return std::vector<std::string>{deleted};
        }
        ++index;
        while (index < size && !starts_with_lowered(lines[index], "plate")) ++index;
        if (index == size) {
            report("Error: No plate identified!");
            return std::vector<std::string>{deleted};
        }
        const std::string plate_name = after_first_semicolon(lines[index]);
        const std::string value_line = lookup_in_pair_list("Spectrum;", lines, "");
        const std::string wavelength_line = lookup_in_pair_list("Wavelength;", lines, "");
        const std::string number = std::to_string(*device_number);
        const std::string device_alias = device_map->translate(number, 1);
        report("Plate: " + plate_name + " analyzed by Zeiss device " + number + " alias " +
               device_alias);

        const std::string folder = output_path(device_alias);
        if (!is_safe_file_name(plate_name) ||
            !platform::name_fits(folder, plate_name + "___T.xy")) {
            move_to_failed("Error: plate name \"" + plate_name + "\" is no plain file name");
            return std::nullopt;
        }
        if (!platform::folder_exists(folder)) {
            move_to_failed("Error: measurement folder " + folder + " does not exist");
            return std::nullopt;
        }
        const std::string target = folder + sep + plate_name + "___T.xy";
        const std::size_t xy =
            stage(target, platform::utf8_to_ansi(xy_text(wavelength_line, value_line)), false);
        current_.complete = [this, xy, target, deleted,
                             name =
                                 current_file_name]() -> std::optional<std::vector<std::string>> {
            // Never replaces: an earlier xy file of the plate that ORVEL has not taken yet
            // stays, and this input is deleted.
            const placement placed = place_output(xy);
            if (placed) {
                report(target);
            } else if (placed.name_taken) {
                report("Error generating file " + target +
                       "       Delete temporary file: " + placed.temporary);
            } else {
                move_to_failed("Error: the xy file of " + name + " could not be written - " +
                               "Error writing file " + target + " - " + placed.reason);
                return std::nullopt;
            }
            ++health.plate;
            return std::vector<std::string>{"Processed O3P result: " + name, deleted};
        };
        return std::nullopt;
    };

    std::optional<std::vector<std::string>> done = convert();
    if (done) finish_input(std::move(*done));
}

}  // namespace kelvad
