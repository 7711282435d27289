// The file-system port: the few operations the file helpers need, in the
// platform's own terms. Paths are wide text; adapters convert them to the
// ANSI code page (Windows) or to the file-system encoding (Linux).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace file {

// A file operation that failed; what() is UTF-8 and names the path and the
// reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True for a file or folder at exactly this path; false for a path ending
  // in a separator. Wildcards are never expanded, and a link leading nowhere
  // is not there.
  virtual bool Exists(const std::wstring& path) = 0;
  // The whole of a regular file as bytes. Throws FileError, naming the path
  // and the reason, when it is missing, not a regular file (a folder, a pipe,
  // a device: never waits for a writer) or cannot be read.
  virtual std::string ReadBytes(const std::wstring& path) = 0;
  // Adds bytes to the end, creating the file if absent. A link in the
  // file's place is refused, never followed. Throws FileError.
  virtual void AppendBytes(const std::wstring& path, const std::string& bytes) = 0;
  // Replaces the file's contents all at once: a temporary file in the same
  // folder renamed over the target, so readers never see half a file and a
  // failure leaves the old file as it was. Throws FileError.
  virtual void ReplaceBytes(const std::wstring& path, const std::string& bytes) = 0;
  // Size in bytes, or nothing when it cannot be determined.
  virtual std::optional<std::uint64_t> Size(const std::wstring& path) = 0;
  // Makes sure `path` is this user's own folder, creating it if missing.
  // On Linux it must also be private: a real folder (not a link) that
  // belongs to the running user and that no one else may open; anything
  // else throws FileError with the reason, and files written into it later
  // are opened through the checked folder, never through a link. On Windows
  // the per-user profile folders are protected by their access rules and
  // it only creates the folder (errors ignored).
  virtual void MakePrivateFolder(const std::wstring& path) = 0;

  // One variable of the program's environment, as it is; empty when unset.
  virtual std::wstring GetEnv(const std::wstring& name) = 0;
  // The user's folders: where the activity log is kept (roaming application
  // data; the XDG data folder), where the report is written before it is
  // opened or saved (the user's temporary folder; the XDG runtime or cache
  // folder), and the desktop, where the Save-As dialog starts.
  virtual std::wstring UserDataFolder() = 0;
  virtual std::wstring WorkFolder() = 0;
  // The user's desktop folder, where the Save-As dialog starts.
  virtual std::wstring DesktopFolder() = 0;
  // The folder holding the running executable, without a trailing separator.
  virtual std::wstring ExecutableFolder() = 0;
  // The path separator of the platform: '\\' or '/'.
  virtual wchar_t Separator() const = 0;
};

}  // namespace file
