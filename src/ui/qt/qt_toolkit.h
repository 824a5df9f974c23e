#pragma once
// The form on Qt Widgets: one top-level widget with absolutely placed child widgets, QTimer
// timers and QMessageBox boxes. A QApplication must exist before the toolkit is used.
//
// Every native widget and QTimer carries its control's name as object name.
//
// Under a platform without a screen ("offscreen", "minimal") nobody can answer a box: boxes
// are not shown (the form has logged their text already), a box counts as OK (answered at
// once, not closed by itself) and a question as No.

#include <functional>
#include <memory>

#include "ui/form.h"

class QWidget;

namespace kelvad::ui {

class qt_toolkit : public toolkit {
  public:
    qt_toolkit();
    ~qt_toolkit() override;

    void realize(form& window) override;
    void form_changed(form& window) override;
    void message_box(const std::string& text, const std::string& caption) override;
    bool timed_message_box(const std::string& text, const std::string& caption,
                           int close_after_ms) override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void set_busy_cursor(bool busy) override;
    void process_pending_events() override;
    void form_destroyed(form& window) override;

    // The top-level widget of the realised form; null before realize.
    QWidget* window() const;
    // True on a platform without a screen: boxes are answered without being shown.
    static bool screenless();

  private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

// Shows the realised window (realising it first where needed), runs the event loop until the
// window is closed and calls on_close exactly once, before returning, through the form's
// handler boundary. A close that arrives while a handler runs waits until the handler ends.
int run(form& window, std::function<void()> on_close);

// Asks the running window to close as if the operator had closed it. Only stores an atomic
// flag, so it may be called from a POSIX signal handler; run() looks at the flag every 100 ms.
void request_close() noexcept;

}  // namespace kelvad::ui
