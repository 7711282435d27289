// The catalog the service matches against, refreshed in place while
// requests keep using the index they started with.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"

namespace service {

class CatalogSource {
 public:
  // index_path "" -> catalog::DefaultIndexPath(dirs).
  CatalogSource(std::vector<std::string> dirs, std::string index_path, std::ostream& log);

  // Brings the index up to date with the folders and makes it current.
  // Throws catalog::CatalogError; the current index stays in use then.
  void Refresh();

  // The index to use for one request; never null after a Refresh succeeded.
  std::shared_ptr<const catalog::Index> Current() const;
  // The same with its generation, which every successful Refresh advances.
  std::pair<std::shared_ptr<const catalog::Index>, uint64_t> CurrentWithGeneration() const;

  const std::string& index_path() const { return index_path_; }

 private:
  std::vector<std::string> dirs_;
  std::string index_path_;
  std::ostream& log_;
  std::mutex refresh_mutex_;
  mutable std::mutex mutex_;
  std::shared_ptr<const catalog::Index> current_;
  uint64_t generation_ = 0;
};

}  // namespace service
