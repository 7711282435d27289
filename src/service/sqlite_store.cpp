// The embedded store: one SQLite file in WAL mode. Writes from all threads go
// through one connection with group commit: the first writer to arrive
// commits everything that queued up meanwhile in one synced transaction and
// wakes the others, so every acknowledged report is committed and a sync is
// shared by many reports instead of costing each its own.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "service/store.h"

namespace service {
namespace {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db));
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  // True while rows come; false when done.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_));
  }
  std::string Text(int column) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
  }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore : public ReportStore {
 public:
  explicit SqliteStore(const std::string& path) : path_(path) {
    db_ = Open(path);
    try {
      // Other service processes may share the file: wait for their writes.
      sqlite3_busy_timeout(db_, 10000);
      Exec("PRAGMA journal_mode=WAL");
      // FULL: a commit is on disk before it returns, so an acknowledged
      // report survives a power cut, not only a killed process.
      Exec("PRAGMA synchronous=FULL");
      Exec(
          "CREATE TABLE IF NOT EXISTS reports ("
          " scan_id TEXT PRIMARY KEY NOT NULL,"
          " received TEXT NOT NULL,"
          " drivers TEXT NOT NULL,"
          " hwid TEXT NOT NULL,"
          " setup_log TEXT NOT NULL)");
      // The first report with a scan id stays: the id is also the link
      // that shows it, so it must not be a key to overwrite it.
      put_ = std::make_unique<Statement>(db_,
                                         "INSERT INTO reports (scan_id, received, drivers, hwid, "
                                         "setup_log) VALUES (?1, ?2, ?3, ?4, ?5)"
                                         " ON CONFLICT (scan_id) DO NOTHING");
      same_ = std::make_unique<Statement>(
          db_,
          "SELECT drivers = ?2 AND hwid = ?3 AND setup_log = ?4 FROM reports WHERE scan_id = ?1");
      // Readers have their own connection: WAL lets them read while a
      // group commit is under way.
      reader_ = Open(path);
      sqlite3_busy_timeout(reader_, 10000);
      get_ = std::make_unique<Statement>(
          reader_, "SELECT received, drivers, hwid, setup_log FROM reports WHERE scan_id = ?1");
    } catch (...) {
      put_.reset();
      same_.reset();
      get_.reset();
      sqlite3_close(reader_);
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteStore() override {
    put_.reset();
    same_.reset();
    get_.reset();
    sqlite3_close(reader_);
    sqlite3_close(db_);
  }

  PutResult Put(const StoredReport& r) override {
    Pending mine{&r, false, nullptr, PutResult::kStored};
    std::unique_lock lock(queue_mutex_);
    queue_.push_back(&mine);
    while (!mine.done) {
      if (committing_) {
        committed_.wait(lock);
        continue;
      }
      // Nobody is committing: this thread takes the whole queue.
      committing_ = true;
      std::deque<Pending*> batch;
      batch.swap(queue_);
      lock.unlock();
      std::exception_ptr error;
      try {
        CommitBatch(batch);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      for (Pending* p : batch) {
        p->error = error;
        p->done = true;
      }
      committing_ = false;
      committed_.notify_all();
    }
    if (mine.error) std::rethrow_exception(mine.error);
    return mine.result;
  }

  std::optional<StoredReport> Get(const std::string& scan_id) override {
    std::lock_guard lock(read_mutex_);
    get_->Reset();
    get_->Bind(1, scan_id);
    std::optional<StoredReport> out;
    try {
      if (get_->Step()) {
        out.emplace();
        out->post.scan_id = scan_id;
        out->received = get_->Text(0);
        out->post.drivers = get_->Text(1);
        out->post.hwid = get_->Text(2);
        out->post.setup_log = get_->Text(3);
      }
    } catch (...) {
      get_->Reset();
      throw;
    }
    get_->Reset();
    return out;
  }

  // Free space against a floor (a full disk refuses every post, though a
  // rolled-back write would still succeed), then a write that is rolled
  // back: it takes the write lock and needs a writable file.
  void Ping() override {
    struct statvfs fs {};
    if (::statvfs(path_.c_str(), &fs) == 0) {
      const unsigned long long free_bytes =
          static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
      if (free_bytes < kMinFreeBytes) {
        throw StoreError("only " + std::to_string(free_bytes >> 20) + " MiB free on the disk of " +
                         path_);
      }
    }
    std::lock_guard lock(read_mutex_);
    Exec(reader_, "BEGIN IMMEDIATE");
    try {
      Exec(reader_, "DELETE FROM reports WHERE scan_id = ''");
    } catch (...) {
      sqlite3_exec(reader_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    Exec(reader_, "ROLLBACK");
  }

  std::string Describe() const override { return "SQLite " + path_; }

 private:
  struct Pending {
    const StoredReport* report;
    bool done = false;
    std::exception_ptr error;
    PutResult result;
  };

  // Two largest posts, and room for the journal of a batch.
  static constexpr unsigned long long kMinFreeBytes = 64ull << 20;

  static sqlite3* Open(const std::string& path) {
    // Reports are private: the file (and the journal files SQLite gives
    // the same mode) is the owner's only.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      std::string why = db ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close(db);
      throw StoreError("Cannot open the report store " + path + ": " + why);
    }
    return db;
  }

  // One transaction for the batch; all of it or none of it is committed.
  void CommitBatch(const std::deque<Pending*>& batch) {
    Exec("BEGIN IMMEDIATE");
    try {
      for (Pending* p : batch) {
        const StoredReport& r = *p->report;
        put_->Reset();
        put_->Bind(1, r.post.scan_id);
        put_->Bind(2, r.received);
        put_->Bind(3, r.post.drivers);
        put_->Bind(4, r.post.hwid);
        put_->Bind(5, r.post.setup_log);
        put_->Step();
        p->result = PutResult::kStored;
        if (sqlite3_changes(db_) == 0) {
          same_->Reset();
          same_->Bind(1, r.post.scan_id);
          same_->Bind(2, r.post.drivers);
          same_->Bind(3, r.post.hwid);
          same_->Bind(4, r.post.setup_log);
          const bool same = same_->Step() && same_->Text(0) == "1";
          same_->Reset();
          p->result = same ? PutResult::kAlreadyStored : PutResult::kConflict;
        }
      }
      put_->Reset();
      Exec("COMMIT");
    } catch (...) {
      put_->Reset();
      same_->Reset();
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  void Exec(const char* sql) { Exec(db_, sql); }
  void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string why = err ? err : sqlite3_errmsg(db);
      sqlite3_free(err);
      throw StoreError("SQLite (" + path_ + "): " + why);
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;      // writes: only the thread committing a batch
  sqlite3* reader_ = nullptr;  // reads, under read_mutex_
  std::unique_ptr<Statement> put_;
  std::unique_ptr<Statement> same_;
  std::unique_ptr<Statement> get_;
  std::mutex read_mutex_;
  std::mutex queue_mutex_;
  std::condition_variable committed_;
  std::deque<Pending*> queue_;
  bool committing_ = false;
};

}  // namespace

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

}  // namespace service
