// Windows implementation of the platform services. Texts are UTF-8 up to the system call and
// become UTF-16 there.

#include "platform/civil_days.h"
#include "platform/platform.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <utility>

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

}  // namespace

std::vector<directory_entry> find_entries(const std::string& pattern) {
    std::vector<directory_entry> entries;
    WIN32_FIND_DATAW data{};
    unique_find find(FindFirstFileExW(widen(pattern).c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, 0));
    if (!find.valid()) return entries;
    do {
        entries.push_back({narrow(data.cFileName), data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

plain_file_count count_plain_files(const std::string& pattern) {
    plain_file_count result;
    WIN32_FIND_DATAW data{};
    // Large fetches cut the round trips to a transfer folder on a file server.
    unique_find find(FindFirstFileExW(widen(pattern).c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) return result;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (result.count == 0) result.first_name = narrow(data.cFileName);
        ++result.count;
    } while (FindNextFileW(find.get(), &data));
    return result;
}

bool file_exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool folder_exists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool create_folder(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool rename_no_replace(const std::string& from, const std::string& to) {
    return MoveFileW(widen(from).c_str(), widen(to).c_str()) != 0;
}

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool copy_file_replace(const std::string& from, const std::string& to) {
    return CopyFileW(widen(from).c_str(), widen(to).c_str(), FALSE) != 0;
}

bool delete_file(const std::string& path) {
    return DeleteFileW(widen(path).c_str()) != 0;
}

// Windows refuses the rename of a file that another process holds open without delete
// sharing; that refusal is the test, so there is nothing to ask here.
bool is_held_open_elsewhere(const std::string&) {
    return false;
}

std::optional<std::string> read_file_bytes(const std::string& path) {
    const unique_file file(CreateFileW(widen(path).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
    if (static_cast<std::uint64_t>(size.QuadPart) > std::string().max_size()) return std::nullopt;

    // The writer may still append; the size at opening is what is taken.
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - filled, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + filled, chunk, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) break;
        filled += got;
    }
    bytes.resize(filled);
    return bytes;
}

bool write_file_bytes(const std::string& path, std::string_view bytes) {
    unique_file file(CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return file.close();
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
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    FILETIME local{};
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local)) return std::nullopt;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime);
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
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace kelvad::platform
