// Driver packages as the service offers them: each one a zip built once into
// the cache folder, named by its SHA-256, the same bytes every time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "catalog/catalog.h"
#include "catalog/package.h"
#include "match/match.h"

namespace service {

// A package larger than this is not offered: one catalog entry must not
// fill the cache folder.
inline constexpr std::uint64_t kMaxPackageBytes = 4ull << 30;

// What one request may spend on building zips (and on reading archives to
// find what their packages hold): a page of a hundred candidates must not
// wait for a hundred zips. Past it, packages are built in the background
// and offered as being prepared.
struct BuildBudget {
  size_t zips = 4;
  std::uint64_t bytes = 64ull << 20;  // what the built packages' files hold
};

class PackageStore {
 public:
  // `folder`: where the zips are kept (created when missing).
  explicit PackageStore(std::string folder);
  ~PackageStore();  // stops the zip being built in the background, drops the rest
  PackageStore(const PackageStore&) = delete;
  PackageStore& operator=(const PackageStore&) = delete;

  // The offer for the package of `line`, its zip built when its files
  // changed or it was never built: within `budget` (none: no bound), else
  // in the background, the offer then saying it is being prepared. nullopt
  // when it cannot be built (the reason goes to `why`). Safe from several
  // threads.
  std::optional<match::PackageOffer> Offer(const catalog::ModelLine& line, std::string* why,
                                           BuildBudget* budget = nullptr);

  // The zip named by a request path's "<sha256>.zip", or "" for any other
  // name: nothing outside the folder can be named.
  std::string ZipFor(std::string_view file_name) const;

 private:
  struct Built {
    std::string sha256;
    std::uint64_t bytes;
    std::string inf_name;
    std::vector<std::string> missing;
  };
  match::PackageOffer Preparing(const catalog::ModelLine& line, const std::string& line_key);
  void Work();

  std::string folder_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Built> built_;    // what the files were when built -> the zip
  std::map<std::string, Built> by_line_;  // an archive's line, as its archive was -> the zip
  struct Failure {
    std::string why;
    std::chrono::steady_clock::time_point when;
  };
  std::map<std::string, Failure> failed_;  // a line the background could not build
  std::set<std::string> building_;         // what the files are, of zips being built
  std::deque<std::pair<std::string, catalog::ModelLine>> queue_;  // by line key
  std::set<std::string> queued_;
  bool stopping_ = false;
  // Read by zip builds between chunks: a stopping service does not wait for
  // a large zip to be finished.
  std::atomic<bool> cancelled_{false};
  std::thread worker_;  // started by the first package left to the background
};

// Writes the package as a zip: members in package order, every one dated
// `date` ("YYYY-MM-DD"; 1980-01-01 when empty), mode 0644, owner 0.
// Throws std::runtime_error, also when `cancelled` becomes true.
void WritePackageZip(const catalog::Package& package, const std::string& date,
                     const std::string& path, const std::atomic<bool>* cancelled = nullptr);

std::string Sha256OfFile(const std::string& path);  // lower-case hex

}  // namespace service
