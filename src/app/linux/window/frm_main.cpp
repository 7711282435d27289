#include "app/linux/window/frm_main.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <utility>

#include "app/linux/fltk_label.h"
#include "app/linux/window/artwork.h"
#include "app/linux/window/message_box.h"
#include "app/linux/window/save_dialog.h"
#include "app/scan_services.h"
#include "platform/codepage.h"

namespace app {
namespace {

constexpr int kClientWidth = 568;
constexpr int kClientHeight = 304;

// The classic 8 pt dialog font is about 11 pixels high. "Arial" lets fontconfig pick the
// metric-compatible sans face of the system, so the texts fit their boxes as on Windows.
constexpr Fl_Font kFontRegular = FL_FREE_FONT;
constexpr Fl_Font kFontBold = FL_FREE_FONT + 1;
constexpr Fl_Font kFontItalic = FL_FREE_FONT + 2;
constexpr Fl_Fontsize kFontSize = 11;
constexpr Fl_Fontsize kMessageFontSize = 12;

void SetUpFonts() {
  // The first character selects the face's style: plain, bold, italic.
  Fl::set_font(kFontRegular, " Arial");
  Fl::set_font(kFontBold, "BArial");
  Fl::set_font(kFontItalic, "IArial");
}

const Fl_Color kBannerColour = fl_rgb_color(192, 192, 0);

Fl_Box* MakeLabel(int x, int y, int w, int h, const char* text, Fl_Font font) {
  auto* label = new Fl_Box(x, y, w, h);
  label->box(FL_NO_BOX);
  label->copy_label(text);
  label->labelfont(font);
  label->labelsize(kFontSize);
  label->labelcolor(FL_FOREGROUND_COLOR);
  // Labels wrap at word boundaries within their width and start at the top-left.
  label->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  return label;
}

Fl_Round_Button* MakeOption(int x, int y, int w, int h, const char* text) {
  auto* option = new Fl_Round_Button(x, y, w, h);
  option->type(FL_RADIO_BUTTON);
  option->box(FL_NO_BOX);
  option->copy_label(text);
  option->labelfont(kFontRegular);
  option->labelsize(kFontSize);
  option->labelcolor(FL_FOREGROUND_COLOR);
  return option;
}

bool Inside(const Fl_Widget* widget, int x, int y) {
  return x >= widget->x() && x < widget->x() + widget->w() && y >= widget->y() &&
         y < widget->y() + widget->h();
}

}  // namespace

frmMain::frmMain()
    : Fl_Double_Window(kClientWidth, kClientHeight),
      background_("background.jpg", artwork::kBackground),
      start_image_("start.jpg", artwork::kStart),
      exit_image_("exit.jpg", artwork::kExit),
      icon_("icon.png", artwork::kIcon, static_cast<int>(artwork::kIconSize)) {
  SetUpFonts();
  copy_label(platform::ToUtf8(kAppTitle).c_str());
  xclass("kestrova");
  color(FL_BACKGROUND2_COLOR);  // the system's window background, white by default
  box(FL_FLAT_BOX);

  // Created in tab order; FLTK moves the focus through the children in this order.
  picExit = new PictureButton(528, 8, 33, 25, &exit_image_);
  picExit->color(fl_rgb_color(12, 49, 73));  // the header band behind it: light focus dots
  picExit->callback([](Fl_Widget*, void* self) { static_cast<frmMain*>(self)->picExit_Click(); },
                    this);
  optInternet = MakeOption(48, 144, 193, 17, "I can access internet.");
  optInternet2 = MakeOption(
      48, 168, 385, 17, "I can not access internet because i don't have driver for network card.");
  picScanNow = new PictureButton(208, 192, 201, 57, &start_image_);
  picScanNow->callback(
      [](Fl_Widget*, void* self) { static_cast<frmMain*>(self)->picScanNow_Click(); }, this);
  Label1 = MakeLabel(16, 72, 417, 25, "KESTROVA  - FIND AND FIX YOUR DRIVER EASILY", kFontBold);
  Label1->labelcolor(kBannerColour);
  lblStatus = MakeLabel(
      32, 112, 505, 25,
      "Select your internet access option and click on Start Now to get your driver.", kFontBold);
  Label3 = MakeLabel(16, 256, 529, 25,
                     "Even your computer can not access internet, you still can use this program "
                     "to find the driver for your network card. Don't worry.",
                     kFontItalic);
  end();

  optInternet->setonly();
  size_range(kClientWidth, kClientHeight, kClientWidth, kClientHeight);
  position((Fl::w() - kClientWidth) / 2, (Fl::h() - kClientHeight) / 2);
  if (icon_.w() > 0) icon(&icon_);
  callback(
      [](Fl_Widget*, void* self) {
        // Escape would close an FLTK window; this one closes by its Exit picture or title bar only.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        static_cast<frmMain*>(self)->picExit_Click();
      },
      this);

  fs_ = MakeFileSystem();
  ScanServices services = MakePlatformServices(*this, *fs_);
  // The Save-As dialog needs a toolkit, so the window program supplies it. After Exit the
  // question is answered as cancelled.
  services.ShowSaveDialog = [this](const std::wstring& file_name,
                                   const std::wstring& initial_folder) {
    return unloaded_ ? std::wstring() : ShowSaveDialog(file_name, initial_folder);
  };
  workflow_ = std::make_unique<ScanWorkflow>(*this, *fs_, std::move(services),
                                             ScanWorkflow::DefaultTemplatePath(*fs_));
}

frmMain::~frmMain() = default;

void frmMain::show() {
  Fl_Double_Window::show();
  // The arrow from the start, not whatever the desktop's root window shows.
  cursor(FL_CURSOR_DEFAULT);
  // Start on the selected option: a stray Enter must not exit or start a scan.
  optInternet->take_focus();
}

void frmMain::draw() {
  // The labels and options have no background of their own, so any damaged area is painted
  // again from the window's picture up, whichever control asked for it.
  fl_rectf(0, 0, w(), h(), color());
  background_.draw(0, 0);
  for (int i = 0; i < children(); ++i) draw_child(*child(i));
}

int frmMain::handle(int event) {
  const int handled = Fl_Double_Window::handle(event);
  switch (event) {
    case FL_ENTER:
    case FL_MOVE:
    case FL_DRAG:
      UpdatePointer(Fl::event_x(), Fl::event_y());
      break;
    case FL_LEAVE:
      if (!waiting_) ShowPointer(FL_CURSOR_DEFAULT);
      break;
    default:
      break;
  }
  return handled;
}

void frmMain::UpdatePointer(int x, int y) {
  if (waiting_) return;
  // The hand over the two picture buttons, the window's arrow everywhere else.
  const bool over_button = Inside(picExit, x, y) || Inside(picScanNow, x, y);
  ShowPointer(over_button ? FL_CURSOR_HAND : FL_CURSOR_DEFAULT);
}

void frmMain::ShowPointer(Fl_Cursor pointer) {
  if (pointer == pointer_ || !shown()) return;
  pointer_ = pointer;
  cursor(pointer);
}

void frmMain::picScanNow_Click() {
  workflow_->ScanDrivers(optInternet->value() ? app::ScanMode::kOnline : app::ScanMode::kOffline);
}

void frmMain::picExit_Click() {
  unloaded_ = true;
  hide();
}

void frmMain::SetStatus(const std::wstring& text) {
  lblStatus->copy_label(FltkLabel(text).c_str());
}

void frmMain::ShowMessage(const std::wstring& text) {
  // After Exit nobody is left to read it.
  if (unloaded_) return;
  ShowMessageBox(this, platform::ToUtf8(kAppTitle).c_str(), FltkLabel(text), kFontRegular,
                 kMessageFontSize);
}

void frmMain::Minimize() {
  // Iconizing a hidden FLTK window would show it again.
  if (unloaded_ || !shown()) return;
  iconize();
}

void frmMain::PumpPending() {
  Fl::check();
}

void frmMain::SetWaitCursor(bool on) {
  waiting_ = on;
  if (!shown()) return;
  if (on) {
    ShowPointer(FL_CURSOR_WAIT);
  } else {
    int x = 0;
    int y = 0;
    Fl::get_mouse(x, y);
    pointer_ = FL_CURSOR_WAIT;
    UpdatePointer(x - x_root(), y - y_root());
  }
  XFlush(fl_display);
}

}  // namespace app
