#include "ui/qt/qt_toolkit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <climits>
#include <stdexcept>

namespace kelvad::ui {
namespace {

// Set from a signal handler, read by the close poll of run(): a lock-free atomic is the one
// kind of shared object a signal handler may touch.
std::atomic<bool> close_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int close_poll_ms = 100;
constexpr int close_retry_ms = 50;

QString qstr(const std::string& text) {
    return QString::fromStdString(text);
}

QColor qcolour(font_colour colour) {
    return colour == font_colour::red ? QColor(Qt::red) : QColor(Qt::black);
}

void set_text_colour(QWidget& widget, QPalette::ColorRole role, font_colour colour) {
    const QColor wanted = qcolour(colour);
    QPalette palette = widget.palette();
    if (palette.color(role) == wanted) return;
    palette.setColor(role, wanted);
    widget.setPalette(palette);
}

// The window's font: 8-point Tahoma unless the form names another (Qt substitutes a font of
// the system where Tahoma is not installed).
QFont window_font(const font_style& style) {
    QFont font(style.family.empty() ? QStringLiteral("Tahoma") : qstr(style.family));
    if (style.pixel_height > 0) {
        font.setPixelSize(style.pixel_height);
    } else {
        font.setPointSize(8);
    }
    font.setBold(style.bold);
    return font;
}

// A control's own font, where it has one, derived from the window's.
void apply_control_font(QWidget& widget, const font_style& style) {
    if (style.family.empty() && style.pixel_height <= 0 && !style.bold) return;
    QFont font = widget.font();
    if (!style.family.empty()) font.setFamily(qstr(style.family));
    if (style.pixel_height > 0) font.setPixelSize(style.pixel_height);
    if (style.bold) font.setBold(true);
    widget.setFont(font);
}

class top_window : public QWidget {
  public:
    explicit top_window(form& owner) : owner_(owner) {}

    // Set by run(): the shutdown and the end of the event loop.
    std::function<void()> on_close;

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (owner_.handler_running()) {
            // The shutdown must not run inside a scan action that lets events through: try
            // again when the action may have ended.
            event->ignore();
            QTimer::singleShot(close_retry_ms, this, [this] { close(); });
            return;
        }
        event->accept();
        if (on_close) {
            const auto closing = on_close;
            closing();
        }
    }

  private:
    form& owner_;
};

// ---- peers ----

class widget_peer : public control_peer {
  public:
    widget_peer(control& c, QWidget* widget) : control_(c), widget_(widget) {}
    ~widget_peer() override { delete widget_.data(); }

    QWidget* widget() const { return widget_.data(); }

    void update() override {
        if (!widget_) return;
        widget_->setEnabled(control_.enabled());
        show_state();
        widget_->setVisible(control_.visible());
    }

  protected:
    virtual void show_state() {}
    control& control_;
    QPointer<QWidget> widget_;
};

class label_peer : public widget_peer {
  public:
    label_peer(control& c, QWidget* parent) : widget_peer(c, new QLabel(parent)) {
        label().setTextFormat(Qt::PlainText);  // paths and file names are never markup
    }

  private:
    QLabel& label() const { return *static_cast<QLabel*>(widget_.data()); }
    void show_state() override {
        const QString text = qstr(control_.text());
        if (label().text() != text) {
            label().setText(text);
            // A label without a width grows with its text.
            if (control_.place.width <= 0) label().adjustSize();
        }
        set_text_colour(label(), QPalette::WindowText, control_.colour());
    }
};

class edit_peer : public widget_peer {
  public:
    edit_peer(control& c, QWidget* parent) : widget_peer(c, new QLineEdit(parent)) {
        // textEdited comes from the operator only, never from setText.
        QObject::connect(&line(), &QLineEdit::textEdited, &line(),
                         [&c](const QString& text) { c.text_changed_by_user(text.toStdString()); });
    }

  private:
    QLineEdit& line() const { return *static_cast<QLineEdit*>(widget_.data()); }
    void show_state() override {
        const QString text = qstr(control_.text());
        if (line().text() != text) line().setText(text);
        set_text_colour(line(), QPalette::Text, control_.colour());
    }
};

class button_peer : public widget_peer {
  public:
    button_peer(button& b, QWidget* parent) : widget_peer(b, new QPushButton(parent)) {
        QObject::connect(&push(), &QPushButton::clicked, &push(), [&b] { b.owner().click(b); });
    }

  private:
    QPushButton& push() const { return *static_cast<QPushButton*>(widget_.data()); }
    void show_state() override {
        const QString text = qstr(control_.text());
        if (push().text() != text) push().setText(text);
        set_text_colour(push(), QPalette::ButtonText, control_.colour());
    }
};

class check_box_peer : public widget_peer {
  public:
    check_box_peer(check_box& c, QWidget* parent) : widget_peer(c, new QCheckBox(parent)) {
        // clicked comes from the operator only, never from setChecked.
        QObject::connect(&box(), &QCheckBox::clicked, &box(),
                         [&c](bool checked) { c.checked_changed_by_user(checked); });
    }

  private:
    QCheckBox& box() const { return *static_cast<QCheckBox*>(widget_.data()); }
    void show_state() override {
        const QString text = qstr(control_.text());
        if (box().text() != text) box().setText(text);
        const bool checked = static_cast<check_box&>(control_).checked();
        if (box().isChecked() != checked) box().setChecked(checked);
        set_text_colour(box(), QPalette::WindowText, control_.colour());
    }
};

// The list is changed line by line: it holds up to a thousand lines and gets several new ones
// a second, so rebuilding the whole text each time would cost more than the scan itself.
class text_list_peer : public widget_peer {
  public:
    text_list_peer(text_list& list, QWidget* parent)
        : widget_peer(list, new QPlainTextEdit(parent)) {
        edit().setReadOnly(true);
        // Every change would otherwise stay on the undo stack for the program's lifetime.
        edit().document()->setUndoRedoEnabled(false);
    }

    void line_appended(const std::string& line) override {
        if (!widget_) return;
        QTextCursor cursor(edit().document());
        cursor.movePosition(QTextCursor::End);
        if (lines_shown_ > 0) cursor.insertBlock();
        cursor.insertText(qstr(display_line(line)));
        ++lines_shown_;
        scroll_to_end();
    }

    // One edit of the document and one scroll for a tick's lines, however many they are.
    void lines_appended(const std::deque<std::string>& lines, std::size_t added,
                        std::size_t removed) override {
        if (!widget_) return;
        removed = std::min(removed, lines_shown_);
        if (removed == lines_shown_ && removed > 0) {
            edit().clear();
            lines_shown_ = 0;
            removed = 0;
        }
        if (removed == 0 && added == 0) return;
        // Inside one edit block the cursor's moves do not lay out the blocks they pass (to
        // keep a column for up and down moves nobody makes here): the document is laid out
        // once, for the lines that are new.
        QTextCursor cursor(edit().document());
        cursor.beginEditBlock();
        if (removed > 0) {
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                                static_cast<int>(removed));
            cursor.removeSelectedText();
            lines_shown_ -= removed;
        }
        if (added > 0) {
            QString text;
            for (std::size_t i = lines.size() - added; i < lines.size(); ++i) {
                if (lines_shown_ > 0 || i > lines.size() - added) text += QLatin1Char('\n');
                text += qstr(display_line(lines[i]));
            }
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(text);
            lines_shown_ += added;
        }
        cursor.endEditBlock();
        if (added > 0) scroll_to_end();
    }

    void first_line_removed() override {
        if (!widget_ || lines_shown_ == 0) return;
        if (lines_shown_ == 1) {
            edit().clear();
        } else {
            QTextCursor cursor(edit().document());
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        --lines_shown_;
    }

    // A text set whole (the information text) is read from its top; appended lines keep the
    // view at the end.
    void lines_reset() override {
        if (!widget_) return;
        const auto& lines = static_cast<text_list&>(control_).lines();
        QStringList shown;
        shown.reserve(static_cast<qsizetype>(lines.size()));
        for (const auto& line : lines) shown.push_back(qstr(display_line(line)));
        edit().setPlainText(shown.join(QLatin1Char('\n')));
        lines_shown_ = lines.size();
    }

  private:
    QPlainTextEdit& edit() const { return *static_cast<QPlainTextEdit*>(widget_.data()); }
    void scroll_to_end() {
        QScrollBar* bar = edit().verticalScrollBar();
        bar->setValue(bar->maximum());
    }
    // How many model lines the document holds: an empty document (one empty block) holds
    // none, so that an empty first line is not lost.
    std::size_t lines_shown_ = 0;
};

class timer_peer : public control_peer {
  public:
    timer_peer(timer& t, QObject* parent) : timer_(t), qtimer_(new QTimer(parent)) {
        qtimer_->setObjectName(qstr(t.name()));
        QObject::connect(qtimer_.data(), &QTimer::timeout, qtimer_.data(),
                         [&t] { t.owner().fire(t); });
    }
    ~timer_peer() override { delete qtimer_.data(); }

    // (Re)starts only when the timer is switched on or its interval changes: switching a
    // timer on starts its interval anew. An interval of 0 never ticks.
    void update() override {
        if (!qtimer_) return;
        const int ms = static_cast<int>(std::min<std::uint32_t>(timer_.interval(), INT_MAX));
        if (!timer_.enabled() || ms == 0) {
            qtimer_->stop();
        } else if (!qtimer_->isActive() || qtimer_->interval() != ms) {
            qtimer_->start(ms);
        }
    }

  private:
    timer& timer_;
    QPointer<QTimer> qtimer_;
};

std::unique_ptr<control_peer> make_peer(control& c, QWidget* parent) {
    switch (c.kind()) {
        case control_kind::label:
            return std::make_unique<label_peer>(c, parent);
        case control_kind::edit:
            return std::make_unique<edit_peer>(c, parent);
        case control_kind::button:
            return std::make_unique<button_peer>(static_cast<button&>(c), parent);
        case control_kind::check_box:
            return std::make_unique<check_box_peer>(static_cast<check_box&>(c), parent);
        case control_kind::text_list:
            return std::make_unique<text_list_peer>(static_cast<text_list&>(c), parent);
        case control_kind::timer:
            return std::make_unique<timer_peer>(static_cast<timer&>(c), parent);
    }
    return nullptr;
}

}  // namespace

struct qt_toolkit::impl {
    QPointer<top_window> window;
    bool busy = false;
};

qt_toolkit::qt_toolkit() : impl_(std::make_unique<impl>()) {}

qt_toolkit::~qt_toolkit() {
    if (impl_->busy) QApplication::restoreOverrideCursor();
    delete impl_->window.data();
}

QWidget* qt_toolkit::window() const {
    return impl_->window.data();
}

bool qt_toolkit::screenless() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void qt_toolkit::realize(form& f) {
    if (impl_->window) return;
    auto* window = new top_window(f);
    impl_->window = window;
    window->setFont(window_font(f.font));
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    window->setPalette(palette);
    window->setAutoFillBackground(true);

    for (control* c : f.controls()) {
        auto peer = make_peer(*c, window);
        if (auto* shown = dynamic_cast<widget_peer*>(peer.get())) {
            QWidget* widget = shown->widget();
            widget->setObjectName(qstr(c->name()));
            apply_control_font(*widget, c->font);
            const bounds& p = c->place;
            widget->setGeometry(p.left, p.top, p.width, p.height);
            if (c->kind() == control_kind::label && (p.width <= 0 || p.height <= 0)) {
                widget->adjustSize();
            }
        }
        peer->update();
        if (c->kind() == control_kind::text_list) peer->lines_reset();
        c->set_peer(std::move(peer));
    }
    form_changed(f);
}

void qt_toolkit::form_changed(form& f) {
    top_window* window = impl_->window.data();
    if (window == nullptr) return;
    window->setWindowTitle(qstr(f.caption()));
    if (f.client_width() > 0 && f.client_height() > 0) {
        window->resize(f.client_width(), f.client_height());
    }
    if (control* focused = f.focused()) {
        if (auto* shown = dynamic_cast<widget_peer*>(focused->peer())) {
            if (shown->widget() != nullptr) shown->widget()->setFocus();
        }
    }
}

void qt_toolkit::message_box(const std::string& text, const std::string& caption) {
    if (screenless()) return;  // logged by the form; nobody could press OK
    QMessageBox box(QMessageBox::NoIcon, qstr(caption), qstr(text), QMessageBox::Ok,
                    impl_->window.data());
    box.exec();
}

bool qt_toolkit::timed_message_box(const std::string& text, const std::string& caption,
                                   int close_after_ms) {
    if (screenless()) return false;  // answered OK at once, as message_box is
    QMessageBox box(QMessageBox::NoIcon, qstr(caption), qstr(text), QMessageBox::Ok,
                    impl_->window.data());
    bool closed_by_itself = false;
    QTimer close_timer;
    close_timer.setSingleShot(true);
    QObject::connect(&close_timer, &QTimer::timeout, &box, [&box, &closed_by_itself] {
        closed_by_itself = true;
        box.done(QMessageBox::Ok);
    });
    close_timer.start(std::max(close_after_ms, 0));
    box.exec();
    return closed_by_itself;
}

bool qt_toolkit::ask_yes_no(const std::string& text, const std::string& caption) {
    if (screenless()) return false;
    QMessageBox box(QMessageBox::Question, qstr(caption), qstr(text),
                    QMessageBox::Yes | QMessageBox::No, impl_->window.data());
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void qt_toolkit::set_busy_cursor(bool busy) {
    if (busy == impl_->busy) return;
    impl_->busy = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void qt_toolkit::process_pending_events() {
    QCoreApplication::processEvents();
}

void qt_toolkit::form_destroyed(form&) {
    delete impl_->window.data();
}

int run(form& f, std::function<void()> on_close) {
    auto* tk = dynamic_cast<qt_toolkit*>(&f.tk());
    if (tk == nullptr) throw std::logic_error("run: the form does not use the Qt toolkit");
    if (tk->window() == nullptr) tk->realize(f);
    auto* window = static_cast<top_window*>(tk->window());

    QEventLoop loop;
    bool closed = false;
    const auto shut_down = [&] {
        if (closed) return;
        closed = true;
        f.run_handler(on_close ? on_close : [] {});
    };
    window->on_close = [&] {
        shut_down();
        loop.quit();
    };

    // run() ends the loop itself; the application must not quit behind its back.
    const bool quit_on_last = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);

    QTimer close_poll;
    QObject::connect(&close_poll, &QTimer::timeout, window, [window] {
        if (close_requested.exchange(false)) window->close();
    });
    close_poll.start(close_poll_ms);

    window->show();
    // Without a screen nobody sees the window: painting it would only cost the time that the
    // result files need.
    if (qt_toolkit::screenless()) window->setUpdatesEnabled(false);
    const int result = loop.exec();

    close_poll.stop();
    window->on_close = nullptr;
    shut_down();  // the loop may also end without a close (the session ends)
    QApplication::setQuitOnLastWindowClosed(quit_on_last);
    return result;
}

void request_close() noexcept {
    close_requested.store(true);
}

}  // namespace kelvad::ui
