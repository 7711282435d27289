#include <algorithm>

#include "catalog/archive.h"
#include "catalog/inf_reader.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {

bool IsArchiveName(std::string_view name) {
  if (name.size() <= 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return platform::EqualsIgnoringAsciiCase(tail, ".zip") ||
         platform::EqualsIgnoringAsciiCase(tail, ".cab");
}

std::vector<size_t> ArchiveSeparators(std::string_view path) {
  std::vector<size_t> out;
  for (size_t at = path.find(kArchiveSeparator); at != std::string_view::npos;
       at = path.find(kArchiveSeparator, at + 1)) {
    const size_t slash = at == 0 ? std::string_view::npos : path.rfind('/', at - 1);
    const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    if (IsArchiveName(path.substr(start, at - start))) out.push_back(at);
  }
  return out;
}

std::pair<std::string, std::string> SplitArchivePath(const std::string& path) {
  const std::vector<size_t> separators = ArchiveSeparators(path);
  if (separators.empty()) return {"", path};
  const size_t at = separators.back();
  return {path.substr(0, at), path.substr(at + kArchiveSeparator.size())};
}

std::vector<ArchiveMemberLines> ReadArchiveLines(const std::string& file,
                                                 const std::string& relative) {
  const ArchiveContents contents = ReadArchiveInfs(file);
  const std::string prefix = relative + std::string(kArchiveSeparator);
  std::vector<ArchiveMemberLines> out;
  for (const ArchiveInf& inf : contents.infs) {
    ArchiveMemberLines m;
    m.path = prefix + inf.member;
    try {
      m.lines = ReadInf(inf.bytes, m.path);
    } catch (const InfError& e) {
      m.error_line = e.line;
      m.error = e.reason;
    }
    const std::string folder =
        platform::AsciiUpper(inf.member.substr(0, inf.member.rfind('/') + 1));
    for (ModelLine& line : m.lines) {
      line.catalog_present = !line.catalog_file.empty() &&
                             line.catalog_file.find_first_of("/\\") == std::string::npos &&
                             contents.Holds(folder + platform::AsciiUpper(line.catalog_file));
    }
    out.push_back(std::move(m));
  }
  for (const auto& [nested, reason] : contents.skipped)
    out.push_back(ArchiveMemberLines{prefix + nested, {}, 0, reason});
  return out;
}

bool ArchiveContents::Holds(std::string_view upper_name) const {
  return std::binary_search(names.begin(), names.end(), upper_name);
}

}  // namespace catalog
