#pragma once
// A table of texts: rows are words (vokabel), columns languages; column 0 holds the keys and
// row 0 the header. The device map of the main window is one.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvad {

using vokabel = std::vector<std::string>;
using vokabel_liste = std::vector<vokabel>;

class sprachen {
  public:
    sprachen();

    std::int32_t find_row(const std::string& text, std::int32_t column) const;
    std::string cell(std::int32_t row, std::int32_t column) const;
    std::string translate(const std::string& key, std::int32_t column) const;
    // Replaces the table by the file's contents; raises nothing, shows nothing. Counts that the
    // file cannot hold (negative, or more texts than its bytes could carry) leave the table as
    // it was; otherwise the table takes the counts and every text read before a failure.
    void load_file(const std::string& path);

    std::int32_t language_count = 3;
    std::int32_t word_count = 1;
    vokabel_liste words;
};

// The busy and the normal cursor while a table loads; the window installs the toolkit's (an
// empty handler shows nothing).
using busy_cursor_handler = std::function<void(bool busy)>;
void set_busy_cursor_handler(busy_cursor_handler handler);

}  // namespace kelvad
