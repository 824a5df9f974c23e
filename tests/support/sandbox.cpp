#include "support/sandbox.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace kelvad::testing {
namespace {

fs::path as_path(const std::string& path) {
    return platform::to_fs_path(path);
}

std::string as_text(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

sandbox::sandbox() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path base = fs::temp_directory_path() / ("kelvad-test-" + std::to_string(stamp) +
                                                       "-" + std::to_string(counter++));
    fs::create_directories(base);
    root_ = as_text(base);
    while (!root_.empty() && root_.back() == platform::path_separator) root_.pop_back();
}

sandbox::~sandbox() {
    remove_tree(root_);
}

std::string sandbox::path(std::initializer_list<std::string_view> parts) const {
    std::string result = root_;
    for (const std::string_view part : parts) {
        result += platform::path_separator;
        result += part;
    }
    return result;
}

program_folder::program_folder() {
    remove_all();
}

program_folder::~program_folder() {
    remove_all();
}

void program_folder::write(const std::string& name, std::string_view bytes) {
    write_file(path(name), bytes);
    written_.push_back(name);
}

std::string program_folder::path(const std::string& name) const {
    return program_file_path(name);
}

void program_folder::remove_all() {
    for (const char* name : {"orvel_scanner.ini", "orvel_path.ini", "orvel_postbake_path.ini",
                             "orvel_pswd.bin", "vcf132.ini"}) {
        std::error_code ignored;
        fs::permissions(as_path(path(name)), fs::perms::owner_write, fs::perm_options::add,
                        ignored);
        fs::remove(as_path(path(name)), ignored);
    }
    for (const std::string& name : written_) {
        std::error_code ignored;
        fs::remove(as_path(path(name)), ignored);
    }
    written_.clear();
}

void write_file(const std::string& path, std::string_view bytes) {
    const fs::path p = as_path(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(as_path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool file_exists(const std::string& path) {
    return fs::is_regular_file(as_path(path));
}

bool folder_exists(const std::string& path) {
    return fs::is_directory(as_path(path));
}

void make_folders(const std::string& path) {
    fs::create_directories(as_path(path));
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(as_path(path), ignored);
}

std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(as_path(folder), error))
        if (entry.is_regular_file()) names.push_back(as_text(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

std::string crlf_lines(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (const std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void age_file(const std::string& path, int seconds) {
    const fs::path p = as_path(path);
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

}  // namespace kelvad::testing
