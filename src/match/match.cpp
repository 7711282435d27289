#include "match/match.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

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

std::string LineKey(const catalog::ModelLine& l) {
  std::string key = l.catalog_dir + '\x1f' + l.inf + '\x1f' + l.manufacturer + '\x1f' +
                    l.decoration + '\x1f' + l.description + '\x1f' + l.install_section;
  for (const std::string& id : l.ids) key += '\x1f' + platform::AsciiUpper(id);
  return key;
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

bool RanksBefore(const Candidate& a, const Candidate& b) {
  if (a.rank != b.rank) return a.rank < b.rank;
  if (a.line.driver_date != b.line.driver_date) return a.line.driver_date > b.line.driver_date;
  const int v = CompareVersions(a.line.driver_version, b.line.driver_version);
  if (v != 0) return v > 0;
  // Equal in every respect Windows weighs: a stable order all the same.
  return std::tie(a.line.catalog_dir, a.line.inf, a.line.description, a.line.install_section,
                  a.line.decoration) < std::tie(b.line.catalog_dir, b.line.inf, b.line.description,
                                                b.line.install_section, b.line.decoration);
}

std::vector<DeviceResult> MatchReport(const Report& report, const catalog::LineSource& index) {
  const TargetSystem system = TargetFromReport(report);
  std::map<std::string, std::vector<catalog::ModelLine>> cache;  // devices share most of their ids
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
  {
    // Every id of the report in one read of the index.
    std::vector<std::string> keys;
    for (const Device& device : report.devices) {
      for (const auto* list : {&device.hardware_ids, &device.compatible_ids}) {
        for (const std::string& id : *list) {
          std::string key = platform::AsciiUpper(id);
          if (cache.try_emplace(key).second) keys.push_back(std::move(key));
        }
      }
    }
    // Only the models section the system would use counts, so the catalog
    // leaves the other sections' lines undecoded.
    std::vector<std::vector<catalog::ModelLine>> lines = index.LinesForIds(keys, is_chosen);
    for (size_t i = 0; i < keys.size(); ++i) cache[keys[i]] = std::move(lines[i]);
  }
  std::vector<DeviceResult> results;
  results.reserve(report.devices.size());
  for (const Device& device : report.devices) {
    DeviceResult result;
    result.device = device;
    std::map<std::string, size_t> by_line;
    auto consider = [&](const std::string& id, bool hardware, size_t position) {
      if (id.empty()) return;  // never the empty hardware id of an INF line
      const std::string key = platform::AsciiUpper(id);
      auto hit = cache.find(key);
      if (hit == cache.end())
        hit = cache.emplace(key, index.LinesForIds({id}, is_chosen).front()).first;
      for (const catalog::ModelLine& line : hit->second) {
        const size_t at = PositionIn(line.ids, id);
        if (at == line.ids.size()) continue;
        if (Excluded(line, device)) continue;
        const std::uint32_t signature_score = SignatureScore(line);
        const auto feature_score =
            static_cast<std::uint32_t>(std::clamp(line.feature_score, 0, 0xFF));
        const std::uint32_t identifier_score = IdScore(hardware, position, at);
        const std::uint32_t rank =
            (signature_score << 24) | (feature_score << 16) | identifier_score;
        // A line already found by a better id is not copied again.
        auto [it, fresh] = by_line.try_emplace(LineKey(line), result.candidates.size());
        if (!fresh && rank >= result.candidates[it->second].rank) continue;
        Candidate c;
        c.line = line;
        c.matched_id = line.ids[at];
        c.device_hardware_id = hardware;
        c.inf_hardware_id = at == 0;
        c.is_signed = signature_score == 0;
        c.signature_score = signature_score;
        c.feature_score = feature_score;
        c.identifier_score = identifier_score;
        c.rank = rank;
        c.newer_than_installed = NewerThanInstalled(line, device.installed);
        if (fresh) {
          result.candidates.push_back(std::move(c));
        } else {
          result.candidates[it->second] = std::move(c);
        }
      }
    };
    for (size_t i = 0; i < device.hardware_ids.size(); ++i)
      consider(device.hardware_ids[i], true, i);
    for (size_t i = 0; i < device.compatible_ids.size(); ++i)
      consider(device.compatible_ids[i], false, i);
    std::stable_sort(result.candidates.begin(), result.candidates.end(), RanksBefore);
    if (result.candidates.size() > kMaxCandidates) {
      result.candidates_omitted = result.candidates.size() - kMaxCandidates;
      result.candidates.resize(kMaxCandidates);
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
    for (Candidate& c : r.candidates) c.package = offer(c.line);
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
      candidates.push_back({{"inf", c.line.inf},
                            {"description", c.line.description},
                            {"provider", c.line.provider},
                            {"class", c.line.class_name},
                            {"driver_date", c.line.driver_date},
                            {"driver_version", c.line.driver_version},
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
                            {"catalog_file", c.line.catalog_file},
                            {"install_section", c.line.install_section},
                            {"decoration", c.line.decoration}});
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
