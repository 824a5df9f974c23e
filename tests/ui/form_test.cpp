// The toolkit-neutral form on the headless toolkit: handler boundary, error display, timers,
// lists, boxes and the log lines they leave.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/error.h"
#include "foundation/file_utils.h"
#include "foundation/log.h"
#include "foundation/sprachen.h"
#include "ui/form.h"
#include "ui/headless/headless_toolkit.h"

namespace kelvad::ui {
namespace {

class test_form : public form {
  public:
    explicit test_form(toolkit& tk)
        : form(tk),
          title(*this, "title"),
          path(*this, "path"),
          go(*this, "go"),
          option(*this, "option"),
          board(*this, "Message_board"),
          memo(*this, "memo"),
          tick(*this, "tick") {
        set_caption("Test window");
    }
    label title;
    edit path;
    button go;
    check_box option;
    text_list board;
    text_list memo;
    timer tick;
};

// A form without a message list.
class bare_form : public form {
  public:
    explicit bare_form(toolkit& tk) : form(tk), go(*this, "go") { set_caption("Bare"); }
    button go;
};

// Records what the form tells a control's native counterpart.
struct recording_peer : control_peer {
    std::vector<std::string>& calls;
    explicit recording_peer(std::vector<std::string>& c) : calls(c) {}
    void update() override { calls.push_back("update"); }
    void line_appended(const std::string& line) override { calls.push_back("append " + line); }
    void first_line_removed() override { calls.push_back("remove first"); }
    void lines_reset() override { calls.push_back("reset"); }
};

class form_test : public ::testing::Test {
  protected:
    void SetUp() override {
        log_path_ = ::testing::TempDir() + "ui_form_test_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        std::remove(log_path_.c_str());
        open_log(log_path_, false);
    }
    void TearDown() override {
        close_log();
        std::remove(log_path_.c_str());
    }

    // The texts of the log lines, without their time stamps.
    std::vector<std::string> log_texts() const {
        std::ifstream in(log_path_, std::ios::binary);
        std::vector<std::string> texts;
        std::string line;
        while (std::getline(in, line)) {
            const auto tab = line.find('\t');
            texts.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        }
        return texts;
    }

    headless_toolkit tk_;
    std::string log_path_;
};

using boxes = std::vector<headless_toolkit::box>;
using lines = std::vector<std::string>;

lines lines_of(const text_list& list) {
    return {list.lines().begin(), list.lines().end()};
}

TEST_F(form_test, error_arriving_while_the_error_box_is_open_goes_to_log_and_message_list) {
    test_form f(tk_);
    // Timer ticks keep coming while the modal box waits for the operator.
    int ticks_during_box = 0;
    f.tick.on_timer = [&] {
        ++ticks_during_box;
        throw kelvad_error("disk full");
    };
    tk_.while_box_open = [&] {
        f.fire(f.tick);
        f.fire(f.tick);
    };
    f.show_error("first failure");

    EXPECT_EQ(ticks_during_box, 2);
    EXPECT_EQ(tk_.boxes, (boxes{{"first failure", "Test window"}}));
    EXPECT_EQ(lines_of(f.board), (lines{"Error: disk full", "Error: disk full"}));
    EXPECT_EQ(log_texts(), (lines{"error: first failure", "error: disk full", "error: disk full"}));

    // Once the box is closed, the next error opens a box again.
    tk_.while_box_open = nullptr;
    f.show_error("later failure");
    EXPECT_EQ(tk_.boxes.size(), 2u);
    EXPECT_EQ(tk_.boxes.back().text, "later failure");
}

TEST_F(form_test, error_while_box_open_without_message_list_goes_to_log_only) {
    bare_form f(tk_);
    tk_.while_box_open = [&] { f.show_error("second"); };
    f.show_error("first");
    EXPECT_EQ(tk_.boxes, (boxes{{"first", "Bare"}}));
    EXPECT_EQ(log_texts(), (lines{"error: first", "error: second"}));
}

TEST_F(form_test, error_display_reopens_after_a_toolkit_box_that_throws) {
    test_form f(tk_);
    tk_.while_box_open = [] { throw std::runtime_error("box broke"); };
    EXPECT_THROW(f.show_error("one"), std::runtime_error);
    tk_.while_box_open = nullptr;
    f.show_error("two");
    ASSERT_EQ(tk_.boxes.size(), 2u);
    EXPECT_EQ(tk_.boxes[1].text, "two");
}

TEST_F(form_test, run_handler_shows_every_escaping_error_and_lets_nothing_through) {
    struct case_t {
        const char* name;
        std::function<void()> handler;
        const char* shown;  // nullptr: no box
    };
    const std::vector<case_t> cases = {
        {"project error", [] { throw kelvad_error("Cannot open file x"); }, "Cannot open file x"},
        {"standard error", [] { throw std::out_of_range("List index out of bounds (1)"); },
         "List index out of bounds (1)"},
        {"foreign object", [] { throw 42; }, "Unknown error"},
        {"no error", [] {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        headless_toolkit tk;
        test_form f(tk);
        EXPECT_NO_THROW(f.run_handler(c.handler));
        if (c.shown == nullptr) {
            EXPECT_TRUE(tk.boxes.empty());
        } else {
            EXPECT_EQ(tk.boxes, (boxes{{c.shown, "Test window"}}));
        }
    }
    EXPECT_EQ(log_texts(), (lines{"error: Cannot open file x",
                                  "error: List index out of bounds (1)", "error: Unknown error"}));
}

TEST_F(form_test, run_handler_survives_a_failing_error_display) {
    test_form f(tk_);
    tk_.while_box_open = [] { throw std::runtime_error("box broke"); };
    EXPECT_NO_THROW(f.run_handler([] { throw kelvad_error("first"); }));
    EXPECT_FALSE(f.handler_running());
}

TEST_F(form_test, timer_ticks_only_while_enabled_and_goes_on_after_an_error) {
    test_form f(tk_);
    int runs = 0;
    f.tick.on_timer = [&] {
        ++runs;
        throw kelvad_error("tick failed");
    };
    f.tick.set_enabled(false);
    f.fire(f.tick);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(tk_.boxes.empty());

    f.tick.set_enabled(true);
    f.fire(f.tick);
    f.fire(f.tick);
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(f.tick.enabled());
    EXPECT_EQ(tk_.boxes.size(), 2u);
}

TEST_F(form_test, click_during_an_action_runs_nested_and_disabled_button_ignores_it) {
    test_form f(tk_);
    std::vector<std::string> order;
    f.go.on_click = [&] {
        order.push_back(f.handler_running() ? "click inside handler" : "click outside");
    };
    f.tick.on_timer = [&] {
        order.push_back("action start");
        f.process_pending_events();
        order.push_back("action end");
    };
    tk_.on_pending_events = [&] { f.click(f.go); };
    f.fire(f.tick);
    EXPECT_EQ(order, (lines{"action start", "click inside handler", "action end"}));
    EXPECT_EQ(tk_.pending_event_calls, 1);
    EXPECT_FALSE(f.handler_running());

    order.clear();
    f.go.set_enabled(false);
    f.click(f.go);
    EXPECT_TRUE(order.empty());
}

TEST_F(form_test, handler_may_replace_itself_while_it_runs) {
    test_form f(tk_);
    int first = 0, second = 0;
    f.go.on_click = [&] {
        ++first;
        f.go.on_click = [&] { ++second; };
        ++first;  // still running on the copy taken before the call
    };
    f.click(f.go);
    f.click(f.go);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 1);
}

TEST_F(form_test, changes_reach_the_peer_but_user_edits_and_unchanged_values_do_not) {
    test_form f(tk_);
    std::vector<std::string> calls;
    f.path.set_peer(std::make_unique<recording_peer>(calls));
    f.path.set_text("C:\\in");
    f.path.set_text("C:\\in");
    f.path.set_colour(font_colour::red);
    f.path.set_visible(false);
    f.path.set_enabled(false);
    f.path.text_changed_by_user("typed");
    EXPECT_EQ(calls, (lines{"update", "update", "update", "update"}));
    EXPECT_EQ(f.path.text(), "typed");

    std::vector<std::string> timer_calls;
    f.tick.set_peer(std::make_unique<recording_peer>(timer_calls));
    f.tick.set_interval(1000);  // unchanged: a running timer must not restart its interval
    f.tick.set_interval(5000);
    f.tick.set_enabled(false);
    EXPECT_EQ(timer_calls, (lines{"update", "update"}));

    std::vector<std::string> box_calls;
    f.option.set_peer(std::make_unique<recording_peer>(box_calls));
    f.option.set_checked(true);
    f.option.checked_changed_by_user(false);
    EXPECT_EQ(box_calls, (lines{"update"}));
    EXPECT_FALSE(f.option.checked());
}

TEST_F(form_test, text_list_changes_line_by_line_and_message_list_lines_are_logged) {
    test_form f(tk_);
    std::vector<std::string> calls;
    f.board.set_peer(std::make_unique<recording_peer>(calls));
    f.board.delete_first();  // nothing to remove
    f.board.add("Processed ONGQ result: a.csv");
    f.board.add("---");
    f.board.delete_first();
    f.memo.add("information, not logged");
    f.board.set_lines({"x", "y"});
    EXPECT_EQ(calls, (lines{"append Processed ONGQ result: a.csv", "append ---", "remove first",
                            "reset"}));
    EXPECT_EQ(lines_of(f.board), (lines{"x", "y"}));
    EXPECT_EQ(log_texts(), (lines{"Processed ONGQ result: a.csv", "---"}));
}

TEST_F(form_test, boxes_and_questions_are_logged_and_answered) {
    test_form f(tk_);
    tk_.answers = {true};
    f.show_message("Error reading password file!");
    EXPECT_TRUE(f.ask_yes_no("Use the workbook?", "Question"));
    EXPECT_FALSE(f.ask_yes_no("And again?", "Question"));  // queue empty: No
    EXPECT_EQ(tk_.boxes, (boxes{{"Error reading password file!", "Test window"}}));
    EXPECT_EQ(tk_.questions,
              (boxes{{"Use the workbook?", "Question"}, {"And again?", "Question"}}));
    EXPECT_EQ(log_texts(), (lines{"message box: Error reading password file!",
                                  "message box: Use the workbook?", "message box: And again?"}));
}

TEST_F(form_test, message_list_keeps_its_newest_lines_however_they_arrive) {
    test_form f(tk_);
    EXPECT_EQ(f.board.most_lines, 1000u);
    EXPECT_EQ(f.memo.most_lines, 0u);  // any other list keeps every line
    f.board.most_lines = 3;
    std::vector<std::string> calls;
    f.board.set_peer(std::make_unique<recording_peer>(calls));

    // Errors that arrive while the error box is open are listed as well.
    f.board.add("a");
    f.board.add("b");
    f.board.add("c");
    tk_.while_box_open = [&] { f.show_error("disk full"); };
    f.show_error("first failure");
    f.board.add("d");
    EXPECT_EQ(lines_of(f.board), (lines{"c", "Error: disk full", "d"}));
    // The oldest line leaves the native list before the new one comes in.
    EXPECT_EQ(calls, (lines{"append a", "append b", "append c", "remove first",
                            "append Error: disk full", "remove first", "append d"}));
    // Every line reaches the log, also those the list no longer holds.
    EXPECT_EQ(log_texts(), (lines{"a", "b", "c", "error: first failure", "error: disk full", "d"}));

    calls.clear();
    f.board.set_lines({"1", "2", "3", "4", "5"});
    EXPECT_EQ(lines_of(f.board), (lines{"3", "4", "5"}));
    EXPECT_EQ(calls, (lines{"reset"}));

    // A tick's lines at once: the list and the log as if they came one by one.
    const std::size_t logged = log_texts().size();
    f.board.add_lines({"6", "7"});
    EXPECT_EQ(lines_of(f.board), (lines{"5", "6", "7"}));
    f.board.add_lines({"8", "9", "10", "11"});  // more than the list holds
    EXPECT_EQ(lines_of(f.board), (lines{"9", "10", "11"}));
    const std::vector<std::string> texts = log_texts();
    EXPECT_EQ(
        std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(logged), texts.end()),
        (lines{"6", "7", "8", "9", "10", "11"}));

    // The list without a cap keeps everything.
    for (int i = 0; i < 1500; ++i) f.memo.add(std::to_string(i));
    EXPECT_EQ(f.memo.count(), 1500u);
}

TEST_F(form_test, message_list_holds_its_thousand_lines_by_default) {
    test_form f(tk_);
    for (int i = 0; i < 2500; ++i) f.board.add("line " + std::to_string(i));
    ASSERT_EQ(f.board.count(), 1000u);
    EXPECT_EQ(f.board.lines().front(), "line 1500");
    EXPECT_EQ(f.board.lines().back(), "line 2499");
}

TEST_F(form_test, box_from_a_result_file_closes_by_itself_and_says_so_in_the_log) {
    struct case_t {
        const char* name;
        bool closes_by_itself;
        int close_after_ms;
        lines logged;
    };
    const std::string text = "Unexpected file structure - keyword \"stamp\" not found!";
    const std::vector<case_t> cases = {
        {"nobody there",
         true,
         60000,
         {"message box: " + text, "message box closed by itself after 60 s: " + text}},
        {"shorter time",
         true,
         5000,
         {"message box: " + text, "message box closed by itself after 5 s: " + text}},
        {"operator pressed OK", false, 60000, {"message box: " + text}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        close_log();
        std::remove(log_path_.c_str());
        open_log(log_path_, false);
        headless_toolkit tk;
        tk.timed_boxes_close_by_themselves = c.closes_by_itself;
        test_form f(tk);
        EXPECT_EQ(f.file_message_close_after_ms, 60000);
        f.file_message_close_after_ms = c.close_after_ms;
        f.show_file_message(text);
        EXPECT_EQ(tk.boxes, (boxes{{text, "Test window", c.close_after_ms}}));
        EXPECT_EQ(log_texts(), c.logged);
    }
}

TEST_F(form_test, foundations_use_the_window_while_it_exists) {
    {
        test_form f(tk_);
        show_foundation_message("Warning - creation of temporary file failed");
        sprachen table;
        table.load_file(::testing::TempDir() + "no such table.bin");
        EXPECT_EQ(tk_.boxes,
                  (boxes{{"Warning - creation of temporary file failed", "Test window"}}));
        EXPECT_EQ(tk_.busy_changes, (std::vector<bool>{true, false}));
    }
    // The window is gone: the text goes to the log only, and nothing calls into the old form.
    show_foundation_message("after the window");
    EXPECT_EQ(tk_.boxes.size(), 1u);
    EXPECT_TRUE(tk_.destroyed);
    EXPECT_EQ(log_texts(), (lines{"message box: Warning - creation of temporary file failed",
                                  "message box: after the window"}));
}

TEST_F(form_test, find_and_focus_follow_the_controls) {
    headless_toolkit tk;
    test_form f(tk);
    EXPECT_EQ(f.find("Message_board"), &f.board);
    EXPECT_EQ(f.find("missing"), nullptr);
    {
        label extra(f, "extra");
        f.set_focus(extra);
        EXPECT_EQ(f.find("extra"), &extra);
        EXPECT_EQ(f.focused(), &extra);
    }
    EXPECT_EQ(f.find("extra"), nullptr);
    EXPECT_EQ(f.focused(), nullptr);
}

TEST(display_line_test, line_breaks_become_blanks) {
    EXPECT_EQ(display_line("a\r\nb\rc\nd"), "a  b c d");
    EXPECT_EQ(display_line("plain"), "plain");
}

}  // namespace
}  // namespace kelvad::ui
