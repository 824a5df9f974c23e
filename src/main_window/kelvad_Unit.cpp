#include "main_window/kelvad_Unit.h"

#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

constexpr char sep = platform::path_separator;

const line_list_t& memo1_lines() {
    static const line_list_t lines = {
        "Zeiss Optoplex NGQ generates *.csv files which contain all spectra of a traverse scan. ",
        "These files are written to a network directory which is visible to the Kelvad (read and "
        "write).",
        "",
        "The Kelvad program reads the files, exports the data into the ORVEL system for analysis, "
        "and finally ",
        "deletes all processed files.",
        "",
        "If the scanner program is not running or has a technical problem that prohibits further "
        "processing of files, the generation ",
        "of new data files by Optoplex will eventually flood the folder with files. This can lead "
        "to a serious Windows problem ",
        "because the operating system has problems handling folders with many thousands of files.",
        "It is therefore very important to run the ORVEL cleaner program all the time, and include "
        "the Optoplex transfer folder to ",
        "the directories which are watched by the cleaner program.",
    };
    return lines;
}

}  // namespace

Tkelvad_main::Tkelvad_main(ui::toolkit& tk)
    : TFS_scanner_main(tk),
      Label2(*this, "Label2"),
      Message_board(*this, "Message_board"),
      Memo1(*this, "Memo1"),
      health_timer(*this, "health_timer") {
    set_caption("Kelvad");
    set_client_size(627, 593);
    Label5.set_text("Kelvad");
    be_lab.set_text("BE for NGQ traverse spectra:");
    automatic_product_identification.set_visible(false);

    Label2.set_text("Messages:");
    Label2.place = {16, 232, 168, 16};
    Message_board.place = {16, 250, 595, 210};
    Memo1.place = {16, 468, 595, 113};
    Memo1.set_lines(memo1_lines());

    health_timer.set_enabled(false);
    health_timer.set_interval(default_health_interval_s * 1000);
    health_timer.on_timer = [this] { health_timerTimer(); };
}

Tkelvad_main::~Tkelvad_main() {
    // Normally every tick completes its hand-offs; this is for a tick cut short.
    try {
        complete_hand_offs();
    } catch (...) {
    }
}

void Tkelvad_main::FormCreate() {
    TFS_scanner_main::FormCreate();
    set_startup_complete(false);
    device_map = std::make_unique<sprachen>();
    const std::string map_file = user_data_path("device_map.bin");
    if (platform::file_exists(map_file)) {
        device_map->load_file(map_file);
        report("Device map");
        for (std::int32_t r = 1; r < device_map->word_count; ++r)
            report(device_map->cell(r, 0) + "   " + device_map->cell(r, 1));
        report("");
    }
    health_timer.set_enabled(true);
    set_startup_complete(true);
}

void Tkelvad_main::initialize_sc_data() {
    sc_data = std::make_unique<scan_data>();
    sc_data->set_dimensions(32, 3, spectrum_points);
    const float last =
        static_cast<float>(380 + 5 * (static_cast<std::int64_t>(spectrum_points) - 1));
    for (std::size_t kind = 0; kind < sc_data->first_wavelengths.size(); ++kind) {
        sc_data->first_wavelengths[kind] = 380.0f;
        sc_data->last_wavelengths[kind] = last;
        sc_data->kind_point_counts[kind] = spectrum_points;
    }
}

std::string current_product_folder_of(const std::string& orvel_path) {
    return orvel_path + "database" + sep + "current_product";
}

std::string current_product_in(const std::string& orvel_path) {
    std::int32_t count = 0;
    return first_file(current_product_folder_of(orvel_path), "*.*", count);
}

std::string measurement_output_folder(const std::string& orvel_path, const std::string& product,
                                      const std::string& measurement) {
    return orvel_path + "database" + sep + "products" + sep + product + sep + "measurements" + sep +
           measurement + sep + "new";
}

std::string Tkelvad_main::current_product_folder() const {
    return current_product_folder_of(orvel_path);
}

void Tkelvad_main::compose_total_output_path() {
    input_path = with_trailing_separator(input_path_editor.text());
    be_name = output_path_editor.text();
    current_product = current_product_in(orvel_path);
    product_label.set_text(current_product);
    total_output_path = measurement_output_folder(orvel_path, current_product, be_name);
    total_output_path_label.set_text(total_output_path);
}

void Tkelvad_main::set_new_product() {
    std::int32_t count = 0;
    const std::string marker = first_file(current_product_folder(), "*.*", count);
    // Without a marker there is nothing to rename; renaming the folder itself would be wrong.
    if (marker.empty()) return;
    platform::rename_no_replace(join_path(current_product_folder(), marker),
                                join_path(current_product_folder(), current_product));
}

bool Tkelvad_main::folder_present(const std::string& folder) {
    if (platform::folder_exists(folder)) return true;
    std::string missing = folder;
    while (missing.size() > 1 && missing.back() == sep) missing.pop_back();
    std::string reason = missing + " does not exist";
    // Without a current product the output folder names no product: the marker is missing.
    if (folder == total_output_path && current_product.empty()) {
        missing = current_product_folder();
        reason = missing + (platform::folder_exists(missing) ? " holds no product marker"
                                                             : " does not exist");
    }
    if (reason != missing_folder_reason_)
        report("Waiting: " + reason + " - result files stay in the transfer folder");
    missing_folder_ = missing;
    missing_folder_reason_ = reason;
    return false;
}

void Tkelvad_main::end_folder_wait() {
    if (missing_folder_.empty()) return;
    // A changed product, BE or transfer folder may end the wait while that folder stays away.
    report("Resumed: " + missing_folder_ +
           (platform::folder_exists(missing_folder_) ? " is back" : " is no longer needed"));
    missing_folder_.clear();
    missing_folder_reason_.clear();
}

std::string Tkelvad_main::output_path(const std::string& measurement_name) {
    current_product = current_product_in(orvel_path);
    return measurement_output_folder(orvel_path, current_product, measurement_name);
}

std::string Tkelvad_main::base_product_name(const std::string& product) {
    std::string result = product;
    if (const auto at = product.find("maintenance"); at != std::string::npos)
        result = trim_blanks_and_controls(product.substr(0, at));
    if (const auto at = product.find("postbake"); at != std::string::npos)
        result = trim_blanks_and_controls(product.substr(0, at));
    return result;
}

void Tkelvad_main::restore_base_product() {
    const std::string base = base_product_name(current_product);
    if (trim_blanks_and_controls(base) == trim_blanks_and_controls(current_product)) return;
    current_product = base;
    set_new_product();
    compose_total_output_path();
}

}  // namespace kelvad
