// The plate import and the xy file.

#include "orvel_fixture.h"

namespace kelvad {
namespace {

class o3p_import : public orvel_fixture {
  protected:
    static std::string plate(const std::string& device_line, const std::string& plate_line,
                             const std::string& values = "0.91;0.93;",
                             const std::string& wavelengths = "380;385;") {
        return testing::crlf_lines({"Plate result", "a", "b", device_line.c_str(),
                                    plate_line.c_str(), "Spectrum;", values.c_str(), "Wavelength;",
                                    wavelengths.c_str(), "end"});
    }

    std::vector<std::string> import_messages() const {
        // Everything but the separator and the empty line after the file.
        return std::vector<std::string>(messages().begin(), messages().end() - 2);
    }
};

TEST_F(o3p_import, sample_plate_becomes_the_sample_xy_file) {
    testing::make_folders(measurement_folder("Production", "3"));
    const std::string path = drop("O3PR_sample.csv", sample("O3PR_sample.csv"));
    start();
    tick();
    const std::string xy = measurement_folder("Production", "3") + sep + "A123___T.xy";
    EXPECT_EQ(testing::read_file(xy), sample("A123___T.xy"));
    EXPECT_FALSE(testing::file_exists(path));
    EXPECT_EQ(import_messages(),
              (std::vector<std::string>{"Plate: A123 analyzed by Zeiss device 3 alias 3", xy,
                                        "Processed O3P result: O3PR_sample.csv",
                                        "Deleted: O3PR_sample.csv"}));
    EXPECT_EQ(testing::files_in(measurement_folder("Production", "3")),
              std::vector<std::string>{"A123___T.xy"});
}

TEST_F(o3p_import, device_alias_comes_from_the_device_map) {
    testing::write_file(user_data_path("device_map.bin"), sample("device_map_new.bin"));
    testing::make_folders(measurement_folder("Production", "NGQ_B"));
    drop("O3PR_5.csv", plate("Device;5", "Plate;P5"));
    start();
    tick();
    EXPECT_TRUE(has_message("Plate: P5 analyzed by Zeiss device 5 alias NGQ_B"));
    EXPECT_EQ(testing::read_file(measurement_folder("Production", "NGQ_B") + sep + "P5___T.xy"),
              "380,0.91\r\n385,0.93\r\n");
}

TEST_F(o3p_import, unusable_plate_results_are_reported_and_deleted) {
    struct case_t {
        const char* what;
        std::string text;
        std::vector<std::string> lines;
    };
    const case_t cases[] = {
        {"8 lines", testing::crlf_lines({"Device;3", "Plate;A", "", "", "", "", "", ""}), {}},
        {"no device line", plate("Unit;3", "Plate;A"), {"Error: No device identified!"}},
        {"trailing semicolon",
         plate("device;7;", "Plate;A"),
         {"Error: No device identified in device;7;"}},
        {"no semicolon", plate("device 7", "Plate;A"), {"Error: No device identified in device 7"}},
        {"plate before device",
         testing::crlf_lines({"Plate;A", "a", "b", "c", "Device;3", "e", "f", "g", "h"}),
         {"Error: No plate identified!"}},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = drop("O3PR_bad.csv", c.text);
        start();
        tick();
        std::vector<std::string> expected = c.lines;
        expected.push_back("Deleted: O3PR_bad.csv");
        EXPECT_EQ(import_messages(), expected);
        EXPECT_FALSE(testing::file_exists(path));
    }
}

TEST_F(o3p_import, second_plate_of_the_same_name_keeps_the_first_xy_file) {
    testing::make_folders(measurement_folder("Production", "7"));
    start();
    drop("O3PR_1.csv", plate("Device;7", "Plate;A123", "1;"));
    tick();
    drop("O3PR_2.csv", plate("Device;7", "Plate;A123", "2;"));
    tick();
    const std::string xy = measurement_folder("Production", "7") + sep + "A123___T.xy";
    EXPECT_EQ(testing::read_file(xy), "380,1\r\n385");
    EXPECT_EQ(testing::files_in(measurement_folder("Production", "7")),
              std::vector<std::string>{"A123___T.xy"});
    EXPECT_TRUE(has_message_starting(
        "Error generating file " + xy +
        "       Delete temporary file: " + measurement_folder("Production", "7") + sep));
    EXPECT_TRUE(input_files().empty());
}

TEST_F(o3p_import, plate_name_keeps_a_further_semicolon) {
    testing::make_folders(measurement_folder("Production", "3"));
    drop("O3PR_s.csv", plate("Device;3", "Plate;A123;"));
    start();
    tick();
    EXPECT_EQ(testing::files_in(measurement_folder("Production", "3")),
              std::vector<std::string>{"A123;___T.xy"});
}

TEST_F(o3p_import, xy_lines_follow_the_shorter_list) {
    const struct {
        const char* wavelengths;
        const char* values;
        const char* xy;
    } cases[] = {
        {"380;385;", "0.91;0.93;", "380,0.91\r\n385,0.93\r\n"},
        {"380;", "0.91;0.93;", "380,0.91\r\n,0.93\r\n"},
        {"", "0.91;0.93;", ",0.91\r\n,0.93\r\n"},
        {"380;385;390;", "0.91;", "380,0.91\r\n385"},
        {"380;385;", "", "380"},
        {"380;385;", "0.91;0.93", "380,0.91\r\n385"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.wavelengths) + " / " + c.values);
        EXPECT_EQ(xy_text(c.wavelengths, c.values), c.xy);
    }
}

TEST_F(o3p_import, xy_file_is_written_in_the_8_bit_code_page) {
    testing::make_folders(measurement_folder("Production", "3"));
    drop("O3PR_cp.csv", plate("Device;3", "Plate;P", "caf\xe9;", "380;"));
    start();
    tick();
    EXPECT_EQ(testing::read_file(measurement_folder("Production", "3") + sep + "P___T.xy"),
              "380,caf\xe9\r\n");
}

TEST_F(o3p_import, missing_measurement_folder_or_unsafe_plate_name_goes_to_failed) {
    testing::make_folders(measurement_folder("Production", "3"));
    const std::pair<std::string, std::string> cases[] = {
        {plate("Device;9", "Plate;A1"),
         "Error: measurement folder " + measurement_folder("Production", "9") + " does not exist"},
        {plate("Device;3", "Plate;..\\..\\x"),
         "Error: plate name \"..\\..\\x\" is no plain file name"},
        {plate("Device;3", "Plate;a/b"), "Error: plate name \"a/b\" is no plain file name"},
        {plate("Device;3", "Plate;"), "Error: plate name \"\" is no plain file name"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(error);
        testing::remove_tree(input + sep + "failed");
        const std::string path = drop("O3PR_f.csv", text);
        start();
        tick();
        EXPECT_FALSE(testing::file_exists(path));
        EXPECT_EQ(testing::read_file(input + sep + "failed" + sep + "O3PR_f.csv"), text);
        EXPECT_TRUE(has_message(error));
        EXPECT_FALSE(has_message("Deleted: O3PR_f.csv"));
        EXPECT_EQ(testing::files_in(measurement_folder("Production", "3")),
                  std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace kelvad
