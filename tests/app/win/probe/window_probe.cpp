// window_probe.exe: lets the end-to-end test see and steer the running
// window from outside, where X11 alone cannot tell (no window manager in the
// test display): its state, the status line, the options.
//   window_probe state    prints iconic=, status=, internet=, internet2=, and
//                         message= while a message box of the program is open
//   window_probe restore  restores the window from minimised
//   window_probe close    asks the window to close
// Exit status 0, or 2 when no window is found.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "layout.h"

using namespace app::win;

int main(int argc, char** argv) {
  const char* command = argc > 1 ? argv[1] : "state";
  HWND window = FindWindowW(kWindowClass, kCaption);
  if (!window) {
    std::fprintf(stderr, "window_probe: no Kestrova window\n");
    return 2;
  }
  if (std::strcmp(command, "restore") == 0) {
    ShowWindow(window, SW_RESTORE);
    return 0;
  }
  if (std::strcmp(command, "close") == 0) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
  }
  char status[512] = "";
  GetDlgItemTextA(window, kLblStatus, status, sizeof status);
  std::printf("iconic=%d\nstatus=%s\ninternet=%d\ninternet2=%d\n", IsIconic(window) ? 1 : 0, status,
              IsDlgButtonChecked(window, kOptInternet) == BST_CHECKED ? 1 : 0,
              IsDlgButtonChecked(window, kOptInternet2) == BST_CHECKED ? 1 : 0);
  if (HWND box = FindWindowA("#32770", "Kestrova")) {
    char text[2048] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // the message box's text control
    for (char* c = text; *c; ++c)
      if (*c == '\r' || *c == '\n') *c = ' ';
    std::printf("message=%s\n", text);
  }
  return 0;
}
