#include "main_window/configuration_check.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

#include "foundation/durable_files.h"
#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "foundation/sprachen.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"
#include "scanner/scanner_configuration.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;

// A drive's root keeps its separator: "C:" alone names the drive's working folder.
std::string without_trailing_separator(std::string folder) {
    while (folder.size() > 1 && folder.back() == sep && folder[folder.size() - 2] != ':')
        folder.pop_back();
    return folder;
}

// "2.5", "0", "12": a number as the operator wrote it, without trailing zeros.
std::string plain_number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

class report_builder {
  public:
    void ok(const std::string& text) { report_.lines.push_back("ok    " + text); }
    void fail(const std::string& text) {
        report_.lines.push_back("FAIL  " + text);
        ++report_.problems;
    }
    void say(const std::string& text) { report_.lines.push_back("      " + text); }

    check_report finish() {
        say(report_.would_convert()
                ? "Kelvad would convert result files now."
                : "Kelvad would not convert result files now: " + std::to_string(report_.problems) +
                      (report_.problems == 1 ? " problem" : " problems") + " (FAIL) above.");
        return std::move(report_);
    }

  private:
    check_report report_;
};

// The texts of the two edits once the start-up has read orvel_scanner.ini, and what it set.
struct scanner_ini_outcome {
    enum class state { missing, too_short, read } file = state::missing;
    std::string input_text;
    std::string be_text;
    std::optional<scanner_ini_settings> settings;
};

// Raises kelvad_error for a file that cannot be read, as the start-up does.
scanner_ini_outcome read_scanner_ini() {
    scanner_ini_outcome outcome;
    const std::string path = program_file_path(scanner_ini_name);
    if (!platform::file_exists(path)) return outcome;
    outcome.settings = scanner_ini_settings_of(load_lines(path));
    if (!outcome.settings) {
        outcome.file = scanner_ini_outcome::state::too_short;
        outcome.input_text = design_input_path_text;
        outcome.be_text = design_be_name_text;
        return outcome;
    }
    outcome.file = scanner_ini_outcome::state::read;
    outcome.input_text = outcome.settings->input_path;
    outcome.be_text = outcome.settings->be_name;
    return outcome;
}

// The transfer folder as the cycle composes it, or nothing when the edit is empty (the cycle
// never scans the bare root then).
std::optional<std::string> transfer_folder_of(const std::string& input_text) {
    const std::string input_path = with_trailing_separator(input_text);
    if (input_path.size() == 1 && input_path[0] == sep) return std::nullopt;
    return without_trailing_separator(input_path);
}

// The configuration files the start-up reads before it composes any folder. False when the
// start-up would stop at one of them.
bool check_configuration_files(report_builder& report, scanner_ini_outcome& scanner_ini,
                               std::string& orvel_path) {
    const std::string stops = " - the start-up stops here";
    try {
        scanner_ini = read_scanner_ini();
    } catch (const std::exception& e) {
        report.fail(std::string(scanner_ini_name) + ": " + e.what() + stops);
        return false;
    }
    switch (scanner_ini.file) {
        case scanner_ini_outcome::state::missing:
            report.fail(std::string(scanner_ini_name) +
                        ": missing - no transfer folder and no BE are configured");
            break;
        case scanner_ini_outcome::state::too_short:
            report.fail(std::string(scanner_ini_name) +
                        ": fewer than two lines - the start-up shows \"Error: orvel_scanner.ini "
                        "does not contain sufficient information!\"");
            break;
        case scanner_ini_outcome::state::read:
            report.ok(std::string(scanner_ini_name) + ": read");
            if (scanner_ini.settings->rejected_spectrum_points)
                report.fail(std::string(scanner_ini_name) + ": " +
                            rejected_spectrum_points_message(
                                *scanner_ini.settings->rejected_spectrum_points) +
                            " (a box at start)");
            break;
    }

    try {
        orvel_path = configured_orvel_path();
    } catch (const std::exception& e) {
        report.fail(std::string(orvel_path_ini_name) + ": " + e.what() + stops);
        return false;
    }

    const std::string postbake = program_file_path(postbake_ini_name);
    if (platform::file_exists(postbake)) {
        try {
            first_line_or_error(load_lines(postbake), postbake);
        } catch (const std::exception& e) {
            report.fail(std::string(postbake_ini_name) + ": " + e.what() + stops);
            return false;
        }
    }

    const std::string password = program_file_path(password_file_name);
    if (platform::file_exists(password)) {
        const password_reading reading = read_password_file(password);
        if (!reading.error.empty())
            report.fail(std::string(password_file_name) + ": \"" + reading.error +
                        "\" (a box at start)");
    }
    return true;
}

// Exists, can be listed, and a file can be made and removed in it: the readiness test renames
// result files there, and every converted input is deleted from it.
bool check_transfer_folder(report_builder& report, const std::string& folder) {
    const std::string what = "transfer folder " + folder + ": ";
    if (!platform::folder_exists(folder)) {
        report.fail(what + "does not exist - result files cannot arrive");
        return false;
    }
    if (!platform::folder_listable(folder)) {
        report.fail(what + "exists, not readable - " + platform::last_error().text);
        return false;
    }
    // The program's own temporary name: a probe left by a crash is known and removed.
    const std::string probe = own_temp_name(folder);
    if (!platform::write_new_file_durable(probe, {})) {
        report.fail(what + "exists, readable, not writable - " + platform::last_error().text);
        platform::delete_file(probe);
        return true;
    }
    if (!platform::delete_file(probe)) {
        report.fail(what + "exists, readable, a file made there cannot be deleted - " +
                    platform::last_error().text);
        return true;
    }
    report.ok(what + "exists, readable, writable");
    return true;
}

void check_device_map(report_builder& report, const std::string& orvel_path,
                      const std::string& product) {
    const std::string path = user_data_path("device_map.bin");
    if (!platform::file_exists(path)) {
        report.say("device map " + path +
                   ": none - a device's plate results go to the measurement named by its number");
        return;
    }
    sprachen map;
    map.load_file(path);
    const std::int32_t devices = std::max(map.word_count - 1, 0);
    report.say("device map " + path + ": " + std::to_string(devices) +
               (devices == 1 ? " device" : " devices"));
    for (std::int32_t r = 1; r < map.word_count; ++r) {
        const std::string number = map.cell(r, 0);
        // The alias the plate import would look up for this number.
        const std::string alias = map.translate(number, 1);
        const std::string folder = measurement_output_folder(orvel_path, product, alias);
        const std::string what = "device " + number + " alias " + alias + ": " + folder;
        if (platform::folder_exists(folder))
            report.ok(what + " exists");
        else
            report.fail(what + " does not exist - its plate results go to failed");
    }
}

void check_lock(report_builder& report, const std::string& folder) {
    const std::string path = with_trailing_separator(folder) + transfer_lock_file_name;
    // Taken and released at once: the check never holds the folder.
    const platform::folder_lock lock = platform::folder_lock::try_take(path);
    switch (lock.status()) {
        case platform::folder_lock::state::held:
            report.ok("lock " + path + ": free");
            break;
        case platform::folder_lock::state::held_elsewhere:
            report.fail("lock " + path + ": held by another Kelvad - this one would wait");
            break;
        case platform::folder_lock::state::failed:
            report.say("lock " + path + ": cannot be made - " + platform::last_error().text +
                       " - Kelvad scans without it");
            break;
    }
}

void check_waiting_files(report_builder& report, const std::string& folder) {
    const std::vector<std::string> names =
        platform::list_plain_files(with_trailing_separator(folder) + "*.csv");
    if (names.empty()) {
        report.say("result files waiting: none");
        return;
    }
    const std::int64_t now = platform::utc_now_ns();
    std::int64_t oldest_ns = 0;
    for (const std::string& name : names) {
        if (const auto stamp = platform::stamp_of(join_path(folder, name)))
            oldest_ns = std::max(oldest_ns, now - stamp->modified_ns);
    }
    report.say("result files waiting: " + std::to_string(names.size()) + ", the oldest " +
               std::to_string(oldest_ns / 1'000'000'000) + " s old");
}

}  // namespace

check_report check_configuration() {
    report_builder report;
    report.say("configuration folder: " + program_file_path(""));

    scanner_ini_outcome scanner_ini;
    std::string orvel_path;
    if (!check_configuration_files(report, scanner_ini, orvel_path)) return report.finish();

    const std::optional<std::string> transfer = transfer_folder_of(scanner_ini.input_text);
    bool transfer_usable = false;
    if (!transfer)
        report.fail("transfer folder: none configured (line 1 of orvel_scanner.ini)");
    else
        transfer_usable = check_transfer_folder(report, *transfer);

    const std::string orvel_what = "ORVEL folder " + orvel_path + ": ";
    if (platform::folder_exists(orvel_path))
        report.ok(orvel_what + "exists");
    else
        report.fail(orvel_what + "does not exist");

    const std::string marker_folder = current_product_folder_of(orvel_path);
    const std::string product = current_product_in(orvel_path);
    if (!platform::folder_exists(marker_folder)) {
        report.fail("current product marker " + marker_folder + ": does not exist");
    } else if (product.empty()) {
        report.fail("current product marker " + marker_folder +
                    ": holds no file naming the product");
    } else {
        report.ok("current product marker " + marker_folder + ": " + product);
        const std::string base = Tkelvad_main::base_product_name(product);
        if (trim_blanks_and_controls(base) != trim_blanks_and_controls(product))
            report.say("the next traverse result switches the product back to " + base);
    }

    const std::string be_folder =
        measurement_output_folder(orvel_path, product, scanner_ini.be_text);
    if (platform::folder_exists(be_folder))
        report.ok("BE folder for scan files " + be_folder + ": exists");
    else
        report.fail("BE folder for scan files " + be_folder +
                    ": does not exist - result files stay in the transfer folder");

    check_device_map(report, orvel_path, product);

    const std::string archive = orvel_path + "archive";
    report.say("archive " + archive +
               (platform::folder_exists(archive)
                    ? ": exists - traverse results are archived"
                    : ": does not exist - traverse results are not archived"));
    const std::string live_signals = orvel_path + "live_signals";
    if (platform::folder_exists(live_signals))
        report.ok("live_signals " + live_signals + ": exists");
    else
        report.say("live_signals " + live_signals + ": does not exist - made with the alive file");

    const float minimum_age = scanner_ini.settings ? scanner_ini.settings->minimum_file_age : 0.0f;
    report.say("minimum file age: " + plain_number(minimum_age) + " s");

    if (transfer_usable) {
        check_lock(report, *transfer);
        check_waiting_files(report, *transfer);
    }
    return report.finish();
}

std::string configured_transfer_folder() {
    const std::optional<std::string> folder = transfer_folder_of(read_scanner_ini().input_text);
    return folder ? *folder : "(none)";
}

}  // namespace kelvad
