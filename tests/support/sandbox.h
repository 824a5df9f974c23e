#pragma once
// Folders and files for tests: a private temporary tree, and the configuration files beside
// the test program (where the scanner window looks for them).

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad::testing {

// A new, empty folder in the system temporary folder, removed with everything in it.
class sandbox {
  public:
    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    const std::string& root() const { return root_; }
    // root + separator + each part, joined with the platform's separator.
    std::string path(std::initializer_list<std::string_view> parts) const;

  private:
    std::string root_;
};

// Files beside the test program; every file written through it is removed again, and so are
// the scanner's configuration files, which a test may have made the window write.
class program_folder {
  public:
    program_folder();
    ~program_folder();
    program_folder(const program_folder&) = delete;
    program_folder& operator=(const program_folder&) = delete;

    void write(const std::string& name, std::string_view bytes);
    std::string path(const std::string& name) const;

  private:
    void remove_all();
    std::vector<std::string> written_;
};

void write_file(const std::string& path, std::string_view bytes);  // creates missing parents
std::string read_file(const std::string& path);                    // empty when missing
bool file_exists(const std::string& path);
bool folder_exists(const std::string& path);
void make_folders(const std::string& path);
void remove_tree(const std::string& path);
// The names of the plain files in a folder, sorted.
std::vector<std::string> files_in(const std::string& folder);
// Lines joined with CR LF after each.
std::string crlf_lines(std::initializer_list<std::string_view> lines);
// Sets the last-write time of a file to the given number of seconds before now.
void age_file(const std::string& path, int seconds);

}  // namespace kelvad::testing
