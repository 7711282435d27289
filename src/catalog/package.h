// A driver package: the INF, the catalog file it names for its platform and
// the files its [SourceDisksFiles] sections list, found beside it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/catalog.h"

namespace catalog {

struct PackageFile {
  std::string name;        // path inside the package, '/' separators, as found on disk
  std::string source;      // where it is on disk, or "<archive>!/<member>"
  std::uint64_t size = 0;  // in an archive: what the member holds
  size_t member = 0;       // in an archive: its place in ListArchive's list
};

struct Package {
  std::string inf_name;            // the INF's name inside the package
  std::vector<PackageFile> files;  // the INF first, then the catalog, then the listed files
  // Files the INF names that are not there (or would lie outside the
  // package), as the INF names them.
  std::vector<std::string> missing;
  // For a package inside an archive: the archive holding it ("…/a.zip" or
  // "…/a.zip!/b.cab") and the file that is on disk ("…/a.zip"); "" otherwise.
  std::string archive, archive_file;
  bool Complete() const { return missing.empty(); }
};

// The package of the INF `line` comes from, for the platform of the line's
// models section. Names are found without regard to case, as Windows finds
// them. An INF inside an archive finds its files in that archive, beside it
// there; its files then follow the INF in the order the archive holds them.
// Throws CatalogError when the INF itself cannot be read.
Package ResolvePackage(const ModelLine& line);

}  // namespace catalog
