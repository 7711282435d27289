// The shared store: any number of service instances over one PostgreSQL
// database. Each thread borrows a connection from a small pool; a Put is one
// upsert in its own transaction, acknowledged after COMMIT returns.
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <pqxx/pqxx>
#include <thread>
#include <vector>

#include "service/store.h"

namespace service {
namespace {

// A frozen server (stopped, or a host gone silent behind a live network)
// answers nothing, and the kernel still acknowledges our keepalives; a
// server-side statement timeout does not run either. So every round trip
// has a deadline here: when it passes, the connection's socket is shut
// down, which ends the blocked read at once with a broken connection.
constexpr int kConnectSeconds = 3;
constexpr int kStatementSeconds = 5;
constexpr int kWaitSeconds = 5;  // for a pooled connection to come free

class Watchdog {
 public:
  Watchdog() : thread_([this] { Loop(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cond_.notify_all();
    thread_.join();
  }

  uint64_t Start(int fd) {
    std::lock_guard lock(mutex_);
    const uint64_t id = ++next_;
    watched_[id] = {fd, std::chrono::steady_clock::now() + std::chrono::seconds(kStatementSeconds),
                    false};
    cond_.notify_all();
    return id;
  }
  // True when the deadline passed and the connection was cut.
  bool Finish(uint64_t id) {
    std::lock_guard lock(mutex_);
    auto it = watched_.find(id);
    if (it == watched_.end()) return false;
    const bool fired = it->second.fired;
    watched_.erase(it);
    return fired;
  }

 private:
  struct Entry {
    int fd;
    std::chrono::steady_clock::time_point deadline;
    bool fired;
  };
  void Loop() {
    std::unique_lock lock(mutex_);
    while (!done_) {
      auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
      const auto now = std::chrono::steady_clock::now();
      for (auto& [id, e] : watched_) {
        if (!e.fired && e.deadline <= now) {
          e.fired = true;
          ::shutdown(e.fd, SHUT_RDWR);
        } else if (!e.fired && e.deadline < next) {
          next = e.deadline;
        }
      }
      cond_.wait_until(lock, next);
    }
  }

  std::mutex mutex_;
  std::condition_variable cond_;
  std::map<uint64_t, Entry> watched_;
  uint64_t next_ = 0;
  bool done_ = false;
  std::thread thread_;
};

bool Has(const std::string& url, const std::string& key) {
  return url.find(key + "=") != std::string::npos;
}

// The address with the connect timeout, TCP keepalives and a server-side
// statement timeout added, unless it sets them itself.
std::string WithTimeouts(const std::string& url) {
  std::string out = url;
  const bool is_uri = url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
  auto add = [&](const std::string& key, const std::string& value) {
    if (Has(url, key)) return;
    if (is_uri) {
      out += (out.find('?') == std::string::npos ? "?" : "&") + key + "=" + value;
    } else {
      out += " " + key + "=" + value;
    }
  };
  add("connect_timeout", std::to_string(kConnectSeconds));
  add("keepalives", "1");
  add("keepalives_idle", "30");
  add("keepalives_interval", "10");
  add("keepalives_count", "3");
  add("options", is_uri
                     ? "-c%20statement_timeout%3D" + std::to_string(kStatementSeconds * 1000)
                     : "'-c statement_timeout=" + std::to_string(kStatementSeconds * 1000) + "'");
  return out;
}

class PostgresStore : public ReportStore {
 public:
  PostgresStore(std::string url, size_t max_connections)
      : url_(std::move(url)), max_(max_connections) {
    auto conn = Connect();
    try {
      pqxx::work w(*conn);
      // Instances that start together would race on CREATE TABLE; the lock
      // makes them take turns. The key is this table's, arbitrary but fixed.
      w.exec("SELECT pg_advisory_xact_lock(7312094417)");
      w.exec(
          "CREATE TABLE IF NOT EXISTS kestrova_reports ("
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

  PutResult Put(const StoredReport& r) override {
    PutResult result = PutResult::kStored;
    WithConnection([&](pqxx::connection& c) {
      pqxx::work w(c);
      // The first report with a scan id stays (the id is also its link).
      auto inserted = w.exec_params(
          "INSERT INTO kestrova_reports (scan_id, received, drivers, hwid, setup_log) VALUES ($1, "
          "$2, $3, $4, $5)"
          " ON CONFLICT (scan_id) DO NOTHING",
          r.post.scan_id, r.received, r.post.drivers, r.post.hwid, r.post.setup_log);
      result = PutResult::kStored;
      if (inserted.affected_rows() == 0) {
        auto same = w.exec_params(
            "SELECT drivers = $2 AND hwid = $3 AND setup_log = $4 FROM kestrova_reports WHERE "
            "scan_id = $1",
            r.post.scan_id, r.post.drivers, r.post.hwid, r.post.setup_log);
        result = !same.empty() && same[0][0].as<bool>() ? PutResult::kAlreadyStored
                                                        : PutResult::kConflict;
      }
      w.commit();
    });
    return result;
  }

  std::optional<StoredReport> Get(const std::string& scan_id) override {
    std::optional<StoredReport> out;
    WithConnection([&](pqxx::connection& c) {
      pqxx::read_transaction t(c);
      auto rows = t.exec_params(
          "SELECT received, drivers, hwid, setup_log FROM kestrova_reports WHERE scan_id = $1",
          scan_id);
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
      return std::make_unique<pqxx::connection>(WithTimeouts(url_));
    } catch (const std::exception& e) {
      throw StoreError(std::string("Cannot connect to PostgreSQL: ") + e.what());
    }
  }

  std::unique_ptr<pqxx::connection> Borrow() {
    std::unique_lock lock(mutex_);
    if (!cond_.wait_for(lock, std::chrono::seconds(kWaitSeconds),
                        [&] { return !idle_.empty() || open_ < max_; })) {
      throw StoreError("PostgreSQL: no connection came free within " +
                       std::to_string(kWaitSeconds) + " s");
    }
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
  // posts again. Work that overran its deadline is not retried either: the
  // server is not answering, and the sender gets 503 now rather than later.
  template <typename Fn>
  void WithConnection(Fn&& fn) {
    for (int attempt = 0;; ++attempt) {
      auto c = Borrow();
      auto watch = watchdog_.Start(c->sock());
      try {
        fn(*c);
        watchdog_.Finish(watch);
        Return(std::move(c));
        return;
      } catch (const pqxx::in_doubt_error& e) {
        watchdog_.Finish(watch);
        Return(nullptr);
        throw StoreError(std::string("PostgreSQL: the commit's outcome is unknown: ") + e.what());
      } catch (const pqxx::broken_connection& e) {
        const bool overran = watchdog_.Finish(watch);
        Return(nullptr);
        // The server went away for all of them (a restart): the idle
        // connections are as dead as this one.
        DropIdle();
        if (overran) {
          throw StoreError("PostgreSQL did not answer within " + std::to_string(kStatementSeconds) +
                           " s");
        }
        if (attempt == 0) continue;
        throw StoreError(std::string("PostgreSQL connection lost: ") + e.what());
      } catch (const StoreError&) {
        watchdog_.Finish(watch);
        Return(nullptr);
        throw;
      } catch (const std::exception& e) {
        const bool overran = watchdog_.Finish(watch);
        Return(overran ? nullptr : std::move(c));
        throw StoreError(std::string("PostgreSQL: ") + e.what());
      }
    }
  }

  std::string url_;
  size_t max_;
  Watchdog watchdog_;
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
