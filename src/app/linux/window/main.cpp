// kestrova: the window program. It ends when its window is closed.
#include <FL/Fl.H>

#include "app/linux/window/frm_main.h"

int main() {
  Fl::visual(FL_RGB);
  Fl::scheme("gtk+");
  app::frmMain window;
  window.show();
  return Fl::run();
}
