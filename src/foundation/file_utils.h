#pragma once
// File and path functions shared by every part of the scanner.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/text.h"
#include "platform/platform.h"

namespace kelvad {

// Date-time in days since 1899-12-30 local time; the fraction is the time of day.
using date_time = double;
date_time now();
date_time date_time_from_local_ms(std::int64_t ms);

// Selects the text layout that read_stream_text reads: 3.18 and above the new one.
extern float stream_format_version;

std::string program_base_name();
std::string program_file_path(std::string_view name);
std::string user_app_data_folder();
std::string user_data_path(std::string_view name);
bool ensure_folder(const std::string& path);
// The folder and every missing level above it.
bool ensure_folder_and_parents(const std::string& path);

std::int32_t count_files(const std::string& folder, const std::string& mask);
// The name of the first plain file matching (no folder part), or empty; `count` as count_files.
std::string first_file(const std::string& folder, const std::string& mask, std::int32_t& count);

// Seeds the process-wide pseudo-random generator (the start-up does, from the platform's counter).
void seed_random_generator(std::uint64_t seed);
std::string random_temp_name(std::string_view folder);
// A new empty file in the system temporary folder; on failure the warning box is shown (through
// the handler installed with set_message_box_handler) and the result is empty.
std::string system_temp_file_name();

bool is_file_free(const std::string& path);
// What the readiness test of a result file saw: whether the file could be renamed away and
// back, and what the system says of a writer afterwards.
struct free_test {
    bool renamed = false;
    platform::os_error rename_error;  // when not renamed
    std::string stranded_as;          // the second rename failed: the file's name now
    platform::writer_check writer = platform::writer_check::unknown;
};
free_test test_file_free(const std::string& path);

std::string semicolon_field(std::string_view text, std::int32_t n);
std::string lookup_in_pair_list(std::string_view key, const line_list_t& lines,
                                std::string_view default_value);
float seconds_between(date_time t1, date_time t2);

struct file_attribute_set {
    bool read_only = false;
    bool hidden = false;
    bool system = false;
    bool volume_id = false;
    bool directory = false;
    bool archive = false;
    bool any_file = false;
    bool operator==(const file_attribute_set&) const = default;
};
file_attribute_set file_attributes(const std::string& path);
bool is_read_only(const std::string& path);

// A binary stream over bytes held in memory: the readers of binary files load the file whole,
// so no count read from it can make them read past its end or allocate beyond its size.
class byte_stream {
  public:
    explicit byte_stream(std::string bytes) : bytes_(std::move(bytes)) {}
    std::size_t remaining() const { return bytes_.size() - position_; }
    std::size_t position() const { return position_; }
    void seek(std::size_t position) {
        position_ = position < bytes_.size() ? position : bytes_.size();
    }
    // Each read fails (false) without consuming anything when too few bytes remain.
    bool read_bytes(std::size_t count, std::string& out);
    bool read_int32(std::int32_t& out);
    bool read_uint16(std::uint16_t& out);
    bool read_float(float& out);
    bool skip(std::size_t count);

  private:
    std::string bytes_;
    std::size_t position_ = 0;
};

std::string read_stream_text(byte_stream& stream);

// The modal OK box of the foundations (the temporary file warning). The window installs the
// toolkit's box at start; until then the text goes to the log only.
using message_box_handler = std::function<void(const std::string& text)>;
void set_message_box_handler(message_box_handler handler);
void show_foundation_message(const std::string& text);

}  // namespace kelvad
