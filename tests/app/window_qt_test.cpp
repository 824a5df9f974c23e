// The program's real window on Qt (offscreen): captions, controls and the state after start-up.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "main_window/kelvad_Unit.h"
#include "support/sandbox.h"
#include "ui/qt/qt_toolkit.h"

namespace kelvad {
namespace {

template <typename W>
W* widget(ui::qt_toolkit& tk, const char* name) {
    W* w = tk.window()->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

TEST(window_qt, real_window_shows_the_main_layout_after_start_up) {
    testing::sandbox box;
    testing::program_folder config;
    config.write("orvel_path.ini", testing::crlf_lines({box.root()}));
    config.write("orvel_scanner.ini", testing::crlf_lines({box.path({"in"}), "NGQ"}));
    ui::qt_toolkit tk;
    Tkelvad_main w(tk);
    tk.realize(w);
    w.run_handler([&] { w.FormCreate(); });

    EXPECT_EQ(tk.window()->windowTitle(), QString("Kelvad"));
    EXPECT_EQ(tk.window()->size(), QSize(627, 593));
    EXPECT_EQ(widget<QLabel>(tk, "Label5")->text(), QString("Kelvad"));
    EXPECT_EQ(widget<QLabel>(tk, "be_lab")->text(), QString("BE for NGQ traverse spectra:"));
    EXPECT_EQ(widget<QLineEdit>(tk, "output_path_editor")->text(), QString("NGQ"));
    EXPECT_EQ(widget<QLabel>(tk, "ORVEL_path_label")->text(),
              QString::fromStdString(box.root() + "/"));
    auto* active = widget<QPushButton>(tk, "active_button");
    EXPECT_EQ(active->text(), QString("Stop scan"));
    EXPECT_EQ(active->palette().color(QPalette::ButtonText), QColor(Qt::red));
    EXPECT_EQ(widget<QPushButton>(tk, "clear_button")->text(), QString("Clear input"));
    EXPECT_TRUE(widget<QCheckBox>(tk, "automatic_product_identification")->isHidden());
    EXPECT_TRUE(widget<QPushButton>(tk, "Button1")->isHidden());
    EXPECT_FALSE(widget<QLabel>(tk, "Label2")->isHidden());
    EXPECT_FALSE(widget<QPlainTextEdit>(tk, "Message_board")->isHidden());
    const QString memo = widget<QPlainTextEdit>(tk, "Memo1")->toPlainText();
    EXPECT_TRUE(memo.startsWith("Zeiss Optoplex NGQ generates *.csv files"));
    EXPECT_EQ(memo.count('\n'), 10);

    w.click(w.active_button);
    EXPECT_EQ(active->text(), QString("Start scan"));
    EXPECT_EQ(widget<QLabel>(tk, "action_label")->text(), QString("Not scanning ... "));
}

}  // namespace
}  // namespace kelvad

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
