#pragma once
// The toolkit-neutral window: a form owns named controls with the few properties the scanner
// windows use, and offers the toolkit's modal boxes, cursor, pending-event handling and the
// general error display. A back end (ui/win32, ui/qt, ui/headless) realises it on screen.
// No header of a window toolkit is included here or by the window classes.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvad::ui {

class form;
class toolkit;

enum class font_colour { black, red };
enum class control_kind { label, edit, button, check_box, text_list, timer };

struct bounds {
    int left = 0, top = 0, width = 0, height = 0;
};

struct font_style {
    std::string family;  // empty: the form's font
    int pixel_height = 0;
    bool bold = false;
};

// The back end's counterpart of one control, told of every change the program makes.
class control_peer {
  public:
    virtual ~control_peer() = default;
    virtual void update() = 0;  // text, visible, colour, checked, enabled, interval
    virtual void line_appended(const std::string&) {}
    virtual void first_line_removed() {}
    // Several lines at once: the `removed` oldest lines went, then the newest `added` lines of
    // `lines` (the list as it is now) came. A native list lays out and scrolls once for them.
    virtual void lines_appended(const std::deque<std::string>& lines, std::size_t added,
                                std::size_t removed) {
        for (std::size_t i = 0; i < removed; ++i) first_line_removed();
        for (std::size_t i = lines.size() - added; i < lines.size(); ++i) line_appended(lines[i]);
    }
    virtual void lines_reset() {}
};

class control {
  public:
    control(form& owner, control_kind kind, std::string name);
    virtual ~control();
    control(const control&) = delete;
    control& operator=(const control&) = delete;

    control_kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    form& owner() const { return owner_; }

    const std::string& text() const { return text_; }
    void set_text(std::string text);
    bool visible() const { return visible_; }
    void set_visible(bool visible);
    bool enabled() const { return enabled_; }
    void set_enabled(bool enabled);
    font_colour colour() const { return colour_; }
    void set_colour(font_colour colour);

    bounds place;
    font_style font;

    // For back ends: the operator changed the text; the peer already shows it.
    void text_changed_by_user(std::string text) { text_ = std::move(text); }
    void set_peer(std::unique_ptr<control_peer> peer);
    control_peer* peer() const { return peer_.get(); }

  protected:
    void notify() const;

  private:
    form& owner_;
    control_kind kind_;
    std::string name_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
    font_colour colour_ = font_colour::black;
    std::unique_ptr<control_peer> peer_;
};

class label : public control {
  public:
    label(form& owner, std::string name) : control(owner, control_kind::label, std::move(name)) {}
};

class edit : public control {
  public:
    edit(form& owner, std::string name) : control(owner, control_kind::edit, std::move(name)) {}
};

class button : public control {
  public:
    button(form& owner, std::string name) : control(owner, control_kind::button, std::move(name)) {}
    std::function<void()> on_click;
};

class check_box : public control {
  public:
    check_box(form& owner, std::string name)
        : control(owner, control_kind::check_box, std::move(name)) {}
    bool checked() const { return checked_; }
    void set_checked(bool checked);
    void checked_changed_by_user(bool checked) { checked_ = checked; }

  private:
    bool checked_ = false;
};

// The name of the main window's message list: its lines also go to the log, and errors that
// arrive while an error box is open are listed there.
inline constexpr std::string_view message_board_name = "Message_board";

// A line as a native list shows it: a line break inside becomes a blank, so that every line of
// the list stays one line on screen and removing the first line removes the right one.
std::string display_line(std::string_view line);

// How many lines the message list keeps: the program runs for months, and a list that grew
// without end would eat the memory and make every new line dearer.
inline constexpr std::size_t message_board_most_lines = 1000;

// A multi-line list of text lines (read-only for the operator).
class text_list : public control {
  public:
    text_list(form& owner, std::string name);
    const std::deque<std::string>& lines() const { return lines_; }
    std::size_t count() const { return lines_.size(); }
    // Appends a line; with log_lines it is also written to the log. Beyond most_lines the
    // oldest lines go at once.
    void add(std::string line);
    // Appends several lines as one change of the list: one write to the log, one layout.
    void add_lines(std::vector<std::string> lines);
    void delete_first();
    // Replaces all lines; beyond most_lines only the newest are kept.
    void set_lines(std::vector<std::string> lines);

    // Every added line is also a log line; on by default for the message list only.
    bool log_lines = false;
    // The most lines the list keeps, the oldest going first; 0 keeps every line. 1000 by
    // default for the message list, unlimited for any other list.
    std::size_t most_lines = 0;

  private:
    friend class form;
    void append(std::string line);  // without the log
    std::deque<std::string> lines_;
};

class timer : public control {
  public:
    timer(form& owner, std::string name) : control(owner, control_kind::timer, std::move(name)) {}
    std::uint32_t interval() const { return interval_ms_; }
    void set_interval(std::uint32_t ms);
    std::function<void()> on_timer;

  private:
    std::uint32_t interval_ms_ = 1000;
};

// What a window toolkit supplies to a form.
class toolkit {
  public:
    virtual ~toolkit() = default;
    // Creates the native window and one peer per control of the form.
    virtual void realize(form& window) = 0;
    // The form's caption, size or focus changed.
    virtual void form_changed(form& window) = 0;
    // Modal box with one OK button.
    virtual void message_box(const std::string& text, const std::string& caption) = 0;
    // Modal box with one OK button that closes by itself, as if OK was pressed, after
    // close_after_ms. True when it closed by itself, false when somebody closed it (or the
    // toolkit answered it at once because nobody could).
    virtual bool timed_message_box(const std::string& text, const std::string& caption,
                                   int close_after_ms) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool ask_yes_no(const std::string& text, const std::string& caption) = 0;
    virtual void set_busy_cursor(bool busy) = 0;
    virtual void process_pending_events() = 0;
    // The form is being destroyed: its native window goes with it.
    virtual void form_destroyed(form&) {}
};

class form {
  public:
    explicit form(toolkit& tk);
    virtual ~form();
    form(const form&) = delete;
    form& operator=(const form&) = delete;

    toolkit& tk() const { return tk_; }

    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);
    int client_width() const { return client_width_; }
    int client_height() const { return client_height_; }
    void set_client_size(int width, int height);
    control* focused() const { return focused_; }
    void set_focus(control& c);
    font_style font;

    const std::vector<control*>& controls() const { return controls_; }
    control* find(std::string_view name) const;

    // Toolkit services, logged as the log file expects.
    void show_message(const std::string& text);
    // A box whose text comes from a result file: the program is unattended, and a box that
    // waited for an OK would hold up every following file. It closes by itself after
    // file_message_close_after_ms, and the log says so.
    void show_file_message(const std::string& text);
    int file_message_close_after_ms = 60000;
    bool ask_yes_no(const std::string& text, const std::string& caption);
    void set_busy_cursor(bool busy) { tk_.set_busy_cursor(busy); }
    void process_pending_events() { tk_.process_pending_events(); }
    // The general error display. At most one is open at a time: an error that arrives while
    // one is open goes to the log and to the message list "Message_board" where there is one.
    void show_error(const std::string& text);

    // Every entry from the toolkit (timer tick, click) goes through here: an error that
    // escapes the handler is shown by the general error display, and nothing escapes.
    void run_handler(const std::function<void()>& handler) noexcept;
    // A click on an enabled button (a disabled one cannot be clicked).
    void click(button& b);
    // A tick of an enabled timer (a disabled one does nothing).
    void fire(timer& t);
    // True while a handler runs (also while it lets pending events through). Back ends hold
    // a close request back until the handler has finished, so that the shutdown never runs
    // in the middle of a scan action.
    bool handler_running() const { return handler_depth_ > 0; }
    // The text the message list shows for an error that arrived while the error box was open.
    static std::string error_line(const std::string& text) { return "Error: " + text; }

  protected:
    friend class control;
    void register_control(control& c);
    void unregister_control(control& c);

  private:
    toolkit& tk_;
    std::string caption_;
    int client_width_ = 0;
    int client_height_ = 0;
    control* focused_ = nullptr;
    std::vector<control*> controls_;
    bool error_display_open_ = false;
    int handler_depth_ = 0;
};

}  // namespace kelvad::ui
