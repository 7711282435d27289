#include <algorithm>

#include "catalog/archive.h"
#include "catalog/text.h"

namespace catalog {

bool IsArchiveName(std::string_view name) {
  if (name.size() <= 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return EqualsNoCase(tail, ".zip") || EqualsNoCase(tail, ".cab");
}

std::vector<size_t> ArchiveSeparators(std::string_view path) {
  std::vector<size_t> out;
  for (size_t at = path.find(kArchiveSeparator); at != std::string_view::npos;
       at = path.find(kArchiveSeparator, at + 1)) {
    const size_t slash = at == 0 ? std::string_view::npos : path.rfind('/', at - 1);
    const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    if (IsArchiveName(path.substr(start, at - start))) out.push_back(at);
  }
  return out;
}

std::pair<std::string, std::string> SplitArchivePath(const std::string& path) {
  const std::vector<size_t> separators = ArchiveSeparators(path);
  if (separators.empty()) return {"", path};
  const size_t at = separators.back();
  return {path.substr(0, at), path.substr(at + kArchiveSeparator.size())};
}

bool ArchiveContents::Holds(std::string_view upper_name) const {
  return std::binary_search(names.begin(), names.end(), upper_name);
}

}  // namespace catalog
