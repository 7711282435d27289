#include "catalog/folder_walk.h"

#include <windows.h>

#include <algorithm>

#include "catalog/catalog.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {
namespace {

// The form of an absolute path the wide functions take beyond MAX_PATH
// characters: deep vendor packages on a stick easily pass 260.
std::wstring Extended(const std::wstring& absolute) {
  if (absolute.rfind(L"\\\\?\\", 0) == 0) return absolute;
  if (absolute.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return L"\\\\?\\" + absolute;
}

struct FindCloser {
  HANDLE handle;
  ~FindCloser() { FindClose(handle); }
};

// Reparse points (junctions, symbolic links, mount points) are passed over,
// folders and files alike: they may lead anywhere, the walk's own folder too.
void Walk(const std::wstring& folder, const std::string& relative, int depth, FolderWalk& walk) {
  WIN32_FIND_DATAW found{};
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;  // unreadable: passed over
  const FindCloser closer{find};
  std::vector<std::string>& names = walk.names[relative];
  std::vector<std::wstring> subfolders;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L".." ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      continue;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      subfolders.push_back(name);
      continue;
    }
    const std::string utf8 = platform::ToUtf8(name);
    names.push_back(platform::AsciiUpper(utf8));
    if (IsInfName(utf8))
      walk.infs.push_back({std::filesystem::path(folder + L"\\" + name),
                           relative.empty() ? utf8 : relative + "/" + utf8});
  } while (FindNextFileW(find, &found));
  std::sort(names.begin(), names.end());
  if (depth >= kMaxFolderDepth) return;
  for (const std::wstring& sub : subfolders) {
    const std::string utf8 = platform::ToUtf8(sub);
    Walk(folder + L"\\" + sub, relative.empty() ? utf8 : relative + "/" + utf8, depth + 1, walk);
  }
}

}  // namespace

// Every folder is read: what an earlier walk recorded is not used here.
FolderWalk WalkCatalogFolder(const std::string& folder, const FolderStates*) {
  const std::wstring given = platform::FromUtf8(folder);
  std::wstring absolute(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(given.c_str(), static_cast<DWORD>(absolute.size()),
                                     absolute.data(), nullptr);
    if (n == 0) throw CatalogError("catalog folder " + folder + " is not a folder");
    if (n < absolute.size()) {
      absolute.resize(n);
      break;
    }
    absolute.resize(n);
  }
  // "E:\" stays a root; any other trailing separator goes.
  while (absolute.size() > 3 && (absolute.back() == L'\\' || absolute.back() == L'/'))
    absolute.pop_back();
  const std::wstring extended = Extended(absolute);
  const DWORD attributes = GetFileAttributesW(extended.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    throw CatalogError("catalog folder " + folder + " is not a folder");
  FolderWalk walk;
  walk.root = platform::ToUtf8(absolute);
  std::replace(walk.root.begin(), walk.root.end(), '\\', '/');
  Walk(extended.back() == L'\\' ? extended.substr(0, extended.size() - 1) : extended, "", 0, walk);
  return walk;
}

}  // namespace catalog
