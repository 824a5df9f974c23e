// The log file: line form, kinds of lines, and the rename to ".log.1" when it grows too big.

#include "foundation/log.h"

#include <gtest/gtest.h>

#include <regex>

#include "foundation/calendar.h"
#include "foundation/test_support.h"

namespace kelvad {
namespace {

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(platform::to_fs_path(path), std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class log_file : public ::testing::Test {
  protected:
    void TearDown() override {
        close_log();
        set_log_rotation_size(10ull * 1024 * 1024);
    }
    test::scratch_folder folder;
    std::string path = folder / "Kelvad.log";
};

TEST_F(log_file, each_line_carries_its_time_and_kind) {
    open_log(path, false);
    log_line("Processed ONGQ result: M\xc3\xbcller.csv");
    log_message_box("Error reading spectral value: 0,75");
    log_error("Cannot create file x");
    close_log();
    const std::vector<std::string> lines = lines_of(path);
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\t)");
    const std::string texts[] = {"Processed ONGQ result: M\xc3\xbcller.csv",
                                 "message box: Error reading spectral value: 0,75",
                                 "error: Cannot create file x"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(lines[i], match, stamp));
        EXPECT_EQ(match.position(0), 0);
        EXPECT_EQ(lines[i].substr(24), texts[i]);
    }
}

TEST_F(log_file, full_log_is_renamed_and_the_older_one_replaced) {
    // Every line is 52 bytes with its time: two lines pass the size of 100.
    set_log_rotation_size(100);
    open_log(path, false);
    const auto text = [](const std::string& name) { return name + std::string(25, '.'); };
    for (const char* name : {"a0", "a1", "b0", "b1", "c0"}) log_line(text(name));
    close_log();
    const std::vector<std::string> older = lines_of(path + ".1");
    ASSERT_EQ(older.size(), 2u);
    EXPECT_EQ(older[0].substr(24), text("b0"));
    EXPECT_EQ(older[1].substr(24), text("b1"));
    const std::vector<std::string> newest = lines_of(path);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0].substr(24), text("c0"));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"Kelvad.log", "Kelvad.log.1"}));
}

TEST(civil_time, local_milliseconds_to_calendar) {
    struct case_t {
        std::int64_t ms;
        civil_time expected;
    };
    const case_t cases[] = {
        {0, {1970, 1, 1, 0, 0, 0, 0}},
        {951827696789, {2000, 2, 29, 12, 34, 56, 789}},
        {1796774400000 + 86399999, {2026, 12, 9, 23, 59, 59, 999}},
        {-1, {1969, 12, 31, 23, 59, 59, 999}},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.ms);
        const civil_time t = civil_time_of(c.ms);
        EXPECT_EQ(
            std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}),
            std::vector<int>({c.expected.year, c.expected.month, c.expected.day, c.expected.hour,
                              c.expected.minute, c.expected.second, c.expected.millisecond}));
    }
}

}  // namespace
}  // namespace kelvad
