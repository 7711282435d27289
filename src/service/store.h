// Where posted reports are kept. A Put returns only after the report is
// durable; a report is never seen half-stored.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "service/form.h"

namespace service {

struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct StoredReport {
  ReportPost post;
  std::string received;  // UTC, "YYYY-MM-DDTHH:MM:SS.mmmZ"
};

enum class PutResult {
  kStored,         // new, and committed
  kAlreadyStored,  // the same content was stored before (drivers, hwid, setup log)
  kConflict,       // a different report has this scan id; nothing was changed
};

// Every method may be called from any number of threads at once.
class ReportStore {
 public:
  virtual ~ReportStore() = default;
  // Inserts the report in one committed transaction, unless its scan id is
  // stored already: the first report with an id stays. Throws StoreError.
  virtual PutResult Put(const StoredReport& report) = 0;
  virtual std::optional<StoredReport> Get(const std::string& scan_id) = 0;
  // Whether the store can take a report now (for /healthz). Throws StoreError.
  virtual void Ping() = 0;
  virtual std::string Describe() const = 0;
};

// "" -> SQLite at DefaultSqlitePath(); "sqlite:PATH" -> SQLite file PATH;
// "postgresql://..." or "postgres://..." -> PostgreSQL with at most
// `connections` connections (one per serving thread is enough). Throws
// StoreError.
std::unique_ptr<ReportStore> OpenStore(const std::string& url, size_t connections = 16);

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& path);
std::unique_ptr<ReportStore> OpenPostgresStore(const std::string& url, size_t max_connections);

// $XDG_STATE_HOME/kestrova/reports.sqlite (~/.local/state when unset); the
// folder is created private.
std::string DefaultSqlitePath();

// Now, in the form StoredReport::received uses.
std::string UtcNow();

}  // namespace service
