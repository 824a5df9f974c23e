// Whatever lands in the transfer folder, each file ends processed, discarded or in the failed
// folder: no crash, no hang, nothing left behind.

#include <random>

#include "orvel_fixture.h"

namespace kelvad {
namespace {

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xff);
    return bytes;
}

std::string utf16le_with_bom(const std::string& ascii) {
    std::string bytes = "\xff\xfe";
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

std::string small_traverse() {
    return testing::crlf_lines({"h", "Stamp;U16;", "1;U16;;3", "2;;;4", "end;;;", "Spectrum;0",
                                "1;2;", "3;4;", "Spectrum;1", "5;6;", "7;8;", "Spectrum;2", "9;10;",
                                "11;12;", ";"});
}

class bad_input : public orvel_fixture {};

TEST_F(bad_input, every_file_ends_processed_discarded_or_failed) {
    write_scanner_ini("2");
    testing::make_folders(measurement_folder("Production", "3"));
    const std::string million_semicolons(1000000, ';');
    const std::pair<std::string, std::string> files[] = {
        {"ONGQR_random.csv", random_bytes(65536, 1)},
        {"O3PR_random.csv", random_bytes(65536, 2)},
        {"random.csv", random_bytes(4096, 3)},
        {"ONGQR_empty.csv", ""},
        {"O3PR_empty.csv", ""},
        {"ONGQR_huge_line.csv", std::string(8 << 20, 'x')},
        {"ONGQR_semicolons.csv",
         testing::crlf_lines({"h", "Stamp;S;", "1;S;;3", "end", "Spectrum;0",
                              million_semicolons.c_str(), "Spectrum;1", million_semicolons.c_str(),
                              "Spectrum;2", million_semicolons.c_str(), ";"})},
        {"O3PR_semicolons.csv",
         testing::crlf_lines({"a", "b", "Device;3", "Plate;SEMI", "Spectrum;",
                              million_semicolons.c_str(), "Wavelength;", million_semicolons.c_str(),
                              "end"})},
        {"ONGQR_numbers.csv",
         testing::crlf_lines({"h", "Stamp;NUM;", "1;NUM;;99999999999", "1;;;0x10", "1;;;--1",
                              "Spectrum;0", "1e999;nan;", "Spectrum;1", "inf;1.2.3;", "Spectrum;2",
                              "-;+;", ";"})},
        {"ONGQR_utf16_bom.csv", utf16le_with_bom(small_traverse())},
        {"ONGQR_utf16_no_bom.csv", utf16le_with_bom(small_traverse()).substr(2)},
        {"ONGQR_M\xc3\xbcller.csv", small_traverse()},
        {"O3PR_\xc3\xa9t\xc3\xa9.csv",
         testing::crlf_lines({"a", "b", "Device;3", "Plate;\xe9", "Spectrum;", "1;", "Wavelength;",
                              "380;", "end"})},
    };
    for (const auto& [name, bytes] : files) drop(name, bytes);
    start();
    for (int i = 0; i < 3 && !input_files().empty(); ++i) tick();
    EXPECT_EQ(input_files(), std::vector<std::string>{});

    // The UTF-16 file with its byte-order mark is a proper traverse result.
    const std::string scans = measurement_folder("Production", "BE");
    EXPECT_TRUE(testing::file_exists(scans + sep + "U16.scn"));
    EXPECT_TRUE(has_message("Processed ONGQ result: ONGQR_M\xc3\xbcller.csv"));
    EXPECT_TRUE(
        testing::file_exists(measurement_folder("Production", "3") + sep + "\xc3\xa9___T.xy"));
    EXPECT_TRUE(testing::file_exists(measurement_folder("Production", "3") + sep + "SEMI___T.xy"));
    EXPECT_TRUE(window->Timer1.enabled());
}

}  // namespace
}  // namespace kelvad
