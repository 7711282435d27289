#include "match/catalog_open.h"

namespace match {

const char* const kIndexOptionHelp =
    "  --index FILE    keep the catalog index in FILE instead of the cache folder\n";
const char* const kCatalogNote = "";
const char* const kProgressLabel = "Indexing INF files";

OpenedCatalog OpenCatalog(const CatalogRequest& request, std::ostream&) {
  const std::string index_path =
      request.index_path.empty() ? catalog::DefaultIndexPath(request.folders) : request.index_path;
  const catalog::UpdateStats stats =
      catalog::UpdateIndex(index_path, request.folders, request.on_malformed, request.on_progress);
  OpenedCatalog opened;
  opened.inf_files = stats.scanned;
  opened.lines = std::make_unique<catalog::Index>(catalog::Index::Open(index_path));
  return opened;
}

}  // namespace match
