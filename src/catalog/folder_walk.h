// The files of a catalog folder and its subfolders, for the index and the
// in-memory catalog alike. One adapter per platform: links (Linux) and
// reparse points (Windows: junctions, symbolic links) never lead the walk out
// of the folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
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

// Folder (relative to its catalog folder) -> the names of its files, upper
// case, sorted.
using FolderNames = std::unordered_map<std::string, std::vector<std::string>>;

// Whether the package folder `folder` holds a file `name`, as Windows compares
// names: without regard to case. A name with a path in it is never "in" it.
inline bool InFolder(const FolderNames& names, const std::string& folder, std::string_view name) {
  if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos)
    return false;
  auto it = names.find(folder);
  return it != names.end() &&
         std::binary_search(it->second.begin(), it->second.end(), platform::AsciiUpper(name));
}

struct WalkedInf {
  std::filesystem::path path;  // to open it; empty where root + "/" + relative serves
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
  // its files, upper case, sorted: the walk sees every file anyway, so
  // whether a package holds its catalog costs no extra call.
  FolderNames names;
  // What this walk took from each folder it may trust, encoded, for the next
  // walk to reuse (FolderStates); "" where the platform does not keep it.
  std::string states;
  size_t folders_read = 0, folders_reused = 0;
};

// What an earlier walk took from the folders of one catalog folder. A folder
// gains a new modification time whenever an entry is added, removed or
// renamed in it, so while its times stand as recorded its entry list is
// still right and it need not be read again (its files are still stat'ed:
// a file rewritten in place leaves the folder's times alone). Only folders
// that stood unchanged well before the walk that recorded them, held no
// links and lie on a local file system that keeps folder times are recorded.
class FolderStates {
 public:
  FolderStates() = default;
  // Throws CatalogError when `encoded` is damaged.
  explicit FolderStates(std::string encoded);
  FolderStates(FolderStates&&) = default;
  FolderStates& operator=(FolderStates&&) = default;

  struct Entry {
    std::string_view name;
    bool inf = false, archive = false;
  };
  // One folder's record, read in place.
  struct Folder {
    std::string_view record;  // its bytes, to be copied as they are
    std::int64_t mtime = 0, ctime = 0;
    std::vector<std::string_view> subfolders;
    std::vector<Entry> files;  // regular files, in name order
  };
  // The record of `relative` ("" for the catalog folder itself); false when
  // none. Records lie in walk order, so the one after the last found
  // (`cursor`, 0 to begin) is tried first.
  bool Find(std::string_view relative, Folder& out, size_t& cursor) const;
  bool Empty() const { return bytes_.empty(); }
  size_t Count() const { return count_; }
  const std::string& Encoded() const { return bytes_; }

  // Appends one folder's record to `out`.
  static void Encode(std::string& out, std::string_view relative, std::int64_t mtime,
                     std::int64_t ctime, const std::vector<std::string>& subfolders,
                     const std::vector<Entry>& files);

 private:
  // Folder -> its record in bytes_, made on the first lookup the cursor
  // does not answer (a catalog that changed its shape) and shared by walkers.
  struct Lookup {
    std::once_flag made;
    std::unordered_map<std::string_view, size_t> at;
  };
  const std::unordered_map<std::string_view, size_t>& At() const;
  std::string_view RelativeAt(size_t offset) const;
  // The record at `offset` into `out`; where the next one starts.
  size_t Parse(size_t offset, Folder& out) const;

  std::string bytes_;
  size_t count_ = 0;
  std::unique_ptr<Lookup> lookup_ = std::make_unique<Lookup>();
};

// A folder must have stood unchanged this long before a walk for the walk's
// record of it to be trusted: a change within the same timestamp tick as the
// walk would leave the folder's times as recorded.
constexpr std::int64_t kFolderTrustMarginNs = 2'000'000'000;

// The walk's clock (nanoseconds since the epoch); tests set one that runs
// ahead, so that folders they have just written count as long unchanged.
// nullptr restores the system clock.
void SetWalkClock(std::int64_t (*clock)());
std::int64_t WalkClockNow();

// Throws CatalogError when `folder` (UTF-8) is no folder or cannot be read;
// unreadable subfolders are passed over. `known` (may be null) is what an
// earlier walk of the same folder recorded; a platform may ignore it.
FolderWalk WalkCatalogFolder(const std::string& folder, const FolderStates* known = nullptr);

}  // namespace catalog
