#pragma once
// The base scanner window: configuration beside the program, window state and controls, the
// start and stop of the scan cycle, the alive signal, and the extension interface that scanner
// variants override.

#include <cstdint>
#include <string>

#include "foundation/text.h"
#include "ui/form.h"

namespace kelvad {

class TORVEL_spectrum_scanner : public ui::form {
  public:
    explicit TORVEL_spectrum_scanner(ui::toolkit& tk);
    ~TORVEL_spectrum_scanner() override;

    // The extension interface, in its slot order. An override replaces the inherited one whole.
    virtual void timer_action();
    virtual void delete_action();
    virtual void switch_timer_state();
    virtual void set_timer_state(bool on);
    virtual void compose_total_output_path();
    virtual void set_new_product();
    virtual std::string new_name(const std::string& input_file_name);
    virtual void read_additional_postbake_ini_data(const line_list_t& lines);
    virtual void read_additional_orvel_scanner_ini_data(const line_list_t& lines);

    // Handlers. A variant declares its own FormCreate and runs this one first.
    void FormCreate();
    void FormDestroy();
    void Timer1Timer();
    void alive_timerTimer();
    void active_buttonClick();
    void clear_buttonClick();

    // Window state.
    std::string input_path;
    std::string be_name;
    std::string orvel_path;
    std::string postbake_orvel_path;
    std::string postbake_be_name;
    std::string be_insitu_name;
    std::string insitu_input_path;
    std::string current_product;
    std::string total_output_path;
    std::string postbake_current_product;
    std::string postbake_total_output_path;
    std::string alive_file_path;
    std::int32_t scan_file_split = 0;
    std::int32_t spectrum_points = 0;
    float minimum_file_age = 0.0f;
    bool save_scanner_ini = false;
    std::string password;
    // Another scanner holds the transfer folder: this one neither scans nor signals alive.
    bool another_scanner_serves = false;

    // True once the whole start-up chain has run; the window neither scans nor signals alive
    // with an incomplete one.
    bool startup_complete() const { return startup_complete_; }

    // Controls, in the order of the window's design.
    ui::label Label5;
    ui::label Label1;
    ui::edit input_path_editor;
    ui::label bp_lb;
    ui::label ORVEL_path_label;
    ui::label cp_lab;
    ui::label product_label;
    ui::label be_lab;
    ui::edit output_path_editor;
    ui::label dgt_lab;
    ui::label total_output_path_label;
    ui::label Label3;
    ui::label action_label;
    ui::button active_button;
    ui::button clear_button;
    ui::check_box automatic_product_identification;
    ui::check_box start_active_check_box;
    ui::label orvel_postbake_path_label;
    ui::label postbake_product_label;
    ui::label postbake_total_output_path_label;
    ui::edit postbake_output_path_editor;
    ui::label Label4b;
    ui::edit be_insitu_editor;
    ui::timer Timer1;
    ui::timer alive_timer;

  protected:
    // Each level of the start-up chain clears this before its own steps and sets it after them,
    // so it holds only when every level has run to its end.
    void set_startup_complete(bool complete) { startup_complete_ = complete; }

  private:
    void read_orvel_scanner_ini();
    void read_orvel_path_ini();
    void read_orvel_postbake_path_ini();
    void read_orvel_pswd_bin();

    bool startup_complete_ = false;
    // Lines 9 and following of orvel_scanner.ini as read at start, kept by the shutdown rewrite.
    line_list_t scanner_ini_tail_;
    bool action_running_ = false;
};

// Writes the bytes to a temporary file beside the target, flushed, and renames it over the
// target, so a crash mid-write leaves the old or the new file, never a broken one. Where no
// file can be made beside it (a folder this account may not write), the file is rewritten in
// place.
bool replace_file_contents(const std::string& path, const std::string& bytes);

}  // namespace kelvad
