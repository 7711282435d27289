// The HTTP front: receives the report page's post, stores it, and answers
// with the drivers for its devices.
//
// One thread does all network input and output without blocking, so clients
// that are slow, silent or hostile cost a socket and a bounded buffer each,
// never a thread; every phase of a request has its own deadline. Whole
// requests go to a fixed set of worker threads (store, match, render).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "service/catalog_source.h"
#include "service/packages.h"
#include "service/store.h"

namespace service {

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = 8080;                 // 0: any free port
  size_t threads = 16;             // requests handled at once
  size_t queued = 64;              // whole requests waiting for a thread; more get 503
  size_t per_client = 16;          // open connections from one address; more get 429
  size_t max_connections = 1024;   // open connections in all; more get 503
  int header_timeout_s = 10;       // the request line and headers, whole
  int body_timeout_s = 60;         // the body, whole
  int write_timeout_s = 10;        // the answer, whole
  int keep_alive_s = 5;            // an idle kept-alive connection
  int grace_s = 10;                // after Stop(), for requests in flight
  size_t cache_bytes = 64u << 20;  // rendered results of stored reports
};

// Bounds on what a client may send, whatever it sends.
inline constexpr size_t kMaxHeaderBytes = 16 * 1024;  // request line and headers together
inline constexpr size_t kMaxHeaderCount = 100;

// A request as the network side hands it to a worker.
struct Request {
  std::string method;
  std::string target;        // path and query as sent
  std::string content_type;  // the Content-Type header
  std::string accept;        // the Accept header
  std::string body;
};

struct Answer {
  int status = 200;
  std::string content_type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // Set instead of body: a file sent as it is read, never held in memory.
  std::string body_file;
};

class Service {
 public:
  Service(ServiceOptions options, ReportStore& store, CatalogSource& catalog, std::ostream& log);
  ~Service();

  // Binds the listening socket; returns the port. Throws std::runtime_error.
  int Bind();
  // Serves until Stop(): then stops accepting, lets requests in flight run
  // for the grace period, closes what is left and returns.
  void Run();
  // Safe from any thread, also before Run() has begun (then Run() returns
  // at once). Run() must be called.
  void Stop();

  // One whole request, as a worker thread answers it. Never throws.
  Answer Handle(const Request& request);

  // Offer each candidate's package for download from `packages` (set
  // before Run(); without it no candidate has a package).
  void ServePackages(PackageStore* packages) { packages_ = packages; }

  // Open connections, for tests and the log.
  size_t OpenConnections() const;

 private:
  class Network;
  Answer Post(const Request& request);
  Answer Lookup(const std::string& id, bool json);
  Answer Health();
  Answer PackageDownload(const std::string& path);
  // False when a package is still being prepared.
  bool AttachPackages(std::vector<match::DeviceResult>& results);
  void Log(const std::string& line);

  // Rendered results of stored reports, per catalog generation.
  struct CacheEntry {
    uint64_t generation;
    std::string body;
  };
  std::optional<std::string> Cached(const std::string& key, uint64_t generation);
  void Remember(const std::string& key, uint64_t generation, const std::string& body);

  ServiceOptions options_;
  ReportStore& store_;
  CatalogSource& catalog_;
  std::ostream& log_;
  std::mutex log_mutex_;
  std::mutex cache_mutex_;
  std::unordered_map<std::string, CacheEntry> cache_;
  std::deque<std::string> cache_order_;  // oldest first
  size_t cache_size_ = 0;
  std::unique_ptr<Network> network_;
  PackageStore* packages_ = nullptr;
};

// Answers one request given as the bytes a client sent, with the same
// limits and refusals as the network side (for the fuzz target).
Answer ServeRaw(Service& service, std::string_view raw);

}  // namespace service
