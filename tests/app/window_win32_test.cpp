// The program's real window on Win32 (under Wine with a display): captions, controls and the
// state after start-up.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "main_window/kelvad_Unit.h"
#include "support/sandbox.h"
#include "ui/win32/win32_toolkit.h"

namespace kelvad {
namespace {

std::wstring text_of(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring text_of(const ui::control& c) {
    return text_of(ui::win32_toolkit::native_window(c));
}

bool has_visible_style(const ui::control& c) {
    return (GetWindowLongW(ui::win32_toolkit::native_window(c), GWL_STYLE) & WS_VISIBLE) != 0;
}

TEST(window_win32, real_window_shows_the_main_layout_after_start_up) {
    testing::sandbox box;
    testing::program_folder config;
    config.write("orvel_path.ini", testing::crlf_lines({box.root()}));
    config.write("orvel_scanner.ini", testing::crlf_lines({box.path({"in"}), "NGQ"}));
    ui::win32_toolkit tk;
    Tkelvad_main w(tk);
    tk.realize(w);
    w.run_handler([&] { w.FormCreate(); });

    ASSERT_NE(tk.window(), nullptr);
    EXPECT_EQ(text_of(tk.window()), L"Kelvad");
    RECT client{};
    GetClientRect(tk.window(), &client);
    EXPECT_EQ(client.right - client.left, 627);
    EXPECT_EQ(client.bottom - client.top, 593);
    EXPECT_EQ(text_of(w.Label5), L"Kelvad");
    EXPECT_EQ(text_of(w.be_lab), L"BE for NGQ traverse spectra:");
    EXPECT_EQ(text_of(w.output_path_editor), L"NGQ");
    EXPECT_EQ(text_of(w.active_button), L"Stop scan");
    EXPECT_EQ(text_of(w.clear_button), L"Clear input");
    EXPECT_FALSE(has_visible_style(w.automatic_product_identification));
    EXPECT_FALSE(has_visible_style(w.Button1));
    EXPECT_TRUE(has_visible_style(w.Label2));
    EXPECT_TRUE(has_visible_style(w.Message_board));
    const std::wstring memo = text_of(w.Memo1);
    EXPECT_EQ(memo.rfind(L"Zeiss Optoplex NGQ generates *.csv files", 0), 0u);

    w.click(w.active_button);
    EXPECT_EQ(text_of(w.active_button), L"Start scan");
    EXPECT_EQ(text_of(w.action_label), L"Not scanning ... ");
}

}  // namespace
}  // namespace kelvad
