// A file held open by a writer is not free. On POSIX a rename cannot see the writer; the
// write lease that the platform asks for can, where the file system grants leases.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "foundation/file_utils.h"
#include "foundation/test_support.h"

namespace kelvad {
namespace {

// Empty when the file system grants write leases on the file, else the reason it does not.
std::string lease_refusal(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return std::strerror(errno);
    std::string why;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else {
        why = std::strerror(errno);
    }
    ::close(fd);
    return why;
}

// A child process that opens the file for writing and keeps it open until it is killed.
class child_writer {
  public:
    explicit child_writer(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
            const char state = fd >= 0 ? 'y' : 'n';
            (void)!::write(ready[1], &state, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char state = 'n';
        if (pid_ > 0 && ::read(ready[0], &state, 1) == 1 && state == 'y') holding_ = true;
        ::close(ready[0]);
    }
    child_writer(const child_writer&) = delete;
    child_writer& operator=(const child_writer&) = delete;
    ~child_writer() { stop(); }
    bool holding() const { return holding_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST(IsFileFreePosix, FileHeldOpenForWritingIsNotFree) {
    test::scratch_folder folder;
    const std::string file = folder / "ONGQR_1.csv";
    test::write_file(file, "half written");
    if (const auto why = lease_refusal(file); !why.empty())
        GTEST_SKIP() << "the file system grants no write lease here: " << why;

    {
        child_writer writer(file);
        ASSERT_TRUE(writer.holding());
        EXPECT_FALSE(is_file_free(file));
        EXPECT_EQ(folder.names(), std::vector<std::string>{"ONGQR_1.csv"});
        EXPECT_EQ(test::read_file(file), "half written");
        writer.stop();
        EXPECT_TRUE(is_file_free(file)) << "free again once the writer is gone";
    }
    {
        std::ofstream own(file, std::ios::app);  // the program's own writer counts as well
        ASSERT_TRUE(own.is_open());
        EXPECT_FALSE(is_file_free(file));
    }
    EXPECT_TRUE(is_file_free(file));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"ONGQR_1.csv"});
    EXPECT_EQ(test::read_file(file), "half written");
}

}  // namespace
}  // namespace kelvad
