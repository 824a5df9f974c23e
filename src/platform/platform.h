#pragma once
// The operating-system services that the scanner needs, behind one set of free functions.
// platform_win32.cpp and platform_posix.cpp implement them; CMake picks one. Nothing outside
// src/platform, src/ui and src/app includes an OS header.
//
// All texts are UTF-8. Paths use `path_separator` throughout.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad::platform {

#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

// Attribute bits as the directory search reports them (the Windows values on both systems).
namespace attribute {
inline constexpr std::uint32_t read_only = 0x1;
inline constexpr std::uint32_t hidden = 0x2;
inline constexpr std::uint32_t system = 0x4;
inline constexpr std::uint32_t volume_id = 0x8;
inline constexpr std::uint32_t directory = 0x10;
inline constexpr std::uint32_t archive = 0x20;
}  // namespace attribute

struct directory_entry {
    std::string name;  // without folder part
    std::uint32_t attributes = 0;
};

// Directory search for `pattern` (a folder part followed by a mask with "*" and "?"), every
// attribute admitted. Windows: the file system's order. POSIX: the mask matched without regard
// to ASCII case, entries in ascending byte order of their names. As on Windows, "." and ".."
// are reported (as folders) when the mask matches them. A failing search (missing folder, no
// access) gives no entries.
std::vector<directory_entry> find_entries(const std::string& pattern);

// What the folder scans of the result cycle need from the same search, at a fraction of its
// cost in a crowded transfer folder: how many entries are not folders, and the name of the
// first of them in the order of find_entries (empty when there is none). No list is built and
// no attribute is read but "folder or not"; POSIX asks the file system about an entry only
// when the directory does not tell its type (links, file systems without entry types).
struct plain_file_count {
    std::size_t count = 0;
    std::string first_name;  // without folder part
};
plain_file_count count_plain_files(const std::string& pattern);

bool file_exists(const std::string& path);    // a plain file (not a folder)
bool folder_exists(const std::string& path);  // a folder
bool create_folder(const std::string& path);  // one level; false when it fails or exists
// Renames never follow a link at the target: a link there is the name that is taken or
// replaced. Windows writes both through (MOVEFILE_WRITE_THROUGH).
bool rename_no_replace(const std::string& from, const std::string& to);
bool replace_file(const std::string& from, const std::string& to);  // rename over an existing
bool copy_file_replace(const std::string& from, const std::string& to);
bool delete_file(const std::string& path);

// Whether some process holds the file open for writing, as far as the system can tell.
//   Windows: an open for reading that denies write sharing fails with a sharing violation
//            while any writer has it open, whatever sharing mode that writer chose; network
//            drives answer `unknown`.
//   POSIX:   a write lease (F_SETLEASE) is granted only while nobody else has the file open;
//            EAGAIN means a writer. Where the lease cannot decide (EACCES for a file of
//            another account without CAP_LEASE, EINVAL on file systems without leases such
//            as NFS or CIFS) the answer is `unknown`.
// With `unknown` the caller must fall back on the file's size and time staying unchanged.
enum class writer_check { none, writer, unknown };
writer_check writer_state(const std::string& path);

// Size and exact last-write time of a plain file (not following a final link: a dangling link
// has a stamp too). Time in nanoseconds since 1970-01-01 UTC.
struct file_stamp {
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    bool operator==(const file_stamp&) const = default;
};
std::optional<file_stamp> stamp_of(const std::string& path);
std::int64_t utc_now_ns();

// ---- Durable writes: data on the disk before a name points at it.
// Each of these fails (false) and leaves nothing behind when any step fails; last_error()
// then tells why.

// Creates `path` anew (fails when anything is there, a link included: a link is never
// followed), writes every byte, flushes the file to the disk (fsync / FlushFileBuffers) and
// closes it.
bool write_new_file_durable(const std::string& path, std::string_view bytes);
// The same without the flush: for outputs flushed together with others by flush_files.
bool write_new_file(const std::string& path, std::string_view bytes);
// Flushes the data of several files to the disk in one step, so that the outputs of a whole
// tick cost one flush instead of one each. POSIX: one syncfs per file system the files lie on
// (fsync where only one file lies there); Windows: FlushFileBuffers on each.
bool flush_files(const std::vector<std::string>& paths);
// Rewrites an existing file in place (truncated, written, flushed): for a file whose folder
// admits no new file.
bool overwrite_file_durable(const std::string& path, std::string_view bytes);
// Flushes a folder's entries to the disk after a rename or a delete in it (POSIX: fsync of
// the folder; Windows: renames are written through, so nothing is left to do).
bool flush_folder(const std::string& folder);

// Why the last failing call of this layer failed (on this thread).
struct os_error {
    int code = 0;             // errno or GetLastError()
    std::string text;         // the system's text for it
    bool name_taken = false;  // the target name exists (EEXIST, ERROR_ALREADY_EXISTS, ...)
    bool in_use = false;      // another process holds the file (ERROR_SHARING_VIOLATION,
                              // ERROR_LOCK_VIOLATION, EBUSY, ETXTBSY)
};
os_error last_error();

// Test seam for faults that no real file system shows on demand: the n-th next call (1 = the
// next) of the step fails as if the disk were full. `write` covers write_new_file(_durable) and
// overwrite_file_durable, `flush` the flush inside those, flush_files and flush_folder, `rename`
// rename_no_replace and replace_file.
namespace fault {
enum class step { write, flush, rename };
void inject(step s, int nth = 1);
void clear();
}  // namespace fault

// ---- One scanner per transfer folder.
// An exclusive OS lock on a lock file (POSIX: an open-file-description lock, F_OFD_SETLK,
// falling back to flock; Windows: the file opened without any sharing). The system releases
// it when the process ends, however it ends. The file is created when missing and never
// deleted.
class folder_lock {
  public:
    enum class state { held, held_elsewhere, failed };
    folder_lock() = default;
    static folder_lock try_take(const std::string& lock_file_path);
    folder_lock(folder_lock&& other) noexcept;
    folder_lock& operator=(folder_lock&& other) noexcept;
    folder_lock(const folder_lock&) = delete;
    folder_lock& operator=(const folder_lock&) = delete;
    ~folder_lock();  // releases the lock

    state status() const { return state_; }
    bool held() const { return state_ == state::held; }
    const std::string& path() const { return path_; }

  private:
    std::intptr_t handle_ = -1;  // file descriptor or HANDLE
    state state_ = state::failed;
    std::string path_;
};

std::uint32_t process_id();

// What the running process holds of the system, for watching a program that runs for months.
// Figures the system does not give stay absent.
struct footprint {
    std::optional<std::uint64_t> resident_bytes;  // working set / resident set
    std::optional<std::uint32_t> handles;         // kernel handles / open file descriptors
    std::optional<std::uint32_t> gdi_objects;     // Windows only
    std::optional<std::uint32_t> user_objects;    // Windows only
};
footprint process_footprint();
// The import claims and frees the same few megabytes every second (a tick's outputs are held
// until they are flushed together). Handing them back to the system at each tick costs a page
// fault per page when they are claimed again; this keeps up to 16 MB of freed memory for reuse.
// Where the allocator keeps freed memory anyway (Windows), nothing is changed.
void keep_freed_memory_for_reuse();
// True when a process of that id runs on this machine.
bool process_running(std::uint32_t pid);

// True when a file `name` (one component) can exist in `folder` within the system's limits:
// a component of at most 255 units (POSIX: bytes, Windows: UTF-16 units) and a whole path
// within what the system admits (POSIX: PATH_MAX; Windows: 32,767 with long-path forms).
bool name_fits(const std::string& folder, const std::string& name);

// The names of the entries that match `pattern` and are not folders, in the order of
// find_entries.
std::vector<std::string> list_plain_files(const std::string& pattern);

// The plain files of a folder that match a mask, listed once and handed out one at a time in
// the order of find_entries. Only what is handed out is put in order, so that taking the first
// few files of a backlog of a hundred thousand costs one listing and little more.
class file_listing {
  public:
    explicit file_listing(const std::string& pattern);
    std::size_t size() const { return names_.size(); }
    // Every name, in no particular order.
    const std::vector<std::string>& names() const { return names_; }
    // The next name in order; false when all have been handed out.
    bool next(std::string& name);

  private:
    std::vector<std::string> names_;
    std::vector<std::uint32_t> pending_;  // indices into names_ not handed out yet
};

// True when the folder's entries can be listed (it exists and this account may read it);
// last_error() tells why not.
bool folder_listable(const std::string& folder);

// Whole-file access in binary. Reading shares the file with other readers and writers.
std::optional<std::string> read_file_bytes(const std::string& path);
// Creates or truncates the file; true only when every byte was written and the file closed.
bool write_file_bytes(const std::string& path, std::string_view bytes);

// Local wall-clock time, in milliseconds since 1970-01-01 00:00 local time.
std::int64_t local_now_ms();
// The last-write time of a file in local time, truncated to even seconds (DOS resolution).
std::optional<std::int64_t> file_write_time_local_ms(const std::string& path);

std::string program_file();  // full path of the running program
// Program base name of a program file name (without folder): Windows drops the last four
// characters (".exe"); POSIX executables carry no extension, so the name stays whole.
std::string program_base_name_of(const std::string& file_name);
std::string roaming_app_data_folder();  // empty when the system has none for the user
// Creates a new empty file with the prefix "sco" in the system temporary folder; its full path,
// or empty when that fails.
std::string create_system_temp_file();
std::uint64_t random_seed();

// The system's 8-bit code page (Windows: the ANSI code page; elsewhere Windows-1252).
std::string ansi_to_utf8(std::string_view bytes);
std::string utf8_to_ansi(std::string_view text);  // unmappable characters become "?"

// A path for the standard library's file streams (wide on Windows, so any name works).
// Windows: every call of this layer gives a path beyond 259 characters in its long form
// ("\\?\C:\...", "\\?\UNC\server\share\...").
std::filesystem::path to_fs_path(const std::string& path);

}  // namespace kelvad::platform
