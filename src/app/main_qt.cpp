// The Linux program: Qt Widgets, in a window or headless under the "offscreen" platform.

#include <QApplication>
#include <csignal>

#include "app/program.h"
#include "ui/qt/qt_toolkit.h"

namespace {

extern "C" void close_on_signal(int) {
    kelvad::ui::request_close();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kelvad::ui::qt_toolkit toolkit;
    std::signal(SIGINT, close_on_signal);
    std::signal(SIGTERM, close_on_signal);
    // Headless, nobody reads the window: the log goes to standard output as well.
    return kelvad::run_program(toolkit, kelvad::ui::qt_toolkit::screenless(),
                               [](kelvad::ui::form& window, std::function<void()> on_close) {
                                   return kelvad::ui::run(window, std::move(on_close));
                               });
}
