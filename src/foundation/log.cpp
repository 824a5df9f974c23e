#include "foundation/log.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "foundation/calendar.h"
#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

struct log_state {
    std::string path;
    std::ofstream file;
    std::uint64_t size = 0;
    std::uint64_t rotation_size = 10ull * 1024 * 1024;
    bool echo = false;
};

log_state& state() {
    static log_state s;
    return s;
}

void open_for_append(log_state& s) {
    s.file.open(platform::to_fs_path(s.path), std::ios::binary | std::ios::app);
    s.file.seekp(0, std::ios::end);
    const auto end = s.file.tellp();
    s.size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
}

// "YYYY-MM-DD HH:MM:SS.mmm" of a local time in milliseconds since 1970.
std::string timestamp(std::int64_t ms) {
    const civil_time t = civil_time_of(ms);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return buffer;
}

void rotate_if_full(log_state& s) {
    if (s.size <= s.rotation_size || !s.file.is_open()) return;
    s.file.close();
    platform::replace_file(s.path, s.path + ".1");
    open_for_append(s);
}

}  // namespace

std::string default_log_path() {
    return user_data_path(program_base_name() + ".log");
}

void open_log(const std::string& path, bool echo_to_stdout) {
    log_state& s = state();
    if (s.file.is_open()) s.file.close();
    s.path = path;
    s.echo = echo_to_stdout;
    open_for_append(s);
}

void close_log() {
    log_state& s = state();
    if (s.file.is_open()) s.file.close();
    s.path.clear();
}

void log_line(std::string_view text) {
    log_line_group({std::string(text)});
}

void log_line_group(const std::vector<std::string>& texts) {
    log_state& s = state();
    if (!s.file.is_open() && !s.echo) return;
    const std::string stamp = timestamp(platform::local_now_ms());
    std::string lines;
    for (const std::string& text : texts) {
        lines += stamp;
        lines += '\t';
        lines += text;
        lines += '\n';
    }
    if (s.file.is_open()) {
        s.file << lines;
        s.file.flush();
        s.size += lines.size();
        rotate_if_full(s);
    }
    if (s.echo) {
        std::cout << lines;
        std::cout.flush();
    }
}

void log_message_box(std::string_view text) {
    log_line("message box: " + std::string(text));
}

void log_error(std::string_view text) {
    log_line("error: " + std::string(text));
}

void set_log_rotation_size(std::uint64_t bytes) {
    state().rotation_size = bytes;
}

}  // namespace kelvad
