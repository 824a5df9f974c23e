#include "scanner/fs_scanner_main_unit.h"

namespace kelvad {

TFS_scanner_main::TFS_scanner_main(ui::toolkit& tk)
    : TORVEL_spectrum_scanner(tk), Button1(*this, "Button1") {
    set_client_size(627, 274);
    automatic_product_identification.set_visible(true);
    Button1.set_text("Button1");
    Button1.place = {500, 226, 110, 28};
    Button1.set_visible(false);
    Button1.on_click = [this] { Button1Click(); };
}

TFS_scanner_main::~TFS_scanner_main() = default;

// This layer takes no files of its own; the program's window brings the cycle.
void TFS_scanner_main::timer_action() {}

void TFS_scanner_main::initialize_sc_data() {
    sc_data = std::make_unique<scan_data>();
}

void TFS_scanner_main::FormCreate() {
    TORVEL_spectrum_scanner::FormCreate();
    set_startup_complete(false);
    line_list = std::make_unique<line_list_t>();
    initialize_sc_data();
    set_focus(active_button);
    set_startup_complete(true);
}

void TFS_scanner_main::Button1Click() {}

}  // namespace kelvad
