// Platform services as Windows provides them.

#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

#include "support/scratch_folder.h"

namespace kelvad::platform {

using test::scratch_folder;
namespace {

class scoped_handle {
  public:
    explicit scoped_handle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    scoped_handle(const scoped_handle&) = delete;
    scoped_handle& operator=(const scoped_handle&) = delete;
    ~scoped_handle() { reset(); }
    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    void reset() noexcept {
        if (valid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    HANDLE* out() noexcept { return &handle_; }

  private:
    HANDLE handle_;
};

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

    const std::string program = program_file();
    const std::string holder =
        program.substr(0, program.rfind(path_separator) + 1) + "platform_file_holder.exe";
    ASSERT_TRUE(file_exists(holder)) << holder;

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    scoped_handle child_out_read, child_out_write, child_in_read, child_in_write;
    ASSERT_TRUE(CreatePipe(child_out_read.out(), child_out_write.out(), &inherit, 0));
    ASSERT_TRUE(CreatePipe(child_in_read.out(), child_in_write.out(), &inherit, 0));
    SetHandleInformation(child_out_read.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(child_in_write.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in_read.get();
    startup.hStdOutput = child_out_write.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + wide(holder) + L"\" \"" + wide(path) + L"\"";
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &process));
    const scoped_handle process_handle(process.hProcess);
    const scoped_handle thread_handle(process.hThread);
    child_out_write.reset();
    child_in_read.reset();

    char state = 0;
    DWORD got = 0;
    const bool child_ready =
        ReadFile(child_out_read.get(), &state, 1, &got, nullptr) && got == 1 && state == 'y';
    const bool renamed = child_ready && rename_no_replace(path, away);
    child_in_write.reset();  // lets the holder end
    const bool child_ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;

    ASSERT_TRUE(child_ready);
    EXPECT_FALSE(renamed);
    EXPECT_EQ(read_file_bytes(path), "partial result");
    ASSERT_TRUE(child_ended);
    EXPECT_TRUE(rename_no_replace(path, away)) << "free once the holder ended";
}

TEST(Win32Text, AnsiCodePageRoundTrip) {
    const UINT code_page = GetACP();
    RecordProperty("ansi_code_page", static_cast<int>(code_page));
    std::printf("ANSI code page: %u\n", code_page);
    const std::string bytes = "\xE9\x80";
    EXPECT_EQ(utf8_to_ansi(ansi_to_utf8(bytes)), bytes);
    if (code_page == 1252) {
        EXPECT_EQ(ansi_to_utf8(bytes), "\xC3\xA9\xE2\x82\xAC");  // é€
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
