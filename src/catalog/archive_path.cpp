#include <algorithm>

#include "catalog/archive.h"
#include "catalog/text.h"

namespace catalog {

bool IsArchiveName(std::string_view name) {
  if (name.size() <= 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return EqualsNoCase(tail, ".zip") || EqualsNoCase(tail, ".cab");
}

std::pair<std::string, std::string> SplitArchivePath(const std::string& path) {
  const size_t at = path.rfind(kArchiveSeparator);
  if (at == std::string::npos) return {"", path};
  return {path.substr(0, at), path.substr(at + kArchiveSeparator.size())};
}

bool ArchiveContents::Holds(std::string_view upper_name) const {
  return std::binary_search(names.begin(), names.end(), upper_name);
}

}  // namespace catalog
