#pragma once
// The form on native Win32 windows: STATIC, EDIT and BUTTON children of one top-level window,
// WM_TIMER timers and MessageBoxW boxes.

#include <windows.h>

#include <functional>
#include <memory>

#include "ui/form.h"

namespace kelvad::ui {

class win32_toolkit : public toolkit {
  public:
    win32_toolkit();
    ~win32_toolkit() override;

    // Creates the window hidden (run() shows it); throws std::runtime_error when the system
    // cannot create it (no display).
    void realize(form& window) override;
    void form_changed(form& window) override;
    void message_box(const std::string& text, const std::string& caption) override;
    // A MessageBoxW that its own thread closes with IDOK when the time is up.
    bool timed_message_box(const std::string& text, const std::string& caption,
                           int close_after_ms) override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void set_busy_cursor(bool busy) override;
    void process_pending_events() override;
    void form_destroyed(form& window) override;

    // The top-level window of the realised form; null before realize and after it closed.
    HWND window() const;
    // The native window that shows a control; null for timers and before realize.
    static HWND native_window(const control& c);

    struct impl;

  private:
    std::unique_ptr<impl> impl_;
    friend int run(form& window, std::function<void()> on_close);
};

// Shows the realised window (realising it first where needed), runs the message loop until
// the window is closed (WM_CLOSE) and calls on_close exactly once, before returning, through
// the form's handler boundary. A close that arrives while a handler runs waits until the
// handler ends. At the end of the session (WM_ENDSESSION) on_close runs at once, as the
// process ends right after.
int run(form& window, std::function<void()> on_close);

// Asks the running window to close as the operator would (posts WM_CLOSE; any thread may
// call it). Called before the window runs, the window closes as soon as it runs.
void request_close() noexcept;

}  // namespace kelvad::ui
