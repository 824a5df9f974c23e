// The Windows program: native Win32 controls, GUI subsystem, one statically linked executable.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "app/program.h"
#include "ui/win32/utf16.h"
#include "ui/win32/win32_toolkit.h"

namespace {

// The toolkit itself could not be made: the reason in a plain box, which needs no window.
int fail_without_toolkit(const std::string& reason) noexcept {
    const int code = kelvad::fail_program(nullptr, reason, false);
    try {
        MessageBoxW(nullptr, kelvad::ui::win32::to_utf16(reason).c_str(), L"Kelvad",
                    MB_OK | MB_ICONERROR);
    } catch (...) {
    }
    return code;
}

// The program's arguments after its own name, as UTF-8.
std::vector<std::string> arguments() {
    std::vector<std::string> result;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) return result;
    for (int i = 1; i < count; ++i) result.push_back(kelvad::ui::win32::to_utf8(words[i]));
    LocalFree(words);
    return result;
}

bool writes_somewhere(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Writes the text to a console as UTF-16 (any name shows as it is), or to a file or pipe as
// UTF-8 with CR LF line ends.
bool write_text(HANDLE handle, std::string text) {
    std::string crlf;
    for (const char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = kelvad::ui::win32::to_utf16(crlf);
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }
    DWORD written = 0;
    return WriteFile(handle, crlf.data(), static_cast<DWORD>(crlf.size()), &written, nullptr) !=
               0 &&
           written == crlf.size();
}

// A program of the GUI subsystem has no console of its own: its answer goes to the standard
// output it was given (a file, a pipe), else into the console it was started from, else into a
// box.
void deliver(const kelvad::command_answer& answer) {
    if (const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        writes_somewhere(out) && write_text(out, answer.text))
        return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        // The console's prompt came back when the program started: the answer begins on a
        // line of its own.
        const bool written = writes_somewhere(console) && write_text(console, "\n" + answer.text);
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        FreeConsole();
        if (written) return;
    }
    MessageBoxW(nullptr, kelvad::ui::win32::to_utf16(answer.text).c_str(), L"Kelvad",
                MB_OK | (answer.exit_code == 0 ? MB_ICONINFORMATION : MB_ICONWARNING));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        const kelvad::program_command command = kelvad::command_of(arguments());
        if (command != kelvad::program_command::run) {
            const kelvad::command_answer answer = kelvad::answer(command);
            deliver(answer);
            return answer.exit_code;
        }
        kelvad::ui::win32_toolkit toolkit;
        return kelvad::run_program(toolkit, false,
                                   [](kelvad::ui::form& window, std::function<void()> on_close) {
                                       return kelvad::ui::run(window, std::move(on_close));
                                   });
    } catch (const std::exception& e) {
        return fail_without_toolkit(e.what());
    } catch (...) {
        return fail_without_toolkit("Unknown error");
    }
}
