#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "app/scan_cli.h"
#include "platform/codepage.h"

namespace app {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
  // The narrow arguments passed through the ANSI code page, which cannot
  // spell every file name; the wide command line can.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> args;
  if (wide) {
    for (int i = 1; i < count; ++i) args.emplace_back(wide[i]);
    LocalFree(wide);
    return args;
  }
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromSystemNarrow(argv[i]));
  return args;
}

}  // namespace app
