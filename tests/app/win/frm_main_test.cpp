// The real Win32 main window, created hidden in this process: its layout as
// the user sees it, the option group, the colours, the picture buttons and
// what a click on them does.
#include "frm_main.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_file_system.h"
#include "picture.h"
#include "resample.h"
#include "resource_ids.h"

namespace {

using app::win::frmMain;

struct Expected {
  int id;
  const wchar_t* window_class;
  // Left, top, right, bottom in client pixels at 96 DPI. Labels and options
  // may be larger, to fit their text.
  RECT rect;
  const wchar_t* text;
  int weight;
  bool italic;
};

// The window as it should look, written out independently of the code's table.
const std::vector<Expected> kExpected = {
    {100, L"KestrovaPictureButton", {528, 8, 561, 33}, L"Exit", 0, false},
    {101, L"Button", {48, 144, 241, 161}, L"I can access internet.", FW_NORMAL, false},
    {102,
     L"Button",
     {48, 168, 433, 185},
     L"I can not access internet because i don't have driver for network card.",
     FW_NORMAL,
     false},
    {103, L"KestrovaPictureButton", {208, 192, 409, 249}, L"Start Now", 0, false},
    {104,
     L"Static",
     {16, 72, 433, 97},
     L"KESTROVA  - FIND AND FIX YOUR DRIVER EASILY",
     FW_BOLD,
     false},
    {105,
     L"Static",
     {32, 112, 537, 137},
     L"Select your internet access option and click on Start Now to get your driver.",
     FW_BOLD,
     false},
    {106,
     L"Static",
     {16, 256, 545, 281},
     L"Even your computer can not access internet, you still can use this program to find the "
     L"driver for your network card. Don't worry.",
     FW_NORMAL,
     true},
};

std::wstring Text(HWND hwnd) {
  wchar_t buffer[512] = L"";
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[128] = L"";
  GetClassNameW(hwnd, buffer, 128);
  return buffer;
}

void Click(HWND control, int x = 5, int y = 5) {
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

HCURSOR Hand() {
  return LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
}

// Drops the WM_QUIT a closed window leaves, so later tests start clean.
int TakeQuit() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
  return -1;
}

class FrmMainTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeForm({}); }
  void MakeForm(std::function<bool()> high_contrast) {
    form.reset();
    auto fs = std::make_unique<fakes::FakeFileSystem>();
    fs->env[L"TEMP"] = L"C:\\Temp";
    form = std::make_unique<frmMain>(
        GetModuleHandleW(nullptr), std::move(fs),
        [this](app::ScanUi& ui, file::FileSystem&) {
          app::ScanServices s;
          s.WriteLog = [this](const std::wstring& t) { log.push_back(t); };
          // No driver data ends the scan quietly after its first status text.
          s.CollectScanData = [this, &ui] {
            if (during_collect) during_collect(ui);
            return std::wstring();
          };
          return s;
        },
        L"", std::move(high_contrast));
    ASSERT_NE(form->hwnd(), nullptr);
    HDC screen = GetDC(nullptr);
    dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
  }
  void TearDown() override {
    form.reset();
    TakeQuit();
  }
  int Px(int v) const { return MulDiv(v, dpi, 96); }

  std::vector<std::wstring> log;
  std::function<void(app::ScanUi&)> during_collect;
  std::unique_ptr<frmMain> form;
  int dpi = 96;
};

TEST_F(FrmMainTest, WindowIsFixedSizeWithTheCaptionAndClientArea) {
  HWND w = form->hwnd();
  EXPECT_EQ(Text(w), L"Kestrova");
  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, Px(568));
  EXPECT_EQ(client.bottom, Px(304));
  const LONG style = GetWindowLongW(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  // Both icons at the sizes this scale asks for, each drawn at that size.
  for (auto [which, metric] :
       {std::pair{GCLP_HICONSM, SM_CXSMICON}, std::pair{GCLP_HICON, SM_CXICON}}) {
    SCOPED_TRACE(metric);
    auto icon = reinterpret_cast<HICON>(GetClassLongPtrW(w, which));
    ICONINFO info{};
    ASSERT_TRUE(icon && GetIconInfo(icon, &info)) << "icon resource";
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, GetSystemMetrics(metric));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
  }
  // The icon resource holds every size from 100 % to 200 %: none is enlarged.
  HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(IDI_KESTROVA), MAKEINTRESOURCEW(14));
  ASSERT_NE(group, nullptr);
  const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_NE(directory, nullptr);
  const int count = directory[4] | directory[5] << 8;  // after the reserved and type words
  std::vector<int> widths;
  for (int i = 0; i < count; ++i) widths.push_back(directory[6 + 14 * i]);  // 14-byte entries
  EXPECT_EQ(widths, (std::vector<int>{16, 20, 24, 32, 40, 48}));
}

TEST_F(FrmMainTest, ControlsSitWhereTheyShouldInTabOrderWithTheirTextsAndFonts) {
  HWND child = GetWindow(form->hwnd(), GW_CHILD);
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.id);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetDlgCtrlID(child), e.id) << "tab order";
    EXPECT_EQ(ClassOf(child), e.window_class);
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, form->hwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, Px(e.rect.left));
    EXPECT_EQ(r.top, Px(e.rect.top));
    if (e.weight) {
      EXPECT_GE(r.right, Px(e.rect.right));
      EXPECT_GE(r.bottom, Px(e.rect.bottom));
    } else {
      EXPECT_EQ(r.right, Px(e.rect.right));
      EXPECT_EQ(r.bottom, Px(e.rect.bottom));
    }
    EXPECT_EQ(Text(child), e.text);
    auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
    if (e.weight) {
      LOGFONTW lf{};
      ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
      // The system's message font (SystemParametersInfo, SPI_GETNONCLIENTMETRICS:
      // https://learn.microsoft.com/windows/win32/api/winuser/ns-winuser-nonclientmetricsw).
      NONCLIENTMETRICSW metrics{};
      metrics.cbSize = sizeof metrics;
      ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
      EXPECT_STREQ(lf.lfFaceName, metrics.lfMessageFont.lfFaceName);
      EXPECT_EQ(lf.lfHeight, metrics.lfMessageFont.lfHeight);
      EXPECT_EQ(lf.lfWeight, e.weight);
      EXPECT_EQ(lf.lfItalic != 0, e.italic);
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "no controls beyond the seven";
}

TEST_F(FrmMainTest, OptionsFormOneGroupWithInternetSelectedAtStart) {
  HWND w = form->hwnd();
  EXPECT_EQ(IsDlgButtonChecked(w, 101), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(w, 102), BST_UNCHECKED);
  SendDlgItemMessageW(w, 102, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(w, 101), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(w, 102), BST_CHECKED);
  SendDlgItemMessageW(w, 101, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(w, 101), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(w, 102), BST_UNCHECKED);
}

// Whether the control's text, measured in the control's own font, fits its
// client rectangle: an option's one line beside its round box, a label's words
// wrapped as a static control wraps them.
::testing::AssertionResult TextFits(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  const std::wstring text = Text(control);
  HDC dc = GetDC(control);
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font);
  SIZE need{0, 0};
  if (ClassOf(control) == L"Button") {
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &need);
    need.cx += GetSystemMetrics(SM_CXMENUCHECK);
    SIZE ideal{0, 0};
    if (SendMessageW(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)))
      need = SIZE{std::max(need.cx, ideal.cx), std::max(need.cy, ideal.cy)};
  } else {
    RECT r{0, 0, client.right, 0};
    DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    need = SIZE{r.right, r.bottom};
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  if (!font) return ::testing::AssertionFailure() << "no font";
  if (need.cx <= client.right && need.cy <= client.bottom) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "needs " << need.cx << "x" << need.cy << ", has "
                                       << client.right << "x" << client.bottom;
}

RECT InParent(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Every control inside the window, texts clear of the bottom bands, none on
// top of another.
void ExpectLaidOutApart(HWND window, int dpi) {
  RECT client;
  GetClientRect(window, &client);
  for (HWND a = GetWindow(window, GW_CHILD); a; a = GetWindow(a, GW_HWNDNEXT)) {
    const RECT ra = InParent(a);
    SCOPED_TRACE(GetDlgCtrlID(a));
    EXPECT_GE(ra.left, 0);
    EXPECT_LE(ra.right, client.right);
    if (ClassOf(a) != L"KestrovaPictureButton") {
      EXPECT_LE(ra.right, MulDiv(560, dpi, 96));
      EXPECT_LE(ra.bottom, MulDiv(288, dpi, 96));
    }
    for (HWND b = GetWindow(a, GW_HWNDNEXT); b; b = GetWindow(b, GW_HWNDNEXT)) {
      const RECT rb = InParent(b);
      RECT both;
      EXPECT_FALSE(IntersectRect(&both, &ra, &rb)) << "overlaps " << GetDlgCtrlID(b);
    }
  }
}

TEST_F(FrmMainTest, EveryLabelAndOptionShowsItsWholeTextInItsFont) {
  for (int id : {101, 102, 104, 105, 106}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(TextFits(GetDlgItem(form->hwnd(), id)));
  }
  ExpectLaidOutApart(form->hwnd(), dpi);
}

TEST_F(FrmMainTest, StatusLineGrowsForALongTextAndReturnsToItsSizeForAShortOne) {
  HWND status = GetDlgItem(form->hwnd(), 105);
  const RECT laid_out = InParent(status);
  // Longer than the line is wide at any scale; two lines hold it (at 96 DPI
  // the laid-out height holds one).
  form->SetStatus(
      L"The report could not be written because the disk is full: free some space "
      L"and press Start Now again.");
  EXPECT_TRUE(TextFits(status));
  ExpectLaidOutApart(form->hwnd(), dpi);
  // Text beyond what the room holds is cut there, not spread over the options.
  std::wstring flood;
  for (int i = 0; i < 100; ++i) flood += L"Collecting Driver Information ";
  form->SetStatus(flood);
  ExpectLaidOutApart(form->hwnd(), dpi);
  form->SetStatus(L"Sending information");
  const RECT back = InParent(status);
  EXPECT_TRUE(EqualRect(&back, &laid_out));
}

TEST_F(FrmMainTest, BannerIsDarkYellowOtherTextsUseTheWindowTextColour) {
  HDC dc = CreateCompatibleDC(nullptr);
  HWND w = form->hwnd();
  SendMessageW(w, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(w, 104)));
  EXPECT_EQ(GetTextColor(dc), RGB(192, 192, 0));
  for (int id : {101, 102, 105, 106}) {
    SendMessageW(w, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(w, id)));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT)) << id;
  }
  DeleteDC(dc);
}

TEST_F(FrmMainTest, StartScansOnlineOrOfflineByTheSelectedOption) {
  HWND w = form->hwnd();
  Click(GetDlgItem(w, 103));
  SendDlgItemMessageW(w, 102, BM_CLICK, 0, 0);
  Click(GetDlgItem(w, 103));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], L"Start scanning file with mode:online");
  EXPECT_EQ(log[1], L"Start scanning file with mode:offline");
  EXPECT_EQ(Text(GetDlgItem(w, 105)), L"Collecting Driver Information");
  EXPECT_EQ(form->LastScan().outcome, app::ScanOutcome::kNoScanData);
}

TEST_F(FrmMainTest, ButtonReleasedOutsideTheStartPictureStartsNothing) {
  HWND start = GetDlgItem(form->hwnd(), 103);
  SendMessageW(start, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(start, WM_LBUTTONUP, 0, MAKELPARAM(Px(300), 5));
  EXPECT_TRUE(log.empty());
}

TEST_F(FrmMainTest, StartClickedAgainWhileTheScanLetsMessagesRunIsIgnored) {
  HWND start = GetDlgItem(form->hwnd(), 103);
  during_collect = [start](app::ScanUi& ui) {
    PostMessageW(start, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(start, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ui.PumpPending();
  };
  Click(start);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(FrmMainTest, ExitClosesTheWindowAndEndsTheMessageLoop) {
  Click(GetDlgItem(form->hwnd(), 100));
  EXPECT_EQ(form->hwnd(), nullptr);
  EXPECT_EQ(TakeQuit(), 0);
  EXPECT_TRUE(log.empty()) << "Exit starts no scan";
  form->SetStatus(L"after close");  // harmless once the window is gone
  form->Minimize();
}

TEST_F(FrmMainTest, ExitClickedWhileTheScanLetsMessagesRunClosesTheWindowSafely) {
  HWND exit = GetDlgItem(form->hwnd(), 100);
  during_collect = [exit](app::ScanUi& ui) {
    PostMessageW(exit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(exit, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ui.PumpPending();
    ui.SetStatus(L"still collecting");  // the rest of the scan meets no window
    ui.SetWaitCursor(false);
  };
  Click(GetDlgItem(form->hwnd(), 103));
  EXPECT_EQ(form->hwnd(), nullptr);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(TakeQuit(), 0);
}

TEST_F(FrmMainTest, MouseMoveOverAPictureShowsTheHandUnlessTheWaitCursorIsOn) {
  HCURSOR arrow = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  HWND start = GetDlgItem(form->hwnd(), 103);
  for (int id : {100, 103}) {
    SetCursor(arrow);
    SendMessageW(GetDlgItem(form->hwnd(), id), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_EQ(GetCursor(), Hand()) << id;
  }
  form->SetWaitCursor(true);
  HCURSOR wait = LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));
  EXPECT_EQ(GetCursor(), wait);
  SendMessageW(start, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_TRUE(SendMessageW(form->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form->hwnd()),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
  EXPECT_EQ(GetCursor(), wait);
  form->SetWaitCursor(false);
  SendMessageW(start, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(GetCursor(), Hand());
}

TEST_F(FrmMainTest, StatusMinimiseAndPendingMessages) {
  form->SetStatus(L"Sending information");
  EXPECT_EQ(Text(GetDlgItem(form->hwnd(), 105)), L"Sending information");
  form->Show(SW_SHOWNOACTIVATE);
  form->Minimize();
  EXPECT_TRUE(IsIconic(form->hwnd()));
  // A quit request met while pumping stays for the main loop.
  PostQuitMessage(7);
  form->PumpPending();
  EXPECT_EQ(TakeQuit(), 7);
}

// A key as the message loop meets it: the dialog manager first, then the
// control with the focus.
void Key(HWND window, UINT vk) {
  for (UINT message : {WM_KEYDOWN, WM_KEYUP}) {
    MSG msg{GetFocus(), message, vk, 1, 0, {0, 0}};
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// Keys as IsDialogMessage gives them (learn.microsoft.com, "IsDialogMessageW
// function" and "Dialog Box Keyboard Interface"): Tab moves the focus, Enter
// presses the focused push button or else the default one (DM_GETDEFID),
// Escape sends IDCANCEL; Space presses a focused push button.
TEST_F(FrmMainTest, KeyboardReachesAndPressesBothButtons) {
  HWND w = form->hwnd();
  form->Show(SW_SHOW);
  SetForegroundWindow(w);
  SetFocus(GetDlgItem(w, 102));
  ASSERT_EQ(GetFocus(), GetDlgItem(w, 102));
  Key(w, VK_TAB);
  EXPECT_EQ(GetFocus(), GetDlgItem(w, 103)) << "Tab from the options reaches Start";
  EXPECT_TRUE(SendMessageW(GetDlgItem(w, 103), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
  Key(w, VK_TAB);
  EXPECT_EQ(GetFocus(), GetDlgItem(w, 100)) << "then Exit";
  EXPECT_TRUE(log.empty());

  SetFocus(GetDlgItem(w, 101));
  Key(w, VK_RETURN);  // on an option: the default button, Start
  SetFocus(GetDlgItem(w, 103));
  Key(w, VK_SPACE);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], L"Start scanning file with mode:online");

  SetFocus(GetDlgItem(w, 100));
  Key(w, VK_RETURN);  // the focused button, Exit
  EXPECT_EQ(form->hwnd(), nullptr);
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(FrmMainTest, EscapeClosesTheWindow) {
  HWND w = form->hwnd();
  form->Show(SW_SHOW);
  SetForegroundWindow(w);
  SetFocus(GetDlgItem(w, 101));
  Key(w, VK_ESCAPE);
  EXPECT_EQ(form->hwnd(), nullptr);
  EXPECT_TRUE(log.empty());
}

// High contrast (SystemParametersInfo, SPI_GETHIGHCONTRAST:
// https://learn.microsoft.com/windows/win32/api/winuser/ns-winuser-highcontrastw):
// no artwork, every colour a system colour; back to the artwork when it ends.
TEST_F(FrmMainTest, HighContrastDropsTheArtworkForSystemColours) {
  bool high_contrast = true;
  MakeForm([&high_contrast] { return high_contrast; });
  HWND w = form->hwnd();
  form->Show(SW_SHOWNOACTIVATE);
  const auto pixel_at = [&](int x, int y) {  // 96-DPI client point, as drawn
    RedrawWindow(w, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC dc = GetDC(w);
    const COLORREF c = GetPixel(dc, Px(x), Px(y));
    ReleaseDC(w, dc);
    return c;
  };
  HDC dc = CreateCompatibleDC(nullptr);
  const auto brush = SendMessageW(w, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                  reinterpret_cast<LPARAM>(GetDlgItem(w, 104)));
  EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT)) << "the banner too";
  EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW)));
  EXPECT_EQ(pixel_at(300, 10), GetSysColor(COLOR_WINDOW)) << "no background picture";
  EXPECT_EQ(pixel_at(300, 204), GetSysColor(COLOR_BTNFACE)) << "Start as a plain button";

  high_contrast = false;
  SendMessageW(w, WM_SYSCOLORCHANGE, 0, 0);
  SendMessageW(w, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(GetDlgItem(w, 104)));
  EXPECT_EQ(GetTextColor(dc), RGB(192, 192, 0));
  DeleteDC(dc);
  const COLORREF start = pixel_at(380, 204);
  EXPECT_TRUE(GetRValue(start) > 200 && GetBValue(start) < 150) << "the orange Start picture";
}

// What a message box showed, read by another thread that then presses OK.
struct SeenBox {
  std::atomic<bool> found{false};
  std::wstring text;
  HWND owner = nullptr;
  bool has_ok = false, has_cancel = false, has_icon = false;
};

std::thread PressOkOnMessageBox(SeenBox& seen) {
  return std::thread([&seen] {
    for (int i = 0; i < 500 && !seen.found; ++i) {
      HWND box = FindWindowW(L"#32770", L"Kestrova");
      if (!box) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      seen.text = Text(GetDlgItem(box, 0xFFFF));
      seen.owner = GetWindow(box, GW_OWNER);
      seen.has_ok = GetDlgItem(box, IDOK) != nullptr;
      seen.has_cancel = GetDlgItem(box, IDCANCEL) != nullptr;
      HWND icon = GetDlgItem(box, 0x0440);
      seen.has_icon = icon && SendMessageW(icon, STM_GETICON, 0, 0) != 0;
      seen.found = true;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  });
}

TEST_F(FrmMainTest, MessagesHaveOnlyAnOkButtonNoIconAndTheProgramTitle) {
  SeenBox seen;
  std::thread presser = PressOkOnMessageBox(seen);
  form->ShowMessage(L"You can copy this file");
  presser.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, L"You can copy this file");
  EXPECT_EQ(seen.owner, form->hwnd());
  EXPECT_TRUE(seen.has_ok);
  EXPECT_FALSE(seen.has_cancel);
  EXPECT_FALSE(seen.has_icon);
}

TEST(Picture, ArtworkResourcesDecodeAtTheirSizes) {
  const struct {
    int id;
    LONG width, height;
  } pictures[] = {{IDR_BACKGROUND_JPEG, 568, 300}, {IDR_START_JPEG, 199, 56},
                  {IDR_EXIT_JPEG, 32, 22},         {IDR_BACKGROUND_JPEG_2X, 1136, 600},
                  {IDR_START_JPEG_2X, 398, 112},   {IDR_EXIT_JPEG_2X, 64, 44}};
  for (const auto& p : pictures) {
    auto picture = app::win::Picture::FromResource(GetModuleHandleW(nullptr), p.id);
    ASSERT_TRUE(picture) << p.id;
    EXPECT_EQ(picture.Size().cx, p.width);
    EXPECT_EQ(picture.Size().cy, p.height);
  }
}

TEST(Picture, MissingOrBrokenImagesGiveAnEmptyPicture) {
  EXPECT_FALSE(app::win::Picture::FromResource(GetModuleHandleW(nullptr), 4242));
  const char junk[] = "\xFF\xD8\xFF\xE0 not really a jpeg";
  auto broken = app::win::Picture::FromBytes(junk, sizeof junk);
  EXPECT_FALSE(broken);
  EXPECT_EQ(broken.Size().cx, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  broken.Draw(dc, 0, 0);  // drawing nothing is fine
  DeleteDC(dc);
  EXPECT_FALSE(broken.Resized(10, 10));
  auto none = app::win::Picture::ForDpi(GetModuleHandleW(nullptr), 4242, 4243, 144);
  EXPECT_FALSE(none);
}

TEST(Picture, TheDrawingForADpiIsTheSmallestThatNeedsNoEnlarging) {
  using app::win::ArtworkScaleFor;
  EXPECT_EQ(ArtworkScaleFor(72, 2), 1);
  EXPECT_EQ(ArtworkScaleFor(96, 2), 1);
  EXPECT_EQ(ArtworkScaleFor(97, 2), 2);
  EXPECT_EQ(ArtworkScaleFor(120, 2), 2);
  EXPECT_EQ(ArtworkScaleFor(144, 2), 2);
  EXPECT_EQ(ArtworkScaleFor(192, 2), 2);
  EXPECT_EQ(ArtworkScaleFor(288, 2), 2) << "nothing larger to reduce from";
  EXPECT_EQ(ArtworkScaleFor(288, 3), 3);
  EXPECT_EQ(ArtworkScaleFor(144, 1), 1) << "only the 96-DPI drawing";
}

std::vector<std::uint32_t> Pixels(const app::win::Picture& picture) {
  const SIZE size = picture.Size();
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, size.cx, -size.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size.cx) * size.cy);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP copy = CreateCompatibleBitmap(GetDC(nullptr), size.cx, size.cy);
  HGDIOBJ old = SelectObject(dc, copy);
  picture.Draw(dc, 0, 0);
  SelectObject(dc, old);
  GetDIBits(dc, copy, 0, static_cast<UINT>(size.cy), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(copy);
  DeleteDC(dc);
  return pixels;
}

// Energy of the green steps between neighbours across: a blurred edge spreads
// one big step over several small ones, so higher is sharper.
long long Detail(const std::vector<std::uint32_t>& pixels, int width) {
  long long sum = 0;
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    if (i % static_cast<std::size_t>(width) == 0) continue;
    const long long step = static_cast<long long>((pixels[i] >> 8) & 0xFF) -
                           static_cast<long long>((pixels[i - 1] >> 8) & 0xFF);
    sum += step * step;
  }
  return sum;
}

TEST(Picture, AtEachScaleThePictureHasItsScaledSizeAndAboveOneItComesFromTheLargerDrawing) {
  HMODULE self = GetModuleHandleW(nullptr);
  for (int dpi : {96, 120, 144, 192, 288}) {
    SCOPED_TRACE(dpi);
    auto start = app::win::Picture::ForDpi(self, IDR_START_JPEG, IDR_START_JPEG_2X, dpi);
    ASSERT_TRUE(start);
    EXPECT_EQ(start.Size().cx, MulDiv(199, dpi, 96));
    EXPECT_EQ(start.Size().cy, MulDiv(56, dpi, 96));
    if (dpi == 96) continue;
    // The same picture enlarged from the 96-DPI drawing alone (its larger
    // twin "missing") is the soft one.
    auto enlarged = app::win::Picture::ForDpi(self, IDR_START_JPEG, 4242, dpi);
    ASSERT_EQ(enlarged.Size().cx, start.Size().cx);
    EXPECT_GT(Detail(Pixels(start), start.Size().cx),
              Detail(Pixels(enlarged), start.Size().cx) * 11 / 10);
  }
  // Without the 96-DPI drawing the larger one stands in, at 96 DPI too.
  auto halved = app::win::Picture::ForDpi(self, 4242, IDR_EXIT_JPEG_2X, 96);
  EXPECT_EQ(halved.Size().cx, 32);
  EXPECT_EQ(halved.Size().cy, 22);
}

TEST(Resample, ReducingAveragesTheCoveredAreaAndKeepsEdgesInPlace) {
  using app::win::Resample;
  // 4 x 2: a black left half, a white right half; reduced to 2 x 1.
  const std::vector<std::uint32_t> halves = {0, 0, 0xFFFFFF, 0xFFFFFF, 0, 0, 0xFFFFFF, 0xFFFFFF};
  EXPECT_EQ(Resample(halves, 4, 2, 2, 1), (std::vector<std::uint32_t>{0, 0xFFFFFF}));
  // Stripes one pixel wide average to grey, channel by channel.
  const std::vector<std::uint32_t> stripes = {0x00FF0000, 0x000000FF, 0x00FF0000, 0x000000FF};
  EXPECT_EQ(Resample(stripes, 4, 1, 2, 1), (std::vector<std::uint32_t>{0x00800080, 0x00800080}));
  // 3 -> 2: the middle pixel is shared half and half.
  const std::vector<std::uint32_t> three = {0, 90, 180};
  EXPECT_EQ(Resample(three, 3, 1, 2, 1), (std::vector<std::uint32_t>{30, 150}));
}

TEST(Resample, EnlargingInterpolatesAndAUniformPictureStaysUniform) {
  using app::win::Resample;
  EXPECT_EQ(Resample({0, 200}, 2, 1, 4, 1), (std::vector<std::uint32_t>{0, 50, 150, 200}));
  const std::vector<std::uint32_t> flat(6 * 4, 0x00336699);
  for (auto [w, h] : {std::pair{9, 5}, std::pair{4, 3}, std::pair{6, 4}})
    EXPECT_EQ(Resample(flat, 6, 4, w, h), std::vector<std::uint32_t>(w * h, 0x00336699));
  EXPECT_TRUE(Resample(flat, 6, 4, 0, 3).empty());
  EXPECT_TRUE(Resample(flat, 7, 4, 3, 3).empty()) << "fewer pixels than the size says";
}

}  // namespace
