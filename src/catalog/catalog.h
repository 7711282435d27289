// The driver catalog: model lines of INF files, indexed in a SQLite file or
// read into memory.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace catalog {

struct CatalogError : std::runtime_error {
  using runtime_error::runtime_error;
};

// One line of a models section: a device the INF can drive. Everything that
// depends on the platform is resolved for the platform the line's models
// section is decorated for (its architecture).
struct ModelLine {
  std::string inf;  // path relative to its catalog folder, '/' separators
  std::string description, provider, class_name, class_guid, install_section, manufacturer,
      decoration;                // e.g. "NTamd64.10.0...16299"; "" for the undecorated section
  std::string catalog_file;      // the CatalogFile directive for the line's platform, "" when none
  bool catalog_present = false;  // catalog_file names a file in the INF's own folder
  bool install_section_nt = false;  // the install section used carries an .NT platform extension
  int feature_score = 0xFF;         // FeatureScore of the install section
  std::string driver_date;          // "YYYY-MM-DD"; "" when missing or invalid (ranks oldest)
  std::string driver_version;       // "a.b.c.d"; "" when missing or invalid (0.0.0.0)
  std::vector<std::string>
      ids;  // [0] the hardware id ("" when the line has none), then compatible ids
  std::vector<std::string> exclude_ids;  // ExcludeID of the install section: devices kept out
  // Every decoration the manufacturer entry lists ("" stands for the
  // undecorated section), so a reader can tell which one a system would use.
  std::vector<std::string> manufacturer_decorations;
  std::string catalog_dir;  // the catalog folder `inf` is relative to
};

// A line handed out by a catalog: one object however many ids of a lookup
// hold it, so the lines a report meets are read and kept once.
using SharedLine = std::shared_ptr<const ModelLine>;

// What the matcher reads from a catalog, wherever the catalog is kept.
class LineSource {
 public:
  // Whether a line is wanted, told before the rest of it is read: its
  // manufacturer's decorations and its own (the models section a system
  // would use is chosen from those alone).
  using LineFilter = std::function<bool(const std::vector<std::string>& manufacturer_decorations,
                                        std::string_view decoration)>;

  virtual ~LineSource() = default;
  // The lines of each id (case-insensitive), in the order given; only those
  // `keep` wants, when it is given. A line that holds several of the ids is
  // the same object in each of their lists.
  virtual std::vector<std::vector<SharedLine>> SharedLinesForIds(
      const std::vector<std::string>& ids, const LineFilter& keep) const = 0;
  // The same lines, each list with copies of its own.
  std::vector<std::vector<ModelLine>> LinesForIds(const std::vector<std::string>& ids,
                                                  const LineFilter& keep = nullptr) const {
    std::vector<std::vector<SharedLine>> shared = SharedLinesForIds(ids, keep);
    std::vector<std::vector<ModelLine>> out(shared.size());
    for (size_t i = 0; i < shared.size(); ++i) {
      out[i].reserve(shared[i].size());
      for (const SharedLine& line : shared[i]) out[i].push_back(*line);
    }
    return out;
  }
};

// Read access to an index file. LinesForId may be called from several
// threads at once.
class Index : public LineSource {
 public:
  static Index Open(const std::string& db_path);  // throws CatalogError
  Index(Index&&) noexcept;
  Index& operator=(Index&&) noexcept;
  ~Index();

  std::vector<ModelLine> LinesForId(std::string_view id) const;  // case-insensitive id match
  // The lines of each id, in the order given, read from one snapshot under
  // one lock: a whole report's lookups cost one read transaction, not one
  // file lock and journal check per id.
  std::vector<std::vector<SharedLine>> SharedLinesForIds(const std::vector<std::string>& ids,
                                                         const LineFilter& keep) const override;
  size_t LineCount() const;

 private:
  struct Impl;
  explicit Index(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Re-reads only INF files whose size or mtime changed, or whose catalog file
// came or went; removes vanished ones.
// Links that lead outside a catalog folder are not followed.
// One transaction: an interrupted update leaves the previous index whole.
// Malformed files are reported through on_malformed (every run, also when
// unchanged) and skipped. Thread: caller's.
struct UpdateStats {
  size_t scanned = 0, reread = 0, removed = 0, malformed = 0;
  // Catalog folders and subfolders read, and those whose entries the index
  // still knew (their times unchanged since a walk recorded them).
  size_t folders_read = 0, folders_reused = 0;
};
UpdateStats UpdateIndex(
    const std::string& db_path, const std::vector<std::string>& catalog_dirs,
    std::function<void(const std::string& file, int line, const std::string& reason)> on_malformed,
    std::function<void(size_t done, size_t total)> on_progress);

// $XDG_CACHE_HOME/kestrova/ (else ~/.cache/kestrova/), a name derived from
// the folders' absolute paths, so each set of folders has its own index.
std::string DefaultIndexPath(const std::vector<std::string>& catalog_dirs);

}  // namespace catalog
