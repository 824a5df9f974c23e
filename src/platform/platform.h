#pragma once
// The operating-system services that the scanner needs, behind one set of free functions.
// platform_win32.cpp and platform_posix.cpp implement them; CMake picks one. Nothing outside
// src/platform, src/ui and src/app includes an OS header.
//
// All texts are UTF-8. Paths use `path_separator` throughout.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad::platform {

#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

// Attribute bits as the directory search reports them (the Windows values on both systems).
namespace attribute {
inline constexpr std::uint32_t read_only = 0x1;
inline constexpr std::uint32_t hidden = 0x2;
inline constexpr std::uint32_t system = 0x4;
inline constexpr std::uint32_t volume_id = 0x8;
inline constexpr std::uint32_t directory = 0x10;
inline constexpr std::uint32_t archive = 0x20;
}  // namespace attribute

struct directory_entry {
    std::string name;  // without folder part
    std::uint32_t attributes = 0;
};

// Directory search for `pattern` (a folder part followed by a mask with "*" and "?"), every
// attribute admitted. Windows: the file system's order. POSIX: the mask matched without regard
// to ASCII case, entries in ascending byte order of their names. As on Windows, "." and ".."
// are reported (as folders) when the mask matches them. A failing search (missing folder, no
// access) gives no entries.
std::vector<directory_entry> find_entries(const std::string& pattern);

// What the folder scans of the result cycle need from the same search, at a fraction of its
// cost in a crowded transfer folder: how many entries are not folders, and the name of the
// first of them in the order of find_entries (empty when there is none). No list is built and
// no attribute is read but "folder or not"; POSIX asks the file system about an entry only
// when the directory does not tell its type (links, file systems without entry types).
struct plain_file_count {
    std::size_t count = 0;
    std::string first_name;  // without folder part
};
plain_file_count count_plain_files(const std::string& pattern);

bool file_exists(const std::string& path);    // a plain file (not a folder)
bool folder_exists(const std::string& path);  // a folder
bool create_folder(const std::string& path);  // one level; false when it fails or exists
bool rename_no_replace(const std::string& from, const std::string& to);
bool replace_file(const std::string& from, const std::string& to);  // rename over an existing
bool copy_file_replace(const std::string& from, const std::string& to);
bool delete_file(const std::string& path);

// True when another process is known to hold the file open (POSIX: a write lease is refused).
// Always false where the system cannot tell; on Windows the rename test alone decides.
bool is_held_open_elsewhere(const std::string& path);

// Whole-file access in binary. Reading shares the file with other readers and writers.
std::optional<std::string> read_file_bytes(const std::string& path);
// Creates or truncates the file; true only when every byte was written and the file closed.
bool write_file_bytes(const std::string& path, std::string_view bytes);

// Local wall-clock time, in milliseconds since 1970-01-01 00:00 local time.
std::int64_t local_now_ms();
// The last-write time of a file in local time, truncated to even seconds (DOS resolution).
std::optional<std::int64_t> file_write_time_local_ms(const std::string& path);

std::string program_file();  // full path of the running program
// Program base name of a program file name (without folder): Windows drops the last four
// characters (".exe"); POSIX executables carry no extension, so the name stays whole.
std::string program_base_name_of(const std::string& file_name);
std::string roaming_app_data_folder();  // empty when the system has none for the user
// Creates a new empty file with the prefix "sco" in the system temporary folder; its full path,
// or empty when that fails.
std::string create_system_temp_file();
std::uint64_t random_seed();

// The system's 8-bit code page (Windows: the ANSI code page; elsewhere Windows-1252).
std::string ansi_to_utf8(std::string_view bytes);
std::string utf8_to_ansi(std::string_view text);  // unmappable characters become "?"

// A path for the standard library's file streams (wide on Windows, so any name works).
std::filesystem::path to_fs_path(const std::string& path);

}  // namespace kelvad::platform
