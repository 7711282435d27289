#include "service/packages.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

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
                     const std::string& path) {
  std::unique_ptr<archive, decltype(&archive_write_free)> zip(archive_write_new(),
                                                              archive_write_free);
  auto fail = [&](const std::string& what) {
    const char* detail = zip ? archive_error_string(zip.get()) : nullptr;
    throw std::runtime_error(what + (detail ? std::string(": ") + detail : std::string()));
  };
  if (!zip || archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
      archive_write_set_options(zip.get(), "zip:compression=deflate") != ARCHIVE_OK ||
      archive_write_open_filename(zip.get(), path.c_str()) != ARCHIVE_OK)
    fail("cannot write " + path);
  const std::time_t when = DateOf(date);
  std::string buf(1 << 16, '\0');
  for (const catalog::PackageFile& f : package.files) {
    std::ifstream in(f.source, std::ios::binary);
    std::error_code ec;
    const auto size = fs::file_size(f.source, ec);
    if (!in || ec) fail("cannot read " + f.source);
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
    std::uint64_t copied = 0;
    while (in && copied < size) {
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

std::optional<match::PackageOffer> PackageStore::Offer(const catalog::ModelLine& line,
                                                       std::string* why) {
  try {
    const catalog::Package package = catalog::ResolvePackage(line);
    // What the files are now: a changed file builds a new zip.
    std::string key = line.driver_date + '\n';
    std::uint64_t total = 0;
    for (const catalog::PackageFile& f : package.files) {
      struct stat st {};
      if (::stat(f.source.c_str(), &st) != 0) throw std::runtime_error("cannot read " + f.source);
      total += static_cast<std::uint64_t>(st.st_size);
      key += f.name + '\t' + f.source + '\t' + std::to_string(st.st_size) + '\t' +
             std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + '\n';
    }
    if (total > kMaxPackageBytes) throw std::runtime_error("the package is larger than 4 GiB");
    match::PackageOffer offer;
    offer.inf_name = package.inf_name;
    offer.missing = package.missing;
    // One build at a time: a zip is built once, also when several requests want it.
    std::lock_guard lock(mutex_);
    auto it = built_.find(key);
    std::error_code ec;
    if (it == built_.end() || !fs::exists(ZipFor(it->second.sha256 + ".zip"), ec)) {
      const std::string temp = folder_ + "/.building-" + std::to_string(getpid()) + ".zip";
      try {
        WritePackageZip(package, line.driver_date, temp);
        const std::string sha = Sha256OfFile(temp);
        const auto bytes = fs::file_size(temp);
        fs::rename(temp, folder_ + "/" + sha + ".zip");
        it = built_.insert_or_assign(key, Built{sha, bytes}).first;
      } catch (...) {
        fs::remove(temp, ec);
        throw;
      }
    }
    offer.sha256 = it->second.sha256;
    offer.bytes = it->second.bytes;
    offer.url = "/packages/" + offer.sha256 + ".zip";
    return offer;
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
