// Ranking of catalog drivers for a report's devices, as Windows ranks them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalog/catalog.h"
#include "match/report.h"

namespace match {

struct Candidate {
  catalog::ModelLine line;
  std::string matched_id;  // as the INF writes it
  bool hardware_match = false;  // the device id that matched is one of its hardware ids
  long rank = 0;                // lower is better
  bool newer_than_installed = false;
};

struct DeviceResult {
  Device device;
  std::vector<Candidate> candidates;  // best first
};

// The system the drivers must suit, from the report's computer block.
struct TargetSystem {
  std::string arch = "amd64";  // "x86", "amd64", "arm64"
  int major = 0, minor = 0, build = 0;  // 0.0.0: unknown, every OS version decoration applies
  int product_type = 1;        // 1 workstation, 3 server
};
TargetSystem TargetFromReport(const Report& report);

// The decoration (one of `decorations`, "" for the undecorated section) Windows
// would use for `system`, or nullptr when none applies.
const std::string* ChooseDecoration(const std::vector<std::string>& decorations, const TargetSystem& system);

// The identifier part of the rank: which device id met which INF id.
long IdScore(bool device_hardware_id, size_t device_index, size_t inf_index);
// True when a ranks before b (rank, then newer date, then higher version).
bool RanksBefore(const Candidate& a, const Candidate& b);

std::vector<DeviceResult> MatchReport(const Report& report, const catalog::Index& index);

nlohmann::json ResultsJson(const Report& report, const std::vector<DeviceResult>& results);
std::string ResultsPage(const Report& report, const std::vector<DeviceResult>& results);  // full HTML, own CSP

}  // namespace match
