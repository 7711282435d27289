// How kestrova-match keeps the catalog it matches against: an index file
// where SQLite is at hand (Linux), the folders read into memory where it is
// not (Windows). One adapter per platform.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "catalog/catalog.h"

namespace match {

struct CatalogRequest {
  std::vector<std::string> folders;
  std::string index_path;               // --index; "" for the default
  std::vector<std::string> wanted_ids;  // every id of the report
  std::function<void(const std::string& file, int line, const std::string& reason)> on_malformed;
  std::function<void(size_t done, size_t total)> on_progress;
};

struct OpenedCatalog {
  std::unique_ptr<catalog::LineSource> lines;
  size_t inf_files = 0;  // INF files found under the folders
};

// Throws CatalogError. Notes for the user (an option this build ignores) go
// to `err`.
OpenedCatalog OpenCatalog(const CatalogRequest& request, std::ostream& err);

// What the usage text says about --index and about the catalog here, and
// the progress bar's label.
extern const char* const kIndexOptionHelp;
extern const char* const kCatalogNote;
extern const char* const kProgressLabel;

}  // namespace match
