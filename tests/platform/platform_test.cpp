// Platform services whose behaviour is the same on every system.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/scratch_folder.h"

namespace kelvad::platform {

using test::scratch_folder;
namespace {

std::vector<std::string> sorted_names(const std::vector<directory_entry>& entries) {
    std::vector<std::string> names;
    for (const directory_entry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

// A folder as the measurement system leaves it: result files in mixed case, one other file,
// and a sub-folder whose name matches the result mask.
class FindEntriesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"A.CSV", "b.csv", "a1.csv", "c.txt", "Product"}) {
            ASSERT_TRUE(write_file_bytes(folder_ / name, name));
        }
        ASSERT_TRUE(create_folder(folder_ / "sub.csv"));
    }
    scratch_folder folder_;
};

TEST_F(FindEntriesTest, MasksMatchWildcardsWithoutRegardToCase) {
    struct mask_case {
        std::string mask;
        std::vector<std::string> expected;  // in ascending byte order
    };
    const mask_case cases[] = {
        {"*.csv", {"A.CSV", "a1.csv", "b.csv", "sub.csv"}},
        {"*.CSV", {"A.CSV", "a1.csv", "b.csv", "sub.csv"}},
        {"?.csv", {"A.CSV", "b.csv"}},
        {"A?.Csv", {"a1.csv"}},
        {"a*", {"A.CSV", "a1.csv"}},
        {"*.txt", {"c.txt"}},
        {"*.xls", {}},
        {"*", {".", "..", "A.CSV", "Product", "a1.csv", "b.csv", "c.txt", "sub.csv"}},
        // A mask ending in ".*" also takes names without extension, as Windows does.
        {"*.*", {".", "..", "A.CSV", "Product", "a1.csv", "b.csv", "c.txt", "sub.csv"}},
        {"P*.*", {"Product"}},
    };
    for (const mask_case& c : cases) {
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(sorted_names(find_entries(folder_ / c.mask)), c.expected);
    }
}

TEST_F(FindEntriesTest, FoldersCarryTheDirectoryBitAndFilesDoNot) {
    const std::vector<directory_entry> entries = find_entries(folder_ / "*");
    ASSERT_EQ(entries.size(), 8u);
    for (const directory_entry& entry : entries) {
        SCOPED_TRACE(entry.name);
        const bool is_folder = entry.name == "." || entry.name == ".." || entry.name == "sub.csv";
        EXPECT_EQ((entry.attributes & attribute::directory) != 0, is_folder);
    }
}

TEST_F(FindEntriesTest, MissingFolderGivesNoEntries) {
    EXPECT_TRUE(find_entries(folder_ / "missing" + path_separator + "*.csv").empty());
    EXPECT_EQ(count_plain_files(folder_ / "missing" + path_separator + "*.csv").count, 0u);
}

// The light count agrees with the full search: the entries that are no folders, and the first
// of them in the full search's order.
TEST_F(FindEntriesTest, PlainFileCountAgreesWithTheFullSearch) {
    for (const char* mask : {"*.csv", "*", "*.*", "?.csv", "sub*", "*.xls"}) {
        SCOPED_TRACE(mask);
        std::size_t count = 0;
        std::string first;
        for (const directory_entry& entry : find_entries(folder_ / mask)) {
            if (entry.attributes & attribute::directory) continue;
            if (count++ == 0) first = entry.name;
        }
        const plain_file_count files = count_plain_files(folder_ / mask);
        EXPECT_EQ(files.count, count);
        EXPECT_EQ(files.first_name, first);
    }
    EXPECT_EQ(count_plain_files(folder_ / "*.csv").count, 3u) << "A.CSV, a1.csv, b.csv";
}

TEST(PlatformFiles, ExistsCreateAndDelete) {
    scratch_folder folder;
    const std::string file = folder / "f.csv";
    const std::string sub = folder / "sub";
    ASSERT_TRUE(write_file_bytes(file, "x"));
    EXPECT_TRUE(file_exists(file));
    EXPECT_FALSE(folder_exists(file));

    EXPECT_TRUE(create_folder(sub));
    EXPECT_FALSE(create_folder(sub)) << "an existing folder is not created again";
    EXPECT_TRUE(folder_exists(sub));
    EXPECT_FALSE(file_exists(sub));
    EXPECT_FALSE(create_folder(folder / "a" + path_separator + "b")) << "one level only";

    EXPECT_TRUE(delete_file(file));
    EXPECT_FALSE(file_exists(file));
    EXPECT_FALSE(delete_file(file));
}

TEST(PlatformFiles, WrittenBytesReadBackUnchanged) {
    scratch_folder folder;
    const std::string bytes("line\r\n\0\xFF\x80 end\n", 14);
    ASSERT_TRUE(write_file_bytes(folder / "data.bin", bytes));
    EXPECT_EQ(read_file_bytes(folder / "data.bin"), bytes);

    ASSERT_TRUE(write_file_bytes(folder / "data.bin", "ab")) << "rewriting truncates";
    EXPECT_EQ(read_file_bytes(folder / "data.bin"), "ab");

    ASSERT_TRUE(write_file_bytes(folder / "empty.bin", ""));
    EXPECT_EQ(read_file_bytes(folder / "empty.bin"), "");

    EXPECT_EQ(read_file_bytes(folder / "missing.bin"), std::nullopt);
    EXPECT_FALSE(write_file_bytes(folder / "no" + path_separator + "data.bin", bytes));
}

TEST(PlatformFiles, RenameNeverReplacesAnExistingFile) {
    scratch_folder folder;
    const std::string from = folder / "from.csv";
    const std::string to = folder / "to.csv";
    ASSERT_TRUE(write_file_bytes(from, "source"));
    ASSERT_TRUE(write_file_bytes(to, "target"));

    EXPECT_FALSE(rename_no_replace(from, to));
    EXPECT_EQ(read_file_bytes(from), "source");
    EXPECT_EQ(read_file_bytes(to), "target");

    const std::string free_name = folder / "free.csv";
    EXPECT_TRUE(rename_no_replace(from, free_name));
    EXPECT_FALSE(file_exists(from));
    EXPECT_EQ(read_file_bytes(free_name), "source");
    EXPECT_FALSE(rename_no_replace(from, folder / "other.csv")) << "the source is gone";
}

TEST(PlatformFiles, ReplaceFileRenamesOverTheTarget) {
    scratch_folder folder;
    ASSERT_TRUE(write_file_bytes(folder / "new.log", "new"));
    ASSERT_TRUE(write_file_bytes(folder / "old.log", "older and longer"));
    EXPECT_TRUE(replace_file(folder / "new.log", folder / "old.log"));
    EXPECT_FALSE(file_exists(folder / "new.log"));
    EXPECT_EQ(read_file_bytes(folder / "old.log"), "new");
}

TEST(PlatformFiles, CopyReplacesTheWholeTarget) {
    scratch_folder folder;
    const std::string source = folder / "scan.tmp";
    const std::string target = folder / "scan.scn";
    ASSERT_TRUE(write_file_bytes(source, std::string("short\0", 6)));
    ASSERT_TRUE(write_file_bytes(target, "a much longer earlier version"));

    EXPECT_TRUE(copy_file_replace(source, target));
    EXPECT_EQ(read_file_bytes(target), std::string("short\0", 6));
    EXPECT_EQ(read_file_bytes(source), std::string("short\0", 6));

    EXPECT_FALSE(copy_file_replace(folder / "missing.tmp", target));
    EXPECT_EQ(read_file_bytes(target), std::string("short\0", 6)) << "target untouched";
    EXPECT_FALSE(copy_file_replace(source, folder / "no" + path_separator + "scan.scn"));

    EXPECT_FALSE(copy_file_replace(source, source)) << "a file is not copied onto itself";
    EXPECT_EQ(read_file_bytes(source), std::string("short\0", 6));
}

TEST(PlatformTime, LocalNowDiffersFromUtcByWholeQuarterHours) {
    const auto utc_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const std::int64_t offset = local_now_ms() - utc_ms;
    constexpr std::int64_t quarter_hour = 15 * 60 * 1000;
    EXPECT_LE(std::abs(offset), 14 * 4 * quarter_hour);
    const std::int64_t nearest =
        (offset + (offset >= 0 ? 1 : -1) * quarter_hour / 2) / quarter_hour * quarter_hour;
    EXPECT_LE(std::abs(offset - nearest), 2000) << "offset " << offset << " ms";
}

TEST(PlatformTime, WriteTimeOfANewFileIsEvenSecondsNearNow) {
    scratch_folder folder;
    const std::int64_t before = local_now_ms();
    ASSERT_TRUE(write_file_bytes(folder / "new.csv", "x"));
    const std::optional<std::int64_t> written = file_write_time_local_ms(folder / "new.csv");
    const std::int64_t after = local_now_ms();
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(*written % 2000, 0);
    // Truncation to even seconds may put it up to 2 s before; file systems' clocks are coarse.
    EXPECT_GE(*written, before - 3000);
    EXPECT_LE(*written, after + 1000);

    EXPECT_EQ(file_write_time_local_ms(folder / "missing.csv"), std::nullopt);
}

TEST(PlatformSystem, TempFileIsNewEmptyAndNamedSco) {
    const std::string first = create_system_temp_file();
    const std::string second = create_system_temp_file();
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(file_exists(path));
        EXPECT_EQ(read_file_bytes(path), "");
        const std::string name = path.substr(path.rfind(path_separator) + 1);
        EXPECT_EQ(name.substr(0, 3), "sco");
        delete_file(path);
    }
}

TEST(PlatformSystem, ProgramFileIsThisTestProgram) {
    const std::string program = program_file();
    EXPECT_TRUE(file_exists(program)) << program;
    const std::string name = program.substr(program.rfind(path_separator) + 1);
    EXPECT_EQ(program_base_name_of(name).rfind("platform_test", 0), 0u) << name;
}

TEST(PlatformSystem, RandomSeedChangesOverTime) {
    const std::uint64_t first = random_seed();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_NE(random_seed(), first);
}

// Names from the measurement floor carry accented letters; the UTF-8 path must reach the file
// system unchanged through both the platform calls and the standard library's streams.
TEST(PlatformSystem, NonAsciiNamesWorkThroughEveryPath) {
    scratch_folder folder;
    const std::string name =
        "Pr\xC3\xBC"
        "fung_\xE2\x82\xAC.csv";  // "Prüfung_€.csv"
    const std::string path = folder / name;
    ASSERT_TRUE(write_file_bytes(path, "data"));

    EXPECT_TRUE(std::filesystem::is_regular_file(to_fs_path(path)));
    {
        std::ifstream stream(to_fs_path(path), std::ios::binary);
        const std::string through_stream{std::istreambuf_iterator<char>(stream), {}};
        EXPECT_EQ(through_stream, "data");
    }

    const std::vector<directory_entry> entries = find_entries(folder / "*.csv");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
    EXPECT_TRUE(rename_no_replace(path, folder / "\xC3\xA9.csv"));
    EXPECT_EQ(read_file_bytes(folder / "\xC3\xA9.csv"), "data");
}

TEST(PlatformText, AsciiPassesBothWaysUnchanged) {
    const std::string ascii = "Result;12.5;ONGQR_01 ~!";
    EXPECT_EQ(ansi_to_utf8(ascii), ascii);
    EXPECT_EQ(utf8_to_ansi(ascii), ascii);
    EXPECT_EQ(ansi_to_utf8(""), "");
    EXPECT_EQ(utf8_to_ansi(""), "");
}

}  // namespace
}  // namespace kelvad::platform
