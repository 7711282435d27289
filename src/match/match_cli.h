// kestrova-match: a report matched against folders of driver packages.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace match {

// Exit status: 0 ran (with or without matches), 2 usage, 3 the report is
// unreadable or no report, 4 no drivers to match against (run beside a
// report only), 1 any other failure (its reason on `err`).
// `progress`: draw a progress bar on `err` while reading the catalog.
// Text in and out is UTF-8.
int RunMatchCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool progress);

// The program started with no arguments, as a double-click starts it: the
// report the scan wrote last, the folder the program sits in (subfolders
// too) as the catalog, the results page written beside the report and
// handed to `open_page`.
struct BesideReport {
  std::string report, catalog, page;
};
int RunMatchBesideReport(const BesideReport& paths, std::ostream& out, std::ostream& err,
                         bool progress, const std::function<void(const std::string&)>& open_page);

}  // namespace match
