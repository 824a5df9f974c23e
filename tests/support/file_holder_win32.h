#pragma once
// Windows test helpers: an owned kernel handle, and the file holder program
// (tests/platform/platform_file_holder_win32.cpp) in a process of its own, as a writer on the
// measurement system or a second scanner holds a file.

#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace kelvad::test {

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

// The file holder (platform_file_holder_win32.cpp) in a process of its own, holding `path` in
// the given mode until end() or the end of the test.
class holder_process {
  public:
    // `holder`: the helper program; by default beside the running test program.
    explicit holder_process(const std::string& path, const std::wstring& mode = L"",
                            std::string holder = {}) {
        if (holder.empty()) {
            const std::string program = platform::program_file();
            holder = program.substr(0, program.rfind(platform::path_separator) + 1) +
                     "platform_file_holder.exe";
        }
        if (!platform::file_exists(holder)) return;

        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        scoped_handle child_out_write, child_in_read;
        if (!CreatePipe(out_read_.out(), child_out_write.out(), &inherit, 0) ||
            !CreatePipe(child_in_read.out(), in_write_.out(), &inherit, 0)) {
            return;
        }
        SetHandleInformation(out_read_.get(), HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(in_write_.get(), HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = child_in_read.get();
        startup.hStdOutput = child_out_write.get();
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = L"\"" + platform::to_fs_path(holder).wstring() + L"\" \"" +
                               platform::to_fs_path(path).wstring() + L"\"";
        if (!mode.empty()) command += L" " + mode;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &process)) {
            return;
        }
        *process_.out() = process.hProcess;
        CloseHandle(process.hThread);
        pid_ = process.dwProcessId;
        child_out_write.reset();
        child_in_read.reset();

        char state = 0;
        DWORD got = 0;
        ready_ = ReadFile(out_read_.get(), &state, 1, &got, nullptr) && got == 1 && state == 'y';
    }
    holder_process(const holder_process&) = delete;
    holder_process& operator=(const holder_process&) = delete;
    ~holder_process() { end(); }

    bool ready() const { return ready_; }
    DWORD pid() const { return pid_; }
    // Lets the holder close the file and end; true when it ended within 20 s.
    bool end() {
        in_write_.reset();
        if (!process_.valid()) return false;
        const bool ended = WaitForSingleObject(process_.get(), 20000) == WAIT_OBJECT_0;
        process_.reset();
        return ended;
    }

  private:
    scoped_handle out_read_, in_write_, process_;
    DWORD pid_ = 0;
    bool ready_ = false;
};

}  // namespace kelvad::test
