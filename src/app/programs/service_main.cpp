// kestrova-service: receives the report page's post, stores it, and answers
// with the drivers for the computer's devices.
#include <iostream>
#include <string>
#include <vector>

#include "service/service_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return service::RunServiceCli(args, std::cout, std::cerr);
}
