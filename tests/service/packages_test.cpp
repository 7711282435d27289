// Package zips: built twice in two places they are the same bytes, with
// the members in package order, one date, fixed permissions.
#include "service/packages.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/inf_reader.h"

namespace service {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(PackageZip, SameBytesFromTwoBuildsWithFixedOrderDateAndMode) {
  const std::string dir = KESTROVA_TEST_DATA "/packages/toaster";
  catalog::ModelLine line =
      catalog::ReadInf(ReadAll(dir + "/toastpkg.inf"), "toastpkg.inf").front();
  line.catalog_dir = dir;
  const fs::path root = fs::temp_directory_path() / ("kestrova-zip-" + std::to_string(getpid()));
  fs::remove_all(root);
  PackageStore one((root / "one").string()), two((root / "two").string());
  std::string why;
  const auto a = one.Offer(line, &why);
  ASSERT_TRUE(a) << why;
  const auto b = two.Offer(line, &why);
  ASSERT_TRUE(b) << why;
  EXPECT_EQ(a->sha256, b->sha256);
  EXPECT_TRUE(a->Complete());
  const std::string zip = one.ZipFor(a->sha256 + ".zip");
  ASSERT_FALSE(zip.empty());
  EXPECT_EQ(ReadAll(zip), ReadAll(two.ZipFor(b->sha256 + ".zip")));
  EXPECT_EQ(fs::file_size(zip), a->bytes);

  archive* reader = archive_read_new();
  archive_read_support_format_zip(reader);
  ASSERT_EQ(archive_read_open_filename(reader, zip.c_str(), 1 << 14), ARCHIVE_OK);
  std::vector<std::string> names;
  archive_entry* entry = nullptr;
  while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
    names.push_back(archive_entry_pathname(entry));
    EXPECT_EQ(archive_entry_perm(entry) & 0777, 0644u) << names.back();
    // The INF's DriverVer date, 09/21/2006.
    const std::time_t when = archive_entry_mtime(entry);
    std::tm tm{};
    gmtime_r(&when, &tm);
    EXPECT_EQ(tm.tm_year + 1900, 2006);
    EXPECT_EQ(tm.tm_mon + 1, 9);
    EXPECT_EQ(tm.tm_mday, 21);
    if (names.size() == 3) {
      std::string data(64, '\0');
      data.resize(static_cast<size_t>(archive_read_data(reader, data.data(), data.size())));
      EXPECT_EQ(data, ReadAll(dir + "/TOASTER.SYS"));
    }
  }
  archive_read_free(reader);
  EXPECT_EQ(names, (std::vector<std::string>{"toastpkg.inf", "toastpkg.cat", "TOASTER.SYS"}));
  fs::remove_all(root);
}

}  // namespace
}  // namespace service
