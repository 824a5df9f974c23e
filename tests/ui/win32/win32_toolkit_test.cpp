// The form on native Win32 windows (under Wine with an X display): the native controls, events
// in both directions, the message loop, and run()'s close.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ui/form.h"
#include "ui/test_form.h"
#include "ui/win32/win32_toolkit.h"

namespace kelvad::ui {
namespace {

using fixtures::test_form;

// Windows need a display; under Wine that is the X server named by DISPLAY.
bool realized(win32_toolkit& tk, form& f) {
    try {
        tk.realize(f);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}
#define REALIZE_OR_SKIP(tk, f) \
    if (!realized(tk, f))      \
    GTEST_SKIP() << "No window can be created: start Xvfb and set DISPLAY for Wine"

std::wstring text_of(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    const int length = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return text;
}

HWND native(const control& c) {
    return win32_toolkit::native_window(c);
}

// A child's own visibility, whether or not its window is shown yet (showing and hiding a
// top-level window costs Wine seconds under an X server without a window manager).
bool shown_flag(HWND hwnd) {
    return (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Lets the message loop run until `done` holds or `limit_ms` have passed.
template <typename F>
bool pump_until(win32_toolkit& tk, F done, DWORD limit_ms = 2000) {
    const DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < limit_ms) {
        tk.process_pending_events();
        Sleep(5);
    }
    return done();
}

// Pixels of the button as it paints itself, counted by colour.
struct painted_pixels {
    int red = 0;
    int dark = 0;
};
painted_pixels paint_button(HWND button) {
    RECT r{};
    GetClientRect(button, &r);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageW(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    painted_pixels counted;
    const auto* pixel = static_cast<const DWORD*>(bits);
    for (int i = 0; i < r.right * r.bottom; ++i) {
        const int red = (pixel[i] >> 16) & 0xff, green = (pixel[i] >> 8) & 0xff,
                  blue = pixel[i] & 0xff;
        if (red > 200 && green < 80 && blue < 80) ++counted.red;
        if (red < 60 && green < 60 && blue < 60) ++counted.dark;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return counted;
}

TEST(win32_toolkit_test, realize_builds_native_controls_from_the_model) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    ASSERT_NE(tk.window(), nullptr);
    EXPECT_EQ(text_of(tk.window()), L"ORVEL  scanner");
    RECT client{};
    GetClientRect(tk.window(), &client);
    EXPECT_EQ(client.right, 627);
    EXPECT_EQ(client.bottom, 258);

    EXPECT_EQ(text_of(native(f.title)), L"ORVEL spectrum import");
    EXPECT_EQ(text_of(native(f.path)), L"Specify input path here");
    EXPECT_EQ(text_of(native(f.go)), L"Stop scan");
    EXPECT_EQ(text_of(native(f.board)), L"first");
    EXPECT_EQ(native(f.tick), nullptr);

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(native(f.title), WM_GETFONT, 0, 0)),
               sizeof font, &font);
    EXPECT_EQ(font.lfHeight, -21);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Times New Roman");
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(native(f.path), WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Tahoma");

    EXPECT_TRUE(shown_flag(native(f.go)));
    EXPECT_FALSE(shown_flag(native(f.option)));
}

TEST(win32_toolkit_test, model_changes_reach_the_controls_and_operator_input_the_model) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    f.title.set_text("Kelvad \xc3\xa4");  // UTF-8 in the model, UTF-16 on screen
    f.option.set_visible(true);
    f.set_caption("Kelvad");
    EXPECT_EQ(text_of(native(f.title)), L"Kelvad \u00e4");
    EXPECT_TRUE(shown_flag(native(f.option)));
    EXPECT_EQ(text_of(tk.window()), L"Kelvad");

    // The operator types: EN_CHANGE carries the text into the model.
    SetWindowTextW(native(f.path), L"C:\\data\\in");
    EXPECT_EQ(f.path.text(), "C:\\data\\in");
    f.path.set_text("D:\\other");
    EXPECT_EQ(text_of(native(f.path)), L"D:\\other");
    EXPECT_EQ(f.path.text(), "D:\\other");

    SendMessageW(native(f.option), BM_CLICK, 0, 0);
    EXPECT_TRUE(f.option.checked());
    f.option.set_checked(false);
    EXPECT_EQ(SendMessageW(native(f.option), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    int clicks = 0;
    f.go.on_click = [&] { ++clicks; };
    const HWND go = native(f.go);
    const auto click = [&] {
        SendMessageW(tk.window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(go), BN_CLICKED),
                     reinterpret_cast<LPARAM>(go));
    };
    click();
    EXPECT_EQ(clicks, 1);
    f.go.set_enabled(false);
    EXPECT_FALSE(IsWindowEnabled(go));
    click();
    EXPECT_EQ(clicks, 1);
}

TEST(win32_toolkit_test, button_text_is_drawn_in_its_colour) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    const painted_pixels red = paint_button(native(f.go));
    EXPECT_GT(red.red, 10);
    f.go.set_colour(font_colour::black);
    const painted_pixels black = paint_button(native(f.go));
    EXPECT_EQ(black.red, 0);
    EXPECT_GT(black.dark, red.dark);
}

TEST(win32_toolkit_test, message_list_changes_line_by_line) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    const HWND board = native(f.board);

    f.board.delete_first();
    f.board.add("");  // an empty first line is a line of its own
    f.board.add("b\r\nc");
    EXPECT_EQ(text_of(board), L"\r\nb  c");
    f.board.delete_first();
    EXPECT_EQ(text_of(board), L"b  c");
    f.board.delete_first();
    EXPECT_EQ(text_of(board), L"");

    // Long lines wrap on screen, and the list passes the edit control's default limit of
    // 32767 characters long before it holds its thousand lines.
    const std::string long_line(250, 'x');
    std::wstring expected;
    for (int i = 0; i < 150; ++i) f.board.add(std::to_string(i) + long_line);
    for (int i = 0; i < 10; ++i) f.board.delete_first();
    for (int i = 10; i < 150; ++i) {
        if (!expected.empty()) expected += L"\r\n";
        expected += std::to_wstring(i) + std::wstring(250, L'x');
    }
    EXPECT_EQ(text_of(board), expected);
    EXPECT_GT(SendMessageW(board, EM_GETFIRSTVISIBLELINE, 0, 0), 0);  // scrolled to the end

    f.board.set_lines({"x", "y"});
    EXPECT_EQ(text_of(board), L"x\r\ny");

    // Lines added as a group, the oldest going to make room, as one change of the control.
    f.board.most_lines = 4;
    f.board.add_lines({"1", "", "3"});
    EXPECT_EQ(text_of(board), L"y\r\n1\r\n\r\n3");
    f.board.add_lines({"4", "5", "6", "7", "8"});
    EXPECT_EQ(text_of(board), L"5\r\n6\r\n7\r\n8");
    f.board.set_lines({});
    f.board.add_lines({"", "a"});
    EXPECT_EQ(text_of(board), L"\r\na");
}

TEST(win32_toolkit_test, enabled_timer_ticks_through_the_message_loop) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    int ticks = 0;
    f.tick.on_timer = [&] { ++ticks; };
    pump_until(
        tk, [] { return false; }, 100);  // not a tick while disabled
    EXPECT_EQ(ticks, 0);
    f.tick.set_enabled(true);
    EXPECT_TRUE(pump_until(tk, [&] { return ticks >= 2; }));
    f.tick.set_enabled(false);
    tk.process_pending_events();
    const int stopped_at = ticks;
    Sleep(50);
    tk.process_pending_events();
    EXPECT_EQ(ticks, stopped_at);
}

// The message box open on this thread (a dialog of the system's dialog class), or null.
HWND open_box() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM param) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(hwnd, name, 16);
            if (std::wstring(name) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
            *reinterpret_cast<HWND*>(param) = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// What the operator saw before pressing OK (a thread timer: the box's own loop runs it).
std::wstring caption_when_pressed;
void CALLBACK press_ok(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (const HWND box = open_box()) {
        caption_when_pressed = text_of(box);
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    }
}

TEST(win32_toolkit_test, timed_box_closes_by_itself_unless_somebody_presses_ok_first) {
    struct case_t {
        const char* name;
        int close_after_ms;
        UINT press_after_ms;
        bool closed_by_itself;
    };
    const case_t cases[] = {
        // The press after 5 s only keeps a box that never closes from hanging the test.
        {"nobody there", 300, 5000, true},
        {"operator presses OK", 10000, 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win32_toolkit tk;
        test_form f(tk);
        REALIZE_OR_SKIP(tk, f);
        caption_when_pressed.clear();
        const UINT_PTR press = SetTimer(nullptr, 0, c.press_after_ms, press_ok);
        const DWORD start = GetTickCount();
        const bool closed_by_itself =
            tk.timed_message_box("Unexpected file structure", "Kelvad \xc3\xa4", c.close_after_ms);
        const DWORD elapsed = GetTickCount() - start;
        KillTimer(nullptr, press);
        EXPECT_EQ(closed_by_itself, c.closed_by_itself);
        EXPECT_EQ(open_box(), nullptr);
        if (c.closed_by_itself) {
            EXPECT_GE(elapsed, 250u);
            EXPECT_TRUE(caption_when_pressed.empty());  // nobody had to press
        } else {
            EXPECT_EQ(caption_when_pressed, L"Kelvad \u00e4");
        }
        EXPECT_LT(elapsed, 5000u);
    }
}

TEST(win32_toolkit_test, busy_cursor_is_set_and_reset) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    f.set_busy_cursor(true);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
    f.set_busy_cursor(false);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

TEST(win32_toolkit_test, run_calls_on_close_once_when_the_window_closes) {
    struct case_t {
        const char* name;
        void (*close)(HWND window);
    };
    const case_t cases[] = {
        {"WM_CLOSE", [](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); }},
        {"request_close before the loop runs", [](HWND) { request_close(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win32_toolkit tk;
        test_form f(tk);
        REALIZE_OR_SKIP(tk, f);
        const HWND window = tk.window();
        c.close(window);
        int closes = 0;
        bool shown_at_close = false;
        run(f, [&] {
            ++closes;
            shown_at_close = IsWindowVisible(native(f.go)) && !IsWindowVisible(native(f.option));
        });
        EXPECT_EQ(closes, 1);
        EXPECT_TRUE(shown_at_close);
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST(win32_toolkit_test, session_end_runs_on_close_at_once) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    // Should the session end not run the shutdown, this timer ends the loop after 2 s.
    bool fallback_used = false;
    f.tick.set_interval(2000);
    f.tick.on_timer = [&] {
        fallback_used = true;
        PostMessageW(tk.window(), WM_CLOSE, 0, 0);
    };
    f.tick.set_enabled(true);
    PostMessageW(tk.window(), WM_ENDSESSION, TRUE, 0);
    int closes = 0;
    run(f, [&] {
        ++closes;
        PostMessageW(tk.window(), WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(fallback_used);
    EXPECT_EQ(closes, 1);
}

TEST(win32_toolkit_test, close_during_a_handler_waits_until_the_handler_ends) {
    win32_toolkit tk;
    test_form f(tk);
    REALIZE_OR_SKIP(tk, f);
    int closes = 0;
    bool closed_inside_action = false;
    f.tick.on_timer = [&] {
        f.tick.set_enabled(false);
        request_close();
        // A long action that lets messages through, as the scan cycle does after each file.
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 300) {
            f.process_pending_events();
            if (closes > 0) closed_inside_action = true;
            Sleep(5);
        }
    };
    f.tick.set_enabled(true);
    run(f, [&] { ++closes; });
    EXPECT_FALSE(closed_inside_action);
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace kelvad::ui
