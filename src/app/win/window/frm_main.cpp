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
// The system's button procedure, which the picture button builds on: what it
// does not handle itself goes there, and a screen reader, finding the system
// button class beneath (RealGetWindowClass), announces it as a push button
// named by its text.
WNDPROC system_button_proc = DefWindowProcW;
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

constexpr wchar_t kFontProperty[] = L"KestrovaFont";
constexpr wchar_t kSpaceDownProperty[] = L"KestrovaSpaceDown";

// Tells the parent the button was pressed, as a push button does.
void Press(HWND button) {
  SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

// Without its picture (high contrast), a picture button is drawn as a plain
// push button in the system's colours, with its text.
void DrawAsButton(HWND hwnd, HDC dc, RECT rc) {
  FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &rc, EDGE_RAISED, BF_RECT);
  const int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(hwnd, text.data(), length + 1);
  HGDIOBJ old_font = nullptr;
  if (auto font = static_cast<HFONT>(GetPropW(hwnd, kFontProperty)))
    old_font = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  DrawTextW(dc, text.c_str(), length, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  if (old_font) SelectObject(dc, old_font);
}

// A picture button: paints its picture from the top-left on the window
// colour, shows the hand pointer on every mouse move, and reports a click
// (button pressed and released over it) to its parent as BN_CLICKED. From the
// keyboard it behaves as a push button: Space presses it, and it tells the
// dialog manager it is the default button while it has the focus, so Enter
// presses it; the focus shows as a dotted rectangle.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      RECT focus = rc;
      if (auto* picture =
              reinterpret_cast<const Picture*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
        // Whatever the picture leaves uncovered shows what the parent shows.
        auto brush = reinterpret_cast<HBRUSH>(SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC,
                                                           reinterpret_cast<WPARAM>(dc),
                                                           reinterpret_cast<LPARAM>(hwnd)));
        FillRect(dc, &rc, brush ? brush : GetSysColorBrush(COLOR_WINDOW));
        picture->Draw(dc, 0, 0);
        const SIZE size = picture->Size();
        focus.right = std::min<LONG>(focus.right, size.cx);
        focus.bottom = std::min<LONG>(focus.bottom, size.cy);
      } else {
        DrawAsButton(hwnd, dc, rc);
      }
      if (GetFocus() == hwnd) {
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFONT:
      SetPropW(hwnd, kFontProperty, reinterpret_cast<HANDLE>(wp));
      if (LOWORD(lp)) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(GetPropW(hwnd, kFontProperty));
    case WM_GETDLGCODE:
      return DLGC_BUTTON | (GetFocus() == hwnd ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      RemovePropW(hwnd, kSpaceDownProperty);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_KEYDOWN:
      if (wp == VK_SPACE) {
        SetPropW(hwnd, kSpaceDownProperty, reinterpret_cast<HANDLE>(1));
        return 0;
      }
      break;
    case WM_KEYUP:
      // Pressed on release, as a push button is; only a Space pressed here.
      if (wp == VK_SPACE && RemovePropW(hwnd, kSpaceDownProperty)) {
        Press(hwnd);
        return 0;
      }
      break;
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
      if (PtInRect(&rc, at)) Press(hwnd);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropW(hwnd, kFontProperty);
      RemovePropW(hwnd, kSpaceDownProperty);
      break;
  }
  return CallWindowProcW(system_button_proc, hwnd, msg, wp, lp);
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
    // A superclass of the system's button, owner-drawn (see PictureProc).
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(nullptr, L"BUTTON", &wc)) system_button_proc = wc.lpfnWndProc;
    wc.cbSize = sizeof wc;
    wc.style &= ~(CS_GLOBALCLASS | CS_DBLCLKS);  // a second click is a click
    wc.lpfnWndProc = PictureProc;
    wc.hInstance = instance;
    wc.hCursor = nullptr;  // the pointer is set on mouse move, not by the class
    wc.hbrBackground = nullptr;
    wc.lpszClassName = kPictureClass;
    RegisterClassExW(&wc);
  }
}

bool HighContrastOn() {
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
         (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

frmMain::frmMain(HINSTANCE instance, std::unique_ptr<file::FileSystem> fs,
                 const ServicesFactory& make_services, std::wstring template_path,
                 std::function<bool()> high_contrast)
    : instance_(instance),
      dpi_(ScreenDpi()),
      high_contrast_on_(high_contrast ? std::move(high_contrast) : HighContrastOn),
      fs_(std::move(fs)) {
  if (template_path.empty()) template_path = ScanWorkflow::DefaultTemplatePath(*fs_);
  workflow_ = std::make_unique<ScanWorkflow>(*this, *fs_, make_services(*this, *fs_),
                                             std::move(template_path));
  background_ = Picture::ForDpi(instance_, IDR_BACKGROUND_JPEG, IDR_BACKGROUND_JPEG_2X, dpi_);
  start_ = Picture::ForDpi(instance_, IDR_START_JPEG, IDR_START_JPEG_2X, dpi_);
  exit_ = Picture::ForDpi(instance_, IDR_EXIT_JPEG, IDR_EXIT_JPEG_2X, dpi_);
  high_contrast_ = high_contrast_on_();
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
  for (HGDIOBJ object : std::initializer_list<HGDIOBJ>{canvas_brush_, canvas_})
    if (object) DeleteObject(object);
  canvas_brush_ = nullptr;
  canvas_ = nullptr;
  // High contrast: the window colour alone, so every text stands on the
  // colour the user's scheme pairs it with.
  if (high_contrast_) return;
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
  LOGFONTW lf = MessageFont(dpi_);
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = italic ? TRUE : FALSE;
  return CreateFontIndirectW(&lf);
}

LOGFONTW frmMain::MessageFont(int dpi) {
  // The system's message-box font (Tahoma on XP, Segoe UI later), at the
  // size the user chose; the structure's XP size is accepted everywhere.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) &&
      metrics.lfMessageFont.lfFaceName[0] != L'\0')
    return metrics.lfMessageFont;
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(8, dpi, 72);
  lf.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(lf.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
  return lf;
}

void frmMain::ApplyLook() {
  high_contrast_ = high_contrast_on_();
  PaintCanvas();
  if (!hwnd_) return;
  for (auto [id, picture] : {std::pair{kPicScanNow, &start_}, std::pair{kPicExit, &exit_}})
    if (HWND control = Control(id))
      SetWindowLongPtrW(control, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(high_contrast_ ? nullptr : picture));
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void frmMain::CreateControls() {
  // Creation order is tab order.
  for (const ControlSpec& c : kControls) {
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (c.kind) {
      case ControlKind::kPicture:
        window_class = kPictureClass;
        style |= WS_TABSTOP | BS_OWNERDRAW;
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
    if (picture && !high_contrast_)
      SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(picture));
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
  } else if (id == kPicExit || id == IDCANCEL) {
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
      const bool banner = !high_contrast_ && GetDlgCtrlID(reinterpret_cast<HWND>(lp)) == kLabel1;
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
      // Escape reaches here from the dialog manager as IDCANCEL, with no control.
      if (HIWORD(wp) == BN_CLICKED && (lp != 0 || LOWORD(wp) == IDCANCEL)) OnCommand(LOWORD(wp));
      return 0;
    case DM_GETDEFID:
      // Enter, while the focus is on no button, presses Start.
      return MAKELRESULT(kPicScanNow, DC_HASDEFID);
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back where it was.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) last_focus_ = focus;
        return 0;
      }
      [[fallthrough]];
    case WM_SETFOCUS: {
      HWND to =
          last_focus_ && IsWindow(last_focus_) && IsChild(hwnd_, last_focus_)
              ? last_focus_
              : Control(IsDlgButtonChecked(hwnd_, kOptInternet2) == BST_CHECKED ? kOptInternet2
                                                                                : kOptInternet);
      if (to && !IsIconic(hwnd_)) SetFocus(to);
      return 0;
    }
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
      // High contrast switched on or off while the window is open.
      if (msg != WM_SETTINGCHANGE || wp == SPI_SETHIGHCONTRAST || wp == 0) ApplyLook();
      break;
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
