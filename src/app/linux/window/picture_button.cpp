#include "app/linux/window/picture_button.h"

#include <FL/Fl.H>

namespace app {

PictureButton::PictureButton(int x, int y, int w, int h, Fl_Image* image)
    : Fl_Widget(x, y, w, h), image_(image) {
  box(FL_NO_BOX);
}

void PictureButton::draw() {
  if (image_) image_->draw(x(), y());
  if (Fl::focus() == this) draw_focus(FL_FLAT_BOX, x(), y(), w(), h());
}

int PictureButton::handle(int event) {
  switch (event) {
    case FL_ENTER:
    case FL_LEAVE:
    case FL_MOVE:
      // Claimed so the window knows the pointer is over a picture button.
      return 1;
    case FL_PUSH:
      if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
      if (Fl::visible_focus() && handle(FL_FOCUS)) Fl::focus(this);
      return 1;
    case FL_DRAG:
      return 1;
    case FL_RELEASE:
      // A click is a press and a release inside the picture.
      if (Fl::event_button() == FL_LEFT_MOUSE && Fl::event_inside(this)) do_callback();
      return 1;
    case FL_FOCUS:
    case FL_UNFOCUS:
      if (!Fl::visible_focus()) return 0;
      redraw();
      return 1;
    case FL_KEYBOARD:
      if (Fl::focus() != this) return 0;
      if (Fl::event_key() == ' ' || Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) {
        do_callback();
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace app
