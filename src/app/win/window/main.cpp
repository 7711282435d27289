// kestrova.exe: shows the main window and runs until it is closed.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <ole2.h>

#include <exception>

#include "app/scan_services.h"
#include "frm_main.h"
#include "platform/codepage.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  // The picture loader and the Save-As dialog need OLE on this thread.
  const HRESULT ole = OleInitialize(nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  int exit_code = 0;
  try {
    app::win::frmMain form(instance, app::MakeFileSystem(), app::MakePlatformServices);
    form.Show(show_command);
    exit_code = form.Run();
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, platform::FromUtf8(e.what()).c_str(), app::kAppTitle, MB_OK);
    exit_code = 1;
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return exit_code;
}
