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
#include "catalog/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

// Bumped whenever the tables change; an older index is rebuilt.
constexpr int kSchema = 4;
constexpr char kListSep = '\x1f';

struct DbCloser {
  // Closes once the last statement is finalized, whatever order they go in.
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtCloser {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtCloser>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw CatalogError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

void Exec(sqlite3* db, const char* sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
    std::string text = msg ? msg : "unknown error";
    sqlite3_free(msg);
    throw CatalogError(std::string("catalog index: ") + text);
  }
}

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) Fail(db, "catalog index");
  return Stmt(s);
}

void Bind(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
void Bind(sqlite3_stmt* s, int i, std::int64_t v) {
  sqlite3_bind_int64(s, i, v);
}

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i))
           : std::string();
}

void StepDone(sqlite3* db, sqlite3_stmt* s) {
  if (sqlite3_step(s) != SQLITE_DONE) Fail(db, "catalog index");
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
}

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
// line's own id list (kept once, in `lines`) verifies every hit, so a
// collision costs a wasted read, never a wrong answer. The lines of a file
// are numbered in one run (files.first_line, files.line_count), so a file's
// lines and ids are found without further indexes.
void CreateTables(sqlite3* db) {
  Exec(db,
       "DROP TABLE IF EXISTS ids; DROP TABLE IF EXISTS lines; DROP TABLE IF EXISTS files;"
       "CREATE TABLE files(id INTEGER PRIMARY KEY, dir TEXT NOT NULL, path TEXT NOT NULL,"
       "  size INTEGER NOT NULL, mtime INTEGER NOT NULL, error_line INTEGER, error TEXT,"
       "  catalogs TEXT, first_line INTEGER NOT NULL, line_count INTEGER NOT NULL);"
       "CREATE TABLE lines(id INTEGER PRIMARY KEY, file_id INTEGER NOT NULL, description TEXT,"
       "  provider TEXT, class_name TEXT, class_guid TEXT, catalog_file TEXT, install_section TEXT,"
       "  manufacturer TEXT, decoration TEXT, decorations TEXT, driver_date TEXT,"
       "  driver_version TEXT, ids TEXT, install_nt INTEGER, feature_score INTEGER,"
       "  exclude_ids TEXT, catalog_present INTEGER);"
       "CREATE TABLE ids(key INTEGER NOT NULL, line_id INTEGER NOT NULL,"
       "  PRIMARY KEY(key, line_id)) WITHOUT ROWID;"
       "PRAGMA user_version = 4;");
  static_assert(kSchema == 4, "CreateTables writes the schema number");
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

struct FoundFile {
  std::string dir, path;  // catalog folder (absolute), path relative to it with '/'
  std::int64_t size = 0, mtime = 0;
  bool archive = false;  // a .zip or .cab whose INF members are read in place
};

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsInfName(std::string_view name) {
  return name.size() > 4 && EqualsNoCase(name.substr(name.size() - 4), ".inf");
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

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// One folder of the walk, opened relative to its parent and read by the
// type readdir gives: a catalog of a hundred thousand packages is as many
// folders, so a path lookup or stat per entry would be most of the cost.
void WalkFolder(int parent_fd, const char* name, const std::string& path, const std::string& root,
                std::vector<FoundFile>& found, FolderNames& names) {
  const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // Folder links are not followed; unreadable folders are passed over.
    if (errno == ELOOP || errno == ENOTDIR || errno == EACCES || errno == ENOENT) return;
    throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
  }
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
  }
  std::vector<std::string>* here = nullptr;
  std::vector<std::string> subfolders;
  while (const dirent* e = ::readdir(dir.get())) {
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
          here->push_back(AsciiUpper(entry));
        }
        continue;
      }
      if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;  // a link is followed here
      have_stat = true;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (!here) here = &names[path];
    here->push_back(AsciiUpper(entry));
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
  for (const std::string& sub : subfolders)
    WalkFolder(fd, sub.c_str(), path + "/" + sub, root, found, names);
}

std::vector<FoundFile> FindInfFiles(const std::vector<std::string>& dirs, FolderNames& names) {
  std::vector<FoundFile> found;
  for (const std::string& dir : dirs) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
      throw CatalogError("cannot read catalog folder " + dir + ": " + std::strerror(errno));
    try {
      WalkFolder(fd, ".", dir, dir, found, names);
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
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(db.get(), "cannot open catalog index " + path);
  sqlite3_busy_timeout(db.get(), 10000);
  return db;
}

// Whether the package folder holds `name`, as Windows compares names:
// without regard to case.
bool InFolder(const FolderNames& names, const std::string& folder, const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return false;
  auto it = names.find(folder);
  return it != names.end() &&
         std::binary_search(it->second.begin(), it->second.end(), AsciiUpper(name));
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
  Stmt lookup;
  std::mutex lock;  // one statement, shared by the callers
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
  impl->lookup = Prepare(
      impl->db.get(),
      "SELECT f.dir, f.path, l.description, l.provider, l.class_name, l.class_guid,"
      " l.catalog_file, l.install_section, l.manufacturer, l.decoration, l.decorations,"
      " l.driver_date, l.driver_version, l.ids, l.install_nt, l.feature_score, l.exclude_ids,"
      " l.catalog_present"
      " FROM ids i JOIN lines l ON l.id = i.line_id JOIN files f ON f.id = l.file_id"
      " WHERE i.key = ?1 ORDER BY i.line_id");
  return Index(std::move(impl));
}

namespace {

// One lookup on the shared statement; the caller holds the index's lock.
std::vector<ModelLine> ReadLines(sqlite3* db, sqlite3_stmt* s, std::string_view id) {
  std::vector<ModelLine> out;
  Bind(s, 1, IdKey(id));
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    // The hash found it; the line's own ids confirm it.
    std::vector<std::string> ids = SplitList(Column(s, 13), false);
    if (std::none_of(ids.begin(), ids.end(),
                     [&](const std::string& own) { return EqualsNoCase(own, id); }))
      continue;
    ModelLine m;
    m.catalog_dir = Column(s, 0);
    m.inf = Column(s, 1);
    m.description = Column(s, 2);
    m.provider = Column(s, 3);
    m.class_name = Column(s, 4);
    m.class_guid = Column(s, 5);
    m.catalog_file = Column(s, 6);
    m.install_section = Column(s, 7);
    m.manufacturer = Column(s, 8);
    m.decoration = Column(s, 9);
    m.manufacturer_decorations = SplitList(Column(s, 10), true);
    m.driver_date = Column(s, 11);
    m.driver_version = Column(s, 12);
    m.ids = std::move(ids);
    m.install_section_nt = sqlite3_column_int(s, 14) != 0;
    m.feature_score = sqlite3_column_int(s, 15);
    m.exclude_ids = SplitList(Column(s, 16), false);
    m.catalog_present = sqlite3_column_int(s, 17) != 0;
    out.push_back(std::move(m));
  }
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (rc != SQLITE_DONE) Fail(db, "catalog lookup");
  return out;
}

}  // namespace

std::vector<ModelLine> Index::LinesForId(std::string_view id) const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return ReadLines(impl_->db.get(), impl_->lookup.get(), id);
}

std::vector<std::vector<ModelLine>> Index::LinesForIds(const std::vector<std::string>& ids) const {
  std::vector<std::vector<ModelLine>> out;
  out.reserve(ids.size());
  std::lock_guard<std::mutex> guard(impl_->lock);
  sqlite3* db = impl_->db.get();
  Exec(db, "BEGIN");
  try {
    for (const std::string& id : ids) out.push_back(ReadLines(db, impl_->lookup.get(), id));
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  Exec(db, "COMMIT");
  return out;
}

size_t Index::LineCount() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  Stmt s = Prepare(impl_->db.get(), "SELECT count(*) FROM lines");
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
      t.db = OpenDb(db_path, SQLITE_OPEN_READWRITE);
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
  t.db = OpenDb(t.temp, SQLITE_OPEN_READWRITE);
  // Nothing to protect until the rename: no journal, no syncs but the last.
  Exec(t.db.get(),
       "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -65536;"
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
    std::int64_t id, size, mtime, first_line, line_count;
    int error_line;
    std::string error, catalogs;
    bool seen = false;
  };
  std::unordered_map<std::string, Known> known;  // by FileKey
  // An archive's key -> the keys of its members' rows, which come and go with it.
  std::unordered_map<std::string, std::vector<std::string>> archive_members;
  std::int64_t next_line = 1;
  if (!fresh) {
    Stmt s = Prepare(h,
                     "SELECT id, dir, path, size, mtime, error_line, error, catalogs, first_line,"
                     " line_count FROM files");
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      sqlite3_stmt* r = s.get();
      known[FileKey(Column(r, 1), Column(r, 2))] = Known{sqlite3_column_int64(r, 0),
                                                         sqlite3_column_int64(r, 3),
                                                         sqlite3_column_int64(r, 4),
                                                         sqlite3_column_int64(r, 8),
                                                         sqlite3_column_int64(r, 9),
                                                         sqlite3_column_int(r, 5),
                                                         Column(r, 6),
                                                         Column(r, 7)};
      const std::string path = Column(r, 2);
      const std::vector<size_t> in_archive = ArchiveSeparators(path);
      if (!in_archive.empty())
        archive_members[FileKey(Column(r, 1), path.substr(0, in_archive.front()))].push_back(
            FileKey(Column(r, 1), path));
    }
    Stmt last = Prepare(h, "SELECT coalesce(max(id), 0) + 1 FROM lines");
    if (sqlite3_step(last.get()) != SQLITE_ROW) Fail(h, "catalog index");
    next_line = sqlite3_column_int64(last.get(), 0);
  }
  Stmt line_ids = Prepare(h, "SELECT id, ids FROM lines WHERE id BETWEEN ?1 AND ?2");
  Stmt del_id = Prepare(h, "DELETE FROM ids WHERE key = ?1 AND line_id = ?2");
  Stmt del_lines = Prepare(h, "DELETE FROM lines WHERE id BETWEEN ?1 AND ?2");
  Stmt del_file = Prepare(h, "DELETE FROM files WHERE id = ?1");
  Stmt add_file =
      Prepare(h,
              "INSERT INTO files(dir, path, size, mtime, error_line, error, catalogs, first_line,"
              " line_count) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
  Stmt add_line =
      Prepare(h,
              "INSERT INTO lines(id, file_id, description, provider, class_name, class_guid,"
              " catalog_file, install_section, manufacturer, decoration, decorations, driver_date,"
              " driver_version, ids, install_nt, feature_score, exclude_ids, catalog_present)"
              " VALUES(?18,?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17)");
  Stmt add_id = Prepare(h, "INSERT OR IGNORE INTO ids(key, line_id) VALUES(?1, ?2)");

  auto forget = [&](const Known& k) {
    if (k.line_count > 0) {
      const std::int64_t last = k.first_line + k.line_count - 1;
      std::vector<std::pair<std::int64_t, std::int64_t>> keys;
      Bind(line_ids.get(), 1, k.first_line);
      Bind(line_ids.get(), 2, last);
      while (sqlite3_step(line_ids.get()) == SQLITE_ROW) {
        const std::int64_t line = sqlite3_column_int64(line_ids.get(), 0);
        for (const std::string& id : SplitList(Column(line_ids.get(), 1), false))
          if (!id.empty()) keys.emplace_back(IdKey(id), line);
      }
      sqlite3_reset(line_ids.get());
      for (const auto& [key, line] : keys) {
        Bind(del_id.get(), 1, key);
        Bind(del_id.get(), 2, line);
        StepDone(h, del_id.get());
      }
      Bind(del_lines.get(), 1, k.first_line);
      Bind(del_lines.get(), 2, last);
      StepDone(h, del_lines.get());
    }
    Bind(del_file.get(), 1, k.id);
    StepDone(h, del_file.get());
  };

  // A new index gets its ids at the end, sorted: appending to the id table
  // is far cheaper than inserting all over it.
  std::vector<std::pair<std::int64_t, std::int64_t>> pending_ids;

  // `path` is f's own, or a member's of the archive f.
  auto store = [&](const FoundFile& f, const std::string& path, const std::string& package,
                   ReadResult& r) {
    Bind(add_file.get(), 1, f.dir);
    Bind(add_file.get(), 2, path);
    Bind(add_file.get(), 3, f.size);
    Bind(add_file.get(), 4, f.mtime);
    Bind(add_file.get(), 5, std::int64_t{r.error_line});
    if (!r.error.empty()) Bind(add_file.get(), 6, r.error);
    std::vector<std::string> catalogs;
    // An archive member's catalog was looked for in its archive, which
    // changes only with the archive itself.
    for (ModelLine& m : r.lines) {
      if (f.archive) continue;
      m.catalog_present =
          !m.catalog_file.empty() && InFolder(folder_names, package, m.catalog_file);
      catalogs.push_back(m.catalog_file);
    }
    Bind(add_file.get(), 7, CatalogState(catalogs, folder_names, package));
    Bind(add_file.get(), 8, next_line);
    Bind(add_file.get(), 9, static_cast<std::int64_t>(r.lines.size()));
    StepDone(h, add_file.get());
    const std::int64_t file_id = sqlite3_last_insert_rowid(h);
    for (const ModelLine& m : r.lines) {
      sqlite3_stmt* s = add_line.get();
      const std::int64_t line_id = next_line++;
      Bind(s, 1, file_id);
      const std::string* text[] = {&m.description,  &m.provider,     &m.class_name,
                                   &m.class_guid,   &m.catalog_file, &m.install_section,
                                   &m.manufacturer, &m.decoration};
      int col = 2;
      for (const std::string* t : text) Bind(s, col++, *t);
      Bind(s, 10, Join(m.manufacturer_decorations));
      Bind(s, 11, m.driver_date);
      Bind(s, 12, m.driver_version);
      Bind(s, 13, Join(m.ids));
      Bind(s, 14, std::int64_t{m.install_section_nt ? 1 : 0});
      Bind(s, 15, std::int64_t{m.feature_score});
      Bind(s, 16, Join(m.exclude_ids));
      Bind(s, 17, std::int64_t{m.catalog_present ? 1 : 0});
      Bind(s, 18, line_id);
      StepDone(h, s);
      for (const std::string& id : m.ids) {
        if (id.empty()) continue;  // a line without a hardware id is found by its other ids
        if (fresh) {
          pending_ids.emplace_back(IdKey(id), line_id);
          continue;
        }
        Bind(add_id.get(), 1, IdKey(id));
        Bind(add_id.get(), 2, line_id);
        StepDone(h, add_id.get());
      }
    }
  };

  UpdateStats stats;
  stats.scanned = found.size();
  size_t done = 0;
  // Files are read a batch at a time, in parallel, and stored in walk order.
  constexpr size_t kBatch = 256;
  std::vector<const FoundFile*> batch;
  std::vector<ReadResult> results;
  auto flush = [&] {
    ReadAll(batch, results);
    for (size_t i = 0; i < batch.size(); ++i) {
      const FoundFile& f = *batch[i];
      const std::string full = f.dir + "/" + f.path;
      store(f, f.path, full.substr(0, full.rfind('/')), results[i]);
      if (!results[i].error.empty()) {
        ++stats.malformed;
        if (on_malformed) on_malformed(full, results[i].error_line, results[i].error);
      }
      for (size_t m = 0; m < results[i].members.size(); ++m) {
        ReadResult& member = results[i].members[m];
        store(f, results[i].member_paths[m], "", member);
        if (!member.error.empty()) {
          ++stats.malformed;
          if (on_malformed)
            on_malformed(f.dir + "/" + results[i].member_paths[m], member.error_line, member.error);
        }
      }
      if (on_progress) on_progress(++done, found.size());
    }
    batch.clear();
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
      forget(it->second);
    }
    ++stats.reread;
    batch.push_back(&f);
    if (batch.size() == kBatch) flush();
  }
  flush();
  for (const auto& [key, k] : known) {
    if (k.seen) continue;
    forget(k);
    ++stats.removed;
  }
  if (fresh) {
    std::sort(pending_ids.begin(), pending_ids.end());
    pending_ids.erase(std::unique(pending_ids.begin(), pending_ids.end()), pending_ids.end());
    for (const auto& [key, line] : pending_ids) {
      Bind(add_id.get(), 1, key);
      Bind(add_id.get(), 2, line);
      StepDone(h, add_id.get());
    }
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
