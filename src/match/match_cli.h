// kestrova-match: a report matched against folders of driver packages.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace match {

// Exit status: 0 ran (with or without matches), 2 usage, 3 the report is
// unreadable or no report, 1 any other failure (its reason on `err`).
// `progress`: draw a progress bar on `err` while indexing.
int RunMatchCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool progress);

}  // namespace match
