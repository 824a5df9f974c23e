// The hand-off under faults: files that cannot be taken or handled do not hold back the rest,
// nothing half-written reaches a final name, an input is deleted only after its data is on
// disk, one scanner serves a transfer folder, and what a crash leaves behind is put right.

#include <algorithm>

#include "orvel_fixture.h"

#include "foundation/durable_files.h"

namespace kelvad {
namespace {

class hand_off : public orvel_fixture {
  protected:
    int count_of(const std::string& line) const {
        return static_cast<int>(std::count(messages().begin(), messages().end(), line));
    }
    int count_starting(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(messages().begin(), messages().end(),
                          [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
    }
    std::string xy_folder() const { return measurement_folder("Production", "3"); }
    static std::string plate(const std::string& name) {
        return testing::crlf_lines({"O3P result", "Device;3", "Plate;" + name, "Spectrum;",
                                    "0.91;0.93;", "Wavelength;", "380;385;", "end", "end"});
    }
    // Names in a folder that are temporary files of the program.
    static std::vector<std::string> temporaries_in(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& name : testing::files_in(folder))
            if (owner_of_temp_name(name) || name.find(".tmp") != std::string::npos)
                names.push_back(name);
        return names;
    }
};

TEST_F(hand_off, file_that_cannot_go_to_failed_is_reported_once_and_does_not_hold_the_line) {
    testing::write_file(failed_folder(), "a plain file where the failed folder belongs");
    const std::string whole = traverse(12, 2);
    const std::string cut = whole.substr(0, whole.find("Positions done"));
    const std::string stuck = drop("ONGQR_a.csv", cut);
    const std::string good = drop("ONGQR_b.csv", traverse(2, 3, "TRV_B"));
    start();
    for (int i = 0; i < 4; ++i) tick();
    EXPECT_EQ(testing::read_file(stuck), cut);
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_B")));
    EXPECT_FALSE(testing::file_exists(good));
    EXPECT_EQ(count_starting("Error: ONGQR_a.csv ends inside"), 1) << "converted once only";
    const std::string shown = input + sep + sep + "ONGQR_a.csv";  // as the cycle composes it
    EXPECT_EQ(count_starting("Error: " + shown + " cannot be moved to failed - "), 1);

    // The cause goes away: the file reaches the failed folder without a second conversion.
    testing::remove_tree(failed_folder());
    std::remove(failed_folder().c_str());
    tick();
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_a.csv"), cut);
    EXPECT_EQ(count_starting("Error: ONGQR_a.csv ends inside"), 1);
    EXPECT_TRUE(has_message("resolved: " + shown));
}

TEST_F(hand_off, traverse_past_the_largest_scan_is_refused_before_it_is_loaded) {
    write_scanner_ini("10000");
    // 2,237 positions at 10,000 points pass the largest scan file; the spectra need not follow
    // for the count to tell.
    std::string text = "Stamp;BIG;now\r\n";
    for (int p = 0; p < 2237; ++p) text += "1;BIG;0;" + std::to_string(p) + "\r\n";
    text += "done;;;\r\nSpectrum;0\r\n1;2;\r\n" + std::string(8, '\n');
    drop("ONGQR_big.csv", text);
    const std::string behind = drop("u.csv", "x");
    start();
    tick();
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_big.csv"), text);
    EXPECT_TRUE(has_message_starting("Error: ONGQR_big.csv is too large to convert"));
    EXPECT_FALSE(testing::file_exists(behind));
    EXPECT_EQ(box_texts(), std::vector<std::string>{});
    EXPECT_TRUE(input_files().empty());
}

TEST_F(hand_off, names_from_inside_a_file) {
    const std::pair<const char*, bool> cases[] = {
        {"A..1", true}, {"TRV_0001", true}, {"COM0", true}, {"CONSOLE", true}, {"", false},
        {" ", false},   {".", false},       {"..", false},  {"a.", false},     {"a ", false},
        {"a/b", false}, {"a\\b", false},    {"C:x", false}, {"a|b", false},    {"a\tb", false},
        {"CON", false}, {"con.txt", false}, {"NUL", false}, {"COM1", false},   {"lpt9.scn", false},
    };
    for (const auto& [name, safe] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(is_safe_file_name(name), safe);
    }
}

TEST_F(hand_off, plate_name_too_long_for_the_folder_keeps_the_input) {
    // 249 characters and "___T.xy" pass the 255 a file name may have. With characters of
    // three bytes in UTF-8 the limit comes sooner on Linux than on Windows, which counts UTF-16.
    const std::string euro = "\xE2\x82\xAC";  // in the plate result's code page: one byte
    std::string euros;
    for (int i = 0; i < 85; ++i) euros += euro;
    for (const std::string& name : {std::string(249, 'P'), euros}) {
        SCOPED_TRACE(name.size());
        const std::string text = platform::utf8_to_ansi(plate(name));
        const std::string path = drop("O3PR_long.csv", text);
        testing::make_folders(xy_folder());
        start();
        tick();
        const bool fits = platform::name_fits(xy_folder(), name + "___T.xy");
        // Written, or kept unchanged in failed; never deleted without its xy file. (Under Wine
        // the host's file system may refuse a name that Windows itself would take.)
        const bool written = testing::files_in(xy_folder()).size() == 1;
        const bool kept = testing::read_file(failed_folder() + sep + "O3PR_long.csv") == text;
        EXPECT_NE(written, kept);
        if (!fits) {
            EXPECT_TRUE(kept);
            EXPECT_TRUE(has_message("Error: plate name \"" + name + "\" is no plain file name"));
        }
        EXPECT_FALSE(testing::file_exists(path));
        testing::remove_tree(failed_folder());
        testing::remove_tree(xy_folder());
    }
}

// One table per step of the hand-off: a fault there leaves nothing under a final name, no
// temporary file, and the input kept in failed; the steps before it stay done.
TEST_F(hand_off, a_failing_step_leaves_no_partial_file_and_keeps_the_input) {
    using step = platform::fault::step;
    struct fault_case {
        const char* what;
        bool traverse;
        step fault;
        int nth;  // counted from the start of the tick: the readiness test renames twice
        bool scan_written;
        const char* message;
    };
    const fault_case cases[] = {
        {"scan file write", true, step::write, 1, false, "Error writing scan file "},
        {"scan file flush", true, step::flush, 1, false, "Error writing scan file "},
        {"scan file rename", true, step::rename, 3, false, "Error writing scan file "},
        {"archive copy write", true, step::write, 2, true, "Error: the archive copy "},
        {"archive copy rename", true, step::rename, 4, true, "Error: the archive copy "},
        {"xy file write", false, step::write, 1, false, "Error: the xy file of O3PR_p.csv"},
        {"xy file rename", false, step::rename, 3, false, "Error: the xy file of O3PR_p.csv"},
    };
    for (const fault_case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::make_folders(xy_folder());
        const std::string name = c.traverse ? "ONGQR_t.csv" : "O3PR_p.csv";
        const std::string text = c.traverse ? traverse(2, 3, "TRV_F") : plate("P1");
        drop(name, text);
        start();
        platform::fault::inject(c.fault, c.nth);
        tick();
        platform::fault::clear();
        EXPECT_EQ(testing::read_file(failed_folder() + sep + name), text);
        EXPECT_TRUE(has_message_starting(c.message));
        EXPECT_EQ(testing::file_exists(scan_file("TRV_F")), c.scan_written);
        EXPECT_TRUE(testing::files_in(xy_folder()).empty());
        EXPECT_TRUE(testing::files_in(archive_folder()).empty());
        for (const std::string& folder :
             {measurement_folder("Production", "BE"), xy_folder(), archive_folder(), input})
            EXPECT_TRUE(temporaries_in(folder).empty()) << folder;
        if (c.scan_written) {
            EXPECT_TRUE(has_message_starting(std::string(c.message) + archive_folder()));
        }

        // Once the fault is gone, the file moved back is converted.
        testing::remove_tree(input);
        testing::make_folders(input);
        drop(name, text);
        tick();
        EXPECT_TRUE(input_files().empty());
        EXPECT_TRUE(c.traverse ? testing::file_exists(scan_file("TRV_F"))
                               : testing::file_exists(xy_folder() + sep + "P1___T.xy"));
        testing::remove_tree(failed_folder());
        testing::remove_tree(xy_folder());
        testing::remove_tree(measurement_folder("Production", "BE"));
        testing::make_folders(measurement_folder("Production", "BE"));
        testing::remove_tree(box.path({"orvel", "archive", "Production"}));
    }
}

// The files of one tick are handed off together: their outputs flushed in one step before any
// is renamed, the inputs deleted only after that, and each file's lines said together.
TEST_F(hand_off, the_files_of_a_tick_are_handed_off_together) {
    testing::make_folders(xy_folder());
    const std::string first = traverse(2, 3, "TRV_A"), second = traverse(2, 3, "TRV_B");
    drop("ONGQR_a.csv", first);
    drop("ONGQR_b.csv", second);
    drop("O3PR_c.csv", plate("P1"));
    write_scanner_ini("3");
    start();

    // The common flush fails: no file reaches ORVEL, every input is kept.
    platform::fault::inject(platform::fault::step::flush, 1);
    tick();
    platform::fault::clear();
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_a.csv"), first);
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_b.csv"), second);
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "O3PR_c.csv"), plate("P1"));
    EXPECT_TRUE(testing::files_in(measurement_folder("Production", "BE")).empty());
    EXPECT_TRUE(testing::files_in(xy_folder()).empty());
    EXPECT_TRUE(testing::files_in(archive_folder()).empty());
    EXPECT_EQ(count_starting("Error writing scan file "), 2);
    EXPECT_EQ(count_starting("Error: the xy file of O3PR_c.csv"), 1);

    // Moved back, they are converted, and each file's lines stand together in the order taken.
    testing::remove_tree(failed_folder());
    drop("ONGQR_a.csv", first);
    drop("ONGQR_b.csv", second);
    drop("O3PR_c.csv", plate("P1"));
    const std::size_t before = messages().size();
    tick();
    EXPECT_TRUE(input_files().empty());
    const std::vector<std::string> said(messages().begin() + static_cast<std::ptrdiff_t>(before),
                                        messages().end());
    const std::string xy = xy_folder() + sep + "P1___T.xy";
    EXPECT_EQ(said,
              (std::vector<std::string>{
                  "Plate: P1 analyzed by Zeiss device 3 alias 3", xy,
                  "Processed O3P result: O3PR_c.csv", "Deleted: O3PR_c.csv", "_________________",
                  "", "Processed ONGQ result: ONGQR_a.csv", "_________________", "",
                  "Processed ONGQ result: ONGQR_b.csv", "_________________", ""}));
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_A")));
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_B")));
    EXPECT_TRUE(temporaries_in(measurement_folder("Production", "BE")).empty());
}

TEST_F(hand_off, a_box_waits_until_the_files_before_it_are_handed_off) {
    drop("ONGQR_a.csv", traverse(2, 3, "TRV_A"));
    drop("ONGQR_b.csv", "header\r\nno stamp line\r\n" + std::string(12, '\n'));
    write_scanner_ini("3");
    start();
    bool first_done_at_box = false;
    tk.while_box_open = [&] {
        first_done_at_box = testing::file_exists(scan_file("TRV_A")) &&
                            !testing::file_exists(input + sep + "ONGQR_a.csv") &&
                            has_message("Processed ONGQ result: ONGQR_a.csv");
    };
    tick();
    ASSERT_EQ(box_texts(),
              std::vector<std::string>{"Unexpected file structure - keyword \"stamp\" not found!"});
    EXPECT_TRUE(first_done_at_box);
    EXPECT_TRUE(input_files().empty());
}

TEST_F(hand_off, only_an_existing_xy_file_counts_as_name_taken) {
    testing::make_folders(xy_folder());
    testing::write_file(xy_folder() + sep + "P1___T.xy", "earlier");
    const std::string path = drop("O3PR_p.csv", plate("P1"));
    start();
    tick();
    EXPECT_TRUE(has_message_starting("Error generating file " + xy_folder() + sep +
                                     "P1___T.xy       Delete temporary file: " + xy_folder()));
    EXPECT_EQ(testing::read_file(xy_folder() + sep + "P1___T.xy"), "earlier");
    EXPECT_EQ(testing::files_in(xy_folder()).size(), 1u);
    EXPECT_FALSE(testing::file_exists(path));
}

TEST_F(hand_off, one_scanner_serves_a_transfer_folder) {
    start();
    Tkelvad_main& first = *window;
    tick();
    ui::headless_toolkit tk2;
    Tkelvad_main second(tk2);
    second.run_handler([&] { second.FormCreate(); });

    const std::string path = drop("u1.csv", "x");
    const std::string waits = "another Kelvad serves " + input + " - this one waits";
    for (int i = 0; i < 3; ++i) second.fire(second.Timer1);
    EXPECT_TRUE(testing::file_exists(path));
    const auto& lines = second.Message_board.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), waits), 1);
    EXPECT_EQ(second.action_label.text(), waits);

    // The waiting one leaves the alive file to the one that serves.
    const std::string alive = first.alive_file_path;
    second.fire(second.alive_timer);
    EXPECT_FALSE(testing::file_exists(alive));
    first.fire(first.alive_timer);
    EXPECT_TRUE(testing::file_exists(alive));

    // The first one ends: the second takes over at its next tick.
    window.reset();
    second.fire(second.Timer1);
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Unknown file type: u1.csv"), lines.end());
    EXPECT_TRUE(testing::file_exists(input + sep + transfer_lock_file_name));
}

TEST_F(hand_off, what_a_crash_left_behind_is_put_right) {
    // Killed between the two renames of the readiness test: the file carries its name.
    const std::string text = traverse(2, 3, "TRV_C");
    drop("ONGQR_c.csv.kelvad-free", text);
    // Temporary files of a program that is gone, an old and a new one of this process.
    const std::string out = measurement_folder("Production", "BE");
    const std::string pid = std::to_string(platform::process_id());
    const std::string stranded = out + sep + "~kelvad-" + pid + "-1_2_3.tmp";
    testing::write_file(stranded, "half a scan");
    testing::age_file(stranded, 120);
    const std::string young = out + sep + "~kelvad-" + pid + "-4_5_6.tmp";
    testing::write_file(young, "a write in flight");
    testing::make_folders(box.path({"orvel", "live_signals"}));
    const std::string alive_temp =
        box.path({"orvel", "live_signals", "~kelvad-" + pid + "-7_8_9.tmp"});
    testing::write_file(alive_temp, "");
    testing::age_file(alive_temp, 120);
    const std::string foreign = out + sep + "48213_7_915004.tmp";  // not one of ours
    testing::write_file(foreign, "x");
    testing::age_file(foreign, 120);
    start();
    tick();
    EXPECT_FALSE(testing::file_exists(stranded));
    EXPECT_FALSE(testing::file_exists(alive_temp));
    EXPECT_TRUE(testing::file_exists(young));
    EXPECT_TRUE(testing::file_exists(foreign));
    EXPECT_TRUE(has_message("Restored " + input + sep + "ONGQR_c.csv after an interrupted test"));
    tick();
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_C")));
    EXPECT_TRUE(input_files().empty());
}

TEST_F(hand_off, long_transfer_and_output_folders_work) {
    // Beyond the 260 characters of a plain Windows path.
    const std::string deep = box.path({std::string(120, 'd'), std::string(120, 'e'), "in"});
    ASSERT_GT(deep.size(), 260u);
    testing::make_folders(deep);
    config.write("orvel_scanner.ini", testing::crlf_lines({deep, "BE", "", "1", "125", "", "", "",
                                                           "", "0", "", "true"}));
    testing::write_file(deep + sep + "ONGQR_sample.csv", sample("ONGQR_sample.csv"));
    testing::age_file(deep + sep + "ONGQR_sample.csv", 10);
    start();
    tick();
    EXPECT_EQ(testing::read_file(scan_file("TRV_0001")), sample("TRV_0001.scn"));
    EXPECT_FALSE(testing::file_exists(deep + sep + "ONGQR_sample.csv"));
}

}  // namespace
}  // namespace kelvad
