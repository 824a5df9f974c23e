#pragma once
// A small window with one control of each kind, laid out like the scanner window's first
// rows, for the smoke tests of the native back ends.

#include "ui/form.h"

namespace kelvad::ui::fixtures {

class test_form : public form {
  public:
    explicit test_form(toolkit& tk)
        : form(tk),
          title(*this, "title"),
          path(*this, "path"),
          go(*this, "go"),
          option(*this, "option"),
          board(*this, "Message_board"),
          tick(*this, "tick") {
        set_caption("ORVEL  scanner");
        set_client_size(627, 258);
        title.set_text("ORVEL spectrum import");
        title.font = {"Times New Roman", 21, false};
        title.place = {8, 8, 300, 24};
        path.set_text("Specify input path here");
        path.place = {8, 40, 300, 21};
        go.set_text("Stop scan");
        go.set_colour(font_colour::red);
        go.place = {8, 70, 100, 25};
        option.set_text("Automatic product identification");
        option.set_visible(false);
        option.place = {8, 100, 200, 17};
        board.place = {8, 120, 600, 100};
        board.add("first");
        tick.set_enabled(false);
        tick.set_interval(10);
    }
    label title;
    edit path;
    button go;
    check_box option;
    text_list board;
    timer tick;
};

}  // namespace kelvad::ui::fixtures
