#include "catalog/package.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "catalog/inf_reader.h"
#include "catalog/paths.h"
#include "catalog/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

// `relative` ('/' separators) under `folder`, each part matched without
// regard to case; "" when absent or when a part would leave the folder.
std::string FindBeside(const fs::path& folder, const std::string& relative, std::string& found_as) {
  fs::path at = folder;
  found_as.clear();
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == "." || part == ".." || part.find(':') != std::string::npos)
      return "";
    std::error_code ec;
    fs::path next;
    if (fs::exists(at / part, ec)) {
      next = at / part;
    } else {
      for (fs::directory_iterator it(at, ec), stop; !ec && it != stop; it.increment(ec)) {
        if (EqualsNoCase(it->path().filename().string(), part)) {
          next = it->path();
          break;
        }
      }
    }
    if (next.empty()) return "";
    // A link is followed only while it stays in the package's folder.
    if (fs::is_symlink(next, ec)) {
      const std::string real = fs::weakly_canonical(next, ec).generic_string();
      const std::string base = fs::weakly_canonical(folder, ec).generic_string() + "/";
      if (ec || real.compare(0, base.size(), base) != 0) return "";
    }
    if (!found_as.empty()) found_as += '/';
    found_as += next.filename().string();
    at = next;
  }
  std::error_code ec;
  return fs::is_regular_file(at, ec) ? at.string() : "";
}

}  // namespace

Package ResolvePackage(const ModelLine& line) {
  const fs::path inf_path = PathFromUtf8(line.catalog_dir) / PathFromUtf8(line.inf);
  std::ifstream in(inf_path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) throw CatalogError("cannot read " + inf_path.string());
  const fs::path folder = inf_path.parent_path();

  Package package;
  package.inf_name = inf_path.filename().string();
  package.files.push_back({package.inf_name, inf_path.string()});
  std::set<std::string> taken{AsciiUpper(package.inf_name)};
  auto add = [&](const std::string& wanted) {
    std::string found_as;
    const std::string source = FindBeside(folder, wanted, found_as);
    if (source.empty()) {
      package.missing.push_back(wanted);
    } else if (taken.insert(AsciiUpper(found_as)).second) {
      package.files.push_back({found_as, source});
    }
  };
  if (!line.catalog_file.empty()) add(line.catalog_file);
  std::vector<std::string> listed;
  try {
    listed = SourceFiles(bytes, ArchOfDecoration(line.decoration));
  } catch (const InfError& e) {
    throw CatalogError(inf_path.string() + ": " + e.what());
  }
  for (const std::string& f : listed) add(f);
  return package;
}

}  // namespace catalog
