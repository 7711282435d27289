// The embedded store: one SQLite file in WAL mode. Writes from all threads go
// through one connection with group commit: the first writer to arrive
// commits everything that queued up meanwhile in one synced transaction and
// wakes the others, so every acknowledged report is committed and a sync is
// shared by many reports instead of costing each its own.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "platform/sqlite.h"
#include "service/store.h"

namespace service {
namespace {

constexpr char kStoreName[] = "SQLite report store";
using Sql = platform::sqlite::Checked<StoreError, kStoreName>;
using platform::sqlite::Bind;
using platform::sqlite::Column;
using platform::sqlite::Db;
using platform::sqlite::Reset;
using platform::sqlite::Stmt;

class SqliteStore : public ReportStore {
 public:
  explicit SqliteStore(const std::string& path) : path_(path), db_(Open(path)) {
    // Other service processes may share the file: wait for their writes.
    sqlite3_busy_timeout(db_.get(), 10000);
    Sql::Exec(db_.get(), "PRAGMA journal_mode=WAL");
    // FULL: a commit is on disk before it returns, so an acknowledged
    // report survives a power cut, not only a killed process.
    Sql::Exec(db_.get(), "PRAGMA synchronous=FULL");
    Sql::Exec(db_.get(),
              "CREATE TABLE IF NOT EXISTS reports ("
              " scan_id TEXT PRIMARY KEY NOT NULL,"
              " received TEXT NOT NULL,"
              " drivers TEXT NOT NULL,"
              " hwid TEXT NOT NULL,"
              " setup_log TEXT NOT NULL)");
    // The first report with a scan id stays: the id is also the link
    // that shows it, so it must not be a key to overwrite it.
    put_ = Sql::Prepare(db_.get(),
                        "INSERT INTO reports (scan_id, received, drivers, hwid, "
                        "setup_log) VALUES (?1, ?2, ?3, ?4, ?5)"
                        " ON CONFLICT (scan_id) DO NOTHING");
    same_ = Sql::Prepare(
        db_.get(),
        "SELECT drivers = ?2 AND hwid = ?3 AND setup_log = ?4 FROM reports WHERE scan_id = ?1");
    // Readers have their own connection: WAL lets them read while a
    // group commit is under way.
    reader_ = Open(path);
    sqlite3_busy_timeout(reader_.get(), 10000);
    get_ = Sql::Prepare(
        reader_.get(), "SELECT received, drivers, hwid, setup_log FROM reports WHERE scan_id = ?1");
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
    sqlite3_stmt* get = get_.get();
    Reset(get);
    Bind(get, 1, scan_id);
    std::optional<StoredReport> out;
    try {
      if (Sql::Step(reader_.get(), get)) {
        out.emplace();
        out->post.scan_id = scan_id;
        out->received = Column(get, 0);
        out->post.drivers = Column(get, 1);
        out->post.hwid = Column(get, 2);
        out->post.setup_log = Column(get, 3);
      }
    } catch (...) {
      Reset(get);
      throw;
    }
    Reset(get);
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
    Sql::Exec(reader_.get(), "BEGIN IMMEDIATE");
    try {
      Sql::Exec(reader_.get(), "DELETE FROM reports WHERE scan_id = ''");
    } catch (...) {
      sqlite3_exec(reader_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    Sql::Exec(reader_.get(), "ROLLBACK");
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

  static Db Open(const std::string& path) {
    // Reports are private: the file (and the journal files SQLite gives
    // the same mode) is the owner's only.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    return Sql::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  }

  // One transaction for the batch; all of it or none of it is committed.
  void CommitBatch(const std::deque<Pending*>& batch) {
    sqlite3* db = db_.get();
    sqlite3_stmt* put = put_.get();
    sqlite3_stmt* same = same_.get();
    Sql::Exec(db, "BEGIN IMMEDIATE");
    try {
      for (Pending* p : batch) {
        const StoredReport& r = *p->report;
        Reset(put);
        Bind(put, 1, r.post.scan_id);
        Bind(put, 2, r.received);
        Bind(put, 3, r.post.drivers);
        Bind(put, 4, r.post.hwid);
        Bind(put, 5, r.post.setup_log);
        Sql::Step(db, put);
        p->result = PutResult::kStored;
        if (sqlite3_changes(db) == 0) {
          Reset(same);
          Bind(same, 1, r.post.scan_id);
          Bind(same, 2, r.post.drivers);
          Bind(same, 3, r.post.hwid);
          Bind(same, 4, r.post.setup_log);
          const bool unchanged = Sql::Step(db, same) && sqlite3_column_int(same, 0) == 1;
          Reset(same);
          p->result = unchanged ? PutResult::kAlreadyStored : PutResult::kConflict;
        }
      }
      Reset(put);
      Sql::Exec(db, "COMMIT");
    } catch (...) {
      Reset(put);
      Reset(same);
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  std::string path_;
  // Statements are declared after their connections, so they go first.
  Db db_;      // writes: only the thread committing a batch
  Db reader_;  // reads, under read_mutex_
  Stmt put_;
  Stmt same_;
  Stmt get_;
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
