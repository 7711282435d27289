#include "platform/linux/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/fd.h"

namespace platform {

std::optional<std::string> ReadFileStart(const std::string& path, std::size_t max) {
  // Checked before opening, so no device is ever opened (some act on open),
  // and again on the open file, which may have been swapped in between.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
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

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max) {
  auto data = ReadFileStart(path, max + 1);
  if (data && data->size() > max) return std::nullopt;
  return data;
}

}  // namespace platform
