// The real Win32 main window, created hidden in this process: its layout as
// the user sees it, the option group, the colours, the picture buttons and
// what a click on them does.
#include "frm_main.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_file_system.h"
#include "picture.h"
#include "resource_ids.h"

namespace {

using app::win::frmMain;

struct Expected {
  int id;
  const wchar_t* window_class;
  RECT rect;  // left, top, right, bottom in client pixels
  const wchar_t* text;
  int weight;
  bool italic;
};

// The window as it should look, written out independently of the code's table.
const std::vector<Expected> kExpected = {
    {100, L"KestrovaPictureButton", {528, 8, 561, 33}, L"", 0, false},
    {101, L"Button", {48, 144, 241, 161}, L"I can access internet.", FW_NORMAL, false},
    {102,
     L"Button",
     {48, 168, 433, 185},
     L"I can not access internet because i don't have driver for network card.",
     FW_NORMAL,
     false},
    {103, L"KestrovaPictureButton", {208, 192, 409, 249}, L"", 0, false},
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
  void SetUp() override {
    auto fs = std::make_unique<fakes::FakeFileSystem>();
    fs->env[L"TEMP"] = L"C:\\Temp";
    form = std::make_unique<frmMain>(
        GetModuleHandleW(nullptr), std::move(fs), [this](app::ScanUi& ui, file::FileSystem&) {
          app::ScanServices s;
          s.WriteLog = [this](const std::wstring& t) { log.push_back(t); };
          // No driver data ends the scan quietly after its first status text.
          s.CollectScanData = [this, &ui] {
            if (during_collect) during_collect(ui);
            return std::wstring();
          };
          return s;
        });
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
  EXPECT_NE(GetClassLongPtrW(w, GCLP_HICONSM), 0u) << "icon resource";
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
    EXPECT_EQ(r.right, Px(e.rect.right));
    EXPECT_EQ(r.bottom, Px(e.rect.bottom));
    EXPECT_EQ(Text(child), e.text);
    auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
    if (e.weight) {
      LOGFONTW lf{};
      ASSERT_TRUE(font && GetObjectW(font, sizeof lf, &lf));
      EXPECT_STREQ(lf.lfFaceName, L"MS Sans Serif");
      EXPECT_EQ(lf.lfHeight, -MulDiv(825, dpi, 7200));
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
  } pictures[] = {
      {IDR_BACKGROUND_JPEG, 568, 300}, {IDR_START_JPEG, 199, 56}, {IDR_EXIT_JPEG, 32, 22}};
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
  broken.Draw(dc, 0, 0, 96);  // drawing nothing is fine
  DeleteDC(dc);
}

}  // namespace
