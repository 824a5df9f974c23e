#pragma once
// A toolkit without a screen, for tests and benchmarks: no window is created, message boxes
// are recorded (a box that closes by itself with its time) and answered OK, questions are
// answered from a queue, and timers tick only when the caller fires them (form::fire).

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/form.h"

namespace kelvad::ui {

class headless_toolkit : public toolkit {
  public:
    struct box {
        std::string text;
        std::string caption;
        int close_after_ms = 0;  // 0: a box that waits for OK
        bool operator==(const box&) const = default;
    };

    void realize(form& window) override;
    void form_changed(form& window) override;
    void message_box(const std::string& text, const std::string& caption) override;
    bool timed_message_box(const std::string& text, const std::string& caption,
                           int close_after_ms) override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    void set_busy_cursor(bool busy) override;
    void process_pending_events() override;
    void form_destroyed(form& window) override;

    // Message boxes shown, in order; questions asked, in order.
    std::vector<box> boxes;
    std::vector<box> questions;
    // Answers to the coming questions, front first; No when empty.
    std::deque<bool> answers;
    // Runs while a message box is open, as the modal loop of a real box lets events through
    // (a test can fire a timer "during" a box).
    std::function<void()> while_box_open;
    // A box that closes by itself reports that it did (as if nobody had pressed OK in time);
    // otherwise it counts as closed by the operator.
    bool timed_boxes_close_by_themselves = false;

    bool busy = false;
    std::vector<bool> busy_changes;  // every call of set_busy_cursor, in order

    int pending_event_calls = 0;
    // Runs at every process_pending_events (a test can click a button "during" an action).
    std::function<void()> on_pending_events;

    int realize_calls = 0;
    int form_changes = 0;
    bool destroyed = false;
};

}  // namespace kelvad::ui
