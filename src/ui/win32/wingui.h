#pragma once
// Small wrappers of the native Win32 windows the form needs: one type per kind of control,
// created from CreateArgs with defaulted fields, events as std::function members. The parent
// window reflects WM_COMMAND, WM_DRAWITEM and the WM_CTLCOLOR* messages to the wrapper of
// the child they concern (found through the child's GWLP_USERDATA).

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "ui/win32/scoped.h"

namespace kelvad::ui::win32 {

struct rect {
    int left = 0, top = 0, width = 0, height = 0;
};

// Logical height of a font of `points` points on the screen.
int font_height_for_points(int points);
// A font of the family with a character height in pixels (negative lfHeight).
unique_font create_font(std::wstring_view family, int height, bool bold);

class wnd {
  public:
    wnd() = default;
    virtual ~wnd();
    wnd(const wnd&) = delete;
    wnd& operator=(const wnd&) = delete;

    HWND hwnd() const { return hwnd_; }
    // The wrapper of a window created by one of these types, or null.
    static wnd* from_hwnd(HWND hwnd);

    void set_text(std::string_view text);
    std::string text() const;
    void set_visible(bool visible);
    void set_enabled(bool enabled);
    void set_font(HFONT font);
    HFONT font() const;

    // Reflected from the parent; true when handled.
    virtual bool on_command(WORD /*code*/) { return false; }
    virtual bool on_draw_item(const DRAWITEMSTRUCT& /*item*/) { return false; }
    // The brush for WM_CTLCOLORSTATIC / WM_CTLCOLOREDIT, or null for the default.
    virtual HBRUSH on_ctl_colour(HDC /*hdc*/) { return nullptr; }

  protected:
    struct control_args {
        HWND parent = nullptr;
        const wchar_t* class_name = nullptr;
        DWORD style = 0;
        DWORD ex_style = 0;
        rect pos = {};
        int id = 0;
        bool visible = true;
        HFONT font = nullptr;
        std::string_view text = {};
    };
    HWND create_control(const control_args& args);
    void attach(HWND hwnd);
    void detach();

    HWND hwnd_ = nullptr;
};

// STATIC: a label of one line, in its own text colour on the window's grey.
class static_ctrl : public wnd {
  public:
    struct create_args {
        HWND parent = nullptr;
        HFONT font = nullptr;
        std::string_view text = {};
        rect pos = {};
        bool visible = true;
    };
    HWND create(const create_args& args);
    void set_text_colour(COLORREF colour);
    // Sizes the label to its text (for labels placed without a width).
    void fit_to_text();
    HBRUSH on_ctl_colour(HDC hdc) override;

  private:
    COLORREF colour_ = RGB(0, 0, 0);
};

// EDIT: one line, or several lines read-only with a vertical scroll bar.
class edit_ctrl : public wnd {
  public:
    struct create_args {
        HWND parent = nullptr;
        HFONT font = nullptr;
        std::string_view text = {};
        rect pos = {};
        bool visible = true;
        int id = 0;
        bool multi_line = false;
        bool read_only = false;
    };
    HWND create(const create_args& args);

    // The operator changed the text (not sent for set_text of the program).
    std::function<void()> on_text_changed;

    void set_text_quietly(std::string_view text);
    void set_text_colour(COLORREF colour);
    // Text operations of a multi-line edit, at the end and at the start, without resetting
    // the whole text.
    void append_text(std::wstring_view text);
    void remove_leading(int characters);
    void scroll_to_end();
    int length() const;

    bool on_command(WORD code) override;
    HBRUSH on_ctl_colour(HDC hdc) override;

  private:
    bool programmatic_change_ = false;
    COLORREF colour_ = RGB(0, 0, 0);
};

// BUTTON, push: owner-drawn, so that its text shows in its own colour (the system draws push
// button texts in one colour only).
class button_ctrl : public wnd {
  public:
    struct create_args {
        HWND parent = nullptr;
        HFONT font = nullptr;
        std::string_view text = {};
        rect pos = {};
        bool visible = true;
        int id = 0;
    };
    HWND create(const create_args& args);

    std::function<void()> on_click;

    void set_text_colour(COLORREF colour);
    COLORREF text_colour() const { return colour_; }

    bool on_command(WORD code) override;
    bool on_draw_item(const DRAWITEMSTRUCT& item) override;

  private:
    COLORREF colour_ = RGB(0, 0, 0);
};

// BUTTON, check box.
class checkbox_ctrl : public wnd {
  public:
    struct create_args {
        HWND parent = nullptr;
        HFONT font = nullptr;
        std::string_view text = {};
        rect pos = {};
        bool visible = true;
        int id = 0;
        bool checked = false;
    };
    HWND create(const create_args& args);

    // The operator changed the state.
    std::function<void()> on_state_changed;

    bool is_checked() const;
    void set_checked(bool checked);
    void set_text_colour(COLORREF colour);

    bool on_command(WORD code) override;
    HBRUSH on_ctl_colour(HDC hdc) override;

  private:
    COLORREF colour_ = RGB(0, 0, 0);
};

// The top-level window: grey client area, children reflected, timers, the busy cursor and
// the close and session-end events.
class top_window : public wnd {
  public:
    struct create_args {
        std::string_view title;
        int client_width = 0;
        int client_height = 0;
    };
    HWND create(const create_args& args);
    ~top_window() override;

    void set_client_size(int width, int height);
    bool busy = false;

    std::function<void(UINT_PTR id)> on_timer;
    // WM_CLOSE; the handler decides (destroy() closes the window).
    std::function<void()> on_close;
    // WM_ENDSESSION with the session really ending.
    std::function<void()> on_end_session;
    std::function<void()> on_destroy;

    void destroy();

  private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT msg, WPARAM wparam, LPARAM lparam);
};

}  // namespace kelvad::ui::win32
