#include "ui/win32/wingui.h"

#include "ui/win32/utf16.h"

namespace kelvad::ui::win32 {
namespace {

constexpr const wchar_t* top_window_class = L"KelvadForm";

HINSTANCE instance() {
    return GetModuleHandleW(nullptr);
}

std::wstring window_text(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

HBRUSH paint_on(HDC hdc, COLORREF text, int background) {
    SetTextColor(hdc, text);
    SetBkColor(hdc, GetSysColor(background));
    return GetSysColorBrush(background);
}

void redraw(HWND hwnd) {
    if (hwnd != nullptr) InvalidateRect(hwnd, nullptr, TRUE);
}

}  // namespace

int font_height_for_points(int points) {
    window_dc screen(nullptr);
    return -MulDiv(points, GetDeviceCaps(screen.get(), LOGPIXELSY), 72);
}

unique_font create_font(std::wstring_view family, int height, bool bold) {
    const std::wstring name(family);
    return unique_font(CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, name.c_str()));
}

// ---- wnd ----

wnd::~wnd() {
    // Children die with their parent: only a window that is still this wrapper's is destroyed.
    if (hwnd_ != nullptr && IsWindow(hwnd_) && from_hwnd(hwnd_) == this) {
        const HWND hwnd = hwnd_;
        detach();
        DestroyWindow(hwnd);
    }
}

wnd* wnd::from_hwnd(HWND hwnd) {
    if (hwnd == nullptr) return nullptr;
    return reinterpret_cast<wnd*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void wnd::attach(HWND hwnd) {
    hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void wnd::detach() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
}

HWND wnd::create_control(const control_args& args) {
    const DWORD style = args.style | WS_CHILD | (args.visible ? WS_VISIBLE : 0);
    const HWND hwnd = CreateWindowExW(
        args.ex_style, args.class_name, to_utf16(args.text).c_str(), style, args.pos.left,
        args.pos.top, args.pos.width, args.pos.height, args.parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.id)), instance(), nullptr);
    if (hwnd == nullptr) return nullptr;
    attach(hwnd);
    if (args.font != nullptr) set_font(args.font);
    return hwnd;
}

void wnd::set_text(std::string_view text) {
    if (hwnd_ != nullptr) SetWindowTextW(hwnd_, to_utf16(text).c_str());
}

std::string wnd::text() const {
    return hwnd_ != nullptr ? to_utf8(window_text(hwnd_)) : "";
}

void wnd::set_visible(bool visible) {
    if (hwnd_ != nullptr) ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
}

void wnd::set_enabled(bool enabled) {
    if (hwnd_ != nullptr) EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

void wnd::set_font(HFONT font) {
    if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HFONT wnd::font() const {
    return hwnd_ != nullptr ? reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0))
                            : nullptr;
}

// ---- static_ctrl ----

HWND static_ctrl::create(const create_args& args) {
    control_args c;
    c.parent = args.parent;
    c.class_name = L"STATIC";
    // Paths and file names may hold "&": no accelerator prefix.
    // One line, as the labels show paths: a long one is cut at the end, never wrapped.
    c.style = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    c.pos = args.pos;
    c.visible = args.visible;
    c.font = args.font;
    c.text = args.text;
    return create_control(c);
}

void static_ctrl::set_text_colour(COLORREF colour) {
    if (colour == colour_) return;
    colour_ = colour;
    redraw(hwnd_);
}

void static_ctrl::fit_to_text() {
    if (hwnd_ == nullptr) return;
    const std::wstring text = window_text(hwnd_);
    window_dc dc(hwnd_);
    selected_object font_in_use(dc.get(), font());
    SIZE size{};
    if (!GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size)) {
        return;
    }
    SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HBRUSH static_ctrl::on_ctl_colour(HDC hdc) {
    return paint_on(hdc, colour_, COLOR_BTNFACE);
}

// ---- edit_ctrl ----

HWND edit_ctrl::create(const create_args& args) {
    control_args c;
    c.parent = args.parent;
    c.class_name = L"EDIT";
    c.ex_style = WS_EX_CLIENTEDGE;
    c.style = WS_TABSTOP |
              (args.multi_line ? ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL : ES_AUTOHSCROLL) |
              (args.read_only ? ES_READONLY : 0);
    c.pos = args.pos;
    c.visible = args.visible;
    c.id = args.id;
    c.font = args.font;
    c.text = args.text;
    const HWND hwnd = create_control(c);
    // The default limit (32767 characters) would silently refuse lines long before the
    // message list holds its thousand.
    if (hwnd != nullptr) SendMessageW(hwnd, EM_SETLIMITTEXT, 0, 0);
    return hwnd;
}

void edit_ctrl::set_text_quietly(std::string_view text) {
    programmatic_change_ = true;
    set_text(text);
    programmatic_change_ = false;
}

void edit_ctrl::set_text_colour(COLORREF colour) {
    if (colour == colour_) return;
    colour_ = colour;
    redraw(hwnd_);
}

int edit_ctrl::length() const {
    return hwnd_ != nullptr ? GetWindowTextLengthW(hwnd_) : 0;
}

void edit_ctrl::append_text(std::wstring_view text) {
    if (hwnd_ == nullptr) return;
    const std::wstring added(text);
    const int end = length();
    programmatic_change_ = true;
    SendMessageW(hwnd_, EM_SETSEL, end, end);
    SendMessageW(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
    programmatic_change_ = false;
}

void edit_ctrl::remove_leading(int characters) {
    if (hwnd_ == nullptr || characters <= 0) return;
    programmatic_change_ = true;
    SendMessageW(hwnd_, EM_SETSEL, 0, characters);
    SendMessageW(hwnd_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    programmatic_change_ = false;
}

void edit_ctrl::scroll_to_end() {
    if (hwnd_ == nullptr) return;
    const int end = length();
    SendMessageW(hwnd_, EM_SETSEL, end, end);
    SendMessageW(hwnd_, EM_SCROLLCARET, 0, 0);
}

bool edit_ctrl::on_command(WORD code) {
    if (code != EN_CHANGE) return false;
    if (!programmatic_change_ && on_text_changed) on_text_changed();
    return true;
}

HBRUSH edit_ctrl::on_ctl_colour(HDC hdc) {
    // A read-only edit asks like a label would; the list stays white all the same.
    return paint_on(hdc, colour_, COLOR_WINDOW);
}

// ---- button_ctrl ----

HWND button_ctrl::create(const create_args& args) {
    control_args c;
    c.parent = args.parent;
    c.class_name = L"BUTTON";
    c.style = BS_OWNERDRAW | WS_TABSTOP;
    c.pos = args.pos;
    c.visible = args.visible;
    c.id = args.id;
    c.font = args.font;
    c.text = args.text;
    return create_control(c);
}

void button_ctrl::set_text_colour(COLORREF colour) {
    if (colour == colour_) return;
    colour_ = colour;
    redraw(hwnd_);
}

bool button_ctrl::on_command(WORD code) {
    if (code != BN_CLICKED) return false;
    if (on_click) on_click();
    return true;
}

bool button_ctrl::on_draw_item(const DRAWITEMSTRUCT& item) {
    HDC hdc = item.hDC;
    RECT frame = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    DrawFrameControl(hdc, &frame, DFC_BUTTON,
                     DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0) | (disabled ? DFCS_INACTIVE : 0));

    const std::wstring caption = window_text(hwnd_);
    selected_object font_in_use(hdc, font());
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, disabled ? GetSysColor(COLOR_GRAYTEXT) : colour_);
    RECT text_area = item.rcItem;
    if (pushed) OffsetRect(&text_area, 1, 1);
    DrawTextW(hdc, caption.c_str(), static_cast<int>(caption.size()), &text_area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE |
                  ((item.itemState & ODS_NOACCEL) != 0 ? DT_HIDEPREFIX : 0));
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = item.rcItem;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(hdc, &focus);
    }
    return true;
}

// ---- checkbox_ctrl ----

HWND checkbox_ctrl::create(const create_args& args) {
    control_args c;
    c.parent = args.parent;
    c.class_name = L"BUTTON";
    c.style = BS_AUTOCHECKBOX | WS_TABSTOP;
    c.pos = args.pos;
    c.visible = args.visible;
    c.id = args.id;
    c.font = args.font;
    c.text = args.text;
    const HWND hwnd = create_control(c);
    set_checked(args.checked);
    return hwnd;
}

bool checkbox_ctrl::is_checked() const {
    return hwnd_ != nullptr && SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void checkbox_ctrl::set_checked(bool checked) {
    if (hwnd_ != nullptr) {
        SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void checkbox_ctrl::set_text_colour(COLORREF colour) {
    if (colour == colour_) return;
    colour_ = colour;
    redraw(hwnd_);
}

bool checkbox_ctrl::on_command(WORD code) {
    if (code != BN_CLICKED) return false;
    if (on_state_changed) on_state_changed();
    return true;
}

HBRUSH checkbox_ctrl::on_ctl_colour(HDC hdc) {
    return paint_on(hdc, colour_, COLOR_BTNFACE);
}

// ---- top_window ----

HWND top_window::create(const create_args& args) {
    static const ATOM registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &top_window::window_proc;
        wc.hInstance = instance();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        wc.lpszClassName = top_window_class;
        return RegisterClassExW(&wc);
    }();
    if (registered == 0) return nullptr;

    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT outer{0, 0, args.client_width, args.client_height};
    AdjustWindowRectEx(&outer, style, FALSE, 0);
    // `this` reaches the window procedure with WM_NCCREATE, before any other message.
    return CreateWindowExW(0, top_window_class, to_utf16(args.title).c_str(), style, CW_USEDEFAULT,
                           CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top,
                           nullptr, nullptr, instance(), this);
}

top_window::~top_window() {
    // The owner of the handlers may be half gone already: the last messages go unheard.
    on_timer = nullptr;
    on_close = nullptr;
    on_end_session = nullptr;
    on_destroy = nullptr;
    destroy();
}

void top_window::destroy() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

void top_window::set_client_size(int width, int height) {
    if (hwnd_ == nullptr) return;
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK top_window::window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        auto* self =
            static_cast<top_window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->attach(hwnd);
    }
    auto* self = static_cast<top_window*>(from_hwnd(hwnd));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wparam, lparam);
    LRESULT result = 0;
    try {
        result = self->handle(msg, wparam, lparam);
    } catch (...) {
        // No C++ exception may cross the system's window procedure.
        result = DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    if (msg == WM_NCDESTROY) self->detach();
    return result;
}

LRESULT top_window::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
        case WM_COMMAND:
            if (wnd* child = from_hwnd(reinterpret_cast<HWND>(lparam))) {
                if (child->on_command(HIWORD(wparam))) return 0;
            }
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
            if (wnd* child = from_hwnd(item->hwndItem)) {
                if (child->on_draw_item(*item)) return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
            if (wnd* child = from_hwnd(reinterpret_cast<HWND>(lparam))) {
                if (HBRUSH brush = child->on_ctl_colour(reinterpret_cast<HDC>(wparam))) {
                    return reinterpret_cast<LRESULT>(brush);
                }
            }
            break;
        case WM_TIMER:
            if (on_timer) on_timer(static_cast<UINT_PTR>(wparam));
            return 0;
        case WM_SETCURSOR:
            // The busy cursor stays while the mouse moves over the window.
            if (busy && LOWORD(lparam) == HTCLIENT) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        case WM_CLOSE:
            if (on_close) {
                on_close();
                return 0;
            }
            break;
        case WM_ENDSESSION:
            if (wparam != 0 && on_end_session) on_end_session();
            return 0;
        case WM_DESTROY:
            if (on_destroy) on_destroy();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wparam, lparam);
}

}  // namespace kelvad::ui::win32
