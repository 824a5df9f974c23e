#include "foundation/sprachen.h"

#include <algorithm>
#include <exception>

#include "foundation/file_utils.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

busy_cursor_handler& busy_handler() {
    static busy_cursor_handler handler;
    return handler;
}

// Shows the busy cursor for its lifetime, so that the arrow comes back on every way out.
class busy_cursor {
  public:
    busy_cursor() { show(true); }
    ~busy_cursor() { show(false); }
    busy_cursor(const busy_cursor&) = delete;
    busy_cursor& operator=(const busy_cursor&) = delete;

  private:
    static void show(bool busy) {
        try {
            if (busy_handler()) busy_handler()(busy);
        } catch (...) {
            // A cursor that cannot be shown must not break the loading of a table.
        }
    }
};

// The fewest bytes one text occupies in a table file, in either layout: the 4-byte length
// alone (a new-layout length of 0 or less; an old-layout length of -255 or less, which has no
// block). A row is charged at least one text, so that rows without columns cannot make the
// table grow beyond what the file could describe either.
constexpr std::uint64_t minimum_text_bytes = 4;

bool counts_fit(std::int32_t languages, std::int32_t words, std::size_t remaining) {
    if (languages < 0 || words < 0) return false;
    const std::uint64_t texts =
        static_cast<std::uint64_t>(words) * static_cast<std::uint64_t>(std::max(languages, 1));
    return texts <= remaining / minimum_text_bytes;
}

}  // namespace

sprachen::sprachen() : words{{"Nickname", "English", "Deutsch"}} {}

std::int32_t sprachen::find_row(const std::string& text, std::int32_t column) const {
    if (column < 0 || column >= language_count) return -1;
    const auto rows =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(word_count, 0)), words.size());
    for (std::size_t row = 0; row < rows; ++row) {
        const auto& texts = words[row];
        if (static_cast<std::size_t>(column) < texts.size() && texts[column] == text)
            return static_cast<std::int32_t>(row);
    }
    return -1;
}

std::string sprachen::cell(std::int32_t row, std::int32_t column) const {
    if (row < 0 || row >= word_count || column < 0 || column >= language_count) return {};
    if (static_cast<std::size_t>(row) >= words.size()) return {};
    const auto& texts = words[row];
    if (static_cast<std::size_t>(column) >= texts.size()) return {};
    return texts[column];
}

std::string sprachen::translate(const std::string& key, std::int32_t column) const {
    std::string result = cell(find_row(key, 0), column);
    if (result.empty()) result = key;
    return result;
}

void sprachen::load_file(const std::string& path) {
    busy_cursor cursor;
    try {
        // The file is read whole in one go (shared with other readers and writers), so every
        // count in it can be weighed against the bytes that are really there.
        const auto bytes = platform::read_file_bytes(path);
        if (!bytes || bytes->size() <= 11) return;
        byte_stream stream(*bytes);
        std::string header;
        stream.read_bytes(7, header);
        float version = 0.0f;
        stream.read_float(version);
        stream_format_version = header == "UNICODE" ? version : 3.17f;
        if (stream_format_version < 3.18f) stream.seek(0);

        std::int32_t languages = 0;
        std::int32_t rows = 0;
        if (!stream.read_int32(languages) || !stream.read_int32(rows)) return;
        // Counts that the rest of the file cannot carry are no table: the one held stays.
        if (!counts_fit(languages, rows, stream.remaining())) return;

        // The new shape is built aside and swapped in whole, so the counts never describe
        // anything but what the table holds. Texts that fit keep their place until replaced.
        // (Row by row: with no rows, no row of the stated width is ever made.)
        vokabel_liste shaped(static_cast<std::size_t>(rows));
        for (std::size_t r = 0; r < shaped.size(); ++r) {
            shaped[r].resize(static_cast<std::size_t>(languages));
            for (std::size_t c = 0; r < words.size() && c < shaped[r].size() && c < words[r].size();
                 ++c)
                shaped[r][c] = words[r][c];
        }
        words.swap(shaped);
        language_count = languages;
        word_count = rows;

        for (auto& row : words) {
            for (auto& text : row) text = read_stream_text(stream);
        }
    } catch (const std::exception&) {
        // Absorbed: the table keeps what was read until the failure.
    }
}

void set_busy_cursor_handler(busy_cursor_handler handler) {
    busy_handler() = std::move(handler);
}

}  // namespace kelvad
