#include "app/linux/window/message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>

namespace app {
namespace {

constexpr int kMargin = 16;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;

void CloseBox(Fl_Widget* widget, void*) {
  Fl_Window* box = widget->as_window() ? widget->as_window() : widget->window();
  box->hide();
}

}  // namespace

void ShowMessageBox(Fl_Window* owner, const char* title, const std::string& text, Fl_Font font,
                    Fl_Fontsize size) {
  fl_open_display();
  fl_font(font, size);
  int text_w = kMaxTextWidth;
  int text_h = 0;
  fl_measure(text.c_str(), text_w, text_h, 1);
  text_w = std::max(text_w, kButtonWidth + 40);
  text_h = std::max(text_h, fl_height());

  const int w = text_w + 2 * kMargin;
  const int h = kMargin + text_h + kMargin + kButtonHeight + 12;
  Fl_Window box(w, h, title);
  // A left-aligned label is drawn 3 pixels in from each side of its box.
  Fl_Box message(kMargin - 3, kMargin, text_w + 6, text_h);
  message.copy_label(text.c_str());
  message.align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  message.labelfont(font);
  message.labelsize(size);
  Fl_Return_Button ok((w - kButtonWidth) / 2, h - kButtonHeight - 12, kButtonWidth, kButtonHeight,
                      "OK");
  ok.labelfont(font);
  ok.labelsize(size);
  ok.callback(CloseBox);
  box.end();
  // Escape and the title bar's close button answer it like OK.
  box.callback(CloseBox);
  box.set_modal();
  if (owner && owner->shown() && owner->visible()) {
    box.position(owner->x() + (owner->w() - w) / 2, owner->y() + (owner->h() - h) / 2);
  } else {
    box.position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
  }
  box.show();
  ok.take_focus();
  while (box.shown()) Fl::wait();
}

}  // namespace app
