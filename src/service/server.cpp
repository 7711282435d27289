#include "service/server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <thread>

#include "match/match.h"

namespace service {
namespace {

// A fixed set of threads and a bounded queue of accepted connections: when
// every thread is busy and the queue is full, the accept loop waits, so the
// kernel's backlog (not this process's memory) absorbs a burst.
class BoundedPool : public httplib::TaskQueue {
 public:
  BoundedPool(size_t threads, size_t queued) : max_queued_(queued == 0 ? 1 : queued) {
    for (size_t i = 0; i < (threads == 0 ? 1 : threads); ++i) {
      threads_.emplace_back([this] { Work(); });
    }
  }
  ~BoundedPool() override = default;

  void enqueue(std::function<void()> fn) override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return jobs_.size() < max_queued_; });
    jobs_.push_back(std::move(fn));
    lock.unlock();
    ready_.notify_one();
  }

  // Finishes every accepted connection, then joins.
  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      shutdown_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !jobs_.empty() || shutdown_; });
        if (jobs_.empty()) return;
        fn = std::move(jobs_.front());
        jobs_.pop_front();
      }
      room_.notify_one();
      fn();
    }
  }

  size_t max_queued_;
  std::vector<std::thread> threads_;
  std::deque<std::function<void()>> jobs_;
  bool shutdown_ = false;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
};

// The library listens with a backlog of 5: a burst of clients connecting at
// once overflows it, and their handshakes are dropped and retried a second
// later or reset. Calling listen() again on the bound socket widens it.
class HttpServer : public httplib::Server {
 public:
  void WidenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

constexpr const char* kPlain = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json";

void Plain(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(message + "\n", kPlain);
}

std::string MediaType(const httplib::Request& req) {
  std::string type = req.get_header_value("Content-Type");
  type = type.substr(0, type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

bool WantsJson(const httplib::Request& req) {
  std::string accept = req.get_header_value("Accept");
  return accept.find("application/json") != std::string::npos && accept.find("text/html") == std::string::npos;
}

nlohmann::json ReportJson(const StoredReport& stored, const match::Report& report,
                          const std::vector<match::DeviceResult>& results) {
  nlohmann::json out = match::ResultsJson(report, results);
  out["scanid"] = stored.post.scan_id;
  out["hardware_id"] = report.hardware_id;
  out["received"] = stored.received;
  out["setup_log"] = stored.post.setup_log;
  return out;
}

// Text from INF files of unknown quality must not turn an answer into an
// exception: bytes that are no UTF-8 become U+FFFD.
std::string JsonText(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

Service::Service(ServiceOptions options, ReportStore& store, CatalogSource& catalog, std::ostream& log)
    : options_(std::move(options)), store_(store), catalog_(catalog), log_(log),
      server_(std::make_unique<HttpServer>()) {
  Routes();
}

Service::~Service() = default;

int Service::Bind() {
  auto& s = *server_;
  const size_t threads = options_.threads, queued = options_.queued;
  s.new_task_queue = [threads, queued] { return new BoundedPool(threads, queued); };
  s.set_read_timeout(options_.read_timeout_s, 0);
  s.set_write_timeout(options_.write_timeout_s, 0);
  s.set_keep_alive_timeout(options_.keep_alive_s);
  s.set_payload_max_length(kMaxBodyBytes);
  // Headers and body go out in separate writes: without this, Nagle and the
  // peer's delayed ACK add 40 ms to every answer on a kept-alive connection.
  s.set_tcp_nodelay(true);
  int port = options_.port;
  if (port == 0) {
    port = s.bind_to_any_port(options_.host);
    if (port < 0) throw std::runtime_error("Cannot listen on " + options_.host + ": no free port");
  } else if (!s.bind_to_port(options_.host, port)) {
    throw std::runtime_error("Cannot listen on " + options_.host + ":" + std::to_string(port) +
                             " (address in use, or not an address of this computer)");
  }
  static_cast<HttpServer&>(s).WidenBacklog();
  return port;
}

void Service::Log(const std::string& line) {
  std::lock_guard lock(log_mutex_);
  log_ << line << std::endl;
}

void Service::Run() {
  server_->listen_after_bind();
  run_returned_ = true;
}

void Service::Stop() {
  // The library ignores a stop that comes before its accept loop runs, and
  // the stop would be lost: wait until it runs (or has ended).
  while (!server_->is_running() && !run_returned_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
}

void Service::Routes() {
  auto& s = *server_;

  // The body is read here rather than by the library: it would refuse a
  // form body over 8 KiB (its fixed limit for the parameters it parses),
  // and a real report is far larger. The 16 MiB limit still applies.
  s.Post("/report", [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
    // The page reads the answer from a file:// page; the answer holds
    // nothing the sender did not just send.
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Cache-Control", "no-store");
    FormFields fields;
    std::string type = MediaType(req);
    bool read = false;
    try {
      if (type == "application/x-www-form-urlencoded") {
        std::string body;
        read = reader([&](const char* data, size_t size) {
          body.append(data, size);
          return true;
        });
        if (read) fields = DecodeUrlEncoded(body);
      } else if (type == "multipart/form-data") {
        read = reader(
            [&](const httplib::MultipartFormData& part) {
              fields.emplace_back(part.name, std::string());
              return true;
            },
            [&](const char* data, size_t size) {
              if (!fields.empty()) fields.back().second.append(data, size);
              return true;
            });
      } else {
        Plain(res, 415, "A report is posted as application/x-www-form-urlencoded or multipart/form-data.");
        return;
      }
    } catch (const PostError& e) {
      Plain(res, 400, e.what());
      return;
    }
    if (!read) {
      // Too large (the library set 413), cut short, or a broken multipart body.
      if (res.status < 400) Plain(res, 400, "The post could not be read whole.");
      return;
    }
    StoredReport stored;
    match::Report report;
    try {
      stored.post = ValidatePost(fields, &report);
    } catch (const PostError& e) {
      Plain(res, 400, e.what());
      return;
    }
    stored.received = UtcNow();
    try {
      store_.Put(stored);
    } catch (const StoreError& e) {
      Log(std::string("store: ") + e.what());
      Plain(res, 503, "The report could not be stored; please send it again later.");
      return;
    }
    auto index = catalog_.Current();
    auto results = match::MatchReport(report, *index);
    if (WantsJson(req)) {
      res.set_content(JsonText(ReportJson(stored, report, results)), kJson);
    } else {
      res.set_content(match::ResultsPage(report, results), kHtml);
    }
  });

  auto lookup = [this](const httplib::Request& req, httplib::Response& res, bool json) {
    std::string id = req.matches[1];
    // Only the 32 digits reach the store, and only as a bound value.
    if (!IsScanId(id)) {
      Plain(res, 404, "No such report.");
      return;
    }
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::optional<StoredReport> stored;
    try {
      stored = store_.Get(id);
    } catch (const StoreError& e) {
      Log(std::string("store: ") + e.what());
      Plain(res, 503, "The report store cannot be read just now.");
      return;
    }
    if (!stored) {
      Plain(res, 404, "No report with scan id " + id + ".");
      return;
    }
    res.set_header("Cache-Control", "no-store");
    match::Report report;
    try {
      report = match::ReadReportFields(stored->post.drivers, stored->post.hwid);
    } catch (const match::ReportError& e) {
      // Stored reports were read once already; a reader change may still refuse one.
      Plain(res, 500, std::string("The stored report cannot be read: ") + e.what());
      return;
    }
    auto results = match::MatchReport(report, *catalog_.Current());
    if (json) {
      res.set_content(JsonText(ReportJson(*stored, report, results)), kJson);
    } else {
      res.set_content(match::ResultsPage(report, results), kHtml);
    }
  };
  s.Get(R"(/api/reports/([^/]*))", [lookup](const httplib::Request& req, httplib::Response& res) {
    lookup(req, res, true);
  });
  s.Get(R"(/reports/([^/]*))", [lookup](const httplib::Request& req, httplib::Response& res) {
    lookup(req, res, false);
  });

  s.Get("/healthz", [this](const httplib::Request&, httplib::Response& res) {
    try {
      store_.Ping();
    } catch (const StoreError& e) {
      Plain(res, 503, std::string("store unavailable: ") + e.what());
      return;
    }
    Plain(res, 200, "ok");
  });

  s.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
  });

  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    switch (res.status) {
      case 404: Plain(res, 404, "Not found."); break;
      case 413: Plain(res, 413, "The post is larger than 16 MiB."); break;
      case 405: Plain(res, 405, "Method not allowed."); break;
      default: Plain(res, res.status, "The request could not be served."); break;
    }
  });

  s.set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "unknown error";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    Log("error: " + req.method + " " + req.path + ": " + what);
    Plain(res, 500, "The service failed on this request.");
  });
}

}  // namespace service
