#include "files/linux/posix_file_system.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"

namespace file {
namespace {

std::string Native(const std::wstring& path) { return platform::ToUtf8(path); }

[[noreturn]] void Fail(const char* what, const std::string& path, int err) {
  throw FileError(std::string(what) + " " + path + ": " + std::strerror(err));
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Home() { return Env("HOME"); }

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      Fail("Could not write", path, err);
    }
    done += static_cast<size_t>(n);
  }
}

bool IsDir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool PosixFileSystem::Exists(const std::wstring& wpath) {
  const std::string path = Native(wpath);
  if (path.empty() || path.back() == '/') return false;
  if (path.find_first_of("*?") != std::string::npos) {
    glob_t g{};
    const bool found = ::glob(path.c_str(), GLOB_NOESCAPE, nullptr, &g) == 0 && g.gl_pathc > 0;
    ::globfree(&g);
    return found;
  }
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> PosixFileSystem::ReadBytes(const std::wstring& wpath) {
  std::ifstream in(Native(wpath), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(buf).str();
}

void PosixFileSystem::AppendBytes(const std::wstring& wpath, const std::string& bytes) {
  const std::string path = Native(wpath);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) Fail("Could not open", path, errno);
  WriteAll(fd, bytes, path);
  if (::close(fd) != 0) Fail("Could not write", path, errno);
}

void PosixFileSystem::ReplaceBytes(const std::wstring& wpath, const std::string& bytes) {
  const std::string path = Native(wpath);
  if (IsDir(path)) Fail("Could not write", path, EISDIR);
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) Fail("Could not create a file beside", path, errno);
  // Keep the permissions of the file being replaced; a new file gets the
  // usual ones for the user's umask.
  struct stat st;
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  try {
    WriteAll(fd, bytes, path);
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    Fail("Could not write", path, err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    Fail("Could not replace", path, err);
  }
}

std::optional<std::uint64_t> PosixFileSystem::Size(const std::wstring& wpath) {
  struct stat st;
  if (::stat(Native(wpath).c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool PosixFileSystem::CreateFolder(const std::wstring& wpath) {
  std::string path = Native(wpath);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  // Unlike %appdata% on Windows, the XDG base folders need not exist yet on
  // a fresh account; they are made as XDG asks, private.
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (!IsDir(parent) && ::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return ::mkdir(path.c_str(), 0700) == 0;
}

std::wstring PosixFileSystem::GetEnv(const std::wstring& name) {
  std::string value;
  if (name == L"appdata") {
    value = Env("XDG_DATA_HOME");
    if (value.empty() && !Home().empty()) value = Home() + "/.local/share";
  } else if (name == L"TEMP") {
    value = Env("XDG_RUNTIME_DIR");
    if (value.empty()) value = Env("XDG_CACHE_HOME");
    if (value.empty() && !Home().empty()) value = Home() + "/.cache";
  } else if (name == L"USERPROFILE") {
    value = Home();
  } else {
    value = Env(platform::ToUtf8(name).c_str());
  }
  return platform::FromUtf8(value);
}

std::wstring PosixFileSystem::DesktopFolder() {
  const std::string home = Home();
  std::string desktop = Env("XDG_DESKTOP_DIR");
  if (desktop.empty()) {
    // The user's own choice, as xdg-user-dirs records it.
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) config = home + "/.config";
    std::ifstream dirs(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(dirs, line)) {
      const std::string key = "XDG_DESKTOP_DIR=";
      if (line.rfind(key, 0) != 0) continue;
      std::string v = line.substr(key.size());
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
      desktop = v;
    }
  }
  if (desktop.empty() || !IsDir(desktop)) desktop = home + "/Desktop";
  if (!IsDir(desktop)) desktop = home;
  return platform::FromUtf8(desktop);
}

std::wstring PosixFileSystem::ExecutableFolder() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return L".";
  buf.resize(static_cast<size_t>(n));
  const auto slash = buf.rfind('/');
  return platform::FromUtf8(slash == 0 ? "/" : buf.substr(0, slash));
}

}  // namespace file
