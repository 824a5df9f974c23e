// The result file cycle and the traverse import.

#include <algorithm>
#include <chrono>
#include <thread>

#include "orvel_fixture.h"

#include "foundation/log.h"

namespace kelvad {
namespace {

class result_file_cycle : public orvel_fixture {};

TEST_F(result_file_cycle, sample_traverse_becomes_the_sample_scan_file_and_is_archived) {
    const std::string input_file = drop("ONGQR_sample.csv", sample("ONGQR_sample.csv"));
    start();
    tick();
    EXPECT_EQ(testing::read_file(scan_file("TRV_0001")), sample("TRV_0001.scn"));
    EXPECT_FALSE(testing::file_exists(input_file));
    EXPECT_EQ(testing::read_file(archive_folder() + sep + "ONGQR_sample.csv"),
              sample("ONGQR_sample.csv"));
    EXPECT_EQ(testing::files_in(archive_folder()), std::vector<std::string>{"ONGQR_sample.csv"});
    const std::vector<std::string> tail(messages().end() - 3, messages().end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Processed ONGQ result: ONGQR_sample.csv",
                                              "_________________", ""}));
    EXPECT_TRUE(tk.boxes.empty());
    EXPECT_TRUE(window->Timer1.enabled());
    EXPECT_EQ(window->action_label.text(), "");
}

TEST_F(result_file_cycle, traverse_values_land_in_their_cells) {
    write_scanner_ini("4");
    drop("ongqr_1.csv", traverse(3, 6));
    start();
    tick();
    const scan_data& record = *window->sc_data;
    ASSERT_EQ(record.position_count, 3);
    EXPECT_EQ(record.positions, (std::vector<std::int32_t>{-5, 5, 15}));
    EXPECT_FLOAT_EQ(record.values[record.value_index(2, 1, 3)], 2103.5f);
    EXPECT_FLOAT_EQ(record.values[record.value_index(0, 2, 0)], 200.5f);
    EXPECT_EQ(testing::read_file(scan_file("TRV_7")), record.scan_file_bytes());
    EXPECT_EQ(testing::read_file(scan_file("TRV_7")).size(), 24u + 4 * 3 + 12 * 3 + 4 * 3 * 3 * 4);
}

TEST_F(result_file_cycle, kinds_are_told_by_the_name_prefix_in_any_case) {
    const std::pair<const char*, result_kind> cases[] = {
        {"ongqr_0815.csv", result_kind::ongq_traverse_result},
        {"ONGQR.csv", result_kind::ongq_traverse_result},
        {"o3pr12.csv", result_kind::o3p_plate_result},
        {"O3PR", result_kind::o3p_plate_result},
        {"ONGQ_0815.csv", result_kind::unknown},
        {"O3P.csv", result_kind::unknown},
        {"", result_kind::unknown},
    };
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Tkelvad_main::result_file_kind(name), kind);
    }
}

TEST_F(result_file_cycle, unknown_file_is_reported_and_deleted) {
    const std::string path = drop("ONGQ_0815.csv", "whatever");
    start();
    tick();
    EXPECT_FALSE(testing::file_exists(path));
    const std::vector<std::string> expected = {
        "Unknown file type: ONGQ_0815.csv", "File deleted: ONGQ_0815.csv", "_________________", ""};
    EXPECT_EQ(message_list(), expected);
}

TEST_F(result_file_cycle, tick_does_nothing_without_its_folders_or_files) {
    start();
    tick();
    EXPECT_EQ(window->action_label.text(), "No files to process ...");

    drop("x.csv", "x");
    window->action_label.set_text("unchanged");
    testing::remove_tree(measurement_folder("Production", "BE"));
    tick();
    EXPECT_EQ(window->action_label.text(), "unchanged");
    EXPECT_TRUE(testing::file_exists(input + sep + "x.csv"));
    EXPECT_TRUE(window->Timer1.enabled());
}

TEST_F(result_file_cycle, empty_input_edit_never_scans_the_root) {
    start();
    window->input_path_editor.text_changed_by_user("");
    window->action_label.set_text("unchanged");
    tick();
    EXPECT_EQ(window->input_path, std::string(1, sep));
    EXPECT_EQ(window->action_label.text(), "unchanged");
    EXPECT_TRUE(messages().empty());
}

TEST_F(result_file_cycle, young_file_is_passed_over_and_reported_once_when_it_stays) {
    write_scanner_ini("125", "30");
    const std::string young = drop("a.csv", "young");
    testing::age_file(young, 5);
    const std::string behind = drop("b.csv", "old enough");
    testing::age_file(behind, 40);
    start();
    window->waiting_report_after_ms = 0;
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_TRUE(testing::file_exists(young));
    EXPECT_FALSE(testing::file_exists(behind));
    const std::string waiting =
        "waiting: " + input + sep + sep + "a.csv is not older than the minimum file age";
    EXPECT_EQ(std::count(messages().begin(), messages().end(), waiting), 1);
    EXPECT_TRUE(has_message("Unknown file type: b.csv"));
    EXPECT_TRUE(window->Timer1.enabled());
}

TEST_F(result_file_cycle, minimum_age_counts_from_the_exact_time_of_the_last_write) {
    // File times rounded down to even seconds made a file look up to 2 s older than it was.
    write_scanner_ini("125", "2");
    const std::string path = drop("u.csv", "x");
    testing::age_file(path, 0);
    start();
    tick();
    EXPECT_TRUE(testing::file_exists(path));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    tick();
    EXPECT_TRUE(testing::file_exists(path));
    std::this_thread::sleep_for(std::chrono::milliseconds(1700));
    tick();
    EXPECT_FALSE(testing::file_exists(path));
}

TEST_F(result_file_cycle, file_time_in_the_future_is_no_age) {
    write_scanner_ini("125", "");
    const std::string path = drop("future.csv", "x");
    testing::age_file(path, -4);  // a clock ahead of ours on the writing machine
    start();
    tick();
    EXPECT_TRUE(testing::file_exists(path));
    EXPECT_EQ(window->action_label.text(),
              input + sep + sep + "future.csv could not be copied - the file is open");
}

TEST_F(result_file_cycle, one_tick_takes_at_most_31_files) {
    for (int i = 0; i < 40; ++i) drop("u" + std::to_string(100 + i) + ".csv", "x");
    start();
    tick();
    EXPECT_EQ(input_files().size(), 9u);
    EXPECT_EQ(tk.pending_event_calls, 31);
    tick();
    EXPECT_TRUE(input_files().empty());
}

TEST_F(result_file_cycle, message_list_keeps_its_last_1000_lines) {
    for (int i = 0; i < 260; ++i) drop("u" + std::to_string(1000 + i) + ".csv", "x");
    start();
    for (int i = 0; i < 9; ++i) tick();
    ASSERT_TRUE(input_files().empty());
    EXPECT_EQ(messages().size(), 1000u);
    EXPECT_EQ(messages().back(), "");
    EXPECT_EQ(messages()[messages().size() - 4].rfind("Unknown file type: u1", 0), 0u);
}

TEST_F(result_file_cycle, tick_during_an_action_does_not_nest) {
    drop("u1.csv", "x");
    drop("u2.csv", "x");
    start();
    int calls = 0;
    tk.on_pending_events = [&] {
        // A click between two files finds Timer1 disabled and so enables it again.
        if (++calls == 1) window->click(window->active_button);
        EXPECT_TRUE(window->Timer1.enabled());
        window->fire(window->Timer1);
    };
    tick();
    EXPECT_EQ(calls, 2);  // one per file: the ticks inside the action ran no action
    EXPECT_EQ(messages().size(), 8u);
    EXPECT_TRUE(window->Timer1.enabled());
    EXPECT_EQ(window->active_button.text(), "Stop scan");
}

TEST_F(result_file_cycle, short_traverse_is_archived_and_deleted_without_scan_file) {
    const std::string path =
        drop("ONGQR_short.csv",
             testing::crlf_lines({"Stamp;S;", "1;;;1", "", "", "", "", "", "", "", ""}));
    start();
    tick();
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_TRUE(testing::files_in(measurement_folder("Production", "BE")).empty());
    EXPECT_TRUE(testing::file_exists(archive_folder() + sep + "ONGQR_short.csv"));
    EXPECT_TRUE(has_message("Processed ONGQ result: ONGQR_short.csv"));
}

TEST_F(result_file_cycle, traverse_without_stamp_writes_no_scan_file) {
    std::string text = traverse(2, 3);
    text.replace(text.find("Stamp"), 5, "Stomp");
    const std::string path = drop("ONGQR_nostamp.csv", text);
    start();
    tick();
    EXPECT_EQ(box_texts(),
              std::vector<std::string>{"Unexpected file structure - keyword \"stamp\" not found!"});
    EXPECT_TRUE(testing::files_in(measurement_folder("Production", "BE")).empty());
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_TRUE(testing::file_exists(archive_folder() + sep + "ONGQR_nostamp.csv"));
    EXPECT_TRUE(has_message("Processed ONGQ result: ONGQR_nostamp.csv"));
}

TEST_F(result_file_cycle, truncated_traverse_goes_to_the_failed_folder) {
    write_scanner_ini("3");
    const std::string full = traverse(3, 3);
    const auto cut_after_line = [&](int lines) {
        std::size_t at = 0;
        for (int i = 0; i < lines; ++i) at = full.find("\r\n", at) + 2;
        return full.substr(0, at);
    };
    const std::pair<const char*, std::string> cases[] = {
        {"position block to the last line",
         "h\r\n" + cut_after_line(5) + "1;;;1\r\n2;;;2\r\n" + "3;;;3\r\n4;;;4\r\n5;;;5\r\n"},
        {"spectrum line missing", cut_after_line(14)},
        {"value lines missing", cut_after_line(16)},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        testing::remove_tree(failed_folder());
        const std::string path = drop("ONGQR_cut.csv", text);
        start();
        tick();
        EXPECT_FALSE(testing::file_exists(path));
        EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_cut.csv"), text);
        EXPECT_TRUE(testing::files_in(measurement_folder("Production", "BE")).empty());
        EXPECT_TRUE(has_message_starting("Error: ONGQR_cut.csv ends inside "));
        EXPECT_TRUE(has_message("Input file moved to " + failed_folder() + sep + "ONGQR_cut.csv"));
        EXPECT_FALSE(has_message("Processed ONGQ result: ONGQR_cut.csv"));
    }
}

TEST_F(result_file_cycle, failed_folder_never_replaces_an_earlier_file) {
    testing::write_file(failed_folder() + sep + "ONGQR_cut.csv", "earlier");
    drop("ONGQR_cut.csv",
         "h\r\nStamp;x\r\n1;;;1\r\n2;;;2\r\n3;;;3\r\n4;;;4\r\n5;;;5\r\n6;;;6\r\n"
         "7;;;7\r\n8;;;8\r\n9;;;9\r\n");
    start();
    tick();
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_cut.csv"), "earlier");
    EXPECT_EQ(testing::files_in(failed_folder()).size(), 2u);
    EXPECT_TRUE(input_files().empty());
}

TEST_F(result_file_cycle, scan_file_that_cannot_be_put_in_place_sends_the_input_to_failed) {
    testing::make_folders(scan_file("TRV_7"));  // a folder where the scan file should go
    const std::string text = traverse(2, 3);
    const std::string path = drop("ONGQR_blocked.csv", text);
    start();
    tick();
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_blocked.csv"), text);
    EXPECT_TRUE(has_message_starting("Error writing scan file " + scan_file("TRV_7") + " - "));
    EXPECT_FALSE(testing::file_exists(archive_folder() + sep + "ONGQR_blocked.csv"));
}

TEST_F(result_file_cycle, scan_name_from_the_file_is_used_only_when_it_is_a_plain_name) {
    const std::pair<std::string, std::string> cases[] = {
        {"TRV_9", "TRV_9"},
        {"", "ONGQR_named"},
        {"..", "ONGQR_named"},
        {"sub" + std::string(1, sep) + "x", "ONGQR_named"},
        {"..\\..\\evil", "ONGQR_named"},
        {"C:evil", "ONGQR_named"},
        {"a|b", "ONGQR_named"},
        {"  ", "ONGQR_named"},
    };
    for (const auto& [scan_name, file_name] : cases) {
        SCOPED_TRACE(scan_name);
        std::string text = traverse(2, 2, "N");
        text.replace(text.find("1;N;"), 4, "1;" + scan_name + ";");
        drop("ONGQR_named.csv", text);
        start();
        tick();
        EXPECT_EQ(testing::files_in(measurement_folder("Production", "BE")),
                  std::vector<std::string>{file_name + ".scn"});
        EXPECT_EQ(has_message_starting("Scan name \""),
                  !scan_name.empty() && file_name != scan_name);
        testing::remove_tree(measurement_folder("Production", "BE"));
        testing::make_folders(measurement_folder("Production", "BE"));
    }
}

TEST_F(result_file_cycle, unparsable_values_are_reported_in_one_box_per_file) {
    write_scanner_ini("3");
    std::string text = traverse(1, 3);
    text.replace(text.find("0.5;1.5;2.5;"), 12, "0,75; 0.75;7.5E-1;");  // kind 0
    text.replace(text.find("100.5;101.5;102.5;"), 18, "0.75 ;;");       // kind 1: two short
    drop("ONGQR_values.csv", text);
    const std::string log_path = box.path({"values.log"});
    open_log(log_path, false);
    start();
    tick();
    close_log();
    EXPECT_EQ(box_texts(),
              (std::vector<std::string>{"Error reading spectral value: 0,75 (and 3 more)"}));
    // Every value is still in the log.
    const std::string log = testing::read_file(log_path);
    for (const char* value : {": 0,75\n", ": 0.75 \n", ": \n"})
        EXPECT_NE(log.find(std::string("Error reading spectral value") + value), std::string::npos)
            << value;
    const scan_data& record = *window->sc_data;
    EXPECT_FLOAT_EQ(record.values[record.value_index(0, 0, 1)], 0.75f);
    EXPECT_FLOAT_EQ(record.values[record.value_index(0, 0, 2)], 0.75f);
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_7")));
}

TEST_F(result_file_cycle, block_end_that_is_a_spectrum_line_is_not_the_first_spectrum) {
    write_scanner_ini("2");
    const std::string text =
        testing::crlf_lines({"Stamp;E;", "1;E;;7", "Spectrum;ends block", "1;2;", "Spectrum;0",
                             "10;11;", "Spectrum;1", "20;21;", "Spectrum;2", "30;31;", ";"});
    drop("ONGQR_end.csv", text);
    start();
    tick();
    const scan_data& record = *window->sc_data;
    ASSERT_EQ(record.position_count, 1);
    EXPECT_FLOAT_EQ(record.values[record.value_index(0, 0, 0)], 10.0f);
    EXPECT_FLOAT_EQ(record.values[record.value_index(0, 2, 1)], 31.0f);
}

TEST_F(result_file_cycle, first_line_after_stamp_without_position_gives_an_empty_scan) {
    const std::string text = testing::crlf_lines(
        {"Stamp;Z;", "x;Z;y;none", "a", "b", "c", "d", "e", "f", "g", "h", "Spectrum;0", ";"});
    drop("ONGQR_zero.csv", text);
    start();
    tick();
    EXPECT_EQ(testing::read_file(scan_file("Z")).size(), 24u + 12 * 3);
}

TEST_F(result_file_cycle, product_variant_returns_to_its_base_before_the_scan_file) {
    set_marker("Production maintenance");
    // The cycle looks only where the current product's measurement folder exists.
    testing::make_folders(measurement_folder("Production maintenance", "BE"));
    drop("ONGQR_m.csv", traverse(1, 2));
    start();
    tick();
    EXPECT_EQ(markers(), std::vector<std::string>{"Production"});
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_7")));
    EXPECT_TRUE(testing::file_exists(archive_folder("Production") + sep + "ONGQR_m.csv"));
}

TEST_F(result_file_cycle, archive_twice_on_one_day_keeps_the_first_and_still_deletes) {
    start();
    for (int round = 0; round < 2; ++round) {
        drop("ONGQR_twice.csv", traverse(1, 2, "R" + std::to_string(round)));
        tick();
    }
    EXPECT_EQ(testing::files_in(archive_folder()), std::vector<std::string>{"ONGQR_twice.csv"});
    EXPECT_NE(testing::read_file(archive_folder() + sep + "ONGQR_twice.csv").find("R0"),
              std::string::npos);
    EXPECT_TRUE(input_files().empty());
    EXPECT_TRUE(testing::file_exists(scan_file("R1")));
    EXPECT_EQ(window->action_label.text().rfind("Error renaming file ", 0), 0u);
}

TEST_F(result_file_cycle, without_archive_folder_nothing_is_archived) {
    testing::remove_tree(box.path({"orvel", "archive"}));
    const std::string path = drop("ONGQR_plain.csv", traverse(1, 2));
    start();
    tick();
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_TRUE(testing::file_exists(scan_file("TRV_7")));
    EXPECT_FALSE(testing::folder_exists(box.path({"orvel", "archive"})));
}

}  // namespace
}  // namespace kelvad
