#include "foundation/file_utils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "foundation/test_support.h"
#include "platform/platform.h"

namespace kelvad {
namespace {

using namespace std::string_literals;
constexpr char sep = platform::path_separator;
const bool posix = platform::path_separator == '/';

TEST(SemicolonField, Fields) {
    struct row {
        const char* text;
        std::int32_t n;
        const char* field;
    };
    const row rows[] = {
        {"a;b;", 3, ""},          {"a;b;", 4, ""},   {"a;;c", 2, ""},       {"a;;c", 3, "c"},
        {"abc", 1, "abc"},        {"abc", 0, "abc"}, {"abc", -5, "abc"},    {"abc", 2, ""},
        {"x;y", 1, "x"},          {";y", 1, ""},     {" a ; b ", 2, " b "}, {"", 1, ""},
        {"1;;0;-155", 4, "-155"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.text) + " / " + std::to_string(r.n));
        EXPECT_EQ(semicolon_field(r.text, r.n), r.field);
    }
}

TEST(LookupInPairList, LastMatchFollowedByValueWins) {
    struct row {
        const char* name;
        line_list_t lines;
        const char* key;
        const char* result;
    };
    const row rows[] = {
        {"last match wins, case ignored", {"Key", "first", "KEY", "second"}, "key", "second"},
        {"key on the last line", {"key"}, "key", "default"},
        {"trailing blank does not match", {"key ", "value"}, "key", "default"},
        {"value line is never a key", {"key", "key", "value"}, "key", "key"},
        {"later match without value keeps the earlier", {"key", "one", "key"}, "key", "one"},
        {"value taken unchanged", {"ask for f1book", " True "}, "ASK FOR F1BOOK", " True "},
        {"only ASCII letters fold", {"Ä", "x"}, "ä", "default"},
        {"no lines", {}, "key", "default"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(lookup_in_pair_list(r.key, r.lines, "default"), r.result);
    }
}

TEST(SecondsBetween, TruncatesTowardZeroWithSign) {
    const double second = 1.0 / 86400;
    const date_time t0 = 41401.5;  // 7 May 2013, noon
    // A file time two seconds apart in whole milliseconds, whose difference in days falls a
    // hair short of 2 s.
    const date_time file = date_time_from_local_ms(1765300000123);
    const date_time later = date_time_from_local_ms(1765300002123);
    struct row {
        const char* name;
        date_time t1, t2;
        float seconds;
    };
    const row rows[] = {
        {"90.5 s, later first", t0 + 90.5 * second, t0, 90.0f},
        {"90.5 s, later second", t0, t0 + 90.5 * second, -90.0f},
        {"1.9 s", t0 + 1.9 * second, t0, 1.0f},
        {"-1.9 s", t0, t0 + 1.9 * second, -1.0f},
        {"equal", t0, t0, 0.0f},
        {"exactly 2 s", later, file, 2.0f},
        {"exactly -2 s", file, later, -2.0f},
        {"one day", t0 + 1, t0, 86400.0f},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(seconds_between(r.t1, r.t2), r.seconds);
    }
}

TEST(DateTime, DaysSince18991230) {
    EXPECT_EQ(date_time_from_local_ms(0), 25569.0);
    EXPECT_EQ(date_time_from_local_ms(86400000 + 43200000), 25570.5);
    EXPECT_NEAR(seconds_between(now(), date_time_from_local_ms(platform::local_now_ms())), 0.0f,
                1.0f);
}

TEST(RandomTempName, FormAndSeparator) {
    const std::regex name_form(
        R"(([1-9][0-9]{0,5}|0)_([1-9][0-9]{0,5}|0)_([1-9][0-9]{0,5}|0)\.tmp)");
    const std::string folder = "x"s + sep + "in";
    struct row {
        std::string folder;
        std::string prefix;
    };
    const row rows[] = {
        {folder, folder + sep},
        {folder + sep, folder + sep},
        {"", std::string(1, sep)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.folder);
        const std::string name = random_temp_name(r.folder);
        ASSERT_EQ(name.substr(0, r.prefix.size()), r.prefix);
        EXPECT_TRUE(std::regex_match(name.substr(r.prefix.size()), name_form)) << name;
    }
}

TEST(RandomTempName, SeedDecidesTheSequence) {
    seed_random_generator(12345);
    const std::string first = random_temp_name("");
    const std::string second = random_temp_name("");
    EXPECT_NE(first, second);
    seed_random_generator(12345);
    EXPECT_EQ(random_temp_name(""), first);
    seed_random_generator(54321);
    EXPECT_NE(random_temp_name(""), first);
}

class FoundationMessages : public ::testing::Test {
  protected:
    void SetUp() override {
        set_message_box_handler([this](const std::string& text) { shown.push_back(text); });
    }
    void TearDown() override { set_message_box_handler(nullptr); }
    std::vector<std::string> shown;
};

TEST_F(FoundationMessages, SystemTempFileIsNewAndEmpty) {
    const std::string path = system_temp_file_name();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(platform::file_exists(path));
    EXPECT_EQ(std::filesystem::file_size(platform::to_fs_path(path)), 0u);
    const auto cut = path.find_last_of(sep);
    EXPECT_EQ(path.substr(cut + 1, 3), "sco");
    const std::string other = system_temp_file_name();
    EXPECT_NE(other, path) << "every call makes a file of its own";
    platform::delete_file(path);
    platform::delete_file(other);
    EXPECT_TRUE(shown.empty());
}

TEST_F(FoundationMessages, SystemTempFileFailureShowsWarning) {
    test::scratch_folder folder;
    const std::string missing = folder / "missing";
    // POSIX looks at TMPDIR, Windows at TMP and then TEMP.
    test::scoped_environment tmpdir("TMPDIR", missing);
    test::scoped_environment tmp("TMP", missing);
    test::scoped_environment temp("TEMP", missing);
    EXPECT_EQ(system_temp_file_name(), "");
    EXPECT_EQ(shown, std::vector<std::string>{"Warning - creation of temporary file failed"});
}

TEST(ProgramLocations, BaseNameAndFolder) {
    EXPECT_EQ(program_base_name(), "foundation_tests");
    const std::string folder = program_file_path("");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), sep);
    EXPECT_TRUE(platform::folder_exists(folder));
    EXPECT_EQ(program_file_path("orvel_scanner.ini"), folder + "orvel_scanner.ini");
}

TEST(ProgramLocations, UserDataPathWithoutAppDataFolderStartsAtRoot) {
    if (!posix) GTEST_SKIP() << "Windows always names the roaming folder of the user";
    test::scoped_environment data_home("XDG_DATA_HOME", "");
    test::scoped_environment home("HOME", "");
    ASSERT_EQ(user_app_data_folder(), "");
    EXPECT_EQ(user_data_path("device_map.bin"), "/foundation_tests/device_map.bin");
}

TEST(ProgramLocations, UserDataPathBelowAppDataFolder) {
    if (posix) {
        test::scoped_environment data_home("XDG_DATA_HOME", "/data/home");
        EXPECT_EQ(user_data_path("device_map.bin"), "/data/home/foundation_tests/device_map.bin");
    } else {
        const std::string roaming = user_app_data_folder();
        ASSERT_FALSE(roaming.empty());
        EXPECT_EQ(user_data_path("x"), roaming + "\\foundation_tests\\x");
    }
}

TEST(EnsureFolder, MakesOneLevelOnly) {
    test::scratch_folder folder;
    EXPECT_TRUE(ensure_folder(folder.folder()));
    EXPECT_TRUE(ensure_folder(folder / "new"));
    EXPECT_TRUE(platform::folder_exists(folder / "new"));
    EXPECT_TRUE(ensure_folder(folder / "new"));
    EXPECT_FALSE(ensure_folder(folder / ("a"s + sep + "b")));
    EXPECT_FALSE(platform::folder_exists(folder / "a"));
    test::write_file(folder / "file", "x");
    EXPECT_FALSE(ensure_folder(folder / "file")) << "a file is no folder";
}

TEST(EnsureFolder, WithParentsMakesEveryMissingLevel) {
    test::scratch_folder folder;
    const std::string deep = folder / ("a"s + sep + "b" + sep + "c");
    EXPECT_TRUE(ensure_folder_and_parents(deep));
    EXPECT_TRUE(platform::folder_exists(deep));
    EXPECT_TRUE(ensure_folder_and_parents(deep));
    test::write_file(folder / "file", "x");
    EXPECT_FALSE(ensure_folder_and_parents(folder / ("file"s + sep + "d")))
        << "a file in the way is no folder";
}

// The folder holds a.dat, a sub-folder archive.dat (its name matches the mask), a hidden
// .h.dat, b.dat and notes.txt.
class FolderScan : public ::testing::Test {
  protected:
    void SetUp() override {
        test::write_file(folder / "a.dat", "1");
        std::filesystem::create_directory(platform::to_fs_path(folder / "archive.dat"));
        test::write_file(folder / ".h.dat", "2");
        test::write_file(folder / "b.dat", "3");
        test::write_file(folder / "notes.txt", "4");
    }
    test::scratch_folder folder;
};

TEST_F(FolderScan, CountsPlainFilesOnly) {
    struct row {
        std::string folder;
        const char* mask;
        std::int32_t count;
    };
    const row rows[] = {
        {folder.folder(), "*.dat", 3},    {folder.folder() + sep, "*.dat", 3},
        {folder.folder(), "*.DAT", 3},    {folder.folder(), "*.*", 4},
        {folder.folder(), "?.dat", 2},    {folder.folder(), "*.csv", 0},
        {folder / "missing", "*.dat", 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.folder + " " + r.mask);
        EXPECT_EQ(count_files(r.folder, r.mask), r.count);
        std::int32_t count = -1;
        const std::string name = first_file(r.folder, r.mask, count);
        EXPECT_EQ(count, r.count);
        EXPECT_EQ(name.empty(), r.count == 0);
    }
}

TEST_F(FolderScan, FirstFileIsNeverAFolder) {
    std::filesystem::remove(platform::to_fs_path(folder / "a.dat"));
    std::filesystem::remove(platform::to_fs_path(folder / ".h.dat"));
    std::int32_t count = 0;
    const std::string name = first_file(folder.folder(), "*.dat", count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(name, "b.dat");
}

TEST_F(FolderScan, FirstFileInListingOrder) {
    if (!posix) GTEST_SKIP() << "Windows lists in the file system's own order";
    std::int32_t count = 0;
    EXPECT_EQ(first_file(folder.folder(), "*.dat", count), ".h.dat");
    EXPECT_EQ(first_file(folder.folder(), "?.dat", count), "a.dat");
}

TEST(FileAttributes, MissingPlainReadOnlyAndFolder) {
    test::scratch_folder folder;
    const std::string file = folder / "f.ini";
    test::write_file(file, "x");
    EXPECT_EQ(file_attributes(folder / "missing"), file_attribute_set{});
    EXPECT_FALSE(is_read_only(folder / "missing"));

    const auto plain = file_attributes(file);
    EXPECT_TRUE(plain.any_file);
    EXPECT_FALSE(plain.directory);
    EXPECT_FALSE(plain.read_only);

    const auto fs_file = platform::to_fs_path(file);
    std::filesystem::permissions(fs_file,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_TRUE(is_read_only(file));
    EXPECT_TRUE(file_attributes(file).any_file);
    std::filesystem::permissions(fs_file, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_FALSE(is_read_only(file));

    std::filesystem::create_directory(platform::to_fs_path(folder / "sub"));
    const auto sub = file_attributes(folder / "sub");
    EXPECT_TRUE(sub.directory);
    EXPECT_TRUE(sub.any_file);
}

TEST(IsFileFree, ClosedFileStaysInPlace) {
    test::scratch_folder folder;
    const std::string file = folder / "ONGQR_1.csv";
    test::write_file(file, "content\r\n");
    EXPECT_TRUE(is_file_free(file));
    EXPECT_EQ(test::read_file(file), "content\r\n");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"ONGQR_1.csv"});
    EXPECT_FALSE(is_file_free(folder / "missing.csv"));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"ONGQR_1.csv"});
}

TEST(IsFileFree, BareNameStaysInWorkingFolder) {
    test::scratch_folder folder;
    test::write_file(folder / "in.csv", "x");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(platform::to_fs_path(folder.folder()));
    const bool free = is_file_free("in.csv");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(free);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"in.csv"});
    EXPECT_EQ(test::read_file(folder / "in.csv"), "x");
}

TEST(ByteStream, ReadsLittleEndianAndNeverPastTheEnd) {
    byte_stream stream("\x01\x02\x03\x04\x00\x00\xC0\x3F\xFF\xFE\x07"s);
    std::int32_t i = 0;
    float f = 0;
    std::uint16_t u = 0;
    ASSERT_TRUE(stream.read_int32(i));
    EXPECT_EQ(i, 0x04030201);
    ASSERT_TRUE(stream.read_float(f));
    EXPECT_EQ(f, 1.5f);
    ASSERT_TRUE(stream.read_uint16(u));
    EXPECT_EQ(u, 0xFEFF);
    EXPECT_FALSE(stream.read_int32(i));
    EXPECT_FALSE(stream.read_uint16(u));
    EXPECT_EQ(stream.remaining(), 1u) << "a failed read consumes nothing";
    EXPECT_FALSE(stream.skip(2));
    EXPECT_TRUE(stream.skip(1));
    EXPECT_EQ(stream.remaining(), 0u);
    stream.seek(100);
    EXPECT_EQ(stream.position(), 11u);
}

std::string int32_bytes(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u), static_cast<char>(u >> 8), static_cast<char>(u >> 16),
            static_cast<char>(u >> 24)};
}

// One block of the old layout: the count byte, the characters, filled up to 256 bytes.
std::string old_block(unsigned char used, const std::string& characters, char fill = 'z') {
    std::string block(1, static_cast<char>(used));
    block += characters;
    block.resize(256, fill);
    return block;
}

class StreamVersion : public ::testing::Test {
  protected:
    void TearDown() override { stream_format_version = saved; }
    float saved = stream_format_version;
};

TEST_F(StreamVersion, NewTextLayout) {
    stream_format_version = 3.18f;
    struct row {
        const char* name;
        std::string bytes;
        std::string text;
        std::size_t position;
    };
    const row rows[] = {
        {"N = 6, 6 left", int32_bytes(6) + "a\0b\0c\0"s, "abc", 10},
        {"N = 7, 7 left", int32_bytes(7) + "a\0b\0c\0d"s, "abc", 11},
        {"N = 100, 10 left", int32_bytes(100) + "0123456789", "", 4},
        {"N = 0", int32_bytes(0) + "a\0"s, "", 4},
        {"N negative", int32_bytes(-6) + "a\0b\0c\0"s, "", 4},
        {"3 bytes only", "\x02\0\0"s, "", 0},
        {"nothing left", "", "", 0},
        {"umlaut and pair", int32_bytes(6) + "\xFC\0\x3D\xD8\x00\xDE"s, "ü\xF0\x9F\x98\x80", 10},
        {"lone surrogate",
         int32_bytes(4) + "\x00\xDC"
                          "a\0"s,
         "\xEF\xBF\xBD"
         "a",
         8},
        {"a second text follows", int32_bytes(2) + "x\0"s + int32_bytes(2) + "y\0"s, "x", 6},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        byte_stream stream(r.bytes);
        EXPECT_EQ(read_stream_text(stream), r.text);
        EXPECT_EQ(stream.position(), r.position);
    }
}

TEST_F(StreamVersion, OldTextLayout) {
    stream_format_version = 0.0f;
    const std::string a255(255, 'a');
    struct row {
        const char* name;
        std::string bytes;
        std::string text;
        std::size_t position;
    };
    const row rows[] = {
        {"L = 255: two blocks", int32_bytes(255) + old_block(255, a255) + old_block(0, ""), a255,
         516},
        {"L = 10: the count byte decides", int32_bytes(10) + old_block(3, "abc"), "abc", 260},
        {"L = 10, count beyond L", int32_bytes(10) + old_block(12, "abcdefghijkl"), "abcdefghijkl",
         260},
        {"L = 0: one block", int32_bytes(0) + old_block(0, "") + "next", "", 260},
        {"L = -1: one block", int32_bytes(-1) + old_block(1, "q"), "q", 260},
        {"L = -255: no block", int32_bytes(-255) + old_block(1, "q"), "", 4},
        {"code page bytes", int32_bytes(2) + old_block(2, "\xFC\x80"), "ü€", 260},
        {"ends inside the length", "\x05\0"s, "", 2},
        {"ends inside the block", int32_bytes(10) + old_block(3, "abc").substr(0, 100), "", 104},
        {"ends inside the second block",
         int32_bytes(300) + old_block(255, a255) +
             old_block(45, std::string(45, 'b')).substr(0, 50),
         a255, 310},
        {"huge L on a short stream", int32_bytes(0x7FFFFFFF) + old_block(2, "ok"), "ok", 260},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        byte_stream stream(r.bytes);
        EXPECT_EQ(read_stream_text(stream), r.text);
        EXPECT_EQ(stream.position(), r.position);
    }
}

TEST_F(StreamVersion, VersionSelectsLayout) {
    // The same bytes read as a new-layout text "ab" or as an old-layout length of 4 whose one
    // block is missing.
    const std::string bytes = int32_bytes(4) + "a\0b\0"s;
    struct row {
        float version;
        std::string text;
    };
    const row rows[] = {{0.0f, ""}, {3.17f, ""}, {3.1799998f, ""}, {3.18f, "ab"}, {3.2f, "ab"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.version);
        stream_format_version = r.version;
        byte_stream stream(bytes);
        EXPECT_EQ(read_stream_text(stream), r.text);
    }
}

}  // namespace
}  // namespace kelvad
