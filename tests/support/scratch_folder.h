#pragma once
// A fresh folder under the system's temporary folder (or a given base), removed with all its
// contents at the end of the test.

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"

namespace kelvad::test {

inline std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class scratch_folder {
  public:
    explicit scratch_folder(
        const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
        std::random_device random;
        for (;;) {
            path_ = base / ("kelvad_test_" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    ~scratch_folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    // The UTF-8 path of `name` inside the folder, joined with the platform's separator.
    std::string operator/(const std::string& name) const {
        return folder() + platform::path_separator + name;
    }
    std::string folder() const { return utf8_of(path_); }
    // The names of everything in the folder (not recursive), sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            out.push_back(utf8_of(entry.path().filename()));
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace kelvad::test
