#include "frm_main.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>

#include "mouse_cursor.h"
#include "platform/codepage.h"
#include "resource_ids.h"

namespace app::win {
namespace {

constexpr wchar_t kPictureClass[] = L"KestrovaPictureButton";
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

// A picture button: paints its picture from the top-left on the window
// colour, shows the hand pointer on every mouse move, and reports a click
// (button pressed and released over it) to its parent as BN_CLICKED.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      // Whatever the picture leaves uncovered shows what the parent shows.
      auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc),
                                                         reinterpret_cast<LPARAM>(hwnd)));
      FillRect(dc, &rc, brush ? brush : GetSysColorBrush(COLOR_WINDOW));
      if (auto* picture = reinterpret_cast<const Picture*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)))
        picture->Draw(dc, 0, 0);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      // While a scan shows the wait pointer, that pointer stays.
      if (GetPropW(GetParent(hwnd), L"KestrovaWait") == nullptr) basMouseCursor::ShowHandCursor();
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      SetCapture(hwnd);
      return 0;
    case WM_LBUTTONUP: {
      if (GetCapture() != hwnd) return 0;
      ReleaseCapture();
      RECT rc;
      GetClientRect(hwnd, &rc);
      const POINT at{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
      if (PtInRect(&rc, at)) {
        const int id = GetDlgCtrlID(hwnd);
        SendMessageW(GetParent(hwnd), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
      }
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

void RegisterClasses(HINSTANCE instance, WNDPROC window_proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(instance, kWindowClass, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    // The sizes this screen's scale asks for; the icon resource holds them up to 200 %.
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KESTROVA), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KESTROVA), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
    wc.hbrBackground = nullptr;  // the background picture is drawn on erase
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
  }
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(instance, kPictureClass, &wc)) {
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PictureProc;
    wc.hInstance = instance;
    wc.hCursor = nullptr;  // the pointer is set on mouse move, not by the class
    wc.lpszClassName = kPictureClass;
    RegisterClassExW(&wc);
  }
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

frmMain::frmMain(HINSTANCE instance, std::unique_ptr<file::FileSystem> fs,
                 const ServicesFactory& make_services, std::wstring template_path)
    : instance_(instance), dpi_(ScreenDpi()), fs_(std::move(fs)) {
  if (template_path.empty()) template_path = ScanWorkflow::DefaultTemplatePath(*fs_);
  workflow_ = std::make_unique<ScanWorkflow>(*this, *fs_, make_services(*this, *fs_),
                                             std::move(template_path));
  background_ = Picture::ForDpi(instance_, IDR_BACKGROUND_JPEG, IDR_BACKGROUND_JPEG_2X, dpi_);
  start_ = Picture::ForDpi(instance_, IDR_START_JPEG, IDR_START_JPEG_2X, dpi_);
  exit_ = Picture::ForDpi(instance_, IDR_EXIT_JPEG, IDR_EXIT_JPEG_2X, dpi_);
  PaintCanvas();
  default_font_ = MakeFont(false, false);
  bold_font_ = MakeFont(true, false);
  italic_font_ = MakeFont(false, true);

  RegisterClasses(instance_, WindowProc);
  RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + std::max(0L, (work.right - work.left - width) / 2);
  const int y = work.top + std::max(0L, (work.bottom - work.top - height) / 2);
  CreateWindowExW(0, kWindowClass, kCaption, kWindowStyle, x, y, width, height, nullptr, nullptr,
                  instance_, this);
  if (!hwnd_) {
    const DWORD error = GetLastError();
    throw std::runtime_error("The main window could not be created (error " +
                             std::to_string(error) + ").");
  }
  CreateControls();
}

frmMain::~frmMain() {
  if (hwnd_) DestroyWindow(hwnd_);
  for (HGDIOBJ object : std::initializer_list<HGDIOBJ>{default_font_, bold_font_, italic_font_,
                                                       canvas_brush_, canvas_})
    if (object) DeleteObject(object);
}

void frmMain::PaintCanvas() {
  const RECT client{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  canvas_ = CreateCompatibleBitmap(screen, client.right, client.bottom);
  if (memory && canvas_) {
    HGDIOBJ old = SelectObject(memory, canvas_);
    FillRect(memory, &client, GetSysColorBrush(COLOR_WINDOW));
    background_.Draw(memory, 0, 0);
    SelectObject(memory, old);
    canvas_brush_ = CreatePatternBrush(canvas_);
  }
  if (memory) DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

HBRUSH frmMain::CanvasBrushFor(HDC dc, HWND control) const {
  if (!canvas_brush_) return GetSysColorBrush(COLOR_WINDOW);
  POINT origin{0, 0};
  if (control) MapWindowPoints(control, hwnd_, &origin, 1);
  SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
  return canvas_brush_;
}

HFONT frmMain::MakeFont(bool bold, bool italic) const {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(825, dpi_, 7200);  // 8.25 points
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = italic ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

void frmMain::CreateControls() {
  // Creation order is tab order.
  for (const ControlSpec& c : kControls) {
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
      case ControlKind::kPicture:
        window_class = kPictureClass;
        style |= WS_TABSTOP;
        break;
      case ControlKind::kOption:
        window_class = L"BUTTON";
        style |= BS_AUTORADIOBUTTON | WS_TABSTOP | (c.id == kOptInternet ? WS_GROUP : 0);
        break;
      case ControlKind::kLabel:
        style |= SS_LEFT | SS_NOPREFIX | (c.id == kLabel1 ? WS_GROUP : 0);
        break;
    }
    HWND control =
        CreateWindowExW(0, window_class, c.text, style, Scale(c.left), Scale(c.top), Scale(c.width),
                        Scale(c.height), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                        instance_, nullptr);
    if (!control) continue;
    const Picture* picture = c.id == kPicScanNow ? &start_ : c.id == kPicExit ? &exit_ : nullptr;
    if (picture) SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
    HFONT font = c.font == FontKind::kBold      ? bold_font_
                 : c.font == FontKind::kItalic  ? italic_font_
                 : c.font == FontKind::kDefault ? default_font_
                                                : nullptr;
    if (font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.kind != ControlKind::kPicture) FitText(control, c);
  }
  CheckRadioButton(hwnd_, kOptInternet, kOptInternet2, kOptInternet);
}

void frmMain::FitText(HWND control, const ControlSpec& c) const {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(0, length)));

  const TextRoom room = TextRoomFor(c);
  const int left = Scale(c.left), top = Scale(c.top);
  const int room_width = Scale(room.right) - left;
  const int room_height = Scale(room.bottom) - top;
  SIZE size{Scale(c.width), Scale(c.height)};

  HDC dc = GetDC(control);
  if (!dc) return;
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ old_font = font ? SelectObject(dc, font) : nullptr;
  if (c.kind == ControlKind::kOption) {
    // One line beside the round box: the text, the box and a gap of an
    // average character; or what the button itself asks for, if more.
    RECT line{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), -1, &line, DT_CALCRECT | DT_SINGLELINE);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SIZE need{line.right + GetSystemMetrics(SM_CXMENUCHECK) + tm.tmAveCharWidth, line.bottom};
    SIZE ideal{0, 0};
    if (SendMessageW(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal))) {
      need.cx = std::max(need.cx, ideal.cx);
      need.cy = std::max(need.cy, ideal.cy);
    }
    size.cx = std::max(size.cx, std::min<LONG>(need.cx, room_width));
    size.cy = std::max(size.cy, std::min<LONG>(need.cy, room_height));
  } else {
    // As a static control draws it: words wrapped at the control's width.
    const auto wrapped = [&](int width) {
      RECT r{0, 0, width, 0};
      DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
      return SIZE{r.right, r.bottom};
    };
    const SIZE as_laid_out = wrapped(size.cx);
    if (as_laid_out.cx > size.cx || as_laid_out.cy > size.cy) {
      // Wider first, up to the room's width; then the lines that takes.
      const SIZE widest = wrapped(room_width);
      size.cx = std::max(size.cx, std::min<LONG>(widest.cx, room_width));
      size.cy = std::max(size.cy, std::min<LONG>(widest.cy, room_height));
    }
  }
  if (old_font) SelectObject(dc, old_font);
  ReleaseDC(control, dc);
  SetWindowPos(control, nullptr, left, top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND frmMain::Control(ControlId id) const {
  return hwnd_ ? GetDlgItem(hwnd_, id) : nullptr;
}

void frmMain::Show(int show_command) {
  if (!hwnd_) return;
  ShowWindow(hwnd_, show_command);
  UpdateWindow(hwnd_);
}

int frmMain::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : 0;
}

void frmMain::ScanDrivers(app::ScanMode mode) {
  last_scan_ = workflow_->ScanDrivers(mode);
}

void frmMain::SetStatus(const std::wstring& text) {
  // The label repaints when messages next run.
  if (HWND label = Control(kLblStatus)) {
    SetWindowTextW(label, text.c_str());
    for (const ControlSpec& c : kControls)
      if (c.id == kLblStatus) FitText(label, c);
  }
}

void frmMain::ShowMessage(const std::wstring& text) {
  MessageBoxW(hwnd_, text.c_str(), kAppTitle, MB_OK);
}

void frmMain::Minimize() {
  if (hwnd_) ShowWindow(hwnd_, SW_MINIMIZE);
}

void frmMain::PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the main loop once the scan has unwound.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void frmMain::SetWaitCursor(bool on) {
  wait_cursor_ = on;
  if (hwnd_) {
    if (on)
      SetPropW(hwnd_, L"KestrovaWait", reinterpret_cast<HANDLE>(1));
    else
      RemovePropW(hwnd_, L"KestrovaWait");
  }
  SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(on ? 32514 /* IDC_WAIT */ : 32512)));
}

void frmMain::OnCommand(int id) {
  if (id == kPicScanNow) {
    const bool online = IsDlgButtonChecked(hwnd_, kOptInternet) == BST_CHECKED;
    ScanDrivers(online ? app::ScanMode::kOnline : app::ScanMode::kOffline);
  } else if (id == kPicExit) {
    DestroyWindow(hwnd_);
  }
}

LRESULT CALLBACK frmMain::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  frmMain* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  // Nothing may unwind through the system's dispatcher.
  try {
    return self->Handle(msg, wp, lp);
  } catch (const std::exception& e) {
    MessageBoxW(hwnd, platform::FromUtf8(e.what()).c_str(), kAppTitle, MB_OK);
  } catch (...) {
    MessageBoxW(hwnd, L"Unexpected error.", kAppTitle, MB_OK);
  }
  return 0;
}

LRESULT frmMain::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wp);
      RECT rc;
      GetClientRect(hwnd_, &rc);
      FillRect(dc, &rc, CanvasBrushFor(dc, nullptr));
      return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wp);
      const bool banner = GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == kLabel1;
      SetTextColor(
          dc, banner ? RGB(kBannerRed, kBannerGreen, kBannerBlue) : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      // Labels and options let the background picture show through.
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(CanvasBrushFor(dc, reinterpret_cast<HWND>(lp)));
    }
    case WM_SETCURSOR:
      if (wait_cursor_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514) /* IDC_WAIT */));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && lp != 0) OnCommand(LOWORD(wp));
      return 0;
    case WM_DESTROY:
      RemovePropW(hwnd_, L"KestrovaWait");
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return 0;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace app::win
