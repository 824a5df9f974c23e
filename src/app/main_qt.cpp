// The Linux program: Qt Widgets, in a window or headless under the "offscreen" platform.

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "ui/qt/qt_toolkit.h"

namespace {

extern "C" void close_on_signal(int) {
    kelvad::ui::request_close();
}

bool set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// The platforms asked for, in the order Qt tries them: the -platform argument, else
// QT_QPA_PLATFORM (a list separated by ';'); empty when none is asked for. A name may carry
// options after a ':'.
std::vector<std::string> requested_platforms(int argc, char** argv) {
    std::string requested;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform") requested = argv[i + 1];
    }
    if (requested.empty() && set("QT_QPA_PLATFORM")) requested = std::getenv("QT_QPA_PLATFORM");
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= requested.size()) {
        std::size_t end = requested.find(';', start);
        if (end == std::string::npos) end = requested.size();
        std::string name = requested.substr(start, end - start);
        name = name.substr(0, name.find(':'));
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    return names;
}

bool needs_a_display(const std::string& platform) {
    return platform == "xcb" || platform.rfind("wayland", 0) == 0;
}

// The reason the window cannot be shown, found before Qt tries: Qt ends the process without
// a word to the log when its screen platform finds no display. Empty when nothing is wrong
// that can be seen beforehand.
std::string missing_display(int argc, char** argv) {
    if (set("DISPLAY") || set("WAYLAND_DISPLAY")) return {};
    const std::vector<std::string> platforms = requested_platforms(argc, argv);
    for (const std::string& platform : platforms) {
        if (!needs_a_display(platform)) return {};  // offscreen, minimal, a frame buffer, ...
    }
    return "The window cannot be shown: no display (neither DISPLAY nor WAYLAND_DISPLAY is "
           "set). Start the program on a desktop, or without a screen with "
           "QT_QPA_PLATFORM=offscreen.";
}

// A display that is named but cannot be reached still makes Qt give up with a fatal message:
// the message reaches the log before the process ends with the program's failure code.
QtMessageHandler qt_default_handler = nullptr;

void fatal_to_log(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        kelvad::log_failure(kelvad::ui::display_line(message.toStdString()), false);
        kelvad::close_log();
        std::_Exit(kelvad::failure_exit_code);
    }
    if (qt_default_handler != nullptr) qt_default_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        // The commands answer on standard output, without a display and without Qt.
        const kelvad::program_command command =
            kelvad::command_of(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
        if (command != kelvad::program_command::run) {
            const kelvad::command_answer answer = kelvad::answer(command);
            std::fputs(answer.text.c_str(), stdout);
            std::fflush(stdout);
            return answer.exit_code;
        }
        if (const std::string reason = missing_display(argc, argv); !reason.empty()) {
            return kelvad::fail_program(nullptr, reason, false);
        }
        qt_default_handler = qInstallMessageHandler(fatal_to_log);
        QApplication application(argc, argv);
        qInstallMessageHandler(qt_default_handler);

        kelvad::ui::qt_toolkit toolkit;
        std::signal(SIGINT, close_on_signal);
        std::signal(SIGTERM, close_on_signal);
        // Headless, nobody reads the window: the log goes to standard output as well.
        return kelvad::run_program(toolkit, kelvad::ui::qt_toolkit::screenless(),
                                   [](kelvad::ui::form& window, std::function<void()> on_close) {
                                       return kelvad::ui::run(window, std::move(on_close));
                                   });
    } catch (const std::exception& e) {
        return kelvad::fail_program(nullptr, e.what(), false);
    } catch (...) {
        return kelvad::fail_program(nullptr, "Unknown error", false);
    }
}
