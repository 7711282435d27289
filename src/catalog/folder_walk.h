// The files of a catalog folder and its subfolders, as the in-memory catalog
// reads them. One adapter per platform: links (Linux) and reparse points
// (Windows: junctions, symbolic links) never lead the walk out of the folder.
#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

namespace catalog {

// Subfolders deeper than this are passed over: no real driver package nests
// so far, and a loop the walk cannot see must still end.
constexpr int kMaxFolderDepth = 64;

struct WalkedInf {
  std::filesystem::path path;  // to open it
  std::string relative;        // to the catalog folder, '/' separators, UTF-8
};

struct FolderWalk {
  std::string root;  // the catalog folder, absolute, '/' separators, UTF-8
  std::vector<WalkedInf> infs;
  // Folder (relative to the root, "" for the root itself) -> the names of
  // its files, upper case, sorted.
  std::unordered_map<std::string, std::vector<std::string>> names;
};

// Throws CatalogError when `folder` (UTF-8) is no folder or cannot be read;
// unreadable subfolders are passed over.
FolderWalk WalkCatalogFolder(const std::string& folder);

}  // namespace catalog
