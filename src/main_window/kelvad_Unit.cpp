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
      Memo1(*this, "Memo1") {
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

std::string Tkelvad_main::current_product_folder() const {
    return orvel_path + "database" + sep + "current_product";
}

void Tkelvad_main::compose_total_output_path() {
    input_path = with_trailing_separator(input_path_editor.text());
    be_name = output_path_editor.text();
    std::int32_t count = 0;
    current_product = first_file(current_product_folder(), "*.*", count);
    product_label.set_text(current_product);
    total_output_path = orvel_path + "database" + sep + "products" + sep + current_product + sep +
                        "measurements" + sep + be_name + sep + "new";
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

std::string Tkelvad_main::output_path(const std::string& measurement_name) {
    std::int32_t count = 0;
    current_product = first_file(current_product_folder(), "*.*", count);
    return orvel_path + "database" + sep + "products" + sep + current_product + sep +
           "measurements" + sep + measurement_name + sep + "new";
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
