// Platform services as POSIX systems provide them.

#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "support/scratch_folder.h"

namespace kelvad::platform {

using test::scratch_folder;
namespace {

TEST(PosixFindEntries, AscendingByteOrderWithAttributes) {
    scratch_folder folder;
    for (const char* name :
         {"b.csv", "a1.csv", "Z.csv", "_x.csv", "A.CSV", ".hidden.csv", "r.csv"}) {
        ASSERT_TRUE(write_file_bytes(folder / name, "x"));
    }
    ASSERT_EQ(::chmod((folder / "r.csv").c_str(), 0444), 0);
    ASSERT_TRUE(create_folder(folder / "sub.csv"));

    struct expected_entry {
        std::string name;
        std::uint32_t attributes;
    };
    const expected_entry expected[] = {
        {".hidden.csv", attribute::hidden | attribute::archive},
        {"A.CSV", attribute::archive},
        {"Z.csv", attribute::archive},
        {"_x.csv", attribute::archive},
        {"a1.csv", attribute::archive},
        {"b.csv", attribute::archive},
        {"r.csv", attribute::read_only | attribute::archive},
        {"sub.csv", attribute::directory},
    };
    const std::vector<directory_entry> entries = find_entries(folder / "*.csv");
    ASSERT_EQ(entries.size(), std::size(expected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(entries[i].name, expected[i].name);
        EXPECT_EQ(entries[i].attributes, expected[i].attributes);
    }
}

// The count asks the file system only about entries whose type the folder does not tell; links
// count as what they point to, and anything that is no folder counts as a file.
TEST(PosixFindEntries, PlainFileCountTakesLinksAsWhatTheyPointTo) {
    scratch_folder folder;
    ASSERT_TRUE(write_file_bytes(folder / "b.csv", "x"));
    ASSERT_TRUE(write_file_bytes(folder / ".hidden.csv", "x"));
    ASSERT_TRUE(create_folder(folder / "sub.csv"));
    ASSERT_EQ(::symlink((folder / "sub.csv").c_str(), (folder / "0_to_folder.csv").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "b.csv").c_str(), (folder / "1_to_file.csv").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "gone").c_str(), (folder / "2_dangling.csv").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder / "3_pipe.csv").c_str(), 0666), 0);

    const plain_file_count files = count_plain_files(folder / "*.csv");
    EXPECT_EQ(files.count, 5u) << "hidden, b, the link to b, the dangling link and the pipe";
    EXPECT_EQ(files.first_name, ".hidden.csv");
    ASSERT_TRUE(delete_file(folder / ".hidden.csv"));
    EXPECT_EQ(count_plain_files(folder / "*.csv").first_name, "1_to_file.csv")
        << "a link to a folder is a folder";

    std::size_t not_folders = 0;
    for (const directory_entry& entry : find_entries(folder / "*.csv"))
        if (!(entry.attributes & attribute::directory)) ++not_folders;
    EXPECT_EQ(count_plain_files(folder / "*.csv").count, not_folders);
}

// Opening a pipe for reading would wait for a writer: the cycle must not hang on one.
TEST(PosixFiles, ReadingSomethingOtherThanAFileFailsAtOnce) {
    scratch_folder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe.csv").c_str(), 0666), 0);
    EXPECT_EQ(read_file_bytes(folder / "pipe.csv"), std::nullopt);
    EXPECT_EQ(read_file_bytes(folder.folder()), std::nullopt);
}

// A child process keeps the file open, as the measurement system does while writing a result.
// Run in the temporary folder and in the working folder, which may lie on other file systems.
class HeldOpenTest : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(HeldOpenTest, FileOpenInAnotherProcessIsReportedAndLeftAlone) {
    scratch_folder folder(GetParam());
    const std::string path = folder / "ONGQR_1.csv";
    ASSERT_TRUE(write_file_bytes(path, "partial result"));

    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const int leased = ::fcntl(fd, F_SETLEASE, F_WRLCK);
        const int lease_error = errno;
        if (leased == 0) ::fcntl(fd, F_SETLEASE, F_UNLCK);
        ::close(fd);
        if (leased != 0) {
            GTEST_SKIP() << "write leases are not supported in " << folder.folder() << ": "
                         << std::strerror(lease_error);
        }
    }
    EXPECT_FALSE(is_held_open_elsewhere(path)) << "nobody else has it open yet";

    for (const int open_mode : {O_WRONLY, O_RDONLY}) {
        SCOPED_TRACE(open_mode == O_WRONLY ? "writer" : "reader");
        int ready[2];
        int release[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(release), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), open_mode);
            const char state = fd >= 0 ? 'y' : 'n';
            if (::write(ready[1], &state, 1) != 1) ::_exit(2);
            char ignored;
            while (::read(release[0], &ignored, 1) > 0) {
            }
            ::_exit(fd >= 0 ? 0 : 1);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char state = 0;
        const bool child_ready = ::read(ready[0], &state, 1) == 1 && state == 'y';
        ::close(ready[0]);

        const bool held = is_held_open_elsewhere(path);
        ::close(release[1]);
        int status = 0;
        ::waitpid(child, &status, 0);

        ASSERT_TRUE(child_ready);
        EXPECT_TRUE(held);
        EXPECT_EQ(read_file_bytes(path), "partial result");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(is_held_open_elsewhere(path)) << "free again after the child ended";
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, HeldOpenTest,
                         ::testing::Values(std::filesystem::temp_directory_path(),
                                           std::filesystem::current_path()));

TEST(PosixText, Windows1252BothWays) {
    struct text_case {
        std::string ansi;
        std::string utf8;
    };
    const text_case cases[] = {
        {"\xE9\x80", "\xC3\xA9\xE2\x82\xAC"},  // é€
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"\x8A\x9F\xA0\xFF", "\xC5\xA0\xC5\xB8\xC2\xA0\xC3\xBF"},  // Š Ÿ nbsp ÿ
        // Long ASCII runs are taken eight bytes at a time: letters on both sides of a word
        // boundary, and a last word cut short.
        {"0123456\xE9"
         "89abcdefghijklm\x80nopqrs",
         "0123456\xC3\xA9"
         "89abcdefghijklm\xE2\x82\xACnopqrs"},
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(ansi_to_utf8(c.ansi), c.utf8);
        EXPECT_EQ(utf8_to_ansi(c.utf8), c.ansi);
    }

    std::string every_byte;
    for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
    EXPECT_EQ(utf8_to_ansi(ansi_to_utf8(every_byte)), every_byte);
}

TEST(PosixText, UnmappableAndMalformedBecomeQuestionMarks) {
    struct text_case {
        std::string utf8;
        std::string ansi;
    };
    const text_case cases[] = {
        {"\xC5\x81", "?"},  // Ł, not in the code page
        {"a\xE4\xB8\xAD"
         "b",
         "a?b"},                       // a CJK letter
        {"\xF0\x9F\x98\x80", "?"},     // beyond the basic plane
        {"\xFF", "?"},                 // never valid
        {"x\xC3", "x?"},               // cut short at the end
        {"\xC3(", "?("},               // continuation missing
        {"\xC0\xAF", "??"},            // overlong "/"
        {"\xED\xA0\x80", "???"},       // surrogate
        {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
    };
    for (const text_case& c : cases) {
        SCOPED_TRACE(c.ansi);
        EXPECT_EQ(utf8_to_ansi(c.utf8), c.ansi);
    }
}

TEST(PosixSystem, ProgramBaseNameIsTheWholeName) {
    EXPECT_EQ(program_base_name_of("kelvad"), "kelvad");
    EXPECT_EQ(program_base_name_of("kelvad.bin"), "kelvad.bin");
}

// Sets or clears environment variables for one test and restores them afterwards.
class environment_override {
  public:
    environment_override(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    environment_override(const environment_override&) = delete;
    environment_override& operator=(const environment_override&) = delete;
    ~environment_override() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PosixSystem, RoamingDataFolderFromTheEnvironment) {
    struct env_case {
        const char* xdg_data_home;
        const char* home;
        std::string expected;
    };
    const env_case cases[] = {
        {"/data/user", "/home/op", "/data/user"},
        {"", "/home/op", "/home/op/.local/share"},
        {nullptr, "/home/op", "/home/op/.local/share"},
        {nullptr, nullptr, ""},
    };
    for (const env_case& c : cases) {
        SCOPED_TRACE(c.expected);
        const environment_override xdg("XDG_DATA_HOME", c.xdg_data_home);
        const environment_override home("HOME", c.home);
        EXPECT_EQ(roaming_app_data_folder(), c.expected);
    }
}

TEST(PosixSystem, TempFileGoesToTmpdir) {
    scratch_folder folder;
    const environment_override tmpdir("TMPDIR", folder.folder().c_str());
    const std::string path = create_system_temp_file();
    EXPECT_EQ(path.rfind(folder / "sco", 0), 0u) << path;
    EXPECT_TRUE(file_exists(path));
}

}  // namespace
}  // namespace kelvad::platform
