#include "catalog/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "catalog/archive.h"
#include "catalog/catalog.h"
#include "platform/linux/fd.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

using FolderNames = std::unordered_map<std::string, std::vector<std::string>>;

// True when `path`, links resolved, lies inside `root` (itself resolved).
bool StaysInside(const std::string& path, const std::string& root) {
  std::error_code ec;
  const std::string real = fs::canonical(path, ec).generic_string();
  return !ec && real.size() > root.size() && real.compare(0, root.size(), root) == 0 &&
         real[root.size()] == '/';
}

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A folder's entries read straight from getdents64 into a buffer its walker
// keeps: a DIR stream would cost two more system calls per folder and a
// buffer of its own. Each folder's entries are all read before the walk goes
// into its subfolders, so one buffer serves every level.
class EntryReader {
 public:
  EntryReader(int fd, std::vector<char>& buffer) : fd_(fd), buffer_(buffer) {}
  // The next entry; nullptr at the end, or on an error (`failed`, errno set).
  const struct dirent64* Next(bool& failed) {
    failed = false;
    if (at_ >= filled_) {
      const ssize_t n = ::getdents64(fd_, buffer_.data(), buffer_.size());
      if (n <= 0) {
        failed = n < 0;
        return nullptr;
      }
      filled_ = static_cast<size_t>(n);
      at_ = 0;
    }
    const auto* e = reinterpret_cast<const struct dirent64*>(buffer_.data() + at_);
    at_ += e->d_reclen;
    return e;
  }

 private:
  int fd_;
  std::vector<char>& buffer_;
  size_t at_ = 0, filled_ = 0;
};

// One thread's share of a walk: what it found, and its own entry buffer.
struct Walker {
  explicit Walker(const std::string& walk_root) : root(walk_root) {}

  const std::string& root;
  std::vector<char> buffer = std::vector<char>(1 << 15);
  std::vector<WalkedInf> infs;
  FolderNames names;

  // One folder, opened relative to its parent and read by the type readdir
  // gives: a catalog of a hundred thousand packages is as many folders, so a
  // path lookup or stat per entry would be most of the cost. With `defer`,
  // the folder's subfolders are handed back instead of walked.
  void Folder(int parent_fd, const char* name, const std::string& relative, int depth,
              std::vector<std::string>* defer = nullptr) {
    const std::string path = relative.empty() ? root : root + "/" + relative;
    const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // Folder links are not followed; unreadable folders are passed over.
      if (errno == ELOOP || errno == ENOTDIR || errno == EACCES || errno == ENOENT) return;
      throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
    }
    const platform::Fd closer(fd);
    EntryReader entries(fd, buffer);
    std::vector<std::string>* here = nullptr;
    std::vector<std::string> subfolders;
    bool failed = false;
    while (const struct dirent64* e = entries.Next(failed)) {
      const std::string_view entry = e->d_name;
      if (entry == "." || entry == "..") continue;
      unsigned char type = e->d_type;
      struct stat st {};
      bool have_stat = false;
      if (type == DT_UNKNOWN) {
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        have_stat = S_ISREG(st.st_mode);
      }
      if (type == DT_DIR) {
        // "x.zip!" would make its files' paths read as an archive's members.
        if (entry.back() == '!' && IsArchiveName(entry.substr(0, entry.size() - 1))) continue;
        subfolders.emplace_back(entry);
        continue;
      }
      const bool link = type == DT_LNK;
      const bool archive = IsArchiveName(entry);
      if (link || !have_stat) {
        if (!link && !archive && !IsInfName(entry)) {
          if (type == DT_REG) {
            if (!here) here = &names[relative];
            here->push_back(platform::AsciiUpper(entry));
          }
          continue;
        }
        if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;  // a link is followed here
      }
      if (!S_ISREG(st.st_mode)) continue;
      if (!here) here = &names[relative];
      here->push_back(platform::AsciiUpper(entry));
      if (!archive && !IsInfName(entry)) continue;
      // A file link is followed only while it stays inside the catalog folder.
      if (link && !StaysInside(path + "/" + e->d_name, root)) continue;
      WalkedInf f;
      f.relative = relative.empty() ? std::string(entry) : relative + "/" + std::string(entry);
      f.path = path + "/" + std::string(entry);
      f.size = st.st_size;
      f.mtime = MtimeNs(st);
      f.archive = archive;
      infs.push_back(std::move(f));
    }
    if (failed)
      throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
    if (here) std::sort(here->begin(), here->end());
    if (defer) {
      *defer = std::move(subfolders);
      return;
    }
    if (depth >= kMaxFolderDepth) return;
    for (const std::string& sub : subfolders)
      Folder(fd, sub.c_str(), relative.empty() ? sub : relative + "/" + sub, depth + 1);
  }
};

}  // namespace

FolderWalk WalkCatalogFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path absolute = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec || !fs::is_directory(absolute, ec))
    throw CatalogError("catalog folder " + folder + " is not a folder");
  FolderWalk walk;
  walk.root = absolute.generic_string();
  while (walk.root.size() > 1 && walk.root.back() == '/') walk.root.pop_back();
  const int root_fd = ::open(walk.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_fd < 0)
    throw CatalogError("cannot read catalog folder " + walk.root + ": " + std::strerror(errno));
  const platform::Fd closer(root_fd);

  // A walk is a few system calls per folder, and a large catalog is a
  // hundred thousand package folders: the root's subfolders are shared out
  // between the processors, each walker taking the next one free.
  Walker first(walk.root);
  std::vector<std::string> top;
  first.Folder(root_fd, ".", "", 0, &top);
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  const auto threads = static_cast<unsigned>(std::clamp<size_t>(top.size(), 1, cores));
  std::vector<Walker> walkers;
  walkers.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) walkers.emplace_back(walk.root);
  std::atomic<size_t> next{0};
  std::vector<std::exception_ptr> errors(threads);
  auto work = [&](Walker& w, std::exception_ptr& error) {
    try {
      for (size_t i; (i = next.fetch_add(1)) < top.size();)
        w.Folder(root_fd, top[i].c_str(), top[i], 1);
    } catch (...) {
      error = std::current_exception();
      next = top.size();  // the others stop too
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t)
    pool.emplace_back(work, std::ref(walkers[t - 1]), std::ref(errors[t]));
  work(first, errors[0]);
  for (std::thread& t : pool) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);

  walk.infs = std::move(first.infs);
  walk.names = std::move(first.names);
  for (Walker& w : walkers) {
    walk.infs.insert(walk.infs.end(), std::make_move_iterator(w.infs.begin()),
                     std::make_move_iterator(w.infs.end()));
    walk.names.merge(w.names);
  }
  // Threads finish in any order: sorted, the same catalog gives the same list.
  std::sort(walk.infs.begin(), walk.infs.end(),
            [](const WalkedInf& a, const WalkedInf& b) { return a.relative < b.relative; });
  return walk;
}

}  // namespace catalog
