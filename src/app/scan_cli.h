// The command-line tool: the same scan as the window, without one.
//   kestrova-scan [--template FILE] [--output FILE] [--open] [--help] [--version]
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/scan_services.h"
#include "app/scan_ui.h"
#include "files/file_system.h"

namespace app {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitTemplateMissing = 3,
  kExitNoScanData = 4,
};

// Builds the services for a scan reporting to the given UI.
using ServicesFactory = std::function<ScanServices(ScanUi&, file::FileSystem&)>;

// The program's arguments (without its name) as wide text: on Windows from
// the wide command line, so every file name survives.
std::vector<std::wstring> ProgramArguments(int argc, char** argv);

// The program's standard output and error as streams that take UTF-8. On
// Windows a console receives the text as Unicode and a file or pipe in the
// ANSI code page; on Linux they are std::cout and std::cerr.
struct StandardStreams {
  std::ostream& out;
  std::ostream& err;
};
StandardStreams OpenStandardStreams();
// The same, but a file or pipe receives the UTF-8 as it is.
StandardStreams OpenUtf8StandardStreams();

// Runs one scan from the arguments (without the program name). Status texts
// and messages go to `err` a line each; on success the work-folder report's
// path is the only line on `out`. Both streams receive UTF-8.
int RunScanCli(const std::vector<std::wstring>& args, file::FileSystem& fs,
               const ServicesFactory& make_services, std::ostream& out, std::ostream& err);

}  // namespace app
