#include "foundation/text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

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

// The value lines' reader must give, field by field, what splitting at ";" and
// parse_decimal_number give: the same float or the value left as it was, and the field's text.
void expect_fields_as_parsed_one_by_one(const std::string& line, int fields_to_read) {
    SCOPED_TRACE("line \"" + line + "\"");
    constexpr float untouched = -12345.0f;
    std::vector<float> values(static_cast<std::size_t>(fields_to_read), untouched);
    std::vector<std::string_view> bad_fields;
    read_decimal_fields(line, values, bad_fields);

    std::string_view rest = line;
    bool past_last = false;
    std::size_t bad = 0;
    for (int k = 0; k < fields_to_read; ++k) {
        SCOPED_TRACE("field " + std::to_string(k + 1));
        std::string_view expected_field;
        if (!past_last) {
            const std::size_t semicolon = rest.find(';');
            expected_field = rest.substr(0, semicolon);
            if (semicolon == std::string_view::npos) {
                past_last = true;
            } else {
                rest.remove_prefix(semicolon + 1);
            }
        }
        const std::optional<double> expected = parse_decimal_number(expected_field);
        const float value = values[static_cast<std::size_t>(k)];
        if (expected) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(value),
                      std::bit_cast<std::uint32_t>(static_cast<float>(*expected)))
                << "field \"" << expected_field << "\"";
        } else {
            EXPECT_EQ(value, untouched) << "field \"" << expected_field << "\"";
            ASSERT_LT(bad, bad_fields.size());
            EXPECT_EQ(bad_fields[bad++], expected_field);
        }
    }
    EXPECT_EQ(bad, bad_fields.size());
}

TEST(ReadDecimalFields, ReadsEveryFieldAsTheNumberParserDoes) {
    const std::vector<std::string> lines = {
        "1.234E-01;0.5678;1.201E+00;0.0000;",
        "0.5678;1.234E-01",
        "12345678;1234567.1234567;0.12345678;-7;+7.;.5;-.5E2;5e-022",
        "1e22;1e23;1e-22;1e-23;9.999E+999;1e1000;0.0000001E-15",
        " 1.5; 1.5 ;1.5 ;1,5;;x;1e;1e+;-;.;1.5.2;0x10;inf;nan;1.0e5x",
        "",
        ";",
        "7",
        "00000001.00000001;0000000.0000000",
    };
    for (const std::string& line : lines) expect_fields_as_parsed_one_by_one(line, 12);

    // Random lines of number characters, with the line ending anywhere in a number.
    std::mt19937 generator(20261211);
    const std::string alphabet = "0123456789012345678901234567890123456789..;;;;eE+- x";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 60);
    for (int i = 0; i < 20000; ++i) {
        std::string line;
        for (int n = length(generator); n > 0; --n) line += alphabet[pick(generator)];
        expect_fields_as_parsed_one_by_one(line, 25);
        if (HasFatalFailure()) return;
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
