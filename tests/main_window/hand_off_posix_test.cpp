// The hand-off under real faults of a Linux machine: files that can never be taken, a writer
// of another account, and full disks (small tmpfs mounts; the tests run as root).

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "orvel_fixture.h"

namespace kelvad {
namespace {

constexpr uid_t nobody = 65534;

class hand_off_posix : public orvel_fixture {
  protected:
    int count_starting(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(messages().begin(), messages().end(),
                          [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
    }
    // The whole sandbox open to every account, for a writer or a scanner of another account.
    void open_sandbox_to_all() const {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(box.root()))
            ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
        ::chmod(box.root().c_str(), 0777);
    }
    // A small tmpfs over a folder, so that a disk is really full; false when it cannot be had.
    static bool mount_small_disk(const std::string& folder, const char* size) {
        const std::string options = std::string("size=") + size;
        return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    static bool set_immutable(const std::string& path, bool on) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
};

TEST_F(hand_off_posix, a_file_that_can_never_be_taken_does_not_hold_back_the_next) {
    struct stuck_case {
        const char* what;
        std::function<bool(const std::string&)> make;  // false: cannot be made here
        bool ends_in_failed;
        const char* reason;
    };
    const stuck_case cases[] = {
        {"named pipe", [](const std::string& p) { return ::mkfifo(p.c_str(), 0666) == 0; }, true,
         " cannot be read - "},
        {"dangling link",
         [](const std::string& p) { return ::symlink("/nonexistent/kelvad", p.c_str()) == 0; },
         true, " cannot be read - "},
        {"undeletable (immutable)",
         [this](const std::string& p) {
             testing::write_file(p, "x");
             return set_immutable(p, true);
         },
         false, " cannot be deleted - "},
    };
    for (const stuck_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string stuck = input + sep + "ONGQR_a.csv";
        if (!c.make(stuck)) {
            std::cout << "[ SKIPPED  ] " << c.what << ": cannot be made on this file system\n";
            ::unlink(stuck.c_str());
            continue;
        }
        // Old enough, also where the entry is a link or a pipe.
        timespec old[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
        ::utimensat(AT_FDCWD, stuck.c_str(), old, AT_SYMLINK_NOFOLLOW);
        const std::string good = drop("b.csv", "x");
        start();
        for (int i = 0; i < 4; ++i) {
            tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(testing::file_exists(good)) << "the file behind was taken";
        EXPECT_TRUE(has_message("Unknown file type: b.csv"));
        const std::string shown = input + sep + sep + "ONGQR_a.csv";
        EXPECT_EQ(count_starting("Error: " + shown + c.reason), 1) << "reported once";
        struct stat st {};
        EXPECT_EQ(::lstat((failed_folder() + sep + "ONGQR_a.csv").c_str(), &st) == 0,
                  c.ends_in_failed);
        set_immutable(stuck, false);
        ::unlink(stuck.c_str());
        testing::remove_tree(failed_folder());
    }
}

TEST_F(hand_off_posix, a_writer_of_another_account_is_waited_for) {
    // The scanner runs as a service account and the measurement system writes as another: the
    // system then cannot tell of a writer, and only a file that has stopped changing is taken.
    const std::string path = input + sep + "ONGQR_w.csv";
    const std::string text = traverse(2, 3, "TRV_W");
    testing::write_file(path, text.substr(0, 40));
    testing::age_file(path, 5);
    start();
    open_sandbox_to_all();
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t scanner = ::fork();
    ASSERT_GE(scanner, 0);
    if (scanner == 0) {
        ::close(go[1]);
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) ::_exit(10);
        // While the writer still writes between the looks, the file is never taken.
        for (int i = 0; i < 3; ++i) {
            tick();
            if (!testing::file_exists(path)) ::_exit(11);
            char c;
            if (::read(go[0], &c, 1) != 1) ::_exit(12);
        }
        // The writer has finished: two looks that see the same file, and it is taken.
        for (int i = 0; i < 4 && testing::file_exists(path); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
            tick();
        }
        ::_exit(testing::file_exists(path) ? 13 : 0);
    }
    ::close(go[0]);
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_GE(fd, 0);
        for (std::size_t at = 40, step = (text.size() - 40) / 3; at < text.size(); at += step) {
            const std::string part = text.substr(at, step);
            ASSERT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ASSERT_EQ(::write(go[1], "g", 1), 1);
        }
        ::close(fd);
    }
    ::close(go[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(scanner, &status, 0), scanner);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "cannot become user nobody here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "11: taken while written, 13: never taken";
    EXPECT_EQ(testing::read_file(measurement_folder("Production", "BE") + sep + "TRV_W.scn").size(),
              24u + 4 * 2 + 12 * 3 + 4 * 2 * 3 * 125);
}

TEST_F(hand_off_posix, full_disks_keep_the_input_and_leave_no_partial_file) {
    struct disk_case {
        const char* what;
        std::string folder;  // the folder that lies on a small disk
        bool scan_written;
        const char* message;
    };
    const disk_case cases[] = {
        {"ORVEL's new folder full", measurement_folder("Production", "BE"), false,
         "Error writing scan file "},
        {"archive full", box.path({"orvel", "archive"}), true, "Error: the archive copy "},
    };
    for (const disk_case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!mount_small_disk(c.folder, "16k")) GTEST_SKIP() << "cannot mount a tmpfs here";
        const std::string text = sample("ONGQR_sample.csv");
        drop("ONGQR_sample.csv", text);
        start();
        tick();
        const std::string scan = measurement_folder("Production", "BE") + sep + "TRV_0001.scn";
        EXPECT_EQ(testing::read_file(failed_folder() + sep + "ONGQR_sample.csv"), text);
        EXPECT_TRUE(has_message_starting(c.message));
        EXPECT_EQ(testing::file_exists(scan), c.scan_written);
        if (c.scan_written) {
            EXPECT_EQ(testing::read_file(scan), sample("TRV_0001.scn"));
        }
        EXPECT_TRUE(testing::files_in(c.folder).empty() || c.scan_written) << "no partial file";
        ::umount2(c.folder.c_str(), MNT_DETACH);

        // The disk has room again: moved back from failed, the file is converted.
        ASSERT_EQ(::rename((failed_folder() + sep + "ONGQR_sample.csv").c_str(),
                           (input + sep + "ONGQR_sample.csv").c_str()),
                  0);
        testing::age_file(input + sep + "ONGQR_sample.csv", 10);
        tick();
        EXPECT_EQ(testing::read_file(scan), sample("TRV_0001.scn"));
        EXPECT_TRUE(input_files().empty());
        testing::remove_tree(failed_folder());
    }
}

}  // namespace
}  // namespace kelvad
