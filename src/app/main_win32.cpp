// The Windows program: native Win32 controls, GUI subsystem, one statically linked executable.

#include <windows.h>

#include "app/program.h"
#include "ui/win32/win32_toolkit.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kelvad::ui::win32_toolkit toolkit;
    return kelvad::run_program(toolkit, false,
                               [](kelvad::ui::form& window, std::function<void()> on_close) {
                                   return kelvad::ui::run(window, std::move(on_close));
                               });
}
