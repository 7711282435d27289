// kestrova-match: a report's devices matched against folders of driver packages.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "match/match_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return match::RunMatchCli(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
