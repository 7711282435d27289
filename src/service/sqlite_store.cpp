// The embedded store: one SQLite file in WAL mode. Writes from all threads go
// through one connection, one statement each, so every acknowledged report
// is a committed, synced transaction.
#include <sqlite3.h>

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
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
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
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw StoreError("Cannot open the report store " + path + ": " + why);
    }
    try {
      // Other service processes may share the file: wait for their writes.
      sqlite3_busy_timeout(db_, 10000);
      Exec("PRAGMA journal_mode=WAL");
      // FULL: a commit is on disk before it returns, so an acknowledged
      // report survives a power cut, not only a killed process.
      Exec("PRAGMA synchronous=FULL");
      Exec("CREATE TABLE IF NOT EXISTS reports ("
           " scan_id TEXT PRIMARY KEY NOT NULL,"
           " received TEXT NOT NULL,"
           " drivers TEXT NOT NULL,"
           " hwid TEXT NOT NULL,"
           " setup_log TEXT NOT NULL)");
      put_ = std::make_unique<Statement>(db_,
          "INSERT INTO reports (scan_id, received, drivers, hwid, setup_log) VALUES (?1, ?2, ?3, ?4, ?5)"
          " ON CONFLICT (scan_id) DO UPDATE SET received = excluded.received, drivers = excluded.drivers,"
          " hwid = excluded.hwid, setup_log = excluded.setup_log");
      get_ = std::make_unique<Statement>(db_,
          "SELECT received, drivers, hwid, setup_log FROM reports WHERE scan_id = ?1");
    } catch (...) {
      put_.reset();
      get_.reset();
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteStore() override {
    put_.reset();
    get_.reset();
    sqlite3_close(db_);
  }

  void Put(const StoredReport& r) override {
    std::lock_guard lock(mutex_);
    put_->Reset();
    put_->Bind(1, r.post.scan_id);
    put_->Bind(2, r.received);
    put_->Bind(3, r.post.drivers);
    put_->Bind(4, r.post.hwid);
    put_->Bind(5, r.post.setup_log);
    try {
      put_->Step();
    } catch (...) {
      put_->Reset();
      throw;
    }
    put_->Reset();
  }

  std::optional<StoredReport> Get(const std::string& scan_id) override {
    std::lock_guard lock(mutex_);
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

  void Ping() override {
    std::lock_guard lock(mutex_);
    Exec("SELECT 1 FROM reports LIMIT 1");
  }

  std::string Describe() const override { return "SQLite " + path_; }

 private:
  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::string why = err ? err : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw StoreError("SQLite (" + path_ + "): " + why);
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::unique_ptr<Statement> put_;
  std::unique_ptr<Statement> get_;
};

}  // namespace

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

}  // namespace service
