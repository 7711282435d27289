// A catalog read into memory from its folders with the same INF reader as the
// index: for where no index file is kept (the Windows program, run from a
// stick of drivers).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/catalog.h"

namespace catalog {

class MemoryCatalog : public LineSource {
 public:
  using MalformedHandler =
      std::function<void(const std::string& file, int line, const std::string& reason)>;
  using ProgressHandler = std::function<void(size_t done, size_t total)>;

  // Reads every INF under `catalog_dirs` and their subfolders. Given
  // `wanted_ids`, only lines naming one of them are kept, so the memory a
  // run takes follows the report, not the size of the catalog.
  // Malformed files are reported through on_malformed and skipped. Throws
  // CatalogError when a folder is no folder.
  static MemoryCatalog Read(const std::vector<std::string>& catalog_dirs,
                            const std::vector<std::string>* wanted_ids,
                            const MalformedHandler& on_malformed,
                            const ProgressHandler& on_progress);

  // In the order an index of the same folders gives them; the catalog's own
  // lines, not copies.
  std::vector<std::vector<SharedLine>> SharedLinesForIds(const std::vector<std::string>& ids,
                                                         const LineFilter& keep) const override;
  size_t LineCount() const { return lines_->size(); }
  size_t InfCount() const { return inf_count_; }

 private:
  // Shared, so a line handed out outlives the catalog it came from.
  std::shared_ptr<std::vector<ModelLine>> lines_ = std::make_shared<std::vector<ModelLine>>();
  std::unordered_map<std::string, std::vector<size_t>> by_id_;  // upper-case id -> lines_
  size_t inf_count_ = 0;
};

}  // namespace catalog
