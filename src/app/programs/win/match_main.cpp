// kestrova-match.exe: a report's devices matched against folders of driver
// packages. With arguments, the command line of every platform. Started with
// none (a double-click on a stick of drivers): the report the scan wrote last
// against the folder the program sits in, the results page written beside the
// report and opened.
#include <windows.h>

#include <string>
#include <vector>

#include "app/scan_cli.h"
#include "app/scan_workflow.h"
#include "files/file.h"
#include "files/win/win_file_system.h"
#include "files/win/win_shell.h"
#include "match/match_cli.h"
#include "platform/codepage.h"

namespace {

constexpr wchar_t kResultsName[] = L"driver-results.html";

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Whether this program is the only one on its console: Windows made the
// console for it (a double-click), and it closes when the program ends.
// Looked up at run time: not every XP kernel32 exports it.
bool OwnsConsole() {
  using ProcessList = DWORD(WINAPI*)(LPDWORD, DWORD);
  const auto list = reinterpret_cast<ProcessList>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetConsoleProcessList")));
  DWORD processes[2];
  return list != nullptr && list(processes, 2) == 1;
}

// A console of its own closes with the program: a failure's message would
// vanish unread, so it waits for a key first. In a command prompt, or with
// input from a file, it does not.
void KeepMessageReadable(std::ostream& err) {
  if (!OwnsConsole() || !IsConsole(STD_INPUT_HANDLE)) return;
  err << "\nPress a key to close this window.\n" << std::flush;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  FlushConsoleInputBuffer(input);
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::wstring> wide_args = app::ProgramArguments(argc, argv);
  // JSON and the summary are UTF-8, as on every platform.
  const app::StandardStreams streams = app::OpenUtf8StandardStreams();
  const bool progress = IsConsole(STD_ERROR_HANDLE);
  if (!wide_args.empty()) {
    std::vector<std::string> args;
    for (const std::wstring& a : wide_args) args.push_back(platform::ToUtf8(a));
    return match::RunMatchCli(args, streams.out, streams.err, progress);
  }

  file::WinFileSystem fs;
  const std::wstring work = fs.WorkFolder() + L"\\" + file::kFolderName + L"\\";
  match::BesideReport paths;
  paths.report = platform::ToUtf8(work + app::kTemplateName);
  paths.page = platform::ToUtf8(work + kResultsName);
  // On a stick the program often sits at the drive's root: "E:" alone names
  // the drive's current folder, the root needs its separator.
  std::wstring folder = fs.ExecutableFolder();
  if (!folder.empty() && folder.back() == L':') folder += L'\\';
  paths.catalog = platform::ToUtf8(folder);
  file::WinShell shell;
  const int status = match::RunMatchBesideReport(
      paths, streams.out, streams.err, progress,
      [&](const std::string& page) { file::OpenDocument(shell, platform::FromUtf8(page)); });
  if (status != 0) KeepMessageReadable(streams.err);
  return status;
}
