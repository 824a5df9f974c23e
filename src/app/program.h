#pragma once
// The program's life, the same on every toolkit: the process start-up (its workbook question
// in the toolkit's Yes/No box, before the window exists), the log, the one window from its
// start-up to its shutdown, and the process shut-down.

#include <functional>
#include <string>

#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/startup.h"
#include "main_window/kelvad_Unit.h"

namespace kelvad {

// `run_window` shows the window, runs the toolkit's loop and calls its second argument once
// when the window closes.
template <typename RunWindow>
int run_program(ui::toolkit& toolkit, bool echo_log, RunWindow run_window) {
    // The question comes before the log exists (the start-up makes the log's folder); it is
    // logged once the log is open.
    std::string question;
    process_startup([&](const std::string& text, const std::string& caption) {
        question = text;
        return toolkit.ask_yes_no(text, caption);
    });
    open_log(default_log_path(), echo_log);
    if (!question.empty()) log_message_box(question);

    int result = 0;
    {
        Tkelvad_main window(toolkit);
        toolkit.realize(window);
        window.run_handler([&] { window.FormCreate(); });
        result = run_window(window, std::function<void()>([&] { window.FormDestroy(); }));
    }
    process_shutdown();
    close_log();
    return result;
}

}  // namespace kelvad
