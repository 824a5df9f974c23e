#pragma once
// The program's window: device map, current product and output folders, the result file
// cycle, the traverse import into scan files and the plate import into xy files.

#include <memory>
#include <string>

#include "foundation/sprachen.h"
#include "scanner/fs_scanner_main_unit.h"

namespace kelvad {

enum class result_kind { unknown, o3p_plate_result, ongq_traverse_result };

// What became of an xy file.
enum class xy_outcome { written, name_taken, not_written };

class Tkelvad_main : public TFS_scanner_main {
  public:
    explicit Tkelvad_main(ui::toolkit& tk);
    ~Tkelvad_main() override;

    void timer_action() override;
    void compose_total_output_path() override;
    void set_new_product() override;
    void initialize_sc_data() override;

    void FormCreate();

    std::string output_path(const std::string& measurement_name);
    static std::string base_product_name(const std::string& product);
    void restore_base_product();

    bool file_is_ready(const std::string& path);
    static result_kind result_file_kind(const std::string& file_name);
    void handle_result_file();
    void discard_unknown_file();
    void import_ongq_result();
    void import_o3p_result();
    // Writes the xy file into the folder; the text to report: the file's path or an error.
    std::string write_xy_file(const std::string& plate_name, const std::string& folder,
                              const std::string& wavelength_line, const std::string& value_line,
                              xy_outcome* outcome = nullptr);

    // Appends one line to the message list (whose lines also go to the log).
    void report(const std::string& line);

    std::unique_ptr<sprachen> device_map;
    // State of one tick of the cycle.
    bool file_busy = false;
    std::string scan_name;

    ui::label Label2;
    ui::text_list Message_board;
    ui::text_list Memo1;

  private:
    std::string input_file_path() const;
    std::string current_product_folder() const;
    void archive_input_file();
    // Moves the input file, unchanged, into the "failed" folder of the input folder and says
    // why and where it went.
    void move_to_failed(const std::string& reason);
};

// A name taken from inside a result file may name a file only when it is one plain file name:
// no folder part, no "..", no drive, no character that Windows forbids, not blank.
bool is_safe_file_name(const std::string& name);

}  // namespace kelvad
