#include "ui/headless/headless_toolkit.h"

namespace kelvad::ui {

void headless_toolkit::realize(form&) {
    ++realize_calls;
}

void headless_toolkit::form_changed(form&) {
    ++form_changes;
}

void headless_toolkit::message_box(const std::string& text, const std::string& caption) {
    boxes.push_back({text, caption});
    if (while_box_open) {
        const auto during = while_box_open;
        during();
    }
}

bool headless_toolkit::timed_message_box(const std::string& text, const std::string& caption,
                                         int close_after_ms) {
    boxes.push_back({text, caption, close_after_ms});
    if (while_box_open) {
        const auto during = while_box_open;
        during();
    }
    return timed_boxes_close_by_themselves;
}

bool headless_toolkit::ask_yes_no(const std::string& text, const std::string& caption) {
    questions.push_back({text, caption});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void headless_toolkit::set_busy_cursor(bool is_busy) {
    busy = is_busy;
    busy_changes.push_back(is_busy);
}

void headless_toolkit::process_pending_events() {
    ++pending_event_calls;
    if (on_pending_events) {
        const auto callback = on_pending_events;
        callback();
    }
}

void headless_toolkit::form_destroyed(form&) {
    destroyed = true;
}

}  // namespace kelvad::ui
