#include "foundation/text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "foundation/error.h"
#include "foundation/test_support.h"

namespace kelvad {
namespace {

using namespace std::string_literals;

TEST(SplitLines, EncodingsAndLineEnds) {
    const std::string replacement = "\xEF\xBF\xBD";
    struct row {
        const char* name;
        std::string bytes;
        line_list_t lines;
    };
    const row rows[] = {
        {"empty file", "", {}},
        {"no line end", "a", {"a"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"empty line between", "a\r\n\r\nb", {"a", "", "b"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"mixed line ends", "a\r\nbc\rd\ne\r\r\nf\n\ng\r", {"a", "bc", "d", "e", "", "f", "", "g"}},
        {"only a line end", "\r\n", {""}},
        {"code page",
         "Gr\xFC\xDF"
         "e;\x80\r\nx",
         {"Grüße;€", "x"}},
        {"UTF-8 mark", "\xEF\xBB\xBFGrüße\r\nx", {"Grüße", "x"}},
        {"UTF-8 mark alone", "\xEF\xBB\xBF", {}},
        {"UTF-8 mark, broken sequence",
         "\xEF\xBB\xBF"
         "a\xFF"
         "b\xC3",
         {"a" + replacement + "b" + replacement}},
        {"UTF-16 LE",
         "\xFF\xFE"
         "a\0\r\0\n\0\xFC\0\r\0b\0"s,
         {"a", "ü", "b"}},
        {"UTF-16 BE", "\xFE\xFF\0a\0\n\0\xFC"s, {"a", "ü"}},
        {"UTF-16 surrogate pair", "\xFF\xFE\x3D\xD8\x00\xDE"s, {"\xF0\x9F\x98\x80"}},
        {"UTF-16 lone high surrogate at end", "\xFF\xFEx\0\x3D\xD8"s, {"x" + replacement}},
        {"UTF-16 lone low surrogate",
         "\xFF\xFE"
         "a\0\x00\xDC"
         "b\0"s,
         {"a" + replacement + "b"}},
        {"UTF-16 high surrogate before a letter",
         "\xFF\xFE\x3D\xD8"
         "b\0"s,
         {replacement + "b"}},
        {"UTF-16 odd byte count",
         "\xFF\xFE"
         "a\0b"s,
         {"a" + replacement}},
        {"UTF-16 mark and one byte",
         "\xFF\xFE"
         "a"s,
         {replacement}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(split_lines(r.bytes), r.lines);
    }
}

TEST(LoadLines, ReadsFileAndRaisesWhenMissing) {
    test::scratch_folder folder;
    test::write_file(folder / "in.csv", "Stamp;X\r\n1;;0;5\r\n");
    EXPECT_EQ(load_lines(folder / "in.csv"), (line_list_t{"Stamp;X", "1;;0;5"}));
    EXPECT_THROW(load_lines(folder / "missing.csv"), kelvad_error);
}

TEST(AnsiTextWithCrlf, CodePageBytesAndLineEnds) {
    EXPECT_EQ(ansi_text_with_crlf({"Grüße", "", "x"}),
              "Gr\xFC\xDF"
              "e\r\n\r\nx\r\n");
    EXPECT_EQ(ansi_text_with_crlf({}), "");
}

TEST(ParseDecimalNumber, NumberForms) {
    struct row {
        const char* text;
        std::optional<double> value;
    };
    const row rows[] = {
        {"0.75", 0.75},
        {" 0.75", 0.75},
        {"   -0.75", -0.75},
        {"7.5E-1", 0.75},
        {"7.5e+1", 75.0},
        {"+3", 3.0},
        {"12", 12.0},
        {"0,75", std::nullopt},
        {"0.75 ", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1e", std::nullopt},
        {"1e+", std::nullopt},
        {"e5", std::nullopt},
        {"- 1", std::nullopt},
        {"1.5.2", std::nullopt},
        {"0x10", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string("\"") + r.text + "\"");
        EXPECT_EQ(parse_decimal_number(r.text), r.value);
    }
}

// Most values of a result file take a short way to their double; it must give the same double
// as the library's correctly rounded conversion, in range and at its edges.
TEST(ParseDecimalNumber, SameDoubleAsTheLibraryConversion) {
    const char* digit_runs[] = {"0",
                                "7",
                                "75",
                                "7684",
                                "9246",
                                "1000",
                                "123456789",
                                "9007199254740992",
                                "9007199254740993",
                                "12345678901234567890"};
    const int exponents[] = {-330, -30, -23, -22, -21, -4, -1, 0, 1, 5, 21, 22, 23, 308, 309};
    for (const std::string digits : digit_runs) {
        // The point before, inside and after the digits, and none.
        for (std::size_t point = 0; point <= digits.size() + 1; ++point) {
            for (const int exponent : exponents) {
                for (const char* sign : {"", "-"}) {
                    std::string number = digits;
                    if (point <= digits.size()) number.insert(point, ".");
                    number = sign + number + "E" + std::to_string(exponent);
                    SCOPED_TRACE(number);
                    double expected = 0;
                    const char* first = number.data() + (*sign ? 1 : 0);
                    const char* last = number.data() + number.size();
                    const auto [stop, error] = std::from_chars(first, last, expected);
                    const auto parsed = parse_decimal_number(number);
                    if (error != std::errc() || stop != last || !std::isfinite(expected)) {
                        EXPECT_EQ(parsed, std::nullopt);
                        continue;
                    }
                    if (*sign) expected = -expected;
                    ASSERT_TRUE(parsed.has_value());
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(*parsed),
                              std::bit_cast<std::uint64_t>(expected));
                }
            }
        }
    }
}

TEST(ParseWholeNumber, NumberForms) {
    constexpr auto max = std::numeric_limits<std::int32_t>::max();
    constexpr auto min = std::numeric_limits<std::int32_t>::min();
    struct row {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const row rows[] = {
        {"-155", -155},
        {"  5", 5},
        {"+3", 3},
        {"007", 7},
        {"2147483647", max},
        {"-2147483648", min},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"3.0", std::nullopt},
        {"1 ", std::nullopt},
        {"1e3", std::nullopt},
        {"- 1", std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string("\"") + r.text + "\"");
        EXPECT_EQ(parse_whole_number(r.text), r.value);
    }
}

TEST(TextHelpers, CaseAndTrimTouchOnlyAscii) {
    EXPECT_EQ(ascii_upper("never use f1book äé"), "NEVER USE F1BOOK äé");
    EXPECT_EQ(ascii_lower("TRUE Ä"), "true Ä");
    EXPECT_EQ(trim_blanks_and_controls("\t  D:\\in \r\n"), "D:\\in");
    EXPECT_EQ(trim_blanks_and_controls(" \x01 "), "");
    EXPECT_EQ(trim_blanks_and_controls(" ä "), "ä");
}

}  // namespace
}  // namespace kelvad
