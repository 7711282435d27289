// The files of a catalog folder and its subfolders, for the index and the
// in-memory catalog alike. One adapter per platform: links (Linux) and
// reparse points (Windows: junctions, symbolic links) never lead the walk out
// of the folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace catalog {

// Subfolders deeper than this are passed over: no real driver package nests
// so far, and a loop the walk cannot see must still end.
constexpr int kMaxFolderDepth = 64;

// An INF file's name, as Windows compares it: without regard to case.
inline bool IsInfName(std::string_view name) {
  return name.size() > 4 && platform::EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".inf");
}

struct WalkedInf {
  std::filesystem::path path;  // to open it
  std::string relative;        // to the catalog folder, '/' separators, UTF-8
  std::int64_t size = 0;       // bytes
  std::int64_t mtime = 0;      // nanoseconds since the epoch; 0 where the walk does not tell
  bool archive = false;        // a .zip or .cab whose INF members are read in place
};

struct FolderWalk {
  std::string root;  // the catalog folder, absolute, '/' separators, UTF-8
  // INF files, and where archives are read in place .zip and .cab files,
  // in no set order.
  std::vector<WalkedInf> infs;
  // Folder (relative to the root, "" for the root itself) -> the names of
  // its files, upper case, sorted.
  std::unordered_map<std::string, std::vector<std::string>> names;
};

// Throws CatalogError when `folder` (UTF-8) is no folder or cannot be read;
// unreadable subfolders are passed over.
FolderWalk WalkCatalogFolder(const std::string& folder);

}  // namespace catalog
