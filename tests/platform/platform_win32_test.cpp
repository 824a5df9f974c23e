// Platform services as Windows provides them.

#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/file_holder_win32.h"
#include "support/scratch_folder.h"

namespace kelvad::platform {

using test::holder_process;
using test::scoped_handle;
using test::scratch_folder;
namespace {

std::wstring wide(const std::string& path) {
    return to_fs_path(path).wstring();
}

// The way a writer on the measurement system holds its result file: others may read and write,
// but not delete or rename it.
HANDLE open_as_writer(const std::string& path) {
    return CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Win32FindEntries, HiddenAndReadOnlyAttributesAreReported) {
    scratch_folder folder;
    for (const char* name : {"h.csv", "r.csv", "n.csv"}) {
        ASSERT_TRUE(write_file_bytes(folder / name, "x"));
    }
    ASSERT_TRUE(SetFileAttributesW(wide(folder / "h.csv").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(wide(folder / "r.csv").c_str(), FILE_ATTRIBUTE_READONLY));

    constexpr std::uint32_t checked =
        attribute::hidden | attribute::read_only | attribute::directory;
    for (const directory_entry& entry : find_entries(folder / "*.csv")) {
        SCOPED_TRACE(entry.name);
        const std::uint32_t expected = entry.name == "h.csv"   ? attribute::hidden
                                       : entry.name == "r.csv" ? attribute::read_only
                                                               : 0;
        EXPECT_EQ(entry.attributes & checked, expected);
    }
    EXPECT_EQ(find_entries(folder / "*.csv").size(), 3u) << "hidden files take part";
    SetFileAttributesW(wide(folder / "r.csv").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Files, FileOpenInAnotherHandleIsNotRenamed) {
    scratch_folder folder;
    const std::string path = folder / "ONGQR_1.csv";
    const std::string away = folder / "away.tmp";
    ASSERT_TRUE(write_file_bytes(path, "partial result"));
    {
        const scoped_handle writer(open_as_writer(path));
        ASSERT_TRUE(writer.valid());
        EXPECT_FALSE(rename_no_replace(path, away));
        EXPECT_FALSE(file_exists(away));
        EXPECT_EQ(read_file_bytes(path), "partial result") << "readable while it is written";
    }
    EXPECT_TRUE(rename_no_replace(path, away)) << "free once the writer closed it";
}

TEST(Win32Files, FileOpenInAnotherProcessIsNotRenamed) {
    scratch_folder folder;
    const std::string path = folder / "ONGQR_2.csv";
    const std::string away = folder / "away.tmp";
    ASSERT_TRUE(write_file_bytes(path, "partial result"));
    EXPECT_EQ(writer_state(path), writer_check::none) << "nobody has it open";

    holder_process holder(path);
    ASSERT_TRUE(holder.ready());
    EXPECT_EQ(writer_state(path), writer_check::writer);
    EXPECT_FALSE(rename_no_replace(path, away));
    EXPECT_EQ(read_file_bytes(path), "partial result");
    ASSERT_TRUE(holder.end());
    EXPECT_EQ(writer_state(path), writer_check::none);
    EXPECT_TRUE(rename_no_replace(path, away)) << "free once the holder ended";
}

// A writer that shares deletion lets the renames through; only the sharing check sees it.
TEST(Win32Files, WriterSharingEverythingIsStillAWriter) {
    scratch_folder folder;
    const std::string path = folder / "ONGQR_3.csv";
    const std::string away = folder / "away.tmp";
    ASSERT_TRUE(write_file_bytes(path, "partial result"));

    holder_process holder(path, L"full");
    ASSERT_TRUE(holder.ready());
    EXPECT_EQ(writer_state(path), writer_check::writer);
    EXPECT_TRUE(rename_no_replace(path, away)) << "the rename alone would take it as free";
    EXPECT_EQ(writer_state(away), writer_check::writer) << "the writer's handle moved along";
    EXPECT_EQ(read_file_bytes(away), "partial result");
    ASSERT_TRUE(holder.end());
    EXPECT_EQ(writer_state(away), writer_check::none);
}

TEST(Win32Lock, SecondProcessHoldingTheLockFileKeepsItsLock) {
    scratch_folder folder;
    const std::string path = folder / "kelvad.lock";
    {
        holder_process other_scanner(path, L"exclusive");
        ASSERT_TRUE(other_scanner.ready());
        const folder_lock lock = folder_lock::try_take(path);
        EXPECT_EQ(lock.status(), folder_lock::state::held_elsewhere);
        EXPECT_EQ(last_error().code, ERROR_SHARING_VIOLATION) << last_error().text;
        ASSERT_TRUE(other_scanner.end());
    }
    folder_lock lock = folder_lock::try_take(path);
    EXPECT_TRUE(lock.held());
    holder_process late_scanner(path, L"exclusive");
    EXPECT_FALSE(late_scanner.ready()) << "the lock keeps a second process out as well";
}

TEST(Win32System, EndedProcessIsNotRunning) {
    scratch_folder folder;
    ASSERT_TRUE(write_file_bytes(folder / "f.csv", "x"));
    holder_process holder(folder / "f.csv");
    ASSERT_TRUE(holder.ready());
    EXPECT_TRUE(process_running(holder.pid()));
    ASSERT_TRUE(holder.end());
    EXPECT_FALSE(process_running(holder.pid()));
}

TEST(Win32Durable, InjectedFaultIsADiskFull) {
    scratch_folder folder;
    fault::inject(fault::step::write);
    EXPECT_FALSE(write_new_file_durable(folder / "new.csv", "x"));
    fault::clear();
    EXPECT_EQ(last_error().code, static_cast<int>(ERROR_DISK_FULL));
    EXPECT_FALSE(last_error().text.empty());
    EXPECT_FALSE(file_exists(folder / "new.csv"));
}

TEST(Win32Files, NameLimitCountsUtf16Units) {
    scratch_folder folder;
    std::string euros, faces;
    for (int i = 0; i < 255; ++i) euros += "\xE2\x82\xAC";      // one unit each
    for (int i = 0; i < 128; ++i) faces += "\xF0\x9F\x98\x80";  // two units each
    EXPECT_TRUE(name_fits(folder.folder(), euros));
    EXPECT_FALSE(name_fits(folder.folder(), euros + "\xE2\x82\xAC"));
    EXPECT_FALSE(name_fits(folder.folder(), faces)) << "256 units";
    EXPECT_FALSE(name_fits(folder.folder(), "a/b")) << "either separator";
}

// Paths from MAX_PATH characters on reach the system in their long form.
TEST(Win32Files, LongPathsGetTheirLongForm) {
    const std::string long_part(300, 'x');
    const std::wstring wide_part(300, L'x');
    wchar_t current[MAX_PATH + 1] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH + 1, current), 0u);
    std::wstring current_folder = current;
    if (current_folder.back() != L'\\') current_folder += L'\\';
    struct path_case {
        std::string path;
        std::wstring expected;
    };
    const path_case cases[] = {
        {"C:\\short\\f.csv", L"C:\\short\\f.csv"},
        {"C:\\" + long_part + "\\f.csv", L"\\\\?\\C:\\" + wide_part + L"\\f.csv"},
        {"C:/" + long_part + "/f.csv", L"\\\\?\\C:\\" + wide_part + L"\\f.csv"},
        {"\\\\server\\share\\" + long_part, L"\\\\?\\UNC\\server\\share\\" + wide_part},
        {"C:\\a\\..\\" + long_part + "\\.\\f.csv", L"\\\\?\\C:\\" + wide_part + L"\\f.csv"},
        {"C:\\" + long_part + "\\..\\f.csv", L"C:\\f.csv"},
        {long_part + "\\f.csv", L"\\\\?\\" + current_folder + wide_part + L"\\f.csv"},
        {"\\\\?\\C:\\" + long_part, L"\\\\?\\C:\\" + wide_part},
    };
    for (const path_case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 20));
        EXPECT_EQ(to_fs_path(c.path).wstring(), c.expected);
    }
}

// A result folder deep in the archive tree: every call works beyond MAX_PATH.
TEST(Win32Files, FolderBeyondMaxPathWorksThroughEveryCall) {
    scratch_folder folder;
    std::vector<std::string> levels;
    std::string deep = folder.folder();
    while (deep.size() < 270) {
        deep += path_separator + std::string(60, 'L');
        levels.push_back(deep);
        ASSERT_TRUE(create_folder(deep)) << deep.size() << ": " << last_error().text;
    }
    ASSERT_TRUE(folder_exists(deep));
    const std::string file = deep + path_separator + "ONGQR_1.csv";
    const std::string moved = deep + path_separator + "ONGQR_1.tmp";
    ASSERT_TRUE(write_new_file_durable(file, "result")) << last_error().text;
    EXPECT_TRUE(file_exists(file));
    EXPECT_EQ(list_plain_files(deep + path_separator + "*.csv"),
              std::vector<std::string>{"ONGQR_1.csv"});
    EXPECT_EQ(count_plain_files(deep + path_separator + "*").count, 1u);
    EXPECT_TRUE(rename_no_replace(file, moved)) << last_error().text;
    EXPECT_EQ(read_file_bytes(moved), "result");
    {
        std::ifstream stream(to_fs_path(moved), std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stream), {}), "result");
    }
    const std::optional<file_stamp> stamp = stamp_of(moved);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->size, 6u);
    EXPECT_EQ(writer_state(moved), writer_check::none);
    EXPECT_TRUE(write_new_file_durable(file, "result")) << last_error().text;
    EXPECT_TRUE(delete_file(moved)) << last_error().text;
    EXPECT_TRUE(delete_file(file)) << last_error().text;
    EXPECT_FALSE(file_exists(moved));
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
        EXPECT_TRUE(RemoveDirectoryW(wide(*level).c_str())) << level->size();
    }
}

TEST(Win32Text, AnsiCodePageRoundTrip) {
    const UINT code_page = GetACP();
    RecordProperty("ansi_code_page", static_cast<int>(code_page));
    std::printf("ANSI code page: %u\n", code_page);
    const std::string bytes = "\xE9\x80";
    EXPECT_EQ(utf8_to_ansi(ansi_to_utf8(bytes)), bytes);
    if (code_page == 1252) {
        EXPECT_EQ(ansi_to_utf8(bytes), "\xC3\xA9\xE2\x82\xAC");  // é€
        // Behind a long run of ASCII, past the first eight-byte words.
        EXPECT_EQ(ansi_to_utf8("Stamp;TRV_00001;Operator \xE9"),
                  "Stamp;TRV_00001;Operator \xC3\xA9");
    }
    EXPECT_EQ(utf8_to_ansi("a\xFF"
                           "b"),
              "a?b")
        << "malformed UTF-8";
}

TEST(Win32System, ProgramBaseNameDropsTheExtension) {
    EXPECT_EQ(program_base_name_of("scanner.exe"), "scanner");
    EXPECT_EQ(program_base_name_of("Kelvad.EXE"), "Kelvad");
}

TEST(Win32System, RoamingDataFolderExists) {
    const std::string folder = roaming_app_data_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder_exists(folder)) << folder;
}

}  // namespace
}  // namespace kelvad::platform
