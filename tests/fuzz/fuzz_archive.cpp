// Archives come from any driver folder a user points the catalog at: any
// bytes named .zip or .cab must give INF members or a reason, never a crash
// or a hang.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "catalog/archive.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // libarchive reads from a file, as the catalog's walk gives it one.
  static const std::string path = (fuzz::Scratch() / "input.zip").string();
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
  try {
    const catalog::ArchiveContents contents = catalog::ReadArchiveInfs(path);
    fuzz::Require(std::is_sorted(contents.names.begin(), contents.names.end()));
    for (const catalog::ArchiveInf& inf : contents.infs) {
      fuzz::Require(!inf.member.empty() && inf.member.front() != '/');
      fuzz::Require(inf.member.find("../") == std::string::npos);
      fuzz::Require(inf.bytes.size() <= catalog::kMaxInfMemberBytes);
    }
    // What the package side lists of the same archive, streamed in full.
    const auto members = catalog::ListArchive(path);
    std::vector<size_t> all(members.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    catalog::ReadArchiveMembers(path, all, [&](size_t member, std::string_view) {
      fuzz::Require(member < members.size());
    });
  } catch (const catalog::CatalogError& e) {
    fuzz::Require(e.what()[0] != '\0');
  }
  return 0;
}
