// frmMain: the program's one window. The user picks whether the computer can
// reach the internet, presses Start, follows the status line, and leaves.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/scan_services.h"
#include "app/scan_ui.h"
#include "app/scan_workflow.h"
#include "files/file_system.h"
#include "layout.h"
#include "picture.h"

namespace app::win {

using ServicesFactory = std::function<ScanServices(ScanUi&, file::FileSystem&)>;

class frmMain : public ScanUi {
 public:
  // Creates the window and its controls, hidden. The scan runs with the
  // services `make_services` builds for this window; an empty template path
  // means driver.html beside the executable. `high_contrast` says whether
  // high contrast is on (empty: the system's setting). Throws
  // std::runtime_error when the window cannot be created.
  frmMain(HINSTANCE instance, std::unique_ptr<file::FileSystem> fs,
          const ServicesFactory& make_services, std::wstring template_path = {},
          std::function<bool()> high_contrast = {});
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Null once the window has been closed.
  HWND hwnd() const { return hwnd_; }
  HWND Control(ControlId id) const;
  void Show(int show_command);
  // Processes messages until the window is gone; the exit code.
  int Run();

  // The window's scan operation, online or offline.
  void ScanDrivers(app::ScanMode mode);
  const ScanResult& LastScan() const { return last_scan_; }

  void SetStatus(const std::wstring& text) override;
  void ShowMessage(const std::wstring& text) override;
  void Minimize() override;
  void PumpPending() override;
  void SetWaitCursor(bool on) override;

  // The font the window's texts are drawn in, before weight and slant: the
  // system's message font.
  static LOGFONTW MessageFont(int dpi);
  bool HighContrast() const { return high_contrast_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  // Sizes a label or option to its text: its layout size, grown (wider
  // first, then taller) as far as its room allows until the text fits.
  void FitText(HWND control, const ControlSpec& c) const;
  void OnCommand(int id);
  int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }
  HFONT MakeFont(bool bold, bool italic) const;
  // Artwork or, with high contrast on, the system's colours alone.
  void ApplyLook();
  // The client area's look (window colour, background picture on top) as a
  // brush that controls paint their background with.
  void PaintCanvas();
  HBRUSH CanvasBrushFor(HDC dc, HWND control) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  HFONT default_font_ = nullptr;
  HFONT bold_font_ = nullptr;
  HFONT italic_font_ = nullptr;
  Picture background_;
  Picture start_;
  Picture exit_;
  HBITMAP canvas_ = nullptr;
  HBRUSH canvas_brush_ = nullptr;
  bool wait_cursor_ = false;
  std::function<bool()> high_contrast_on_;
  bool high_contrast_ = false;
  HWND last_focus_ = nullptr;
  std::unique_ptr<file::FileSystem> fs_;
  std::unique_ptr<ScanWorkflow> workflow_;
  ScanResult last_scan_;
};

}  // namespace app::win
