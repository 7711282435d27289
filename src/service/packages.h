// Driver packages as the service offers them: each one a zip built once into
// the cache folder, named by its SHA-256, the same bytes every time.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.h"
#include "catalog/package.h"
#include "match/match.h"

namespace service {

// A package larger than this is not offered: one catalog entry must not
// fill the cache folder.
inline constexpr std::uint64_t kMaxPackageBytes = 4ull << 30;

class PackageStore {
 public:
  // `folder`: where the zips are kept (created when missing).
  explicit PackageStore(std::string folder);

  // The offer for the package of `line`, its zip built when its files
  // changed or it was never built. nullopt when it cannot be built (the
  // reason goes to `why`). Safe from several threads.
  std::optional<match::PackageOffer> Offer(const catalog::ModelLine& line, std::string* why);

  // The zip named by a request path's "<sha256>.zip", or "" for any other
  // name: nothing outside the folder can be named.
  std::string ZipFor(std::string_view file_name) const;

 private:
  std::string folder_;
  std::mutex mutex_;
  struct Built {
    std::string sha256;
    std::uint64_t bytes;
  };
  std::map<std::string, Built> built_;  // what the files were when built -> the zip
};

// Writes the package as a zip: members in package order, every one dated
// `date` ("YYYY-MM-DD"; 1980-01-01 when empty), mode 0644, owner 0.
// Throws std::runtime_error.
void WritePackageZip(const catalog::Package& package, const std::string& date,
                     const std::string& path);

std::string Sha256OfFile(const std::string& path);  // lower-case hex

}  // namespace service
