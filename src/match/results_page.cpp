#include <cstdint>
#include <string>

#include "match/match.h"
#include "match/report_style.h"

namespace match {
namespace {

// Every value from a report or an INF goes in through here: text, never markup.
std::string Esc(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Rules the report page has no use for.
constexpr const char* kExtraStyle = R"css(
.device { margin-bottom: 12px; border-left: 5px solid var(--line); }
.device.attention { border-left-color: var(--bad); }
.device.nodriver { border-left-color: #d08a00; }
.device h3 { margin: 0 0 4px; font-size: 16px; display: flex; gap: 10px; align-items: center; flex-wrap: wrap; }
.device .ids { color: var(--muted); overflow-wrap: anywhere; }
.best { background: var(--good-soft); border: 1px solid #b6dcc5; border-radius: 8px; padding: 8px 12px; margin-top: 8px; }
.best.none { background: var(--warn-soft); border-color: #f0d48a; }
.best.none.quiet { background: none; border-color: var(--line); color: var(--muted); }
.best .what { font-weight: 600; }
.why, .check { color: var(--muted); font-size: 13px; }
.install { margin-top: 8px; border-top: 1px solid #b6dcc5; padding-top: 6px; }
.install .warn { color: var(--bad); }
.install code { background: rgba(0,0,0,.05); padding: 1px 4px; border-radius: 4px; }
details.alternatives { margin-top: 8px; }
details.alternatives summary { cursor: pointer; color: var(--accent); }
)css";

std::string IdsText(const std::vector<std::string>& ids) {
  std::string out;
  for (size_t i = 0; i < ids.size(); ++i) out += (i ? ", " : "") + ids[i];
  return out.empty() ? "none" : out;
}

std::string Status(const Device& d) {
  if (d.problem < 0) return "<span class=\"badge warn\">Unknown</span>";
  if (d.problem != 0)
    return "<span class=\"badge bad\">Code " + std::to_string(d.problem) + "</span>";
  if (d.installed.inf.empty()) return "<span class=\"badge warn\">No driver</span>";
  return "<span class=\"badge ok\">Working</span>";
}

std::string DriverWhen(const catalog::ModelLine& l) {
  std::string out = l.driver_version.empty() ? "version unknown" : "version " + l.driver_version;
  out += l.driver_date.empty() ? ", undated" : ", " + l.driver_date;
  return out;
}

std::string Why(const Candidate& c) {
  std::string signing = c.is_signed ? ", signed (catalog file " + c.line->catalog_file + ")"
                        : c.line->catalog_file.empty()
                            ? ", unsigned (no catalog file)"
                            : ", unsigned (catalog file " + c.line->catalog_file + " missing)";
  return MatchTerms(c) + " " + c.matched_id + ", rank " + RankHex(c.rank) + signing;
}

std::string Bytes(std::uint64_t n) {
  if (n < 1024 * 1024) return std::to_string((n + 1023) / 1024) + " KB";
  return std::to_string((n + 512 * 1024) / (1024 * 1024)) + " MB";
}

// How to put the best driver on the computer the report came from: the
// download (if served), then the one way that system installs an INF.
void AppendInstall(std::string& html, const Device& d, const Candidate& best,
                   const TargetSystem& system) {
  const PackageOffer* p = best.package ? &*best.package : nullptr;
  const std::string inf =
      p != nullptr ? p->inf_name : best.line->inf.substr(best.line->inf.rfind('/') + 1);
  html += "<div class=\"install\"><div class=\"what\">How to install it</div>\n";
  if (p != nullptr && !p->url.empty()) {
    html += "<div><a class=\"download\" href=\"" + Esc(p->url) +
            "\" download>Download the driver package</a> (" + Bytes(p->bytes) +
            ", zip, SHA-256 <span class=\"mono\">" + Esc(p->sha256) + "</span>)</div>\n";
  }
  if (p != nullptr && p->preparing) {
    html +=
        "<div>The download of this package is being prepared: reload this page in a "
        "minute.</div>\n";
  }
  if (p != nullptr && !p->Complete()) {
    std::string names;
    for (size_t i = 0; i < p->missing.size(); ++i) names += (i ? ", " : "") + p->missing[i];
    html += "<div class=\"warn\">This package is incomplete: " + Esc(names) +
            (p->missing.size() == 1 ? " is" : " are") +
            " missing, so Windows may refuse it or the device may not work.</div>\n";
  }
  if (p != nullptr && p->url.empty() && !p->unpack.empty()) {
    html += "<ol>\n<li>Unpack <span class=\"mono\">" + Esc(p->unpack.front()) +
            "</span> into a folder of its own";
    for (size_t i = 1; i < p->unpack.size(); ++i)
      html += ", then <span class=\"mono\">" + Esc(p->unpack[i]) + "</span> from it";
    html += p->folder.empty() ? std::string(".</li>\n")
                              : "; the package is its folder <span class=\"mono\">" +
                                    Esc(p->folder) + "</span>.</li>\n";
  } else if (p != nullptr && p->url.empty() && !p->folder.empty()) {
    html += "<ol>\n<li>The package is the folder <span class=\"mono\">" + Esc(p->folder) +
            "</span>.</li>\n";
  } else {
    html += "<ol>\n<li>Unpack the package into a folder of its own.</li>\n";
  }
  if (system.major >= 10) {
    html +=
        "<li>Open a command prompt as administrator in that folder and run "
        "<code class=\"mono\">pnputil /add-driver " +
        Esc(inf) + " /install</code></li>\n";
  } else if (system.major == 6 && system.minor >= 1) {
    html +=
        "<li>Open a command prompt as administrator in that folder and run "
        "<code class=\"mono\">pnputil -i -a " +
        Esc(inf) + "</code></li>\n";
  }
  html += std::string("<li>") +
          (system.major >= 10 || (system.major == 6 && system.minor >= 1) ? "Or open" : "Open") +
          " Device Manager, right-click the device, choose Update driver, then Browse and pick "
          "the package's folder.</li>\n</ol>\n";
  const std::string shown = d.hardware_ids.empty() ? best.matched_id : d.hardware_ids.front();
  html +=
      "<div class=\"check\">Check it is the right device: in Device Manager, its Properties, "
      "Details, Hardware Ids read <span class=\"mono\">" +
      Esc(shown) + "</span></div></div>\n";
}

void AppendDevice(std::string& html, const DeviceResult& r, const TargetSystem& system) {
  const Device& d = r.device;
  const bool attention = d.NeedsAttention();
  html += "<article class=\"card device";
  if (attention) html += d.problem == 0 ? " nodriver" : " attention";
  html += "\">\n<h3><span class=\"name\">" + Esc(d.name.empty() ? "(unnamed device)" : d.name) +
          "</span>" + Status(d) + "</h3>\n";
  html += "<div class=\"ids mono\">Hardware ids: " + Esc(IdsText(d.hardware_ids)) + "</div>\n";
  html += "<div class=\"ids mono\">Compatible ids: " + Esc(IdsText(d.compatible_ids)) + "</div>\n";
  if (d.installed.inf.empty()) {
    html += "<div>Installed: no driver</div>\n";
  } else {
    html +=
        "<div>Installed: <span class=\"mono\">" + Esc(d.installed.inf) + "</span> " +
        Esc(d.installed.version) + (d.installed.date.empty() ? "" : ", " + Esc(d.installed.date)) +
        (d.installed.provider.empty() ? "" : " (" + Esc(d.installed.provider) + ")") + "</div>\n";
  }
  if (r.candidates.empty()) {
    html += std::string("<div class=\"best none") + (attention ? "" : " quiet") +
            "\">No driver in the catalog fits this device.</div>\n";
  } else {
    const Candidate& best = r.candidates.front();
    html += "<div class=\"best\"><div class=\"what\">Best driver: " + Esc(best.line->description) +
            "</div>\n";
    html +=
        "<div><span class=\"mono\">" + Esc(best.line->inf) + "</span> from " +
        Esc(best.line->provider.empty() ? "an unnamed provider" : best.line->provider) + ", " +
        Esc(DriverWhen(*best.line)) +
        (best.line->class_name.empty() ? "" : ", class " + Esc(best.line->class_name)) +
        (best.newer_than_installed ? " <span class=\"badge ok\">newer than installed</span>" : "") +
        "</div>\n";
    html += "<div class=\"why mono\">" + Esc(Why(best)) + "</div>\n";
    AppendInstall(html, d, best, system);
    html += "</div>\n";
    if (r.candidates.size() > 1) {
      html += "<details class=\"alternatives\"><summary>" +
              std::to_string(r.candidates.size() - 1) +
              (r.candidates.size() == 2 ? " alternative" : " alternatives") + "</summary>\n";
      html +=
          "<div class=\"table-wrap\"><table><thead><tr><th>Driver</th><th>INF</th><th>Provider</th>"
          "<th>Version</th><th>Date</th><th>Matched id</th><th>Rank</th></tr></thead><tbody>\n";
      for (size_t i = 1; i < r.candidates.size(); ++i) {
        const Candidate& c = r.candidates[i];
        html += "<tr><td data-label=\"Driver\">" + Esc(c.line->description) +
                "</td><td data-label=\"INF\" class=\"mono\">" + Esc(c.line->inf) +
                "</td><td data-label=\"Provider\">" + Esc(c.line->provider) +
                "</td><td data-label=\"Version\">" + Esc(c.line->driver_version) +
                "</td><td data-label=\"Date\" class=\"date\">" + Esc(c.line->driver_date) +
                "</td><td data-label=\"Matched id\" class=\"mono\">" +
                Esc(MatchTerms(c) + ": " + c.matched_id) +
                "</td><td data-label=\"Rank\" class=\"mono\">" + RankHex(c.rank) + "</td></tr>\n";
      }
      html += "</tbody></table></div>";
      if (r.candidates_omitted > 0) {
        html += "<div>" + std::to_string(r.candidates_omitted) +
                " lower-ranked drivers not shown.</div>";
      }
      html += "</details>\n";
    }
  }
  html += "</article>\n";
}

}  // namespace

std::string ResultsPage(const Report& report, const std::vector<DeviceResult>& results) {
  size_t attention = 0, matched = 0;
  for (const DeviceResult& r : results) {
    attention += r.device.NeedsAttention() ? 1 : 0;
    matched += r.candidates.empty() ? 0 : 1;
  }
  const std::string* caption = report.Computer("Caption");
  const std::string* model = report.Computer("Model");
  const TargetSystem system = TargetFromReport(report);

  std::string html;
  html.reserve(16384 + results.size() * 2048);
  html +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
      "'unsafe-inline'; "
      "base-uri 'none'; form-action 'none'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"referrer\" content=\"no-referrer\">\n<title>Driver matches - "
      "Kestrova</title>\n<style>";
  html += kReportStyle;
  html += kExtraStyle;
  html +=
      "</style>\n</head>\n<body>\n<header class=\"top\">\n<div class=\"brand\">Kestrova</div>\n"
      "<h1>Drivers for this computer</h1>\n<div class=\"sub\">";
  std::string sub;
  if (model != nullptr && !model->empty()) sub += *model;
  if (caption != nullptr && !caption->empty()) sub += (sub.empty() ? "" : " - ") + *caption;
  html += Esc(sub.empty() ? "The devices of the report and the drivers of the catalog that fit them"
                          : sub);
  html += "</div>\n</header>\n<main>\n";

  if (!report.notes.empty()) {
    html +=
        "<section class=\"notice warn\" id=\"messages\"><p>Parts of this report could not be "
        "read:</p><ul>\n";
    for (const std::string& n : report.notes) html += "<li>" + Esc(n) + "</li>\n";
    html += "</ul></section>\n";
  }
  html += "<section class=\"stats\" id=\"summary\">\n";
  auto stat = [&](const char* cls, size_t n, const char* what) {
    html += std::string("<div class=\"stat ") + cls + "\"><div class=\"num\">" + std::to_string(n) +
            "</div><div class=\"what\">" + what + "</div></div>\n";
  };
  stat("", results.size(), "devices");
  stat(attention ? "bad" : "good", attention, "need attention");
  stat("good", matched, "with a driver in the catalog");
  stat(matched < results.size() ? "bad" : "good", results.size() - matched, "without one");
  html += "</section>\n";

  // Devices needing attention first, each group in report order.
  for (int pass = 0; pass < 2; ++pass) {
    size_t count = 0;
    for (const DeviceResult& r : results) count += r.device.NeedsAttention() == (pass == 0) ? 1 : 0;
    if (count == 0) continue;
    html += std::string("<section id=\"") + (pass == 0 ? "attention" : "others") + "\">\n<h2>" +
            (pass == 0 ? "Devices that need attention" : "Other devices") +
            " <span class=\"count\">(" + std::to_string(count) + ")</span></h2>\n";
    for (const DeviceResult& r : results) {
      if (r.device.NeedsAttention() == (pass == 0)) AppendDevice(html, r, system);
    }
    html += "</section>\n";
  }

  if (!report.computer.empty()) {
    html += "<section class=\"card\" id=\"computer\">\n<h2>Computer</h2>\n<dl class=\"facts\">\n";
    for (const auto& [label, value] : report.computer) {
      html += "<dt>" + Esc(label) + "</dt><dd>" + Esc(value) + "</dd>\n";
    }
    html += "</dl>\n</section>\n";
  }
  html +=
      "<footer>Made by Kestrova from a report and a catalog of driver packages, offline.</footer>\n"
      "</main>\n</body>\n</html>\n";
  return html;
}

}  // namespace match
