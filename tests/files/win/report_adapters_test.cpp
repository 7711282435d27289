// The Win32 time stamp, Save-As dialog and shell open, against the real
// system (Wine in the test session's display).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <thread>

#include "files/save_dialog.h"
#include "files/shell.h"
#include "files/win/win_clock.h"
#include "files/win/win_save_dialog.h"
#include "files/win/win_shell.h"
#include "platform/codepage.h"

namespace {

TEST(WinClock, FormatsWithTheUsersLocale) {
  file::WinClock clock;
  const file::LocalTime t{2026, 12, 6, 18, 10, 33};
  // The same as asking the system directly.
  SYSTEMTIME st{};
  st.wYear = 2026;
  st.wMonth = 12;
  st.wDay = 6;
  st.wHour = 18;
  st.wMinute = 10;
  st.wSecond = 33;
  // In wide characters: the ANSI answer is in the user locale's code page,
  // which need not be the system's (learn.microsoft.com: "GetDateFormatA
  // function (datetimeapi.h)"); the two agree wherever they are the same.
  wchar_t wide[128];
  ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, wide, 128), 0);
  EXPECT_EQ(clock.ShortDate(t), wide);
  ASSERT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, wide, 128), 0);
  EXPECT_EQ(clock.LongTime(t), wide);
  char buf[128];
  char user_code_page[8] = {};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, user_code_page,
                 sizeof user_code_page);
  if (std::to_string(GetACP()) == user_code_page) {
    ASSERT_GT(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, sizeof buf),
              0);
    EXPECT_EQ(clock.ShortDate(t), platform::FromAnsi(buf));
  }
  EXPECT_GE(clock.Now().year, 2024);
}

TEST(WinSaveDialog, CommonDialogLibraryIsVersion5OrLater) {
  file::WinDialogApi api;
  EXPECT_GT(api.VersionInfoSize("Comdlg32.dll"), 0u);
  EXPECT_TRUE(file::CommonDialogIsVersion5(api));
  EXPECT_EQ(api.VersionInfoSize("no-such-library.dll"), 0u);
}

TEST(WinSaveDialog, PlatformRecordMatchesTheRecordFieldByField) {
  file::SaveFileRecord r = file::BuildSaveRecord(true, L"drivers", L"C:\\d");
  OPENFILENAMEW ofn = file::ToOpenFileName(r);
  static_assert(sizeof(OPENFILENAMEW) == 88, "the full 32-bit record");
  EXPECT_EQ(ofn.lStructSize, 88u);
  EXPECT_EQ(std::wstring(ofn.lpstrFilter, 41), r.lpstrFilter);
  EXPECT_EQ(ofn.nFilterIndex, 2u);
  EXPECT_EQ(ofn.lpstrFile, r.lpstrFile.data());
  EXPECT_EQ(ofn.nMaxFile, 700u);
  EXPECT_EQ(ofn.lpstrFileTitle, r.lpstrFileTitle.data());
  EXPECT_EQ(ofn.nMaxFileTitle, 260u);
  EXPECT_STREQ(ofn.lpstrInitialDir, L"C:\\d");
  EXPECT_STREQ(ofn.lpstrTitle, L"Save File As...");
  EXPECT_EQ(ofn.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                                          OFN_ENABLEHOOK | OFN_EXTENSIONDIFFERENT | OFN_EXPLORER |
                                          OFN_ENABLESIZING | OFN_FORCESHOWHIDDEN));
  EXPECT_STREQ(ofn.lpstrDefExt, L"doc");
  EXPECT_EQ(ofn.lpfnHook, &file::DialogHookProc);
}

// Drives the real dialog from a second thread: waits for it, notes its
// state, optionally visits a subfolder, then types a name and saves, or
// cancels. Results are read after Join().
class DialogDriver {
 public:
  DialogDriver(const char* type_name, const char* visit)
      : type_name_(type_name), visit_(visit), dialog_thread_(GetCurrentThreadId()), thread_([this] {
          Run();
          EndLeftovers();
        }) {}
  ~DialogDriver() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool found = false;
  bool overwrite_asked = false;
  int first_view = -1, list_before_visit = -1, after_visit = -1;
  int items = -1;
  bool html_selected = false;
  std::string file_box;

 private:
  static int ViewStyle(HWND dialog, int* items = nullptr) {
    HWND view = FindWindowExA(dialog, nullptr, "SHELLDLL_DefView", nullptr);
    HWND list = view ? FindWindowExA(view, nullptr, WC_LISTVIEWA, nullptr) : nullptr;
    if (!list) return -1;
    if (items) *items = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    return static_cast<int>(GetWindowLongA(list, GWL_STYLE) & LVS_TYPEMASK);
  }
  // Whatever went wrong, no dialog of the test thread stays open (a test
  // must fail, not hang): any still there after 5 s is cancelled.
  static BOOL CALLBACK NoteOpenDialog(HWND w, LPARAM any) {
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "#32770" && IsWindowVisible(w)) *reinterpret_cast<bool*>(any) = true;
    return TRUE;
  }
  static BOOL CALLBACK Dismiss(HWND w, LPARAM) {
    PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(w, WM_COMMAND, IDNO, 0);
    return TRUE;
  }
  void EndLeftovers() {
    for (int i = 0; i < 50; ++i) {
      bool open = false;
      EnumThreadWindows(dialog_thread_, NoteOpenDialog, reinterpret_cast<LPARAM>(&open));
      if (!open) return;
      Sleep(100);
    }
    EnumThreadWindows(dialog_thread_, Dismiss, 0);
  }
  void Run() {
    HWND dialog = nullptr;
    for (int i = 0; i < 150 && !dialog; ++i) {  // up to 15 s
      Sleep(100);
      dialog = FindWindowA("#32770", "Save File As...");
    }
    if (!dialog) return;
    found = true;
    Sleep(700);  // the first folder is shown
    first_view = ViewStyle(dialog, &items);
    char text[800] = {};
    GetDlgItemTextA(dialog, 1148 /* cmb13: file name */, text, sizeof text);
    if (!text[0]) GetDlgItemTextA(dialog, 1152 /* edt1 */, text, sizeof text);
    file_box = text;
    char type[64] = {};
    if (HWND types = GetDlgItem(dialog, 1136 /* cmb1: file types */)) {
      const LRESULT sel = SendMessageA(types, CB_GETCURSEL, 0, 0);
      if (sel >= 0) SendMessageA(types, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(type));
    }
    html_selected = std::string(type) == "HTML (.html)";
    if (visit_) {
      // List view by hand, then into the subfolder: the hook must switch
      // the new folder's view back to details.
      HWND view = FindWindowExA(dialog, nullptr, "SHELLDLL_DefView", nullptr);
      SendMessageA(view, WM_COMMAND, 0x702B, 0);
      list_before_visit = ViewStyle(dialog);
      SetDlgItemTextA(dialog, 1148, visit_);
      SetDlgItemTextA(dialog, 1152, visit_);
      SendMessageA(dialog, WM_COMMAND, IDOK, 0);
      Sleep(700);
      after_visit = ViewStyle(dialog);
    }
    if (type_name_) {
      SetDlgItemTextA(dialog, 1148, type_name_);
      SetDlgItemTextA(dialog, 1152, type_name_);
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      // An existing file: the dialog asks, under its own title, whether to
      // replace it; the answer is yes.
      for (int i = 0; i < 30; ++i) {
        Sleep(100);
        HWND prompt = nullptr;
        while ((prompt = FindWindowExA(nullptr, prompt, "#32770", "Save File As...")) != nullptr) {
          if (prompt != dialog && IsWindowVisible(prompt)) break;
        }
        if (prompt) {
          overwrite_asked = true;
          PostMessageA(prompt, WM_COMMAND, IDYES, 0);
          break;
        }
        if (!IsWindow(dialog)) break;
      }
    } else {
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  }
  const char* type_name_;
  const char* visit_;
  DWORD dialog_thread_;
  std::thread thread_;
};

class WinSaveDialogLive : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, tmp), 0u);
    folder = std::string(tmp) + "kestrova-dlg-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
    // A report in the folder, which the dialog lists. (Wine 8 leaves hidden
    // files out even with OFN_FORCESHOWHIDDEN, so that is not checked here.)
    const std::string hidden = folder + "\\hidden.html";
    HANDLE h = CreateFileA(hidden.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(h);
    GetCurrentDirectoryA(MAX_PATH, cwd);
  }
  void TearDown() override {
    for (const char* f : {"\\hidden.html", "\\sub\\report.html", "\\sub\\report.doc",
                          "\\report.html", "\\report.doc"}) {
      SetFileAttributesA((folder + f).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA((folder + f).c_str());
    }
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
  }
  std::string folder;
  char cwd[MAX_PATH] = {};
  file::WinDialogApi api;
};

TEST_F(WinSaveDialogLive, OpensInTheFolderInDetailsViewAndCancelGivesNothing) {
  DialogDriver driver(nullptr, nullptr);
  const std::wstring chosen = file::ShowSaveDialog(api, L"drivers", platform::FromAnsi(folder));
  driver.Join();
  ASSERT_TRUE(driver.found) << "no dialog titled \"Save File As...\" appeared";
  EXPECT_EQ(chosen, L"");
  EXPECT_EQ(driver.first_view, LVS_REPORT);
  EXPECT_EQ(driver.file_box, "drivers");
  EXPECT_TRUE(driver.html_selected);
  EXPECT_EQ(driver.items, 2) << "the subfolder and the report";
}

TEST_F(WinSaveDialogLive, EveryFolderVisitedIsInDetailsViewAndTheTypedNameComesBack) {
  DialogDriver driver("report", "sub");
  const std::wstring chosen = file::ShowSaveDialog(api, L"drivers", platform::FromAnsi(folder));
  driver.Join();
  ASSERT_TRUE(driver.found);
  EXPECT_EQ(driver.list_before_visit, LVS_LIST);
  EXPECT_EQ(driver.after_visit, LVS_REPORT);
  // Wine completes a name typed without extension from the selected filter
  // ("*.html"), not from the default extension "doc".
  EXPECT_EQ(chosen, platform::FromAnsi(folder + "\\sub\\report.html"));
  char now[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, now);
  EXPECT_STREQ(now, cwd);
}

TEST_F(WinSaveDialogLive, ChoosingAnExistingFileAsksBeforeReplacingIt) {
  DialogDriver driver("hidden.html", nullptr);
  const std::wstring chosen = file::ShowSaveDialog(api, L"drivers", platform::FromAnsi(folder));
  driver.Join();
  ASSERT_TRUE(driver.found);
  EXPECT_TRUE(driver.overwrite_asked);
  EXPECT_EQ(chosen, platform::FromAnsi(folder + "\\hidden.html"));
}

TEST_F(WinSaveDialogLive, AFolderOutsideTheAnsiCodePageOpensAndComesBack) {
  const std::wstring odd =
      platform::FromAnsi(folder) + L"\\\u0395\u03bb\u03ad\u03bd\u03b7 \u5f20\u4f1f";
  ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
  DialogDriver driver("report", nullptr);
  const std::wstring chosen = file::ShowSaveDialog(api, L"drivers", odd);
  driver.Join();
  RemoveDirectoryW(odd.c_str());
  ASSERT_TRUE(driver.found);
  EXPECT_EQ(driver.items, 0) << "not the empty folder asked for";
  EXPECT_EQ(chosen, odd + L"\\report.html");
}

TEST(WinShell, OpenOfAMissingFileReturnsQuietly) {
  file::WinShell shell;
  file::OpenDocument(shell, L"C:\\no\\such\\report.html");
  SUCCEED() << "returned without a message box";
}

}  // namespace
