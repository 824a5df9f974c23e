// Windows implementation of the platform services. Texts are UTF-8 up to the system call and
// become UTF-16 there.

#include "platform/civil_days.h"
#include "platform/layer_state.h"
#include "platform/platform.h"
#include "platform/utf8.h"

#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvad::platform {

namespace {

// Owns one kernel handle; `Close` is the function that releases it, `Invalid` the value that
// means "none".
template <typename Handle, BOOL(WINAPI* Close)(Handle), Handle Invalid() noexcept>
class unique_handle {
  public:
    unique_handle() noexcept = default;
    explicit unique_handle(Handle handle) noexcept : handle_(handle) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept
        : handle_(std::exchange(other.handle_, Invalid())) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Invalid());
        }
        return *this;
    }
    ~unique_handle() { reset(); }

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != Invalid() && handle_ != nullptr; }
    void reset() noexcept {
        if (valid()) Close(handle_);
        handle_ = Invalid();
    }
    // Closes now and tells whether the close succeeded (buffered data is flushed here).
    bool close() noexcept {
        if (!valid()) return false;
        return Close(std::exchange(handle_, Invalid())) != 0;
    }

  private:
    Handle handle_ = Invalid();
};

inline HANDLE invalid_handle() noexcept {
    return INVALID_HANDLE_VALUE;
}
using unique_file = unique_handle<HANDLE, CloseHandle, invalid_handle>;
using unique_find = unique_handle<HANDLE, FindClose, invalid_handle>;

std::wstring widen(std::string_view text, UINT code_page = CP_UTF8) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view wide, UINT code_page = CP_UTF8, DWORD flags = 0,
                   const char* default_char = nullptr) {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, default_char, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), size, text.data(), length, default_char,
                        nullptr);
    return text;
}

// FILETIME counts 100 ns since 1601-01-01.
constexpr std::int64_t filetime_ticks_1601_to_1970 = 116444736000000000;

std::int64_t ticks_of(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

std::int64_t utc_ns_of(const FILETIME& time) {
    return (ticks_of(time) - filetime_ticks_1601_to_1970) * 100;
}

bool failed_with(DWORD error) {
    wchar_t text[512] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, static_cast<DWORD>(std::size(text)), nullptr);
    return detail::failed(static_cast<int>(error), narrow(std::wstring_view(text, length)),
                          error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS,
                          error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
}

// Records GetLastError() as it is now; call before anything else may change it.
bool failed_last() {
    return failed_with(GetLastError());
}

constexpr wchar_t long_prefix[] = L"\\\\?\\";
constexpr wchar_t long_unc_prefix[] = L"\\\\?\\UNC\\";
constexpr wchar_t device_prefix[] = L"\\\\.\\";

bool is_drive_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "X:\..." or "\\server\share\...": a path that names its volume itself.
bool is_full_path(std::wstring_view path) {
    if (path.size() >= 3 && is_drive_letter(path[0]) && path[1] == L':' && path[2] == L'\\') {
        return true;
    }
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
}

// A "." or ".." component, or an empty one inside the path: the long form takes every
// component literally, so such a path must be resolved first.
bool needs_resolving(std::wstring_view path) {
    const std::size_t start = path.starts_with(L"\\\\") ? 2 : 0;
    for (std::size_t begin = start; begin <= path.size();) {
        std::size_t end = path.find(L'\\', begin);
        if (end == std::wstring_view::npos) end = path.size();
        const std::wstring_view component = path.substr(begin, end - begin);
        if (component == L"." || component == L"..") return true;
        if (component.empty() && end != path.size()) return true;
        begin = end + 1;
    }
    return false;
}

std::wstring full_path_of(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return full;
}

// The path that every file call of this layer hands to the system. From MAX_PATH characters
// on, the classic form fails, so such a path goes in its long form ("\\?\X:\...",
// "\\?\UNC\server\share\..."), which the system takes literally: it is made absolute and
// freed of "." and ".." first. Shorter paths stay as they are.
std::wstring sys_path(const std::string& path) {
    constexpr std::size_t long_from = MAX_PATH;
    std::wstring wide = widen(path);
    if (wide.size() < long_from) return wide;
    if (wide.starts_with(long_prefix) || wide.starts_with(device_prefix)) return wide;
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (!is_full_path(wide) || needs_resolving(wide)) {
        wide = full_path_of(wide);
        if (wide.size() < long_from || !is_full_path(wide) || needs_resolving(wide)) return wide;
    }
    if (wide[0] == L'\\') return long_unc_prefix + wide.substr(2);
    return long_prefix + wide;
}

// Whether the file lies on a network drive, where sharing violations are not reported
// reliably.
bool on_network_drive(const std::wstring& sys) {
    std::wstring full = sys.starts_with(long_prefix) ? sys : full_path_of(sys);
    if (full.starts_with(long_unc_prefix)) return true;
    if (full.starts_with(long_prefix)) full.erase(0, std::size(long_prefix) - 1);
    if (full.starts_with(L"\\\\")) return true;
    if (full.size() < 2 || !is_drive_letter(full[0]) || full[1] != L':') return false;
    const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

// Writes everything; GetLastError() tells why when it fails.
bool write_all(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// FlushFileBuffers, or the fault seam's "disk full" in its place.
bool flush_file(HANDLE file) {
    if (detail::fault_due(fault::step::flush)) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return FlushFileBuffers(file) != 0;
}

// A file this call creates under a name that nothing else had; it is deleted again unless
// finish() got its content safely to the disk. Others may read it meanwhile, but neither
// write nor rename it.
class new_file {
  public:
    explicit new_file(const std::string& path)
        : path_(sys_path(path)),
          file_(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
        if (file_.valid()) {
            pending_ = true;
        } else {
            failed_last();
        }
    }
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;
    ~new_file() { remove(); }

    bool created() const { return pending_; }
    HANDLE handle() const { return file_.get(); }

    // Closes without a flush (the caller flushes later).
    bool close() {
        if (!file_.close()) return abandon(GetLastError());
        pending_ = false;
        return true;
    }
    bool finish() {
        if (!flush_file(file_.get())) return abandon(GetLastError());
        if (!file_.close()) return abandon(GetLastError());
        pending_ = false;
        return true;
    }
    // Deletes the file and records `error`; always false.
    bool abandon(DWORD error) {
        remove();
        return failed_with(error);
    }

  private:
    void remove() noexcept {
        file_.reset();
        if (!pending_) return;
        pending_ = false;
        DeleteFileW(path_.c_str());
    }

    std::wstring path_;
    unique_file file_;
    bool pending_ = false;
};

// Calls `visit` with every entry of the search that is no folder, in the file system's order.
template <typename Visit>
void for_each_plain_file(const std::string& pattern, Visit&& visit) {
    WIN32_FIND_DATAW data{};
    // Large fetches cut the round trips to a transfer folder on a file server.
    unique_find find(FindFirstFileExW(sys_path(pattern).c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        visit(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
}

}  // namespace

std::vector<directory_entry> find_entries(const std::string& pattern) {
    std::vector<directory_entry> entries;
    WIN32_FIND_DATAW data{};
    unique_find find(FindFirstFileExW(sys_path(pattern).c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, 0));
    if (!find.valid()) return entries;
    do {
        entries.push_back({narrow(data.cFileName), data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

plain_file_count count_plain_files(const std::string& pattern) {
    plain_file_count result;
    for_each_plain_file(pattern, [&](const wchar_t* name) {
        if (result.count == 0) result.first_name = narrow(name);
        ++result.count;
    });
    return result;
}

std::vector<std::string> list_plain_files(const std::string& pattern) {
    std::vector<std::string> names;
    for_each_plain_file(pattern, [&](const wchar_t* name) { names.push_back(narrow(name)); });
    return names;
}

// The file system's own order is the listing order: nothing to sort.
file_listing::file_listing(const std::string& pattern) {
    for_each_plain_file(pattern, [&](const wchar_t* name) { names_.push_back(narrow(name)); });
    pending_.reserve(names_.size());
    for (std::uint32_t i = static_cast<std::uint32_t>(names_.size()); i > 0; --i)
        pending_.push_back(i - 1);
}

bool file_listing::next(std::string& name) {
    if (pending_.empty()) return false;
    name = names_[pending_.back()];
    pending_.pop_back();
    return true;
}

bool folder_listable(const std::string& folder) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != path_separator) pattern += path_separator;
    pattern += '*';
    WIN32_FIND_DATAW data{};
    const unique_find find(FindFirstFileExW(sys_path(pattern).c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0));
    // An empty folder still lists "." (a drive's root may list nothing at all).
    if (!find.valid() && GetLastError() != ERROR_FILE_NOT_FOUND) return failed_last();
    return true;
}

bool file_exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(sys_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folder_exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(sys_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool create_folder(const std::string& path) {
    if (CreateDirectoryW(sys_path(path).c_str(), nullptr)) return true;
    return failed_last();
}

bool rename_no_replace(const std::string& from, const std::string& to) {
    if (detail::fault_due(fault::step::rename)) return failed_with(ERROR_DISK_FULL);
    if (MoveFileExW(sys_path(from).c_str(), sys_path(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    return failed_last();
}

bool replace_file(const std::string& from, const std::string& to) {
    if (detail::fault_due(fault::step::rename)) return failed_with(ERROR_DISK_FULL);
    if (MoveFileExW(sys_path(from).c_str(), sys_path(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    return failed_last();
}

bool copy_file_replace(const std::string& from, const std::string& to) {
    if (CopyFileW(sys_path(from).c_str(), sys_path(to).c_str(), FALSE)) return true;
    return failed_last();
}

bool delete_file(const std::string& path) {
    if (DeleteFileW(sys_path(path).c_str())) return true;
    return failed_last();
}

writer_check writer_state(const std::string& path) {
    const std::wstring sys = sys_path(path);
    if (on_network_drive(sys)) return writer_check::unknown;
    // Denying write sharing conflicts with every open handle that may write, whatever
    // sharing its owner granted.
    const unique_file file(CreateFileW(sys.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return writer_check::none;
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return writer_check::writer;
    }
    failed_with(error);
    return writer_check::unknown;
}

std::optional<file_stamp> stamp_of(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(sys_path(path).c_str(), GetFileExInfoStandard, &data)) {
        failed_last();
        return std::nullopt;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        failed_with(ERROR_DIRECTORY);
        return std::nullopt;
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return file_stamp{size, utc_ns_of(data.ftLastWriteTime)};
}

std::int64_t utc_now_ns() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return utc_ns_of(now);
}

namespace {
bool write_whole_new_file(const std::string& path, std::string_view bytes, bool flush) {
    new_file file(path);
    if (!file.created()) return false;
    if (detail::fault_due(fault::step::write)) return file.abandon(ERROR_DISK_FULL);
    if (!write_all(file.handle(), bytes.data(), bytes.size())) return file.abandon(GetLastError());
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
    if (detail::fault_due(fault::step::flush)) return failed_with(ERROR_DISK_FULL);
    // Windows has no flush of a whole volume for a program without administrator rights:
    // each file is flushed, the link followed never (the temporary names are our own files).
    for (const std::string& path : paths) {
        unique_file file(CreateFileW(
            sys_path(path).c_str(), GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid()) return failed_last();
        if (!FlushFileBuffers(file.get())) return failed_last();
    }
    return true;
}

bool overwrite_file_durable(const std::string& path, std::string_view bytes) {
    // The link itself is opened, not what it points to, and then refused: a link put in the
    // file's place must not redirect the write elsewhere.
    unique_file file(CreateFileW(sys_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return failed_last();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) return failed_last();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return failed_with(ERROR_CANT_ACCESS_FILE);
    }
    // Before the truncation, so that an injected fault leaves the old content in place.
    if (detail::fault_due(fault::step::write)) return failed_with(ERROR_DISK_FULL);
    if (!SetEndOfFile(file.get())) return failed_last();  // the file pointer is at 0
    if (!write_all(file.get(), bytes.data(), bytes.size())) return failed_last();
    if (!flush_file(file.get())) return failed_last();
    if (!file.close()) return failed_last();
    return true;
}

bool flush_folder(const std::string&) {
    // Renames and deletes of this layer are written through; the seam still applies, so that
    // callers see the same failures on both systems.
    if (detail::fault_due(fault::step::flush)) return failed_with(ERROR_DISK_FULL);
    return true;
}

folder_lock folder_lock::try_take(const std::string& lock_file_path) {
    folder_lock lock;
    lock.path_ = lock_file_path;
    // No sharing at all: any second open of the file, by whatever process, fails.
    const HANDLE file = CreateFileW(sys_path(lock_file_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failed_with(error);
        lock.state_ = error == ERROR_SHARING_VIOLATION ? state::held_elsewhere : state::failed;
        return lock;
    }
    lock.handle_ = reinterpret_cast<std::intptr_t>(file);
    lock.state_ = state::held;
    return lock;
}

namespace {
void close_lock(std::intptr_t handle) {
    if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
}
}  // namespace

folder_lock::folder_lock(folder_lock&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      state_(std::exchange(other.state_, state::failed)),
      path_(std::move(other.path_)) {}

folder_lock& folder_lock::operator=(folder_lock&& other) noexcept {
    if (this != &other) {
        close_lock(handle_);
        handle_ = std::exchange(other.handle_, -1);
        state_ = std::exchange(other.state_, state::failed);
        path_ = std::move(other.path_);
    }
    return *this;
}

folder_lock::~folder_lock() {
    close_lock(handle_);
}

std::uint32_t process_id() {
    return GetCurrentProcessId();
}

namespace {

// The handles of this process in the system's table of all handles. Costly (the table of every
// process), so only where the process's own count is not kept: Wine answers that one with 0.
std::optional<std::uint32_t> handles_in_system_table() {
    struct entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX
        void* object;
        ULONG_PTR process_id;
        ULONG_PTR handle_value;
        ULONG granted_access;
        USHORT creator_back_trace_index;
        USHORT object_type_index;
        ULONG handle_attributes;
        ULONG reserved;
    };
    struct table {  // SYSTEM_HANDLE_INFORMATION_EX
        ULONG_PTR count;
        ULONG_PTR reserved;
        entry entries[1];
    };
    using query_function = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG system_extended_handle_information = 64;
    constexpr LONG info_length_mismatch = static_cast<LONG>(0xC0000004);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return std::nullopt;
    const auto query = reinterpret_cast<query_function>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr) return std::nullopt;
    std::vector<unsigned char> buffer(64 * 1024);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(system_extended_handle_information, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == info_length_mismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status < 0) return std::nullopt;
        const auto* handles = reinterpret_cast<const table*>(buffer.data());
        const std::size_t fit = (buffer.size() - offsetof(table, entries)) / sizeof(entry);
        const ULONG_PTR self = GetCurrentProcessId();
        std::uint32_t count = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(handles->count, fit); ++i)
            if (handles->entries[i].process_id == self) ++count;
        return count;
    }
    return std::nullopt;
}

}  // namespace

void keep_freed_memory_for_reuse() {}

footprint process_footprint() {
    footprint result;
    const HANDLE self = GetCurrentProcess();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(self, &counters, sizeof counters))
        result.resident_bytes = counters.WorkingSetSize;
    DWORD handles = 0;
    if (GetProcessHandleCount(self, &handles)) result.handles = handles;
    // A running process always holds some handles: 0 means the count is not kept.
    if (handles == 0) result.handles = handles_in_system_table();
    // Windows stops a process's windows at 10,000 of either kind: a slow leak shows here first.
    result.gdi_objects = GetGuiResources(self, GR_GDIOBJECTS);
    result.user_objects = GetGuiResources(self, GR_USEROBJECTS);
    return result;
}

bool process_running(std::uint32_t pid) {
    const unique_file process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    // A process that denies even this much exists all the same.
    if (!process.valid()) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    return GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

bool name_fits(const std::string& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("\\/\0", 3)) != std::string::npos) {
        return false;
    }
    constexpr std::size_t name_max = 255;
    constexpr std::size_t path_max = 32767 - 4;  // the long form's "\\?\" included
    const std::size_t name_units = widen(name).size();
    return name_units <= name_max && widen(folder).size() + 1 + name_units <= path_max;
}

std::optional<std::string> read_file_bytes(const std::string& path) {
    const unique_file file(CreateFileW(sys_path(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        failed_last();
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
        failed_last();
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > std::string().max_size()) {
        failed_with(ERROR_NOT_ENOUGH_MEMORY);
        return std::nullopt;
    }

    // The writer may still append; the size at opening is what is taken.
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + filled, chunk, &got, nullptr)) {
            failed_last();
            return std::nullopt;
        }
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

bool write_file_bytes(const std::string& path, std::string_view bytes) {
    unique_file file(CreateFileW(sys_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failed_last();
    if (!write_all(file.get(), bytes.data(), bytes.size())) return failed_last();
    if (!file.close()) return failed_last();
    return true;
}

std::int64_t local_now_ms() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::int64_t days = civil_days::days_from_civil(now.wYear, now.wMonth, now.wDay);
    return (((days * 24 + now.wHour) * 60 + now.wMinute) * 60 + now.wSecond) * 1000 +
           now.wMilliseconds;
}

std::optional<std::int64_t> file_write_time_local_ms(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(sys_path(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return std::nullopt;
    const std::int64_t ticks = ticks_of(local);
    // Ticks of 100 ns; DOS time keeps even seconds only (rounded down, also before 1970).
    constexpr std::int64_t two_seconds = 20000000;
    const std::int64_t since_1970 = ticks - filetime_ticks_1601_to_1970;
    const std::int64_t remainder = ((since_1970 % two_seconds) + two_seconds) % two_seconds;
    return (since_1970 - remainder) / 10000;
}

std::string program_file() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string program_base_name_of(const std::string& file_name) {
    return file_name.size() >= 4 ? file_name.substr(0, file_name.size() - 4) : std::string();
}

std::string roaming_app_data_folder() {
    wchar_t folder[MAX_PATH + 1] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) {
        return {};
    }
    return narrow(folder);
}

std::string create_system_temp_file() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return {};
    wchar_t file[MAX_PATH + 1] = {};
    if (GetTempFileNameW(folder, L"sco", 0, file) == 0) return {};
    return narrow(file);
}

std::uint64_t random_seed() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart);
}

std::string ansi_to_utf8(std::string_view bytes) {
    // Every ANSI code page keeps ASCII as it is: a text of ASCII alone needs no round trip
    // through UTF-16 (two passes and a copy of 100 KB a result file).
    if (utf8::ascii_run_length(bytes) == bytes.size()) return std::string(bytes);
    return narrow(widen(bytes, CP_ACP));
}

std::string utf8_to_ansi(std::string_view text) {
    // Malformed UTF-8 becomes U+FFFD, which no 8-bit code page holds, so it ends as "?".
    // No best-fit guesses ("Ł" as "L"): a character the code page lacks becomes "?".
    const std::wstring wide = widen(text);
    if (wide.empty()) return {};
    std::string bytes = narrow(wide, CP_ACP, WC_NO_BEST_FIT_CHARS, "?");
    // Code pages such as UTF-8 admit neither flags nor a default character.
    if (bytes.empty()) bytes = narrow(wide, CP_ACP);
    return bytes;
}

std::filesystem::path to_fs_path(const std::string& path) {
    return std::filesystem::path(sys_path(path));
}

}  // namespace kelvad::platform
