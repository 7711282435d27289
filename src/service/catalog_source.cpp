#include "service/catalog_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace service {
namespace {

// A private copy of `from` at `to` (an empty file when `from` is missing).
void CopyPrivate(const std::string& from, const std::string& to) {
  std::remove(to.c_str());
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) throw catalog::CatalogError("Cannot create " + to + ": " + std::strerror(errno));
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = true;
  if (in >= 0) {
    char buf[1 << 16];
    ssize_t n;
    while (ok && (n = ::read(in, buf, sizeof buf)) != 0) {
      if (n < 0) {
        ok = errno == EINTR;
        continue;
      }
      for (ssize_t done = 0; ok && done < n;) {
        const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
        if (w < 0 && errno != EINTR) ok = false;
        if (w > 0) done += w;
      }
    }
    ::close(in);
  }
  if (::close(out) != 0) ok = false;
  if (!ok) {
    std::remove(to.c_str());
    throw catalog::CatalogError("Cannot copy the index to " + to + ": " + std::strerror(errno));
  }
}

}  // namespace

CatalogSource::CatalogSource(std::vector<std::string> dirs, std::string index_path,
                             std::ostream& log)
    : dirs_(std::move(dirs)),
      index_path_(index_path.empty() ? catalog::DefaultIndexPath(dirs_) : std::move(index_path)),
      log_(log) {}

void CatalogSource::Refresh() {
  std::lock_guard refreshing(refresh_mutex_);
  // The update works on a copy beside the index, which then takes the
  // index's name at once: requests keep reading the old one undisturbed
  // (never "database is locked"), and a failed update leaves it as it was.
  const std::string next = index_path_ + ".next";
  CopyPrivate(index_path_, next);
  size_t malformed = 0;
  catalog::UpdateStats stats;
  try {
    stats = catalog::UpdateIndex(
        next, dirs_,
        [&](const std::string& file, int line, const std::string& reason) {
          // Only a few lines: a catalog of thousands of files can have many.
          if (++malformed <= 20)
            log_ << "catalog: " << file << ":" << line << ": " << reason << "\n";
        },
        [](size_t, size_t) {});
    if (std::rename(next.c_str(), index_path_.c_str()) != 0) {
      throw catalog::CatalogError("Cannot replace " + index_path_ + ": " + std::strerror(errno));
    }
  } catch (...) {
    std::remove(next.c_str());
    throw;
  }
  auto index = std::make_shared<const catalog::Index>(catalog::Index::Open(index_path_));
  log_ << "catalog: " << stats.scanned << " INF files (" << stats.reread << " read, "
       << stats.removed << " removed, " << stats.malformed << " malformed), " << index->LineCount()
       << " model lines" << std::endl;
  std::lock_guard lock(mutex_);
  current_ = std::move(index);
  ++generation_;
}

std::shared_ptr<const catalog::Index> CatalogSource::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

std::pair<std::shared_ptr<const catalog::Index>, uint64_t> CatalogSource::CurrentWithGeneration()
    const {
  std::lock_guard lock(mutex_);
  return {current_, generation_};
}

}  // namespace service
