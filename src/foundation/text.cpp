#include "foundation/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <system_error>

#include "foundation/error.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace kelvad {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

// Result files come from other machines: a byte sequence that is no UTF-8 must not travel on
// as such, so every byte that does not belong to a well-formed sequence becomes U+FFFD.
std::string valid_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out += static_cast<char>(b0);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2, c = b0 & 0x1F, minimum = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3, c = b0 & 0x0F, minimum = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4, c = b0 & 0x07, minimum = 0x10000;
        }
        bool ok = length > 0 && i + length <= bytes.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + k]);
            if ((b & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (b & 0x3F);
        }
        if (ok && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (ok) {
            out.append(bytes.substr(i, length));
            i += length;
        } else {
            platform::utf8::append(out, replacement_character);
            ++i;
        }
    }
    return out;
}

// The powers of ten that a double holds exactly, and the largest whole number below which
// every whole number is an exact double.
constexpr std::ptrdiff_t max_exact_power = 22;
constexpr double exact_powers_of_ten[max_exact_power + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::uint64_t largest_exact_mantissa = std::uint64_t{1} << 53;

// A whole number up to 2^53 and a power of ten up to 10^22 are both exact doubles, so one
// multiplication or division rounds the decimal value correctly: the same double that
// from_chars gives, at a fraction of its cost for the thousands of values of a traverse. None
// beyond those bounds.
std::optional<double> exact_decimal(std::uint64_t mantissa, std::ptrdiff_t power, bool negative) {
    if (mantissa > largest_exact_mantissa || power < -max_exact_power || power > max_exact_power)
        return std::nullopt;
    const double whole = static_cast<double>(mantissa);
    const double value =
        power < 0 ? whole / exact_powers_of_ten[-power] : whole * exact_powers_of_ten[power];
    return negative ? -value : value;
}

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

std::uint64_t digit_value(char c) {
    return static_cast<std::uint64_t>(c - '0');
}

// Leading blanks are allowed before a number; nothing else is skipped.
std::size_t skip_blanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    return i;
}

}  // namespace

std::string utf16_to_utf8(std::string_view bytes, bool big_endian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unit_at = [&](std::size_t k) -> char16_t {
        const auto lo = static_cast<unsigned char>(bytes[2 * k + (big_endian ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[2 * k + (big_endian ? 0 : 1)]);
        return static_cast<char16_t>(lo | (hi << 8));
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char16_t u = unit_at(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const char16_t next = unit_at(k + 1);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                platform::utf8::append(out,
                                       0x10000 + ((char32_t(u) - 0xD800) << 10) + (next - 0xDC00));
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            platform::utf8::append(out, replacement_character);  // a surrogate without its partner
        } else {
            platform::utf8::append(out, u);
        }
    }
    return out;
}

line_list_t split_lines(std::string_view bytes) {
    std::string text;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = valid_utf8(bytes.substr(3));
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        text = utf16_to_utf8(bytes.substr(2), false);
        // A byte left over after the last whole code unit is a damaged end of file: it is shown
        // as a replacement character rather than dropped without a trace.
        if (bytes.size() % 2 != 0) platform::utf8::append(text, replacement_character);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        text = utf16_to_utf8(bytes.substr(2), true);
        if (bytes.size() % 2 != 0) platform::utf8::append(text, replacement_character);
    } else {
        text = platform::ansi_to_utf8(bytes);
    }

    // A line ends at the first CR or LF. The next LF is found once and kept; only the stretch
    // before it is searched for a CR (both searches are the library's fast byte search).
    line_list_t lines;
    const std::size_t size = text.size();
    std::size_t start = 0;
    std::size_t next_lf = std::min(text.find('\n'), size);
    while (start < size) {
        if (next_lf < start) next_lf = std::min(text.find('\n', start), size);
        const void* cr =
            next_lf > start ? std::memchr(text.data() + start, '\r', next_lf - start) : nullptr;
        const std::size_t end =
            cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - text.data()) : next_lf;
        if (end == size) break;  // the last line has no line end
        lines.emplace_back(text, start, end - start);
        start = end + (text[end] == '\r' && end + 1 < size && text[end + 1] == '\n' ? 2 : 1);
    }
    if (start < size) lines.emplace_back(text, start, size - start);
    return lines;
}

line_list_t load_lines(const std::string& path) {
    const auto bytes = platform::read_file_bytes(path);
    if (!bytes) throw kelvad_error("Cannot open file \"" + path + "\".");
    return split_lines(*bytes);
}

std::string ansi_text_with_crlf(const line_list_t& lines) {
    std::string out;
    for (const auto& line : lines) {
        out += platform::utf8_to_ansi(line);
        out += "\r\n";
    }
    return out;
}

std::optional<std::int32_t> parse_whole_number(std::string_view text) {
    std::size_t i = skip_blanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!is_ascii_digit(text[i])) return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> parse_decimal_number(std::string_view text) {
    // The form is checked here, and along with it the digits are gathered as a whole number
    // and a power of ten.
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && *p == ' ') ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* const begin = p;
    std::uint64_t mantissa = 0;  // wraps beyond 19 digits, and is then not used
    while (p < end && is_ascii_digit(*p)) mantissa = mantissa * 10 + digit_value(*p++);
    std::ptrdiff_t digits = p - begin;
    std::ptrdiff_t power = 0;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        while (p < end && is_ascii_digit(*p)) mantissa = mantissa * 10 + digit_value(*p++);
        power = fraction - p;
        digits += p - fraction;
    }
    if (digits == 0) return std::nullopt;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative_exponent = false;
        if (p < end && (*p == '+' || *p == '-')) negative_exponent = *p++ == '-';
        const char* const exponent_digits = p;
        std::ptrdiff_t exponent = 0;
        while (p < end && is_ascii_digit(*p)) {
            // Held within bounds; so large an exponent leaves the short way anyway.
            if (exponent < 100000) exponent = exponent * 10 + digit_value(*p);
            ++p;
        }
        if (p == exponent_digits) return std::nullopt;
        power += negative_exponent ? -exponent : exponent;
    }
    if (p != end) return std::nullopt;

    // Beyond 19 digits the gathered whole number has wrapped.
    if (digits <= 19)
        if (const std::optional<double> value = exact_decimal(mantissa, power, negative))
            return value;

    // from_chars converts the checked characters with "." as the decimal point whatever the
    // locale (the toolkit may have switched the C locale).
    double value = 0.0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    // Beyond the range of a double (either way) is no usable number.
    if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

namespace {

// The short way of a value that a measurement system writes: sign, up to 15 digits around the
// point, an exponent of up to three digits, then ";" or the end of the line. A string's
// characters end with a zero, which is no digit, so no step needs to look for the end. The
// value is the double parse_decimal_number gives; nullptr leaves the field to it.
const char* read_short_decimal(const char* p, const char* end, double& value) {
    const auto is_digit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    const char* const digits_begin = p;
    std::uint64_t mantissa = 0;
    while (is_digit(*p)) mantissa = mantissa * 10 + digit_value(*p++);
    std::ptrdiff_t digits = p - digits_begin;
    std::ptrdiff_t power = 0;
    if (*p == '.') {
        const char* const fraction = ++p;
        while (is_digit(*p)) mantissa = mantissa * 10 + digit_value(*p++);
        power = fraction - p;
        digits -= power;
    }
    // Up to 15 digits stay below 2^53 (more might wrap).
    if (digits == 0 || digits > 15) return nullptr;
    if (*p == 'e' || *p == 'E') {
        ++p;
        const bool negative_exponent = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        const char* const exponent_digits = p;
        std::ptrdiff_t exponent = 0;
        while (is_digit(*p)) {
            if (p - exponent_digits == 3) return nullptr;
            exponent = exponent * 10 + static_cast<std::ptrdiff_t>(digit_value(*p++));
        }
        if (p == exponent_digits) return nullptr;
        power += negative_exponent ? -exponent : exponent;
    }
    if (p != end && *p != ';') return nullptr;
    const std::optional<double> exact = exact_decimal(mantissa, power, negative);
    if (!exact) return nullptr;
    value = *exact;
    return p;
}

}  // namespace

void read_decimal_fields(const std::string& line, std::span<float> values,
                         std::vector<std::string_view>& bad_fields) {
    const char* next = line.c_str();
    const char* const end = next + line.size();
    bool past_last = false;
    for (float& value : values) {
        if (past_last) {
            // Beyond the last field every field is empty: no number.
            bad_fields.emplace_back();
            continue;
        }
        const char* const start = next;
        double number = 0.0;
        const char* stop = read_short_decimal(start, end, number);
        if (stop) {
            value = static_cast<float>(number);
        } else {
            // The long way: blanks, many digits, a far exponent, or no number at all.
            stop = start;
            while (stop != end && *stop != ';') ++stop;
            const std::string_view field(start, static_cast<std::size_t>(stop - start));
            if (const std::optional<double> parsed = parse_decimal_number(field)) {
                value = static_cast<float>(*parsed);
            } else {
                bad_fields.push_back(field);
            }
        }
        past_last = stop == end;
        if (!past_last) next = stop + 1;
    }
}

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string trim_blanks_and_controls(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) < 33) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) --end;
    return std::string(text.substr(begin, end - begin));
}

bool ends_with_separator(std::string_view path) {
    return !path.empty() && path.back() == platform::path_separator;
}

std::string with_trailing_separator(std::string_view folder) {
    std::string out(folder);
    if (!ends_with_separator(out)) out += platform::path_separator;
    return out;
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string out(folder);
    out += platform::path_separator;
    out += name;
    return out;
}

}  // namespace kelvad
