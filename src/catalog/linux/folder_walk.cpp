#include "catalog/folder_walk.h"

#include <algorithm>
#include <system_error>

#include "catalog/catalog.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

bool IsInfName(std::string_view name) {
  return name.size() > 4 && platform::EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".inf");
}

// True when `path`, links resolved, lies inside `root` (itself resolved).
bool StaysInside(const fs::path& path, const std::string& root) {
  std::error_code ec;
  const std::string real = fs::canonical(path, ec).generic_string();
  return !ec && real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
         real[root.size()] == '/';
}

// Folder links are not followed; a file link counts while it stays inside.
void Walk(const fs::path& folder, const std::string& relative, int depth, FolderWalk& walk) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return;  // unreadable: passed over
  std::vector<std::string>& names = walk.names[relative];
  std::vector<std::string> subfolders;
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    std::error_code entry_ec;
    const fs::file_status own = it->symlink_status(entry_ec);
    if (entry_ec) continue;
    if (fs::is_directory(own)) {
      subfolders.push_back(name);
      continue;
    }
    const bool link = fs::is_symlink(own);
    if (!fs::is_regular_file(link ? it->status(entry_ec) : own) || entry_ec) continue;
    names.push_back(platform::AsciiUpper(name));
    if (!IsInfName(name) || (link && !StaysInside(path, walk.root))) continue;
    walk.infs.push_back({path, relative.empty() ? name : relative + "/" + name});
  }
  std::sort(names.begin(), names.end());
  if (depth >= kMaxFolderDepth) return;
  for (const std::string& sub : subfolders)
    Walk(folder / sub, relative.empty() ? sub : relative + "/" + sub, depth + 1, walk);
}

}  // namespace

FolderWalk WalkCatalogFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec || !fs::is_directory(root, ec))
    throw CatalogError("catalog folder " + folder + " is not a folder");
  FolderWalk walk;
  walk.root = root.generic_string();
  Walk(root, "", 0, walk);
  return walk;
}

}  // namespace catalog
