// The result file cycle: every tick takes the ready "*.csv" files of the transfer folder one at
// a time, and the traverse import turns each traverse result into a scan file.

#include <algorithm>
#include <cstdlib>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include <cmath>
#include <new>

#include "foundation/durable_files.h"
#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"
#include "scan_record/scan_data.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;
constexpr int most_passes_per_tick = 31;
// A traverse result of this size would describe a scan far past the largest scan file; it is
// refused before it is read.
constexpr std::uint64_t largest_result_file = 1ull << 30;

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
    if (name == "." || name == "..") return false;
    // Windows drops a final dot or blank when it opens a name, so such a name is not the one
    // that would be written.
    if (name.back() == '.' || name.back() == ' ') return false;
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
    // Device names open the device, whatever extension follows them.
    const std::string stem = ascii_upper(name.substr(0, name.find('.')));
    static const std::string devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const auto& d : devices)
        if (trim_blanks_and_controls(stem) == d) return false;
    if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
        stem[3] >= '1' && stem[3] <= '9')
        return false;
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
    if (!folder_present(input_path)) return;
    if (!claim_transfer_folder()) return;
    if (stranded_free_test_) restore_stranded_free_tests();
    if (!folder_present(total_output_path)) return;
    end_folder_wait();

    // One listing a tick, put in order only as far as files are taken: a backlog of many
    // thousand files costs the tick no more than listing them. A file that is not ready is
    // passed over, so that one stuck file never holds back the files behind it.
    platform::file_listing listing(input_path + file_mask);
    forget_files_gone(listing.names());
    if (listing.size() == 0) {
        action_label.set_text("No files to process ...");
        return;
    }
    action_label.set_text("Number of files to process: " + std::to_string(listing.size()));
    Timer1.set_enabled(false);

    try {
        take_files(listing);
    } catch (...) {
        // What was converted before the fault is handed off all the same.
        complete_hand_offs();
        throw;
    }
    complete_hand_offs();
}

void Tkelvad_main::take_files(platform::file_listing& listing) {
    int taken = 0;
    std::string name;
    while (taken < most_passes_per_tick && listing.next(name)) {
        current_file_name = name;
        action_label.set_text(current_file_name);
        const std::string path = input_file_path();
        if (retry_pending_step()) {
            process_pending_events();
            continue;
        }
        if (file_is_ready(path)) {
            action_label.set_text("");
            clear_reason(watch_of_current_file(), path);
            handle_result_file();
            ++taken;
        } else {
            action_label.set_text(path + " could not be copied - the file is open");
        }
        process_pending_events();
    }
}

void Tkelvad_main::forget_files_gone(const std::vector<std::string>& names) {
    // The watches belong to one transfer folder; a new folder starts with none.
    if (watched_folder_ != input_path) {
        for (const auto& [name, watch] : watches_)
            if (watch.reported) report("resolved: " + watched_folder_ + sep + name);
        watches_.clear();
        watched_folder_ = input_path;
    }
    if (watches_.empty()) return;
    for (auto& [name, watch] : watches_) watch.seen = false;
    for (const std::string& name : names) {
        const auto found = watches_.find(name);
        if (found != watches_.end()) found->second.seen = true;
    }
    for (auto it = watches_.begin(); it != watches_.end();) {
        if (it->second.seen) {
            ++it;
            continue;
        }
        // Gone from the folder: whatever was waiting is over.
        if (it->second.reported) report("resolved: " + input_path + sep + it->first);
        it = watches_.erase(it);
    }
}

bool Tkelvad_main::file_is_ready(const std::string& path) {
    file_watch& watch = watch_of_current_file();
    file_busy = false;
    const std::optional<platform::file_stamp> stamp = platform::stamp_of(path);
    if (!stamp) return false;  // gone meanwhile

    const free_test test = test_file_free(path);
    if (!test.renamed) {
        if (!test.stranded_as.empty()) {
            stranded_free_test_ = true;  // the next tick gives it its name back
            return false;
        }
        file_busy = true;
        // Windows refuses the rename of a file that a writer holds without delete sharing; a
        // refusal for any other reason (no right to change the folder) will not pass.
        if (test.rename_error.in_use || test.rename_error.code == 0)
            note_reason(watch, "waiting: " + path + " is open in another program", true);
        else
            note_reason(watch, "Error: " + path + " cannot be deleted - " + test.rename_error.text,
                        false);
        watch.last_stamp = stamp;
        return false;
    }
    if (test.writer == platform::writer_check::writer) {
        file_busy = true;
        note_reason(watch, "waiting: " + path + " is open in another program", true);
        watch.last_stamp = stamp;
        return false;
    }
    // The exact time of the last write: a time rounded to even seconds would make a file look
    // up to two seconds older than it is.
    const double age_s = static_cast<double>(platform::utc_now_ns() - stamp->modified_ns) / 1e9;
    const float age = static_cast<float>(std::trunc(age_s));
    const bool unchanged = watch.last_stamp && *watch.last_stamp == *stamp;
    watch.last_stamp = stamp;
    if (!(age > minimum_file_age)) {
        note_reason(watch, "waiting: " + path + " is not older than the minimum file age", true);
        return false;
    }
    // Where the system cannot tell whether someone writes (a file of another account, a
    // network share), only a file that has not changed since the last look is taken.
    if (test.writer == platform::writer_check::unknown && !unchanged) {
        note_reason(watch, "waiting: " + path + " is still being written", true);
        return false;
    }
    return true;
}

result_kind Tkelvad_main::result_file_kind(const std::string& file_name) {
    if (ascii_upper(file_name.substr(0, 4)) == "O3PR") return result_kind::o3p_plate_result;
    if (ascii_upper(file_name.substr(0, 5)) == "ONGQR") return result_kind::ongq_traverse_result;
    return result_kind::unknown;
}

void Tkelvad_main::handle_result_file() {
    // Whatever goes wrong with one file ends that file's handling only: it is kept in failed
    // and the cycle goes on with the next.
    const auto give_up = [this](const std::string& why) {
        for (staged_output& output : current_.outputs) discard_staged(output);
        current_.outputs.clear();
        current_.complete = nullptr;
        current_.success.reset();
        move_to_failed("Error: " + current_file_name + " could not be converted - " + why);
    };
    current_ = file_in_hand{};
    current_.name = current_file_name;
    converting_ = true;
    try {
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
    } catch (const std::bad_alloc&) {
        give_up("not enough memory");
    } catch (const std::exception& error) {
        give_up(error.what());
    }
    input_bytes_.clear();
    input_bytes_.shrink_to_fit();
    converting_ = false;
    in_hand_.push_back(std::move(current_));
}

void Tkelvad_main::discard_unknown_file() {
    report("Unknown file type: " + current_file_name);
    report("File deleted: " + current_file_name);
    ++health.unknown;
    finish_input({});
}

bool Tkelvad_main::load_input() {
    const std::string path = input_file_path();
    // The readiness test has just looked at the file; no writer has changed it since.
    const std::optional<platform::file_stamp>& stamp = watch_of_current_file().last_stamp;
    if (stamp && stamp->size > largest_result_file) {
        move_to_failed("Error: " + current_file_name + " is too large to convert (" +
                       std::to_string(stamp->size) + " bytes)");
        return false;
    }
    std::optional<std::string> bytes = platform::read_file_bytes(path);
    if (!bytes) {
        move_to_failed("Error: " + path + " cannot be read - " + platform::last_error().text);
        return false;
    }
    input_bytes_ = std::move(*bytes);
    *line_list = split_lines(input_bytes_);
    return true;
}

void Tkelvad_main::import_ongq_result() {
    if (!load_input()) return;
    line_list_t& lines = *line_list;
    const std::size_t size = lines.size();
    bool write_scan = size > 10;

    if (write_scan) {
        std::size_t index = search_line(lines, 0, "stamp");
        if (index == size) {
            show_file_box("Unexpected file structure - keyword \"stamp\" not found!");
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
            // Weighed before any memory is claimed for it.
            if (!scan_data::fits(n, 3, spectrum_points))
                return move_to_failed("Error: " + current_file_name +
                                      " is too large to convert: " + std::to_string(n) +
                                      " positions of " + std::to_string(spectrum_points) +
                                      " points pass the largest scan file");
            const std::size_t block_end = index;
            sc_data->set_dimensions(n, 3, spectrum_points);
            for (std::int32_t k = 0; k < n; ++k)
                sc_data->positions[k] =
                    *parse_whole_number(semicolon_field(lines[stamp + 1 + k], 4));
            restore_base_product();

            // Values that do not parse keep what the cell held; each goes to the log, and one
            // box per file says so, so that a damaged file cannot hold the line with thousands.
            std::size_t bad_values = 0;
            std::string first_bad;
            std::vector<std::string_view> bad_fields;
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
                    bad_fields.clear();
                    read_decimal_fields(
                        lines[index],
                        std::span<float>(&sc_data->values[sc_data->value_index(p, kind, 0)],
                                         static_cast<std::size_t>(spectrum_points)),
                        bad_fields);
                    for (const std::string_view field : bad_fields) {
                        log_line("Error reading spectral value: " + std::string(field));
                        if (bad_values++ == 0) first_bad = field;
                    }
                }
            }
            if (bad_values > 0)
                show_file_box("Error reading spectral value: " + first_bad +
                              (bad_values > 1 ? " (and " + std::to_string(bad_values - 1) + " more)"
                                              : std::string()));
        }
    }

    std::string target;
    std::optional<std::size_t> scan;
    if (write_scan) {
        std::string name = scan_name;
        if (!name.empty() &&
            (!is_safe_file_name(name) || !platform::name_fits(total_output_path, name + ".scn"))) {
            report("Scan name \"" + name +
                   "\" is no plain file name - the scan file is named "
                   "after the input file");
            name.clear();
        }
        if (name.empty()) name = current_file_name.substr(0, current_file_name.size() - 4);
        target = total_output_path + sep + name + ".scn";
        // Replaces an earlier scan of the same name; a link there is replaced, not followed.
        scan = stage(target, sc_data->scan_file_bytes(), true);
    }
    const std::optional<std::size_t> archive = stage_archive_copy();
    current_.complete = [this, scan, archive, target,
                         name = current_file_name]() -> std::optional<std::vector<std::string>> {
        if (scan) {
            const placement placed = place_output(*scan);
            if (!placed) {
                move_to_failed("Error writing scan file " + target + " - " + placed.reason);
                return std::nullopt;
            }
        }
        if (archive && !place_archive_copy(*archive, target)) return std::nullopt;
        ++health.traverse;
        return std::vector<std::string>{"Processed ONGQ result: " + name};
    };
}

}  // namespace kelvad
