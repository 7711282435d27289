// The HTTP front: receives the report page's post, stores it, and answers
// with the drivers for its devices.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "service/catalog_source.h"
#include "service/store.h"

namespace httplib {
class Server;
}

namespace service {

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  size_t threads = 16;
  size_t queued = 64;         // accepted connections waiting for a thread
  int read_timeout_s = 10;    // a client silent this long is dropped
  int write_timeout_s = 10;
  int keep_alive_s = 5;
};

class Service {
 public:
  Service(ServiceOptions options, ReportStore& store, CatalogSource& catalog, std::ostream& log);
  ~Service();

  // Binds the listening socket; returns the port. Throws std::runtime_error.
  int Bind();
  // Serves until Stop(); requests in flight are finished before it returns.
  void Run();
  // Stops accepting; safe from any thread, also before Run() has begun
  // (then Run() returns at once). Run() must be called.
  void Stop();

 private:
  void Routes();
  void Log(const std::string& line);

  ServiceOptions options_;
  ReportStore& store_;
  CatalogSource& catalog_;
  std::ostream& log_;
  std::mutex log_mutex_;
  std::unique_ptr<httplib::Server> server_;
  std::atomic<bool> run_returned_{false};
};

}  // namespace service
