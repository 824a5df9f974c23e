// Platform services as POSIX systems provide them.

#include "platform/platform.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "support/scratch_folder.h"

namespace kelvad::platform {

using test::scratch_folder;
namespace {

// A forked child that runs `body` and ends with its result as exit code; -1 when it did not
// end normally.
int exit_code_of_child(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) ::_exit(body());
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// A forked child that runs `prepare`, tells the parent "y" (or "n" when `prepare` failed) and
// then waits until the parent lets it go or kills it.
class waiting_child {
  public:
    explicit waiting_child(const std::function<bool()>& prepare) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0) return;
        if (::pipe(release) != 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const char state = prepare() ? 'y' : 'n';
            if (::write(ready[1], &state, 1) != 1) ::_exit(2);
            char ignored;
            while (::read(release[0], &ignored, 1) > 0) {
            }
            ::_exit(state == 'y' ? 0 : 1);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char state = 0;
        ready_ = pid_ > 0 && ::read(ready[0], &state, 1) == 1 && state == 'y';
        ::close(ready[0]);
    }
    waiting_child(const waiting_child&) = delete;
    waiting_child& operator=(const waiting_child&) = delete;
    ~waiting_child() { end(); }

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }
    void kill() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        end();
    }
    // Lets the child end and waits for it; true when it ended with success.
    bool end() {
        if (release_ >= 0) ::close(release_);
        release_ = -1;
        if (pid_ <= 0) return false;
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool ready_ = false;
};

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

    const std::vector<std::string> listed = {".hidden.csv", "1_to_file.csv", "2_dangling.csv",
                                             "3_pipe.csv", "b.csv"};
    EXPECT_EQ(list_plain_files(folder / "*.csv"), listed);
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
            EXPECT_EQ(writer_state(path), writer_check::unknown) << "the lease cannot decide";
            GTEST_SKIP() << "write leases are not supported in " << folder.folder() << ": "
                         << std::strerror(lease_error);
        }
    }
    EXPECT_EQ(writer_state(path), writer_check::none) << "nobody else has it open yet";

    // A reader cannot be told from a writer by the lease: both keep the answer at `writer`.
    for (const int open_mode : {O_WRONLY, O_RDONLY}) {
        SCOPED_TRACE(open_mode == O_WRONLY ? "writer" : "reader");
        waiting_child child([&] { return ::open(path.c_str(), open_mode) >= 0; });
        ASSERT_TRUE(child.ready());
        EXPECT_EQ(writer_state(path), writer_check::writer);
        EXPECT_EQ(read_file_bytes(path), "partial result");
        EXPECT_TRUE(child.end());
        EXPECT_EQ(writer_state(path), writer_check::none) << "free again after the child ended";
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, HeldOpenTest,
                         ::testing::Values(std::filesystem::temp_directory_path(),
                                           std::filesystem::current_path()));

// Another account may read the file but gets no lease on it: the answer must not be "none".
TEST(PosixWriterState, FileOfAnotherAccountIsUnknown) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another account";
    scratch_folder folder;
    ASSERT_EQ(::chmod(folder.folder().c_str(), 0755), 0);
    const std::string path = folder / "ONGQR_1.csv";
    ASSERT_TRUE(write_file_bytes(path, "result"));
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    constexpr gid_t nobody = 65534;
    const int answer = exit_code_of_child([&] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
            return 100;
        }
        if (::access(path.c_str(), R_OK) != 0) return 101;
        return static_cast<int>(writer_state(path)) * 10 + (last_error().code == EACCES ? 1 : 0);
    });
    ASSERT_NE(answer, 100) << "could not become user nobody";
    ASSERT_NE(answer, 101) << "user nobody cannot read the file";
    EXPECT_EQ(answer, static_cast<int>(writer_check::unknown) * 10 + 1)
        << "unknown, for EACCES (writer_check*10 + EACCES)";
}

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

// Links in the way of the durable writes: a link is the name, never a way to reach another
// file. Each case starts with "outside/target.csv" ("outside") and "in/link.csv" pointing at
// it.
TEST(PosixDurable, LinksAreNamesNotWaysThrough) {
    struct link_case {
        const char* what;
        std::function<bool(const std::string& link, const std::string& in)> call;
        bool succeeds;
        bool name_taken;
    };
    const link_case cases[] = {
        {"new file at a link",
         [](const std::string& link, const std::string&) {
             return write_new_file_durable(link, "new");
         },
         false, true},
        {"overwrite through a link",
         [](const std::string& link, const std::string&) {
             return overwrite_file_durable(link, "new");
         },
         false, false},
        {"rename onto a link",
         [](const std::string& link, const std::string& in) {
             return write_file_bytes(in + "/source.csv", "new") &&
                    rename_no_replace(in + "/source.csv", link);
         },
         false, true},
    };
    for (const link_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_folder folder;
        ASSERT_TRUE(create_folder(folder / "outside"));
        ASSERT_TRUE(create_folder(folder / "in"));
        const std::string target = folder / "outside/target.csv";
        const std::string link = folder / "in/link.csv";
        ASSERT_TRUE(write_file_bytes(target, "outside"));
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

        EXPECT_EQ(c.call(link, folder / "in"), c.succeeds);
        EXPECT_EQ(last_error().name_taken, c.name_taken) << last_error().text;
        EXPECT_EQ(read_file_bytes(target), "outside");
        char pointed[4096] = {};
        EXPECT_GT(::readlink(link.c_str(), pointed, sizeof pointed - 1), 0);
        EXPECT_EQ(std::string(pointed), target) << "the link is still there";
    }

    // Replacing takes the link itself away; what it pointed to stays as it was.
    scratch_folder folder;
    const std::string target = folder / "target.csv";
    const std::string link = folder / "link.csv";
    ASSERT_TRUE(write_file_bytes(target, "outside"));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(write_file_bytes(folder / "new.csv", "new"));
    EXPECT_TRUE(replace_file(folder / "new.csv", link));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "a plain file now, no link";
    EXPECT_EQ(read_file_bytes(link), "new");
    EXPECT_EQ(read_file_bytes(target), "outside");
}

TEST(PosixDurable, InjectedFaultIsADiskFull) {
    scratch_folder folder;
    fault::inject(fault::step::write);
    EXPECT_FALSE(write_new_file_durable(folder / "new.csv", "x"));
    fault::clear();
    EXPECT_EQ(last_error().code, ENOSPC);
    EXPECT_EQ(last_error().text, std::strerror(ENOSPC));
    EXPECT_FALSE(flush_folder(folder / "missing"));
    EXPECT_EQ(last_error().code, ENOENT);
    ASSERT_TRUE(write_file_bytes(folder / "file.csv", "x"));
    EXPECT_FALSE(flush_folder(folder / "file.csv")) << "no folder";
    EXPECT_EQ(last_error().code, ENOTDIR);
}

// Unmounts a small file system at the end of a test.
class scoped_mount {
  public:
    scoped_mount(const std::string& target, const char* options) : target_(target) {
        mounted_ = ::mount("tmpfs", target.c_str(), "tmpfs", 0, options) == 0;
        error_ = errno;
    }
    scoped_mount(const scoped_mount&) = delete;
    scoped_mount& operator=(const scoped_mount&) = delete;
    ~scoped_mount() {
        if (mounted_) ::umount2(target_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    int error() const { return error_; }

  private:
    std::string target_;
    bool mounted_ = false;
    int error_ = 0;
};

// A real full disk: the write fails in the middle, and the half-written file goes again.
TEST(PosixDurable, FullDiskLeavesNoFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    scratch_folder folder;
    ASSERT_TRUE(create_folder(folder / "small"));
    const scoped_mount small(folder / "small", "size=64k");
    if (!small.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(small.error());
    }
    const std::string big(200 * 1024, 'r');
    EXPECT_FALSE(write_new_file_durable(folder / "small/new.csv", big));
    EXPECT_EQ(last_error().code, ENOSPC) << last_error().text;
    EXPECT_FALSE(file_exists(folder / "small/new.csv"));

    EXPECT_TRUE(list_plain_files(folder / "small/*").empty());
    EXPECT_TRUE(write_new_file_durable(folder / "small/small.csv", "fits"))
        << "the space of the failed files is free again";
}

TEST(PosixFiles, StampIsExactAndTakesTheLinkItself) {
    scratch_folder folder;
    const std::string path = folder / "r.csv";
    ASSERT_TRUE(write_file_bytes(path, "123"));
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const std::optional<file_stamp> stamp = stamp_of(path);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->size, 3u);
    EXPECT_EQ(stamp->modified_ns, 1700000000123456789);

    ASSERT_EQ(::symlink((folder / "gone").c_str(), (folder / "dangling.csv").c_str()), 0);
    const std::optional<file_stamp> link = stamp_of(folder / "dangling.csv");
    ASSERT_TRUE(link.has_value()) << "a dangling link has a stamp";
    EXPECT_EQ(link->size, (folder / "gone").size()) << "the link's own size";
}

// Two locks in one process conflict (tests rely on it); and a holder that is killed leaves
// the lock free for the next scanner.
TEST(PosixLock, KilledHolderReleasesTheLock) {
    scratch_folder folder;
    const std::string path = folder / "kelvad.lock";
    waiting_child holder([&] {
        static folder_lock lock;  // held until the child is killed
        lock = folder_lock::try_take(path);
        return lock.held();
    });
    ASSERT_TRUE(holder.ready());
    const folder_lock while_held = folder_lock::try_take(path);
    EXPECT_EQ(while_held.status(), folder_lock::state::held_elsewhere);
    EXPECT_TRUE(last_error().code == EAGAIN || last_error().code == EACCES) << last_error().text;
    holder.kill();
    EXPECT_TRUE(folder_lock::try_take(path).held());
}

TEST(PosixSystem, EndedChildIsNotRunning) {
    waiting_child child([] { return true; });
    ASSERT_TRUE(child.ready());
    const auto pid = static_cast<std::uint32_t>(child.pid());
    EXPECT_TRUE(process_running(pid));
    EXPECT_TRUE(child.end());
    EXPECT_FALSE(process_running(pid));
    EXPECT_FALSE(process_running(0xFFFFFFFFu)) << "no process group by accident";
}

TEST(PosixFiles, NameLimitCountsBytes) {
    scratch_folder folder;
    std::string euros;
    for (int i = 0; i < 85; ++i) euros += "\xE2\x82\xAC";
    EXPECT_TRUE(name_fits(folder.folder(), euros)) << "85 characters of three bytes: 255";
    EXPECT_FALSE(name_fits(folder.folder(), euros + "\xE2\x82\xAC")) << "86: 258 bytes";
    EXPECT_TRUE(write_new_file_durable(folder / euros, "x")) << "the system agrees";
    EXPECT_FALSE(write_new_file_durable(folder / (euros + "\xE2\x82\xAC"), "x"));

    const std::string deep = "/" + std::string(4000, 'd');
    EXPECT_TRUE(name_fits(deep, std::string(93, 'a')));
    EXPECT_FALSE(name_fits(deep, std::string(94, 'a'))) << "4096 with its terminating zero";
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
