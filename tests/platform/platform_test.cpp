// Platform services whose behaviour is the same on every system.

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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

TEST_F(FindEntriesTest, PlainFileListHoldsTheFullSearchsFilesInItsOrder) {
    for (const char* mask : {"*.csv", "*", "?.csv", "sub*", "*.xls"}) {
        SCOPED_TRACE(mask);
        std::vector<std::string> files;
        for (const directory_entry& entry : find_entries(folder_ / mask)) {
            if (!(entry.attributes & attribute::directory)) files.push_back(entry.name);
        }
        EXPECT_EQ(list_plain_files(folder_ / mask), files);
    }
    EXPECT_EQ(list_plain_files(folder_ / "*.csv").size(), 3u) << "A.CSV, a1.csv, b.csv";
    EXPECT_TRUE(list_plain_files(folder_ / "missing" + path_separator + "*").empty());
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

// Everything in a folder, name by name with the content of each plain file ("<folder>" for a
// folder), to show what a call left behind.
std::map<std::string, std::string> contents_of(const scratch_folder& folder) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : folder.names()) {
        contents[name] = folder_exists(folder / name)
                             ? "<folder>"
                             : read_file_bytes(folder / name).value_or("?");
    }
    return contents;
}

// Disarms the fault seam at the end of a case, whatever the case left armed.
struct fault_guard {
    fault_guard() = default;
    fault_guard(const fault_guard&) = delete;
    fault_guard& operator=(const fault_guard&) = delete;
    ~fault_guard() { fault::clear(); }
};

// Each case starts from a folder holding "old.csv" ("old") and "source.csv" (a second file);
// the folder afterwards must hold exactly `after`: a failing call leaves nothing behind and
// changes nothing.
TEST(PlatformDurable, WritesSucceedWholeOrFailLeavingNothing) {
    const std::string payload("ORVEL\r\n\0\xFF;1.5\n", 14);
    const std::map<std::string, std::string> untouched = {{"old.csv", "old"},
                                                          {"source.csv", payload}};
    auto with = [&](std::map<std::string, std::string> extra) {
        extra.insert(untouched.begin(), untouched.end());
        return extra;
    };
    using fault::step;
    struct durable_case {
        const char* what;
        std::function<bool(const scratch_folder&)> call;
        bool succeeds;
        bool name_taken;  // when it fails
        std::map<std::string, std::string> after;
    };
    const durable_case cases[] = {
        {"new file",
         [&](const scratch_folder& f) { return write_new_file_durable(f / "new.csv", payload); },
         true, false, with({{"new.csv", payload}})},
        {"new empty file",
         [](const scratch_folder& f) { return write_new_file_durable(f / "new.csv", ""); }, true,
         false, with({{"new.csv", ""}})},
        {"overwrite in place",
         [](const scratch_folder& f) { return overwrite_file_durable(f / "old.csv", "ne"); },
         true,
         false,
         {{"old.csv", "ne"}, {"source.csv", payload}}},
        {"second write of an armed second call fails",
         [&](const scratch_folder& f) {
             fault::inject(step::write, 2);
             return write_new_file_durable(f / "a.csv", "a") &&
                    write_new_file_durable(f / "b.csv", "b");
         },
         false, false, with({{"a.csv", "a"}})},
        {"new file over an existing one",
         [](const scratch_folder& f) { return write_new_file_durable(f / "old.csv", "new"); },
         false, true, untouched},
        {"overwrite of a missing file",
         [](const scratch_folder& f) { return overwrite_file_durable(f / "missing.csv", "x"); },
         false, false, untouched},
        {"write fault",
         [&](const scratch_folder& f) {
             fault::inject(step::write);
             return write_new_file_durable(f / "new.csv", payload);
         },
         false, false, untouched},
        {"flush fault",
         [&](const scratch_folder& f) {
             fault::inject(step::flush);
             return write_new_file_durable(f / "new.csv", payload);
         },
         false, false, untouched},
        {"write fault in an overwrite",
         [](const scratch_folder& f) {
             fault::inject(step::write);
             return overwrite_file_durable(f / "old.csv", "new");
         },
         false, false, untouched},
        {"flush fault of the folder",
         [](const scratch_folder& f) {
             fault::inject(step::flush);
             return flush_folder(f.folder());
         },
         false, false, untouched},
        {"folder flushed", [](const scratch_folder& f) { return flush_folder(f.folder()); }, true,
         false, untouched},
        {"rename fault",
         [](const scratch_folder& f) {
             fault::inject(step::rename);
             return rename_no_replace(f / "old.csv", f / "new.csv");
         },
         false, false, untouched},
        {"replace fault",
         [](const scratch_folder& f) {
             fault::inject(step::rename);
             return replace_file(f / "old.csv", f / "source.csv");
         },
         false, false, untouched},
        {"fault cleared before it came",
         [](const scratch_folder& f) {
             fault::inject(step::write);
             fault::clear();
             return write_new_file_durable(f / "new.csv", "x");
         },
         true, false, with({{"new.csv", "x"}})},
    };
    for (const durable_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_folder folder;
        ASSERT_TRUE(write_file_bytes(folder / "old.csv", "old"));
        ASSERT_TRUE(write_file_bytes(folder / "source.csv", payload));
        const fault_guard guard;
        const bool succeeded = c.call(folder);
        const os_error error = last_error();
        EXPECT_EQ(succeeded, c.succeeds);
        if (!c.succeeds && !succeeded) {
            EXPECT_NE(error.code, 0);
            EXPECT_FALSE(error.text.empty());
            EXPECT_EQ(error.name_taken, c.name_taken) << error.text;
        }
        EXPECT_EQ(contents_of(folder), c.after);
    }
}

TEST(PlatformErrors, FailuresTellTheSystemsReasonInOneLine) {
    scratch_folder folder;
    EXPECT_FALSE(delete_file(folder / "missing.csv"));
    const os_error missing = last_error();
    EXPECT_NE(missing.code, 0);
    EXPECT_FALSE(missing.name_taken);
    ASSERT_FALSE(missing.text.empty());
    EXPECT_EQ(missing.text.find_first_of("\r\n"), std::string::npos) << missing.text;
    EXPECT_NE(missing.text.back(), '.') << missing.text;

    ASSERT_TRUE(create_folder(folder / "sub"));
    EXPECT_FALSE(create_folder(folder / "sub"));
    EXPECT_TRUE(last_error().name_taken) << last_error().text;
    ASSERT_TRUE(write_file_bytes(folder / "a.csv", "a"));
    ASSERT_TRUE(write_file_bytes(folder / "b.csv", "b"));
    EXPECT_FALSE(rename_no_replace(folder / "a.csv", folder / "b.csv"));
    EXPECT_TRUE(last_error().name_taken) << last_error().text;

    EXPECT_FALSE(read_file_bytes(folder / "missing.csv").has_value());
    EXPECT_EQ(last_error().code, missing.code) << "each failure replaces the record";
    EXPECT_TRUE(write_file_bytes(folder / "c.csv", "c"));
    EXPECT_EQ(last_error().code, missing.code) << "a success leaves the record alone";

    const int main_thread_code = last_error().code;
    std::thread([] { EXPECT_EQ(last_error().code, 0) << "each thread has its own record"; }).join();
    EXPECT_EQ(last_error().code, main_thread_code);
}

TEST(PlatformFiles, StampTellsSizeAndWriteTime) {
    scratch_folder folder;
    const std::string path = folder / "r.csv";
    const std::int64_t before = utc_now_ns();
    ASSERT_TRUE(write_file_bytes(path, "12345"));
    const std::optional<file_stamp> stamp = stamp_of(path);
    const std::int64_t after = utc_now_ns();
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->size, 5u);
    constexpr std::int64_t second = 1000000000;
    // File system clocks run coarser than the system clock.
    EXPECT_GE(stamp->modified_ns, before - second);
    EXPECT_LE(stamp->modified_ns, after + second);
    EXPECT_EQ(stamp_of(path), stamp) << "unchanged file, unchanged stamp";

    ASSERT_TRUE(write_file_bytes(path, "123456"));
    EXPECT_NE(stamp_of(path), stamp);
    EXPECT_EQ(stamp_of(folder / "missing.csv"), std::nullopt);
    EXPECT_EQ(stamp_of(folder.folder()), std::nullopt) << "a folder is no file";
}

TEST(PlatformLock, OneHolderAtATimeAndTheFileStays) {
    scratch_folder folder;
    const std::string path = folder / "kelvad.lock";
    {
        folder_lock first = folder_lock::try_take(path);
        ASSERT_EQ(first.status(), folder_lock::state::held);
        EXPECT_EQ(first.path(), path);
        EXPECT_EQ(folder_lock::try_take(path).status(), folder_lock::state::held_elsewhere);

        folder_lock moved = std::move(first);
        EXPECT_FALSE(first.held());
        EXPECT_TRUE(moved.held());
        first = folder_lock();  // the moved-from lock releases nothing
        EXPECT_EQ(folder_lock::try_take(path).status(), folder_lock::state::held_elsewhere);

        folder_lock other;
        other = std::move(moved);
        EXPECT_TRUE(other.held());
        EXPECT_EQ(folder_lock::try_take(path).status(), folder_lock::state::held_elsewhere);
    }
    EXPECT_TRUE(file_exists(path)) << "the lock file is never deleted";
    folder_lock again = folder_lock::try_take(path);
    EXPECT_TRUE(again.held()) << "free once its holder is gone";

    folder_lock second = folder_lock::try_take(path);
    second = folder_lock::try_take(folder / "other.lock");
    EXPECT_TRUE(second.held()) << "a lock of another folder is another lock";
    EXPECT_EQ(folder_lock::try_take(folder / "missing" + path_separator + "kelvad.lock").status(),
              folder_lock::state::failed);
}

TEST(PlatformSystem, ThisProcessRuns) {
    EXPECT_TRUE(process_running(process_id()));
    EXPECT_FALSE(process_running(0));
}

TEST(PlatformFiles, NameFitsWithinTheSystemsLimits) {
    scratch_folder folder;
    struct name_case {
        std::string name;
        bool fits;
    };
    const name_case cases[] = {
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {"ONGQR_1.csv", true},
        {"", false},
        {"a" + std::string(1, path_separator) + "b", false},
    };
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name.size());
        EXPECT_EQ(name_fits(folder.folder(), c.name), c.fits);
    }
    const std::string deep_folder =
        folder.folder() + std::string(1, path_separator) + std::string(40000, 'd');
    EXPECT_FALSE(name_fits(deep_folder, "a.csv")) << "the whole path is too long";
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
