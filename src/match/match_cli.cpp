#include "match/match_cli.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/archive.h"
#include "catalog/catalog.h"
#include "catalog/package.h"
#include "match/match.h"

#ifndef KESTROVA_VERSION
#define KESTROVA_VERSION "1.0.0"
#endif

namespace fs = std::filesystem;

namespace match {
namespace {

constexpr const char* kUsage =
    "Usage: kestrova-match [--catalog DIR]... [--index FILE] [--json] [--output FILE.html] REPORT\n"
    "Picks, for every device of a Kestrova report, the driver Windows would pick from the\n"
    "INF files under the catalog folders.\n"
    "  --catalog DIR   a folder of driver packages, searched recursively (repeatable)\n"
    "  --index FILE    keep the catalog index in FILE instead of the cache folder\n"
    "  --json          print the devices and their candidate drivers as JSON\n"
    "  --output FILE   write a results page (HTML) to FILE\n"
    "  --help          show this help\n"
    "  --version       show the version\n";

class ProgressBar {
 public:
  ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
  ~ProgressBar() { Finish(); }
  void Update(size_t done, size_t total) {
    if (!enabled_ || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_ && done != total) return;
    last_ = percent;
    const int width = 30, filled = percent * width / 100;
    err_ << "\rIndexing INF files [" << std::string(filled, '#') << std::string(width - filled, ' ')
         << "] " << done << "/" << total << std::flush;
    drawn_ = true;
  }
  void Finish() {
    if (drawn_) err_ << "\n" << std::flush;
    drawn_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  int last_ = -1;
  bool drawn_ = false;
};

// Written beside the target and renamed over it: never half a page.
void WriteFileAtomically(const std::string& path, const std::string& data) {
  const fs::path target(path);
  std::string temp_name = ".";
  temp_name += target.filename().string();
  temp_name += ".tmp" + std::to_string(getpid());
  const fs::path temp = target.parent_path() / temp_name;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temp, ec);
      throw std::runtime_error("cannot write " + path);
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw std::runtime_error("cannot write " + path + ": " + ec.message());
  }
}

void PrintSummary(std::ostream& out, const std::vector<DeviceResult>& results) {
  for (const DeviceResult& r : results) {
    out << r.device.name << (r.device.NeedsAttention() ? "  [needs attention]" : "") << "\n";
    if (r.candidates.empty()) {
      out << "    no driver in the catalog\n";
      continue;
    }
    const Candidate& c = r.candidates.front();
    out << "    " << c.line.inf << ": " << c.line.description << " (" << c.line.provider << ", "
        << (c.line.driver_version.empty() ? "?" : c.line.driver_version) << ", "
        << (c.line.driver_date.empty() ? "undated" : c.line.driver_date) << ")\n"
        << "    " << MatchTerms(c) << " " << c.matched_id << ", rank " << RankHex(c.rank) << " ("
        << (c.is_signed ? "signed" : "unsigned") << ")";
    if (r.candidates.size() > 1) out << "; " << r.candidates.size() - 1 << " more";
    out << "\n";
  }
}

}  // namespace

int RunMatchCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool progress) {
  std::vector<std::string> catalogs;
  std::string report_path, output_path, index_path;
  bool json = false;
  auto usage = [&](const std::string& why) {
    err << "kestrova-match: " << why << "\n" << kUsage;
    return 2;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return false;
      into = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    } else if (a == "--version") {
      out << "kestrova-match " << KESTROVA_VERSION << "\n";
      return 0;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--catalog") {
      std::string dir;
      if (!value(dir)) return usage("--catalog needs a folder");
      catalogs.push_back(dir);
    } else if (a == "--output") {
      if (!value(output_path)) return usage("--output needs a file name");
    } else if (a == "--index") {
      if (!value(index_path)) return usage("--index needs a file name");
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + a);
    } else if (!report_path.empty()) {
      return usage("one report at a time");
    } else {
      report_path = a;
    }
  }
  if (report_path.empty()) return usage("no report given");

  Report report;
  {
    std::ifstream in(report_path, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    if (!in || fs::is_directory(report_path)) {
      err << "kestrova-match: cannot read the report " << report_path << "\n";
      return 3;
    }
    try {
      report = ReadReportPage(bytes.str());
    } catch (const ReportError& e) {
      err << "kestrova-match: " << report_path << ": " << e.what() << "\n";
      return 3;
    }
  }

  try {
    std::vector<DeviceResult> results;
    if (catalogs.empty()) {
      // Nothing to match against: the report's devices, each without candidates.
      for (const Device& d : report.devices) results.push_back({d, {}});
    } else {
      if (index_path.empty()) index_path = catalog::DefaultIndexPath(catalogs);
      ProgressBar bar(err, progress);
      const catalog::UpdateStats stats = catalog::UpdateIndex(
          index_path, catalogs,
          [&](const std::string& file, int line, const std::string& reason) {
            bar.Finish();
            err << "kestrova-match: skipped " << file;
            if (line > 0) err << ":" << line;
            err << ": " << reason << "\n";
          },
          [&](size_t done, size_t total) { bar.Update(done, total); });
      bar.Finish();
      if (stats.scanned == 0) err << "kestrova-match: no INF files under the catalog folders\n";
      const catalog::Index index = catalog::Index::Open(index_path);
      results = MatchReport(report, index);
      // Offline, a package is its folder in the catalog: nothing to download.
      AttachPackages(results, [](const catalog::ModelLine& line) -> std::optional<PackageOffer> {
        try {
          const catalog::Package package = catalog::ResolvePackage(line);
          PackageOffer offer;
          offer.inf_name = package.inf_name;
          offer.missing = package.missing;
          if (package.archive.empty()) {
            offer.folder =
                (fs::path(line.catalog_dir) / line.inf).parent_path().make_preferred().string();
          } else {
            // "a.zip!/b.cab!/dir/x.inf": unpack a.zip, then b.cab; the package is dir.
            size_t from = 0;
            for (size_t at : catalog::ArchiveSeparators(line.inf)) {
              const std::string part = line.inf.substr(from, at - from);
              offer.unpack.push_back(
                  offer.unpack.empty()
                      ? (fs::path(line.catalog_dir) / part).make_preferred().string()
                      : part);
              from = at + catalog::kArchiveSeparator.size();
            }
            const std::string rest = line.inf.substr(from);
            offer.folder =
                rest.find('/') == std::string::npos ? "" : rest.substr(0, rest.rfind('/'));
          }
          return offer;
        } catch (const catalog::CatalogError&) {
          return std::nullopt;
        }
      });
    }
    if (!output_path.empty()) WriteFileAtomically(output_path, ResultsPage(report, results));
    if (json) {
      out << ResultsJson(report, results)
                 .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
          << "\n";
    } else if (output_path.empty()) {
      PrintSummary(out, results);
    }
    out.flush();
    if (!out) {
      err << "kestrova-match: cannot write to standard output\n";
      return 1;
    }
  } catch (const std::exception& e) {
    err << "kestrova-match: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace match
