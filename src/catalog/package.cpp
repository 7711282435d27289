#include "catalog/package.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "catalog/archive.h"
#include "catalog/inf_reader.h"
#include "catalog/paths.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

// `relative` with "." parts dropped; "" when a part is empty or would
// leave the folder.
std::string CleanRelative(const std::string& relative) {
  std::string out;
  for (const std::string_view part : platform::Split(relative, '/')) {
    if (part == ".") continue;
    if (part.empty() || part == ".." || part.find(':') != std::string_view::npos) return "";
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

// `relative` ('/' separators, UTF-8) under `folder`, each part matched
// without regard to case; "" when absent or when a part would leave the
// folder. `found_as` gets the parts as they are named on disk.
std::string FindBeside(const fs::path& folder, const std::string& relative, std::string& found_as) {
  found_as.clear();
  const std::string clean = CleanRelative(relative);
  if (clean.empty()) return "";
  fs::path at = folder;
  for (const std::string_view part : platform::Split(clean, '/')) {
    std::error_code ec;
    fs::path next;
    if (fs::exists(at / PathFromUtf8(part), ec)) {
      next = at / PathFromUtf8(part);
    } else {
      for (fs::directory_iterator it(at, ec), stop; !ec && it != stop; it.increment(ec)) {
        if (platform::EqualsIgnoringAsciiCase(Utf8OfPath(it->path().filename()), part)) {
          next = it->path();
          break;
        }
      }
    }
    if (next.empty()) return "";
    // A link is followed only while it stays in the package's folder.
    if (fs::is_symlink(next, ec)) {
      const std::string real = GenericUtf8OfPath(fs::weakly_canonical(next, ec));
      const std::string base = GenericUtf8OfPath(fs::weakly_canonical(folder, ec)) + "/";
      if (ec || real.compare(0, base.size(), base) != 0) return "";
    }
    if (!found_as.empty()) found_as += '/';
    found_as += Utf8OfPath(next.filename());
    at = next;
  }
  std::error_code ec;
  return fs::is_regular_file(at, ec) ? Utf8OfPath(at) : "";
}

// An archive's members and INF files, as it was when read.
struct Listing {
  std::string stamp;  // the file's size and time
  std::vector<ArchiveMember> members;
  std::map<size_t, std::string> infs;
  std::map<std::string, size_t> by_name;  // upper case -> first member of that name
};

// Guards the listing cache for a map lookup or insert, never for the
// listing itself. A spin lock: the shipped Windows programs' thread model
// has no std::mutex.
class SpinLock {
 public:
  explicit SpinLock(std::atomic_flag& flag) : flag_(flag) {
    while (flag_.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~SpinLock() { flag_.clear(std::memory_order_release); }
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;

 private:
  std::atomic_flag& flag_;
};

// The last few archives listed: a results page asks for the packages of many
// candidates, often from one large archive, each listing a pass through it.
std::shared_ptr<const Listing> ListingOf(const std::string& container, const std::string& file) {
  static std::atomic_flag busy = ATOMIC_FLAG_INIT;
  static std::map<std::string, std::shared_ptr<const Listing>> cache;
  constexpr size_t kKept = 8;
  std::error_code ec;
  const auto size = fs::file_size(file, ec);
  const auto time = fs::last_write_time(file, ec);
  if (ec) throw CatalogError(file + " cannot be read");
  const std::string stamp =
      std::to_string(size) + "/" + std::to_string(time.time_since_epoch().count());
  {
    SpinLock lock(busy);
    auto it = cache.find(container);
    if (it != cache.end() && it->second->stamp == stamp) return it->second;
  }
  auto listing = std::make_shared<Listing>();
  listing->stamp = stamp;
  listing->members = ListArchive(container, &listing->infs);
  for (size_t i = 0; i < listing->members.size(); ++i)
    listing->by_name.emplace(platform::AsciiUpper(listing->members[i].name), i);
  SpinLock lock(busy);
  if (cache.size() >= kKept) cache.erase(cache.begin());
  cache[container] = listing;
  return listing;
}

Package ResolveArchivePackage(const ModelLine& line, const std::string& container_relative,
                              const std::string& inf_member) {
  const std::string container = line.catalog_dir + "/" + container_relative;
  // The file on disk: the container's first part.
  const std::string archive_file =
      line.catalog_dir + "/" +
      container_relative.substr(0, ArchiveSeparators(container_relative + "!/").front());
  const std::shared_ptr<const Listing> listing = ListingOf(container, archive_file);
  const std::vector<ArchiveMember>& members = listing->members;
  const std::map<std::string, size_t>& by_name = listing->by_name;
  auto inf_at = by_name.find(platform::AsciiUpper(inf_member));
  if (inf_at == by_name.end() || listing->infs.count(inf_at->second) == 0)
    throw CatalogError(inf_member + " is not in " + container);
  const size_t inf_index = inf_at->second;
  const std::string& bytes = listing->infs.at(inf_index);
  const size_t slash = inf_member.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : inf_member.substr(0, slash + 1);

  Package package;
  package.archive = container;
  package.archive_file = archive_file;
  package.inf_name = inf_member.substr(folder.size());
  auto file_of = [&](size_t i) {
    return PackageFile{members[i].name.substr(folder.size()),
                       container + std::string(kArchiveSeparator) + members[i].name,
                       members[i].size, i};
  };
  package.files.push_back(file_of(inf_index));
  std::set<size_t> found{inf_index};
  auto add = [&](const std::string& wanted) {
    const std::string clean = CleanRelative(wanted);
    auto at = clean.empty() ? by_name.end() : by_name.find(platform::AsciiUpper(folder + clean));
    if (at == by_name.end()) {
      package.missing.push_back(wanted);
    } else {
      found.insert(at->second);
    }
  };
  if (!line.catalog_file.empty()) add(line.catalog_file);
  std::vector<std::string> listed;
  try {
    listed = SourceFiles(bytes, ArchOfDecoration(line.decoration));
  } catch (const InfError& e) {
    throw CatalogError(container + "!/" + inf_member + ": " + e.what());
  }
  for (const std::string& f : listed) add(f);
  // Archive order: the zip is then written in one pass over the archive.
  for (size_t i : found)
    if (i != inf_index) package.files.push_back(file_of(i));
  return package;
}

}  // namespace

Package ResolvePackage(const ModelLine& line) {
  const auto [container, member] = SplitArchivePath(line.inf);
  if (!container.empty()) return ResolveArchivePackage(line, container, member);
  const fs::path inf_path = PathFromUtf8(line.catalog_dir) / PathFromUtf8(line.inf);
  std::ifstream in(inf_path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) throw CatalogError("cannot read " + Utf8OfPath(inf_path));
  const fs::path folder = inf_path.parent_path();

  Package package;
  package.inf_name = Utf8OfPath(inf_path.filename());
  package.files.push_back({package.inf_name, Utf8OfPath(inf_path)});
  std::set<std::string> taken{platform::AsciiUpper(package.inf_name)};
  auto add = [&](const std::string& wanted) {
    std::string found_as;
    const std::string source = FindBeside(folder, wanted, found_as);
    if (source.empty()) {
      package.missing.push_back(wanted);
    } else if (taken.insert(platform::AsciiUpper(found_as)).second) {
      package.files.push_back({found_as, source});
    }
  };
  if (!line.catalog_file.empty()) add(line.catalog_file);
  std::vector<std::string> listed;
  try {
    listed = SourceFiles(bytes, ArchOfDecoration(line.decoration));
  } catch (const InfError& e) {
    throw CatalogError(Utf8OfPath(inf_path) + ": " + e.what());
  }
  for (const std::string& f : listed) add(f);
  return package;
}

}  // namespace catalog
