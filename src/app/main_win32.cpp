// The Windows program: native Win32 controls, GUI subsystem, one statically linked executable.

#include <windows.h>

#include <string>

#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/startup.h"
#include "main_window/kelvad_Unit.h"
#include "ui/win32/win32_toolkit.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    kelvad::ui::win32_toolkit toolkit;

    // The workbook question comes before the window and before the log exists (the start-up
    // makes the log's folder); it is logged once the log is open.
    std::string question;
    kelvad::process_startup([&](const std::string& text, const std::string& caption) {
        question = text;
        return toolkit.ask_yes_no(text, caption);
    });
    kelvad::open_log(kelvad::default_log_path(), false);
    if (!question.empty()) kelvad::log_message_box(question);

    int result = 0;
    {
        kelvad::Tkelvad_main window(toolkit);
        toolkit.realize(window);
        window.run_handler([&] { window.FormCreate(); });
        result = kelvad::ui::run(window, [&] { window.FormDestroy(); });
    }
    kelvad::process_shutdown();
    kelvad::close_log();
    return result;
}
