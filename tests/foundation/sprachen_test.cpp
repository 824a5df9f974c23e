#include "foundation/sprachen.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include "foundation/file_utils.h"
#include "foundation/test_support.h"

namespace kelvad {
namespace {

using namespace std::string_literals;

const vokabel_liste default_words = {{"Nickname", "English", "Deutsch"}};
const vokabel_liste sample_words = {{"Nickname", "English", "Deutsch"},
                                    {"3", "NGQ_A", ""},
                                    {"5", "NGQ_B", ""},
                                    {"12", std::string(300, 'L'), "lang"}};

std::string int32_bytes(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
            static_cast<char>(u >> 24)};
}

std::string new_header(std::int32_t languages, std::int32_t words) {
    return "UNICODE" + int32_bytes(std::bit_cast<std::int32_t>(3.18f)) + int32_bytes(languages) +
           int32_bytes(words);
}

std::string sample(const char* name) {
    return *test::read_file(std::string(KELVAD_SAMPLES_DIR) + "/" + name);
}

TEST(Sprachen, NewTable) {
    const sprachen table;
    EXPECT_EQ(table.language_count, 3);
    EXPECT_EQ(table.word_count, 1);
    EXPECT_EQ(table.words, default_words);
    EXPECT_EQ(table.cell(0, 2), "Deutsch");
    EXPECT_EQ(table.cell(1, 0), "");
    EXPECT_EQ(table.cell(0, 3), "");
    EXPECT_EQ(table.cell(-1, 0), "");
    EXPECT_EQ(table.cell(0, -1), "");
    EXPECT_EQ(table.find_row("English", 1), 0);
    EXPECT_EQ(table.find_row("english", 1), -1);
    EXPECT_EQ(table.find_row("Nickname", 3), -1);
    EXPECT_EQ(table.find_row("Nickname", -1), -1);
    EXPECT_EQ(table.translate("Nickname", 1), "English");
}

TEST(Sprachen, TranslateFallsBackToKey) {
    sprachen table;
    table.words = {{"Nickname", "English", "Deutsch"},
                   {"42", "CoaterA", ""},
                   {"43", "", ""},
                   {"42", "Second", ""}};
    table.word_count = 4;
    struct row {
        const char* key;
        std::int32_t column;
        const char* result;
    };
    const row rows[] = {
        {"42", 1, "CoaterA"},
        {"43", 1, "43"},
        {"44", 1, "44"},
        {"42", 5, "42"},
        {"42", -1, "42"},
        {"42 ", 1, "42 "},
        {"Nickname", 2, "Deutsch"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.key) + " / " + std::to_string(r.column));
        EXPECT_EQ(table.translate(r.key, r.column), r.result);
    }
}

// Loads files with a recording busy cursor; every load must end with the arrow.
class SprachenLoad : public ::testing::Test {
  protected:
    void SetUp() override {
        set_busy_cursor_handler([this](bool busy) { cursor.push_back(busy); });
        set_message_box_handler([this](const std::string& text) { shown.push_back(text); });
    }
    void TearDown() override {
        set_busy_cursor_handler(nullptr);
        set_message_box_handler(nullptr);
        stream_format_version = saved_version;
    }
    void load(const std::string& bytes) {
        test::write_file(folder / "device_map.bin", bytes);
        load_path(folder / "device_map.bin");
    }
    void load_path(const std::string& path) {
        cursor.clear();
        table.load_file(path);
        EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(table.word_count, static_cast<std::int32_t>(table.words.size()));
        for (const auto& row : table.words)
            EXPECT_EQ(table.language_count, static_cast<std::int32_t>(row.size()));
    }

    test::scratch_folder folder;
    sprachen table;
    std::vector<bool> cursor;
    std::vector<std::string> shown;
    float saved_version = stream_format_version;
};

TEST_F(SprachenLoad, SampleFilesInBothLayouts) {
    struct row {
        const char* file;
        float version;
    };
    const row rows[] = {{"device_map_new.bin", 3.18f}, {"device_map_old.bin", 3.17f}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        table = sprachen();
        stream_format_version = 0.0f;
        load(sample(r.file));
        EXPECT_EQ(table.language_count, 3);
        EXPECT_EQ(table.word_count, 4);
        EXPECT_EQ(table.words, sample_words);
        EXPECT_EQ(stream_format_version, r.version);
        EXPECT_EQ(table.translate("5", 1), "NGQ_B");
        EXPECT_EQ(table.translate("7", 1), "7");
    }
}

TEST_F(SprachenLoad, NothingToReadLeavesTable) {
    struct row {
        const char* name;
        std::string bytes;
    };
    const row rows[] = {
        {"empty", ""},
        {"11 bytes", new_header(3, 4).substr(0, 11)},
        {"header without both counts", new_header(3, 4).substr(0, 18)},
        {"negative language count", new_header(-1, 1) + int32_bytes(0)},
        {"negative word count", new_header(1, -1) + int32_bytes(0)},
        {"more texts than the file can hold",
         new_header(2, 2) + int32_bytes(0) + int32_bytes(0) + int32_bytes(0) + "\0\0\0"s},
        {"absurd counts", new_header(100000, 100000) + int32_bytes(0)},
        {"rows without columns", new_header(0, 0x7FFFFFFF) + int32_bytes(0)},
        {"absurd counts, old layout",
         int32_bytes(0x7FFFFFFF) + int32_bytes(0x7FFFFFFF) + std::string(300, '\0')},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        table = sprachen();
        load(r.bytes);
        EXPECT_EQ(table.words, default_words);
    }
    SCOPED_TRACE("missing file");
    load_path(folder / "missing.bin");
    EXPECT_EQ(table.words, default_words);
}

TEST_F(SprachenLoad, CountsTheFileCanHold) {
    struct row {
        const char* name;
        std::string bytes;
        std::int32_t languages;
        vokabel_liste words;
    };
    const row rows[] = {
        {"no words", new_header(3, 0), 3, {}},
        {"no words, many columns", new_header(0x7FFFFFFF, 0), 0x7FFFFFFF, {}},
        {"every text a bare length",
         new_header(2, 2) + int32_bytes(0) + int32_bytes(-1) + int32_bytes(0) + int32_bytes(0),
         2,
         {{"", ""}, {"", ""}}},
        {"old layout, lengths without blocks",
         int32_bytes(1) + int32_bytes(2) + int32_bytes(-255) + int32_bytes(-300),
         1,
         {{""}, {""}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        table = sprachen();
        load(r.bytes);
        EXPECT_EQ(table.language_count, r.languages);
        EXPECT_EQ(table.words, r.words);
        EXPECT_EQ(table.cell(0, 0), "");
        EXPECT_EQ(table.translate("Nickname", 1), "Nickname");
    }
}

TEST_F(SprachenLoad, TruncatedSamplesKeepWhatWasReadWhole) {
    vokabel_liste new_cut = sample_words;
    new_cut[3] = {"12", "", ""};  // the long alias claims more bytes than are left
    vokabel_liste old_cut = sample_words;
    old_cut[3] = {"12", std::string(255, 'L'), ""};  // its second block is cut short
    struct row {
        const char* file;
        std::size_t size;
        vokabel_liste words;
    };
    const row rows[] = {{"device_map_new.bin", 400, new_cut},
                        {"device_map_old.bin", 3000, old_cut}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        table = sprachen();
        load(sample(r.file).substr(0, r.size));
        EXPECT_EQ(table.word_count, 4);
        EXPECT_EQ(table.words, r.words);
    }
}

TEST_F(SprachenLoad, ReloadKeepsNoStaleRows) {
    load(sample("device_map_new.bin"));
    load(new_header(2, 1) + int32_bytes(2) + "K\0"s + int32_bytes(2) + "v\0"s);
    EXPECT_EQ(table.words, (vokabel_liste{{"K", "v"}}));
    EXPECT_EQ(table.cell(1, 0), "");
    EXPECT_EQ(table.translate("5", 1), "5");
}

}  // namespace
}  // namespace kelvad
