#include "files/linux/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/codepage.h"
#include "platform/linux/fd.h"
#include "platform/linux/small_file.h"
#include "platform/linux/xdg_folders.h"

namespace file {
namespace {

std::string Native(const std::wstring& path) {
  return platform::ToUtf8(path);
}

[[noreturn]] void Fail(const char* what, const std::string& path, int err) {
  throw FileError(std::string(what) + " " + path + ": " + std::strerror(err));
}

[[noreturn]] void Fail(const char* what, const std::string& path, const std::string& reason) {
  throw FileError(std::string(what) + " " + path + ": " + reason);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Home() {
  return Env("HOME");
}

using platform::Fd;

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Could not write", path, errno);
    }
    done += static_cast<size_t>(n);
  }
}

bool IsDir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder part and the name of a path.
std::pair<std::string, std::string> Split(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Why an opened folder is not private to the running user, or empty.
std::string NotPrivateReason(const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return "it is not a folder";
  if (st.st_uid != ::geteuid()) {
    return "it belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  }
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("other users may open it (mode ") + mode + ")";
  }
  return {};
}

[[noreturn]] void RefuseFolder(const std::string& path, const std::string& reason) {
  throw FileError("Refusing to use the folder " + path + ": " + reason +
                  "; it must be a folder of this user's own that no one else may open "
                  "(mode 0700)");
}

// Opens a private folder without following a link in its place and checks
// it again, so a folder swapped after the first check is refused as well.
int OpenPrivateFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      RefuseFolder(path, "it is a symbolic link");
    }
    if (err == ENOTDIR) RefuseFolder(path, "it is not a folder");
    Fail("Could not open the folder", path, err);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    Fail("Could not open the folder", path, err);
  }
  const std::string reason = NotPrivateReason(st);
  if (!reason.empty()) {
    ::close(fd);
    RefuseFolder(path, reason);
  }
  return fd;
}

mode_t DefaultFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

int PosixFileSystem::OpenFolderOf(const std::string& path, std::string& name) {
  auto [folder, base] = Split(path);
  name = base;
  if (name.empty()) Fail("Could not write", path, EISDIR);
  if (private_folders_.count(folder)) return OpenPrivateFolder(folder);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("Could not open the folder", folder, errno);
  return fd;
}

bool PosixFileSystem::Exists(const std::wstring& wpath) {
  const std::string path = Native(wpath);
  if (path.empty() || path.back() == '/') return false;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string PosixFileSystem::ReadBytes(const std::wstring& wpath) {
  const std::string path = Native(wpath);
  // Non-blocking, so a pipe in the file's place cannot hold the open up
  // waiting for a writer; it is refused below like any other non-file.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) Fail("Could not open", path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) Fail("Could not read", path, errno);
  if (S_ISDIR(st.st_mode)) Fail("Could not read", path, "it is a folder, not a file");
  if (!S_ISREG(st.st_mode)) Fail("Could not read", path, "it is not a regular file");
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  std::string bytes;
  if (!platform::ReadToEnd(fd.get(), bytes, static_cast<size_t>(st.st_size)))
    Fail("Could not read", path, errno);
  return bytes;
}

void PosixFileSystem::AppendBytes(const std::wstring& wpath, const std::string& bytes) {
  const std::string path = Native(wpath);
  std::string name;
  Fd folder(OpenFolderOf(path, name));
  // A link in the file's place would send the bytes wherever it points.
  Fd fd(::openat(folder.get(), name.c_str(),
                 O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                 0600));
  if (!fd) {
    if (errno == ELOOP) Fail("Could not open", path, "it is a symbolic link");
    Fail("Could not open", path, errno);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) Fail("Could not open", path, errno);
  if (!S_ISREG(st.st_mode)) Fail("Could not open", path, "it is not a regular file");
  WriteAll(fd.get(), bytes, path);
  if (fd.Close() != 0) Fail("Could not write", path, errno);
}

void PosixFileSystem::ReplaceBytes(const std::wstring& wpath, const std::string& bytes) {
  const std::string path = Native(wpath);
  std::string name;
  Fd folder(OpenFolderOf(path, name));
  // Keep the permission bits of the file being replaced (never set-id or
  // sticky bits, and never those of a link or what it points to); a new
  // file gets the usual ones for the user's umask.
  mode_t mode = DefaultFileMode();
  struct stat st;
  if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) Fail("Could not write", path, EISDIR);
    if (S_ISREG(st.st_mode)) mode = st.st_mode & 0777;
  }

  std::mt19937 random(std::random_device{}());
  std::string tmp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%06x", static_cast<unsigned>(random() & 0xFFFFFF));
    tmp = name + suffix;
    raw = ::openat(folder.get(), tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0600);
    if (raw < 0 && errno != EEXIST) break;
  }
  if (raw < 0) Fail("Could not create a file beside", path, errno);
  Fd fd(raw);
  try {
    ::fchmod(fd.get(), mode);
    WriteAll(fd.get(), bytes, path);
    if (::fsync(fd.get()) != 0) Fail("Could not write", path, errno);
    if (fd.Close() != 0) Fail("Could not write", path, errno);
  } catch (...) {
    ::unlinkat(folder.get(), tmp.c_str(), 0);
    throw;
  }
  // The rename replaces a link in the target's place; it never follows it.
  if (::renameat(folder.get(), tmp.c_str(), folder.get(), name.c_str()) != 0) {
    const int err = errno;
    ::unlinkat(folder.get(), tmp.c_str(), 0);
    Fail("Could not replace", path, err);
  }
}

std::optional<std::uint64_t> PosixFileSystem::Size(const std::wstring& wpath) {
  struct stat st;
  if (::stat(Native(wpath).c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

void PosixFileSystem::MakePrivateFolder(const std::wstring& wpath) {
  const std::string path = WithoutTrailingSlashes(Native(wpath));
  // Usually there from an earlier run: then one look, and the checks below
  // refuse whatever is in its place that is not a private folder.
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    // The XDG base folders need not exist yet on
    // a fresh account; they are made as XDG asks, private.
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      const std::string parent = path.substr(0, slash);
      if (!IsDir(parent) && ::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
        Fail("Could not create the folder", parent, errno);
      }
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      Fail("Could not create the folder", path, errno);
    }
  }
  ::close(OpenPrivateFolder(path));
  private_folders_.insert(path);
}

std::wstring PosixFileSystem::GetEnv(const std::wstring& name) {
  return platform::FromUtf8(Env(platform::ToUtf8(name).c_str()));
}

std::wstring PosixFileSystem::UserDataFolder() {
  return platform::FromUtf8(platform::XdgFolder("XDG_DATA_HOME", ".local/share"));
}

std::wstring PosixFileSystem::WorkFolder() {
  // A runtime folder is private and emptied at logout: the better place.
  const std::string runtime = Env("XDG_RUNTIME_DIR");
  if (!runtime.empty()) return platform::FromUtf8(runtime);
  return platform::FromUtf8(platform::XdgFolder("XDG_CACHE_HOME", ".cache"));
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
