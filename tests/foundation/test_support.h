#pragma once
// Helpers of the foundation and scan record tests: whole-file access, and environment variables
// changed for one test.

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "support/scratch_folder.h"

namespace kelvad::test {

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(platform::to_fs_path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(platform::to_fs_path(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sets an environment variable for the lifetime of the object and restores it afterwards (a
// variable that was not set is removed again). The platform's folder lookups take an empty
// value for an unset one.
class scoped_environment {
  public:
    scoped_environment(const std::string& name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name.c_str())) old_ = old;
        put(name_ + "=" + value);
    }
    scoped_environment(const scoped_environment&) = delete;
    scoped_environment& operator=(const scoped_environment&) = delete;
    ~scoped_environment() {
        if (old_) {
            put(name_ + "=" + *old_);
        } else if (put(name_) != 0) {
            // The C library removes a variable given without "=" (glibc), or given as "NAME="
            // and refuses the bare name (Windows).
            put(name_ + "=");
        }
    }

  private:
    // putenv keeps the string itself, so it has to outlive the variable.
    static int put(std::string assignment) {
        static std::deque<std::string> kept;
        kept.push_back(std::move(assignment));
        return putenv(kept.back().data());
    }

    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace kelvad::test
