#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <span>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "catalog/archive.h"
#include "catalog/catalog.h"
#include "catalog/folder_walk.h"
#include "catalog/inf_reader.h"
#include "catalog/record.h"
#include "platform/codepage.h"
#include "platform/linux/fd.h"
#include "platform/linux/small_file.h"
#include "platform/sqlite.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

// Bumped whenever the tables change; an older index is rebuilt.
constexpr int kSchema = 6;
constexpr char kListSep = '\x1f';

constexpr char kIndexName[] = "catalog index";
using Sql = platform::sqlite::Checked<CatalogError, kIndexName>;
using platform::sqlite::Bind;
using platform::sqlite::BlobColumn;
using platform::sqlite::Column;
using platform::sqlite::Db;
using platform::sqlite::Stmt;
using platform::sqlite::TextColumnView;
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
// reading every file's size and time (each update does) skips them. What
// each catalog folder's walk recorded of its folders (FolderStates) is one
// blob: a hundred thousand folders load as one read, not as many rows.
void CreateTables(sqlite3* db) {
  Exec(db,
       "DROP TABLE IF EXISTS ids; DROP TABLE IF EXISTS lines; DROP TABLE IF EXISTS files;"
       "DROP TABLE IF EXISTS id_keys; DROP TABLE IF EXISTS folders;"
       "CREATE TABLE files(id INTEGER PRIMARY KEY, dir TEXT NOT NULL, path TEXT NOT NULL,"
       "  size INTEGER NOT NULL, mtime INTEGER NOT NULL, error_line INTEGER, error TEXT,"
       "  catalogs TEXT, line_count INTEGER NOT NULL);"
       "CREATE TABLE lines(file_id INTEGER PRIMARY KEY, record BLOB NOT NULL);"
       "CREATE TABLE ids(key INTEGER NOT NULL, file_id INTEGER NOT NULL,"
       "  PRIMARY KEY(key, file_id)) WITHOUT ROWID;"
       "CREATE TABLE id_keys(id INTEGER PRIMARY KEY, keys BLOB NOT NULL);"
       "CREATE TABLE folders(dir TEXT PRIMARY KEY, states BLOB NOT NULL);"
       "PRAGMA user_version = 6;");
  static_assert(kSchema == 6, "CreateTables writes the schema number");
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
using record::PutNumber;
using record::PutText;
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
class RecordReader : public record::Reader {
 public:
  using Reader::Reader;
  std::vector<std::string> List() {
    std::vector<std::string> items(Count());
    for (std::string& item : items) item = Text();
    return items;
  }
  void List(std::nullptr_t) {  // passed over
    for (size_t n = Count(); n > 0; --n) Text();
  }
};

// A manufacturer's decorations, decoded once for the run of lines that
// share them (every line of one manufacturer entry does).
struct DecorationsSeen {
  std::string encoded;  // a copy: the record it came from is gone by the next row
  std::vector<std::string> decoded;
  bool any = false;
};

// The lines a lookup has decoded: kept in one block that every line handed
// out shares, so a line costs no allocation of its own.
using LineBlock = std::deque<ModelLine>;

// The lines of a record that hold one of the ids `wanted` points at (any
// case) and that `keep` wants, each decoded once and listed with every id
// (its index) it holds.
void DecodeLinesHolding(std::string_view record, const std::vector<std::string>& ids,
                        const std::vector<size_t>& wanted, const std::string& dir,
                        const std::string& path, const LineSource::LineFilter& keep,
                        DecorationsSeen& seen, const std::shared_ptr<LineBlock>& block,
                        std::vector<std::pair<size_t, SharedLine>>& out) {
  RecordReader file(record);
  std::vector<size_t> holders;
  while (!file.AtEnd()) {
    const std::string_view line_record = file.Text();
    RecordReader line(line_record);
    holders.clear();
    for (size_t n = line.Count(); n > 0; --n) {
      const std::string_view line_id = line.Text();
      for (const size_t i : wanted)
        if (platform::EqualsIgnoringAsciiCase(line_id, ids[i]) &&
            std::find(holders.begin(), holders.end(), i) == holders.end())
          holders.push_back(i);
    }
    if (holders.empty()) continue;
    if (keep) {
      // Its decoration and its manufacturer's, read before the rest: a
      // line for another platform's models section costs no strings.
      for (int text = 0; text < 7; ++text) line.Text();
      const std::string_view decoration = line.Text();
      line.Text();
      line.Text();
      const size_t list_start = line.Position();
      line.List(nullptr);
      const std::string_view encoded = line_record.substr(list_start, line.Position() - list_start);
      if (!seen.any || encoded != seen.encoded) {
        RecordReader list(encoded);
        seen.decoded = list.List();
        seen.encoded = encoded;
        seen.any = true;
      }
      if (!keep(seen.decoded, decoration)) continue;
    }
    line = RecordReader(line_record);
    ModelLine& m = block->emplace_back();
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
    for (const size_t i : holders) out.emplace_back(i, SharedLine(block, &m));
  }
}

// The keys of every id in a record, sorted, each once.
std::vector<std::int64_t> KeysOfRecord(std::string_view record) {
  std::vector<std::int64_t> keys;
  RecordReader file(record);
  while (!file.AtEnd()) {
    RecordReader line(file.Text());
    for (size_t n = line.Count(); n > 0; --n) {
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

// The catalog files an INF's lines name, each with whether it is there
// ("a.cat=1", as the lines' catalog_present says), joined: a file whose
// catalog came or went is read again though it did not change.
std::string CatalogState(const std::vector<ModelLine>& lines) {
  std::vector<std::string> parts;
  for (const ModelLine& m : lines) {
    if (!m.catalog_file.empty())
      parts.push_back(m.catalog_file + (m.catalog_present ? "=1" : "=0"));
  }
  std::sort(parts.begin(), parts.end());
  parts.erase(std::unique(parts.begin(), parts.end()), parts.end());
  return Join(parts);
}

// Whether each catalog file a recorded state names ("a.cat=1", joined) is
// still there or still missing: then CatalogState would give that state again.
bool CatalogsAsRecorded(std::string_view state, const FolderNames& names,
                        const std::string& folder) {
  if (state.empty()) return true;
  for (size_t start = 0; start <= state.size();) {
    size_t end = state.find(kListSep, start);
    if (end == std::string_view::npos) end = state.size();
    const std::string_view part = state.substr(start, end - start);
    const size_t eq = part.rfind('=');
    if (eq == std::string_view::npos) return false;
    const bool there = InFolder(names, folder, part.substr(0, eq));
    if (part.substr(eq + 1) != (there ? "1" : "0")) return false;
    start = end + 1;
  }
  return true;
}

// The key set with where each run of keys sharing their top bits starts: a
// key is then sought among a handful of neighbours, not by a binary search
// of the whole set, a cache miss a step (a report asks for a thousand ids).
class KeyFinder {
 public:
  KeyFinder() = default;
  explicit KeyFinder(KeySet keys) : keys_(std::move(keys)) {
    while (bits_ < 20 && (size_t{1} << bits_) * 4 < keys_.size()) ++bits_;
    starts_.assign((size_t{1} << bits_) + 1, 0);
    for (const std::int64_t key : keys_) ++starts_[Run(key) + 1];
    for (size_t r = 1; r < starts_.size(); ++r) starts_[r] += starts_[r - 1];
  }
  bool Holds(std::int64_t key) const {
    const size_t run = Run(key);
    const auto first = keys_.begin() + static_cast<std::ptrdiff_t>(starts_[run]);
    const auto last = keys_.begin() + static_cast<std::ptrdiff_t>(starts_[run + 1]);
    return std::binary_search(first, last, key);
  }

 private:
  // In the keys' order: the sign bit flipped, so negative keys come first.
  size_t Run(std::int64_t key) const {
    return static_cast<size_t>((static_cast<std::uint64_t>(key) ^ (std::uint64_t{1} << 63)) >>
                               (64 - bits_));
  }
  KeySet keys_;  // sorted
  int bits_ = 1;
  std::vector<std::uint32_t> starts_ = {0, 0, 0};
};

// A lookup asks for this many keys, or files, in one statement: a report's
// hundreds of seeks then run in a few statements, in key order, rather than
// a statement each.
constexpr int kBatch = 128;

// `head` followed by "(?1,...,?kBatch)".
std::string BatchSql(std::string head) {
  head += '(';
  for (int i = 1; i <= kBatch; ++i) head += (i > 1 ? ",?" : "?") + std::to_string(i);
  return head + ')';
}

}  // namespace

struct Index::Impl {
  Db db;
  Stmt files_of_keys, file_records, begin, begin_read, data_version, commit;
  std::mutex lock;  // one statement, shared by the callers
  // The id keys as of data version `keys_version`: reloaded when an update
  // in place has changed the index since.
  KeyFinder keys;
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
  impl->files_of_keys =
      Prepare(impl->db.get(), BatchSql("SELECT key, file_id FROM ids WHERE key IN ").c_str());
  impl->file_records = Prepare(impl->db.get(), BatchSql("SELECT f.id, f.dir, f.path, l.record"
                                                        " FROM files f JOIN lines l"
                                                        " ON l.file_id = f.id WHERE f.id IN ")
                                                   .c_str());
  impl->begin = Prepare(impl->db.get(), "BEGIN");
  impl->begin_read = Prepare(impl->db.get(), "SELECT 1 FROM id_keys WHERE id = 1");
  impl->commit = Prepare(impl->db.get(), "COMMIT");
  impl->data_version = Prepare(impl->db.get(), "PRAGMA data_version");
  return Index(std::move(impl));
}

namespace {

// Steps `s` (bound by the caller) through its rows, calling `row` for each;
// the statement is reset whatever happens.
template <typename Row>
void EachRow(sqlite3* db, sqlite3_stmt* s, Row&& row) {
  int rc;
  try {
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) row(s);
  } catch (...) {
    sqlite3_reset(s);
    throw;
  }
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  if (rc != SQLITE_DONE) Fail(db, "catalog lookup");
}

// Binds `values` to the batch statement `s`; the places left over are
// NULL, which matches nothing.
void BindBatch(sqlite3_stmt* s, const std::int64_t* values, size_t count) {
  int i = 1;
  for (size_t at = 0; at < count; ++at) sqlite3_bind_int64(s, i++, values[at]);
  for (; i <= kBatch; ++i) sqlite3_bind_null(s, i);
}

// The lines of every id, read on the index's statements; the caller holds
// its lock. A report's ids lead to the same files several times over (a
// device's hardware and compatible ids are on one INF line), so the files
// are gathered first and each record is fetched once.
void ReadLines(sqlite3* db, sqlite3_stmt* files_of_keys, sqlite3_stmt* file_records,
               const KeyFinder& keys, const std::vector<std::string>& ids,
               const LineSource::LineFilter& keep, std::vector<std::vector<SharedLine>>& out) {
  // Only ids the index holds are asked for; most of a report's are in no INF.
  std::vector<std::pair<std::int64_t, size_t>> asked;  // (key, index into ids)
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::int64_t key = IdKey(ids[i]);
    if (keys.Holds(key)) asked.emplace_back(key, i);
  }
  std::sort(asked.begin(), asked.end());
  std::vector<std::int64_t> batch;
  std::vector<std::pair<std::int64_t, size_t>> hits;  // (file, index into ids)
  for (size_t at = 0; at < asked.size();) {
    // Distinct keys: ids alike but for case share one.
    batch.clear();
    for (; at < asked.size() && (batch.size() < kBatch || asked[at].first == batch.back()); ++at)
      if (batch.empty() || batch.back() != asked[at].first) batch.push_back(asked[at].first);
    BindBatch(files_of_keys, batch.data(), batch.size());
    EachRow(db, files_of_keys, [&](sqlite3_stmt* row) {
      const std::int64_t key = sqlite3_column_int64(row, 0), file = sqlite3_column_int64(row, 1);
      auto same = std::lower_bound(asked.begin(), asked.end(), std::make_pair(key, size_t{0}));
      for (; same != asked.end() && same->first == key; ++same)
        hits.emplace_back(file, same->second);
    });
  }
  std::sort(hits.begin(), hits.end());
  std::vector<std::int64_t> files;
  for (const auto& hit : hits)
    if (files.empty() || files.back() != hit.first) files.push_back(hit.first);
  // Each file's record once. Rows come in whatever order the statement
  // takes; each file's lines wait in its place, so every id lists its lines
  // in file order whatever that was.
  std::vector<std::vector<std::pair<size_t, SharedLine>>> of_file(files.size());
  const auto block = std::make_shared<LineBlock>();
  std::string dir, path;
  DecorationsSeen seen;
  std::vector<size_t> wanted;
  for (size_t at = 0; at < files.size(); at += kBatch) {
    BindBatch(file_records, files.data() + at, std::min<size_t>(kBatch, files.size() - at));
    EachRow(db, file_records, [&](sqlite3_stmt* row) {
      const std::int64_t file = sqlite3_column_int64(row, 0);
      const auto place = std::lower_bound(files.begin(), files.end(), file);
      if (place == files.end() || *place != file) return;
      wanted.clear();
      for (auto hit = std::lower_bound(hits.begin(), hits.end(), std::make_pair(file, size_t{0}));
           hit != hits.end() && hit->first == file; ++hit)
        wanted.push_back(hit->second);
      const std::string_view row_dir = BlobColumn(row, 1);
      if (row_dir != dir) dir = row_dir;
      path = Column(row, 2);
      DecodeLinesHolding(BlobColumn(row, 3), ids, wanted, dir, path, keep, seen, block,
                         of_file[static_cast<size_t>(place - files.begin())]);
    });
  }
  for (const auto& lines : of_file)
    for (const auto& [i, line] : lines) out[i].push_back(line);
}

}  // namespace

std::vector<ModelLine> Index::LinesForId(std::string_view id) const {
  return std::move(LinesForIds({std::string(id)}).front());
}

std::vector<std::vector<SharedLine>> Index::SharedLinesForIds(const std::vector<std::string>& ids,
                                                              const LineFilter& keep) const {
  std::vector<std::vector<SharedLine>> out;
  std::lock_guard<std::mutex> guard(impl_->lock);
  sqlite3* db = impl_->db.get();
  StepDone(db, impl_->begin.get());
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
      impl_->keys = KeyFinder(ReadKeySet(db));
      impl_->keys_version = now;
    }
    out.resize(ids.size());
    ReadLines(db, impl_->files_of_keys.get(), impl_->file_records.get(), impl_->keys, ids, keep,
              out);
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  StepDone(db, impl_->commit.get());
  return out;
}

size_t Index::LineCount() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  Stmt s = Prepare(impl_->db.get(), "SELECT coalesce(sum(line_count), 0) FROM files");
  if (sqlite3_step(s.get()) != SQLITE_ROW) Fail(impl_->db.get(), "catalog index");
  return static_cast<size_t>(sqlite3_column_int64(s.get(), 0));
}

namespace {

struct ReadResult {
  std::vector<ModelLine> lines;
  int error_line = 0;
  std::string error;
  // An archive's INF members, each with its path ("a.zip!/x.inf"), and its
  // nested archives left out ("a.zip!/b.cab") with the reason as `error`.
  std::vector<std::string> member_paths;
  std::vector<ReadResult> members;
  // What the writer stores, made by the reader (EncodeForStore) so the
  // writer's one thread does only the writing.
  std::string record;
  KeySet keys;
  std::string catalogs;
  size_t line_count = 0;
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

// A file's bytes in one buffer, read straight in: a stream would copy them
// twice, and an index reads every file of the catalog. O_NONBLOCK: a FIFO
// put where a file was walked does not hold the update up.
bool ReadWhole(const std::string& path, std::string& out) {
  const platform::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return platform::ReadToEnd(fd.get(), out, static_cast<size_t>(st.st_size));
}

ReadResult ReadFile(const std::string& full, const std::string& relative) {
  ReadResult r;
  std::string bytes;
  if (!ReadWhole(full, bytes)) {
    r.error = "cannot be read";
    return r;
  }
  try {
    r.lines = ReadInf(bytes, relative);
  } catch (const InfError& e) {
    r.error_line = e.line;
    r.error = e.reason;
  }
  return r;
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
      // Mapped, the rows every update reads (all files', the changed ones'
      // records) cost no read call and no copy each.
      Exec(t.db.get(), "PRAGMA mmap_size = 1073741824");
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

namespace {

// ---- Step 1: what the catalog folders hold.

struct FoundFile {
  const FolderWalk* walk;
  const WalkedInf* file;
  const std::string& Dir() const { return walk->root; }
  const std::string& Path() const { return file->relative; }
  std::string Full() const { return walk->root + "/" + file->relative; }
  // The package folder, relative to the catalog folder as the walk's names are.
  std::string Package() const {
    std::string out;
    return Package(out);
  }
  const std::string& Package(std::string& out) const {
    const size_t slash = file->relative.rfind('/');
    out.assign(file->relative, 0, slash == std::string::npos ? 0 : slash);
    return out;
  }
  bool SameAs(std::int64_t size, std::int64_t mtime) const {
    return file->size == size && file->mtime == mtime;
  }
};

struct CatalogFiles {
  std::vector<FolderWalk> walks;
  std::vector<FoundFile> files;  // by folder, then path: the same catalog gives the same index
  bool states_changed = false;   // whether the folder records differ from the index's
  size_t folders_read = 0, folders_reused = 0;
};

// What the index recorded of each catalog folder's folders, as of the last
// update (any run's records are sound: each holds while its folder's times
// stand as recorded).
std::unordered_map<std::string, FolderStates> LoadFolderStates(sqlite3* db, size_t& rows) {
  std::unordered_map<std::string, FolderStates> out;
  Stmt s = Prepare(db, "SELECT dir, states FROM folders");
  rows = 0;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    ++rows;
    try {
      out.emplace(std::string(TextColumnView(s.get(), 0)),
                  FolderStates(std::string(BlobColumn(s.get(), 1))));
    } catch (const CatalogError&) {
      // Damaged: its folders are read again, and their records replaced.
    }
  }
  return out;
}

void StoreFolderStates(sqlite3* db, const CatalogFiles& found) {
  if (!found.states_changed) return;
  Exec(db, "DELETE FROM folders");
  Stmt s = Prepare(db, "INSERT OR REPLACE INTO folders(dir, states) VALUES(?1, ?2)");
  for (const FolderWalk& walk : found.walks) {
    if (walk.states.empty()) continue;
    Bind(s.get(), 1, walk.root);
    sqlite3_bind_blob(s.get(), 2, walk.states.data(), static_cast<int>(walk.states.size()),
                      SQLITE_STATIC);
    StepDone(db, s.get());
  }
}

// `db` is the index to update, null for a new one.
CatalogFiles FindFiles(const std::vector<std::string>& dirs, sqlite3* db) {
  CatalogFiles found;
  size_t rows = 0;
  const auto known =
      db != nullptr ? LoadFolderStates(db, rows) : std::unordered_map<std::string, FolderStates>();
  found.walks.reserve(dirs.size());  // the files point into them
  size_t stored = 0;
  for (const std::string& dir : dirs) {
    const auto it = known.find(dir);
    const FolderStates* before = it == known.end() ? nullptr : &it->second;
    found.walks.push_back(WalkCatalogFolder(dir, before));
    const FolderWalk& walk = found.walks.back();
    stored += walk.states.empty() ? 0 : 1;
    found.states_changed =
        found.states_changed ||
        (before == nullptr ? !walk.states.empty() : walk.states != before->Encoded());
    found.folders_read += walk.folders_read;
    found.folders_reused += walk.folders_reused;
  }
  found.states_changed = found.states_changed || stored != rows;
  for (const FolderWalk& walk : found.walks)
    for (const WalkedInf& file : walk.infs) found.files.push_back({&walk, &file});
  auto before = [](const FoundFile& a, const FoundFile& b) {
    return std::tie(a.Dir(), a.Path()) < std::tie(b.Dir(), b.Path());
  };
  // One folder's walk comes sorted already.
  if (!std::is_sorted(found.files.begin(), found.files.end(), before))
    std::sort(found.files.begin(), found.files.end(), before);
  return found;
}

// ---- Step 2: what the index knows of them.

struct KnownFile {
  std::int64_t id = 0, size = 0, mtime = 0;
  int error_line = 0;
  std::string_view dir, path, error, catalogs;  // into the KnownFiles' text
  size_t archive_length = 0;                    // of "a.zip" in "a.zip!/x.inf"; 0 for no member
  bool seen = false;
};

bool KnownBefore(const KnownFile& a, const KnownFile& b) {
  return std::tie(a.dir, a.path) < std::tie(b.dir, b.path);
}

// The index's rows in path order, members of archives apart, so that the
// walk's files (in the same order) meet their rows in one pass. The text of
// every row lies in a few large blocks rather than a string each.
class KnownFiles {
 public:
  std::vector<KnownFile>& Files() { return files_; }
  // The rows of an archive's members ("a.zip!/x.inf" for "a.zip").
  std::span<KnownFile> MembersOf(std::string_view dir, std::string_view path) {
    auto at = std::lower_bound(members_.begin(), members_.end(), std::pair(dir, path),
                               [](const KnownFile& m, const auto& key) {
                                 return std::make_tuple(m.dir, ArchiveOf(m)) <
                                        std::make_tuple(key.first, key.second);
                               });
    auto end = at;
    while (end != members_.end() && end->dir == dir && ArchiveOf(*end) == path) ++end;
    return {at, end};
  }
  template <typename Fn>
  void ForEach(Fn&& fn) {
    for (KnownFile& k : files_) fn(k);
    for (KnownFile& k : members_) fn(k);
  }

  void Load(sqlite3* db, size_t expected) {
    Stmt s =
        Prepare(db, "SELECT id, dir, path, size, mtime, error_line, error, catalogs FROM files");
    files_.reserve(expected);
    std::string_view dir;
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
      sqlite3_stmt* r = s.get();
      KnownFile k;
      const std::string_view row_dir = TextColumnView(r, 1);
      if (row_dir != dir) dir = Keep(row_dir);  // a folder's name is kept once per run of rows
      k.dir = dir;
      k.path = Keep(TextColumnView(r, 2));
      k.id = sqlite3_column_int64(r, 0);
      k.size = sqlite3_column_int64(r, 3);
      k.mtime = sqlite3_column_int64(r, 4);
      k.error_line = sqlite3_column_int(r, 5);
      k.error = Keep(TextColumnView(r, 6));
      k.catalogs = Keep(TextColumnView(r, 7));
      if (k.path.find('!') != std::string_view::npos) {
        const std::vector<size_t> in_archive = ArchiveSeparators(k.path);
        if (!in_archive.empty()) {
          k.archive_length = in_archive.front();
          members_.push_back(k);
          continue;
        }
      }
      files_.push_back(k);
    }
    // Rows are mostly in path order already: files keep their row when read again.
    if (!std::is_sorted(files_.begin(), files_.end(), KnownBefore))
      std::sort(files_.begin(), files_.end(), KnownBefore);
    std::sort(members_.begin(), members_.end(), [](const KnownFile& a, const KnownFile& b) {
      return std::make_tuple(a.dir, ArchiveOf(a), a.path) <
             std::make_tuple(b.dir, ArchiveOf(b), b.path);
    });
  }

 private:
  static std::string_view ArchiveOf(const KnownFile& k) {
    return k.path.substr(0, k.archive_length);
  }

  std::string_view Keep(std::string_view text) {
    if (text.empty()) return {};
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < text.size()) {
      blocks_.emplace_back();
      blocks_.back().reserve(std::max<size_t>(text.size(), 1 << 20));
    }
    std::string& block = blocks_.back();  // never grows past its capacity: views stay valid
    const size_t at = block.size();
    block.append(text);
    return std::string_view(block).substr(at, text.size());
  }

  std::vector<std::string> blocks_;
  std::vector<KnownFile> files_, members_;
};

// ---- Step 3: what to read again and what to forget.

// How the update tells its caller what it finds and how far it got.
struct Progress {
  std::function<void(const std::string& file, int line, const std::string& reason)> on_malformed;
  std::function<void(size_t done, size_t total)> on_progress;
  UpdateStats& stats;
  size_t done = 0;

  void Malformed(const std::string& file, int line, const std::string& reason) {
    ++stats.malformed;
    if (on_malformed) on_malformed(file, line, reason);
  }
  void FileDone() {
    if (on_progress) on_progress(++done, stats.scanned);
  }
};

struct ReadJob {
  const FoundFile* file;
  std::int64_t prior_id;  // the file's row when it keeps it, else 0
};

struct UpdatePlan {
  std::vector<ReadJob> reread;
  std::vector<const KnownFile*> forget;
};

// A file is read again when its size or time changed or, for an INF file,
// when a catalog file it names came or went; an unchanged file's stored error
// is reported again, as a rereading would. A changed archive is forgotten
// whole, members too, and read as new.
UpdatePlan PlanUpdate(const CatalogFiles& found, KnownFiles& known, Progress& progress) {
  UpdatePlan plan;
  auto queue = [&](const FoundFile& f, std::int64_t prior_id) {
    ++progress.stats.reread;
    plan.reread.push_back({&f, prior_id});
  };
  // Both in path order: each file meets its row, if any, walking forward.
  std::vector<KnownFile>& rows = known.Files();
  auto row = rows.begin();
  std::string package;
  for (const FoundFile& f : found.files) {
    const std::string_view dir = f.Dir(), path = f.Path();
    while (row != rows.end() && std::tie(row->dir, row->path) < std::tie(dir, path)) ++row;
    if (row == rows.end() || row->dir != dir || row->path != path) {
      queue(f, 0);
      continue;
    }
    KnownFile* k = &*row++;
    k->seen = true;
    if (f.file->archive) {
      const bool unchanged = f.SameAs(k->size, k->mtime);
      if (unchanged && !k->error.empty()) progress.Malformed(f.Full(), 0, std::string(k->error));
      for (KnownFile& member : known.MembersOf(dir, path)) {
        if (member.seen) continue;
        member.seen = true;
        if (!unchanged)
          plan.forget.push_back(&member);
        else if (!member.error.empty())
          progress.Malformed(f.Dir() + "/" + std::string(member.path), member.error_line,
                             std::string(member.error));
      }
      if (unchanged) {
        progress.FileDone();
        continue;
      }
      plan.forget.push_back(k);
      queue(f, 0);  // its row and its members' are forgotten
      continue;
    }
    if (f.SameAs(k->size, k->mtime) &&
        CatalogsAsRecorded(k->catalogs, f.walk->names, f.Package(package))) {
      if (!k->error.empty()) progress.Malformed(f.Full(), k->error_line, std::string(k->error));
      progress.FileDone();
      continue;
    }
    queue(f, k->id);
  }
  known.ForEach([&](const KnownFile& k) {
    if (k.seen) return;
    plan.forget.push_back(&k);
    ++progress.stats.removed;
  });
  return plan;
}

// ---- Steps 4 and 5: read (in parallel) and write (in order).

// A file's lines made ready to store, on the thread that read them: each
// line's catalog looked for in its package folder, the lines encoded, their
// id keys. The lines are freed here too, by the thread that made them.
void EncodeForStore(const FoundFile& f, ReadResult& r) {
  // An archive member's catalog was looked for in its archive, which
  // changes only with the archive itself.
  if (!f.file->archive) {
    const std::string package = f.Package();
    for (ModelLine& m : r.lines) {
      m.catalog_present =
          !m.catalog_file.empty() && InFolder(f.walk->names, package, m.catalog_file);
    }
    r.catalogs = CatalogState(r.lines);
  }
  r.record = EncodeLines(r.lines);
  r.keys = KeysOfRecord(r.record);
  r.line_count = r.lines.size();
  r.lines = {};
  for (ReadResult& member : r.members) EncodeForStore(f, member);
}

ReadResult Read(const FoundFile& f) {
  ReadResult r =
      f.file->archive ? ReadArchiveFile(f.Full(), f.Path()) : ReadFile(f.Full(), f.Path());
  EncodeForStore(f, r);
  return r;
}

// Reads the files of `jobs` on every processor and hands each result to
// `store` on the calling thread, in the jobs' order, while later files are
// still being read: parsing and writing the index overlap. Readers run at
// most a window ahead of the writer, so memory stays bounded.
template <typename Store>
void ReadInOrder(const std::vector<ReadJob>& jobs, Store&& store) {
  if (jobs.empty()) return;
  constexpr size_t kWindow = 512;
  std::vector<ReadResult> slots(std::min(kWindow, jobs.size()));
  std::vector<char> ready(slots.size(), 0);
  std::mutex lock;
  std::condition_variable read_one, stored_one;
  size_t next = 0, stored = 0;
  bool stop = false;
  std::exception_ptr failure;
  auto reader = [&] {
    std::unique_lock guard(lock);
    for (;;) {
      stored_one.wait(guard,
                      [&] { return stop || next >= jobs.size() || next < stored + kWindow; });
      if (stop || next >= jobs.size()) return;
      const size_t i = next++;
      guard.unlock();
      ReadResult r;
      try {
        r = Read(*jobs[i].file);
      } catch (...) {
        guard.lock();
        if (!failure) failure = std::current_exception();
        stop = true;
        read_one.notify_all();
        stored_one.notify_all();
        return;
      }
      guard.lock();
      slots[i % slots.size()] = std::move(r);
      ready[i % slots.size()] = 1;
      read_one.notify_all();
    }
  };
  const unsigned threads = static_cast<unsigned>(
      std::clamp<size_t>(jobs.size(), 1, std::clamp(std::thread::hardware_concurrency(), 1u, 8u)));
  std::vector<std::thread> pool;
  struct Joiner {
    std::vector<std::thread>& pool;
    std::mutex& lock;
    bool& stop;
    std::condition_variable& stored_one;
    ~Joiner() {
      {
        std::lock_guard guard(lock);
        stop = true;
      }
      stored_one.notify_all();
      for (std::thread& t : pool) t.join();
    }
  } joiner{pool, lock, stop, stored_one};
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(reader);
  for (size_t i = 0; i < jobs.size(); ++i) {
    ReadResult r;
    {
      std::unique_lock guard(lock);
      read_one.wait(guard, [&] { return stop || ready[i % slots.size()] != 0; });
      if (ready[i % slots.size()] == 0) break;  // a reader failed
      r = std::move(slots[i % slots.size()]);
      ready[i % slots.size()] = 0;
      stored = i + 1;
    }
    stored_one.notify_all();
    store(jobs[i], r);
  }
  {
    std::lock_guard guard(lock);
    if (failure) std::rethrow_exception(failure);
  }
}

// The index's rows written: files stored and forgotten, and their ids.
class IndexWriter {
 public:
  // `fresh_file`: a new index's file, written back as it grows (below); ""
  // for an update in place.
  IndexWriter(sqlite3* db, const std::string& fresh_file)
      : db_(db),
        fresh_(!fresh_file.empty()),
        written_(fresh_ ? ::open(fresh_file.c_str(), O_RDONLY | O_CLOEXEC) : -1),
        file_lines_(Prepare(db, "SELECT record FROM lines WHERE file_id = ?1")),
        del_id_(Prepare(db, "DELETE FROM ids WHERE key = ?1 AND file_id = ?2")),
        del_file_(Prepare(db, "DELETE FROM files WHERE id = ?1")),
        del_record_(Prepare(db, "DELETE FROM lines WHERE file_id = ?1")),
        put_record_(Prepare(db, "INSERT OR REPLACE INTO lines(file_id, record) VALUES(?1, ?2)")),
        // A file read again keeps its row: its ids, mostly the same as
        // before, then change only where they differ.
        put_file_(Prepare(db,
                          "INSERT OR REPLACE INTO files(id, dir, path, size, mtime, error_line,"
                          " error, catalogs, line_count) VALUES(?9,?1,?2,?3,?4,?5,?6,?7,?8)")),
        add_id_(Prepare(db, "INSERT OR IGNORE INTO ids(key, file_id) VALUES(?1, ?2)")) {}

  void Forget(const KnownFile& k) {
    RemoveIds(KeysOfFile(k.id), k.id);
    Bind(del_file_.get(), 1, k.id);
    StepDone(db_, del_file_.get());
    Bind(del_record_.get(), 1, k.id);
    StepDone(db_, del_record_.get());
  }

  // `path` is f's own, or a member's of the archive f.
  void Store(const FoundFile& f, const std::string& path, const ReadResult& r,
             std::int64_t prior_id) {
    const std::string& record = r.record;
    // A file read again mostly gives the record it gave before (a new time,
    // the same text): then its record and ids stand as they are.
    bool same_record = false;
    KeySet old_keys;
    if (prior_id != 0) {
      WithRecordOf(prior_id, [&](std::string_view old_record) {
        same_record = old_record == record;
        if (!same_record) old_keys = KeysOfRecord(old_record);
      });
    }
    sqlite3_stmt* s = put_file_.get();
    Bind(s, 1, f.Dir());
    Bind(s, 2, path);
    Bind(s, 3, f.file->size);
    Bind(s, 4, f.file->mtime);
    Bind(s, 5, std::int64_t{r.error_line});
    if (!r.error.empty()) Bind(s, 6, r.error);
    Bind(s, 7, r.catalogs);
    Bind(s, 8, static_cast<std::int64_t>(r.line_count));
    if (prior_id != 0) Bind(s, 9, prior_id);
    StepDone(db_, s);
    const std::int64_t file_id = prior_id != 0 ? prior_id : sqlite3_last_insert_rowid(db_);
    if (same_record) return;
    Bind(put_record_.get(), 1, file_id);
    sqlite3_bind_blob(put_record_.get(), 2, record.data(), static_cast<int>(record.size()),
                      SQLITE_STATIC);
    StepDone(db_, put_record_.get());
    const KeySet& keys = r.keys;
    if (fresh_) {
      for (const std::int64_t key : keys) pending_ids_.emplace_back(key, file_id);
      // A new index must be on disk before it is put in place: what the
      // database has written so far goes to the disk while the reading goes
      // on, so the last sync has little left to wait for.
      if (written_ && ++stored_ % kWriteBackEvery == 0)
        ::sync_file_range(written_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
      return;
    }
    KeySet gone, added;
    std::set_difference(old_keys.begin(), old_keys.end(), keys.begin(), keys.end(),
                        std::back_inserter(gone));
    std::set_difference(keys.begin(), keys.end(), old_keys.begin(), old_keys.end(),
                        std::back_inserter(added));
    RemoveIds(gone, file_id);
    AddIds(added, file_id);
  }

  // ---- Step 6: the id table of a new index, and the key set.
  void FinishKeys() {
    if (fresh_) {
      // A new index gets its ids at the end, sorted: appending to the id
      // table is far cheaper than inserting all over it.
      std::sort(pending_ids_.begin(), pending_ids_.end());
      KeySet keys;
      for (const auto& [key, file_id] : pending_ids_)
        if (keys.empty() || keys.back() != key) keys.push_back(key);
      // Many rows a statement: a step's own cost is most of a sorted append's.
      constexpr size_t kRowsAStep = 128;
      std::string many = "INSERT OR IGNORE INTO ids(key, file_id) VALUES(?,?)";
      for (size_t i = 1; i < kRowsAStep; ++i) many += ",(?,?)";
      const Stmt add_many = Prepare(db_, many.c_str());
      size_t at = 0;
      for (; at + kRowsAStep <= pending_ids_.size(); at += kRowsAStep) {
        for (size_t i = 0; i < kRowsAStep; ++i) {
          Bind(add_many.get(), static_cast<int>(2 * i + 1), pending_ids_[at + i].first);
          Bind(add_many.get(), static_cast<int>(2 * i + 2), pending_ids_[at + i].second);
        }
        StepDone(db_, add_many.get());
      }
      for (; at < pending_ids_.size(); ++at) {
        Bind(add_id_.get(), 1, pending_ids_[at].first);
        Bind(add_id_.get(), 2, pending_ids_[at].second);
        StepDone(db_, add_id_.get());
      }
      WriteKeySet(db_, keys);
    } else if (!added_keys_.empty() || !removed_keys_.empty()) {
      KeySet keys = ReadKeySet(db_);
      UpdateKeySet(db_, keys, std::move(added_keys_), std::move(removed_keys_));
      WriteKeySet(db_, keys);
    }
  }

 private:
  // Runs `use` on the stored record of `file_id`, if it has one, while the
  // row is current.
  template <typename Use>
  void WithRecordOf(std::int64_t file_id, Use&& use) {
    Bind(file_lines_.get(), 1, file_id);
    if (sqlite3_step(file_lines_.get()) == SQLITE_ROW) use(BlobColumn(file_lines_.get(), 0));
    sqlite3_reset(file_lines_.get());
  }
  KeySet KeysOfFile(std::int64_t file_id) {
    KeySet keys;
    WithRecordOf(file_id, [&](std::string_view record) { keys = KeysOfRecord(record); });
    return keys;
  }
  void RemoveIds(const KeySet& keys, std::int64_t file_id) {
    for (const std::int64_t key : keys) {
      removed_keys_.push_back(key);
      Bind(del_id_.get(), 1, key);
      Bind(del_id_.get(), 2, file_id);
      StepDone(db_, del_id_.get());
    }
  }
  void AddIds(const KeySet& keys, std::int64_t file_id) {
    for (const std::int64_t key : keys) {
      added_keys_.push_back(key);
      Bind(add_id_.get(), 1, key);
      Bind(add_id_.get(), 2, file_id);
      StepDone(db_, add_id_.get());
    }
  }

  static constexpr size_t kWriteBackEvery = 2048;  // files stored

  sqlite3* db_;
  bool fresh_;
  platform::Fd written_;
  size_t stored_ = 0;
  Stmt file_lines_, del_id_, del_file_, del_record_, put_record_, put_file_, add_id_;
  KeySet added_keys_, removed_keys_;  // an update in place's changes to the key set
  std::vector<std::pair<std::int64_t, std::int64_t>> pending_ids_;  // a new index's (key, file)
};

void ReadAndStore(const UpdatePlan& plan, IndexWriter& writer, Progress& progress) {
  ReadInOrder(plan.reread, [&](const ReadJob& job, ReadResult& r) {
    const FoundFile& f = *job.file;
    writer.Store(f, f.Path(), r, job.prior_id);
    if (!r.error.empty()) progress.Malformed(f.Full(), r.error_line, r.error);
    for (size_t m = 0; m < r.members.size(); ++m) {
      ReadResult& member = r.members[m];
      writer.Store(f, r.member_paths[m], member, 0);
      if (!member.error.empty())
        progress.Malformed(f.Dir() + "/" + r.member_paths[m], member.error_line, member.error);
    }
    progress.FileDone();
  });
}

}  // namespace

UpdateStats UpdateIndex(
    const std::string& db_path, const std::vector<std::string>& catalog_dirs,
    std::function<void(const std::string& file, int line, const std::string& reason)> on_malformed,
    std::function<void(size_t done, size_t total)> on_progress) {
  const std::vector<std::string> dirs = AbsoluteDirs(catalog_dirs);
  std::error_code ec;
  const fs::path parent = fs::path(db_path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  Target target;
  OpenForUpdate(db_path, target);
  sqlite3* db = target.db.get();
  const bool fresh = !target.temp.empty();
  struct Rollback {
    sqlite3* db;
    bool armed = true;
    ~Rollback() {
      if (armed) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } rollback{db};

  // Walked with the update's transaction open: what the index recorded of
  // the folders is read and replaced in the same transaction.
  const CatalogFiles found = FindFiles(dirs, fresh ? nullptr : db);
  UpdateStats stats;
  stats.scanned = found.files.size();
  stats.folders_read = found.folders_read;
  stats.folders_reused = found.folders_reused;
  Progress progress{std::move(on_malformed), std::move(on_progress), stats};

  KnownFiles known;
  if (!fresh) known.Load(db, found.files.size());
  const UpdatePlan plan = PlanUpdate(found, known, progress);
  IndexWriter writer(db, target.temp);
  for (const KnownFile* k : plan.forget) writer.Forget(*k);
  ReadAndStore(plan, writer, progress);
  writer.FinishKeys();
  StoreFolderStates(db, found);

  // ---- Step 7: committed, and a new index put in place of the old one.
  Exec(db, "COMMIT");
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
