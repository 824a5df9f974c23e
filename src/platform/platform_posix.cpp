// POSIX (Linux) implementation of the platform services.

#include "platform/civil_days.h"
#include "platform/layer_state.h"
#include "platform/platform.h"
#include "platform/utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <utility>

namespace kelvad::platform {

namespace {

// Owns one file descriptor; closes it when it goes out of scope.
class unique_fd {
  public:
    unique_fd() noexcept = default;
    explicit unique_fd(int fd) noexcept : fd_(fd) {}
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~unique_fd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes now and tells whether the close succeeded: on some file systems a failed write
    // shows only here.
    bool close() noexcept {
        if (fd_ < 0) return false;
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

struct dir_closer {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using unique_dir = std::unique_ptr<DIR, dir_closer>;

// strerror_r comes in two forms: glibc's gives the text, the XSI one fills the buffer.
[[maybe_unused]] const char* error_text_of(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* error_text_of(int, const char* buffer) {
    return buffer;
}

bool failed_with(int error) {
    char buffer[256] = {};
    const char* text = error_text_of(::strerror_r(error, buffer, sizeof buffer), buffer);
    return detail::failed(error, text, error == EEXIST || error == ENOTEMPTY,
                          error == EBUSY || error == ETXTBSY);
}

// Records errno as it is now; call before anything else may change it.
bool failed_errno() {
    return failed_with(errno);
}

// For a path that is there but is no plain file.
bool failed_not_plain(const struct stat& st) {
    return failed_with(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
}

unique_fd open_fd(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return unique_fd(fd);
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies everything from `from` to `to`; errno tells why when it fails.
bool copy_all(int from, int to) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        if (!write_all(to, buffer, static_cast<std::size_t>(got))) return false;
    }
}

// fsync, or the fault seam's "disk full" in its place; errno tells why when it fails.
bool flush_fd(int fd) {
    if (detail::fault_due(fault::step::flush)) {
        errno = ENOSPC;
        return false;
    }
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::int64_t nanoseconds_of(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec;
}

// A file this call creates: it exists only under a name that nothing else had, and it is
// removed again unless finish() got its content safely to the disk.
class new_file {
  public:
    // Never follows a link and never takes an existing name (EEXIST, recorded).
    explicit new_file(const std::string& path)
        : path_(path), fd_(open_fd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666)) {
        if (!fd_.valid()) {
            failed_errno();
            return;
        }
        struct stat st {};
        if (::fstat(fd_.get(), &st) == 0) {
            device_ = st.st_dev;
            inode_ = st.st_ino;
        }
        pending_ = true;
    }
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;
    ~new_file() { remove(); }

    bool created() const { return pending_; }
    int fd() const { return fd_.get(); }

    // Closes without a flush (the caller flushes later); on failure as finish().
    bool close() {
        if (!fd_.close()) return abandon(errno);
        pending_ = false;
        return true;
    }
    // Flushes and closes; on failure the file is removed and the cause recorded.
    bool finish() {
        if (!flush_fd(fd_.get())) return abandon(errno);
        if (!fd_.close()) return abandon(errno);
        pending_ = false;
        return true;
    }
    // Removes the file and records `error`; always false.
    bool abandon(int error) {
        remove();
        return failed_with(error);
    }

  private:
    // Only while the name still refers to the file created here: if someone replaced it in
    // the meantime, their file stays.
    void remove() noexcept {
        fd_.reset();
        if (!pending_) return;
        pending_ = false;
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
            ::unlink(path_.c_str());
        }
    }

    std::string path_;
    unique_fd fd_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool pending_ = false;
};

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "*" matches any run of characters (none included), "?" exactly one; letters A-Z match
// their lower-case forms. Other bytes, UTF-8 sequences included, must be equal.
bool mask_matches(std::string_view mask, std::string_view name) {
    std::size_t m = 0, n = 0;
    std::size_t star = std::string_view::npos, star_name = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            star = m++;
            star_name = n;
        } else if (m < mask.size() &&
                   (mask[m] == '?' || ascii_lower(mask[m]) == ascii_lower(name[n]))) {
            ++m;
            ++n;
        } else if (star != std::string_view::npos) {
            m = star + 1;
            n = ++star_name;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

// As on Windows, a mask ending in ".*" also matches names without any extension, so "*.*"
// matches every name.
bool windows_mask_matches(std::string_view mask, std::string_view name) {
    if (mask_matches(mask, name)) return true;
    return mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
           name.find('.') == std::string_view::npos &&
           mask_matches(mask.substr(0, mask.size() - 2), name);
}

// The entry itself, or what a link points to; a dangling link is the link itself. False when
// neither can be read (the entry went away meanwhile).
bool stat_entry(int dir_fd, const char* name, struct stat& st) {
    return ::fstatat(dir_fd, name, &st, 0) == 0 ||
           ::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::uint32_t attributes_of(int dir_fd, const char* name) {
    struct stat st {};
    if (!stat_entry(dir_fd, name, st)) return 0;
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= attribute::directory;
    if (S_ISREG(st.st_mode)) attributes |= attribute::archive;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= attribute::read_only;
    const std::string_view n(name);
    if (n.size() > 0 && n[0] == '.' && n != "." && n != "..") attributes |= attribute::hidden;
    return attributes;
}

// The local wall-clock reading of `seconds` since the epoch, as milliseconds since 1970-01-01
// 00:00 of that same wall clock.
std::optional<std::int64_t> local_ms_of(std::time_t seconds) {
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    const std::int64_t days = civil_days::days_from_civil(std::int64_t{local.tm_year} + 1900,
                                                          static_cast<unsigned>(local.tm_mon + 1),
                                                          static_cast<unsigned>(local.tm_mday));
    return ((days * 24 + local.tm_hour) * 60 + local.tm_min) * 60000 +
           std::int64_t{local.tm_sec} * 1000;
}

// Windows-1252 at 0x80-0x9F; the five unassigned positions map to the C1 controls of the same
// value, as Windows does. Every other byte is its own code point.
constexpr char32_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t invalid_code_point = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at `pos` and advances past it; a malformed sequence (overlong,
// surrogate, beyond U+10FFFF, cut short) gives invalid_code_point and advances one byte.
char32_t next_code_point(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length;
    char32_t c;
    char32_t minimum;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++pos;
        return invalid_code_point;
    }
    if (pos + length > text.size()) {
        ++pos;
        return invalid_code_point;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if ((byte & 0xC0) != 0x80) {
            ++pos;
            return invalid_code_point;
        }
        c = (c << 6) | (byte & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return invalid_code_point;
    }
    pos += length;
    return c;
}

char cp1252_byte_of(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < std::size(cp1252_high); ++i) {
        if (cp1252_high[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Whether an entry is a folder, as attributes_of would tell, but without asking the file
// system where the directory already gives the entry's type.
bool is_folder_entry(int dir_fd, const dirent& entry) {
#ifdef _DIRENT_HAVE_D_TYPE
    switch (entry.d_type) {
        case DT_DIR:
            return true;
        case DT_LNK:      // a link counts as what it points to
        case DT_UNKNOWN:  // the file system does not tell
            break;
        default:
            return false;
    }
#endif
    struct stat st {};
    return stat_entry(dir_fd, entry.d_name, st) && S_ISDIR(st.st_mode);
}

// The folder and the mask of a search pattern; no folder part means the working folder.
struct search_pattern {
    std::string folder;
    std::string_view mask;
};

search_pattern split_pattern(const std::string& pattern) {
    const std::size_t slash = pattern.rfind('/');
    if (slash == std::string::npos) return {".", pattern};
    return {slash == 0 ? std::string("/") : pattern.substr(0, slash),
            std::string_view(pattern).substr(slash + 1)};
}

// Calls `visit` with the name of every entry that matches the pattern and is no folder, in the
// directory's order.
template <typename Visit>
void for_each_plain_file(const std::string& pattern, Visit&& visit) {
    const auto [folder, mask] = split_pattern(pattern);
    if (mask.empty()) return;

    unique_dir dir(::opendir(folder.c_str()));
    if (!dir) return;
    const int dir_fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!windows_mask_matches(mask, entry->d_name)) continue;
        if (is_folder_entry(dir_fd, *entry)) continue;
        visit(std::string_view(entry->d_name));
    }
}

}  // namespace

std::vector<directory_entry> find_entries(const std::string& pattern) {
    std::vector<directory_entry> entries;
    const auto [folder, mask] = split_pattern(pattern);
    if (mask.empty()) return entries;

    unique_dir dir(::opendir(folder.c_str()));
    if (!dir) return entries;
    const int dir_fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!windows_mask_matches(mask, entry->d_name)) continue;
        entries.push_back({entry->d_name, attributes_of(dir_fd, entry->d_name)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const directory_entry& a, const directory_entry& b) { return a.name < b.name; });
    return entries;
}

plain_file_count count_plain_files(const std::string& pattern) {
    plain_file_count result;
    for_each_plain_file(pattern, [&](std::string_view name) {
        // The smallest name is the first in ascending byte order; no list needs sorting.
        if (result.count == 0 || name < result.first_name) result.first_name.assign(name);
        ++result.count;
    });
    return result;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folder_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool create_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return failed_errno();
}

bool rename_no_replace(const std::string& from, const std::string& to) {
    if (detail::fault_due(fault::step::rename)) return failed_with(ENOSPC);
#ifdef SYS_renameat2
    constexpr unsigned rename_noreplace = 1;  // RENAME_NOREPLACE
    if (::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), rename_noreplace) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return failed_errno();
#endif
    // The file system cannot rename without replacing: a hard link fails on an existing
    // target, so link and unlink together give the same guarantee for plain files.
    if (::link(from.c_str(), to.c_str()) != 0) return failed_errno();
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return failed_with(error);
    }
    return true;
}

bool replace_file(const std::string& from, const std::string& to) {
    if (detail::fault_due(fault::step::rename)) return failed_with(ENOSPC);
    // rename() takes a link at the target as the name to replace; it never writes through it.
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    return failed_errno();
}

bool copy_file_replace(const std::string& from, const std::string& to) {
    const unique_fd source = open_fd(from, O_RDONLY | O_NONBLOCK);
    if (!source.valid()) return failed_errno();
    struct stat source_stat {};
    if (::fstat(source.get(), &source_stat) != 0) return failed_errno();
    if (!S_ISREG(source_stat.st_mode)) return failed_not_plain(source_stat);

    // Opened without truncation first: copying a file onto itself would otherwise empty it.
    unique_fd target = open_fd(to, O_WRONLY | O_CREAT, 0666);
    if (!target.valid()) return failed_errno();
    struct stat target_stat {};
    if (::fstat(target.get(), &target_stat) != 0) return failed_errno();
    if (target_stat.st_dev == source_stat.st_dev && target_stat.st_ino == source_stat.st_ino) {
        return failed_with(EINVAL);
    }
    if (::ftruncate(target.get(), 0) != 0) return failed_errno();
    if (!copy_all(source.get(), target.get())) return failed_errno();
    if (!target.close()) return failed_errno();
    return true;
}

bool delete_file(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    return failed_errno();
}

writer_check writer_state(const std::string& path) {
    // Non-blocking, so that a lease held by someone else makes the open fail at once instead
    // of waiting for the lease to be broken.
    const unique_fd fd = open_fd(path, O_RDONLY | O_NONBLOCK);
    if (!fd.valid()) {
        if (errno == EWOULDBLOCK) return writer_check::writer;
        failed_errno();
        return writer_check::unknown;
    }
    // A write lease is granted only while no other descriptor refers to the file.
    if (::fcntl(fd.get(), F_SETLEASE, F_WRLCK) == 0) {
        ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return writer_check::none;
    }
    if (errno == EAGAIN) return writer_check::writer;
    // EACCES (a file of another account), EINVAL (no leases on this file system), ENOSYS.
    failed_errno();
    return writer_check::unknown;
}

std::optional<file_stamp> stamp_of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        failed_errno();
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        failed_with(EISDIR);
        return std::nullopt;
    }
    return file_stamp{static_cast<std::uint64_t>(st.st_size), nanoseconds_of(st.st_mtim)};
}

std::int64_t utc_now_ns() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds_of(now);
}

namespace {
bool write_whole_new_file(const std::string& path, std::string_view bytes, bool flush) {
    new_file file(path);
    if (!file.created()) return false;
    if (detail::fault_due(fault::step::write)) return file.abandon(ENOSPC);
    if (!write_all(file.fd(), bytes.data(), bytes.size())) return file.abandon(errno);
    return flush ? file.finish() : file.close();
}
}  // namespace

bool write_new_file_durable(const std::string& path, std::string_view bytes) {
    return write_whole_new_file(path, bytes, true);
}

bool write_new_file(const std::string& path, std::string_view bytes) {
    return write_whole_new_file(path, bytes, false);
}

bool flush_files(const std::vector<std::string>& paths) {
    if (detail::fault_due(fault::step::flush)) return failed_with(ENOSPC);
    // Files by the file system they lie on: a syncfs writes all of one file system's data in
    // one journal commit, where an fsync of each would commit once per file.
    std::vector<std::pair<dev_t, std::vector<const std::string*>>> systems;
    for (const std::string& path : paths) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return failed_errno();
        auto found = std::find_if(systems.begin(), systems.end(),
                                  [&](const auto& s) { return s.first == st.st_dev; });
        if (found == systems.end()) found = systems.insert(systems.end(), {st.st_dev, {}});
        found->second.push_back(&path);
    }
    for (const auto& [device, files] : systems) {
        const unique_fd fd = open_fd(*files.front(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
        if (!fd.valid()) return failed_errno();
        const int result = files.size() == 1 ? ::fsync(fd.get()) : ::syncfs(fd.get());
        if (result != 0) return failed_errno();
    }
    return true;
}

bool overwrite_file_durable(const std::string& path, std::string_view bytes) {
    // O_NOFOLLOW: a link put in the file's place must not redirect the write elsewhere.
    unique_fd fd = open_fd(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW);
    if (!fd.valid()) return failed_errno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return failed_errno();
    if (!S_ISREG(st.st_mode)) return failed_not_plain(st);
    // Before the truncation, so that an injected fault leaves the old content in place.
    if (detail::fault_due(fault::step::write)) return failed_with(ENOSPC);
    if (::ftruncate(fd.get(), 0) != 0) return failed_errno();
    if (!write_all(fd.get(), bytes.data(), bytes.size())) return failed_errno();
    if (!flush_fd(fd.get())) return failed_errno();
    if (!fd.close()) return failed_errno();
    return true;
}

bool flush_folder(const std::string& folder) {
    const unique_fd fd = open_fd(folder, O_RDONLY | O_DIRECTORY);
    if (!fd.valid()) return failed_errno();
    if (flush_fd(fd.get())) return true;
    // Some file systems cannot flush a folder and say so with EINVAL; their entries are as
    // durable as they get.
    if (errno == EINVAL) return true;
    return failed_errno();
}

folder_lock folder_lock::try_take(const std::string& lock_file_path) {
    folder_lock lock;
    lock.path_ = lock_file_path;
    unique_fd fd = open_fd(lock_file_path, O_RDWR | O_CREAT, 0666);
    if (!fd.valid()) {
        failed_errno();
        return lock;
    }
    int result = -1;
#ifdef F_OFD_SETLK
    // A lock of the open file description, not of the process: two locks in one process
    // conflict, and closing some other descriptor of the file does not drop it.
    struct flock whole_file {};
    whole_file.l_type = F_WRLCK;
    whole_file.l_whence = SEEK_SET;
    whole_file.l_start = 0;
    whole_file.l_len = 0;
    result = ::fcntl(fd.get(), F_OFD_SETLK, &whole_file);
    if (result != 0 && errno == EINVAL) result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
#else
    result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
#endif
    if (result != 0) {
        const int error = errno;
        failed_with(error);
        lock.state_ = (error == EAGAIN || error == EACCES || error == EWOULDBLOCK)
                          ? state::held_elsewhere
                          : state::failed;
        return lock;
    }
    lock.handle_ = fd.release();
    lock.state_ = state::held;
    return lock;
}

folder_lock::folder_lock(folder_lock&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      state_(std::exchange(other.state_, state::failed)),
      path_(std::move(other.path_)) {}

folder_lock& folder_lock::operator=(folder_lock&& other) noexcept {
    if (this != &other) {
        if (handle_ >= 0) ::close(static_cast<int>(handle_));
        handle_ = std::exchange(other.handle_, -1);
        state_ = std::exchange(other.state_, state::failed);
        path_ = std::move(other.path_);
    }
    return *this;
}

folder_lock::~folder_lock() {
    // Closing the only descriptor of the open file description releases its lock.
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::uint32_t process_id() {
    return static_cast<std::uint32_t>(::getpid());
}

void keep_freed_memory_for_reuse() {
#ifdef M_TRIM_THRESHOLD
    // Also fixes the size from which a block gets its own mapping at the allocator's default
    // (128 KB), which the trim threshold would otherwise let grow with the blocks seen.
    ::mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

footprint process_footprint() {
    footprint result;
    // /proc/self/statm: total and resident size in pages, then further counts. Its size shows
    // as 0, so it is read until its end.
    if (const unique_fd fd = open_fd("/proc/self/statm", O_RDONLY); fd.valid()) {
        char text[256] = {};
        std::size_t filled = 0;
        while (filled + 1 < sizeof text) {
            const ssize_t got = ::read(fd.get(), text + filled, sizeof text - 1 - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            filled += static_cast<std::size_t>(got);
        }
        unsigned long long total = 0, resident = 0;
        const long page = ::sysconf(_SC_PAGESIZE);
        if (std::sscanf(text, "%llu %llu", &total, &resident) == 2 && page > 0)
            result.resident_bytes = resident * static_cast<std::uint64_t>(page);
    }
    // One entry per open descriptor, the listing's own one left out.
    if (unique_dir dir(::opendir("/proc/self/fd")); dir) {
        const int own = ::dirfd(dir.get());
        std::uint32_t count = 0;
        while (const dirent* entry = ::readdir(dir.get())) {
            if (entry->d_name[0] == '.') continue;
            if (std::atoi(entry->d_name) == own) continue;
            ++count;
        }
        result.handles = count;
    }
    return result;
}

bool process_running(std::uint32_t pid) {
    // 0 and values beyond pid_t would address process groups, not one process.
    if (pid == 0 || pid > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
        return false;
    }
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool name_fits(const std::string& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        return false;
    }
    constexpr std::size_t common_name_max = 255;
    constexpr std::size_t path_max = 4096;  // PATH_MAX, the terminating zero included
    const long answered = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t name_max =
        answered > 0 ? static_cast<std::size_t>(answered) : common_name_max;
    return name.size() <= name_max && folder.size() + 1 + name.size() < path_max;
}

std::vector<std::string> list_plain_files(const std::string& pattern) {
    std::vector<std::string> names;
    for_each_plain_file(pattern, [&](std::string_view name) { names.emplace_back(name); });
    std::sort(names.begin(), names.end());
    return names;
}

// The smallest name first: a heap of indices, made in linear time, gives each next name in a
// logarithmic step instead of sorting the whole folder.
file_listing::file_listing(const std::string& pattern) {
    for_each_plain_file(pattern, [&](std::string_view name) { names_.emplace_back(name); });
    pending_.resize(names_.size());
    for (std::uint32_t i = 0; i < pending_.size(); ++i) pending_[i] = i;
    std::make_heap(pending_.begin(), pending_.end(),
                   [this](std::uint32_t a, std::uint32_t b) { return names_[b] < names_[a]; });
}

bool file_listing::next(std::string& name) {
    if (pending_.empty()) return false;
    std::pop_heap(pending_.begin(), pending_.end(),
                  [this](std::uint32_t a, std::uint32_t b) { return names_[b] < names_[a]; });
    name = names_[pending_.back()];
    pending_.pop_back();
    return true;
}

bool folder_listable(const std::string& folder) {
    unique_dir dir(::opendir(folder.c_str()));
    if (!dir) return failed_errno();
    errno = 0;
    if (::readdir(dir.get()) == nullptr && errno != 0) return failed_errno();
    return true;
}

std::optional<std::string> read_file_bytes(const std::string& path) {
    const unique_fd fd = open_fd(path, O_RDONLY | O_NONBLOCK);
    if (!fd.valid()) {
        failed_errno();
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        failed_errno();
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        failed_not_plain(st);
        return std::nullopt;
    }

    // The file may grow while it is read (its writer shares it); the size at opening is what
    // is taken.
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            failed_errno();
            return std::nullopt;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

bool write_file_bytes(const std::string& path, std::string_view bytes) {
    unique_fd fd = open_fd(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (!fd.valid()) return failed_errno();
    if (!write_all(fd.get(), bytes.data(), bytes.size())) return failed_errno();
    if (!fd.close()) return failed_errno();
    return true;
}

std::int64_t local_now_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t seconds_ms =
        local_ms_of(now.tv_sec).value_or(std::int64_t{now.tv_sec} * 1000);
    return seconds_ms + now.tv_nsec / 1000000;
}

std::optional<std::int64_t> file_write_time_local_ms(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    const std::optional<std::int64_t> local = local_ms_of(st.st_mtime);
    if (!local) return std::nullopt;
    // DOS time keeps even seconds only; the floor also holds before 1970.
    constexpr std::int64_t two_seconds = 2000;
    const std::int64_t remainder = ((*local % two_seconds) + two_seconds) % two_seconds;
    return *local - remainder;
}

std::string program_file() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string program_base_name_of(const std::string& file_name) {
    return file_name;
}

std::string roaming_app_data_folder() {
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] != '\0') return data_home;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share";
    return {};
}

std::string create_system_temp_file() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = (tmpdir != nullptr && tmpdir[0] != '\0') ? tmpdir : "/tmp";
    if (path.back() != '/') path += '/';
    path += "scoXXXXXX";
    const unique_fd fd(::mkstemp(path.data()));
    if (!fd.valid()) return {};
    return path;
}

std::uint64_t random_seed() {
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::string ansi_to_utf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    const char* const end = bytes.data() + bytes.size();
    const char* p = bytes.data();
    while (p < end) {
        // ASCII is the same in both: runs of it are taken whole.
        const char* const run =
            p + utf8::ascii_run_length(std::string_view(p, static_cast<std::size_t>(end - p)));
        text.append(p, run);
        if (run == end) break;
        const auto b = static_cast<unsigned char>(*run);
        utf8::append(text, b < 0xA0 ? cp1252_high[b - 0x80] : char32_t{b});
        p = run + 1;
    }
    return text;
}

std::string utf8_to_ansi(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = next_code_point(text, pos);
        bytes += c == invalid_code_point ? '?' : cp1252_byte_of(c);
    }
    return bytes;
}

std::filesystem::path to_fs_path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace kelvad::platform
