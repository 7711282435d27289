// A picture that acts as a button: it shows its image from its top-left corner and runs its
// callback on a left click (press and release inside it) or on Space/Enter while it has focus.
#pragma once

#include <FL/Fl_Image.H>
#include <FL/Fl_Widget.H>

namespace app {

class PictureButton : public Fl_Widget {
 public:
  PictureButton(int x, int y, int w, int h, Fl_Image* image);

  int handle(int event) override;

 protected:
  void draw() override;

 private:
  Fl_Image* image_;
};

}  // namespace app
