// The base scanner window: configuration at start, the shutdown rewrite, scanning on and off,
// and the alive file.

#include "scanner/orvel_spectrum_scanner_unit.h"

#include <gtest/gtest.h>

#include <tuple>

#include "foundation/error.h"

#include "foundation/file_utils.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"
#include "support/sandbox.h"
#include "ui/headless/headless_toolkit.h"

namespace kelvad {
namespace {

using testing::crlf_lines;

constexpr char sep = platform::path_separator;

class scanner_window_test : public ::testing::Test {
  protected:
    void SetUp() override {
        orvel = box.root() + sep;
        config.write("orvel_path.ini", crlf_lines({box.root()}));
    }

    Tkelvad_main& start() {
        window = std::make_unique<Tkelvad_main>(tk);
        window->run_handler([this] { window->FormCreate(); });
        return *window;
    }

    std::vector<std::string> box_texts() const {
        std::vector<std::string> texts;
        for (const auto& b : tk.boxes) texts.push_back(b.text);
        return texts;
    }

    testing::sandbox box;
    testing::program_folder config;
    ui::headless_toolkit tk;
    std::unique_ptr<Tkelvad_main> window;
    std::string orvel;
};

TEST_F(scanner_window_test, without_orvel_scanner_ini_editors_are_empty_and_nothing_is_written) {
    Tkelvad_main& w = start();
    EXPECT_TRUE(tk.boxes.empty());
    EXPECT_EQ(w.input_path_editor.text(), "");
    EXPECT_EQ(w.output_path_editor.text(), "");
    EXPECT_EQ(w.scan_file_split, 0);
    EXPECT_EQ(w.spectrum_points, 0);
    EXPECT_EQ(w.orvel_path, orvel);
    EXPECT_EQ(w.ORVEL_path_label.text(), orvel);
    EXPECT_TRUE(w.startup_complete());
    w.FormDestroy();
    EXPECT_FALSE(testing::file_exists(config.path("orvel_scanner.ini")));
}

TEST_F(scanner_window_test, one_line_orvel_scanner_ini_is_reported_and_not_applied) {
    config.write("orvel_scanner.ini", crlf_lines({"only one line"}));
    Tkelvad_main& w = start();
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{
                  "Error: orvel_scanner.ini does not contain sufficient information!"});
    EXPECT_EQ(w.input_path_editor.text(), "Specify input path here");
    EXPECT_EQ(w.input_path, std::string("Specify input path here") + sep);
    EXPECT_EQ(w.spectrum_points, 0);
    EXPECT_FALSE(w.save_scanner_ini);
    const std::string before = testing::read_file(config.path("orvel_scanner.ini"));
    w.FormDestroy();
    EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), before);
}

TEST_F(scanner_window_test, lines_of_orvel_scanner_ini_are_read_with_their_defaults) {
    struct case_t {
        std::vector<std::string> lines;
        bool checked;
        int split, points;
        float age;
        bool save;
        std::string insitu;
    };
    const case_t cases[] = {
        {{"in", "BE"}, false, 1, 125, 0.0f, true, ""},
        {{"in", "BE", "TRUE", "letters", "", "insitu", "x", "y", "z", "2.5", "w", " TRUE "},
         true,
         1,
         125,
         2.5f,
         true,
         "insitu"},
        {{"in", "BE", " true", "7", "100", "", "", "", "", "2,5", "", "false"},
         false,
         7,
         100,
         0.0f,
         false,
         ""},
        {{"in", "BE", "True", "-3", " 64", "", "", "", "", " 1e1", "", "\ttrue\t"},
         true,
         -3,
         64,
         10.0f,
         true,
         ""},
    };
    for (const case_t& c : cases) {
        std::string text;
        for (const auto& line : c.lines) text += line + "\r\n";
        SCOPED_TRACE(text);
        config.write("orvel_scanner.ini", text);
        Tkelvad_main& w = start();
        EXPECT_EQ(w.input_path_editor.text(), "in");
        EXPECT_EQ(w.output_path_editor.text(), "BE");
        EXPECT_EQ(w.be_name, "BE");
        EXPECT_EQ(w.automatic_product_identification.checked(), c.checked);
        EXPECT_EQ(w.scan_file_split, c.split);
        EXPECT_EQ(w.spectrum_points, c.points);
        EXPECT_FLOAT_EQ(w.minimum_file_age, c.age);
        EXPECT_EQ(w.save_scanner_ini, c.save);
        EXPECT_EQ(w.be_insitu_name, c.insitu);
        EXPECT_EQ(w.be_insitu_editor.text(), c.insitu);
        EXPECT_TRUE(tk.boxes.empty());
    }
}

TEST_F(scanner_window_test, absurd_spectrum_points_are_reported_and_replaced) {
    config.write("orvel_scanner.ini", crlf_lines({"in", "BE", "", "", "2000000000"}));
    Tkelvad_main& w = start();
    ASSERT_EQ(tk.boxes.size(), 1u);
    EXPECT_NE(tk.boxes[0].text.find("2000000000"), std::string::npos);
    EXPECT_EQ(w.spectrum_points, 125);
    EXPECT_TRUE(w.startup_complete());
}

TEST_F(scanner_window_test, orvel_path_ini_gets_its_separator_once) {
    for (const std::string& line : {box.root(), box.root() + sep}) {
        SCOPED_TRACE(line);
        config.write("orvel_path.ini", crlf_lines({line}));
        EXPECT_EQ(start().orvel_path, orvel);
    }
}

TEST_F(scanner_window_test, postbake_ini_fills_the_hidden_controls) {
    config.write("orvel_postbake_path.ini", crlf_lines({"P:", "BE post"}));
    Tkelvad_main& w = start();
    EXPECT_EQ(w.postbake_orvel_path, std::string("P:") + sep);
    EXPECT_EQ(w.orvel_postbake_path_label.text(), std::string("P:") + sep);
    EXPECT_EQ(w.postbake_be_name, "BE post");
    EXPECT_EQ(w.postbake_output_path_editor.text(), "BE post");
    EXPECT_FALSE(w.postbake_output_path_editor.visible());
}

TEST_F(scanner_window_test, empty_path_file_ends_the_start_up_and_the_window_never_scans) {
    config.write("orvel_path.ini", "");
    Tkelvad_main& w = start();
    ASSERT_EQ(tk.boxes.size(), 1u);
    EXPECT_NE(tk.boxes[0].text.find("orvel_path.ini"), std::string::npos);
    EXPECT_FALSE(w.startup_complete());
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.line_list, nullptr);
    w.fire(w.alive_timer);
    EXPECT_FALSE(testing::folder_exists(box.path({"live_signals"})));
    w.click(w.active_button);
    EXPECT_FALSE(w.Timer1.enabled());
}

TEST_F(scanner_window_test, password_is_read_from_both_file_forms_and_truncation_is_reported) {
    const std::string samples = KELVAD_SAMPLES_DIR;
    const std::string new_form = testing::read_file(samples + "/orvel_pswd_new.bin");
    const std::string old_form = testing::read_file(samples + "/orvel_pswd_old.bin");
    ASSERT_FALSE(new_form.empty());
    ASSERT_FALSE(old_form.empty());
    std::string no_entries = new_form.substr(0, 754);
    no_entries[752] = no_entries[753] = '\0';
    std::string huge_count = new_form.substr(0, 754);
    huge_count[752] = huge_count[753] = '\xff';

    struct case_t {
        const char* name;
        std::string bytes;
        std::string password;
        bool reported;
    };
    const case_t cases[] = {
        {"new form", new_form, "secret", false},
        {"old form", old_form, "secret", false},
        {"no entries", no_entries, "", false},
        {"ends inside the header", new_form.substr(0, 300), "", true},
        {"huge entry count", huge_count, "", true},
        {"ends inside the second entry", new_form.substr(0, new_form.size() - 20), "se", true},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.name);
        tk.boxes.clear();
        config.write("orvel_pswd.bin", c.bytes);
        Tkelvad_main& w = start();
        EXPECT_EQ(w.password, c.password);
        if (c.reported) {
            ASSERT_EQ(tk.boxes.size(), 1u);
            EXPECT_EQ(tk.boxes[0].text,
                      "Could not read password from file " + config.path("orvel_pswd.bin"));
        } else {
            EXPECT_TRUE(tk.boxes.empty());
        }
        EXPECT_TRUE(w.startup_complete());
    }
}

TEST_F(scanner_window_test, shutdown_rewrites_eight_lines_and_keeps_the_later_ones) {
    struct case_t {
        std::string before;
        std::string after;
    };
    const case_t cases[] = {
        {crlf_lines({"in", "BE"}),
         crlf_lines({"in", "BE", "False", "1", "125", "", "Insitu input path", ""})},
        {crlf_lines({"in", "BE", "true", "3", "64", "ins", "old 7", "old 8", "nine", "2.5",
                     "eleven", "TRUE", "thirteen"}),
         crlf_lines({"in", "BE", "True", "3", "64", "ins", "Insitu input path", "", "nine", "2.5",
                     "eleven", "TRUE", "thirteen"})},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.before);
        config.write("orvel_scanner.ini", c.before);
        start().FormDestroy();
        EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), c.after);
        EXPECT_EQ(testing::files_in(box.root()), std::vector<std::string>{});
    }
}

TEST_F(scanner_window_test, shutdown_takes_the_edited_texts_and_respects_the_flag) {
    config.write("orvel_scanner.ini", crlf_lines({"in", "BE"}));
    Tkelvad_main& w = start();
    w.input_path_editor.text_changed_by_user("edited in");
    w.output_path_editor.text_changed_by_user("edited BE");
    w.FormDestroy();
    EXPECT_EQ(
        testing::read_file(config.path("orvel_scanner.ini")),
        crlf_lines({"edited in", "edited BE", "False", "1", "125", "", "Insitu input path", ""}));

    const std::string unsaved = crlf_lines({"in", "BE", "", "", "", "", "", "", "", "", "", "no"});
    config.write("orvel_scanner.ini", unsaved);
    start().FormDestroy();
    EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), unsaved);
}

TEST_F(scanner_window_test, shutdown_rewrite_survives_a_failing_step) {
    // No temporary file beside the configuration (a folder the account may not write): the
    // file is rewritten in place. A rename that fails keeps the old file whole.
    using step = platform::fault::step;
    const std::string before = crlf_lines({"in", "BE"});
    const std::string after =
        crlf_lines({"in", "BE", "False", "1", "125", "", "Insitu input path", ""});
    const std::tuple<step, bool, std::string> cases[] = {
        {step::write, true, after},
        {step::rename, false, before},
        {step::flush, true, after},
    };
    for (const auto& [fault, written, expected] : cases) {
        SCOPED_TRACE(static_cast<int>(fault));
        config.write("orvel_scanner.ini", before);
        Tkelvad_main& w = start();
        platform::fault::inject(fault);
        bool raised = false;
        try {
            w.FormDestroy();
        } catch (const kelvad_error&) {
            raised = true;
        }
        platform::fault::clear();
        EXPECT_EQ(raised, !written);
        EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), expected);
        for (const auto& name : testing::files_in(config.path("")))
            EXPECT_EQ(name.find("~kelvad-"), std::string::npos) << name;
    }
}

TEST_F(scanner_window_test, read_only_orvel_scanner_ini_is_left_unchanged) {
    const std::string content = crlf_lines({"in", "BE"});
    config.write("orvel_scanner.ini", content);
    std::filesystem::permissions(platform::to_fs_path(config.path("orvel_scanner.ini")),
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    start().FormDestroy();
    EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), content);
}

TEST_F(scanner_window_test, active_button_switches_scanning_and_clear_changes_nothing) {
    config.write("orvel_scanner.ini", crlf_lines({"in", "BE"}));
    Tkelvad_main& w = start();
    const std::string scanning = "Scanning in" + std::string(1, sep) + " ... ";
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_EQ(w.active_button.text(), "Stop scan");
    EXPECT_EQ(w.active_button.colour(), ui::font_colour::red);
    EXPECT_EQ(w.action_label.text(), scanning);
    EXPECT_EQ(w.focused(), &w.active_button);

    w.click(w.active_button);
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.active_button.text(), "Start scan");
    EXPECT_EQ(w.active_button.colour(), ui::font_colour::black);
    EXPECT_EQ(w.action_label.text(), "Not scanning ... ");

    w.click(w.clear_button);
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.action_label.text(), "Not scanning ... ");

    w.click(w.active_button);
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_EQ(w.active_button.text(), "Stop scan");
    EXPECT_EQ(w.action_label.text(), scanning);

    w.set_timer_state(true);
    EXPECT_TRUE(w.Timer1.enabled());
    w.set_timer_state(false);
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_EQ(w.active_button.text(), "Start scan");
}

TEST_F(scanner_window_test, alive_file_is_put_in_place_and_comes_back) {
    Tkelvad_main& w = start();
    const std::string alive = box.path({"live_signals", program_base_name() + ".alv"});
    EXPECT_EQ(w.alive_file_path, alive);
    EXPECT_EQ(w.alive_timer.interval(), 5000u);
    EXPECT_TRUE(w.alive_timer.enabled());

    w.click(w.active_button);  // scanning off: the alive signal goes on all the same
    w.fire(w.alive_timer);
    ASSERT_TRUE(testing::file_exists(alive));
    EXPECT_EQ(testing::read_file(alive), "");
    EXPECT_EQ(testing::files_in(box.path({"live_signals"})),
              std::vector<std::string>{program_base_name() + ".alv"});

    std::filesystem::remove(platform::to_fs_path(alive));
    w.fire(w.alive_timer);
    EXPECT_TRUE(testing::file_exists(alive));
    EXPECT_TRUE(tk.boxes.empty());
}

TEST_F(scanner_window_test, alive_tick_before_start_up_creates_nothing) {
    Tkelvad_main w(tk);
    w.fire(w.alive_timer);
    EXPECT_EQ(testing::files_in(box.root()), std::vector<std::string>{});
    EXPECT_FALSE(testing::folder_exists(box.path({"live_signals"})));
}

TEST_F(scanner_window_test, alive_file_that_cannot_be_made_shows_one_error_at_a_time) {
    config.write("orvel_path.ini", crlf_lines({box.path({"missing", "orvel"})}));
    Tkelvad_main& w = start();
    int ticks_inside_box = 0;
    tk.while_box_open = [&] {
        if (ticks_inside_box++ == 0) w.fire(w.alive_timer);
    };
    w.fire(w.alive_timer);
    EXPECT_EQ(tk.boxes.size(), 1u);
    EXPECT_EQ(ticks_inside_box, 1);
    ASSERT_FALSE(w.Message_board.lines().empty());
    EXPECT_EQ(w.Message_board.lines().back().rfind("Error: ", 0), 0u);
    tk.while_box_open = nullptr;
    w.fire(w.alive_timer);  // the next tick tries again and reports again
    EXPECT_EQ(tk.boxes.size(), 2u);
}

}  // namespace
}  // namespace kelvad
