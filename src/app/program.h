#pragma once
// The program's life, the same on every toolkit: the process start-up (its workbook question
// in the toolkit's Yes/No box, before the window exists), the log, the one window from its
// start-up to its shutdown, and the process shut-down.

#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/startup.h"
#include "foundation/text.h"
#include "main_window/kelvad_Unit.h"

namespace kelvad {

// How long the box with the reason the program cannot go on stays up: nobody may be there
// to press OK, and the process must end so that whatever watches it can see it gone.
inline constexpr int failure_box_close_after_ms = 60000;

// The exit code of a program that could not go on.
inline constexpr int failure_exit_code = 1;

// Writes the reason the program cannot go on to the log and to standard error. The failure
// may come before the log was opened (or after it was closed): the log is opened for it, in
// the per-user folder that the start-up would have made.
inline void log_failure(const std::string& reason, bool echo_log) noexcept {
    try {
        // The failure may come before anything was made, the per-user folder included.
        ensure_folder(user_app_data_folder());
        ensure_folder(join_path(user_app_data_folder(), program_base_name()));
        open_log(default_log_path(), echo_log);  // appends; reopens an open log
        log_error(reason);
    } catch (...) {
        // Standard error below is all that is left.
    }
    std::fprintf(stderr, "Kelvad: %s\n", reason.c_str());
    std::fflush(stderr);
}

// The end of a program that could not go on: logged, shown in the toolkit's box where the
// system can show one (closing by itself), the process shut down, exit code 1.
inline int fail_program(ui::toolkit* toolkit, const std::string& reason, bool echo_log) noexcept {
    log_failure(reason, echo_log);
    if (toolkit != nullptr) {
        try {
            toolkit->timed_message_box(reason, program_base_name(), failure_box_close_after_ms);
        } catch (...) {
            // No box then; the log has the reason.
        }
    }
    try {
        process_shutdown();
        close_log();
    } catch (...) {
    }
    return failure_exit_code;
}

// `run_window` shows the window, runs the toolkit's loop and calls its second argument once
// when the window closes. Whatever escapes the start-up, the window's creation or the loop
// ends the program through fail_program: nothing leaves as an exception.
template <typename RunWindow>
int run_program(ui::toolkit& toolkit, bool echo_log, RunWindow run_window) noexcept {
    try {
        // The question comes before the log exists (the start-up makes the log's folder); it
        // is logged once the log is open.
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
    } catch (const std::exception& e) {
        return fail_program(&toolkit, e.what(), echo_log);
    } catch (...) {
        return fail_program(&toolkit, "Unknown error", echo_log);
    }
}

}  // namespace kelvad
