// kestrova-scan: the scan without a window, for scripts and fleets.
#include <iostream>
#include <string>
#include <vector>

#include "app/scan_cli.h"
#include "platform/codepage.h"
#include "platform/memory.h"

int main(int argc, char** argv) {
  platform::KeepFreedMemory();
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromSystemNarrow(argv[i]));
  auto fs = app::MakeFileSystem();
  return app::RunScanCli(args, *fs, app::MakePlatformServices, std::cout, std::cerr);
}
