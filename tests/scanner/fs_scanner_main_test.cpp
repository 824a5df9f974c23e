// The three levels of the window chain: layout of each level and the start-up order.

#include "scanner/fs_scanner_main_unit.h"

#include <gtest/gtest.h>

#include "main_window/kelvad_Unit.h"
#include "support/sandbox.h"
#include "ui/headless/headless_toolkit.h"

namespace kelvad {
namespace {

struct visibility {
    const char* control;
    int base, middle, main;  // 1 shown, 0 hidden, -1 absent
};

int shown(const ui::form& f, const char* name) {
    const ui::control* c = f.find(name);
    return c ? (c->visible() ? 1 : 0) : -1;
}

TEST(window_levels, each_level_has_its_layout) {
    ui::headless_toolkit tk;
    TORVEL_spectrum_scanner base(tk);
    TFS_scanner_main middle(tk);
    Tkelvad_main main(tk);

    EXPECT_EQ(base.caption(), "ORVEL  scanner");
    EXPECT_EQ(middle.caption(), "ORVEL  scanner");
    EXPECT_EQ(main.caption(), "Kelvad");
    EXPECT_EQ(base.client_width(), 627);
    EXPECT_EQ(base.client_height(), 258);
    EXPECT_EQ(middle.client_height(), 274);
    EXPECT_EQ(main.client_height(), 593);
    EXPECT_EQ(base.Label5.text(), "ORVEL spectrum import");
    EXPECT_EQ(main.Label5.text(), "Kelvad");
    EXPECT_EQ(base.be_lab.text(), "BE:");
    EXPECT_EQ(main.be_lab.text(), "BE for NGQ traverse spectra:");

    const visibility table[] = {
        {"Label5", 1, 1, 1},
        {"input_path_editor", 1, 1, 1},
        {"action_label", 1, 1, 1},
        {"active_button", 1, 1, 1},
        {"clear_button", 1, 1, 1},
        {"automatic_product_identification", 0, 1, 0},
        {"start_active_check_box", 0, 0, 0},
        {"orvel_postbake_path_label", 0, 0, 0},
        {"postbake_output_path_editor", 0, 0, 0},
        {"Label4b", 0, 0, 0},
        {"be_insitu_editor", 0, 0, 0},
        {"Button1", -1, 0, 0},
        {"Label2", -1, -1, 1},
        {"Message_board", -1, -1, 1},
        {"Memo1", -1, -1, 1},
    };
    for (const visibility& v : table) {
        SCOPED_TRACE(v.control);
        EXPECT_EQ(shown(base, v.control), v.base);
        EXPECT_EQ(shown(middle, v.control), v.middle);
        EXPECT_EQ(shown(main, v.control), v.main);
    }
}

TEST(window_levels, design_texts_before_the_start_up) {
    ui::headless_toolkit tk;
    Tkelvad_main w(tk);
    const std::pair<const char*, const char*> texts[] = {
        {"Label1", "Input path:"},
        {"input_path_editor", "Specify input path here"},
        {"bp_lb", "ORVEL path:"},
        {"ORVEL_path_label", ""},
        {"cp_lab", "Current product:"},
        {"product_label", ""},
        {"output_path_editor", "Specify BE name here"},
        {"dgt_lab", "Data go to:"},
        {"total_output_path_label", "---"},
        {"Label3", "Last action:"},
        {"action_label", "------"},
        {"active_button", "Active"},
        {"clear_button", "Clear input"},
        {"automatic_product_identification", "Automatic product identification"},
        {"start_active_check_box", "Start active"},
        {"postbake_product_label", "---"},
        {"postbake_output_path_editor", "Specify BE name here"},
        {"Label4b", "BE insitu:"},
        {"be_insitu_editor", "Specify BE name here"},
        {"Button1", "Button1"},
        {"Label2", "Messages:"},
    };
    for (const auto& [name, text] : texts) {
        SCOPED_TRACE(name);
        ASSERT_NE(w.find(name), nullptr);
        EXPECT_EQ(w.find(name)->text(), text);
    }
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.Timer1.interval(), 1000u);
    EXPECT_TRUE(w.alive_timer.enabled());
    EXPECT_EQ(w.alive_timer.interval(), 5000u);
    ASSERT_EQ(w.Memo1.lines().size(), 11u);
    EXPECT_EQ(w.Memo1.lines()[0],
              "Zeiss Optoplex NGQ generates *.csv files which contain all spectra of a traverse "
              "scan. ");
    EXPECT_EQ(w.Memo1.lines()[2], "");
    EXPECT_EQ(w.Memo1.lines()[5], "");
    EXPECT_EQ(w.Memo1.lines()[10], "the directories which are watched by the cleaner program.");
    EXPECT_TRUE(w.Message_board.lines().empty());
}

TEST(window_levels, middle_start_up_creates_line_list_and_record) {
    testing::program_folder config;
    testing::sandbox box;
    config.write("orvel_path.ini", testing::crlf_lines({box.root()}));
    ui::headless_toolkit tk;
    TFS_scanner_main w(tk);
    EXPECT_EQ(w.line_list, nullptr);
    w.FormCreate();
    ASSERT_NE(w.line_list, nullptr);
    EXPECT_TRUE(w.line_list->empty());
    ASSERT_NE(w.sc_data, nullptr);
    EXPECT_EQ(w.focused(), &w.active_button);
    EXPECT_TRUE(w.startup_complete());
    EXPECT_TRUE(w.Timer1.enabled());
}

}  // namespace
}  // namespace kelvad
