// kestrova-service: receives the report page's post, stores it, and answers
// with the drivers for the computer's devices.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/server.h"

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

int Usage(const std::string& why) {
  std::cerr << "kestrova-service: " << why << "\n" << kUsage;
  return 2;
}

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

}  // namespace

int main(int argc, char** argv) {
  service::ServiceOptions options;
  std::vector<std::string> catalogs;
  std::string store_url, index_path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--listen") {
      if (!value(v) || !ParseListen(v, options.host, options.port))
        return Usage("--listen needs HOST:PORT");
    } else if (arg == "--catalog") {
      if (!value(v) || v.empty()) return Usage("--catalog needs a folder");
      catalogs.push_back(v);
    } else if (arg == "--store") {
      if (!value(store_url)) return Usage("--store needs an address");
    } else if (arg == "--index") {
      if (!value(index_path) || index_path.empty()) return Usage("--index needs a file");
    } else if (arg == "--threads") {
      if (!value(v) || v.empty() || v.size() > 3 ||
          v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1) {
        return Usage("--threads needs a number from 1 to 999");
      }
      options.threads = static_cast<size_t>(std::stoi(v));
    } else if (arg == "--header-timeout" || arg == "--body-timeout") {
      if (!value(v) || v.empty() || v.size() > 4 ||
          v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1) {
        return Usage(arg + " needs a number of seconds from 1 to 9999");
      }
      (arg == "--header-timeout" ? options.header_timeout_s : options.body_timeout_s) =
          std::stoi(v);
    } else if (arg == "--per-client") {
      if (!value(v) || v.empty() || v.size() > 4 ||
          v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1) {
        return Usage("--per-client needs a number from 1 to 9999");
      }
      options.per_client = static_cast<size_t>(std::stoi(v));
    } else {
      return Usage("unknown argument \"" + arg + "\"");
    }
  }
  if (catalogs.empty()) return Usage("give at least one --catalog folder");

  // Signals are taken by one thread with sigwait; every other thread,
  // including the server's, starts with them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Taken by one thread from the start, so that a stop during the first
  // indexing of a large catalog is not held back until it ends.
  std::mutex control;
  bool done = false;
  service::CatalogSource* live_catalog = nullptr;
  service::Service* live_server = nullptr;
  std::thread waiter([&] {
    for (;;) {
      int sig = 0;
      if (sigwait(&signals, &sig) != 0) continue;
      std::unique_lock lock(control);
      if (done) return;
      if (sig == SIGHUP) {
        if (!live_catalog) continue;
        lock.unlock();
        // main() joins this thread before the catalog goes away.
        try {
          live_catalog->Refresh();
        } catch (const std::exception& e) {
          std::cerr << "kestrova-service: catalog refresh failed, the previous index stays: "
                    << e.what() << std::endl;
        }
      } else if (live_server) {
        live_server->Stop();
        return;
      } else {
        // Nothing is served yet; an index update stopped here is rolled back.
        std::cerr << "kestrova-service: stopped before serving" << std::endl;
        std::_Exit(0);
      }
    }
  });
  // Ends the waiter before anything it may touch is destroyed.
  struct Join {
    std::thread& thread;
    std::mutex& control;
    bool& done;
    ~Join() {
      {
        std::lock_guard lock(control);
        done = true;
      }
      pthread_kill(thread.native_handle(), SIGTERM);
      thread.join();
    }
  };

  std::unique_ptr<service::ReportStore> store;
  std::optional<service::CatalogSource> catalog;
  std::optional<service::Service> server;
  std::optional<service::PackageStore> packages;
  Join join{waiter, control, done};
  try {
    store = service::OpenStore(store_url, options.threads);
    catalog.emplace(catalogs, index_path, std::cerr);
    {
      std::lock_guard lock(control);
      live_catalog = &*catalog;
    }
    catalog->Refresh();
    server.emplace(options, *store, *catalog, std::cerr);
    // The package zips live beside the catalog index, in the cache folder.
    packages.emplace(
        (std::filesystem::path(catalog->index_path()).parent_path() / "packages").string());
    server->ServePackages(&*packages);
    int port = server->Bind();
    std::cerr << "kestrova-service: reports go to " << store->Describe() << "\n";
    // The one line on stdout: scripts read the address from it.
    std::cout << "listening on http://"
              << (options.host.find(':') != std::string::npos ? "[" + options.host + "]"
                                                              : options.host)
              << ":" << port << std::endl;
    {
      std::lock_guard lock(control);
      live_server = &*server;
    }
    server->Run();
    std::cerr << "kestrova-service: stopped" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kestrova-service: " << e.what() << std::endl;
    return 1;
  }
}
