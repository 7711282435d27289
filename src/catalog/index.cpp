#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "catalog/archive.h"
#include "catalog/catalog.h"
#include "catalog/inf_reader.h"
#include "platform/codepage.h"
#include "platform/sqlite.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

// Bumped whenever the tables change; an older index is rebuilt.
constexpr int kSchema = 5;
constexpr char kListSep = '\x1f';

constexpr char kIndexName[] = "catalog index";
using Sql = platform::sqlite::Checked<CatalogError, kIndexName>;
using platform::sqlite::Bind;
using platform::sqlite::BlobColumn;
using platform::sqlite::Column;
using platform::sqlite::Db;
using platform::sqlite::Stmt;
constexpr auto Fail = &Sql::Fail;
constexpr auto Exec = &Sql::Exec;
constexpr auto Prepare = &Sql::Prepare;
constexpr auto StepDone = &Sql::StepDone;

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += kListSep;
    out += items[i];
  }
  return out;
}

std::vector<std::string> SplitList(const std::string& text, bool keep_one_empty) {
  std::vector<std::string> out;
  if (text.empty() && !keep_one_empty) return out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(kListSep, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

int SchemaOf(sqlite3* db) {
  Stmt s = Prepare(db, "PRAGMA user_version");
  if (sqlite3_step(s.get()) != SQLITE_ROW) Fail(db, "catalog index");
  return sqlite3_column_int(s.get(), 0);
}

// Ids are kept as 64-bit hashes of their upper-case text: a short integer
// key makes the id table a fraction of the size and its lookups cheap. A
// line's own id list verifies every hit, so a collision costs a wasted read,
// never a wrong answer. A file's model lines are one record (lines.record):
// storing a file is two rows whatever its lines, and a key leads to the files
// that hold it, each read once. The records are a table of their own, so
// reading every file's size and time (each update does) skips them.
void CreateTables(sqlite3* db) {
  Exec(db,
       "DROP TABLE IF EXISTS ids; DROP TABLE IF EXISTS lines; DROP TABLE IF EXISTS files;"
       "DROP TABLE IF EXISTS id_keys;"
       "CREATE TABLE files(id INTEGER PRIMARY KEY, dir TEXT NOT NULL, path TEXT NOT NULL,"
       "  size INTEGER NOT NULL, mtime INTEGER NOT NULL, error_line INTEGER, error TEXT,"
       "  catalogs TEXT, line_count INTEGER NOT NULL);"
       "CREATE TABLE lines(file_id INTEGER PRIMARY KEY, record BLOB NOT NULL);"
       "CREATE TABLE ids(key INTEGER NOT NULL, file_id INTEGER NOT NULL,"
       "  PRIMARY KEY(key, file_id)) WITHOUT ROWID;"
       "CREATE TABLE id_keys(id INTEGER PRIMARY KEY, keys BLOB NOT NULL);"
       "PRAGMA user_version = 5;");
  static_assert(kSchema == 5, "CreateTables writes the schema number");
}

// FNV-1a over the upper-case id.
std::int64_t IdKey(std::string_view id) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : id) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    h ^= c;
    h *= 1099511628211ull;
  }
  return static_cast<std::int64_t>(h);
}

// A file's lines record: each line as a length-prefixed record, its ids
// first, so a line that does not hold the id sought is passed over undecoded.
// Lengths and numbers are LEB128.
void PutNumber(std::string& out, std::uint64_t v) {
  for (; v >= 0x80; v >>= 7) out += static_cast<char>((v & 0x7F) | 0x80);
  out += static_cast<char>(v);
}
void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out.append(text);
}
void PutList(std::string& out, const std::vector<std::string>& items) {
  PutNumber(out, items.size());
  for (const std::string& item : items) PutText(out, item);
}

std::string EncodeLines(const std::vector<ModelLine>& lines) {
  std::string out, line;
  for (const ModelLine& m : lines) {
    line.clear();
    PutList(line, m.ids);
    for (const std::string* text :
         {&m.description, &m.provider, &m.class_name, &m.class_guid, &m.catalog_file,
          &m.install_section, &m.manufacturer, &m.decoration, &m.driver_date, &m.driver_version})
      PutText(line, *text);
    PutList(line, m.manufacturer_decorations);
    PutList(line, m.exclude_ids);
    PutNumber(line, m.install_section_nt ? 1 : 0);
    PutNumber(line, static_cast<std::uint32_t>(m.feature_score));
    PutNumber(line, m.catalog_present ? 1 : 0);
    PutText(out, line);
  }
  return out;
}

// Reads what EncodeLines wrote; a record cut short means a damaged index.
class RecordReader {
 public:
  explicit RecordReader(std::string_view data) : data_(data) {}
  bool AtEnd() const { return at_ == data_.size(); }
  std::uint64_t Number() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64 && at_ < data_.size(); shift += 7) {
      const auto b = static_cast<unsigned char>(data_[at_++]);
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    Damaged();
  }
  std::string_view Text() {
    const std::uint64_t n = Number();
    if (n > data_.size() - at_) Damaged();
    const std::string_view text = data_.substr(at_, n);
    at_ += n;
    return text;
  }
  std::vector<std::string> List() {
    std::vector<std::string> items(CountAtMost(Number()));
    for (std::string& item : items) item = Text();
    return items;
  }
  size_t CountAtMost(std::uint64_t n) const {
    if (n > data_.size() - at_) Damaged();  // every item takes a byte at least
    return static_cast<size_t>(n);
  }

 private:
  [[noreturn]] static void Damaged() {
    throw CatalogError("catalog index is damaged; index the catalog again");
  }
  std::string_view data_;
  size_t at_ = 0;
};

// The lines of a record that hold `id` (any case).
void DecodeLinesHolding(std::string_view record, std::string_view id, const std::string& dir,
                        const std::string& path, std::vector<ModelLine>& out) {
  RecordReader file(record);
  while (!file.AtEnd()) {
    const std::string_view line_record = file.Text();
    RecordReader line(line_record);
    bool holds = false;
    for (size_t n = line.CountAtMost(line.Number()); n > 0 && !holds; --n)
      holds = platform::EqualsIgnoringAsciiCase(line.Text(), id);
    if (!holds) continue;
    line = RecordReader(line_record);
    ModelLine m;
    m.catalog_dir = dir;
    m.inf = path;
    m.ids = line.List();
    for (std::string* text :
         {&m.description, &m.provider, &m.class_name, &m.class_guid, &m.catalog_file,
          &m.install_section, &m.manufacturer, &m.decoration, &m.driver_date, &m.driver_version})
      *text = line.Text();
    m.manufacturer_decorations = line.List();
    m.exclude_ids = line.List();
    m.install_section_nt = line.Number() != 0;
    m.feature_score = static_cast<int>(static_cast<std::uint32_t>(line.Number()));
    m.catalog_present = line.Number() != 0;
    out.push_back(std::move(m));
  }
}

// The keys of every id in a record, sorted, each once.
std::vector<std::int64_t> KeysOfRecord(std::string_view record) {
  std::vector<std::int64_t> keys;
  RecordReader file(record);
  while (!file.AtEnd()) {
    RecordReader line(file.Text());
    for (size_t n = line.CountAtMost(line.Number()); n > 0; --n) {
      const std::string_view id = line.Text();
      if (!id.empty()) keys.push_back(IdKey(id));  // a line without a hardware id: its other ids
    }
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

// Every id key of the index, sorted, is also kept as one blob: most of a
// report's ids (generic and class ids) are in no catalog, and the blob,
// loaded once, answers those without a descent of the id table.
using KeySet = std::vector<std::int64_t>;

KeySet ReadKeySet(sqlite3* db) {
  Stmt s = Prepare(db, "SELECT keys FROM id_keys WHERE id = 1");
  KeySet keys;
  if (sqlite3_step(s.get()) != SQLITE_ROW) return keys;
  const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 0));
  const size_t count = static_cast<size_t>(sqlite3_column_bytes(s.get(), 0)) / 8;
  keys.resize(count);
  for (size_t i = 0; i < count; ++i) {
    std::uint64_t v = 0;  // little-endian, whatever the machine
    for (int b = 7; b >= 0; --b) v = v << 8 | bytes[i * 8 + static_cast<size_t>(b)];
    keys[i] = static_cast<std::int64_t>(v);
  }
  return keys;
}

void WriteKeySet(sqlite3* db, const KeySet& keys) {
  std::string bytes(keys.size() * 8, '\0');
  for (size_t i = 0; i < keys.size(); ++i) {
    auto v = static_cast<std::uint64_t>(keys[i]);
    for (size_t b = 0; b < 8; ++b, v >>= 8) bytes[i * 8 + b] = static_cast<char>(v & 0xFF);
  }
  Stmt s = Prepare(db, "INSERT OR REPLACE INTO id_keys(id, keys) VALUES(1, ?1)");
  sqlite3_bind_blob(s.get(), 1, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
  if (sqlite3_step(s.get()) != SQLITE_DONE) Fail(db, "catalog index");
}

// The key set after an update in place: keys added, and keys removed that no
// line has any more (a key shared with other lines stays).
void UpdateKeySet(sqlite3* db, KeySet& keys, KeySet added, KeySet removed) {
  std::sort(added.begin(), added.end());
  added.erase(std::unique(added.begin(), added.end()), added.end());
  std::sort(removed.begin(), removed.end());
  removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
  Stmt still = Prepare(db, "SELECT 1 FROM ids WHERE key = ?1 LIMIT 1");
  KeySet gone;
  for (const std::int64_t key : removed) {
    if (std::binary_search(added.begin(), added.end(), key)) continue;
    sqlite3_bind_int64(still.get(), 1, key);
    if (sqlite3_step(still.get()) != SQLITE_ROW) gone.push_back(key);
    sqlite3_reset(still.get());
  }
  KeySet merged;
  merged.reserve(keys.size() + added.size());
  std::set_union(keys.begin(), keys.end(), added.begin(), added.end(), std::back_inserter(merged));
  keys.clear();
  std::set_difference(merged.begin(), merged.end(), gone.begin(), gone.end(),
                      std::back_inserter(keys));
}

struct FoundFile {
  std::string dir, path;  // catalog folder (absolute), path relative to it with '/'
  std::int64_t size = 0, mtime = 0;
  bool archive = false;  // a .zip or .cab whose INF members are read in place
};

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsInfName(std::string_view name) {
  return name.size() > 4 && platform::EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".inf");
}

// True when `path`, links resolved, lies inside `dir` (itself resolved).
bool StaysInside(const fs::path& path, const std::string& dir) {
  std::error_code ec;
  const std::string real = fs::canonical(path, ec).generic_string();
  return !ec && real.size() > dir.size() && real.compare(0, dir.size(), dir) == 0 &&
         real[dir.size()] == '/';
}

// Folder -> the names of its files, upper case, sorted: the walk sees every
// file anyway, so whether a package holds its catalog costs no extra call.
using FolderNames = std::unordered_map<std::string, std::vector<std::string>>;

struct FdCloser {
  int fd;
  ~FdCloser() { ::close(fd); }
};

// A folder's entries read straight from getdents64 into a buffer the whole
// walk shares: a DIR stream would cost two more system calls per folder and
// a buffer of its own. Each folder's entries are all read before the walk
// goes into its subfolders, so one buffer serves every level.
class EntryReader {
 public:
  EntryReader(int fd, std::vector<char>& buffer) : fd_(fd), buffer_(buffer) {}
  // The next entry; nullptr at the end, or on an error (`failed`, errno set).
  const struct dirent64* Next(bool& failed) {
    failed = false;
    if (at_ >= filled_) {
      const ssize_t n = ::getdents64(fd_, buffer_.data(), buffer_.size());
      if (n <= 0) {
        failed = n < 0;
        return nullptr;
      }
      filled_ = static_cast<size_t>(n);
      at_ = 0;
    }
    const auto* e = reinterpret_cast<const struct dirent64*>(buffer_.data() + at_);
    at_ += e->d_reclen;
    return e;
  }

 private:
  int fd_;
  std::vector<char>& buffer_;
  size_t at_ = 0, filled_ = 0;
};

// One folder of the walk, opened relative to its parent and read by the
// type readdir gives: a catalog of a hundred thousand packages is as many
// folders, so a path lookup or stat per entry would be most of the cost.
void WalkFolder(int parent_fd, const char* name, const std::string& path, const std::string& root,
                std::vector<FoundFile>& found, FolderNames& names, std::vector<char>& buffer) {
  const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // Folder links are not followed; unreadable folders are passed over.
    if (errno == ELOOP || errno == ENOTDIR || errno == EACCES || errno == ENOENT) return;
    throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
  }
  const FdCloser closer{fd};
  EntryReader entries(fd, buffer);
  std::vector<std::string>* here = nullptr;
  std::vector<std::string> subfolders;
  bool failed = false;
  while (const struct dirent64* e = entries.Next(failed)) {
    const std::string_view entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    unsigned char type = e->d_type;
    struct stat st {};
    bool have_stat = false;
    if (type == DT_UNKNOWN) {
      if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
      have_stat = S_ISREG(st.st_mode);
    }
    if (type == DT_DIR) {
      // "x.zip!" would make its files' paths read as an archive's members.
      if (entry.back() == '!' && IsArchiveName(entry.substr(0, entry.size() - 1))) continue;
      subfolders.emplace_back(entry);
      continue;
    }
    const bool link = type == DT_LNK;
    if (link || !have_stat) {
      if (!link && !IsInfName(entry) && !IsArchiveName(entry)) {
        if (type == DT_REG) {
          if (!here) here = &names[path];
          here->push_back(platform::AsciiUpper(entry));
        }
        continue;
      }
      if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;  // a link is followed here
      have_stat = true;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (!here) here = &names[path];
    here->push_back(platform::AsciiUpper(entry));
    const bool archive = IsArchiveName(entry);
    if (!IsInfName(entry) && !archive) continue;
    // A file link is followed only while it stays inside the catalog folder.
    if (link && !StaysInside(path + "/" + e->d_name, root)) continue;
    FoundFile f;
    f.dir = root;
    f.path = (path.size() > root.size() ? path.substr(root.size() + 1) + "/" : std::string()) +
             std::string(entry);
    f.size = st.st_size;
    f.mtime = MtimeNs(st);
    f.archive = archive;
    found.push_back(std::move(f));
  }
  if (failed)
    throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
  for (const std::string& sub : subfolders)
    WalkFolder(fd, sub.c_str(), path + "/" + sub, root, found, names, buffer);
}

std::vector<FoundFile> FindInfFiles(const std::vector<std::string>& dirs, FolderNames& names) {
  std::vector<FoundFile> found;
  std::vector<char> buffer(1 << 15);
  for (const std::string& dir : dirs) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
      throw CatalogError("cannot read catalog folder " + dir + ": " + std::strerror(errno));
    try {
      WalkFolder(fd, ".", dir, dir, found, names, buffer);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  }
  for (auto& [folder, list] : names) std::sort(list.begin(), list.end());
  // A stable order: the same catalog gives the same index and line order.
  std::sort(found.begin(), found.end(), [](const FoundFile& a, const FoundFile& b) {
    return std::tie(a.dir, a.path) < std::tie(b.dir, b.path);
  });
  return found;
}

std::vector<std::string> AbsoluteDirs(const std::vector<std::string>& dirs) {
  std::vector<std::string> out;
  for (const std::string& d : dirs) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(d, ec), ec);
    if (ec || !fs::is_directory(p, ec))
      throw CatalogError("catalog folder " + d + " is not a folder");
    std::string s = p.generic_string();
    if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  }
  return out;
}

Db OpenDb(const std::string& path, int flags) {
  Db db = Sql::Open(path, flags);
  sqlite3_busy_timeout(db.get(), 10000);
  return db;
}

// Whether the package folder holds `name`, as Windows compares names:
// without regard to case.
bool InFolder(const FolderNames& names, const std::string& folder, const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return false;
  auto it = names.find(folder);
  return it != names.end() &&
         std::binary_search(it->second.begin(), it->second.end(), platform::AsciiUpper(name));
}

// The catalog files an INF names, each with whether it is there ("a.cat=1"),
// joined: a file whose catalog came or went is read again though it did not change.
std::string CatalogState(const std::vector<std::string>& catalogs, const FolderNames& names,
                         const std::string& folder) {
  std::vector<std::string> parts;
  for (const std::string& c : catalogs) {
    if (!c.empty()) parts.push_back(c + (InFolder(names, folder, c) ? "=1" : "=0"));
  }
  std::sort(parts.begin(), parts.end());
  parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
  return Join(parts);
}

std::vector<std::string> CatalogNames(const std::string& state) {
  std::vector<std::string> out;
  for (const std::string& part : SplitList(state, false))
    out.push_back(part.substr(0, part.rfind('=')));
  return out;
}

}  // namespace

struct Index::Impl {
  Db db;
  Stmt lookup, begin_read, data_version;
  std::mutex lock;  // one statement, shared by the callers
  // The id keys as of data version `keys_version`: reloaded when an update
  // in place has changed the index since.
  KeySet keys;
  std::int64_t keys_version = -1;
};

Index::Index(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Index::Index(Index&&) noexcept = default;
Index& Index::operator=(Index&&) noexcept = default;
Index::~Index() = default;

Index Index::Open(const std::string& db_path) {
  std::error_code ec;
  if (!fs::is_regular_file(db_path, ec))
    throw CatalogError("catalog index " + db_path + " does not exist");
  auto impl = std::make_unique<Impl>();
  impl->db = OpenDb(db_path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
  int schema = 0;
  try {
    schema = SchemaOf(impl->db.get());
  } catch (const CatalogError&) {
    throw CatalogError(db_path + " is not a catalog index");
  }
  // Lookups of a whole report touch pages all over a large index: mapped,
  // they cost no read call each.
  Exec(impl->db.get(), "PRAGMA mmap_size = 1073741824");
  if (schema != kSchema)
    throw CatalogError(db_path +
                       " is not a catalog index of this version; index the catalog again");
  impl->lookup =
      Prepare(impl->db.get(),
              "SELECT f.dir, f.path, l.record FROM ids i JOIN lines l ON l.file_id = i.file_id"
              " JOIN files f ON f.id = i.file_id WHERE i.key = ?1 ORDER BY i.file_id");
  impl->begin_read = Prepare(impl->db.get(), "SELECT 1 FROM id_keys WHERE id = 1");
  impl->data_version = Prepare(impl->db.get(), "PRAGMA data_version");
  return Index(std::move(impl));
}

namespace {

// One lookup on the shared statement; the caller holds the index's lock.
std::vector<ModelLine> ReadLines(sqlite3* db, sqlite3_stmt* s, const KeySet& keys,
                                 std::string_view id) {
  std::vector<ModelLine> out;
  const std::int64_t key = IdKey(id);
  if (!std::binary_search(keys.begin(), keys.end(), key)) return out;
  Bind(s, 1, key);
  int rc;
  try {
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
      DecodeLinesHolding(BlobColumn(s, 2), id, Column(s, 0), Column(s, 1), out);
  } catch (...) {
    sqlite3_reset(s);
    throw;
  }
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (rc != SQLITE_DONE) Fail(db, "catalog lookup");
  return out;
}

}  // namespace

std::vector<ModelLine> Index::LinesForId(std::string_view id) const {
  return std::move(LinesForIds({std::string(id)}).front());
}

std::vector<std::vector<ModelLine>> Index::LinesForIds(const std::vector<std::string>& ids) const {
  std::vector<std::vector<ModelLine>> out;
  out.reserve(ids.size());
  std::lock_guard<std::mutex> guard(impl_->lock);
  sqlite3* db = impl_->db.get();
  Exec(db, "BEGIN");
  try {
    // A first read takes the snapshot; the data version then tells whether
    // an update has changed the index since the keys were read.
    const int rc = sqlite3_step(impl_->begin_read.get());
    sqlite3_reset(impl_->begin_read.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(db, "catalog index");
    sqlite3_stmt* version = impl_->data_version.get();
    if (sqlite3_step(version) != SQLITE_ROW) Fail(db, "catalog index");
    const std::int64_t now = sqlite3_column_int64(version, 0);
    sqlite3_reset(version);
    if (now != impl_->keys_version) {
      impl_->keys = ReadKeySet(db);
      impl_->keys_version = now;
    }
    for (const std::string& id : ids)
      out.push_back(ReadLines(db, impl_->lookup.get(), impl_->keys, id));
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  Exec(db, "COMMIT");
  return out;
}

size_t Index::LineCount() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  Stmt s = Prepare(impl_->db.get(), "SELECT coalesce(sum(line_count), 0) FROM files");
  if (sqlite3_step(s.get()) != SQLITE_ROW) Fail(impl_->db.get(), "catalog index");
  return static_cast<size_t>(sqlite3_column_int64(s.get(), 0));
}

namespace {

std::string FileKey(const std::string& dir, const std::string& path) {
  return dir + '\0' + path;
}

struct ReadResult {
  std::vector<ModelLine> lines;
  int error_line = 0;
  std::string error;
  // An archive's INF members, each with its path ("a.zip!/x.inf"), and its
  // nested archives left out ("a.zip!/b.cab") with the reason as `error`.
  std::vector<std::string> member_paths;
  std::vector<ReadResult> members;
};

ReadResult ReadArchiveFile(const std::string& full, const std::string& relative) {
  ReadResult r;
  try {
    for (ArchiveMemberLines& m : ReadArchiveLines(full, relative)) {
      r.member_paths.push_back(std::move(m.path));
      ReadResult member;
      member.lines = std::move(m.lines);
      member.error_line = m.error_line;
      member.error = std::move(m.error);
      r.members.push_back(std::move(member));
    }
  } catch (const CatalogError& e) {
    r.error = e.what();
  }
  return r;
}

ReadResult ReadFile(const std::string& full, const std::string& relative) {
  ReadResult r;
  std::ifstream in(full, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in) {
    r.error = "cannot be read";
    return r;
  }
  try {
    r.lines = ReadInf(bytes.str(), relative);
  } catch (const InfError& e) {
    r.error_line = e.line;
    r.error = e.reason;
  }
  return r;
}

// Reads the files of `jobs` into `out` on several threads: parsing is most of
// an index's cost, and the files are independent.
void ReadAll(const std::vector<const FoundFile*>& jobs, std::vector<ReadResult>& out) {
  out.assign(jobs.size(), ReadResult{});
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < jobs.size();)
      out[i] = jobs[i]->archive ? ReadArchiveFile(jobs[i]->dir + "/" + jobs[i]->path, jobs[i]->path)
                                : ReadFile(jobs[i]->dir + "/" + jobs[i]->path, jobs[i]->path);
  };
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads && t < jobs.size(); ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
}

// The update's open index: the existing one when it is of this version (in
// a transaction, so a run that stops half-way changes nothing), else a new
// file beside it that replaces it only once complete.
struct Target {
  Db db;
  std::string temp;  // "" when updating in place
  ~Target() {
    if (!temp.empty()) {
      db.reset();
      std::error_code ec;
      fs::remove(temp, ec);
    }
  }
};

void OpenForUpdate(const std::string& db_path, Target& t) {
  std::error_code ec;
  if (fs::exists(db_path, ec)) {
    try {
      t.db = OpenDb(db_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
      // A rollback journal, so readers need no write access beside the file.
      Exec(t.db.get(), "PRAGMA journal_mode = DELETE");
      // Changed files' ids lie all over the id table: a cache of its pages
      // saves reading and writing the same ones again.
      Exec(t.db.get(), "PRAGMA cache_size = -65536");
      Exec(t.db.get(), "BEGIN IMMEDIATE");
      if (SchemaOf(t.db.get()) == kSchema) return;
    } catch (const CatalogError&) {
      // Not a database: the index is a cache, so it is replaced, not mended.
    }
    t.db.reset();
  }
  std::string name = db_path + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0)
    throw CatalogError("cannot create catalog index beside " + db_path + ": " +
                       std::strerror(errno));
  // mkstemp makes it private to its owner, as every database file here is.
  ::close(fd);
  t.temp = name;
  t.db = OpenDb(t.temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
  // Nothing to protect until the rename: no journal, no syncs but the last.
  Exec(t.db.get(),
       "PRAGMA page_size = 8192; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
       "PRAGMA cache_size = -65536;"
       "BEGIN");
  CreateTables(t.db.get());
}

// Puts a complete new index in place of the old one, on disk before it is named.
void Install(Target& t, const std::string& db_path) {
  t.db.reset();
  const int fd = ::open(t.temp.c_str(), O_RDONLY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!synced || ::rename(t.temp.c_str(), db_path.c_str()) != 0)
    throw CatalogError("catalog index " + db_path + " cannot be replaced: " + std::strerror(errno));
  t.temp.clear();
}

}  // namespace

UpdateStats UpdateIndex(
    const std::string& db_path, const std::vector<std::string>& catalog_dirs,
    std::function<void(const std::string& file, int line, const std::string& reason)> on_malformed,
    std::function<void(size_t done, size_t total)> on_progress) {
  const std::vector<std::string> dirs = AbsoluteDirs(catalog_dirs);
  FolderNames folder_names;
  const std::vector<FoundFile> found = FindInfFiles(dirs, folder_names);

  std::error_code ec;
  const fs::path parent = fs::path(db_path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  Target target;
  OpenForUpdate(db_path, target);
  sqlite3* h = target.db.get();
  const bool fresh = !target.temp.empty();
  struct Rollback {
    sqlite3* h;
    bool armed = true;
    ~Rollback() {
      if (armed) sqlite3_exec(h, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } rollback{h};

  struct Known {
    std::int64_t id, size, mtime;
    int error_line;
    std::string error, catalogs;
    bool seen = false;
  };
  std::unordered_map<std::string, Known> known;  // by FileKey
  // An archive's key -> the keys of its members' rows, which come and go with it.
  std::unordered_map<std::string, std::vector<std::string>> archive_members;
  if (!fresh) {
    Stmt s =
        Prepare(h, "SELECT id, dir, path, size, mtime, error_line, error, catalogs FROM files");
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      sqlite3_stmt* r = s.get();
      known[FileKey(Column(r, 1), Column(r, 2))] = Known{sqlite3_column_int64(r, 0),
                                                         sqlite3_column_int64(r, 3),
                                                         sqlite3_column_int64(r, 4),
                                                         sqlite3_column_int(r, 5),
                                                         Column(r, 6),
                                                         Column(r, 7)};
      const std::string path = Column(r, 2);
      const std::vector<size_t> in_archive = ArchiveSeparators(path);
      if (!in_archive.empty())
        archive_members[FileKey(Column(r, 1), path.substr(0, in_archive.front()))].push_back(
            FileKey(Column(r, 1), path));
    }
  }
  Stmt file_lines = Prepare(h, "SELECT record FROM lines WHERE file_id = ?1");
  Stmt del_id = Prepare(h, "DELETE FROM ids WHERE key = ?1 AND file_id = ?2");
  Stmt del_file = Prepare(h, "DELETE FROM files WHERE id = ?1");
  Stmt del_record = Prepare(h, "DELETE FROM lines WHERE file_id = ?1");
  Stmt put_record = Prepare(h, "INSERT OR REPLACE INTO lines(file_id, record) VALUES(?1, ?2)");
  // A file read again keeps its row: its ids, mostly the same as before,
  // then change only where they differ.
  Stmt put_file = Prepare(h,
                          "INSERT OR REPLACE INTO files(id, dir, path, size, mtime, error_line,"
                          " error, catalogs, line_count) VALUES(?9,?1,?2,?3,?4,?5,?6,?7,?8)");
  Stmt add_id = Prepare(h, "INSERT OR IGNORE INTO ids(key, file_id) VALUES(?1, ?2)");
  KeySet added_keys, removed_keys;  // an update in place's changes to the key set

  auto keys_of_file = [&](std::int64_t file_id) {
    Bind(file_lines.get(), 1, file_id);
    KeySet keys;
    if (sqlite3_step(file_lines.get()) == SQLITE_ROW)
      keys = KeysOfRecord(BlobColumn(file_lines.get(), 0));
    sqlite3_reset(file_lines.get());
    return keys;
  };
  auto remove_ids = [&](const KeySet& keys, std::int64_t file_id) {
    for (const std::int64_t key : keys) {
      removed_keys.push_back(key);
      Bind(del_id.get(), 1, key);
      Bind(del_id.get(), 2, file_id);
      StepDone(h, del_id.get());
    }
  };
  auto add_ids = [&](const KeySet& keys, std::int64_t file_id) {
    for (const std::int64_t key : keys) {
      added_keys.push_back(key);
      Bind(add_id.get(), 1, key);
      Bind(add_id.get(), 2, file_id);
      StepDone(h, add_id.get());
    }
  };
  auto forget = [&](const Known& k) {
    remove_ids(keys_of_file(k.id), k.id);
    Bind(del_file.get(), 1, k.id);
    StepDone(h, del_file.get());
    Bind(del_record.get(), 1, k.id);
    StepDone(h, del_record.get());
  };

  // A new index gets its ids at the end, sorted: appending to the id table
  // is far cheaper than inserting all over it.
  std::vector<std::pair<std::int64_t, std::int64_t>> pending_ids;

  // `path` is f's own, or a member's of the archive f; `prior_id`: the
  // file's row when it was indexed before, else 0.
  auto store = [&](const FoundFile& f, const std::string& path, const std::string& package,
                   ReadResult& r, std::int64_t prior_id) {
    std::vector<std::string> catalogs;
    // An archive member's catalog was looked for in its archive, which
    // changes only with the archive itself.
    for (ModelLine& m : r.lines) {
      if (f.archive) continue;
      m.catalog_present =
          !m.catalog_file.empty() && InFolder(folder_names, package, m.catalog_file);
      catalogs.push_back(m.catalog_file);
    }
    const std::string record = EncodeLines(r.lines);
    const KeySet old_keys = prior_id != 0 ? keys_of_file(prior_id) : KeySet();
    sqlite3_stmt* s = put_file.get();
    Bind(s, 1, f.dir);
    Bind(s, 2, path);
    Bind(s, 3, f.size);
    Bind(s, 4, f.mtime);
    Bind(s, 5, std::int64_t{r.error_line});
    if (!r.error.empty()) Bind(s, 6, r.error);
    Bind(s, 7, CatalogState(catalogs, folder_names, package));
    Bind(s, 8, static_cast<std::int64_t>(r.lines.size()));
    if (prior_id != 0) Bind(s, 9, prior_id);
    StepDone(h, s);
    const std::int64_t file_id = prior_id != 0 ? prior_id : sqlite3_last_insert_rowid(h);
    Bind(put_record.get(), 1, file_id);
    sqlite3_bind_blob(put_record.get(), 2, record.data(), static_cast<int>(record.size()),
                      SQLITE_STATIC);
    StepDone(h, put_record.get());
    const KeySet keys = KeysOfRecord(record);
    if (fresh) {
      for (const std::int64_t key : keys) pending_ids.emplace_back(key, file_id);
      return;
    }
    KeySet gone, added;
    std::set_difference(old_keys.begin(), old_keys.end(), keys.begin(), keys.end(),
                        std::back_inserter(gone));
    std::set_difference(keys.begin(), keys.end(), old_keys.begin(), old_keys.end(),
                        std::back_inserter(added));
    remove_ids(gone, file_id);
    add_ids(added, file_id);
  };

  UpdateStats stats;
  stats.scanned = found.size();
  size_t done = 0;
  // Files are read a batch at a time, in parallel, and stored in walk order.
  constexpr size_t kBatch = 256;
  std::vector<const FoundFile*> batch;
  std::vector<std::int64_t> batch_prior;
  std::vector<ReadResult> results;
  auto flush = [&] {
    ReadAll(batch, results);
    for (size_t i = 0; i < batch.size(); ++i) {
      const FoundFile& f = *batch[i];
      const std::string full = f.dir + "/" + f.path;
      store(f, f.path, full.substr(0, full.rfind('/')), results[i], batch_prior[i]);
      if (!results[i].error.empty()) {
        ++stats.malformed;
        if (on_malformed) on_malformed(full, results[i].error_line, results[i].error);
      }
      for (size_t m = 0; m < results[i].members.size(); ++m) {
        ReadResult& member = results[i].members[m];
        store(f, results[i].member_paths[m], "", member, 0);
        if (!member.error.empty()) {
          ++stats.malformed;
          if (on_malformed)
            on_malformed(f.dir + "/" + results[i].member_paths[m], member.error_line, member.error);
        }
      }
      if (on_progress) on_progress(++done, found.size());
    }
    batch.clear();
    batch_prior.clear();
  };
  // An unchanged archive's members are unchanged; a changed one's are forgotten
  // with it. Their errors are reported again either way, as a file's are.
  auto visit_members = [&](const FoundFile& f, bool unchanged) {
    auto members = archive_members.find(FileKey(f.dir, f.path));
    if (members == archive_members.end()) return;
    for (const std::string& key : members->second) {
      auto m = known.find(key);
      if (m == known.end() || m->second.seen) continue;
      m->second.seen = true;
      if (!unchanged) {
        forget(m->second);
      } else if (!m->second.error.empty()) {
        ++stats.malformed;
        if (on_malformed)
          on_malformed(f.dir + "/" + key.substr(key.find('\0') + 1), m->second.error_line,
                       m->second.error);
      }
    }
  };
  for (const FoundFile& f : found) {
    std::int64_t prior_id = 0;
    auto it = known.find(FileKey(f.dir, f.path));
    if (it != known.end()) {
      it->second.seen = true;
      if (f.archive) {
        const bool unchanged = it->second.size == f.size && it->second.mtime == f.mtime;
        if (unchanged && !it->second.error.empty()) {
          ++stats.malformed;
          if (on_malformed) on_malformed(f.dir + "/" + f.path, 0, it->second.error);
        }
        visit_members(f, unchanged);
        if (unchanged) {
          if (on_progress) on_progress(++done, found.size());
          continue;
        }
        forget(it->second);
        ++stats.reread;
        batch.push_back(&f);
        batch_prior.push_back(0);  // its row and its members' were forgotten
        if (batch.size() == kBatch) flush();
        continue;
      }
      const std::string full = f.dir + "/" + f.path;
      const std::string package = full.substr(0, full.rfind('/'));
      if (it->second.size == f.size && it->second.mtime == f.mtime &&
          CatalogState(CatalogNames(it->second.catalogs), folder_names, package) ==
              it->second.catalogs) {
        if (!it->second.error.empty()) {
          ++stats.malformed;
          if (on_malformed) on_malformed(full, it->second.error_line, it->second.error);
        }
        if (on_progress) on_progress(++done, found.size());
        continue;
      }
      prior_id = it->second.id;
    }
    ++stats.reread;
    batch.push_back(&f);
    batch_prior.push_back(prior_id);
    if (batch.size() == kBatch) flush();
  }
  flush();
  for (const auto& [key, k] : known) {
    if (k.seen) continue;
    forget(k);
    ++stats.removed;
  }
  KeySet keys;
  if (fresh) {
    std::sort(pending_ids.begin(), pending_ids.end());
    for (const auto& [key, file_id] : pending_ids) {
      if (keys.empty() || keys.back() != key) keys.push_back(key);
      Bind(add_id.get(), 1, key);
      Bind(add_id.get(), 2, file_id);
      StepDone(h, add_id.get());
    }
    WriteKeySet(h, keys);
  } else if (!added_keys.empty() || !removed_keys.empty()) {
    keys = ReadKeySet(h);
    UpdateKeySet(h, keys, std::move(added_keys), std::move(removed_keys));
    WriteKeySet(h, keys);
  }
  Exec(h, "COMMIT");
  rollback.armed = false;
  if (fresh) Install(target, db_path);
  return stats;
}

std::string DefaultIndexPath(const std::vector<std::string>& catalog_dirs) {
  std::vector<std::string> dirs;
  for (const std::string& d : catalog_dirs) {
    std::error_code ec;
    std::string dir =
        fs::weakly_canonical(fs::absolute(d, ec), ec).lexically_normal().generic_string();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    dirs.push_back(dir);
  }
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  // FNV-1a over the folder list: a short, stable file name.
  std::uint64_t h = 1469598103934665603ull;
  for (const std::string& d : dirs) {
    for (unsigned char c : d + '\n') {
      h ^= c;
      h *= 1099511628211ull;
    }
  }
  char name[40];
  std::snprintf(name, sizeof name, "catalog-%016llx.sqlite", static_cast<unsigned long long>(h));
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  fs::path base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home != nullptr && home[0] != '\0' ? home : ".") / ".cache";
  }
  return (base / "kestrova" / name).string();
}

}  // namespace catalog
