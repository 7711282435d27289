#include "catalog/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

std::int64_t CtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

// File systems known to give a folder a new modification time whenever an
// entry is added, removed or renamed in it, at once and for every client.
// Network and user-space file systems, FAT and overlays are left out: there
// a folder's times may lag, be coarse, or change beneath without notice.
bool KeepsFolderTimes(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
      return true;
    default:
      return false;
  }
}

// `at` + "/" + `name`, as a path relative to an open folder; "." is the folder itself.
std::string Under(const std::string& at, std::string_view name) {
  if (at == ".") return std::string(name);
  std::string out;
  out.reserve(at.size() + 1 + name.size());
  out.append(at).append(1, '/').append(name);
  return out;
}

std::string Child(const std::string& relative, std::string_view name) {
  return relative.empty() ? std::string(name) : Under(relative, name);
}

bool ByPath(const WalkedInf& a, const WalkedInf& b) {
  return a.relative < b.relative;
}

// Subfolder names in the order of the paths under them: "a-b/x" comes
// before "a/x", as '-' comes before '/'.
bool ByPathUnder(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  if (const int c = a.compare(0, n, b, 0, n); c != 0) return c < 0;
  if (a.size() == b.size()) return false;
  return a.size() < b.size() ? static_cast<unsigned char>(b[n]) > '/'
                             : static_cast<unsigned char>(a[n]) < '/';
}

// What all walkers of one walk share.
struct WalkContext {
  std::string root;
  const FolderStates* known = nullptr;  // null: every folder is read
  bool record = false;                  // whether folder states are kept at all
  dev_t device = 0;                     // the catalog folder's: a mount inside is not trusted
  std::int64_t trusted_before = 0;      // folders changed since are read again next time
};

// One thread's share of a walk: what it found, and its own entry buffer.
struct Walker {
  explicit Walker(const WalkContext& walk_context) : context(walk_context) {
    if (context.known != nullptr) names.reserve(context.known->Count());
  }

  const WalkContext& context;
  std::vector<char> buffer = std::vector<char>(1 << 15);
  std::vector<WalkedInf>* infs = nullptr;  // where found files go
  FolderNames names;
  std::string* states = nullptr;  // where folder records go
  size_t folders_read = 0, folders_reused = 0;
  FolderStates::Folder before;  // scratch for a known folder's record
  size_t cursor = 0;            // into the known records: where the next folder's likely is

  std::string FullPath(const std::string& relative) const {
    return relative.empty() ? context.root : Under(context.root, relative);
  }

  // One folder, `name` relative to the open folder `parent_fd` (several
  // components where the folders between were not opened). A folder whose
  // times stand as an earlier walk recorded them is not read again: its
  // known files are stat'ed and its known subfolders walked. With `defer`,
  // the folder's subfolders are handed back instead of walked.
  void Folder(int parent_fd, const std::string& name, const std::string& relative, int depth,
              std::vector<std::string>* defer = nullptr) {
    if (context.known != nullptr) {
      struct stat st {};
      if (::fstatat(parent_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ELOOP || errno == ENOTDIR || errno == EACCES || errno == ENOENT) return;
        throw CatalogError("cannot read catalog folder " + FullPath(relative) + ": " +
                           std::strerror(errno));
      }
      if (!S_ISDIR(st.st_mode)) return;  // folder links are not followed
      if (st.st_dev == context.device && context.known->Find(relative, before, cursor) &&
          before.mtime == MtimeNs(st) && before.ctime == CtimeNs(st)) {
        Reuse(parent_fd, name, relative, depth, defer);
        return;
      }
    }
    Read(parent_fd, name, relative, depth, defer);
  }

  void Reuse(int parent_fd, const std::string& name, const std::string& relative, int depth,
             std::vector<std::string>* defer) {
    ++folders_reused;
    if (states != nullptr) states->append(before.record);
    std::vector<std::string>* here = nullptr;
    std::string path;
    for (const FolderStates::Entry& e : before.files) {
      if (!here) here = &names[relative];
      here->push_back(platform::AsciiUpper(e.name));
      if (!e.inf && !e.archive) continue;
      path = Under(name, e.name);
      struct stat st {};
      if (::fstatat(parent_fd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        continue;
      WalkedInf f;
      f.relative = Child(relative, e.name);
      f.size = st.st_size;
      f.mtime = MtimeNs(st);
      f.archive = e.archive;
      infs->push_back(std::move(f));
    }
    if (here) std::sort(here->begin(), here->end());
    std::vector<std::string> subfolders(before.subfolders.begin(), before.subfolders.end());
    Subfolders(parent_fd, name, relative, depth, std::move(subfolders), defer);
  }

  void Subfolders(int fd, const std::string& name, const std::string& relative, int depth,
                  std::vector<std::string> subfolders, std::vector<std::string>* defer) {
    if (defer) {
      *defer = std::move(subfolders);
      return;
    }
    if (depth >= kMaxFolderDepth) return;
    for (const std::string& sub : subfolders)
      Folder(fd, name.empty() ? sub : Under(name, sub), Child(relative, sub), depth + 1);
  }

  // A folder opened and read by the type readdir gives: a catalog of a
  // hundred thousand packages is as many folders, so a path lookup or stat
  // per entry would be most of the cost.
  void Read(int parent_fd, const std::string& name, const std::string& relative, int depth,
            std::vector<std::string>* defer) {
    const std::string path = FullPath(relative);
    const int fd =
        ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // Folder links are not followed; unreadable folders are passed over.
      if (errno == ELOOP || errno == ENOTDIR || errno == EACCES || errno == ENOENT) return;
      throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
    }
    const platform::Fd closer(fd);
    ++folders_read;
    // The times before the entries: a change while they are read makes newer ones.
    struct stat folder_st {};
    bool may_record = context.record && ::fstat(fd, &folder_st) == 0 &&
                      folder_st.st_dev == context.device &&
                      std::max(MtimeNs(folder_st), CtimeNs(folder_st)) < context.trusted_before;
    std::vector<FolderStates::Entry> entries_kept;
    std::vector<std::string> kept_names;  // owns entries_kept's names
    EntryReader entries(fd, buffer);
    const size_t first_inf = infs->size();
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
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          may_record = false;
          continue;
        }
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
      // A link's target may change with the folder's times left alone.
      if (link || type != DT_REG) may_record = false;
      const bool archive = IsArchiveName(entry);
      const bool inf = !archive && IsInfName(entry);
      if (link || !have_stat) {
        if (!link && !archive && !inf) {
          if (type == DT_REG) {
            if (!here) here = &names[relative];
            here->push_back(platform::AsciiUpper(entry));
            if (may_record) kept_names.emplace_back(entry);
          }
          continue;
        }
        if (::fstatat(fd, e->d_name, &st, 0) != 0) continue;  // a link is followed here
      }
      if (!S_ISREG(st.st_mode)) continue;
      if (!here) here = &names[relative];
      here->push_back(platform::AsciiUpper(entry));
      if (may_record) kept_names.emplace_back(entry);
      if (!archive && !inf) continue;
      // A file link is followed only while it stays inside the catalog folder.
      if (link && !StaysInside(path + "/" + e->d_name, context.root)) continue;
      WalkedInf f;
      f.relative = Child(relative, entry);
      f.size = st.st_size;
      f.mtime = MtimeNs(st);
      f.archive = archive;
      infs->push_back(std::move(f));
    }
    if (failed)
      throw CatalogError("cannot read catalog folder " + path + ": " + std::strerror(errno));
    if (here) std::sort(here->begin(), here->end());
    // In name order, files and subfolders alike, the walk gives its files in
    // path order as a rule, and the final sort has nothing to do.
    std::sort(infs->begin() + static_cast<std::ptrdiff_t>(first_inf), infs->end(), ByPath);
    std::sort(subfolders.begin(), subfolders.end(), ByPathUnder);
    if (may_record && states != nullptr) {
      std::sort(kept_names.begin(), kept_names.end());
      entries_kept.reserve(kept_names.size());
      for (const std::string& n : kept_names) {
        const bool archive = IsArchiveName(n);
        entries_kept.push_back({n, !archive && IsInfName(n), archive});
      }
      FolderStates::Encode(*states, relative, MtimeNs(folder_st), CtimeNs(folder_st), subfolders,
                           entries_kept);
    }
    Subfolders(fd, "", relative, depth, std::move(subfolders), defer);
  }
};

}  // namespace

FolderWalk WalkCatalogFolder(const std::string& folder, const FolderStates* known) {
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

  WalkContext context;
  context.root = walk.root;
  struct stat root_st {};
  context.record = KeepsFolderTimes(root_fd) && ::fstat(root_fd, &root_st) == 0;
  context.device = root_st.st_dev;
  context.known = context.record && known != nullptr && !known->Empty() ? known : nullptr;
  context.trusted_before = WalkClockNow() - kFolderTrustMarginNs;

  // A walk is a few system calls per folder, and a large catalog is a
  // hundred thousand package folders: the root's subfolders are shared out
  // between the processors, each walker taking the next one free. Each
  // subfolder's records are kept apart, so that the same catalog gives the
  // same records whichever walker took what.
  Walker first(context);
  std::string root_states;
  first.states = context.record ? &root_states : nullptr;
  first.infs = &walk.infs;
  std::vector<std::string> top;
  first.Folder(root_fd, ".", "", 0, &top);
  std::vector<std::string> top_states(context.record ? top.size() : 0);
  std::vector<std::vector<WalkedInf>> top_infs(top.size());
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  const auto threads = static_cast<unsigned>(std::clamp<size_t>(top.size(), 1, cores));
  std::vector<Walker> walkers;
  walkers.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) walkers.emplace_back(context);
  std::atomic<size_t> next{0};
  std::vector<std::exception_ptr> errors(threads);
  auto work = [&](Walker& w, std::exception_ptr& error) {
    try {
      for (size_t i; (i = next.fetch_add(1)) < top.size();) {
        w.states = context.record ? &top_states[i] : nullptr;
        w.infs = &top_infs[i];
        w.Folder(root_fd, top[i], top[i], 1);
      }
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

  walk.states = std::move(root_states);
  for (const std::string& s : top_states) walk.states += s;
  walk.folders_read = first.folders_read;
  walk.folders_reused = first.folders_reused;
  size_t files = walk.infs.size();
  for (const std::vector<WalkedInf>& infs : top_infs) files += infs.size();
  walk.infs.reserve(files);
  for (std::vector<WalkedInf>& infs : top_infs)
    walk.infs.insert(walk.infs.end(), std::make_move_iterator(infs.begin()),
                     std::make_move_iterator(infs.end()));
  walk.names = std::move(first.names);
  size_t folders = walk.names.size();
  for (const Walker& w : walkers) folders += w.names.size();
  walk.names.reserve(folders);
  for (Walker& w : walkers) {
    walk.folders_read += w.folders_read;
    walk.folders_reused += w.folders_reused;
    walk.names.merge(w.names);
  }
  // A folder's files come before its subfolders', where path order may
  // interleave them ("a/b.inf" < "a/c/x.inf" < "a/d.inf"): then a sort puts
  // them right, and the same catalog gives the same list.
  if (!std::is_sorted(walk.infs.begin(), walk.infs.end(), ByPath))
    std::sort(walk.infs.begin(), walk.infs.end(), ByPath);
  return walk;
}

}  // namespace catalog
