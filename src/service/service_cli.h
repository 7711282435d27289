// kestrova-service's command line: arguments read into settings, then the
// service run until a signal stops it.
#pragma once

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "service/server.h"

namespace service {

struct ServiceSettings {
  ServiceOptions options;
  std::vector<std::string> catalogs;
  std::string store_url;   // empty: the default SQLite file
  std::string index_path;  // empty: the default index file
};

// What the arguments ask for: settings to run with, the help text, or a
// refusal with its reason.
struct HelpWanted {};
struct UsageError {
  std::string reason;
};
using ParsedArguments = std::variant<ServiceSettings, HelpWanted, UsageError>;

ParsedArguments ParseServiceArguments(const std::vector<std::string>& args);

// Exit status: 0 after a stop by signal or --help, 1 when the service
// could not start, 2 for a usage error. The listening address is the one
// line written to `out`; everything else goes to `err`.
int RunServiceCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace service
