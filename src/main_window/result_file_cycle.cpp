// The result file cycle: every tick takes the ready "*.csv" files of the transfer folder one at
// a time, and the traverse import turns each traverse result into a scan file.

#include <algorithm>
#include <cstdlib>
#include <random>

#include "foundation/calendar.h"
#include "foundation/file_utils.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;
constexpr int most_passes_per_tick = 31;
constexpr std::size_t most_message_lines = 1000;

// Re-enables Timer1 when the tick ends, however it ends.
class timer_enabler {
  public:
    explicit timer_enabler(ui::timer& t) : timer_(t) {}
    ~timer_enabler() { timer_.set_enabled(true); }
    timer_enabler(const timer_enabler&) = delete;
    timer_enabler& operator=(const timer_enabler&) = delete;

  private:
    ui::timer& timer_;
};

bool starts_with_lowered(const std::string& line, std::string_view keyword) {
    return line.size() >= keyword.size() && ascii_lower(line.substr(0, keyword.size())) == keyword;
}

// The fields of a line split at ";", read one after another in one pass over the line; a field
// beyond the last one is empty.
class field_reader {
  public:
    explicit field_reader(std::string_view line) : rest_(line) {}
    std::string_view next() {
        if (done_) return {};
        // Fields are a few characters long: a plain loop beats a library search here.
        std::size_t end = 0;
        while (end < rest_.size() && rest_[end] != ';') ++end;
        const std::string_view field = rest_.substr(0, end);
        if (end == rest_.size()) {
            done_ = true;
        } else {
            rest_.remove_prefix(end + 1);
        }
        return field;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

bool has_whole_number_in_field_4(const std::string& line) {
    return parse_whole_number(semicolon_field(line, 4)).has_value();
}

// Index of the first line from `from` on that starts with the keyword, or the list's size.
std::size_t search_line(const line_list_t& lines, std::size_t from, std::string_view keyword) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (starts_with_lowered(lines[i], keyword)) return i;
    return lines.size();
}

}  // namespace

bool is_safe_file_name(const std::string& name) {
    if (trim_blanks_and_controls(name).empty()) return false;
    if (name.find("..") != std::string::npos) return false;
    for (const unsigned char c : name) {
        if (c < 32) return false;
        switch (c) {
            case '<':
            case '>':
            case ':':
            case '"':
            case '/':
            case '\\':
            case '|':
            case '?':
            case '*':
                return false;
            default:
                break;
        }
    }
    return true;
}

std::string Tkelvad_main::input_file_path() const {
    return input_path + sep + current_file_name;
}

void Tkelvad_main::timer_action() {
    Timer1.set_enabled(false);
    timer_enabler enable_at_end(Timer1);
    Timer1.set_interval(1000);
    file_mask = "*.csv";
    file_busy = false;
    scan_name.clear();

    compose_total_output_path();
    // An empty input edit composes to the bare root of the drive: never a transfer folder.
    if (input_path.size() == 1 && input_path[0] == sep) return;
    if (!platform::folder_exists(input_path) || !platform::folder_exists(total_output_path)) return;

    // One listing gives both the count and the first file: the count that decides whether
    // another pass runs and the name that this pass takes come from the same look into the
    // folder, which in a crowded transfer folder is the dearest part of a pass.
    std::int32_t n = 0;
    std::string first = first_file(input_path, file_mask, n);
    if (n < 1) {
        action_label.set_text("No files to process ...");
        return;
    }
    action_label.set_text("Number of files to process: " + std::to_string(n));
    Timer1.set_enabled(false);

    int passes = 0;
    for (;;) {
        current_file_name = std::move(first);
        action_label.set_text(current_file_name);
        const std::string path = input_file_path();
        if (file_is_ready(path)) {
            action_label.set_text("");
            handle_result_file();
        } else {
            action_label.set_text(path + " could not be copied - the file is open");
        }
        process_pending_events();
        ++passes;
        // A busy file and the last pass of the tick end it whatever the folder holds: the
        // folder is looked into again only when another pass may follow.
        if (file_busy || passes >= most_passes_per_tick) break;
        first = first_file(input_path, file_mask, n);
        if (n < 1) break;
    }
}

bool Tkelvad_main::file_is_ready(const std::string& path) {
    file_busy = !is_file_free(path);
    if (file_busy) return false;
    const std::optional<std::int64_t> written = platform::file_write_time_local_ms(path);
    if (!written) return false;
    const float age = seconds_between(now(), date_time_from_local_ms(*written));
    return age > minimum_file_age;
}

result_kind Tkelvad_main::result_file_kind(const std::string& file_name) {
    if (ascii_upper(file_name.substr(0, 4)) == "O3PR") return result_kind::o3p_plate_result;
    if (ascii_upper(file_name.substr(0, 5)) == "ONGQR") return result_kind::ongq_traverse_result;
    return result_kind::unknown;
}

void Tkelvad_main::handle_result_file() {
    switch (result_file_kind(current_file_name)) {
        case result_kind::unknown:
            discard_unknown_file();
            break;
        case result_kind::o3p_plate_result:
            import_o3p_result();
            break;
        case result_kind::ongq_traverse_result:
            import_ongq_result();
            break;
    }
    report("_________________");
    report("");
    while (Message_board.count() > most_message_lines) Message_board.delete_first();
}

void Tkelvad_main::discard_unknown_file() {
    report("Unknown file type: " + current_file_name);
    report("File deleted: " + current_file_name);
    platform::delete_file(input_file_path());
}

void Tkelvad_main::move_to_failed(const std::string& reason) {
    report(reason);
    const std::string failed_folder = input_path + "failed";
    const std::string source = input_file_path();
    if (ensure_folder(failed_folder)) {
        // Never replace an earlier file of the same name: a random prefix makes the name unique.
        std::string target = join_path(failed_folder, current_file_name);
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (platform::rename_no_replace(source, target)) {
                report("Input file moved to " + target);
                return;
            }
            if (!platform::file_exists(target)) break;  // the move failed for another reason
            const std::string prefix = random_temp_name("");
            target = join_path(failed_folder,
                               prefix.substr(1, prefix.find('_') - 1) + "_" + current_file_name);
        }
    }
    report("Error: " + source + " could not be moved to " + failed_folder +
           " - it stays in the input folder");
}

void Tkelvad_main::import_ongq_result() {
    line_list_t& lines = *line_list;
    lines = load_lines(input_file_path());
    const std::size_t size = lines.size();
    bool write_scan = size > 10;

    if (write_scan) {
        std::size_t index = search_line(lines, 0, "stamp");
        if (index == size) {
            show_message("Unexpected file structure - keyword \"stamp\" not found!");
            // The record still holds the previous file's values: writing it under this file's
            // name would hand the analysis a scan that was never measured.
            write_scan = false;
        } else {
            const std::size_t stamp = index++;
            const auto ends_inside_block = [&](const std::string& where) {
                move_to_failed("Error: " + current_file_name + " ends inside " + where +
                               " - no scan file written");
            };
            if (index == size) return ends_inside_block("the position block");
            scan_name = semicolon_field(lines[index], 2);
            std::int32_t n = 0;
            while (index < size && has_whole_number_in_field_4(lines[index])) {
                ++n;
                ++index;
            }
            if (index == size) return ends_inside_block("the position block");
            const std::size_t block_end = index;
            sc_data->set_dimensions(n, 3, spectrum_points);
            for (std::int32_t k = 0; k < n; ++k)
                sc_data->positions[k] =
                    *parse_whole_number(semicolon_field(lines[stamp + 1 + k], 4));
            restore_base_product();

            index = block_end + 1;
            for (std::int32_t kind = 0; kind < 3; ++kind) {
                index = search_line(lines, index, "spectrum");
                // Without positions no value line is read, so a missing spectrum line is
                // harmless then.
                if (index == size && n > 0)
                    return ends_inside_block("its spectra (spectrum " + std::to_string(kind + 1) +
                                             " missing)");
                index = std::min(index + 1, size);
                for (std::int32_t p = 0; p < n; ++p, ++index) {
                    if (index >= size)
                        return ends_inside_block("its spectra (spectrum " +
                                                 std::to_string(kind + 1) + ")");
                    field_reader fields(lines[index]);
                    for (std::int32_t k = 0; k < spectrum_points; ++k) {
                        const std::string_view field = fields.next();
                        const std::optional<double> value = parse_decimal_number(field);
                        if (value)
                            sc_data->values[sc_data->value_index(p, kind, k)] =
                                static_cast<float>(*value);
                        else
                            show_message("Error reading spectral value: " + std::string(field));
                    }
                }
            }
        }
    }

    if (write_scan) {
        std::string name = scan_name;
        if (!name.empty() && !is_safe_file_name(name)) {
            report("Scan name \"" + name +
                   "\" is no plain file name - the scan file is named "
                   "after the input file");
            name.clear();
        }
        if (name.empty()) name = current_file_name.substr(0, current_file_name.size() - 4);
        const std::string target = total_output_path + sep + name + ".scn";
        if (!sc_data->write_scan_file(target))
            return move_to_failed("Error writing scan file " + target);
    }

    archive_input_file();
    report("Processed ONGQ result: " + current_file_name);
    platform::delete_file(input_file_path());
}

void Tkelvad_main::archive_input_file() {
    const std::string archive_root = orvel_path + "archive";
    if (!platform::folder_exists(archive_root)) return;
    const auto descend = [this](const std::string& level) {
        archive_path += sep + level;
        if (!ensure_folder(archive_path))
            action_label.set_text(archive_path + " could not be created!");
    };
    archive_path = archive_root;
    descend(current_product);
    const civil_time today = civil_time_of(platform::local_now_ms());
    descend(std::to_string(today.year));
    descend(std::to_string(today.month));
    descend(std::to_string(today.day));
    descend(be_name);

    const std::string temporary = random_temp_name(archive_path);
    platform::copy_file_replace(input_file_path(), temporary);
    const std::string target = archive_path + sep + current_file_name;
    if (!platform::rename_no_replace(temporary, target)) {
        action_label.set_text("Error renaming file " + temporary + " to " + target);
        platform::delete_file(temporary);
    }
}

}  // namespace kelvad
