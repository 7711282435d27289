#include "match/match.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <tuple>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/text.h"

namespace match {
namespace {

struct Decoration {
  std::string arch;  // "" when the decoration names none
  int major = 0, minor = 0, product_type = 0, build = 0;
  std::uint32_t suite_mask = 0;
};

std::optional<int> ParseNumber(std::string_view s) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  long v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return std::nullopt;
    v = v * base + d;
    if (v > 0x7FFFFFFF) return std::nullopt;
  }
  return static_cast<int>(v);
}

// NT[arch][.major[.minor[.product[.suite[.build]]]]]; nullopt for text that
// is no decoration (such a section is never chosen).
std::optional<Decoration> ParseDecoration(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  const std::string head = platform::AsciiUpper(parts[0]);
  if (head.rfind("NT", 0) != 0 || parts.size() > 6) return std::nullopt;
  Decoration d;
  d.arch = platform::AsciiUpper(head.substr(2));
  if (!d.arch.empty() && d.arch != "X86" && d.arch != "AMD64" && d.arch != "ARM64" &&
      d.arch != "ARM" && d.arch != "IA64") {
    return std::nullopt;
  }
  int suite = 0;
  int* fields[] = {&d.major, &d.minor, &d.product_type, &suite, &d.build};
  for (size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].empty()) continue;
    std::optional<int> n = ParseNumber(parts[i]);
    if (!n) return std::nullopt;
    *fields[i - 1] = *n;
  }
  d.suite_mask = static_cast<std::uint32_t>(suite);
  return d;
}

std::string CanonicalArch(const TargetSystem& s) {
  return s.arch == "x86" ? "X86" : s.arch == "arm64" ? "ARM64" : "AMD64";
}

bool Fits(const Decoration& d, const TargetSystem& s) {
  // Since the 64-bit systems arrived, a decoration without architecture
  // (like an undecorated section) is for x86 only.
  const std::string arch = CanonicalArch(s);
  if (d.arch.empty() ? arch != "X86" : d.arch != arch) return false;
  if (std::tie(d.major, d.minor) > std::tie(s.major, s.minor)) return false;
  if (std::tie(d.major, d.minor) == std::tie(s.major, s.minor) && d.build > s.build) return false;
  if (d.product_type != 0 && d.product_type != s.product_type) return false;
  // Every suite bit the section asks for must be the system's.
  if ((d.suite_mask & s.suite_mask) != d.suite_mask) return false;
  return true;
}

std::vector<int> VersionParts(const std::string& v) {
  if (v.empty()) return {0, 0, 0, 0};  // a missing version is 0.0.0.0
  std::vector<int> parts;
  size_t start = 0;
  while (start <= v.size()) {
    const size_t dot = v.find('.', start);
    const std::string piece =
        v.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    std::optional<int> n = ParseNumber(piece);
    if (!n) return {};
    parts.push_back(*n);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  parts.resize(4, 0);
  return parts;
}

// <0, 0, >0 as a's version is lower, equal or higher; unreadable ones are lowest.
int CompareVersions(const std::string& a, const std::string& b) {
  const std::vector<int> x = VersionParts(a), y = VersionParts(b);
  if (x == y) return 0;
  return x < y ? -1 : 1;
}

bool IsDate(const std::string& d) {
  return d.size() == 10 && d[4] == '-' && d[7] == '-';
}

bool NewerThanInstalled(const catalog::ModelLine& line, const InstalledDriver& installed) {
  if (installed.inf.empty() || !IsDate(line.driver_date)) return false;
  if (!IsDate(installed.date)) return false;
  if (line.driver_date != installed.date) return line.driver_date > installed.date;
  return !VersionParts(installed.version).empty() &&
         CompareVersions(line.driver_version, installed.version) > 0;
}

// ExcludeID keeps a device out when any of its ids is listed.
bool Excluded(const catalog::ModelLine& line, const Device& device) {
  for (const std::string& excluded : line.exclude_ids) {
    for (const auto* list : {&device.hardware_ids, &device.compatible_ids}) {
      for (const std::string& id : *list) {
        if (platform::EqualsIgnoringAsciiCase(id, excluded)) return true;
      }
    }
  }
  return false;
}

size_t PositionIn(const std::vector<std::string>& ids, const std::string& id) {
  for (size_t i = 0; i < ids.size(); ++i) {
    if (platform::EqualsIgnoringAsciiCase(ids[i], id)) return i;
  }
  return ids.size();
}

// Lines alike in these (ids without regard to case) are one line to a
// device, wherever they were found.
bool SameLine(const catalog::ModelLine& a, const catalog::ModelLine& b) {
  if (std::tie(a.catalog_dir, a.inf, a.manufacturer, a.decoration, a.description,
               a.install_section) != std::tie(b.catalog_dir, b.inf, b.manufacturer, b.decoration,
                                              b.description, b.install_section) ||
      a.ids.size() != b.ids.size())
    return false;
  for (size_t i = 0; i < a.ids.size(); ++i)
    if (!platform::EqualsIgnoringAsciiCase(a.ids[i], b.ids[i])) return false;
  return true;
}

// A hash that agrees with SameLine: the file and the description tell most
// lines apart.
size_t LineHash(const catalog::ModelLine& l) {
  const std::hash<std::string> hash;
  return hash(l.inf) ^ (hash(l.description) * 31) ^ (hash(l.install_section) * 961) ^ l.ids.size();
}

// VER_SUITE_* bits an edition's name implies (the report has no suite mask).
std::uint32_t SuiteFromCaption(const std::string& caption, bool server) {
  std::uint32_t suite = server ? 0x10 : 0x100;  // VER_SUITE_TERMINAL / VER_SUITE_SINGLEUSERTS
  const struct {
    const char* word;
    std::uint32_t bits;
  } editions[] = {{"HOME", 0x200},    {"ENTERPRISE", 0x2},      {"DATACENTER", 0x80},
                  {"EMBEDDED", 0x40}, {"SMALL BUSINESS", 0x21}, {"ESSENTIALS", 0x21},
                  {"WEB", 0x400},     {"STORAGE", 0x2000}};
  for (const auto& e : editions) {
    if (caption.find(e.word) != std::string::npos) suite |= e.bits;
  }
  return suite;
}

}  // namespace

TargetSystem TargetFromReport(const Report& report) {
  TargetSystem s;
  if (const std::string* arch = report.Computer("OSArchitecture")) {
    const std::string a = platform::AsciiUpper(*arch);
    if (a.find("ARM") != std::string::npos)
      s.arch = "arm64";
    else if (a.find("32") != std::string::npos)
      s.arch = "x86";
    else
      s.arch = "amd64";
  }
  const std::string* caption = report.Computer("Caption");
  const bool windows =
      caption != nullptr && platform::AsciiUpper(*caption).find("WINDOWS") != std::string::npos;
  if (windows) {
    const std::string edition = platform::AsciiUpper(*caption);
    const bool server = edition.find("SERVER") != std::string::npos;
    s.product_type = server ? 3 : 1;
    s.suite_mask = SuiteFromCaption(edition, server);
    // Labels the computer block may carry, as Win32_OperatingSystem names
    // them: only they can tell a domain controller (product type 2).
    if (const std::string* type = report.Computer("ProductType")) {
      if (std::optional<int> n = ParseNumber(platform::TrimWhiteSpace(*type));
          n && *n >= 1 && *n <= 3)
        s.product_type = *n;
    }
    if (const std::string* suite = report.Computer("OSProductSuite")) {
      if (std::optional<int> n = ParseNumber(platform::TrimWhiteSpace(*suite)))
        s.suite_mask = static_cast<std::uint32_t>(*n);
    }
    // "10.0.19045": major.minor.build. A Linux report's kernel version says
    // nothing of Windows, so it leaves the version open.
    if (const std::string* version = report.Computer("Version")) {
      int parts[3] = {-1, -1, -1};
      size_t start = 0;
      for (int i = 0; i < 3 && start <= version->size(); ++i) {
        const size_t dot = version->find('.', start);
        parts[i] =
            ParseNumber(platform::TrimWhiteSpace(version->substr(
                            start, dot == std::string::npos ? std::string::npos : dot - start)))
                .value_or(-1);
        if (dot == std::string::npos) break;
        start = dot + 1;
      }
      // A version that cannot be read leaves the most likely one.
      if (parts[0] > 0 && parts[1] >= 0) {
        s.major = parts[0];
        s.minor = parts[1];
        s.build = std::max(parts[2], 0);
      }
    }
  }
  return s;
}

const std::string* ChooseDecoration(const std::vector<std::string>& decorations,
                                    const TargetSystem& system) {
  const std::string* best = nullptr;
  std::tuple<int, int, int, int, int, int> best_key{};
  bool has_undecorated = false;
  for (const std::string& text : decorations) {
    if (text.empty()) {
      has_undecorated = true;
      continue;
    }
    std::optional<Decoration> d = ParseDecoration(text);
    if (!d || !Fits(*d, system)) continue;
    // The closest match: the highest version, then a named architecture,
    // product type and suite mask before none.
    std::tuple<int, int, int, int, int, int> key{d->major,
                                                 d->minor,
                                                 d->build,
                                                 d->arch.empty() ? 0 : 1,
                                                 d->product_type != 0 ? 1 : 0,
                                                 d->suite_mask != 0 ? 1 : 0};
    if (best == nullptr || key > best_key) {
      best = &text;
      best_key = key;
    }
  }
  if (best == nullptr && has_undecorated && system.arch == "x86") {
    for (const std::string& text : decorations) {
      if (text.empty()) return &text;
    }
  }
  return best;
}

std::uint32_t IdScore(bool device_hardware_id, size_t device_index, size_t inf_index) {
  // Identifier score (Windows 10, version 1709 and later): device hardware
  // id N to the INF hardware id 0x0000 + N, to an INF compatible id
  // 0x1000 + N (where in the INF does not count); device compatible id N to
  // the INF hardware id 0x2000 + N, to INF compatible id M 0x3000 + N + 0x100 * M.
  const std::uint32_t n = static_cast<std::uint32_t>(std::min<size_t>(device_index, 0xFF));
  if (device_hardware_id) return (inf_index == 0 ? 0x0000u : 0x1000u) + n;
  if (inf_index == 0) return 0x2000u + n;
  return 0x3000u + n + 0x100u * static_cast<std::uint32_t>(std::min<size_t>(inf_index, 0xF));
}

std::uint32_t SignatureScore(const catalog::ModelLine& line) {
  if (!line.catalog_file.empty() && line.catalog_present) return 0x00;  // whoever signed it
  return line.install_section_nt ? 0x80 : 0xC0;  // SIGNERSCORE_UNSIGNED / SIGNERSCORE_W9X_SUSPECT
}

namespace {

// The order of RanksBefore, on a rank and a line.
bool RanksBefore(std::uint32_t rank_a, const catalog::ModelLine& a, std::uint32_t rank_b,
                 const catalog::ModelLine& b) {
  if (rank_a != rank_b) return rank_a < rank_b;
  if (a.driver_date != b.driver_date) return a.driver_date > b.driver_date;
  const int v = CompareVersions(a.driver_version, b.driver_version);
  if (v != 0) return v > 0;
  // Equal in every respect Windows weighs: a stable order all the same.
  return std::tie(a.catalog_dir, a.inf, a.description, a.install_section, a.decoration) <
         std::tie(b.catalog_dir, b.inf, b.description, b.install_section, b.decoration);
}

// A line that met one of a device's ids, before it is known whether it
// makes the device's list.
struct Hit {
  const catalog::SharedLine* line;
  size_t inf_index;  // which of the line's ids met
  bool device_hardware_id;
  std::uint32_t signature_score, feature_score, identifier_score, rank;
};

}  // namespace

bool RanksBefore(const Candidate& a, const Candidate& b) {
  return RanksBefore(a.rank, *a.line, b.rank, *b.line);
}

std::vector<DeviceResult> MatchReport(const Report& report, const catalog::LineSource& index) {
  const TargetSystem system = TargetFromReport(report);
  // Only the models section the system would use counts: chosen once per
  // line read, not once per device that has the id. The lines of one
  // manufacturer entry share its decorations, so the last choice is reused.
  std::optional<std::vector<std::string>> last_decorations;
  std::optional<std::string> last_choice;
  const catalog::LineSource::LineFilter is_chosen = [&](const std::vector<std::string>& decorations,
                                                        std::string_view decoration) {
    if (last_decorations != decorations) {
      const std::string* chosen = ChooseDecoration(decorations, system);
      last_choice = chosen != nullptr ? std::optional<std::string>(*chosen) : std::nullopt;
      last_decorations = decorations;
    }
    return last_choice && *last_choice == decoration;
  };
  // Every id of the report in one read of the index: devices share most of
  // their ids, each is asked for once. Each device id's place in `keys`:
  // its hardware ids', then its compatible ids'.
  std::vector<std::string> keys;
  std::vector<std::vector<size_t>> key_of(report.devices.size());
  {
    std::unordered_map<std::string, size_t> seen;
    for (size_t d = 0; d < report.devices.size(); ++d) {
      const Device& device = report.devices[d];
      for (const auto* list : {&device.hardware_ids, &device.compatible_ids}) {
        for (const std::string& id : *list) {
          auto [it, fresh] = seen.try_emplace(platform::AsciiUpper(id), keys.size());
          if (fresh) keys.push_back(it->first);
          key_of[d].push_back(it->second);
        }
      }
    }
  }
  // Only the models section the system would use counts, so the catalog
  // leaves the other sections' lines undecoded.
  const std::vector<std::vector<catalog::SharedLine>> lines =
      index.SharedLinesForIds(keys, is_chosen);
  // Identical lines (the same text found twice) are one candidate: each line
  // gets the number of the first line like it, told once per report.
  std::vector<std::vector<size_t>> identity_of(lines.size());
  size_t identities = 0;
  {
    std::unordered_map<const catalog::ModelLine*, size_t> identity;
    std::unordered_multimap<size_t, std::pair<const catalog::ModelLine*, size_t>> by_hash;
    for (size_t k = 0; k < lines.size(); ++k) {
      for (const catalog::SharedLine& line : lines[k]) {
        auto [it, fresh] = identity.try_emplace(line.get(), identities);
        if (fresh) {
          const size_t hash = LineHash(*line);
          auto [same, end] = by_hash.equal_range(hash);
          while (same != end && !SameLine(*same->second.first, *line)) ++same;
          if (same != end)
            it->second = same->second.second;
          else
            by_hash.emplace(hash, std::make_pair(line.get(), identities++));
        }
        identity_of[k].push_back(it->second);
      }
    }
  }
  // Per identity, the device that last met it and where in its hits.
  std::vector<std::pair<size_t, size_t>> met(identities, {SIZE_MAX, 0});
  std::vector<Hit> hits;
  std::vector<DeviceResult> results;
  results.reserve(report.devices.size());
  for (size_t d = 0; d < report.devices.size(); ++d) {
    const Device& device = report.devices[d];
    DeviceResult result;
    result.device = device;
    hits.clear();
    auto consider = [&](const std::string& id, size_t key, bool hardware, size_t position) {
      if (id.empty()) return;  // never the empty hardware id of an INF line
      for (size_t j = 0; j < lines[key].size(); ++j) {
        const catalog::ModelLine& line = *lines[key][j];
        const size_t at = PositionIn(line.ids, id);
        if (at == line.ids.size()) continue;
        if (Excluded(line, device)) continue;
        const std::uint32_t signature_score = SignatureScore(line);
        const auto feature_score =
            static_cast<std::uint32_t>(std::clamp(line.feature_score, 0, 0xFF));
        const std::uint32_t identifier_score = IdScore(hardware, position, at);
        const std::uint32_t rank =
            (signature_score << 24) | (feature_score << 16) | identifier_score;
        const Hit hit{&lines[key][j],   at,  hardware, signature_score, feature_score,
                      identifier_score, rank};
        // A line already met by a better id keeps its place and that id.
        auto& [device_seen, slot] = met[identity_of[key][j]];
        if (device_seen != d) {
          device_seen = d;
          slot = hits.size();
          hits.push_back(hit);
        } else if (rank < hits[slot].rank) {
          hits[slot] = hit;
        }
      }
    };
    const std::vector<size_t>& device_keys = key_of[d];
    const size_t hardware_count = device.hardware_ids.size();
    for (size_t i = 0; i < hardware_count; ++i)
      consider(device.hardware_ids[i], device_keys[i], true, i);
    for (size_t i = 0; i < device.compatible_ids.size(); ++i)
      consider(device.compatible_ids[i], device_keys[hardware_count + i], false, i);
    std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
      return RanksBefore(a.rank, **a.line, b.rank, **b.line);
    });
    if (hits.size() > kMaxCandidates) {
      result.candidates_omitted = hits.size() - kMaxCandidates;
      hits.resize(kMaxCandidates);
    }
    // Only the lines that made the list are copied.
    result.candidates.reserve(hits.size());
    for (const Hit& hit : hits) {
      Candidate& c = result.candidates.emplace_back();
      c.line = *hit.line;
      c.matched_id = (*hit.line)->ids[hit.inf_index];
      c.device_hardware_id = hit.device_hardware_id;
      c.inf_hardware_id = hit.inf_index == 0;
      c.is_signed = hit.signature_score == 0;
      c.signature_score = hit.signature_score;
      c.feature_score = hit.feature_score;
      c.identifier_score = hit.identifier_score;
      c.rank = hit.rank;
      c.newer_than_installed = NewerThanInstalled(**hit.line, device.installed);
    }
    results.push_back(std::move(result));
  }
  return results;
}

std::string MatchTerms(const Candidate& c) {
  if (c.HardwareMatch()) return "hardware id";
  if (!c.device_hardware_id && !c.inf_hardware_id) return "compatible id";
  return c.device_hardware_id ? "hardware id to compatible id" : "compatible id to hardware id";
}

std::string RankHex(std::uint32_t rank) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(rank));
  return text;
}

void AttachPackages(std::vector<DeviceResult>& results, const PackageFinder& offer) {
  for (DeviceResult& r : results) {
    for (Candidate& c : r.candidates) c.package = offer(*c.line);
  }
}

nlohmann::json ResultsJson(const Report& report, const std::vector<DeviceResult>& results) {
  nlohmann::json computer = nlohmann::json::object();
  for (const auto& [label, value] : report.computer) {
    // A label the block repeats (one BIOS line per firmware) keeps every value.
    if (computer.contains(label)) {
      computer[label] = computer[label].get<std::string>() + "\n" + value;
    } else {
      computer[label] = value;
    }
  }
  nlohmann::json devices = nlohmann::json::array();
  for (const DeviceResult& r : results) {
    const Device& d = r.device;
    nlohmann::json candidates = nlohmann::json::array();
    for (const Candidate& c : r.candidates) {
      candidates.push_back({{"inf", c.line->inf},
                            {"description", c.line->description},
                            {"provider", c.line->provider},
                            {"class", c.line->class_name},
                            {"driver_date", c.line->driver_date},
                            {"driver_version", c.line->driver_version},
                            {"matched_id", c.matched_id},
                            {"match", c.HardwareMatch() ? "hardware" : "compatible"},
                            {"device_list", c.device_hardware_id ? "hardware" : "compatible"},
                            {"inf_list", c.inf_hardware_id ? "hardware" : "compatible"},
                            {"rank", c.rank},
                            {"rank_hex", RankHex(c.rank)},
                            {"signature", c.is_signed ? "signed" : "unsigned"},
                            {"signature_score", c.signature_score},
                            {"feature_score", c.feature_score},
                            {"identifier_score", c.identifier_score},
                            {"newer_than_installed", c.newer_than_installed},
                            {"catalog_file", c.line->catalog_file},
                            {"install_section", c.line->install_section},
                            {"decoration", c.line->decoration}});
      if (c.package) {
        candidates.back()["package"] = {
            {"url", c.package->url},
            {"sha256", c.package->sha256},
            {"bytes", c.package->bytes},
            {"complete", c.package->files_known ? nlohmann::json(c.package->Complete())
                                                : nlohmann::json(nullptr)},
            {"preparing", c.package->preparing},
            {"missing", c.package->missing}};
      }
    }
    devices.push_back({{"name", d.name},
                       {"hardware_ids", d.hardware_ids},
                       {"compatible_ids", d.compatible_ids},
                       {"problem", d.problem},
                       {"installed",
                        {{"inf", d.installed.inf},
                         {"version", d.installed.version},
                         {"date", d.installed.date},
                         {"provider", d.installed.provider}}},
                       {"candidates", std::move(candidates)},
                       {"candidates_omitted", r.candidates_omitted}});
  }
  return {
      {"computer", std::move(computer)}, {"devices", std::move(devices)}, {"notes", report.notes}};
}

}  // namespace match
