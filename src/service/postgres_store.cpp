// The shared store: any number of service instances over one PostgreSQL
// database. Each thread borrows a connection from a small pool; a Put is one
// upsert in its own transaction, acknowledged after COMMIT returns.
#include <pqxx/pqxx>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "service/store.h"

namespace service {
namespace {

class PostgresStore : public ReportStore {
 public:
  PostgresStore(std::string url, size_t max_connections) : url_(std::move(url)), max_(max_connections) {
    auto conn = Connect();
    try {
      pqxx::work w(*conn);
      // Instances that start together would race on CREATE TABLE; the lock
      // makes them take turns. The key is this table's, arbitrary but fixed.
      w.exec("SELECT pg_advisory_xact_lock(7312094417)");
      w.exec("CREATE TABLE IF NOT EXISTS kestrova_reports ("
             " scan_id text PRIMARY KEY,"
             " received text NOT NULL,"
             " drivers text NOT NULL,"
             " hwid text NOT NULL,"
             " setup_log text NOT NULL)");
      w.commit();
    } catch (const std::exception& e) {
      throw StoreError(std::string("PostgreSQL: cannot prepare the reports table: ") + e.what());
    }
    Return(std::move(conn));
  }

  void Put(const StoredReport& r) override {
    WithConnection([&](pqxx::connection& c) {
      pqxx::work w(c);
      w.exec_params(
          "INSERT INTO kestrova_reports (scan_id, received, drivers, hwid, setup_log) VALUES ($1, $2, $3, $4, $5)"
          " ON CONFLICT (scan_id) DO UPDATE SET received = EXCLUDED.received, drivers = EXCLUDED.drivers,"
          " hwid = EXCLUDED.hwid, setup_log = EXCLUDED.setup_log",
          r.post.scan_id, r.received, r.post.drivers, r.post.hwid, r.post.setup_log);
      w.commit();
    });
  }

  std::optional<StoredReport> Get(const std::string& scan_id) override {
    std::optional<StoredReport> out;
    WithConnection([&](pqxx::connection& c) {
      pqxx::read_transaction t(c);
      auto rows = t.exec_params(
          "SELECT received, drivers, hwid, setup_log FROM kestrova_reports WHERE scan_id = $1", scan_id);
      out.reset();
      if (!rows.empty()) {
        out.emplace();
        out->post.scan_id = scan_id;
        out->received = rows[0][0].as<std::string>();
        out->post.drivers = rows[0][1].as<std::string>();
        out->post.hwid = rows[0][2].as<std::string>();
        out->post.setup_log = rows[0][3].as<std::string>();
      }
    });
    return out;
  }

  void Ping() override {
    WithConnection([](pqxx::connection& c) {
      pqxx::nontransaction t(c);
      t.exec("SELECT 1");
    });
  }

  std::string Describe() const override { return "PostgreSQL"; }

 private:
  std::unique_ptr<pqxx::connection> Connect() {
    try {
      return std::make_unique<pqxx::connection>(url_);
    } catch (const std::exception& e) {
      throw StoreError(std::string("Cannot connect to PostgreSQL: ") + e.what());
    }
  }

  std::unique_ptr<pqxx::connection> Borrow() {
    std::unique_lock lock(mutex_);
    cond_.wait(lock, [&] { return !idle_.empty() || open_ < max_; });
    if (!idle_.empty()) {
      auto c = std::move(idle_.back());
      idle_.pop_back();
      return c;
    }
    ++open_;
    lock.unlock();
    try {
      return Connect();
    } catch (...) {
      Return(nullptr);
      throw;
    }
  }

  // nullptr: the connection was dropped.
  void Return(std::unique_ptr<pqxx::connection> c) {
    {
      std::lock_guard lock(mutex_);
      if (c && c->is_open()) {
        idle_.push_back(std::move(c));
      } else {
        --open_;
      }
    }
    cond_.notify_one();
  }

  void DropIdle() {
    std::lock_guard lock(mutex_);
    open_ -= idle_.size();
    idle_.clear();
    cond_.notify_all();
  }

  // A connection the server closed (restart, idle timeout) is replaced and
  // the work tried once more; the upsert makes a repeat harmless. A commit
  // whose outcome is unknown is not retried but reported, so the sender
  // posts again.
  template <typename Fn>
  void WithConnection(Fn&& fn) {
    for (int attempt = 0;; ++attempt) {
      auto c = Borrow();
      try {
        fn(*c);
        Return(std::move(c));
        return;
      } catch (const pqxx::in_doubt_error& e) {
        Return(nullptr);
        throw StoreError(std::string("PostgreSQL: the commit's outcome is unknown: ") + e.what());
      } catch (const pqxx::broken_connection& e) {
        Return(nullptr);
        // The server went away for all of them (a restart): the idle
        // connections are as dead as this one.
        DropIdle();
        if (attempt == 0) continue;
        throw StoreError(std::string("PostgreSQL connection lost: ") + e.what());
      } catch (const StoreError&) {
        Return(nullptr);
        throw;
      } catch (const std::exception& e) {
        Return(std::move(c));
        throw StoreError(std::string("PostgreSQL: ") + e.what());
      }
    }
  }

  std::string url_;
  size_t max_;
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<std::unique_ptr<pqxx::connection>> idle_;
  size_t open_ = 1;  // the connection the constructor holds
};

}  // namespace

std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& url, size_t max_connections) {
  return std::make_unique<PostgresStore>(url, max_connections == 0 ? 1 : max_connections);
}

}  // namespace service
