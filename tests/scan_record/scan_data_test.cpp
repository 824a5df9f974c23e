#include "scan_record/scan_data.h"

#include <gtest/gtest.h>

#include <limits>

#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "foundation/test_support.h"
#include "foundation/text.h"

namespace kelvad {
namespace {

std::string sample_path(const char* name) {
    return std::string(KELVAD_SAMPLES_DIR) + "/" + name;
}

// The traverse of the sample result file as a record: the position lines follow the stamp
// line, and each "Spectrum;k" line is followed by one line of 125 values per position.
scan_data record_of_sample() {
    const line_list_t lines = load_lines(sample_path("ONGQR_sample.csv"));
    std::size_t i = 0;
    while (i < lines.size() && semicolon_field(lines[i], 1) != "Stamp") ++i;
    std::vector<std::int32_t> positions;
    for (++i; i < lines.size(); ++i) {
        const auto position = parse_whole_number(semicolon_field(lines[i], 4));
        if (!position) break;
        positions.push_back(*position);
    }
    scan_data record;
    const auto a = static_cast<std::int32_t>(positions.size());
    record.set_dimensions(a, 3, 125);
    record.positions = positions;
    for (std::int32_t kind = 0; kind < 3; ++kind) {
        record.first_wavelengths[kind] = 380.0f;
        record.last_wavelengths[kind] = 1000.0f;
        record.kind_point_counts[kind] = 125;
        while (i < lines.size() && lines[i] != "Spectrum;" + std::to_string(kind)) ++i;
        for (std::int32_t p = 0; p < a; ++p) {
            const std::string& line = lines.at(++i);
            for (std::int32_t k = 1; k <= 125; ++k) {
                const auto value = parse_decimal_number(semicolon_field(line, k));
                EXPECT_TRUE(value.has_value()) << line;
                record.values[record.value_index(p, kind, k - 1)] =
                    static_cast<float>(value.value_or(0.0));
            }
        }
    }
    return record;
}

TEST(ScanData, SampleTraverseGivesTheSampleScanFile) {
    const scan_data record = record_of_sample();
    ASSERT_EQ(record.position_count, 32);
    const std::string bytes = record.scan_file_bytes();
    ASSERT_EQ(bytes.size(), 48188u);
    const std::string head("\xCD\xCC\x8C\x3F\x20\0\0\0\x03\0\0\0\x7D\0\0\0", 16);
    EXPECT_EQ(bytes.substr(0, 16), head);
    EXPECT_EQ(bytes.substr(bytes.size() - 8), std::string(8, '\0'));
    EXPECT_TRUE(bytes == *test::read_file(sample_path("TRV_0001.scn")))
        << "the bytes differ from the sample scan file";
}

TEST(ScanData, NewRecordAndValueIndex) {
    scan_data record;
    EXPECT_EQ(record.version, 1.1f);
    EXPECT_EQ(record.scan_file_bytes(), std::string("\xCD\xCC\x8C\x3F", 4) + std::string(20, '\0'));
    record.set_dimensions(2, 3, 4);
    EXPECT_EQ(record.value_index(0, 0, 3), 3);
    EXPECT_EQ(record.value_index(0, 1, 0), 4);
    EXPECT_EQ(record.value_index(1, 0, 0), 12);
    EXPECT_EQ(record.value_index(1, 2, 3), 23);
}

TEST(ScanData, SetDimensionsKeepsWhatFitsAndZeroFills) {
    scan_data record;
    record.set_dimensions(2, 1, 3);
    record.positions = {7, 8};
    record.kind_point_counts = {3};
    record.values = {1, 2, 3, 4, 5, 6};
    record.set_dimensions(3, 2, 2);
    EXPECT_EQ(record.positions, (std::vector<std::int32_t>{7, 8, 0}));
    EXPECT_EQ(record.kind_point_counts, (std::vector<std::int32_t>{3, 0}));
    EXPECT_EQ(record.first_wavelengths.size(), 2u);
    EXPECT_EQ(record.values, (std::vector<float>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));
    record.set_dimensions(1, 1, 2);
    EXPECT_EQ(record.values, (std::vector<float>{1, 2}));
    EXPECT_EQ(record.scan_file_bytes().size(), 24u + 4 + 12 + 8);
}

TEST(ScanData, UnusableDimensions) {
    constexpr auto big = std::numeric_limits<std::int32_t>::max();
    struct row {
        std::int32_t a, b, c;
        bool refused;
        std::int32_t stored_a, stored_b, stored_c;
    };
    const row rows[] = {
        {-1, 3, 125, false, 0, 3, 125},
        {32, -3, 125, false, 32, 0, 125},
        {32, 3, std::numeric_limits<std::int32_t>::min(), false, 32, 3, 0},
        {big, big, big, true, 5, 2, 4},    // A·B·C beyond 64 bits as 32-bit products
        {65536, 65536, 1, true, 5, 2, 4},  // A·B wraps to 0 in 32 bits
        {big, 0, 0, true, 5, 2, 4},        // positions alone too many
        {1000, 3, 100000, true, 5, 2, 4},  // over a gigabyte of values
        {1000, 3, 1000, false, 1000, 3, 1000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.a) + " x " + std::to_string(r.b) + " x " +
                     std::to_string(r.c));
        scan_data record;
        record.set_dimensions(5, 2, 4);
        if (r.refused) {
            EXPECT_THROW(record.set_dimensions(r.a, r.b, r.c), kelvad_error);
        } else {
            record.set_dimensions(r.a, r.b, r.c);
        }
        EXPECT_EQ(record.position_count, r.stored_a);
        EXPECT_EQ(record.kind_count, r.stored_b);
        EXPECT_EQ(record.point_count, r.stored_c);
        EXPECT_EQ(record.positions.size(), static_cast<std::size_t>(r.stored_a));
        EXPECT_EQ(record.kind_point_counts.size(), static_cast<std::size_t>(r.stored_b));
        EXPECT_EQ(record.values.size(),
                  static_cast<std::size_t>(r.stored_a) * r.stored_b * r.stored_c);
        EXPECT_EQ(record.scan_file_bytes().size(),
                  24u + 4u * r.stored_a + 12u * r.stored_b +
                      4u * std::size_t(r.stored_a) * r.stored_b * r.stored_c);
    }
}

// The system temporary folder is a scratch folder of its own, so that the test sees every
// temporary file the writer leaves behind.
class ScanFileWriting : public ::testing::Test {
  protected:
    void SetUp() override {
        set_message_box_handler([this](const std::string& text) { shown.push_back(text); });
    }
    void TearDown() override { set_message_box_handler(nullptr); }

    test::scratch_folder temp;
    test::scratch_folder out;
    test::scoped_environment tmpdir{"TMPDIR", temp.folder()};
    test::scoped_environment tmp{"TMP", temp.folder()};
    test::scoped_environment temp_env{"TEMP", temp.folder()};
    std::vector<std::string> shown;
};

TEST_F(ScanFileWriting, WritesCompleteFileAndRemovesTemporary) {
    const scan_data record = record_of_sample();
    const std::string target = out / "TRV_0001.scn";
    EXPECT_TRUE(record.write_scan_file(target));
    EXPECT_EQ(test::read_file(target), test::read_file(sample_path("TRV_0001.scn")));
    EXPECT_TRUE(temp.names().empty());

    scan_data small;
    small.set_dimensions(1, 1, 1);
    small.values[0] = 0.5f;
    EXPECT_TRUE(small.write_scan_file(target));
    EXPECT_EQ(test::read_file(target), small.scan_file_bytes())
        << "the second file replaces the first";
    EXPECT_EQ(out.names(), std::vector<std::string>{"TRV_0001.scn"});
    EXPECT_TRUE(temp.names().empty());
    EXPECT_TRUE(shown.empty());
}

TEST_F(ScanFileWriting, MissingFolderGivesFalseAndLeavesNothing) {
    scan_data record;
    record.set_dimensions(32, 3, 125);
    const std::string target = out / "missing" + platform::path_separator + "TRV_0001.scn";
    EXPECT_FALSE(record.write_scan_file(target));
    EXPECT_FALSE(platform::file_exists(target));
    EXPECT_TRUE(out.names().empty());
    EXPECT_TRUE(temp.names().empty());
    EXPECT_TRUE(shown.empty());
}

TEST_F(ScanFileWriting, FailingStepKeepsTheEarlierScanAndLeavesNoTemporaryFile) {
    // A full disk or a failing flush must never leave a partial scan where the analysis takes
    // it, nor replace the scan that was there.
    const std::string target = out / "TRV_0001.scn";
    test::write_file(target, "earlier scan");
    for (const platform::fault::step step :
         {platform::fault::step::write, platform::fault::step::flush,
          platform::fault::step::rename}) {
        SCOPED_TRACE(static_cast<int>(step));
        platform::fault::inject(step);
        EXPECT_FALSE(record_of_sample().write_scan_file(target));
        platform::fault::clear();
        EXPECT_EQ(test::read_file(target), "earlier scan");
        EXPECT_EQ(out.names(), std::vector<std::string>{"TRV_0001.scn"});
    }
    EXPECT_TRUE(temp.names().empty()) << "the system temporary folder is not used";
}

}  // namespace
}  // namespace kelvad
