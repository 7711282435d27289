// kestrova-scan: the scan without a window, for scripts and fleets.
#include <string>
#include <vector>

#include "app/scan_cli.h"
#include "platform/memory.h"

int main(int argc, char** argv) {
  platform::KeepFreedMemory();
  const std::vector<std::wstring> args = app::ProgramArguments(argc, argv);
  auto fs = app::MakeFileSystem();
  const app::StandardStreams streams = app::OpenStandardStreams();
  return app::RunScanCli(args, *fs, app::MakePlatformServices, streams.out, streams.err);
}
