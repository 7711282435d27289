// This build reads no archives: the catalog's walk never yields a member of one.
#include "catalog/archive.h"

namespace catalog {

ArchiveContents ReadArchiveInfs(const std::string& file) {
  throw CatalogError(file + ": archives are not read by this build");
}

std::vector<ArchiveMember> ListArchive(const std::string& container,
                                       std::map<size_t, std::string>*) {
  throw CatalogError(container + ": archives are not read by this build");
}

void ReadArchiveMembers(const std::string& container, const std::vector<size_t>&,
                        const std::function<void(size_t, std::string_view)>&) {
  throw CatalogError(container + ": archives are not read by this build");
}

}  // namespace catalog
