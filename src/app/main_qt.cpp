// The Linux program: Qt Widgets, in a window or headless under the "offscreen" platform.

#include <QApplication>
#include <csignal>
#include <string>

#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/startup.h"
#include "main_window/kelvad_Unit.h"
#include "ui/qt/qt_toolkit.h"

namespace {

extern "C" void close_on_signal(int) {
    kelvad::ui::request_close();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kelvad::ui::qt_toolkit toolkit;
    const bool headless = kelvad::ui::qt_toolkit::screenless();

    // The workbook question comes before the window and before the log exists (the start-up
    // makes the log's folder); it is logged once the log is open.
    std::string question;
    kelvad::process_startup([&](const std::string& text, const std::string& caption) {
        question = text;
        return toolkit.ask_yes_no(text, caption);
    });
    kelvad::open_log(kelvad::default_log_path(), headless);
    if (!question.empty()) kelvad::log_message_box(question);

    std::signal(SIGINT, close_on_signal);
    std::signal(SIGTERM, close_on_signal);

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
