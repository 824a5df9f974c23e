#include "ui/win32/win32_toolkit.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "ui/win32/utf16.h"
#include "ui/win32/wingui.h"

namespace kelvad::ui {

using win32::button_ctrl;
using win32::checkbox_ctrl;
using win32::edit_ctrl;
using win32::static_ctrl;
using win32::to_utf16;
using win32::top_window;
using win32::unique_font;

namespace {

// The running window for request_close(); PostMessageW may be called from any thread.
std::atomic<HWND> close_target{nullptr};
std::atomic<bool> close_pending{false};

constexpr UINT_PTR close_retry_timer = 1;
constexpr UINT_PTR first_control_timer = 100;
constexpr UINT close_retry_ms = 50;
// Control ids above IDOK and IDCANCEL, which the dialog keys send.
constexpr int first_control_id = 1000;

COLORREF colour_of(font_colour colour) {
    return colour == font_colour::red ? RGB(255, 0, 0) : RGB(0, 0, 0);
}

win32::rect rect_of(const bounds& b) {
    return {b.left, b.top, b.width, b.height};
}

void dispatch(HWND dialog_keys_window, MSG& msg) {
    if (dialog_keys_window != nullptr && IsDialogMessageW(dialog_keys_window, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

// A peer shown by one native window; visibility and enabling are applied when they change.
class native_peer : public control_peer {
  public:
    explicit native_peer(control& c) : control_(c) {}
    virtual win32::wnd& native() = 0;

  protected:
    void show_common() {
        if (control_.enabled() != enabled_) {
            enabled_ = control_.enabled();
            native().set_enabled(enabled_);
        }
        if (control_.visible() != visible_) {
            visible_ = control_.visible();
            native().set_visible(visible_);
        }
    }
    void created() {
        visible_ = control_.visible();
        if (!control_.enabled()) native().set_enabled(false);
        enabled_ = control_.enabled();
    }

    control& control_;
    bool visible_ = true;
    bool enabled_ = true;
    std::string shown_text_;
};

class label_peer : public native_peer {
  public:
    label_peer(control& c, HWND parent, HFONT font) : native_peer(c) {
        shown_text_ = c.text();
        ctrl_.create({.parent = parent,
                      .font = font,
                      .text = shown_text_,
                      .pos = rect_of(c.place),
                      .visible = c.visible()});
        if (c.place.width <= 0 || c.place.height <= 0) ctrl_.fit_to_text();
        ctrl_.set_text_colour(colour_of(c.colour()));
        created();
    }
    win32::wnd& native() override { return ctrl_; }
    void update() override {
        if (control_.text() != shown_text_) {
            shown_text_ = control_.text();
            ctrl_.set_text(shown_text_);
            // A label without a width grows with its text.
            if (control_.place.width <= 0) ctrl_.fit_to_text();
        }
        ctrl_.set_text_colour(colour_of(control_.colour()));
        show_common();
    }

  private:
    static_ctrl ctrl_;
};

class edit_peer : public native_peer {
  public:
    edit_peer(control& c, HWND parent, HFONT font, int id) : native_peer(c) {
        shown_text_ = c.text();
        ctrl_.create({.parent = parent,
                      .font = font,
                      .text = shown_text_,
                      .pos = rect_of(c.place),
                      .visible = c.visible(),
                      .id = id});
        ctrl_.set_text_colour(colour_of(c.colour()));
        ctrl_.on_text_changed = [this] {
            shown_text_ = ctrl_.text();
            control_.text_changed_by_user(shown_text_);
        };
        created();
    }
    win32::wnd& native() override { return ctrl_; }
    void update() override {
        if (control_.text() != shown_text_) {
            shown_text_ = control_.text();
            ctrl_.set_text_quietly(shown_text_);
        }
        ctrl_.set_text_colour(colour_of(control_.colour()));
        show_common();
    }

  private:
    edit_ctrl ctrl_;
};

class button_peer : public native_peer {
  public:
    button_peer(button& b, HWND parent, HFONT font, int id) : native_peer(b) {
        shown_text_ = b.text();
        ctrl_.create({.parent = parent,
                      .font = font,
                      .text = shown_text_,
                      .pos = rect_of(b.place),
                      .visible = b.visible(),
                      .id = id});
        ctrl_.set_text_colour(colour_of(b.colour()));
        ctrl_.on_click = [&b] { b.owner().click(b); };
        created();
    }
    win32::wnd& native() override { return ctrl_; }
    void update() override {
        if (control_.text() != shown_text_) {
            shown_text_ = control_.text();
            ctrl_.set_text(shown_text_);
        }
        ctrl_.set_text_colour(colour_of(control_.colour()));
        show_common();
    }

  private:
    button_ctrl ctrl_;
};

class check_box_peer : public native_peer {
  public:
    check_box_peer(check_box& c, HWND parent, HFONT font, int id) : native_peer(c) {
        shown_text_ = c.text();
        ctrl_.create({.parent = parent,
                      .font = font,
                      .text = shown_text_,
                      .pos = rect_of(c.place),
                      .visible = c.visible(),
                      .id = id,
                      .checked = c.checked()});
        ctrl_.set_text_colour(colour_of(c.colour()));
        ctrl_.on_state_changed = [this, &c] { c.checked_changed_by_user(ctrl_.is_checked()); };
        created();
    }
    win32::wnd& native() override { return ctrl_; }
    void update() override {
        if (control_.text() != shown_text_) {
            shown_text_ = control_.text();
            ctrl_.set_text(shown_text_);
        }
        const bool checked = static_cast<check_box&>(control_).checked();
        if (ctrl_.is_checked() != checked) ctrl_.set_checked(checked);
        ctrl_.set_text_colour(colour_of(control_.colour()));
        show_common();
    }

  private:
    checkbox_ctrl ctrl_;
};

// The list is changed line by line at its ends: it holds up to a thousand lines and gets
// several new ones a second. The length of every line shown is kept, so that the first line
// is removed exactly even where the control wraps it over several screen lines.
class text_list_peer : public native_peer {
  public:
    text_list_peer(text_list& list, HWND parent, HFONT font) : native_peer(list) {
        ctrl_.create({.parent = parent,
                      .font = font,
                      .pos = rect_of(list.place),
                      .visible = list.visible(),
                      .multi_line = true,
                      .read_only = true});
        created();
        lines_reset();
    }
    win32::wnd& native() override { return ctrl_; }
    void update() override { show_common(); }

    void line_appended(const std::string& line) override {
        const std::wstring shown = to_utf16(display_line(line));
        ctrl_.append_text(lengths_.empty() ? shown : L"\r\n" + shown);
        lengths_.push_back(static_cast<int>(shown.size()));
        ctrl_.scroll_to_end();
    }

    // One change of the control and one scroll for a tick's lines, however many they are.
    void lines_appended(const std::deque<std::string>& lines, std::size_t added,
                        std::size_t removed) override {
        removed = std::min(removed, lengths_.size());
        if (removed == lengths_.size()) {
            if (removed > 0) ctrl_.set_text_quietly("");
            lengths_.clear();
        } else if (removed > 0) {
            int characters = 0;
            for (std::size_t i = 0; i < removed; ++i) characters += lengths_[i] + 2;
            ctrl_.remove_leading(characters);  // the lines and their CR LF
            lengths_.erase(lengths_.begin(),
                           lengths_.begin() + static_cast<std::ptrdiff_t>(removed));
        }
        if (added == 0) return;
        std::wstring text;
        for (std::size_t i = lines.size() - added; i < lines.size(); ++i) {
            const std::wstring shown = to_utf16(display_line(lines[i]));
            if (!lengths_.empty()) text += L"\r\n";
            text += shown;
            lengths_.push_back(static_cast<int>(shown.size()));
        }
        ctrl_.append_text(text);
        ctrl_.scroll_to_end();
    }

    void first_line_removed() override {
        if (lengths_.empty()) return;
        if (lengths_.size() == 1) {
            ctrl_.set_text_quietly("");
        } else {
            ctrl_.remove_leading(lengths_.front() + 2);  // the line and its CR LF
        }
        lengths_.pop_front();
        ctrl_.scroll_to_end();
    }

    // A text set whole (the information text) is read from its top; appended lines keep the
    // view at the end.
    void lines_reset() override {
        lengths_.clear();
        std::wstring all;
        for (const auto& line : static_cast<text_list&>(control_).lines()) {
            const std::wstring shown = to_utf16(display_line(line));
            if (!lengths_.empty()) all += L"\r\n";
            all += shown;
            lengths_.push_back(static_cast<int>(shown.size()));
        }
        ctrl_.set_text_quietly(win32::to_utf8(all));
    }

  private:
    edit_ctrl ctrl_;
    std::deque<int> lengths_;  // UTF-16 units of each line shown
};

// ---- boxes that close by themselves ----

// A MessageBoxW runs its own modal loop on this thread. The box is found as it is created (a
// CBT hook sees the first dialog the call creates, before any message of the loop can open
// another box), and a timer of the box itself closes it with IDOK: the box's own loop
// dispatches that timer, also while a box opened later lies on top of it.
struct timed_box {
    HWND box = nullptr;
    HHOOK hook = nullptr;
    UINT close_after_ms = 0;
    bool closed_by_itself = false;
};

constexpr UINT_PTR timed_box_timer = 1;

// The boxes of this thread that are open and wait for their time, innermost last.
thread_local std::vector<timed_box*> timed_boxes;
// The box whose creation the hook waits for.
thread_local timed_box* timed_box_being_created = nullptr;

bool is_dialog(HWND hwnd) {
    wchar_t name[16] = {};
    return GetClassNameW(hwnd, name, 16) > 0 && std::wstring_view(name) == L"#32770";
}

void CALLBACK close_timed_box(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(hwnd, id);
    for (timed_box* waiting : timed_boxes) {
        if (waiting->box == hwnd && !waiting->closed_by_itself) {
            waiting->closed_by_itself = true;
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
}

LRESULT CALLBACK find_timed_box(int code, WPARAM wparam, LPARAM lparam) {
    timed_box* waiting = timed_box_being_created;
    const HHOOK hook = waiting != nullptr ? waiting->hook : nullptr;
    if (waiting != nullptr && code == HCBT_CREATEWND && waiting->box == nullptr) {
        const HWND created = reinterpret_cast<HWND>(wparam);
        if (is_dialog(created)) {
            waiting->box = created;
            SetTimer(created, timed_box_timer, waiting->close_after_ms, close_timed_box);
        }
    }
    return CallNextHookEx(hook, code, wparam, lparam);
}

}  // namespace

struct win32_toolkit::impl {
    form* owner = nullptr;
    std::unique_ptr<top_window> window;
    unique_font form_font;
    std::vector<unique_font> control_fonts;
    std::map<UINT_PTR, timer*> timers;
    UINT_PTR next_timer_id = first_control_timer;
    bool busy = false;

    // The state of run().
    bool running = false;
    bool closed = false;
    std::function<void()> on_close;

    HWND hwnd() const { return window ? window->hwnd() : nullptr; }

    void shut_down() {
        if (!running || closed) return;
        closed = true;
        if (owner != nullptr && on_close) {
            const auto closing = on_close;
            owner->run_handler(closing);
        }
    }

    void handle_close() {
        if (owner != nullptr && owner->handler_running()) {
            // The shutdown must not run inside a scan action that lets messages through: try
            // again when the action may have ended.
            SetTimer(hwnd(), close_retry_timer, close_retry_ms, nullptr);
            return;
        }
        shut_down();
        if (window) window->destroy();
    }

    void handle_timer(UINT_PTR id) {
        if (id == close_retry_timer) {
            KillTimer(hwnd(), close_retry_timer);
            PostMessageW(hwnd(), WM_CLOSE, 0, 0);
            return;
        }
        const auto it = timers.find(id);
        if (it != timers.end() && owner != nullptr) owner->fire(*it->second);
    }

    void handle_destroy() {
        if (close_target.load() == hwnd()) close_target.store(nullptr);
        if (running) PostQuitMessage(0);
    }

    HFONT font_for(const font_style& style) {
        if (style.family.empty() && style.pixel_height <= 0 && !style.bold) return form_font.get();
        const std::wstring family = to_utf16(style.family.empty() ? form_family() : style.family);
        const int height =
            style.pixel_height > 0 ? -style.pixel_height : win32::font_height_for_points(8);
        control_fonts.push_back(win32::create_font(family, height, style.bold));
        return control_fonts.back().get();
    }

    std::string form_family() const {
        return owner != nullptr && !owner->font.family.empty() ? owner->font.family : "Tahoma";
    }
};

namespace {

// Timers tick as WM_TIMER of the top-level window, one timer id per timer control.
class timer_peer : public control_peer {
  public:
    timer_peer(timer& t, win32_toolkit::impl& tk) : timer_(t), tk_(tk), id_(tk.next_timer_id++) {
        tk_.timers[id_] = &t;
    }
    ~timer_peer() override {
        stop();
        tk_.timers.erase(id_);
    }

    // (Re)starts only when the timer is switched on or its interval changes: switching a
    // timer on starts its interval anew. An interval of 0 never ticks.
    void update() override {
        // Without its window a timer would become a thread timer that nobody handles.
        if (tk_.hwnd() == nullptr) {
            running_ = false;
            return;
        }
        const UINT ms = timer_.interval();
        if (timer_.enabled() && ms > 0) {
            if (!running_ || ms != running_ms_) {
                running_ = SetTimer(tk_.hwnd(), id_, ms, nullptr) != 0;
                running_ms_ = ms;
            }
        } else {
            stop();
        }
    }

  private:
    void stop() {
        if (running_ && tk_.hwnd() != nullptr) KillTimer(tk_.hwnd(), id_);
        running_ = false;
    }

    timer& timer_;
    win32_toolkit::impl& tk_;
    UINT_PTR id_;
    bool running_ = false;
    UINT running_ms_ = 0;
};

}  // namespace

win32_toolkit::win32_toolkit() : impl_(std::make_unique<impl>()) {}

win32_toolkit::~win32_toolkit() {
    // A form that outlives its toolkit keeps no peer that points into it.
    if (impl_->owner != nullptr) {
        for (control* c : impl_->owner->controls()) c->set_peer(nullptr);
    }
    impl_->window.reset();
}

HWND win32_toolkit::window() const {
    return impl_->hwnd();
}

HWND win32_toolkit::native_window(const control& c) {
    auto* shown = dynamic_cast<native_peer*>(c.peer());
    return shown != nullptr ? shown->native().hwnd() : nullptr;
}

void win32_toolkit::realize(form& f) {
    if (impl_->window) return;
    impl_->owner = &f;
    const std::wstring family = to_utf16(impl_->form_family());
    impl_->form_font = win32::create_font(
        family, f.font.pixel_height > 0 ? -f.font.pixel_height : win32::font_height_for_points(8),
        f.font.bold);

    auto window = std::make_unique<top_window>();
    impl* state = impl_.get();
    window->on_timer = [state](UINT_PTR id) { state->handle_timer(id); };
    window->on_close = [state] { state->handle_close(); };
    window->on_end_session = [state] { state->shut_down(); };
    window->on_destroy = [state] { state->handle_destroy(); };
    if (window->create({.title = f.caption(),
                        .client_width = f.client_width(),
                        .client_height = f.client_height()}) == nullptr) {
        impl_->owner = nullptr;
        throw std::runtime_error("The window could not be created (is there a display?)");
    }
    impl_->window = std::move(window);

    const HWND parent = impl_->hwnd();
    int id = first_control_id;
    for (control* c : f.controls()) {
        const HFONT font = impl_->font_for(c->font);
        std::unique_ptr<control_peer> peer;
        switch (c->kind()) {
            case control_kind::label:
                peer = std::make_unique<label_peer>(*c, parent, font);
                break;
            case control_kind::edit:
                peer = std::make_unique<edit_peer>(*c, parent, font, id++);
                break;
            case control_kind::button:
                peer = std::make_unique<button_peer>(static_cast<button&>(*c), parent, font, id++);
                break;
            case control_kind::check_box:
                peer = std::make_unique<check_box_peer>(static_cast<check_box&>(*c), parent, font,
                                                        id++);
                break;
            case control_kind::text_list:
                peer = std::make_unique<text_list_peer>(static_cast<text_list&>(*c), parent, font);
                break;
            case control_kind::timer:
                peer = std::make_unique<timer_peer>(static_cast<timer&>(*c), *impl_);
                peer->update();
                break;
        }
        c->set_peer(std::move(peer));
    }
    form_changed(f);
}

void win32_toolkit::form_changed(form& f) {
    const HWND hwnd = impl_->hwnd();
    if (hwnd == nullptr || &f != impl_->owner) return;
    SetWindowTextW(hwnd, to_utf16(f.caption()).c_str());
    if (f.client_width() > 0 && f.client_height() > 0) {
        impl_->window->set_client_size(f.client_width(), f.client_height());
    }
    if (const control* focused = f.focused()) {
        if (const HWND child = native_window(*focused)) SetFocus(child);
    }
}

void win32_toolkit::message_box(const std::string& text, const std::string& caption) {
    MessageBoxW(impl_->hwnd(), to_utf16(text).c_str(), to_utf16(caption).c_str(), MB_OK);
}

bool win32_toolkit::timed_message_box(const std::string& text, const std::string& caption,
                                      int close_after_ms) {
    const std::wstring wide_text = to_utf16(text);
    const std::wstring wide_caption = to_utf16(caption);
    timed_box waiting;
    waiting.close_after_ms = static_cast<UINT>(std::max(close_after_ms, USER_TIMER_MINIMUM + 0));
    waiting.hook = SetWindowsHookExW(WH_CBT, find_timed_box, nullptr, GetCurrentThreadId());
    if (waiting.hook == nullptr) {
        // Without the hook the box cannot be found: an ordinary box is better than none.
        message_box(text, caption);
        return false;
    }
    timed_box* const outer_being_created = timed_box_being_created;
    timed_box_being_created = &waiting;
    timed_boxes.push_back(&waiting);
    struct restore {
        timed_box& waiting;
        timed_box* outer;
        ~restore() {
            if (waiting.hook != nullptr) UnhookWindowsHookEx(waiting.hook);
            std::erase(timed_boxes, &waiting);
            timed_box_being_created = outer;
        }
    } restore_on_exit{waiting, outer_being_created};

    const int answer = MessageBoxW(impl_->hwnd(), wide_text.c_str(), wide_caption.c_str(), MB_OK);
    return answer == IDOK && waiting.closed_by_itself;
}

bool win32_toolkit::ask_yes_no(const std::string& text, const std::string& caption) {
    return MessageBoxW(impl_->hwnd(), to_utf16(text).c_str(), to_utf16(caption).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void win32_toolkit::set_busy_cursor(bool busy) {
    impl_->busy = busy;
    if (impl_->window) impl_->window->busy = busy;
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void win32_toolkit::process_pending_events() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // The quit belongs to the message loop of run(): leave it for that loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        dispatch(impl_->hwnd(), msg);
    }
}

void win32_toolkit::form_destroyed(form& f) {
    if (&f != impl_->owner) return;
    impl_->window.reset();
    impl_->control_fonts.clear();
    impl_->form_font.reset();
    impl_->timers.clear();
    impl_->owner = nullptr;
}

int run(form& f, std::function<void()> on_close) {
    auto* tk = dynamic_cast<win32_toolkit*>(&f.tk());
    if (tk == nullptr) throw std::logic_error("run: the form does not use the Win32 toolkit");
    if (tk->window() == nullptr) tk->realize(f);
    win32_toolkit::impl& state = *tk->impl_;
    const HWND hwnd = state.hwnd();

    state.on_close = std::move(on_close);
    state.running = true;
    state.closed = false;
    close_target.store(hwnd);
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    if (close_pending.exchange(false)) PostMessageW(hwnd, WM_CLOSE, 0, 0);

    int result = 0;
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            result = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) break;
        dispatch(state.hwnd(), msg);
    }

    close_target.store(nullptr);
    state.shut_down();  // the loop may also end without a close
    state.running = false;
    state.on_close = nullptr;
    return result;
}

void request_close() noexcept {
    if (const HWND hwnd = close_target.load()) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    } else {
        close_pending.store(true);
    }
}

}  // namespace kelvad::ui
