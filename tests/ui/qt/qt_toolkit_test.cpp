// The form on Qt Widgets under the offscreen platform: native widgets, events in both
// directions, the real event loop, and run()'s close.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "ui/form.h"
#include "ui/qt/qt_toolkit.h"
#include "ui/test_form.h"

namespace kelvad::ui {
namespace {

using fixtures::test_form;

template <typename W>
W* child(qt_toolkit& tk, const char* name) {
    return tk.window()->findChild<W*>(QString::fromLatin1(name));
}

// Runs the event loop until `done` holds or two seconds have passed.
template <typename F>
bool spin_until(F done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

TEST(qt_toolkit_test, realize_builds_the_window_from_the_model) {
    qt_toolkit tk;
    test_form f(tk);
    tk.realize(f);
    ASSERT_NE(tk.window(), nullptr);
    EXPECT_EQ(tk.window()->windowTitle(), QString("ORVEL  scanner"));
    EXPECT_EQ(tk.window()->size(), QSize(627, 258));

    auto* title = child<QLabel>(tk, "title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QString("ORVEL spectrum import"));
    EXPECT_EQ(title->geometry(), QRect(8, 8, 300, 24));
    EXPECT_EQ(title->font().family(), QString("Times New Roman"));
    EXPECT_EQ(title->font().pixelSize(), 21);
    EXPECT_EQ(child<QLineEdit>(tk, "path")->text(), QString("Specify input path here"));
    auto* go = child<QPushButton>(tk, "go");
    EXPECT_EQ(go->text(), QString("Stop scan"));
    EXPECT_EQ(go->palette().color(QPalette::ButtonText), QColor(Qt::red));
    EXPECT_TRUE(child<QCheckBox>(tk, "option")->isHidden());
    EXPECT_FALSE(go->isHidden());
    auto* board = child<QPlainTextEdit>(tk, "Message_board");
    EXPECT_TRUE(board->isReadOnly());
    EXPECT_EQ(board->toPlainText(), QString("first"));
    EXPECT_NE(tk.window()->findChild<QTimer*>("tick"), nullptr);
}

TEST(qt_toolkit_test, model_changes_reach_the_widgets_and_user_input_the_model) {
    qt_toolkit tk;
    test_form f(tk);
    tk.realize(f);
    f.title.set_text("Kelvad");
    f.go.set_text("Start scan");
    f.go.set_colour(font_colour::black);
    f.option.set_visible(true);
    f.option.set_checked(true);
    f.set_caption("Kelvad");
    EXPECT_EQ(child<QLabel>(tk, "title")->text(), QString("Kelvad"));
    EXPECT_EQ(child<QPushButton>(tk, "go")->text(), QString("Start scan"));
    EXPECT_EQ(child<QPushButton>(tk, "go")->palette().color(QPalette::ButtonText),
              QColor(Qt::black));
    EXPECT_FALSE(child<QCheckBox>(tk, "option")->isHidden());
    EXPECT_TRUE(child<QCheckBox>(tk, "option")->isChecked());
    EXPECT_EQ(tk.window()->windowTitle(), QString("Kelvad"));

    auto* path = child<QLineEdit>(tk, "path");
    path->clear();
    QTest::keyClicks(path, "/data/in");
    EXPECT_EQ(f.path.text(), "/data/in");

    child<QCheckBox>(tk, "option")->click();
    EXPECT_FALSE(f.option.checked());

    int clicks = 0;
    f.go.on_click = [&] { ++clicks; };
    child<QPushButton>(tk, "go")->click();
    EXPECT_EQ(clicks, 1);
}

TEST(qt_toolkit_test, message_list_changes_line_by_line_and_stays_at_its_end) {
    qt_toolkit tk;
    test_form f(tk);
    tk.realize(f);
    auto* board = child<QPlainTextEdit>(tk, "Message_board");

    f.board.delete_first();
    f.board.add("");  // an empty first line is a line of its own
    f.board.add("b\nc");
    EXPECT_EQ(board->toPlainText(), QString("\nb c"));
    f.board.delete_first();
    EXPECT_EQ(board->toPlainText(), QString("b c"));

    for (int i = 0; i < 200; ++i) f.board.add("line " + std::to_string(i));
    while (f.board.count() > 50) f.board.delete_first();
    EXPECT_EQ(board->document()->blockCount(), 50);
    EXPECT_EQ(board->document()->firstBlock().text(), QString("line 150"));
    EXPECT_EQ(board->document()->lastBlock().text(), QString("line 199"));
    QScrollBar* bar = board->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    f.board.set_lines({"x", "y"});
    EXPECT_EQ(board->toPlainText(), QString("x\ny"));

    // Lines added as a group, the oldest going to make room, as one change of the document.
    f.board.most_lines = 4;
    f.board.add_lines({"1", "", "3"});
    EXPECT_EQ(board->toPlainText(), QString("y\n1\n\n3"));
    f.board.add_lines({"4", "5", "6", "7", "8"});
    EXPECT_EQ(board->toPlainText(), QString("5\n6\n7\n8"));
    f.board.set_lines({});
    f.board.add_lines({"", "a"});
    EXPECT_EQ(board->toPlainText(), QString("\na"));
    EXPECT_EQ(board->document()->blockCount(), 2);
}

TEST(qt_toolkit_test, enabled_timer_ticks_through_the_event_loop) {
    qt_toolkit tk;
    test_form f(tk);
    tk.realize(f);
    int ticks = 0;
    f.tick.on_timer = [&] { ++ticks; };
    QTest::qWait(50);
    EXPECT_EQ(ticks, 0);  // disabled
    f.tick.set_enabled(true);
    EXPECT_TRUE(spin_until([&] { return ticks >= 2; }));
    f.tick.set_enabled(false);
    const int stopped_at = ticks;
    QTest::qWait(50);
    EXPECT_EQ(ticks, stopped_at);
}

TEST(qt_toolkit_test, boxes_are_answered_without_a_screen_and_busy_cursor_is_set) {
    qt_toolkit tk;
    test_form f(tk);
    tk.realize(f);
    ASSERT_TRUE(qt_toolkit::screenless());
    f.show_message("nobody can press OK");  // must return by itself
    EXPECT_FALSE(f.ask_yes_no("Use the workbook?", "Question"));
    // Answered OK at once, not after its time: it did not close by itself.
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(tk.timed_message_box("from a result file", "Kelvad", 60000));
    EXPECT_LT(clock.elapsed(), 1000);

    f.set_busy_cursor(true);
    f.set_busy_cursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    f.set_busy_cursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// On a screen (QT_QPA_PLATFORM=xcb with an X server) the box is shown and closes by itself,
// or by a press of OK before its time.
TEST(qt_toolkit_test, timed_box_on_a_screen_closes_by_itself_unless_somebody_presses_ok) {
    if (qt_toolkit::screenless()) GTEST_SKIP() << "boxes are not shown without a screen";
    struct case_t {
        const char* name;
        int close_after_ms;
        int press_after_ms;  // the press after 5 s only keeps a broken box from hanging
        bool closed_by_itself;
    };
    const case_t cases[] = {
        {"nobody there", 300, 5000, true},
        {"operator presses OK", 10000, 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qt_toolkit tk;
        test_form f(tk);
        tk.realize(f);
        QString shown;
        QTimer press;
        press.setSingleShot(true);
        QObject::connect(&press, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        press.start(c.press_after_ms);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(tk.timed_message_box("from a result file", "Kelvad", c.close_after_ms),
                  c.closed_by_itself);
        EXPECT_LT(clock.elapsed(), 5000);
        if (c.closed_by_itself) {
            EXPECT_GE(clock.elapsed(), 250);
            EXPECT_TRUE(shown.isEmpty());
        } else {
            EXPECT_EQ(shown, QString("from a result file"));
        }
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST(qt_toolkit_test, run_ends_on_request_close_and_calls_on_close_once) {
    qt_toolkit tk;
    test_form f(tk);
    int closes = 0;
    QTimer::singleShot(50, [] { request_close(); });
    const int result = run(f, [&] { ++closes; });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(closes, 1);
}

TEST(qt_toolkit_test, close_during_a_handler_waits_until_the_handler_ends) {
    qt_toolkit tk;
    test_form f(tk);
    int closes = 0;
    bool closed_inside_action = false;
    f.tick.on_timer = [&] {
        f.tick.set_enabled(false);
        request_close();
        // A long action that lets events through, as the scan cycle does after each file.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400) {
            f.process_pending_events();
            if (closes > 0) closed_inside_action = true;
        }
    };
    f.tick.set_enabled(true);
    run(f, [&] { ++closes; });
    EXPECT_FALSE(closed_inside_action);
    EXPECT_EQ(closes, 1);
}

TEST(qt_toolkit_test, closing_the_window_calls_on_close_once) {
    qt_toolkit tk;
    test_form f(tk);
    int closes = 0;
    QTimer::singleShot(50, [&] {
        tk.window()->close();
        tk.window()->close();  // a second close finds the shutdown done
    });
    run(f, [&] { ++closes; });
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace kelvad::ui

int main(int argc, char** argv) {
    // No screen in the test run; an explicit platform from outside still counts.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
