#pragma once
// Texts as the program reads and writes them: lists of lines, number forms, fields.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad {

using line_list_t = std::vector<std::string>;

// Decodes a whole file's bytes into lines. A byte-order mark selects UTF-8, UTF-16 LE or BE;
// without one the bytes are in the system's 8-bit code page. A line ends at CR, LF or CR LF; a
// final line end does not start another line. Bytes that are no well-formed UTF-8 (after its
// mark), lone UTF-16 surrogates and an odd last byte of a UTF-16 file become U+FFFD.
line_list_t split_lines(std::string_view bytes);

// UTF-16 code units (little or big endian) as UTF-8. An odd last byte is not decoded; a
// surrogate without its partner becomes U+FFFD.
std::string utf16_to_utf8(std::string_view bytes, bool big_endian);

// Loads a text file whole as a list of lines; raises kelvad_error when it cannot be opened.
line_list_t load_lines(const std::string& path);

// The bytes of a list of lines as an 8-bit text in the system's code page, CR LF after each.
std::string ansi_text_with_crlf(const line_list_t& lines);

// Whole number: optional leading blanks, optional sign, digits, nothing after; within 32 bits.
std::optional<std::int32_t> parse_whole_number(std::string_view text);
// Decimal number: optional leading blanks, optional sign, digits with optional "." and fraction
// (at least one digit on either side of the point), optional exponent ("E" or "e", optional
// sign, digits); "." whatever the locale; nothing after it. Beyond the range of a double: none.
std::optional<double> parse_decimal_number(std::string_view text);

// The first values.size() ";"-separated fields of a line as decimal numbers, each exactly as
// parse_decimal_number reads it, in one pass over the line (a value line of a traverse result
// holds hundreds of them); a field beyond the last one is empty. A field that is no number
// leaves its value as it was, and its text (a view into the line) is added to `bad_fields`.
void read_decimal_fields(const std::string& line, std::span<float> values,
                         std::vector<std::string_view>& bad_fields);

std::string ascii_upper(std::string_view text);
std::string ascii_lower(std::string_view text);
// Removes blanks and control characters (code below 33) at both ends.
std::string trim_blanks_and_controls(std::string_view text);
bool ends_with_separator(std::string_view path);
// The folder with one path separator appended unless it already ends in one (empty gives one).
std::string with_trailing_separator(std::string_view folder);
// folder + separator + name.
std::string join_path(std::string_view folder, std::string_view name);

}  // namespace kelvad
