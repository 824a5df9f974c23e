#include "scanner/orvel_spectrum_scanner_unit.h"

#include <string_view>

#include "foundation/durable_files.h"
#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "platform/platform.h"
#include "scanner/scanner_configuration.h"

namespace kelvad {
namespace {

ui::bounds at(int left, int top, int width, int height) {
    return {left, top, width, height};
}

}  // namespace

bool replace_file_contents(const std::string& path, const std::string& bytes) {
    const placement placed = put_in_place(path, bytes, true);
    if (placed) return true;
    if (placed.failed_step == placement_step::temporary_file)
        return platform::overwrite_file_durable(path, bytes);
    return false;
}

TORVEL_spectrum_scanner::TORVEL_spectrum_scanner(ui::toolkit& tk)
    : ui::form(tk),
      Label5(*this, "Label5"),
      Label1(*this, "Label1"),
      input_path_editor(*this, "input_path_editor"),
      bp_lb(*this, "bp_lb"),
      ORVEL_path_label(*this, "ORVEL_path_label"),
      cp_lab(*this, "cp_lab"),
      product_label(*this, "product_label"),
      be_lab(*this, "be_lab"),
      output_path_editor(*this, "output_path_editor"),
      dgt_lab(*this, "dgt_lab"),
      total_output_path_label(*this, "total_output_path_label"),
      Label3(*this, "Label3"),
      action_label(*this, "action_label"),
      active_button(*this, "active_button"),
      clear_button(*this, "clear_button"),
      automatic_product_identification(*this, "automatic_product_identification"),
      start_active_check_box(*this, "start_active_check_box"),
      orvel_postbake_path_label(*this, "orvel_postbake_path_label"),
      postbake_product_label(*this, "postbake_product_label"),
      postbake_total_output_path_label(*this, "postbake_total_output_path_label"),
      postbake_output_path_editor(*this, "postbake_output_path_editor"),
      Label4b(*this, "Label4b"),
      be_insitu_editor(*this, "be_insitu_editor"),
      Timer1(*this, "Timer1"),
      alive_timer(*this, "alive_timer") {
    set_caption("ORVEL  scanner");
    set_client_size(627, 258);
    font = {"Tahoma", 11, false};  // 8 points at 96 dots per inch

    const int caption_left = 16, caption_width = 168, value_left = 190, value_width = 420;
    Label5.set_text("ORVEL spectrum import");
    Label5.font = {"Times New Roman", 21, false};
    Label5.place = at(caption_left, 8, 420, 28);

    auto caption_row = [&](ui::control& caption, const char* text, int top) {
        caption.set_text(text);
        caption.place = at(caption_left, top + 3, caption_width, 16);
    };
    caption_row(Label1, "Input path:", 44);
    input_path_editor.set_text(design_input_path_text);
    input_path_editor.place = at(value_left, 44, value_width, 21);
    caption_row(bp_lb, "ORVEL path:", 68);
    ORVEL_path_label.place = at(value_left, 71, value_width, 16);
    caption_row(cp_lab, "Current product:", 90);
    product_label.place = at(value_left, 93, value_width, 16);
    caption_row(be_lab, "BE:", 112);
    output_path_editor.set_text(design_be_name_text);
    output_path_editor.place = at(value_left, 112, 220, 21);
    caption_row(dgt_lab, "Data go to:", 136);
    total_output_path_label.set_text("---");
    total_output_path_label.place = at(value_left, 139, value_width, 16);
    caption_row(Label3, "Last action:", 158);
    action_label.set_text("------");
    action_label.place = at(value_left, 161, value_width, 16);

    active_button.set_text("Active");
    active_button.place = at(value_left, 190, 110, 28);
    active_button.on_click = [this] { active_buttonClick(); };
    clear_button.set_text("Clear input");
    clear_button.place = at(value_left + 120, 190, 110, 28);
    clear_button.on_click = [this] { clear_buttonClick(); };

    automatic_product_identification.set_text("Automatic product identification");
    automatic_product_identification.place = at(caption_left, 226, 260, 20);
    automatic_product_identification.set_visible(false);
    start_active_check_box.set_text("Start active");
    start_active_check_box.place = at(value_left + 250, 194, 120, 20);
    start_active_check_box.set_visible(false);

    // The postbake and insitu controls belong to other scanner variants; this one keeps them
    // hidden but fills them, so they stay in their places of the design.
    for (ui::label* l :
         {&orvel_postbake_path_label, &postbake_product_label, &postbake_total_output_path_label}) {
        l->set_text("---");
        l->set_visible(false);
    }
    orvel_postbake_path_label.place = at(value_left + 230, 71, 190, 16);
    postbake_product_label.place = at(value_left + 230, 93, 190, 16);
    postbake_total_output_path_label.place = at(value_left + 230, 139, 190, 16);
    postbake_output_path_editor.set_text(design_be_name_text);
    postbake_output_path_editor.place = at(value_left + 230, 112, 190, 21);
    postbake_output_path_editor.set_visible(false);
    Label4b.set_text("BE insitu:");
    Label4b.place = at(caption_left + 290, 226, 70, 16);
    Label4b.set_visible(false);
    be_insitu_editor.set_text("Specify BE name here");
    be_insitu_editor.place = at(value_left + 180, 223, 190, 21);
    be_insitu_editor.set_visible(false);

    Timer1.set_enabled(false);
    Timer1.set_interval(1000);
    Timer1.on_timer = [this] { Timer1Timer(); };
    alive_timer.set_interval(5000);
    alive_timer.set_enabled(true);
    alive_timer.on_timer = [this] { alive_timerTimer(); };
}

TORVEL_spectrum_scanner::~TORVEL_spectrum_scanner() = default;

// Nothing in the base window: the variants bring their own cycle, output folder and product.
void TORVEL_spectrum_scanner::timer_action() {}
void TORVEL_spectrum_scanner::delete_action() {}
void TORVEL_spectrum_scanner::compose_total_output_path() {}
void TORVEL_spectrum_scanner::set_new_product() {}
std::string TORVEL_spectrum_scanner::new_name(const std::string& input_file_name) {
    return input_file_name;
}
void TORVEL_spectrum_scanner::read_additional_postbake_ini_data(const line_list_t&) {}
void TORVEL_spectrum_scanner::read_additional_orvel_scanner_ini_data(const line_list_t&) {}

void TORVEL_spectrum_scanner::switch_timer_state() {
    if (Timer1.enabled()) {
        Timer1.set_enabled(false);
        active_button.set_colour(ui::font_colour::black);
        active_button.set_text("Start scan");
        action_label.set_text("Not scanning ... ");
    } else {
        active_button.set_text("Stop scan");
        active_button.set_colour(ui::font_colour::red);
        action_label.set_text("Scanning " + input_path + " ... ");
        Timer1.set_enabled(true);
    }
}

void TORVEL_spectrum_scanner::set_timer_state(bool on) {
    if (on) {
        active_button.set_text("Stop scan");
        active_button.set_colour(ui::font_colour::red);
        action_label.set_text("Scanning " + input_path + " ... ");
        Timer1.set_enabled(true);
    } else {
        Timer1.set_enabled(false);
        active_button.set_colour(ui::font_colour::black);
        active_button.set_text("Start scan");
        action_label.set_text("Not scanning ... ");
    }
}

void TORVEL_spectrum_scanner::FormCreate() {
    set_startup_complete(false);
    minimum_file_age = 0.0f;
    read_orvel_scanner_ini();
    read_orvel_path_ini();
    read_orvel_postbake_path_ini();
    read_orvel_pswd_bin();
    compose_total_output_path();
    const std::string program_name = program_base_name();
    alive_file_path =
        orvel_path + "live_signals" + platform::path_separator + program_name + ".alv";
    switch_timer_state();
    alive_timer.set_enabled(true);
    set_startup_complete(true);
}

void TORVEL_spectrum_scanner::read_orvel_scanner_ini() {
    const std::string path = program_file_path(scanner_ini_name);
    if (!platform::file_exists(path)) {
        input_path.clear();
        be_name.clear();
        input_path_editor.set_text("");
        output_path_editor.set_text("");
        return;
    }
    const line_list_t lines = load_lines(path);
    const std::optional<scanner_ini_settings> settings = scanner_ini_settings_of(lines);
    if (!settings) {
        show_message("Error: orvel_scanner.ini does not contain sufficient information!");
        return;
    }
    input_path = settings->input_path;
    input_path_editor.set_text(input_path);
    be_name = settings->be_name;
    output_path_editor.set_text(be_name);
    automatic_product_identification.set_checked(settings->automatic_product_identification);
    scan_file_split = settings->scan_file_split;
    spectrum_points = settings->spectrum_points;
    if (settings->rejected_spectrum_points)
        show_message(rejected_spectrum_points_message(*settings->rejected_spectrum_points));
    be_insitu_name = settings->be_insitu_name;
    minimum_file_age = settings->minimum_file_age;
    save_scanner_ini = settings->save_scanner_ini;
    scanner_ini_tail_ = settings->tail;

    be_insitu_editor.set_text(be_insitu_name);
    read_additional_orvel_scanner_ini_data(lines);
}

void TORVEL_spectrum_scanner::read_orvel_path_ini() {
    orvel_path = configured_orvel_path();
    ORVEL_path_label.set_text(orvel_path);
}

void TORVEL_spectrum_scanner::read_orvel_postbake_path_ini() {
    const std::string path = program_file_path(postbake_ini_name);
    if (platform::file_exists(path)) {
        const line_list_t lines = load_lines(path);
        postbake_orvel_path = with_trailing_separator(first_line_or_error(lines, path));
        if (lines.size() >= 2) {
            postbake_be_name = lines[1];
            postbake_output_path_editor.set_text(postbake_be_name);
        }
        read_additional_postbake_ini_data(lines);
    } else {
        postbake_orvel_path.clear();
    }
    orvel_postbake_path_label.set_text(postbake_orvel_path);
}

void TORVEL_spectrum_scanner::read_orvel_pswd_bin() {
    const std::string path = program_file_path(password_file_name);
    if (!platform::file_exists(path)) return;
    password_reading reading = read_password_file(path);
    password = std::move(reading.password);
    if (!reading.error.empty()) show_message(reading.error);
}

void TORVEL_spectrum_scanner::FormDestroy() {
    line_list_t lines = {
        input_path_editor.text(),
        output_path_editor.text(),
        automatic_product_identification.checked() ? "True" : "False",
        std::to_string(scan_file_split),
        std::to_string(spectrum_points),
        be_insitu_name,
        "Insitu input path",
        insitu_input_path,
    };
    const std::string path = program_file_path(scanner_ini_name);
    if (!save_scanner_ini || is_read_only(path)) return;
    lines.insert(lines.end(), scanner_ini_tail_.begin(), scanner_ini_tail_.end());
    if (!replace_file_contents(path, ansi_text_with_crlf(lines)))
        throw kelvad_error("Error writing " + path);
}

void TORVEL_spectrum_scanner::Timer1Timer() {
    // A click between two files of a running action can enable Timer1 again; its tick must not
    // start a second action inside the first.
    if (action_running_ || !startup_complete_) return;
    struct running_flag {
        bool& flag;
        explicit running_flag(bool& f) : flag(f) { flag = true; }
        ~running_flag() { flag = false; }
    } running(action_running_);
    timer_action();
}

void TORVEL_spectrum_scanner::alive_timerTimer() {
    // Before the start-up has named the alive file there is nothing to signal.
    if (!startup_complete_ || alive_file_path.empty()) return;
    // The alive file tells that the folder is served; a scanner that waits must not say so.
    if (another_scanner_serves) return;
    if (platform::file_exists(alive_file_path)) return;
    const std::string folder = orvel_path + "live_signals";
    if (!platform::folder_exists(folder)) platform::create_folder(folder);
    // The program's own temporary name, so that one left by a crash is known and removed.
    const std::string temporary = own_temp_name(folder);
    if (!platform::write_file_bytes(temporary, {}))
        throw kelvad_error("Cannot create file " + temporary);
    platform::rename_no_replace(temporary, alive_file_path);
}

void TORVEL_spectrum_scanner::active_buttonClick() {
    if (!startup_complete_) {
        show_message(
            "The start-up did not complete; scanning stays off. Correct the configuration "
            "and start the program again.");
        return;
    }
    switch_timer_state();
}

void TORVEL_spectrum_scanner::clear_buttonClick() {
    delete_action();
}

}  // namespace kelvad
