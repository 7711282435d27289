#include "service/packages.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>

#include "catalog/archive.h"
#include "catalog/package.h"

namespace fs = std::filesystem;

namespace service {
namespace {

std::time_t DateOf(const std::string& date) {
  std::tm tm{};
  tm.tm_year = 80;
  tm.tm_mday = 1;
  int y = 0, m = 0, d = 0;
  if (std::sscanf(date.c_str(), "%4d-%2d-%2d", &y, &m, &d) == 3 && y >= 1980 && y < 2108 &&
      m >= 1 && m <= 12 && d >= 1 && d <= 31) {
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
  }
  // Noon: the zip's local-time stamp reads the same date in every zone.
  tm.tm_hour = 12;
  return timegm(&tm);
}

bool IsLowerHex(std::string_view s) {
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 unavailable");
  std::string buf(1 << 16, '\0');
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    if (in.gcount() > 0) EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw std::runtime_error("cannot read " + path);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &length);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

void WritePackageZip(const catalog::Package& package, const std::string& date,
                     const std::string& path, const std::atomic<bool>* cancelled) {
  std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(),
                                                              archive_write_free);
  auto fail = [&](const std::string& what) {
    const char* detail = zip ? archive_error_string(zip.get()) : nullptr;
    throw std::runtime_error(what + (detail ? std::string(": ") + detail : std::string()));
  };
  auto check_cancelled = [&] {
    if (cancelled != nullptr && cancelled->load(std::memory_order_relaxed))
      throw std::runtime_error("the service is stopping");
  };
  if (!zip || archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
      archive_write_set_options(zip.get(), "zip:compression=deflate") != ARCHIVE_OK ||
      archive_write_open_filename(zip.get(), path.c_str()) != ARCHIVE_OK)
    fail("cannot write " + path);
  const std::time_t when = DateOf(date);
  auto header = [&](const catalog::PackageFile& f, std::uint64_t size) {
    std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(),
                                                                        archive_entry_free);
    archive_entry_set_pathname(entry.get(), f.name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    archive_entry_set_mtime(entry.get(), when, 0);
    if (archive_write_header(zip.get(), entry.get()) != ARCHIVE_OK) fail("cannot write " + path);
  };
  if (!package.archive.empty()) {
    // Members stream from the archive into the zip in one pass, in the
    // order both hold them; a member that is not the size it claims is refused.
    const catalog::PackageFile* current = nullptr;
    std::uint64_t copied = 0;
    auto finish = [&] {
      if (current != nullptr && copied != current->size)
        fail(current->source + " is not the size its archive gives");
    };
    std::vector<size_t> wanted;
    std::map<size_t, const catalog::PackageFile*> by_member;
    for (const catalog::PackageFile& f : package.files) {
      wanted.push_back(f.member);
      by_member[f.member] = &f;
    }
    // The INF is written first, as for a folder's package.
    for (bool inf_pass : {true, false}) {
      std::vector<size_t> now;
      for (size_t m : wanted)
        if ((m == package.files.front().member) == inf_pass) now.push_back(m);
      if (now.empty()) continue;
      catalog::ReadArchiveMembers(package.archive, now, [&](size_t m, std::string_view chunk) {
        if (current == nullptr || current->member != m) {
          finish();
          current = by_member.at(m);
          copied = 0;
          header(*current, current->size);
        }
        check_cancelled();
        if (copied + chunk.size() > current->size)
          fail(current->source + " is not the size its archive gives");
        if (!chunk.empty() && archive_write_data(zip.get(), chunk.data(), chunk.size()) < 0)
          fail("cannot write " + path);
        copied += chunk.size();
      });
      finish();
      current = nullptr;
    }
    if (archive_write_close(zip.get()) != ARCHIVE_OK) fail("cannot write " + path);
    return;
  }
  std::string buf(1 << 16, '\0');
  for (const catalog::PackageFile& f : package.files) {
    std::ifstream in(f.source, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(f.source, ec);
    if (!in || ec) fail("cannot read " + f.source);
    header(f, size);
    std::uint64_t copied = 0;
    while (in && copied < size) {
      check_cancelled();
      in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
      const auto n = in.gcount();
      if (n <= 0) break;
      if (archive_write_data(zip.get(), buf.data(), static_cast<size_t>(n)) < 0)
        fail("cannot write " + path);
      copied += static_cast<std::uint64_t>(n);
    }
    if (copied != size) fail(f.source + " changed while it was packed");
  }
  if (archive_write_close(zip.get()) != ARCHIVE_OK) fail("cannot write " + path);
}

PackageStore::PackageStore(std::string folder) : folder_(std::move(folder)) {
  std::error_code ec;
  fs::create_directories(folder_, ec);
}

PackageStore::~PackageStore() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  cancelled_ = true;
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

namespace {

// Background work waiting at most: a flood of distinct packages is offered
// as being prepared again next time instead of growing the queue.
constexpr size_t kMaxQueued = 256;
constexpr size_t kMaxRemembered = 65536;
constexpr std::chrono::seconds kRetryAfter{60};

// A line's package, as the line names it; for an archive, with what the
// archive on disk is now (a changed archive is a new package).
std::string LineKey(const catalog::ModelLine& line) {
  std::string key = line.catalog_dir + '\n' + line.inf + '\n' + line.decoration + '\n' +
                    line.catalog_file + '\n' + line.driver_date + '\n';
  const std::vector<size_t> in_archive = catalog::ArchiveSeparators(line.inf);
  if (!in_archive.empty()) {
    const std::string file = line.catalog_dir + "/" + line.inf.substr(0, in_archive.front());
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) throw std::runtime_error("cannot read " + file);
    key += std::to_string(st.st_size) + '\t' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec);
  }
  return key;
}

bool Affordable(const BuildBudget* budget, std::uint64_t bytes) {
  return budget == nullptr || (budget->zips > 0 && bytes <= budget->bytes);
}

void Spend(BuildBudget* budget, std::uint64_t bytes) {
  if (budget == nullptr) return;
  budget->zips = budget->zips > 0 ? budget->zips - 1 : 0;
  budget->bytes = bytes < budget->bytes ? budget->bytes - bytes : 0;
}

}  // namespace

match::PackageOffer PackageStore::Preparing(const catalog::ModelLine& line,
                                            const std::string& line_key) {
  // Caller holds mutex_.
  if (!stopping_ && queue_.size() < kMaxQueued && queued_.insert(line_key).second) {
    queue_.emplace_back(line_key, line);
    if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
    wake_.notify_one();
  }
  match::PackageOffer offer;
  offer.inf_name = line.inf.substr(line.inf.rfind('/') + 1);
  offer.preparing = true;
  offer.files_known = false;
  return offer;
}

void PackageStore::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    auto [line_key, line] = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    std::string why;
    const bool built = Offer(line, &why).has_value();
    lock.lock();
    queued_.erase(line_key);
    if (built) {
      failed_.erase(line_key);
    } else if (failed_.size() < kMaxRemembered) {
      failed_[line_key] = Failure{why, std::chrono::steady_clock::now()};
    }
  }
}

std::optional<match::PackageOffer> PackageStore::Offer(const catalog::ModelLine& line,
                                                       std::string* why, BuildBudget* budget) {
  auto offer_of = [](const Built& b) {
    match::PackageOffer offer;
    offer.inf_name = b.inf_name;
    offer.missing = b.missing;
    offer.sha256 = b.sha256;
    offer.bytes = b.bytes;
    offer.url = "/packages/" + b.sha256 + ".zip";
    return offer;
  };
  try {
    const std::string line_key = LineKey(line);
    const bool in_archive = !catalog::ArchiveSeparators(line.inf).empty();
    {
      std::lock_guard lock(mutex_);
      // A failed build is tried again once a while has passed.
      if (auto failed = failed_.find(line_key); failed != failed_.end() && budget != nullptr) {
        if (std::chrono::steady_clock::now() - failed->second.when < kRetryAfter)
          throw std::runtime_error(failed->second.why);
        failed_.erase(failed);
      }
      std::error_code ec;
      // Finding an archive package's files means reading through its archive:
      // once per archive as it is, and within the budget.
      if (auto it = by_line_.find(line_key);
          it != by_line_.end() && fs::exists(folder_ + "/" + it->second.sha256 + ".zip", ec))
        return offer_of(it->second);
      if (in_archive && !Affordable(budget, 0)) return Preparing(line, line_key);
    }
    const catalog::Package package = catalog::ResolvePackage(line);
    // What the files are now: a changed file builds a new zip.
    std::string key = line.driver_date + '\n';
    std::uint64_t total = 0;
    for (const catalog::PackageFile& f : package.files) {
      // A member of an archive changes with its archive.
      const std::string& on_disk = package.archive.empty() ? f.source : package.archive_file;
      struct stat st {};
      if (::stat(on_disk.c_str(), &st) != 0) throw std::runtime_error("cannot read " + on_disk);
      const std::uint64_t size =
          package.archive.empty() ? static_cast<std::uint64_t>(st.st_size) : f.size;
      total += size;
      key += f.name + '\t' + f.source + '\t' + std::to_string(size) + '\t' +
             std::to_string(st.st_size) + '\t' + std::to_string(st.st_mtim.tv_sec) + '.' +
             std::to_string(st.st_mtim.tv_nsec) + '\n';
    }
    if (total > kMaxPackageBytes) throw std::runtime_error("the package is larger than 4 GiB");
    {
      std::unique_lock lock(mutex_);
      auto it = built_.find(key);
      std::error_code ec;
      if (it != built_.end() && fs::exists(folder_ + "/" + it->second.sha256 + ".zip", ec)) {
        if (in_archive && by_line_.size() < kMaxRemembered) by_line_[line_key] = it->second;
        return offer_of(it->second);
      }
      // A zip another request is building, or one past this request's
      // budget, is built in the background.
      if (building_.count(key) != 0 || !Affordable(budget, total)) {
        match::PackageOffer offer = Preparing(line, line_key);
        offer.inf_name = package.inf_name;
        offer.missing = package.missing;
        offer.files_known = true;
        return offer;
      }
      building_.insert(key);
      Spend(budget, total);
    }
    static std::atomic<unsigned> serial{0};
    const std::string temp = folder_ + "/.building-" + std::to_string(getpid()) + "-" +
                             std::to_string(serial.fetch_add(1)) + ".zip";
    Built built{"", 0, package.inf_name, package.missing};
    std::error_code ec;
    try {
      WritePackageZip(package, line.driver_date, temp, &cancelled_);
      built.sha256 = Sha256OfFile(temp);
      built.bytes = fs::file_size(temp);
      fs::rename(temp, folder_ + "/" + built.sha256 + ".zip");
    } catch (...) {
      fs::remove(temp, ec);
      std::lock_guard lock(mutex_);
      building_.erase(key);
      throw;
    }
    std::lock_guard lock(mutex_);
    building_.erase(key);
    if (built_.size() >= kMaxRemembered) built_.clear();
    built_[key] = built;
    if (in_archive) {
      if (by_line_.size() >= kMaxRemembered) by_line_.clear();
      by_line_[line_key] = built;
    }
    return offer_of(built);
  } catch (const std::exception& e) {
    if (why != nullptr) *why = e.what();
    return std::nullopt;
  }
}

std::string PackageStore::ZipFor(std::string_view file_name) const {
  constexpr std::string_view kSuffix = ".zip";
  if (file_name.size() != 64 + kSuffix.size() || file_name.substr(64) != kSuffix ||
      !IsLowerHex(file_name.substr(0, 64)))
    return "";
  const std::string path = folder_ + "/" + std::string(file_name);
  std::error_code ec;
  return fs::is_regular_file(path, ec) ? path : "";
}

}  // namespace service
