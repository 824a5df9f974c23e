// The configuration check against a complete configuration and broken ones.

#include <bit>
#include <functional>

#include "orvel_fixture.h"

#include "main_window/configuration_check.h"

namespace kelvad {
namespace {

std::string int32_bytes(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
            static_cast<char>(u >> 24)};
}

// A device map file of two columns (number, alias) below its header row.
std::string device_map(std::initializer_list<std::pair<std::string, std::string>> devices) {
    const auto text = [](const std::string& ascii) {
        std::string utf16;
        for (const char c : ascii) utf16 += {c, '\0'};
        return int32_bytes(static_cast<std::int32_t>(utf16.size())) + utf16;
    };
    std::string bytes = "UNICODE" + int32_bytes(std::bit_cast<std::int32_t>(3.18f)) +
                        int32_bytes(2) + int32_bytes(static_cast<std::int32_t>(devices.size() + 1));
    bytes += text("Nickname") + text("English");
    for (const auto& [number, alias] : devices) bytes += text(number) + text(alias);
    return bytes;
}

class configuration_check : public orvel_fixture {
  protected:
    void SetUp() override {
        orvel_fixture::SetUp();
        testing::make_folders(measurement_folder("Production", "NGQ_A"));
        testing::write_file(user_data_path("device_map.bin"), device_map({{"3", "NGQ_A"}}));
    }
    void TearDown() override {
        platform::fault::clear();
        orvel_fixture::TearDown();
    }

    static bool has_line(const check_report& report, const std::string& start) {
        for (const std::string& line : report.lines)
            if (line.rfind(start, 0) == 0) return true;
        return false;
    }
    static std::string all_lines(const check_report& report) {
        std::string text;
        for (const std::string& line : report.lines) text += line + "\n";
        return text;
    }
};

TEST_F(configuration_check, complete_configuration_would_convert_and_leaves_nothing_behind) {
    testing::age_file(drop("a.csv", "x"), 100);
    drop("b.csv", "y");
    const std::string scanner_ini = testing::read_file(config.path("orvel_scanner.ini"));

    const check_report report = check_configuration();
    SCOPED_TRACE(all_lines(report));
    EXPECT_TRUE(report.would_convert());
    EXPECT_EQ(report.problems, 0);
    const std::string be = measurement_folder("Production", "BE");
    for (const std::string& line : std::vector<std::string>{
             "ok    transfer folder " + input + ": exists, readable, writable",
             "ok    ORVEL folder " + orvel + ": exists",
             "ok    current product marker " + orvel + "database" + sep +
                 "current_product: Production",
             "ok    BE folder for scan files " + be + ": exists",
             "ok    device 3 alias NGQ_A: " + measurement_folder("Production", "NGQ_A") + " exists",
             "      archive " + orvel + "archive: exists - traverse results are archived",
             "      minimum file age: 0 s",
             "ok    lock " + input + sep + "Kelvad.lock: free",
             "      result files waiting: 2, the oldest 100 s old",
             "      Kelvad would convert result files now.",
         }) {
        EXPECT_TRUE(has_line(report, line)) << line;
    }
    // The probe is gone and the lock released; the configuration is as it was.
    EXPECT_EQ(input_files(), (std::vector<std::string>{"a.csv", "b.csv"}));
    EXPECT_TRUE(platform::folder_lock::try_take(input + sep + "Kelvad.lock").held());
    EXPECT_EQ(testing::read_file(config.path("orvel_scanner.ini")), scanner_ini);
}

TEST_F(configuration_check, each_broken_part_is_named_and_stops_the_conversion) {
    platform::folder_lock other;
    const std::string marker_folder = orvel + "database" + sep + "current_product";
    struct broken {
        const char* what;
        std::function<void()> make;
        std::string failure;  // the start of the line that says it
    };
    const broken cases[] = {
        {"no transfer folder", [&] { testing::remove_tree(input); },
         "FAIL  transfer folder " + input + ": does not exist"},
        {"transfer folder not writable",
         [&] { platform::fault::inject(platform::fault::step::write); },
         "FAIL  transfer folder " + input + ": exists, readable, not writable"},
        {"no ORVEL folder", [&] { testing::remove_tree(box.path({"orvel"})); },
         "FAIL  ORVEL folder " + orvel + ": does not exist"},
        {"no marker folder", [&] { testing::remove_tree(marker_folder); },
         "FAIL  current product marker " + marker_folder + ": does not exist"},
        {"no marker", [&] { testing::remove_tree(marker_folder + sep + "Production"); },
         "FAIL  current product marker " + marker_folder + ": holds no file naming the product"},
        {"no BE folder", [&] { testing::remove_tree(measurement_folder("Production", "BE")); },
         "FAIL  BE folder for scan files " + measurement_folder("Production", "BE") +
             ": does not exist"},
        {"alias without its folder",
         [&] {
             testing::write_file(user_data_path("device_map.bin"),
                                 device_map({{"3", "NGQ_A"}, {"5", "NGQ_B"}}));
         },
         "FAIL  device 5 alias NGQ_B: " + measurement_folder("Production", "NGQ_B") +
             " does not exist - its plate results go to failed"},
        {"lock held by another scanner",
         [&] { other = platform::folder_lock::try_take(input + sep + "Kelvad.lock"); },
         "FAIL  lock " + input + sep + "Kelvad.lock: held by another Kelvad"},
        {"scanner ini of one line", [&] { config.write("orvel_scanner.ini", "only\r\n"); },
         "FAIL  orvel_scanner.ini: fewer than two lines"},
        {"ORVEL path ini without a line", [&] { config.write("orvel_path.ini", ""); },
         "FAIL  orvel_path.ini: Error: " + config.path("orvel_path.ini") +
             " does not contain any line - the start-up stops here"},
    };
    for (const broken& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        c.make();
        const check_report report = check_configuration();
        SCOPED_TRACE(all_lines(report));
        EXPECT_FALSE(report.would_convert());
        EXPECT_TRUE(has_line(report, c.failure));
        EXPECT_TRUE(has_line(report, "      Kelvad would not convert result files now"));
        other = platform::folder_lock();
    }
}

}  // namespace
}  // namespace kelvad
