#include "service/server.h"

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <thread>

#include "match/match.h"

namespace service {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr const char* kPlain = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json";

// A plain-text answer: a refusal or a short notice. The report page reads
// it from a file:// page, so it may be read from any origin; it holds only
// what the request itself said.
Answer Plain(int status, const std::string& message) {
  Answer a;
  a.status = status;
  a.content_type = kPlain;
  a.body = message + "\n";
  a.headers.emplace_back("Access-Control-Allow-Origin", "*");
  return a;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string MediaType(const std::string& content_type) {
  std::string type = content_type.substr(0, content_type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  return Lower(type);
}

bool WantsJson(const Request& req) {
  return req.accept.find("application/json") != std::string::npos &&
         req.accept.find("text/html") == std::string::npos;
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

std::string Path(const std::string& target) {
  return target.substr(0, target.find('?'));
}

// The scan id of /reports/ID or /api/reports/ID; nullopt for other paths.
std::optional<std::string> ReportPathId(const std::string& path, bool* json) {
  for (const char* prefix : {"/api/reports/", "/reports/"}) {
    const std::string p = prefix;
    if (path.compare(0, p.size(), p) == 0 && path.find('/', p.size()) == std::string::npos) {
      *json = p == "/api/reports/";
      return path.substr(p.size());
    }
  }
  return std::nullopt;
}

enum class Route { kPost, kLookup, kHealth, kPackage, kNotFound, kNotAllowed };

constexpr std::string_view kPackagePrefix = "/packages/";

Route RouteOf(const std::string& method, const std::string& path) {
  bool json = false;
  if (path == "/report") return method == "POST" ? Route::kPost : Route::kNotAllowed;
  if (path == "/healthz")
    return method == "GET" || method == "HEAD" ? Route::kHealth : Route::kNotAllowed;
  if (path.compare(0, kPackagePrefix.size(), kPackagePrefix) == 0)
    return method == "GET" || method == "HEAD" ? Route::kPackage : Route::kNotAllowed;
  if (ReportPathId(path, &json))
    return method == "GET" || method == "HEAD" ? Route::kLookup : Route::kNotAllowed;
  return Route::kNotFound;
}

// What the header alone decides: too many lines, a compressed body, a path
// or method no route has (those need no worker, so they are answered even
// when every worker waits). Sets the body limit for the route.
template <class Parser>
std::optional<Answer> RefuseHeader(Parser& parser) {
  const auto& msg = parser.get();
  if (static_cast<size_t>(std::distance(msg.begin(), msg.end())) > kMaxHeaderCount) {
    return Plain(431,
                 "The request has more than " + std::to_string(kMaxHeaderCount) + " header lines.");
  }
  // Compressed bodies are not taken: a small one can expand past any limit.
  for (const auto& field : msg) {
    if (field.name() != http::field::content_encoding) continue;
    std::string coding = Lower(std::string(field.value()));
    while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) coding.pop_back();
    if (!coding.empty() && coding != "identity") {
      return Plain(415, "A compressed post is not accepted; send it without Content-Encoding.");
    }
  }
  const Route route = RouteOf(std::string(msg.method_string()), Path(std::string(msg.target())));
  if (route != Route::kPost) parser.body_limit(64 * 1024);
  if (route == Route::kNotFound) return Plain(404, "Not found.");
  if (route == Route::kNotAllowed) return Plain(405, "Method not allowed.");
  return std::nullopt;
}

// The answer to a request the parser refused; nullopt when there is none to
// give (the client went away).
std::optional<Answer> ReadError(const boost::system::error_code& ec) {
  if (ec == http::error::header_limit) {
    return Plain(431, "The request headers are larger than " +
                          std::to_string(kMaxHeaderBytes / 1024) + " KiB.");
  }
  if (ec == http::error::body_limit) return Plain(413, "The post is larger than 16 MiB.");
  if (ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
      ec == asio::error::eof || ec == http::error::partial_message ||
      ec == http::error::end_of_stream) {
    return std::nullopt;
  }
  return Plain(400, "The request could not be read: " + ec.message() + ".");
}

Request ToRequest(http::request<http::string_body>& msg) {
  Request request;
  request.method = msg.method() == http::verb::head ? "GET" : std::string(msg.method_string());
  request.target = std::string(msg.target());
  request.content_type = std::string(msg[http::field::content_type]);
  request.accept = std::string(msg[http::field::accept]);
  request.body = std::move(msg.body());
  return request;
}

}  // namespace

// The network side: one thread, an acceptor, a session per connection.
class Service::Network {
 public:
  Network(Service& service, const ServiceOptions& options)
      : service_(service),
        options_(options),
        acceptor_(io_),
        grace_(io_),
        retry_(io_),
        workers_(options.threads == 0 ? 1 : options.threads) {}

  int Bind(const std::string& host, int port) {
    boost::system::error_code ec;
    auto address = asio::ip::make_address(host, ec);
    if (ec) throw std::runtime_error("Cannot listen on " + host + ": not an address");
    tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("Cannot listen on " + host + ":" + std::to_string(port) + ": " +
                               ec.message() +
                               " (address in use, or not an address of this computer)");
    }
    return acceptor_.local_endpoint().port();
  }

  void Run() {
    Accept();
    io_.run();
    workers_.join();
  }

  void Stop() {
    asio::post(io_, [this] { BeginStop(); });
  }

  size_t Open() const { return open_.load(); }

  class Session;

 private:
  friend class Session;

  void Accept();
  void BeginStop();
  void Closed(Session* session, const std::string& client);
  // Runs the request on a worker; false when too many wait already.
  bool Submit(std::function<void()> job) {
    if (in_work_.load() >= options_.threads + options_.queued) return false;
    ++in_work_;
    asio::post(workers_, [this, job = std::move(job), guard = asio::make_work_guard(io_)] {
      job();
      --in_work_;
    });
    return true;
  }

  Service& service_;
  const ServiceOptions& options_;
  asio::io_context io_{1};
  tcp::acceptor acceptor_;
  asio::steady_timer grace_;
  asio::steady_timer retry_;
  asio::thread_pool workers_;
  std::atomic<size_t> in_work_{0};
  std::atomic<size_t> open_{0};
  bool stopping_ = false;
  std::map<std::string, size_t> per_client_;    // only on the network thread
  std::list<std::weak_ptr<Session>> sessions_;  // likewise
};

class Service::Network::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Network& net, tcp::socket socket, std::string client)
      : net_(net), socket_(std::move(socket)), timer_(net.io_), client_(std::move(client)) {}

  void Start() { ReadRequest(true); }

  // On stop: a connection between requests is closed now; one in the middle
  // of a request is left its grace.
  void Stopping() {
    if (idle_) Close();
  }
  void Close() {
    if (closed_) return;
    closed_ = true;
    boost::system::error_code ec;
    timer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    net_.Closed(this, client_);
  }

 private:
  void Arm(int seconds) {
    const uint64_t armed = ++generation_;
    timed_out_ = false;
    timer_.expires_after(std::chrono::seconds(seconds));
    timer_.async_wait([self = shared_from_this(), armed](const boost::system::error_code& ec) {
      if (ec || armed != self->generation_ || self->closed_) return;
      self->timed_out_ = true;
      boost::system::error_code ignored;
      self->socket_.cancel(ignored);
    });
  }
  void Disarm() {
    ++generation_;
    timer_.cancel();
  }

  void ReadRequest(bool first) {
    if (closed_) return;
    if (net_.stopping_) return Close();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    parser_->body_limit(kMaxBodyBytes);
    timed_out_ = false;
    if (first || buffer_.size() > 0) return ReadHeader();
    // Between requests: wait for the next one's first byte, for the
    // keep-alive time only.
    idle_ = true;
    Arm(net_.options_.keep_alive_s);
    socket_.async_wait(tcp::socket::wait_read,
                       [self = shared_from_this()](const boost::system::error_code& ec) {
                         self->idle_ = false;
                         if (ec || self->timed_out_ || self->closed_) return self->Close();
                         self->ReadHeader();
                       });
  }

  void ReadHeader() {
    if (closed_) return;
    if (net_.stopping_ && buffer_.size() == 0) return Close();
    Arm(net_.options_.header_timeout_s);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](const boost::system::error_code& ec,
                                                        size_t) { self->OnHeader(ec); });
  }

  void OnHeader(const boost::system::error_code& ec) {
    if (closed_) return;
    if (timed_out_) {
      // Silence before anything of a request is no error to answer.
      if (!parser_->got_some() && buffer_.size() == 0) return Close();
      return Reply(Plain(408, "The request headers did not arrive in time."), false);
    }
    if (ec) {
      auto refusal = ReadError(ec);
      return refusal ? Reply(std::move(*refusal), false) : Close();
    }
    const auto& msg = parser_->get();
    if (auto refusal = RefuseHeader(*parser_)) return Reply(std::move(*refusal), false);
    const auto expect = msg[http::field::expect];
    if (!parser_->is_done() && beast::iequals(expect, "100-continue")) {
      auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                        msg.version());
      Arm(net_.options_.write_timeout_s);
      return http::async_write(
          socket_, *interim,
          [self = shared_from_this(), interim](const boost::system::error_code& ec, size_t) {
            if (ec || self->timed_out_) return self->Close();
            self->ReadBody();
          });
    }
    ReadBody();
  }

  void ReadBody() {
    if (parser_->is_done()) return Dispatch();
    Arm(net_.options_.body_timeout_s);
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](const boost::system::error_code& ec, size_t) {
                       self->OnBody(ec);
                     });
  }

  void OnBody(const boost::system::error_code& ec) {
    if (closed_) return;
    if (timed_out_) return Reply(Plain(408, "The request body did not arrive in time."), false);
    if (ec) {
      auto refusal = ReadError(ec);
      return refusal ? Reply(std::move(*refusal), false) : Close();
    }
    Dispatch();
  }

  void Dispatch() {
    Disarm();
    auto& msg = parser_->get();
    keep_alive_ = msg.keep_alive();
    version_ = msg.version();
    head_ = msg.method() == http::verb::head;
    auto request = std::make_shared<Request>(ToRequest(msg));
    parser_.reset();
    auto self = shared_from_this();
    const bool taken = net_.Submit([self, request] {
      Answer answer = self->net_.service_.Handle(*request);
      request->body.clear();
      request->body.shrink_to_fit();
      asio::post(self->net_.io_, [self, answer = std::move(answer)]() mutable {
        self->Reply(std::move(answer), self->keep_alive_);
      });
    });
    if (!taken) Reply(Plain(503, "The service is busy; please send it again in a moment."), false);
  }

  // What follows a written answer: the next request on a kept connection,
  // else a lingering close. `res` is held until the write ends.
  template <class Response>
  auto AfterWrite(std::shared_ptr<Response> res, bool keep_alive) {
    return
        [self = shared_from_this(), res, keep_alive](const boost::system::error_code& ec, size_t) {
          if (ec || self->timed_out_) return self->Close();
          if (!keep_alive) return self->Linger();
          self->Disarm();
          self->ReadRequest(false);
        };
  }

  void Reply(Answer answer, bool keep_alive) {
    if (closed_) return;
    keep_alive = keep_alive && !net_.stopping_;
    if (!answer.body_file.empty()) return ReplyFile(std::move(answer), keep_alive);
    auto res = std::make_shared<http::response<http::string_body>>();
    res->version(version_);
    res->result(static_cast<unsigned>(answer.status));
    res->set(http::field::content_type, answer.content_type);
    res->set("X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : answer.headers) res->set(name, value);
    res->body() = std::move(answer.body);
    res->prepare_payload();
    if (head_) {
      // The length of the answer a GET would have, without its body.
      const auto length = res->body().size();
      res->body().clear();
      res->content_length(length);
    }
    res->keep_alive(keep_alive);
    Arm(net_.options_.write_timeout_s);
    http::async_write(socket_, *res, AfterWrite(res, keep_alive));
  }

  // A file answer streams from disk. Its deadline grows with its size (at
  // 16 KiB/s, the slowest link served), so a large package can finish but a
  // client that stops reading cannot hold the connection for ever.
  void ReplyFile(Answer answer, bool keep_alive) {
    auto res = std::make_shared<http::response<http::file_body>>();
    beast::error_code ec;
    res->body().open(answer.body_file.c_str(), beast::file_mode::scan, ec);
    if (ec) return Reply(Plain(404, "No such package."), keep_alive);
    res->version(version_);
    res->result(static_cast<unsigned>(answer.status));
    res->set(http::field::content_type, answer.content_type);
    res->set("X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : answer.headers) res->set(name, value);
    res->prepare_payload();
    // A HEAD answer keeps the file open too: only its header is written, but
    // the serializer's writer expects an open file.
    const std::uint64_t length = res->body().size();
    res->keep_alive(keep_alive);
    Arm(net_.options_.write_timeout_s +
        static_cast<int>(std::min<std::uint64_t>(head_ ? 0 : length / (16 * 1024), 24 * 3600)));
    auto done = AfterWrite(res, keep_alive);
    if (head_) {
      auto header = std::make_shared<http::response_serializer<http::file_body>>(*res);
      http::async_write_header(
          socket_, *header,
          [header, done](const boost::system::error_code& e, size_t n) { done(e, n); });
    } else {
      http::async_write(socket_, *res, done);
    }
  }

  // Closing with unread input makes the kernel reset the connection, and
  // the client may lose the answer it was just sent: the sending side is
  // shut, and what still comes is read and dropped, within bounds.
  void Linger() {
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    drained_ = 0;
    Arm(2);
    Drain();
  }
  void Drain() {
    if (!drain_) drain_ = std::make_unique<std::array<char, 16384>>();
    socket_.async_read_some(
        asio::buffer(*drain_),
        [self = shared_from_this()](const boost::system::error_code& ec, size_t n) {
          self->drained_ += n;
          if (ec || self->timed_out_ || self->drained_ > kMaxBodyBytes + (4u << 20))
            return self->Close();
          self->Drain();
        });
  }

  Network& net_;
  std::unique_ptr<std::array<char, 16384>> drain_;
  size_t drained_ = 0;
  tcp::socket socket_;
  asio::steady_timer timer_;
  std::string client_;
  beast::flat_buffer buffer_{kMaxHeaderBytes * 4};
  std::optional<http::request_parser<http::string_body>> parser_;
  uint64_t generation_ = 0;
  bool timed_out_ = false;
  bool closed_ = false;
  bool idle_ = false;
  bool keep_alive_ = false;
  bool head_ = false;
  unsigned version_ = 11;
};

void Service::Network::Accept() {
  acceptor_.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
    if (stopping_) return;
    if (ec) {
      if (ec == asio::error::operation_aborted) return;
      // Out of descriptors and the like: try again shortly rather than spin.
      retry_.expires_after(std::chrono::milliseconds(100));
      retry_.async_wait([this](const boost::system::error_code& e) {
        if (!e) Accept();
      });
      return;
    }
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    std::string client = socket.remote_endpoint(ignored).address().to_string();
    auto refuse = [&](const char* line) {
      // One short answer without waiting for the client; then the end.
      socket.non_blocking(true, ignored);
      socket.write_some(asio::buffer(std::string(line)), ignored);
      socket.shutdown(tcp::socket::shutdown_both, ignored);
      socket.close(ignored);
    };
    if (open_.load() >= options_.max_connections) {
      refuse(
          "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; "
          "charset=utf-8\r\nContent-Length: 32\r\n"
          "Connection: close\r\n\r\nToo many connections; try later.");
    } else if (per_client_[client] >= options_.per_client) {
      refuse(
          "HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/plain; "
          "charset=utf-8\r\nContent-Length: 41\r\n"
          "Connection: close\r\n\r\nToo many connections from your address.\r\n");
    } else {
      ++per_client_[client];
      ++open_;
      auto session = std::make_shared<Session>(*this, std::move(socket), client);
      sessions_.push_back(session);
      session->Start();
    }
    Accept();
  });
}

void Service::Network::Closed(Session* session, const std::string& client) {
  auto it = per_client_.find(client);
  if (it != per_client_.end() && --it->second == 0) per_client_.erase(it);
  --open_;
  sessions_.remove_if([session](const std::weak_ptr<Session>& w) {
    auto s = w.lock();
    return !s || s.get() == session;
  });
  if (stopping_ && open_ == 0) grace_.cancel();
}

void Service::Network::BeginStop() {
  if (stopping_) return;
  stopping_ = true;
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  retry_.cancel();
  std::vector<std::shared_ptr<Session>> live;
  for (auto& w : sessions_) {
    if (auto s = w.lock()) live.push_back(s);
  }
  for (auto& s : live) s->Stopping();
  if (open_ == 0) return;
  grace_.expires_after(std::chrono::seconds(options_.grace_s));
  grace_.async_wait([this](const boost::system::error_code& ec) {
    if (ec) return;
    std::vector<std::shared_ptr<Session>> rest;
    for (auto& w : sessions_) {
      if (auto s = w.lock()) rest.push_back(s);
    }
    for (auto& s : rest) s->Close();
  });
}

Service::Service(ServiceOptions options, ReportStore& store, CatalogSource& catalog,
                 std::ostream& log)
    : options_(std::move(options)),
      store_(store),
      catalog_(catalog),
      log_(log),
      network_(std::make_unique<Network>(*this, options_)) {}

Service::~Service() = default;

int Service::Bind() {
  return network_->Bind(options_.host, options_.port);
}
void Service::Run() {
  network_->Run();
}
void Service::Stop() {
  network_->Stop();
}
size_t Service::OpenConnections() const {
  return network_->Open();
}

void Service::Log(const std::string& line) {
  std::lock_guard lock(log_mutex_);
  log_ << line << std::endl;
}

std::optional<std::string> Service::Cached(const std::string& key, uint64_t generation) {
  std::lock_guard lock(cache_mutex_);
  auto it = cache_.find(key);
  if (it == cache_.end() || it->second.generation != generation) return std::nullopt;
  return it->second.body;
}

void Service::Remember(const std::string& key, uint64_t generation, const std::string& body) {
  if (body.size() > options_.cache_bytes / 4) return;  // one page never takes most of it
  std::lock_guard lock(cache_mutex_);
  auto [it, fresh] = cache_.try_emplace(key, CacheEntry{generation, body});
  if (!fresh) {
    cache_size_ -= it->second.body.size();
    it->second = CacheEntry{generation, body};
  } else {
    cache_order_.push_back(key);
  }
  cache_size_ += body.size();
  while (cache_size_ > options_.cache_bytes && !cache_order_.empty()) {
    auto old = cache_.find(cache_order_.front());
    cache_order_.pop_front();
    if (old == cache_.end()) continue;
    cache_size_ -= old->second.body.size();
    cache_.erase(old);
  }
}

Answer Service::Handle(const Request& request) {
  Answer answer;
  try {
    const std::string path = Path(request.target);
    bool json = false;
    switch (RouteOf(request.method, path)) {
      case Route::kPost:
        answer = Post(request);
        break;
      case Route::kLookup: {
        std::string id = *ReportPathId(path, &json);
        answer = Lookup(id, json || WantsJson(request));
        break;
      }
      case Route::kHealth:
        answer = Health();
        break;
      case Route::kPackage:
        answer = PackageDownload(path);
        break;
      case Route::kNotFound:
        answer = Plain(404, "Not found.");
        break;
      case Route::kNotAllowed:
        answer = Plain(405, "Method not allowed.");
        break;
    }
  } catch (const std::exception& e) {
    Log("error: " + request.method + " " + Path(request.target) + ": " + e.what());
    answer = Plain(500, "The service failed on this request.");
  }
  return answer;
}

Answer Service::Post(const Request& req) {
  FormFields fields;
  StoredReport stored;
  match::Report report;
  try {
    const std::string type = MediaType(req.content_type);
    if (type == "application/x-www-form-urlencoded") {
      fields = DecodeUrlEncoded(req.body);
    } else if (type == "multipart/form-data") {
      fields = DecodeMultipart(req.body, MultipartBoundary(req.content_type));
    } else {
      return Plain(
          415, "A report is posted as application/x-www-form-urlencoded or multipart/form-data.");
    }
    stored.post = ValidatePost(fields, &report);
  } catch (const PostTooLargeError& e) {
    return Plain(413, e.what());
  } catch (const PostError& e) {
    return Plain(400, e.what());
  }
  fields.clear();
  fields.shrink_to_fit();
  stored.received = UtcNow();
  PutResult put;
  try {
    put = store_.Put(stored);
  } catch (const StoreError& e) {
    Log(std::string("store: ") + e.what());
    return Plain(503, "The report could not be stored; please send it again later.");
  }
  Answer answer;
  // The page reads the answer from a file:// page; the answer holds
  // nothing the sender did not just send.
  auto cors = [](Answer& a) {
    if (a.content_type != kPlain) a.headers.emplace_back("Access-Control-Allow-Origin", "*");
    a.headers.emplace_back("Cache-Control", "no-store");
    return a;
  };
  if (put == PutResult::kConflict) {
    Answer a = Plain(
        409, "A different report with scan id " + stored.post.scan_id +
                 " is stored already; a stored report is never replaced. Run a new scan to send "
                 "another.");
    return cors(a);
  }
  // Stored from here on: whatever fails now, the sender must not be told
  // to send it again.
  try {
    if (put == PutResult::kAlreadyStored) {
      // "Send again" of the same report: the answer the first post had.
      if (auto again = store_.Get(stored.post.scan_id)) stored = std::move(*again);
    }
    auto [index, generation] = catalog_.CurrentWithGeneration();
    if (!index) throw std::runtime_error("the catalog is not loaded");
    auto results = match::MatchReport(report, *index);
    const bool ready = AttachPackages(results);
    const bool json = WantsJson(req);
    answer.status = 200;
    answer.content_type = json ? kJson : kHtml;
    answer.body =
        json ? JsonText(ReportJson(stored, report, results)) : match::ResultsPage(report, results);
    // A page offering a package still being prepared is not kept: the next
    // visit shows its download.
    if (ready) Remember(stored.post.scan_id + (json ? "/json" : "/html"), generation, answer.body);
  } catch (const std::exception& e) {
    Log("error: results of stored report " + stored.post.scan_id + ": " + e.what());
    answer = Plain(202, "The report is stored (scan id " + stored.post.scan_id +
                            "), but its results are not ready; open /reports/" +
                            stored.post.scan_id + " later.");
  }
  return cors(answer);
}

Answer Service::Lookup(const std::string& raw_id, bool json) {
  std::string id = raw_id;
  // Only the 32 digits reach the store, and only as a bound value.
  if (!IsScanId(id)) return Plain(404, "No such report.");
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto [index, generation] = catalog_.CurrentWithGeneration();
  if (!index) return Plain(503, "The driver catalog is not loaded yet; please try again later.");
  const std::string key = id + (json ? "/json" : "/html");
  Answer answer;
  answer.headers.emplace_back("Cache-Control", "no-store");
  answer.content_type = json ? kJson : kHtml;
  // A stored report never changes, so its results change only with the catalog.
  if (auto hit = Cached(key, generation)) {
    answer.body = std::move(*hit);
    return answer;
  }
  std::optional<StoredReport> stored;
  try {
    stored = store_.Get(id);
  } catch (const StoreError& e) {
    Log(std::string("store: ") + e.what());
    return Plain(503, "The report store cannot be read just now.");
  }
  if (!stored) return Plain(404, "No report with scan id " + id + ".");
  match::Report report;
  try {
    report = match::ReadReportFields(stored->post.drivers, stored->post.hwid);
  } catch (const match::ReportError& e) {
    // Stored reports were read once already; a reader change may still refuse one.
    return Plain(500, std::string("The stored report cannot be read: ") + e.what());
  }
  auto results = match::MatchReport(report, *index);
  const bool ready = AttachPackages(results);
  answer.body =
      json ? JsonText(ReportJson(*stored, report, results)) : match::ResultsPage(report, results);
  if (ready) Remember(key, generation, answer.body);
  return answer;
}

bool Service::AttachPackages(std::vector<match::DeviceResult>& results) {
  if (packages_ == nullptr) return true;
  BuildBudget budget;  // per request: the rest is built in the background
  bool ready = true;
  match::AttachPackages(results, [&](const catalog::ModelLine& line) {
    std::string why;
    auto offer = packages_->Offer(line, &why, &budget);
    if (!offer) Log("package of " + line.catalog_dir + "/" + line.inf + " not offered: " + why);
    if (offer && offer->preparing) ready = false;
    return offer;
  });
  return ready;
}

// GET /packages/<sha256>.zip: only a name the store built can be asked for,
// so no path leads outside its folder.
Answer Service::PackageDownload(const std::string& path) {
  const std::string zip =
      packages_ == nullptr
          ? ""
          : packages_->ZipFor(std::string_view(path).substr(kPackagePrefix.size()));
  if (zip.empty()) return Plain(404, "No such package.");
  Answer answer;
  answer.content_type = "application/zip";
  answer.body_file = zip;
  const std::string sha = path.substr(kPackagePrefix.size(), 64);
  answer.headers.emplace_back("ETag", "\"" + sha + "\"");
  answer.headers.emplace_back("Cache-Control", "public, max-age=31536000, immutable");
  answer.headers.emplace_back("Content-Disposition",
                              "attachment; filename=\"driver-" + sha.substr(0, 12) + ".zip\"");
  return answer;
}

Answer ServeRaw(Service& service, std::string_view raw) {
  http::request_parser<http::string_body> parser;
  parser.eager(true);
  parser.header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
  parser.body_limit(kMaxBodyBytes);
  boost::system::error_code ec;
  bool header_checked = false;
  while (!parser.is_done()) {
    const size_t used = parser.put(asio::buffer(raw.data(), raw.size()), ec);
    raw.remove_prefix(used);
    if (ec == http::error::need_more) {
      ec = {};
      if (used == 0 && raw.empty()) {
        if (!parser.got_some()) return Plain(400, "The request is incomplete.");
        parser.put_eof(ec);
        if (!ec) ec = http::error::partial_message;
      } else if (used == 0) {
        ec = http::error::partial_message;  // no progress
      }
    } else if (!ec && used == 0 && !parser.is_done()) {
      ec = http::error::partial_message;
    }
    if (!ec && parser.is_header_done() && !header_checked) {
      header_checked = true;
      if (auto refusal = RefuseHeader(parser)) return *refusal;
    }
    if (ec) return ReadError(ec).value_or(Plain(400, "The request is incomplete."));
  }
  if (!header_checked) {
    if (auto refusal = RefuseHeader(parser)) return *refusal;
  }
  return service.Handle(ToRequest(parser.get()));
}

Answer Service::Health() {
  if (!catalog_.Current()) return Plain(503, "catalog not loaded");
  try {
    store_.Ping();
  } catch (const StoreError& e) {
    return Plain(503, std::string("store unavailable: ") + e.what());
  }
  return Plain(200, "ok");
}

}  // namespace service
