// Package zips: built twice in two places they are the same bytes, with
// the members in package order, one date, fixed permissions.
#include "service/packages.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "catalog/inf_reader.h"
#include "catalog/zip_maker.h"

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

// The toaster package as a vendor cab inside a zip, and unpacked: one zip.
TEST(PackageZip, ArchivePackageZipsAsItsUnpackedFolderDoes) {
  const std::string dir = KESTROVA_TEST_DATA "/packages/toaster";
  const fs::path root = fs::temp_directory_path() / ("kestrova-zip-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "catalog");
  const std::string cab = (root / "toaster.cab").string();
  ASSERT_EQ(std::system(("cd '" + dir + "' && gcab -c -z '" + cab +
                         "' toastpkg.inf toastpkg.cat TOASTER.SYS")
                            .c_str()),
            0);
  zip_maker::Write((root / "catalog" / "bundle.zip").string(),
                   {zip_maker::Stored("wu/toaster.cab", ReadAll(cab))});
  const std::string inf = ReadAll(dir + "/toastpkg.inf");
  catalog::ModelLine folder_line = catalog::ReadInf(inf, "toastpkg.inf").front();
  folder_line.catalog_dir = dir;
  catalog::ModelLine archive_line =
      catalog::ReadInf(inf, "bundle.zip!/wu/toaster.cab!/toastpkg.inf").front();
  archive_line.catalog_dir = (root / "catalog").string();

  PackageStore store((root / "zips").string());
  std::string why;
  const auto from_folder = store.Offer(folder_line, &why);
  ASSERT_TRUE(from_folder) << why;
  const auto from_archive = store.Offer(archive_line, &why);
  ASSERT_TRUE(from_archive) << why;
  EXPECT_EQ(from_archive->sha256, from_folder->sha256);
  EXPECT_EQ(from_archive->bytes, from_folder->bytes);
  // Past the budget, an archive's package is not even read: its files are not known yet.
  BuildBudget spent{0, 0};
  const auto later = PackageStore((root / "later").string()).Offer(archive_line, &why, &spent);
  ASSERT_TRUE(later) << why;
  EXPECT_TRUE(later->preparing && !later->files_known);

  // A stopping service does not wait for a zip to be finished, from either.
  const std::atomic<bool> cancelled{true};
  for (const auto* line : {&folder_line, &archive_line}) {
    try {
      WritePackageZip(catalog::ResolvePackage(*line), "", (root / "cut.zip").string(), &cancelled);
      ADD_FAILURE() << line->inf << ": the build was not stopped";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "the service is stopping");
    }
  }
  fs::remove_all(root);
}

TEST(PackageStore, PackagesPastARequestsBudgetAreBuiltInTheBackground) {
  const std::string dir = KESTROVA_TEST_DATA "/packages/toaster";
  catalog::ModelLine line =
      catalog::ReadInf(ReadAll(dir + "/toastpkg.inf"), "toastpkg.inf").front();
  line.catalog_dir = dir;
  const fs::path root = fs::temp_directory_path() / ("kestrova-zip-" + std::to_string(getpid()));
  fs::remove_all(root);
  PackageStore store(root.string());
  std::string why;
  BuildBudget spent{0, 1ull << 30};
  auto offer = store.Offer(line, &why, &spent);
  ASSERT_TRUE(offer && offer->preparing && offer->url.empty()) << why;
  // Ready once the background has built it; a bounded wait.
  for (int i = 0; i < 200 && offer && offer->preparing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    offer = store.Offer(line, &why, &spent);
  }
  ASSERT_TRUE(offer && !offer->preparing) << why;
  EXPECT_FALSE(store.ZipFor(offer->sha256 + ".zip").empty());

  // A built zip costs a request nothing; a package larger than what is left waits.
  BuildBudget small{4, 16};
  offer = store.Offer(line, &why, &small);
  EXPECT_TRUE(offer && !offer->preparing && small.zips == 4u);
  {
    PackageStore elsewhere((root / "elsewhere").string());
    offer = elsewhere.Offer(line, &why, &small);
    EXPECT_TRUE(offer && offer->preparing);
  }  // its background build ends with it, before the folder goes
  fs::remove_all(root);
}

}  // namespace
}  // namespace service
