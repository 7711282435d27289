#include <gtest/gtest.h>

#include "fakes/fake_dialog_api.h"
#include "fakes/fake_shell.h"
#include "files/html_escape.h"
#include "files/save_dialog.h"
#include "files/shell.h"

namespace {

using file::SaveFileRecord;

TEST(SaveDialog, RecordCarriesEveryFieldTheDialogNeeds) {
  const SaveFileRecord r = file::BuildSaveRecord(true, L"drivers", L"C:\\users\\u\\desktop");
  EXPECT_EQ(r.lStructSize, 88u);
  EXPECT_EQ(r.hwndOwner, 0u);
  EXPECT_EQ(r.hInstance, 0u);
  EXPECT_EQ(r.lpstrFilter, std::wstring(L"All Files (*.*)\0*.*\0HTML (.html)\0*.html\0\0", 41));
  EXPECT_FALSE(r.has_custom_filter);
  EXPECT_EQ(r.nMaxCustFilter, 0u);
  EXPECT_EQ(r.nFilterIndex, 2u);
  EXPECT_EQ(r.lpstrFile, L"drivers" + std::wstring(700, L'\0'));
  EXPECT_EQ(r.nMaxFile, 700u);
  EXPECT_EQ(r.lpstrFileTitle, std::wstring(260, L'\0'));
  EXPECT_EQ(r.nMaxFileTitle, 260u);
  EXPECT_EQ(r.lpstrInitialDir, L"C:\\users\\u\\desktop");
  EXPECT_EQ(r.lpstrTitle, L"Save File As...");
  EXPECT_EQ(r.Flags, 0x1088042Eu);
  EXPECT_EQ(r.lpstrDefExt, L"doc");
  EXPECT_EQ(r.lCustData, 0u);
  EXPECT_TRUE(r.hook);
  EXPECT_FALSE(r.has_template_name);
  EXPECT_EQ(file::BuildSaveRecord(false, L"", L"").lStructSize, 76u);
}

TEST(SaveDialog, RecordSizeFollowsTheCommonDialogMajorVersion) {
  fakes::FakeDialogApi api;
  api.major = 5;
  EXPECT_TRUE(file::CommonDialogIsVersion5(api));
  EXPECT_EQ(api.version_files.back(), "Comdlg32.dll");
  api.major = 0x104;  // both bytes of the 16-bit value count
  EXPECT_TRUE(file::CommonDialogIsVersion5(api));
  api.major = 4;
  EXPECT_FALSE(file::CommonDialogIsVersion5(api));
  file::ShowSaveDialog(api, L"drivers", L"D");
  EXPECT_EQ(api.shown->lStructSize, 76u);

  api.major = 6;
  api.info_size = 0;  // no version resource
  EXPECT_FALSE(file::CommonDialogIsVersion5(api));
  api.info_size = 512;
  api.query_ok = false;
  EXPECT_FALSE(file::CommonDialogIsVersion5(api));
  api.query_ok = true;
  file::ShowSaveDialog(api, L"drivers", L"D");
  EXPECT_EQ(api.shown->lStructSize, 88u);
}

TEST(SaveDialog, ReturnsTheTextBeforeTheFirstNulOrEmptyOnCancel) {
  fakes::FakeDialogApi api;
  EXPECT_EQ(file::ShowSaveDialog(api, L"drivers", L"C:\\d"), L"");
  ASSERT_TRUE(api.shown);

  api.user_types = L"C:\\d\\report.html";
  EXPECT_EQ(file::ShowSaveDialog(api, L"drivers", L"C:\\d"), L"C:\\d\\report.html");
  api.user_types = L"";
  EXPECT_EQ(file::ShowSaveDialog(api, L"drivers", L"C:\\d"), L"");

  // 699 characters and the NUL fill the buffer; any character comes back,
  // also one no ANSI code page has together with the others.
  const std::wstring longest = L"C:\\" + std::wstring(694, L'a') + L"\u00e9\u5f20";
  api.user_types = longest;
  const std::wstring chosen = file::ShowSaveDialog(api, std::wstring(699, L'n'), L"C:\\d");
  EXPECT_EQ(chosen.size(), 699u);
  EXPECT_EQ(chosen, longest);
  EXPECT_EQ(api.shown->lpstrFile.size(), 699u + 700u);
}

TEST(SaveDialog, HookSwitchesTheFolderViewToDetailsOnEveryFolderChange) {
  fakes::FakeDialogApi api;
  const file::NotifyHeader folder_change{10, 0, -603};
  const file::NotifyHeader selection_change{10, 0, -602};
  EXPECT_EQ(file::HookProcedure(api, 10, 78, &folder_change), 0);
  EXPECT_EQ(file::HookProcedure(api, 10, 78, &folder_change), 0);
  ASSERT_EQ(api.sent.size(), 2u);
  EXPECT_EQ(api.sent[0].window, 30u);
  EXPECT_EQ(api.sent[0].message, 273u);
  EXPECT_EQ(api.sent[0].wparam, 0x702Cu);
  EXPECT_EQ(api.sent[0].lparam, 0);

  // Other messages and other notifications are left alone, and the header
  // of a message other than WM_NOTIFY is not looked at.
  EXPECT_EQ(file::HookProcedure(api, 10, 78, &selection_change), 0);
  EXPECT_EQ(file::HookProcedure(api, 10, 273, &folder_change), 0);
  EXPECT_EQ(file::HookProcedure(api, 10, 78, nullptr), 0);
  EXPECT_EQ(api.sent.size(), 2u);

  // No folder view: nothing is sent.
  api.view = 0;
  EXPECT_EQ(file::HookProcedure(api, 10, 78, &folder_change), 0);
  EXPECT_EQ(api.sent.size(), 2u);
  EXPECT_EQ(api.searched_classes.back(), "SHELLDLL_DefView");
}

TEST(OpenDocument, AsksTheShellToOpenShownNormallyWithoutOwnerAndIgnoresFailure) {
  fakes::FakeShell shell;
  file::OpenDocument(shell, L"C:\\Temp\\pellucor\\driver.html");
  ASSERT_EQ(shell.calls.size(), 1u);
  const auto& c = shell.calls[0];
  EXPECT_EQ(c.owner, 0u);
  EXPECT_EQ(c.verb, L"open");
  EXPECT_EQ(c.file, L"C:\\Temp\\pellucor\\driver.html");
  EXPECT_EQ(c.parameters, L"");
  EXPECT_EQ(c.directory, L"");
  EXPECT_EQ(c.show_command, 1);  // SW_SHOWNORMAL
  shell.fail = true;
  EXPECT_NO_THROW(file::OpenDocument(shell, L"C:\\missing.html"));
}

TEST(EscapeHtml, EscapesTheFiveMarkupCharactersOnly) {
  EXPECT_EQ(file::EscapeHtml(L"</textarea><script>alert('x&y')</script>\"\r\n[proc] \u00e9"),
            L"&lt;/textarea&gt;&lt;script&gt;alert(&#39;x&amp;y&#39;)&lt;/script&gt;&quot;"
            L"\r\n[proc] \u00e9");
  EXPECT_EQ(file::EscapeHtml(L"&amp;"), L"&amp;amp;");  // escaped once, never decoded
  EXPECT_EQ(file::EscapeHtml(L""), L"");
}

}  // namespace
