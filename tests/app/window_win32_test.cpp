// The program's real window on Win32 (under Wine with a display): captions, controls and the
// state after start-up.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/program.h"
#include "foundation/log.h"
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

// The system cannot create the window (as without a display): realize throws as the real one
// does then. Its boxes are recorded and close by themselves, as nobody is there.
class window_cannot_be_created : public ui::win32_toolkit {
  public:
    explicit window_cannot_be_created(std::string reason) : reason_(std::move(reason)) {}
    void realize(ui::form&) override { throw std::runtime_error(reason_); }
    bool timed_message_box(const std::string& text, const std::string&, int ms) override {
        boxes.push_back(text);
        close_after_ms = ms;
        return true;
    }
    bool ask_yes_no(const std::string&, const std::string&) override { return false; }
    std::vector<std::string> boxes;
    int close_after_ms = 0;

  private:
    std::string reason_;
};

TEST(window_win32, start_up_without_a_window_is_logged_shown_and_ends_with_code_1) {
    const std::string reason =
        "The window could not be created (test " + std::to_string(GetTickCount()) + ")";
    window_cannot_be_created tk(reason);
    bool window_ran = false;
    const int code = run_program(tk, false, [&](ui::form&, std::function<void()>) {
        window_ran = true;
        return 0;
    });
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(window_ran);
    EXPECT_EQ(tk.boxes, std::vector<std::string>{reason});
    EXPECT_GT(tk.close_after_ms, 0);  // the box does not wait for somebody who is not there

    std::ifstream in(default_log_path(), std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("\terror: " + reason), std::string::npos) << log.str();
}

}  // namespace
}  // namespace kelvad
