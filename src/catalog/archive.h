// Driver packages inside .zip and .cab files of the catalog, read in place:
// nothing is unpacked to disk. A member is named "<archive>!/<path in it>",
// one level of nesting as "a.zip!/b.cab!/x.inf".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/catalog.h"

namespace catalog {

inline constexpr std::string_view kArchiveSeparator = "!/";

// Bounds on what one archive (its nested archives counted in) may cost. An
// archive over one is skipped as a whole, with the reason; a nested archive
// over one is skipped alone.
inline constexpr size_t kMaxArchiveMembers = 20000;
inline constexpr std::uint64_t kMaxInfMemberBytes = 16ull << 20;     // one INF read
inline constexpr std::uint64_t kMaxArchiveInfBytes = 256ull << 20;   // all INFs read from one
inline constexpr std::uint64_t kMaxNestedArchiveBytes = 2ull << 30;  // one nested archive
// What the members claim to hold against what the archive takes on disk:
// driver files shrink a few times, a bomb a thousand.
inline constexpr std::uint64_t kMaxExpansion = 100;
inline constexpr std::uint64_t kExpansionFloor = 64ull << 20;  // below this, any ratio is fine
inline constexpr size_t kMaxMemberName = 1024;
// Reading one archive, nested ones in it included, however its data
// expands: a large vendor cab reads in seconds.
inline constexpr int kMaxArchiveSeconds = 120;

// ".zip" or ".cab", in any case.
bool IsArchiveName(std::string_view name);

// Where "!/" follows an archive's name in `path`, first to last: "!/" after
// any other name (a folder "x!") separates nothing.
std::vector<size_t> ArchiveSeparators(std::string_view path);

// "a.zip!/b.cab!/dir/x.inf" -> {"a.zip!/b.cab", "dir/x.inf"}; {"", path} for
// a path that is no archive member.
std::pair<std::string, std::string> SplitArchivePath(const std::string& path);

struct ArchiveInf {
  std::string member;  // its path inside the archive, nested ones "b.cab!/x.inf"
  std::string bytes;
};

struct ArchiveContents {
  std::vector<ArchiveInf> infs;
  // Every file member's path, upper case, sorted: which catalog files are there.
  std::vector<std::string> names;
  // Nested archives left out: "b.cab" (or "b.cab!/c.zip") and why.
  std::vector<std::pair<std::string, std::string>> skipped;
  bool Holds(std::string_view upper_name) const;
};

// The INF members of the archive at `file`, and the names of all its
// members, its nested archives read one level deep. Throws CatalogError with
// the reason for an archive that is corrupt or hostile.
ArchiveContents ReadArchiveInfs(const std::string& file);

// What the index keeps of an archive at `file` (`relative` to its catalog
// folder): the model lines of each INF in it, its catalog file looked for
// beside it in the archive, or why it was skipped; nested archives left out
// come with their reason. `path` is "relative!/member". Throws CatalogError
// for an archive skipped as a whole.
struct ArchiveMemberLines {
  std::string path;
  std::vector<ModelLine> lines;
  int error_line = 0;
  std::string error;
};
std::vector<ArchiveMemberLines> ReadArchiveLines(const std::string& file,
                                                 const std::string& relative);

struct ArchiveMember {
  std::string name;  // path inside its archive, '/' separators
  std::uint64_t size = 0;
};

// The file members of `container` (a file, or "file!/nested.cab"), in the
// order the archive holds them; with `infs`, the bytes of its INF members
// too, read in the same pass (index into the list -> bytes). Throws
// CatalogError.
std::vector<ArchiveMember> ListArchive(const std::string& container,
                                       std::map<size_t, std::string>* infs = nullptr);

// Streams the members of `container` that `wanted` (indexes into the list
// ListArchive gives) names, in archive order: `sink` gets an empty chunk as
// each member starts, then its data chunk by chunk. Throws CatalogError.
void ReadArchiveMembers(const std::string& container, const std::vector<size_t>& wanted,
                        const std::function<void(size_t member, std::string_view chunk)>& sink);

}  // namespace catalog
