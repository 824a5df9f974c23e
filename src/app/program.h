#pragma once
// The program's life, the same on every toolkit: the process start-up (its workbook question
// in the toolkit's Yes/No box, before the window exists), the log, the one window from its
// start-up to its shutdown, and the process shut-down; and the two commands that answer
// without a window: --version and --check.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/version.h"
#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/startup.h"
#include "foundation/text.h"
#include "main_window/configuration_check.h"
#include "main_window/kelvad_Unit.h"
#include "platform/platform.h"

namespace kelvad {

// What the command line asks for. Any other argument is left to the toolkit.
enum class program_command { run, version, check };

inline program_command command_of(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--version") return program_command::version;
        if (argument == "--check") return program_command::check;
    }
    return program_command::run;
}

inline std::string version_text() {
    return std::string("Kelvad ") + program_version;
}

// The text a command prints and its exit code. The configuration check reads what a start
// reads and writes nothing: no per-user folder, no log, no configuration file.
struct command_answer {
    std::string text;  // lines, each ended by "\n"
    int exit_code = 0;
};

inline command_answer answer(program_command command) {
    if (command == program_command::version) return {version_text() + "\n", 0};
    std::string text = version_text() + " configuration check\n";
    try {
        const check_report report = check_configuration();
        for (const std::string& line : report.lines) text += line + "\n";
        return {text, report.would_convert() ? 0 : 1};
    } catch (const std::exception& e) {
        return {text + "FAIL  the check itself failed: " + e.what() + "\n", 1};
    }
}

// The first line of the log at every start: which program, and where it looks.
inline std::string start_line() {
    std::string transfer;
    try {
        transfer = configured_transfer_folder();
    } catch (const std::exception& e) {
        transfer = std::string("(unknown: ") + e.what() + ")";
    }
    return version_text() + " started: program " + platform::program_file() +
           ", configuration folder " + program_file_path("") + ", per-user folder " +
           join_path(user_app_data_folder(), program_base_name()) + ", transfer folder " + transfer;
}

// The interval of the health line: KELVAD_HEALTH_INTERVAL_S seconds (a benchmark samples the
// program's footprint every few seconds), else one hour.
inline std::uint32_t health_interval_ms() {
    const char* value = std::getenv("KELVAD_HEALTH_INTERVAL_S");
    const std::optional<std::int32_t> seconds =
        value != nullptr ? parse_whole_number(value) : std::nullopt;
    if (!seconds || *seconds < 1) return default_health_interval_s * 1000;
    // A timer interval in milliseconds stays within 31 bits on every toolkit.
    return static_cast<std::uint32_t>(std::min<std::int64_t>(*seconds * 1000ll, 0x7FFFFFFF));
}

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
        platform::keep_freed_memory_for_reuse();
        open_log(default_log_path(), echo_log);
        log_line(start_line());
        if (!question.empty()) log_message_box(question);

        int result = 0;
        {
            Tkelvad_main window(toolkit);
            window.health_timer.set_interval(health_interval_ms());
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
