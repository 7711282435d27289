// The program's one window: choose the internet option, start a scan, follow its status, leave.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_JPEG_Image.H>
#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Round_Button.H>

#include <memory>
#include <string>

#include "app/linux/window/picture_button.h"
#include "app/scan_ui.h"
#include "app/scan_workflow.h"
#include "files/file_system.h"

namespace app {

class frmMain : public Fl_Double_Window, public ScanUi {
 public:
  frmMain();
  ~frmMain() override;

  // ScanUi
  void SetStatus(const std::wstring& text) override;
  void ShowMessage(const std::wstring& text) override;
  void Minimize() override;
  void PumpPending() override;
  void SetWaitCursor(bool on) override;

  void show() override;
  int handle(int event) override;

 protected:
  void draw() override;

 private:
  void picScanNow_Click();
  void picExit_Click();
  void UpdatePointer(int x, int y);
  void ShowPointer(Fl_Cursor cursor);

  Fl_JPEG_Image background_;
  Fl_JPEG_Image start_image_;
  Fl_JPEG_Image exit_image_;
  Fl_PNG_Image icon_;

  PictureButton* picExit;
  Fl_Round_Button* optInternet;
  Fl_Round_Button* optInternet2;
  PictureButton* picScanNow;
  Fl_Box* Label1;
  Fl_Box* lblStatus;
  Fl_Box* Label3;

  std::unique_ptr<file::FileSystem> fs_;
  std::unique_ptr<ScanWorkflow> workflow_;
  bool waiting_ = false;
  bool unloaded_ = false;
  Fl_Cursor pointer_ = FL_CURSOR_DEFAULT;
};

}  // namespace app
