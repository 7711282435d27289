#include "platform/linux/small_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/linux/fd.h"

namespace platform {
namespace {

bool IsFileSystem(const char* folder, decltype(statfs::f_type) magic) {
  struct statfs st;
  return ::statfs(folder, &st) == 0 && st.f_type == magic;
}

// sysfs and procfs's sysctl folder hold only folders, attributes and links
// that stay inside them: no device, FIFO or socket to refuse, and nothing
// there acts on open. A file in them is opened straight away, without the
// look before and after that every other tree gets: a scan reads dozens of
// attributes, and each look is a walk of the whole path again.
bool OnKernelAttributeFileSystem(std::string_view path) {
  if (path.find("/..") != std::string_view::npos) return false;
  if (path.substr(0, 5) == "/sys/") {
    static const bool sysfs = IsFileSystem("/sys", SYSFS_MAGIC);
    return sysfs;
  }
  if (path.substr(0, 10) == "/proc/sys/") {
    static const bool procfs = IsFileSystem("/proc/sys", PROC_SUPER_MAGIC);
    return procfs;
  }
  return false;
}

// What the running kernel says of itself stays as it is until the next
// boot, and several parts of a scan ask for it.
bool FixedUntilReboot(std::string_view path) {
  return path == "/proc/sys/kernel/osrelease" || path == "/proc/sys/kernel/version" ||
         path == "/proc/sys/kernel/arch" || path == "/proc/version";
}

std::optional<std::string> ReadUncached(const std::string& path, std::size_t max);

// Those files read once per process.
std::optional<std::string> ReadOnce(const std::string& path, std::size_t max) {
  static std::mutex lock;
  static std::map<std::string, std::optional<std::string>, std::less<>> read;
  const std::lock_guard<std::mutex> hold(lock);
  auto [it, fresh] = read.try_emplace(path);
  if (fresh) it->second = ReadUncached(path, kMaxSmallFile + 1);
  if (!it->second) return std::nullopt;
  return it->second->substr(0, max);
}

std::optional<std::string> ReadUncached(const std::string& path, std::size_t max) {
  const bool trusted_tree = OnKernelAttributeFileSystem(path);
  // Checked before opening, so no device is ever opened (some act on open),
  // and again on the open file, which may have been swapped in between.
  struct stat st;
  if (!trusted_tree && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
    return std::nullopt;
  }
  const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  // In the kernel's trees a folder is the only thing that is not a file, and
  // reading it fails below.
  if (!trusted_tree && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) return std::nullopt;
  // sysfs and procfs report sizes that are not the content's: read, don't trust st_size.
  std::string data(std::min<std::size_t>(max, 4096), '\0');
  std::size_t got = 0;
  bool failed = false;
  while (got < max) {
    if (got == data.size()) data.resize(std::min(max, data.size() * 2));
    const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (failed) return std::nullopt;
  data.resize(got);
  return data;
}

}  // namespace

std::optional<std::string> ReadFileStart(const std::string& path, std::size_t max) {
  if (max <= kMaxSmallFile + 1 && FixedUntilReboot(path)) return ReadOnce(path, max);
  return ReadUncached(path, max);
}

bool ReadToEnd(int fd, std::string& out, std::size_t expected) {
  out.assign(expected + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.clear();
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return true;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max) {
  auto data = ReadFileStart(path, max + 1);
  if (data && data->size() > max) return std::nullopt;
  return data;
}

}  // namespace platform
