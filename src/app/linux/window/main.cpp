// kestrova: the window program. It ends when its window is closed.
#include <FL/Fl.H>

#include <cstdio>
#include <cstring>

#include "app/linux/window/frm_main.h"

int main(int argc, char** argv) {
  // Only the two informational options: the window takes no others.
  if (argc > 1) {
    if (std::strcmp(argv[1], "--version") == 0) {
      std::printf("kestrova %s\n", KESTROVA_VERSION);
      return 0;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      std::printf(
          "Usage: kestrova [--help] [--version]\n"
          "\n"
          "Shows the window that takes an inventory of this computer's devices and\n"
          "drivers. The same scan without a window: kestrova-scan.\n");
      return 0;
    }
    std::fprintf(stderr, "kestrova: unknown argument '%s'\nUsage: kestrova [--help] [--version]\n",
                 argv[1]);
    return 2;
  }
  Fl::visual(FL_RGB);
  Fl::scheme("gtk+");
  app::frmMain window;
  window.show();
  return Fl::run();
}
