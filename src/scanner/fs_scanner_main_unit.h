#pragma once
// The importing scanner layer: the state of a scanner that takes input files one at a time,
// with the window's list of lines and its scan record.

#include <memory>
#include <string>

#include "foundation/text.h"
#include "scan_record/scan_data.h"
#include "scanner/orvel_spectrum_scanner_unit.h"

namespace kelvad {

class TFS_scanner_main : public TORVEL_spectrum_scanner {
  public:
    explicit TFS_scanner_main(ui::toolkit& tk);
    ~TFS_scanner_main() override;

    void timer_action() override;
    // Creates and shapes the window's scan record.
    virtual void initialize_sc_data();

    void FormCreate();
    void Button1Click();

    std::string current_file_name;
    std::string file_mask;
    std::unique_ptr<line_list_t> line_list;
    std::string archive_path;
    std::unique_ptr<scan_data> sc_data;

    ui::button Button1;
};

}  // namespace kelvad
