// Ranking of catalog drivers for a report's devices, as Windows ranks them.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "match/report.h"

namespace match {

// A candidate's driver package as it is offered for download (url empty
// where nothing serves it, as on the computer that holds the catalog).
struct PackageOffer {
  std::string url, sha256;
  std::uint64_t bytes = 0;
  std::string inf_name;  // the INF's name inside the package
  std::string folder;    // where the unpacked package is, when no url serves it
  // When no url serves it and it lies in an archive: the archives to unpack,
  // the file on disk first, then any nested in it; `folder` is then the
  // package's folder inside the last ("" for its top).
  std::vector<std::string> unpack;
  std::vector<std::string> missing;  // files the INF names that are not there
  bool preparing = false;            // its zip is being built: no url yet, ask again later
  // False while an archive's package waits to be built unread: whether it
  // is complete is not known yet.
  bool files_known = true;
  bool Complete() const { return missing.empty(); }
};

// Windows' driver rank 0xSSGGTHHH, lower is better: signature score SS,
// feature score GG, identifier score THHH.
struct Candidate {
  catalog::SharedLine line;         // never null; shared with the other devices it suits
  std::string matched_id;           // as the INF writes it
  bool device_hardware_id = false;  // the device id that matched is one of its hardware ids
  bool inf_hardware_id = false;     // the INF id it met is the line's hardware id
  bool is_signed = false;           // a catalog for the platform, present in the package
  std::uint32_t signature_score = 0, feature_score = 0, identifier_score = 0;
  std::uint32_t rank = 0;
  bool newer_than_installed = false;
  std::optional<PackageOffer> package;
  // What Microsoft calls a hardware id match: hardware id to hardware id.
  bool HardwareMatch() const { return device_hardware_id && inf_hardware_id; }
};

// At most this many candidates per device are kept, best first: a hostile
// catalog must not make one device's list (and every page) endless.
constexpr size_t kMaxCandidates = 100;

struct DeviceResult {
  Device device;
  std::vector<Candidate> candidates;  // best first
  size_t candidates_omitted = 0;      // beyond kMaxCandidates
};

// The system the drivers must suit, from the report's computer block.
// When the report cannot tell, the system is the one most computers run:
// Windows 11 24H2 (10.0.26100), a 64-bit workstation.
struct TargetSystem {
  std::string arch = "amd64";  // "x86", "amd64", "arm64"
  int major = 10, minor = 0, build = 26100;
  int product_type = 1;              // 1 workstation, 2 domain controller, 3 server
  std::uint32_t suite_mask = 0x100;  // VER_SUITE_* bits; a workstation has VER_SUITE_SINGLEUSERTS
};
TargetSystem TargetFromReport(const Report& report);

// The decoration (one of `decorations`, "" for the undecorated section) Windows
// would use for `system`, or nullptr when none applies.
const std::string* ChooseDecoration(const std::vector<std::string>& decorations,
                                    const TargetSystem& system);

// The identifier part of the rank: device id `device_index` of its list met
// the INF line's id `inf_index` (0 the hardware id, 1.. its compatible ids).
std::uint32_t IdScore(bool device_hardware_id, size_t device_index, size_t inf_index);
// The signature part: 0x00 signed, else 0x80 (installed by an .NT section) or 0xC0.
std::uint32_t SignatureScore(const catalog::ModelLine& line);
// True when a ranks before b (rank, then newer date, then higher version,
// then catalog folder, INF and line for a stable order).
bool RanksBefore(const Candidate& a, const Candidate& b);

std::string RankHex(std::uint32_t rank);  // "0x00FF0000"
// "hardware id", or which lists met: "hardware id to compatible id"...
std::string MatchTerms(const Candidate& c);

std::vector<DeviceResult> MatchReport(const Report& report, const catalog::LineSource& catalog);

// Gives every candidate the package `offer` finds for its line (nullopt
// leaves it without one).
using PackageFinder = std::function<std::optional<PackageOffer>(const catalog::ModelLine&)>;
void AttachPackages(std::vector<DeviceResult>& results, const PackageFinder& offer);

nlohmann::json ResultsJson(const Report& report, const std::vector<DeviceResult>& results);
std::string ResultsPage(const Report& report,
                        const std::vector<DeviceResult>& results);  // full HTML, own CSP

}  // namespace match
