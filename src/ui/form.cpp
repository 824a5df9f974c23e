#include "ui/form.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <string>

#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/sprachen.h"

namespace kelvad::ui {
namespace {

// The form whose toolkit serves the foundations' box and cursor (the program has one window;
// of several, the newest serves).
form* foundation_host = nullptr;

}  // namespace

// ---- control ----

control::control(form& owner, control_kind kind, std::string name)
    : owner_(owner), kind_(kind), name_(std::move(name)) {
    owner_.register_control(*this);
}

control::~control() {
    peer_.reset();  // the native widget goes before the control it shows
    owner_.unregister_control(*this);
}

void control::set_text(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    notify();
}

void control::set_visible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    notify();
}

void control::set_enabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    notify();
}

void control::set_colour(font_colour colour) {
    if (colour == colour_) return;
    colour_ = colour;
    notify();
}

void control::set_peer(std::unique_ptr<control_peer> peer) {
    peer_ = std::move(peer);
}

void control::notify() const {
    if (peer_) peer_->update();
}

void check_box::set_checked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    notify();
}

void timer::set_interval(std::uint32_t ms) {
    if (ms == interval_ms_) return;
    interval_ms_ = ms;
    notify();
}

// ---- text_list ----

std::string display_line(std::string_view line) {
    std::string shown(line);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return shown;
}

text_list::text_list(form& owner, std::string name)
    : control(owner, control_kind::text_list, std::move(name)),
      log_lines(this->name() == message_board_name),
      most_lines(this->name() == message_board_name ? message_board_most_lines : 0) {}

void text_list::add(std::string line) {
    if (log_lines) log_line(line);
    append(std::move(line));
}

void text_list::append(std::string line) {
    // The oldest lines make room first, so that the native list never holds more than the
    // model allows.
    if (most_lines > 0) {
        while (lines_.size() >= most_lines) delete_first();
    }
    lines_.push_back(std::move(line));
    if (peer()) peer()->line_appended(lines_.back());
}

void text_list::add_lines(std::vector<std::string> lines) {
    if (lines.empty()) return;
    if (log_lines) log_line_group(lines);
    // Only the lines the list will still hold reach the native list.
    std::size_t skipped = 0;
    if (most_lines > 0 && lines.size() > most_lines) skipped = lines.size() - most_lines;
    const std::size_t added = lines.size() - skipped;
    std::size_t removed = 0;
    if (most_lines > 0) {
        while (lines_.size() + added > most_lines && !lines_.empty()) {
            lines_.pop_front();
            ++removed;
        }
    }
    lines_.insert(lines_.end(),
                  std::make_move_iterator(lines.begin() + static_cast<std::ptrdiff_t>(skipped)),
                  std::make_move_iterator(lines.end()));
    if (peer()) peer()->lines_appended(lines_, added, removed);
}

void text_list::delete_first() {
    if (lines_.empty()) return;
    lines_.pop_front();
    if (peer()) peer()->first_line_removed();
}

void text_list::set_lines(std::vector<std::string> lines) {
    const std::size_t skipped =
        most_lines > 0 && lines.size() > most_lines ? lines.size() - most_lines : 0;
    lines_.assign(std::make_move_iterator(lines.begin() + static_cast<std::ptrdiff_t>(skipped)),
                  std::make_move_iterator(lines.end()));
    if (peer()) peer()->lines_reset();
}

// ---- form ----

form::form(toolkit& tk) : tk_(tk) {
    foundation_host = this;
    set_message_box_handler([this](const std::string& text) { show_message(text); });
    set_busy_cursor_handler([this](bool busy) { set_busy_cursor(busy); });
}

form::~form() {
    if (foundation_host == this) {
        foundation_host = nullptr;
        set_message_box_handler(nullptr);
        set_busy_cursor_handler(nullptr);
    }
    tk_.form_destroyed(*this);
}

void form::set_caption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    tk_.form_changed(*this);
}

void form::set_client_size(int width, int height) {
    if (width == client_width_ && height == client_height_) return;
    client_width_ = width;
    client_height_ = height;
    tk_.form_changed(*this);
}

void form::set_focus(control& c) {
    focused_ = &c;
    tk_.form_changed(*this);
}

control* form::find(std::string_view name) const {
    const auto it = std::find_if(controls_.begin(), controls_.end(),
                                 [&](const control* c) { return c->name() == name; });
    return it == controls_.end() ? nullptr : *it;
}

void form::register_control(control& c) {
    controls_.push_back(&c);
}

void form::unregister_control(control& c) {
    std::erase(controls_, &c);
    if (focused_ == &c) focused_ = nullptr;
}

void form::show_message(const std::string& text) {
    log_message_box(text);
    tk_.message_box(text, caption_);
}

void form::show_file_message(const std::string& text) {
    log_message_box(text);
    if (tk_.timed_message_box(text, caption_, file_message_close_after_ms)) {
        log_line("message box closed by itself after " +
                 std::to_string(file_message_close_after_ms / 1000) + " s: " + text);
    }
}

bool form::ask_yes_no(const std::string& text, const std::string& caption) {
    log_message_box(text);
    return tk_.ask_yes_no(text, caption);
}

void form::show_error(const std::string& text) {
    log_error(text);
    if (error_display_open_) {
        // A modal box lets timer ticks through; a second box for each of them would pile up
        // boxes faster than the operator can close them.
        control* board = find(message_board_name);
        if (board != nullptr && board->kind() == control_kind::text_list) {
            static_cast<text_list*>(board)->append(error_line(text));
        }
        return;
    }
    error_display_open_ = true;
    struct reset_open {
        bool& open;
        ~reset_open() { open = false; }
    } reset{error_display_open_};
    tk_.message_box(text, caption_);
}

void form::run_handler(const std::function<void()>& handler) noexcept {
    ++handler_depth_;
    try {
        try {
            handler();
        } catch (const std::exception& e) {
            show_error(e.what());
        } catch (...) {
            show_error("Unknown error");
        }
    } catch (...) {
        // The error display itself failed (no memory, a broken toolkit): the log is all that
        // is left, and the toolkit must not see an exception.
        try {
            log_error("the error display failed");
        } catch (...) {
        }
    }
    --handler_depth_;
}

void form::click(button& b) {
    if (!b.enabled() || !b.on_click) return;
    // A copy: the handler may replace on_click while it runs.
    const std::function<void()> handler = b.on_click;
    run_handler(handler);
}

void form::fire(timer& t) {
    if (!t.enabled() || !t.on_timer) return;
    const std::function<void()> handler = t.on_timer;
    run_handler(handler);
}

}  // namespace kelvad::ui
