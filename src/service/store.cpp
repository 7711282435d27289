#include "service/store.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace service {
namespace {

bool StartsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

void MakeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      throw StoreError("Cannot create the folder " + part + ": " + std::strerror(errno));
    }
  }
}

}  // namespace

std::string DefaultSqlitePath() {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home && home[0]) {
    base = std::string(home) + "/.local/state";
  } else {
    throw StoreError("Neither XDG_STATE_HOME nor HOME is set; give --store sqlite:PATH.");
  }
  std::string dir = base + "/kestrova";
  MakeDirs(dir);
  return dir + "/reports.sqlite";
}

std::unique_ptr<ReportStore> OpenStore(const std::string& url, size_t connections) {
  if (url.empty()) return OpenSqliteStore(DefaultSqlitePath());
  if (StartsWith(url, "sqlite:")) {
    std::string path = url.substr(7);
    if (path.empty()) throw StoreError("The store address \"sqlite:\" names no file.");
    return OpenSqliteStore(path);
  }
  if (StartsWith(url, "postgresql://") || StartsWith(url, "postgres://"))
    return OpenPostgresStore(url, connections);
  throw StoreError("Unknown store address \"" + url + "\"; use sqlite:PATH or postgresql://...");
}

std::string UtcNow() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms % 1000));
  return buf;
}

}  // namespace service
