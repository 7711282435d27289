#include <iostream>

#include "app/scan_cli.h"
#include "platform/codepage.h"

namespace app {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromSystemNarrow(argv[i]));
  return args;
}

StandardStreams OpenStandardStreams() {
  return {std::cout, std::cerr};
}

StandardStreams OpenUtf8StandardStreams() {
  return {std::cout, std::cerr};
}

}  // namespace app
