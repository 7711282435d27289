#include "service/service_cli.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "service/catalog_source.h"
#include "service/packages.h"
#include "service/store.h"

namespace service {
namespace {

constexpr const char* kUsage =
    "usage: kestrova-service --catalog DIR [--catalog DIR]... [--listen HOST:PORT] [--store URL]\n"
    "                        [--index FILE] [--threads N] [--per-client N] [--header-timeout S]\n"
    "                        [--body-timeout S]\n"
    "  --listen HOST:PORT  where to listen (default 127.0.0.1:8080; port 0 picks a free one)\n"
    "  --catalog DIR       a folder of INF files (searched recursively); at least one\n"
    "  --store URL         sqlite:PATH or postgresql://... (default: SQLite under "
    "$XDG_STATE_HOME/kestrova/)\n"
    "  --index FILE        the catalog index file (default: under $XDG_CACHE_HOME/kestrova/)\n"
    "  --threads N         requests served at once (default 16)\n"
    "  --per-client N      open connections from one address (default 16)\n"
    "  --header-timeout S  time for a request's line and headers, whole (default 10)\n"
    "  --body-timeout S    time for a request's body, whole (default 60)\n"
    "Signals: SIGHUP re-reads changed INF files; SIGTERM or SIGINT stops accepting, gives the "
    "requests in\n"
    "flight 10 s to finish, closes the rest and exits.\n";

bool ParseListen(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(digits);
  return port <= 65535;
}

// A whole number of at most `digits` digits, at least 1.
std::optional<int> PositiveNumber(const std::string& text, size_t digits) {
  if (text.empty() || text.size() > digits ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  int n = std::stoi(text);
  if (n < 1) return std::nullopt;
  return n;
}

// Signals are taken by one thread with sigwait from the start, so that a
// stop during the first indexing of a large catalog is not held back until
// it ends. Every other thread, the server's included, starts with them
// blocked, since the mask is set before any is made.
class SignalWaiter {
 public:
  explicit SignalWaiter(std::ostream& err) : err_(err) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGHUP);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    signal(SIGPIPE, SIG_IGN);
    thread_ = std::thread([this] { Wait(); });
  }
  // Ends the waiter before anything it may touch is destroyed.
  ~SignalWaiter() {
    {
      std::lock_guard lock(control_);
      done_ = true;
    }
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }
  SignalWaiter(const SignalWaiter&) = delete;
  SignalWaiter& operator=(const SignalWaiter&) = delete;

  void Serving(CatalogSource* catalog, Service* server) {
    std::lock_guard lock(control_);
    catalog_ = catalog;
    server_ = server;
  }

 private:
  void Wait() {
    for (;;) {
      int sig = 0;
      if (sigwait(&signals_, &sig) != 0) continue;
      std::unique_lock lock(control_);
      if (done_) return;
      if (sig == SIGHUP) {
        if (!catalog_) continue;
        CatalogSource* catalog = catalog_;
        lock.unlock();
        // The destructor joins this thread before the catalog goes away.
        try {
          catalog->Refresh();
        } catch (const std::exception& e) {
          err_ << "kestrova-service: catalog refresh failed, the previous index stays: " << e.what()
               << std::endl;
        }
      } else if (server_) {
        server_->Stop();
        return;
      } else {
        // Nothing is served yet; an index update stopped here is rolled back.
        err_ << "kestrova-service: stopped before serving" << std::endl;
        std::_Exit(0);
      }
    }
  }

  std::ostream& err_;
  sigset_t signals_;
  std::mutex control_;
  bool done_ = false;
  CatalogSource* catalog_ = nullptr;
  Service* server_ = nullptr;
  std::thread thread_;
};

}  // namespace

ParsedArguments ParseServiceArguments(const std::vector<std::string>& args) {
  ServiceSettings settings;
  ServiceOptions& options = settings.options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::string v;
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") return HelpWanted{};
    if (arg == "--listen") {
      if (!value(v) || !ParseListen(v, options.host, options.port))
        return UsageError{"--listen needs HOST:PORT"};
    } else if (arg == "--catalog") {
      if (!value(v) || v.empty()) return UsageError{"--catalog needs a folder"};
      settings.catalogs.push_back(v);
    } else if (arg == "--store") {
      if (!value(settings.store_url)) return UsageError{"--store needs an address"};
    } else if (arg == "--index") {
      if (!value(settings.index_path) || settings.index_path.empty())
        return UsageError{"--index needs a file"};
    } else if (arg == "--threads") {
      std::optional<int> n = value(v) ? PositiveNumber(v, 3) : std::nullopt;
      if (!n) return UsageError{"--threads needs a number from 1 to 999"};
      options.threads = static_cast<size_t>(*n);
    } else if (arg == "--header-timeout" || arg == "--body-timeout") {
      std::optional<int> n = value(v) ? PositiveNumber(v, 4) : std::nullopt;
      if (!n) return UsageError{arg + " needs a number of seconds from 1 to 9999"};
      (arg == "--header-timeout" ? options.header_timeout_s : options.body_timeout_s) = *n;
    } else if (arg == "--per-client") {
      std::optional<int> n = value(v) ? PositiveNumber(v, 4) : std::nullopt;
      if (!n) return UsageError{"--per-client needs a number from 1 to 9999"};
      options.per_client = static_cast<size_t>(*n);
    } else {
      return UsageError{"unknown argument \"" + arg + "\""};
    }
  }
  if (settings.catalogs.empty()) return UsageError{"give at least one --catalog folder"};
  return settings;
}

int RunServiceCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed = ParseServiceArguments(args);
  if (std::holds_alternative<HelpWanted>(parsed)) {
    out << kUsage;
    return 0;
  }
  if (const UsageError* usage = std::get_if<UsageError>(&parsed)) {
    err << "kestrova-service: " << usage->reason << "\n" << kUsage;
    return 2;
  }
  const ServiceSettings& settings = std::get<ServiceSettings>(parsed);

  std::unique_ptr<ReportStore> store;
  std::optional<CatalogSource> catalog;
  std::optional<PackageStore> packages;
  std::optional<Service> server;
  SignalWaiter waiter(err);  // declared after what it may touch, so it ends first
  try {
    store = OpenStore(settings.store_url, settings.options.threads);
    catalog.emplace(settings.catalogs, settings.index_path, err);
    waiter.Serving(&*catalog, nullptr);
    catalog->Refresh();
    server.emplace(settings.options, *store, *catalog, err);
    // The package zips live beside the catalog index, in the cache folder.
    packages.emplace(
        (std::filesystem::path(catalog->index_path()).parent_path() / "packages").string());
    server->ServePackages(&*packages);
    int port = server->Bind();
    err << "kestrova-service: reports go to " << store->Describe() << "\n";
    // The one line on stdout: scripts read the address from it.
    const std::string& host = settings.options.host;
    out << "listening on http://" << (host.find(':') != std::string::npos ? "[" + host + "]" : host)
        << ":" << port << std::endl;
    waiter.Serving(&*catalog, &*server);
    server->Run();
    err << "kestrova-service: stopped" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    err << "kestrova-service: " << e.what() << std::endl;
    return 1;
  }
}

}  // namespace service
