#include "match/match_cli.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/archive.h"
#include "catalog/catalog.h"
#include "catalog/package.h"
#include "catalog/paths.h"
#include "match/catalog_open.h"
#include "match/match.h"

#ifndef KESTROVA_VERSION
#define KESTROVA_VERSION "1.0.0"
#endif

namespace fs = std::filesystem;

namespace match {
namespace {

std::string Usage() {
  return std::string(
             "Usage: kestrova-match [--catalog DIR]... [--index FILE] [--json] [--output "
             "FILE.html] REPORT\n"
             "Picks, for every device of a Kestrova report, the driver Windows would pick from "
             "the\n"
             "INF files under the catalog folders.\n"
             "  --catalog DIR   a folder of driver packages, searched recursively (repeatable)\n") +
         kIndexOptionHelp +
         "  --json          print the devices and their candidate drivers as JSON\n"
         "  --output FILE   write a results page (HTML) to FILE\n"
         "  --help          show this help\n"
         "  --version       show the version\n" +
         kCatalogNote;
}

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
    err_ << "\r" << kProgressLabel << " [" << std::string(filled, '#')
         << std::string(width - filled, ' ') << "] " << done << "/" << total << std::flush;
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
  const fs::path target = catalog::PathFromUtf8(path);
  std::string temp_name = ".";
  temp_name += catalog::Utf8OfPath(target.filename());
  temp_name += ".tmp" + std::to_string(getpid());
  const fs::path temp = target.parent_path() / catalog::PathFromUtf8(temp_name);
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
    out << "    " << c.line->inf << ": " << c.line->description << " (" << c.line->provider << ", "
        << (c.line->driver_version.empty() ? "?" : c.line->driver_version) << ", "
        << (c.line->driver_date.empty() ? "undated" : c.line->driver_date) << ")\n"
        << "    " << MatchTerms(c) << " " << c.matched_id << ", rank " << RankHex(c.rank) << " ("
        << (c.is_signed ? "signed" : "unsigned") << ")";
    if (r.candidates.size() > 1) out << "; " << r.candidates.size() - 1 << " more";
    out << "\n";
  }
}

struct Options {
  std::vector<std::string> catalogs;
  std::string report_path, output_path, index_path;
  bool json = false;
  bool require_infs = false;  // no INF under the catalog folders is a failure
};

// A parsed command line: the status to return now (help, usage), or what to run.
int ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   Options& options) {
  auto usage = [&](const std::string& why) {
    err << "kestrova-match: " << why << "\n" << Usage();
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
      out << Usage();
      return 0;
    } else if (a == "--version") {
      out << "kestrova-match " << KESTROVA_VERSION << "\n";
      return 0;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--catalog") {
      std::string dir;
      if (!value(dir)) return usage("--catalog needs a folder");
      options.catalogs.push_back(dir);
    } else if (a == "--output") {
      if (!value(options.output_path)) return usage("--output needs a file name");
    } else if (a == "--index") {
      if (!value(options.index_path)) return usage("--index needs a file name");
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + a);
    } else if (!options.report_path.empty()) {
      return usage("one report at a time");
    } else {
      options.report_path = a;
    }
  }
  if (options.report_path.empty()) return usage("no report given");
  return -1;
}

std::vector<std::string> IdsOf(const Report& report) {
  std::vector<std::string> ids;
  for (const Device& d : report.devices) {
    ids.insert(ids.end(), d.hardware_ids.begin(), d.hardware_ids.end());
    ids.insert(ids.end(), d.compatible_ids.begin(), d.compatible_ids.end());
  }
  return ids;
}

int Run(const Options& options, std::ostream& out, std::ostream& err, bool progress) {
  Report report;
  {
    const fs::path report_path = catalog::PathFromUtf8(options.report_path);
    std::ifstream in(report_path, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    std::error_code ec;
    if (!in || fs::is_directory(report_path, ec)) {
      err << "kestrova-match: cannot read the report " << options.report_path << "\n";
      return 3;
    }
    try {
      report = ReadReportPage(bytes.str());
    } catch (const ReportError& e) {
      err << "kestrova-match: " << options.report_path << ": " << e.what() << "\n";
      return 3;
    }
  }

  try {
    std::vector<DeviceResult> results;
    if (options.catalogs.empty()) {
      // Nothing to match against: the report's devices, each without candidates.
      for (const Device& d : report.devices) results.push_back({d, {}});
    } else {
      ProgressBar bar(err, progress);
      CatalogRequest request;
      request.folders = options.catalogs;
      request.index_path = options.index_path;
      request.wanted_ids = IdsOf(report);
      request.on_malformed = [&](const std::string& file, int line, const std::string& reason) {
        bar.Finish();
        err << "kestrova-match: skipped " << file;
        if (line > 0) err << ":" << line;
        err << ": " << reason << "\n";
      };
      request.on_progress = [&](size_t done, size_t total) { bar.Update(done, total); };
      const OpenedCatalog opened = OpenCatalog(request, err);
      bar.Finish();
      if (opened.inf_files == 0) {
        if (options.require_infs) {
          err << "kestrova-match: no drivers found: there is no INF file in "
              << options.catalogs.front() << " or its subfolders.\n"
              << "Put kestrova-match.exe into the folder that holds the unpacked drivers.\n";
          return 4;
        }
        err << "kestrova-match: no INF files under the catalog folders\n";
      }
      results = MatchReport(report, *opened.lines);
      // Offline, a package is its folder in the catalog: nothing to download.
      AttachPackages(results, [](const catalog::ModelLine& line) -> std::optional<PackageOffer> {
        try {
          const catalog::Package package = catalog::ResolvePackage(line);
          PackageOffer offer;
          offer.inf_name = package.inf_name;
          offer.missing = package.missing;
          if (package.archive.empty()) {
            offer.folder = catalog::Utf8OfPath(
                (catalog::PathFromUtf8(line.catalog_dir) / catalog::PathFromUtf8(line.inf))
                    .parent_path()
                    .make_preferred());
          } else {
            // "a.zip!/b.cab!/dir/x.inf": unpack a.zip, then b.cab; the package is dir.
            size_t from = 0;
            for (size_t at : catalog::ArchiveSeparators(line.inf)) {
              const std::string part = line.inf.substr(from, at - from);
              offer.unpack.push_back(
                  offer.unpack.empty()
                      ? catalog::Utf8OfPath(
                            (catalog::PathFromUtf8(line.catalog_dir) / catalog::PathFromUtf8(part))
                                .make_preferred())
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
    if (!options.output_path.empty())
      WriteFileAtomically(options.output_path, ResultsPage(report, results));
    if (options.json) {
      out << ResultsJson(report, results)
                 .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
          << "\n";
    } else if (options.output_path.empty()) {
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

}  // namespace

int RunMatchCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool progress) {
  Options options;
  const int status = ParseArguments(args, out, err, options);
  if (status >= 0) return status;
  return Run(options, out, err, progress);
}

int RunMatchBesideReport(const BesideReport& paths, std::ostream& out, std::ostream& err,
                         bool progress, const std::function<void(const std::string&)>& open_page) {
  std::error_code ec;
  if (!fs::is_regular_file(catalog::PathFromUtf8(paths.report), ec)) {
    err << "kestrova-match: there is no report at " << paths.report << " yet.\n"
        << "Run the scan (kestrova.exe) on this computer first, then start kestrova-match.exe "
           "again.\n";
    return 3;
  }
  Options options;
  options.report_path = paths.report;
  options.catalogs = {paths.catalog};
  options.output_path = paths.page;
  options.require_infs = true;
  out << "Report: " << paths.report << "\nDrivers: " << paths.catalog << "\n" << std::flush;
  const int status = Run(options, out, err, progress);
  if (status != 0) return status;
  out << "Results: " << paths.page << "\n" << std::flush;
  if (open_page) open_page(paths.page);
  return 0;
}

}  // namespace match
