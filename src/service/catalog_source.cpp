#include "service/catalog_source.h"

namespace service {

CatalogSource::CatalogSource(std::vector<std::string> dirs, std::string index_path, std::ostream& log)
    : dirs_(std::move(dirs)),
      index_path_(index_path.empty() ? catalog::DefaultIndexPath(dirs_) : std::move(index_path)),
      log_(log) {}

void CatalogSource::Refresh() {
  std::lock_guard refreshing(refresh_mutex_);
  size_t malformed = 0;
  auto stats = catalog::UpdateIndex(
      index_path_, dirs_,
      [&](const std::string& file, int line, const std::string& reason) {
        // Only a few lines: a catalog of thousands of files can have many.
        if (++malformed <= 20) log_ << "catalog: " << file << ":" << line << ": " << reason << "\n";
      },
      [](size_t, size_t) {});
  auto index = std::make_shared<const catalog::Index>(catalog::Index::Open(index_path_));
  log_ << "catalog: " << stats.scanned << " INF files (" << stats.reread << " read, " << stats.removed
       << " removed, " << stats.malformed << " malformed), " << index->LineCount() << " model lines" << std::endl;
  std::lock_guard lock(mutex_);
  current_ = std::move(index);
}

std::shared_ptr<const catalog::Index> CatalogSource::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

}  // namespace service
