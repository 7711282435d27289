#include "catalog/memory_catalog.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <tuple>
#include <unordered_set>

#include "catalog/folder_walk.h"
#include "catalog/inf_reader.h"
#include "catalog/paths.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {
namespace {

std::string FolderOf(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

MemoryCatalog MemoryCatalog::Read(const std::vector<std::string>& catalog_dirs,
                                  const std::vector<std::string>* wanted_ids,
                                  const MalformedHandler& on_malformed,
                                  const ProgressHandler& on_progress) {
  std::vector<FolderWalk> walks;
  for (const std::string& dir : catalog_dirs) {
    FolderWalk walk = WalkCatalogFolder(dir);
    const bool seen = std::any_of(walks.begin(), walks.end(),
                                  [&](const FolderWalk& w) { return w.root == walk.root; });
    if (!seen) walks.push_back(std::move(walk));
  }
  // A stable order, the index's: by folder, then by path inside it.
  std::vector<std::pair<const FolderWalk*, const WalkedInf*>> files;
  for (const FolderWalk& walk : walks)
    for (const WalkedInf& inf : walk.infs)
      if (!inf.archive) files.emplace_back(&walk, &inf);  // archives are the index's alone
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first->root, a.second->relative) <
           std::tie(b.first->root, b.second->relative);
  });

  std::unordered_set<std::string> wanted;
  if (wanted_ids)
    for (const std::string& id : *wanted_ids) wanted.insert(platform::AsciiUpper(id));

  MemoryCatalog catalog;
  catalog.inf_count_ = files.size();
  size_t done = 0;
  for (const auto& [walk, inf] : files) {
    std::ifstream in(inf->path.empty() ? PathFromUtf8(walk->root + "/" + inf->relative) : inf->path,
                     std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    const std::string shown =
        Utf8OfPath((PathFromUtf8(walk->root) / PathFromUtf8(inf->relative)).make_preferred());
    std::vector<ModelLine> lines;
    if (!in) {
      if (on_malformed) on_malformed(shown, 0, "cannot be read");
    } else {
      try {
        lines = ReadInf(bytes.str(), inf->relative);
      } catch (const InfError& e) {
        if (on_malformed) on_malformed(shown, e.line, e.reason);
      }
    }
    const std::string folder = FolderOf(inf->relative);
    for (ModelLine& line : lines) {
      if (wanted_ids && std::none_of(line.ids.begin(), line.ids.end(), [&](const auto& id) {
            return wanted.count(platform::AsciiUpper(id)) != 0;
          }))
        continue;
      line.catalog_dir = walk->root;
      line.catalog_present =
          !line.catalog_file.empty() && InFolder(walk->names, folder, line.catalog_file);
      const size_t at = catalog.lines_->size();
      std::unordered_set<std::string> own;
      for (const std::string& id : line.ids) {
        std::string key = platform::AsciiUpper(id);
        // An id listed twice on one line finds the line once.
        if (!key.empty() && own.insert(key).second) catalog.by_id_[key].push_back(at);
      }
      catalog.lines_->push_back(std::move(line));
    }
    if (on_progress) on_progress(++done, files.size());
  }
  return catalog;
}

std::vector<std::vector<SharedLine>> MemoryCatalog::SharedLinesForIds(
    const std::vector<std::string>& ids, const LineFilter& keep) const {
  std::vector<std::vector<SharedLine>> out;
  out.reserve(ids.size());
  for (const std::string& id : ids) {
    std::vector<SharedLine>& lines = out.emplace_back();
    auto it = by_id_.find(platform::AsciiUpper(id));
    if (it == by_id_.end()) continue;
    for (size_t at : it->second) {
      const ModelLine& line = (*lines_)[at];
      if (!keep || keep(line.manufacturer_decorations, line.decoration))
        lines.emplace_back(lines_, &line);
    }
  }
  return out;
}

}  // namespace catalog
