// The Windows program: native Win32 controls, GUI subsystem, one statically linked executable.

#include <windows.h>

#include <exception>
#include <string>

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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
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
