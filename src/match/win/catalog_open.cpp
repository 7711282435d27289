#include "match/catalog_open.h"

#include "catalog/memory_catalog.h"

namespace match {

const char* const kIndexOptionHelp =
    "  --index FILE    accepted and ignored: this program reads the catalog folders\n"
    "                  into memory and keeps no index file\n";
const char* const kCatalogNote =
    "Catalog folders are read as plain folders: INF files inside .zip or .cab\n"
    "archives are not seen; unpack them first.\n"
    "Started with no arguments (double-clicked), it matches the report the scan\n"
    "wrote last (%TEMP%\\pellucor\\driver.html) against the folder it sits in and\n"
    "its subfolders, writes driver-results.html beside that report and opens it.\n";
const char* const kProgressLabel = "Reading INF files";

OpenedCatalog OpenCatalog(const CatalogRequest& request, std::ostream& err) {
  if (!request.index_path.empty())
    err << "kestrova-match: note: --index " << request.index_path
        << " is ignored: this program reads the catalog into memory and keeps no index file\n";
  // Only the report's lines are kept: a stick with thousands of packages
  // costs reading time, not memory.
  auto lines = std::make_unique<catalog::MemoryCatalog>(catalog::MemoryCatalog::Read(
      request.folders, &request.wanted_ids, request.on_malformed, request.on_progress));
  OpenedCatalog opened;
  opened.inf_files = lines->InfCount();
  opened.lines = std::move(lines);
  return opened;
}

}  // namespace match
