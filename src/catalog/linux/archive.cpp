// Archives read with libarchive, member by member, straight from the file:
// a nested archive is read from its parent's decompressed stream.
#include "catalog/archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>

#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {
namespace {

constexpr size_t kBlock = 1 << 16;

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
using Reader = std::unique_ptr<archive, ArchiveFree>;

// Refusal of the archive being read, with its reason.
struct Refused {
  std::string reason;
};

Reader NewReader() {
  Reader a(archive_read_new());
  if (!a) throw CatalogError("out of memory");
  // Only the two formats a catalog holds: anything else is no archive here.
  archive_read_support_format_zip(a.get());
  archive_read_support_format_cab(a.get());
  return a;
}

std::string ErrorOf(archive* a) {
  const char* text = archive_error_string(a);
  return text != nullptr ? text : "unreadable";
}

// A member's name, '/' separators; "" for one that could lead outside the
// folder it is unpacked in (absolute, "..", a drive letter or stream).
std::string SafeName(archive_entry* e, std::string& raw) {
  const char* utf8 = archive_entry_pathname_utf8(e);
  const char* name = utf8 != nullptr ? utf8 : archive_entry_pathname(e);
  raw = name != nullptr ? name : "";
  std::string path = raw;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || path.size() > kMaxMemberName || path.front() == '/' ||
      path.find(':') != std::string::npos || path.find('\0') != std::string::npos)
    return "";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0) return "";
    start = end + 1;
  }
  return path;
}

bool IsInf(std::string_view name) {
  return name.size() > 4 && platform::EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".inf");
}

using Clock = std::chrono::steady_clock;

// The archive file, read with a deadline: skipping a member may mean
// decompressing it, so no cap on bytes alone bounds the time.
struct Source {
  int fd = -1;
  Clock::time_point deadline;
  std::string block = std::string(kBlock, '\0');
  bool late = false;
  ~Source() {
    if (fd >= 0) ::close(fd);
  }
};

la_ssize_t SourceRead(archive*, void* data, const void** buffer) {
  auto* s = static_cast<Source*>(data);
  if (Clock::now() > s->deadline) {
    s->late = true;
    return -1;
  }
  const ssize_t n = ::read(s->fd, s->block.data(), s->block.size());
  if (n < 0) return -1;
  *buffer = s->block.data();
  return n;
}

la_int64_t SourceSeek(archive*, void* data, la_int64_t offset, int whence) {
  const off_t at = ::lseek(static_cast<Source*>(data)->fd, offset, whence);
  return at < 0 ? ARCHIVE_FATAL : at;
}

la_int64_t SourceSkip(archive*, void* data, la_int64_t request) {
  auto* s = static_cast<Source*>(data);
  const off_t from = ::lseek(s->fd, 0, SEEK_CUR);
  if (from < 0 || ::lseek(s->fd, request, SEEK_CUR) < 0) return 0;
  return request;
}

// The source of a nested archive: the parent's data of the current member,
// at most kMaxNestedArchiveBytes of it.
struct Pull {
  archive* parent;
  Clock::time_point deadline;
  std::string block = std::string(kBlock, '\0');
  std::uint64_t pulled = 0;
  bool over = false;
  bool failed = false;
};

la_ssize_t PullBlock(archive*, void* data, const void** buffer) {
  auto* p = static_cast<Pull*>(data);
  if (Clock::now() > p->deadline) {
    p->over = true;
    return -1;
  }
  const la_ssize_t n = archive_read_data(p->parent, p->block.data(), p->block.size());
  if (n < 0) {
    p->failed = true;
    return -1;
  }
  p->pulled += static_cast<std::uint64_t>(n);
  if (p->pulled > kMaxNestedArchiveBytes) {
    p->over = true;
    return -1;
  }
  *buffer = p->block.data();
  return n;
}

// Shared by an archive and the one nested in it: the caps hold for both.
struct Budget {
  size_t members = 0;
  std::uint64_t inf_bytes = 0;
  Clock::time_point deadline = Clock::now() + std::chrono::seconds(kMaxArchiveSeconds);
};

// What a walk does with each file member (a nested archive not entered is
// one too); Member may read the member's data from `a`.
struct Visitor {
  virtual ~Visitor() = default;
  // `path` is the member's name inside the archive being walked.
  virtual void Member(archive* a, const std::string& path, std::uint64_t size) = 0;
  // A nested archive at `path` of the outer archive: whether to read into it.
  virtual bool EnterNested(const std::string& path) = 0;
  virtual void LeaveNested(const std::string& path, const Refused* refused) = 0;
};

void OpenFile(archive* a, const std::string& file, Source& source) {
  source.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (source.fd < 0) throw CatalogError(file + " cannot be read");
  archive_read_set_callback_data(a, &source);
  archive_read_set_read_callback(a, SourceRead);
  archive_read_set_seek_callback(a, SourceSeek);
  archive_read_set_skip_callback(a, SourceSkip);
  if (archive_read_open1(a) != ARCHIVE_OK)
    throw Refused{"cannot be read as a zip or cab: " + ErrorOf(a)};
}

[[noreturn]] void Late() {
  throw Refused{"takes longer than " + std::to_string(kMaxArchiveSeconds) + " s to read"};
}

// Walks every member of the open archive `a`. `stored` is what it takes in
// its parent (the file's size, or the nested member's), for the bomb check.
void Walk(archive* a, std::uint64_t stored, Budget& budget, Visitor& visit, int depth) {
  std::uint64_t claimed = 0;
  for (;;) {
    archive_entry* e = nullptr;
    const int rc = archive_read_next_header(a, &e);
    if (rc == ARCHIVE_EOF) return;
    if (Clock::now() > budget.deadline) Late();
    if (rc < ARCHIVE_WARN) throw Refused{"is corrupt or truncated: " + ErrorOf(a)};
    if (++budget.members > kMaxArchiveMembers)
      throw Refused{"holds more than " + std::to_string(kMaxArchiveMembers) + " members"};
    std::string raw;
    const std::string path = SafeName(e, raw);
    if (path.empty()) throw Refused{"member \"" + raw + "\" would be unpacked outside its folder"};
    if (archive_entry_is_encrypted(e)) throw Refused{"member " + path + " is encrypted"};
    if (archive_entry_filetype(e) != AE_IFREG) continue;  // folders, links: no package file
    const std::uint64_t size =
        archive_entry_size_is_set(e) ? static_cast<std::uint64_t>(archive_entry_size(e)) : 0;
    claimed += size;
    if (claimed > kExpansionFloor && claimed / kMaxExpansion > stored)
      throw Refused{"expands over " + std::to_string(kMaxExpansion) +
                    " times its size (an archive bomb)"};
    if (depth == 0 && IsArchiveName(path) && visit.EnterNested(path)) {
      Pull pull{a, budget.deadline};
      Reader inner = NewReader();
      try {
        if (archive_read_open(inner.get(), &pull, nullptr, PullBlock, nullptr) != ARCHIVE_OK)
          throw Refused{"cannot be read as a zip or cab: " + ErrorOf(inner.get())};
        Walk(inner.get(), std::max<std::uint64_t>(size, 1), budget, visit, depth + 1);
      } catch (const Refused& r) {
        if (pull.failed) throw Refused{"is corrupt or truncated: " + ErrorOf(a)};
        if (Clock::now() > budget.deadline) Late();
        // The parent's member cap counts nested members too.
        if (budget.members > kMaxArchiveMembers) throw;
        const Refused why =
            pull.over
                ? Refused{"is larger than " + std::to_string(kMaxNestedArchiveBytes >> 20) + " MiB"}
                : r;
        visit.LeaveNested(path, &why);
        continue;
      }
      visit.LeaveNested(path, nullptr);
      continue;
    }
    visit.Member(a, path, size);
  }
}

// Reads the current member's data into `out`, at most `cap` bytes.
void ReadData(archive* a, const std::string& path, std::uint64_t cap, std::string& out) {
  std::string block(kBlock, '\0');
  for (;;) {
    const la_ssize_t n = archive_read_data(a, block.data(), block.size());
    if (n < 0) throw Refused{"is corrupt or truncated: " + ErrorOf(a)};
    if (n == 0) return;
    if (out.size() + static_cast<size_t>(n) > cap)
      throw Refused{"member " + path + " is larger than " + std::to_string(cap >> 20) + " MiB"};
    out.append(block.data(), static_cast<size_t>(n));
  }
}

std::uint64_t SizeOf(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    throw CatalogError(file + " cannot be read");
  return static_cast<std::uint64_t>(st.st_size);
}

struct InfCollector : Visitor {
  ArchiveContents contents;
  Budget* budget = nullptr;
  std::string prefix;  // "b.cab!/" inside a nested archive
  std::vector<std::string> names;
  std::set<std::string> seen;

  void Member(archive* a, const std::string& path, std::uint64_t) override {
    names.push_back(platform::AsciiUpper(prefix + path));
    if (!prefix.empty() && IsArchiveName(path)) {
      contents.skipped.emplace_back(prefix + path,
                                    "archives nested more than one level deep are not read");
      return;
    }
    // A name held twice is read once: the index knows a member by its name.
    if (!IsInf(path) || !seen.insert(prefix + path).second) return;
    ArchiveInf inf{prefix + path, {}};
    ReadData(a, inf.member, kMaxInfMemberBytes, inf.bytes);
    budget->inf_bytes += inf.bytes.size();
    if (budget->inf_bytes > kMaxArchiveInfBytes)
      throw Refused{"holds more than " + std::to_string(kMaxArchiveInfBytes >> 20) +
                    " MiB of INF files"};
    contents.infs.push_back(std::move(inf));
  }
  bool EnterNested(const std::string& path) override {
    prefix = path + std::string(kArchiveSeparator);
    mark = {contents.infs.size(), names.size()};
    return true;
  }
  void LeaveNested(const std::string& path, const Refused* refused) override {
    if (refused != nullptr) {
      // What was read of a refused archive is dropped with it.
      contents.infs.resize(mark.first);
      names.resize(mark.second);
      contents.skipped.emplace_back(path, refused->reason);
    }
    // Its own name stays: a package may list an archive as one of its files.
    names.push_back(platform::AsciiUpper(path));
    prefix.clear();
  }
  std::pair<size_t, size_t> mark;
};

// Finds the container a path names: the file itself, or one of its nested
// archives, and hands that archive to `visit`.
struct Focus : Visitor {
  std::string nested;  // "" for the outer archive
  Visitor& inner;
  bool inside = false, found = false;
  Focus(std::string n, Visitor& v) : nested(std::move(n)), inner(v) {}
  void Member(archive* a, const std::string& path, std::uint64_t size) override {
    if (nested.empty() || inside) inner.Member(a, path, size);
  }
  bool EnterNested(const std::string& path) override {
    inside = !nested.empty() && path == nested && !found;
    found = found || inside;
    return inside;
  }
  void LeaveNested(const std::string&, const Refused* refused) override {
    if (inside && refused != nullptr) throw *refused;
    inside = false;
  }
};

template <typename Fn>
void WalkContainer(const std::string& container, Visitor& visit, Fn&& on_refused) {
  const auto [file, nested] = SplitArchivePath(container);
  const std::string outer = file.empty() ? nested : file;
  const std::string inner_name = file.empty() ? "" : nested;
  Focus focus(inner_name, visit);
  Budget budget;
  Source source;
  source.deadline = budget.deadline;
  try {
    const std::uint64_t size = SizeOf(outer);
    Reader a = NewReader();
    OpenFile(a.get(), outer, source);
    Walk(a.get(), std::max<std::uint64_t>(size, 1), budget, focus, 0);
  } catch (const Refused& r) {
    on_refused(source.late ? Refused{"takes longer than " + std::to_string(kMaxArchiveSeconds) +
                                     " s to read"}
                           : r);
  }
  if (!inner_name.empty() && !focus.found)
    throw CatalogError(container + " is not in " + outer + " any more");
}

struct Lister : Visitor {
  std::vector<ArchiveMember> members;
  std::map<size_t, std::string>* infs = nullptr;
  std::uint64_t inf_bytes = 0;
  void Member(archive* a, const std::string& path, std::uint64_t size) override {
    if (infs != nullptr && IsInf(path)) {
      std::string& bytes = (*infs)[members.size()];
      ReadData(a, path, kMaxInfMemberBytes, bytes);
      inf_bytes += bytes.size();
      if (inf_bytes > kMaxArchiveInfBytes)
        throw Refused{"holds more than " + std::to_string(kMaxArchiveInfBytes >> 20) +
                      " MiB of INF files"};
    }
    members.push_back({path, size});
  }
  bool EnterNested(const std::string&) override { return false; }
  void LeaveNested(const std::string&, const Refused*) override {}
};

struct Streamer : Visitor {
  const std::vector<size_t>& wanted;
  const std::function<void(size_t, std::string_view)>& sink;
  size_t next = 0;
  std::string block = std::string(kBlock, '\0');
  Streamer(const std::vector<size_t>& w, const std::function<void(size_t, std::string_view)>& s)
      : wanted(w), sink(s) {}
  void Member(archive* a, const std::string& path, std::uint64_t) override {
    const size_t index = next++;
    if (std::find(wanted.begin(), wanted.end(), index) == wanted.end()) return;
    sink(index, std::string_view());
    for (;;) {
      const la_ssize_t n = archive_read_data(a, block.data(), block.size());
      if (n < 0) throw Refused{"member " + path + " is corrupt: " + ErrorOf(a)};
      if (n == 0) return;
      sink(index, std::string_view(block.data(), static_cast<size_t>(n)));
    }
  }
  bool EnterNested(const std::string&) override { return false; }
  void LeaveNested(const std::string&, const Refused*) override {}
};

}  // namespace

ArchiveContents ReadArchiveInfs(const std::string& file) {
  InfCollector collect;
  Budget budget;
  collect.budget = &budget;
  Source source;
  source.deadline = budget.deadline;
  try {
    const std::uint64_t size = SizeOf(file);
    Reader a = NewReader();
    OpenFile(a.get(), file, source);
    Walk(a.get(), std::max<std::uint64_t>(size, 1), budget, collect, 0);
  } catch (const Refused& r) {
    throw CatalogError(source.late ? "takes longer than " + std::to_string(kMaxArchiveSeconds) +
                                         " s to read"
                                   : r.reason);
  }
  collect.contents.names = std::move(collect.names);
  std::sort(collect.contents.names.begin(), collect.contents.names.end());
  return std::move(collect.contents);
}

std::vector<ArchiveMember> ListArchive(const std::string& container,
                                       std::map<size_t, std::string>* infs) {
  Lister list;
  list.infs = infs;
  WalkContainer(container, list,
                [&](const Refused& r) { throw CatalogError(container + " " + r.reason); });
  return std::move(list.members);
}

void ReadArchiveMembers(const std::string& container, const std::vector<size_t>& wanted,
                        const std::function<void(size_t member, std::string_view chunk)>& sink) {
  Streamer stream(wanted, sink);
  WalkContainer(container, stream,
                [&](const Refused& r) { throw CatalogError(container + " " + r.reason); });
}

}  // namespace catalog
