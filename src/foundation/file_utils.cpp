#include "foundation/file_utils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "foundation/durable_files.h"
#include "foundation/log.h"
#include "platform/platform.h"

namespace kelvad {

float stream_format_version = 0.0f;

namespace {

// 1970-01-01 counted in days from 1899-12-30.
constexpr double unix_epoch_days = 25569.0;
constexpr double ms_per_day = 86400000.0;

// The one pseudo-random generator of the process. The fixed seed only serves a caller that
// comes before the start-up; the start-up reseeds it from the platform's counter.
std::mt19937& random_generator() {
    static std::mt19937 generator(20130507u);
    return generator;
}

message_box_handler& message_handler() {
    static message_box_handler handler;
    return handler;
}

// The file name part of a path: everything after its last separator.
std::string_view file_name_of(std::string_view path) {
    const auto cut = path.find_last_of(platform::path_separator);
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Each byte of the 8-bit code page on its own as UTF-8: texts of the old layout are converted
// byte by byte, and the code page does not change while the program runs.
const std::array<std::string, 256>& ansi_characters() {
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t;
        for (int b = 0; b < 256; ++b) {
            t[b] = platform::ansi_to_utf8(std::string(1, static_cast<char>(b)));
            if (t[b].empty()) t[b] = "\xEF\xBF\xBD";  // a byte the code page cannot stand alone
        }
        return t;
    }();
    return table;
}

std::uint32_t little_endian_u32(const std::string& bytes) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24;
}

std::string read_new_layout_text(byte_stream& stream) {
    std::int32_t n = 0;
    if (!stream.read_int32(n)) return {};  // fewer than 4 bytes: nothing consumed
    if (n <= 0) return {};
    std::string bytes;
    // An impossible length leaves the stream just behind it.
    if (!stream.read_bytes(static_cast<std::size_t>(n), bytes)) return {};
    return utf16_to_utf8(bytes, false);  // an odd last byte is consumed and dropped
}

// A stream that ends inside the length or inside a block is a damaged file. The reader then
// takes every byte that is left (so that the next reader meets the end of the stream rather
// than the middle of a block) and gives the characters of the blocks read whole: a block cut
// short is not used, since its count byte may promise characters that were never written.
std::string read_old_layout_text(byte_stream& stream) {
    constexpr std::size_t block_size = 256;
    std::int32_t length = 0;
    if (!stream.read_int32(length)) {
        stream.skip(stream.remaining());
        return {};
    }
    const std::int32_t blocks = length / 255;  // truncated toward zero
    if (blocks < 0) return {};
    const auto& characters = ansi_characters();
    std::string text;
    std::string block;
    for (std::int64_t k = 0; k <= blocks; ++k) {
        if (!stream.read_bytes(block_size, block)) {
            stream.skip(stream.remaining());
            break;
        }
        const auto used = static_cast<unsigned char>(block[0]);
        for (std::size_t i = 1; i <= used; ++i)
            text += characters[static_cast<unsigned char>(block[i])];
    }
    return text;
}

}  // namespace

void seed_random_generator(std::uint64_t seed) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed),
                           static_cast<std::uint32_t>(seed >> 32)};
    random_generator().seed(sequence);
}

date_time date_time_from_local_ms(std::int64_t ms) {
    return unix_epoch_days + static_cast<double>(ms) / ms_per_day;
}

date_time now() {
    return date_time_from_local_ms(platform::local_now_ms());
}

std::string program_base_name() {
    return platform::program_base_name_of(std::string(file_name_of(platform::program_file())));
}

std::string program_file_path(std::string_view name) {
    const std::string program = platform::program_file();
    const auto cut = program.find_last_of(platform::path_separator);
    std::string path = cut == std::string::npos ? std::string() : program.substr(0, cut + 1);
    path += name;
    return path;
}

std::string user_app_data_folder() {
    return platform::roaming_app_data_folder();
}

std::string user_data_path(std::string_view name) {
    return join_path(join_path(user_app_data_folder(), program_base_name()), name);
}

bool ensure_folder(const std::string& path) {
    if (platform::folder_exists(path)) return true;
    return platform::create_folder(path);
}

bool ensure_folder_and_parents(const std::string& path) {
    if (path.empty() || platform::folder_exists(path)) return true;
    const auto cut = path.find_last_of(platform::path_separator);
    // A level that cannot be made shows in the folder below it, which then cannot be made.
    if (cut != std::string::npos && cut > 0) ensure_folder_and_parents(path.substr(0, cut));
    return platform::create_folder(path);
}

std::string first_file(const std::string& folder, const std::string& mask, std::int32_t& count) {
    // An empty folder stays empty: the search is then relative to the working folder.
    std::string pattern = folder;
    if (!pattern.empty() && !ends_with_separator(pattern)) pattern += platform::path_separator;
    pattern += mask;
    platform::plain_file_count files = platform::count_plain_files(pattern);
    count = static_cast<std::int32_t>(
        std::min<std::size_t>(files.count, std::numeric_limits<std::int32_t>::max()));
    return std::move(files.first_name);
}

std::int32_t count_files(const std::string& folder, const std::string& mask) {
    std::int32_t count = 0;
    first_file(folder, mask, count);
    return count;
}

std::string random_temp_name(std::string_view folder) {
    std::uniform_int_distribution<int> draw(0, 999999);
    auto& generator = random_generator();
    const int first = draw(generator);
    const int second = draw(generator);
    const int third = draw(generator);
    return with_trailing_separator(folder) + std::to_string(first) + "_" + std::to_string(second) +
           "_" + std::to_string(third) + ".tmp";
}

std::string system_temp_file_name() {
    std::string path = platform::create_system_temp_file();
    if (path.empty()) show_foundation_message("Warning - creation of temporary file failed");
    return path;
}

free_test test_file_free(const std::string& path) {
    free_test result;
    // The temporary name carries the original one, so that a file stranded under it by a
    // crash between the two renames can be given its name back.
    const std::string temp = free_test_name(path);
    if (!platform::rename_no_replace(path, temp)) {
        result.rename_error = platform::last_error();
        return result;
    }
    if (!platform::rename_no_replace(temp, path)) {
        result.rename_error = platform::last_error();
        result.stranded_as = temp;
        return result;
    }
    result.renamed = true;
    // A writer that shares deletion (Windows) or any writer at all (POSIX) lets the renames
    // through; the system is asked once more.
    result.writer = platform::writer_state(path);
    return result;
}

bool is_file_free(const std::string& path) {
    const free_test test = test_file_free(path);
    return test.renamed && test.writer != platform::writer_check::writer;
}

std::string semicolon_field(std::string_view text, std::int32_t n) {
    if (n < 1) n = 1;
    std::size_t start = 0;
    for (std::int32_t field = 1; field < n; ++field) {
        const auto semicolon = text.find(';', start);
        if (semicolon == std::string_view::npos) return {};
        start = semicolon + 1;
    }
    const auto end = text.find(';', start);
    return std::string(text.substr(start, end == std::string_view::npos ? end : end - start));
}

std::string lookup_in_pair_list(std::string_view key, const line_list_t& lines,
                                std::string_view default_value) {
    std::string result(default_value);
    const std::string wanted = ascii_upper(key);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (ascii_upper(lines[i]) != wanted) continue;
        if (i + 1 < lines.size()) {
            result = lines[i + 1];
            ++i;  // a value line is never itself a key
        }
    }
    return result;
}

float seconds_between(date_time t1, date_time t2) {
    // Whole milliseconds first: a difference of exactly 2 s, held in days, is a hair below or
    // above 2 s, and truncating that directly would give 1 s.
    const double ms = std::round(std::fabs(t1 - t2) * ms_per_day);
    if (!std::isfinite(ms)) return t1 < t2 ? -INFINITY : INFINITY;
    const double seconds = ms < 9.0e15 ? static_cast<double>(static_cast<std::int64_t>(ms) / 1000)
                                       : std::trunc(ms / 1000.0);
    return static_cast<float>(t1 < t2 ? -seconds : seconds);
}

file_attribute_set file_attributes(const std::string& path) {
    file_attribute_set set;
    const auto entries = platform::find_entries(path);
    if (entries.empty()) return set;
    const std::uint32_t bits = entries.front().attributes;
    set.read_only = bits & platform::attribute::read_only;
    set.hidden = bits & platform::attribute::hidden;
    set.system = bits & platform::attribute::system;
    set.volume_id = bits & platform::attribute::volume_id;
    set.directory = bits & platform::attribute::directory;
    set.archive = bits & platform::attribute::archive;
    set.any_file = bits & 0x1FF;
    return set;
}

bool is_read_only(const std::string& path) {
    return file_attributes(path).read_only;
}

bool byte_stream::read_bytes(std::size_t count, std::string& out) {
    if (count > remaining()) return false;
    out.assign(bytes_, position_, count);
    position_ += count;
    return true;
}

bool byte_stream::read_int32(std::int32_t& out) {
    std::string bytes;
    if (!read_bytes(4, bytes)) return false;
    out = static_cast<std::int32_t>(little_endian_u32(bytes));
    return true;
}

bool byte_stream::read_uint16(std::uint16_t& out) {
    if (remaining() < 2) return false;
    out = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes_[position_]) |
                                     static_cast<unsigned char>(bytes_[position_ + 1]) << 8);
    position_ += 2;
    return true;
}

bool byte_stream::read_float(float& out) {
    std::string bytes;
    if (!read_bytes(4, bytes)) return false;
    out = std::bit_cast<float>(little_endian_u32(bytes));
    return true;
}

bool byte_stream::skip(std::size_t count) {
    if (count > remaining()) return false;
    position_ += count;
    return true;
}

std::string read_stream_text(byte_stream& stream) {
    // Both compared in single precision, so the float nearest to 3.18 selects the new layout.
    if (stream_format_version >= 3.18f) return read_new_layout_text(stream);
    return read_old_layout_text(stream);
}

void set_message_box_handler(message_box_handler handler) {
    message_handler() = std::move(handler);
}

void show_foundation_message(const std::string& text) {
    // An installed box writes its own log line; before the window exists only the log has it.
    if (message_handler()) {
        message_handler()(text);
    } else {
        log_message_box(text);
    }
}

}  // namespace kelvad
