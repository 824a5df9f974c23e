#pragma once
// The program's log: every line of the message list, every message box and every error shown,
// one line each, "YYYY-MM-DD HH:MM:SS.mmm<TAB>text", UTF-8, flushed per line, and renamed to
// ".log.1" (replacing the older one) when it passes 10 MB.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad {

// <per-user data folder>/<program base name>.log
std::string default_log_path();

// Opens the log (creating or appending). With echo, every line also goes to standard output.
// Until a log is opened, log lines are dropped (or only echoed).
void open_log(const std::string& path, bool echo_to_stdout);
void close_log();

void log_line(std::string_view text);
// Several lines with one time and one write.
void log_line_group(const std::vector<std::string>& texts);
void log_message_box(std::string_view text);  // "message box: " + text
void log_error(std::string_view text);        // "error: " + text

// Rotation threshold in bytes (10 MB); tests make it small.
void set_log_rotation_size(std::uint64_t bytes);

}  // namespace kelvad
