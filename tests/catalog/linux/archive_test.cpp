// Catalogs holding .zip and .cab files: their INFs indexed and their packages
// found without unpacking them, and hostile archives skipped with a reason.
#include "catalog/archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "catalog/catalog.h"
#include "catalog/package.h"
#include "catalog/zip_maker.h"

namespace catalog {
namespace {

namespace fs = std::filesystem;

const std::string kToasterId = "{b85b7c50-6a01-11d2-b841-00c04fad5171}\\MsToaster";
const std::string kToaster = KESTROVA_TEST_DATA "/packages/toaster";

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class ArchiveCatalog : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(catalog_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // The published toaster package as members under `folder`.
  std::vector<zip_maker::Member> Toaster(const std::string& folder, bool with_catalog = true) {
    std::vector<zip_maker::Member> out;
    for (std::string name : {"toastpkg.inf", "toastpkg.cat", "TOASTER.SYS"})
      if (with_catalog || name != "toastpkg.cat")
        out.push_back(zip_maker::Stored(folder + name, ReadAll(kToaster + "/" + name)));
    return out;
  }

  // A cab of the toaster package, made as a vendor makes one.
  std::string ToasterCab(const std::string& name) {
    const std::string command = "cd '" + kToaster + "' && gcab -c -z '" + (root_ / name).string() +
                                "' toastpkg.inf toastpkg.cat TOASTER.SYS";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return ReadAll(root_ / name);
  }

  UpdateStats Update(std::map<std::string, std::string>* skipped = nullptr) {
    return UpdateIndex((root_ / "index.sqlite").string(), {catalog_.string()},
                       [&](const std::string& file, int, const std::string& reason) {
                         if (skipped != nullptr)
                           (*skipped)[file.substr(catalog_.string().size() + 1)] = reason;
                       },
                       nullptr);
  }

  std::map<std::string, ModelLine> ToasterLines() {
    std::map<std::string, ModelLine> out;
    for (ModelLine& line : Index::Open((root_ / "index.sqlite").string()).LinesForId(kToasterId))
      out[line.inf] = line;
    return out;
  }

  const fs::path root_ =
      fs::temp_directory_path() / ("kestrova-archives-" + std::to_string(getpid()));
  const fs::path catalog_ = root_ / "catalog";
};

TEST_F(ArchiveCatalog, ZipAndCabPackagesAreIndexedAndZippedWhereTheyLie) {
  zip_maker::Write((catalog_ / "toaster.zip").string(), Toaster("drv/"));
  std::ofstream(catalog_ / "wu.cab", std::ios::binary) << ToasterCab("wu.cab");
  zip_maker::Write((catalog_ / "bundle.zip").string(),
                   {zip_maker::Stored("wu/inner.CAB", ToasterCab("inner.cab"))});
  UpdateStats stats = Update();
  EXPECT_EQ(stats.malformed, 0u);
  auto lines = ToasterLines();
  std::vector<std::string> infs;
  for (const auto& [inf, line] : lines) {
    infs.push_back(inf);
    EXPECT_TRUE(line.catalog_present) << inf;
  }
  ASSERT_EQ(infs,
            (std::vector<std::string>{"bundle.zip!/wu/inner.CAB!/toastpkg.inf",
                                      "toaster.zip!/drv/toastpkg.inf", "wu.cab!/toastpkg.inf"}));

  const Package nested = ResolvePackage(lines["bundle.zip!/wu/inner.CAB!/toastpkg.inf"]);
  EXPECT_TRUE(nested.Complete());
  EXPECT_EQ(nested.archive_file, (catalog_ / "bundle.zip").string());
  std::vector<std::string> names;
  for (const PackageFile& f : nested.files) names.push_back(f.name);
  EXPECT_EQ(names, (std::vector<std::string>{"toastpkg.inf", "toastpkg.cat", "TOASTER.SYS"}));
  EXPECT_EQ(nested.files[2].size, fs::file_size(kToaster + "/TOASTER.SYS"));

  // Unchanged archives are not read again; a changed one is, a gone one goes.
  EXPECT_EQ(Update().reread, 0u);
  zip_maker::Write((catalog_ / "toaster.zip").string(), Toaster("drv/", false));
  fs::remove(catalog_ / "wu.cab");
  stats = Update();
  EXPECT_EQ(stats.reread, 1u);
  lines = ToasterLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(lines["toaster.zip!/drv/toastpkg.inf"].catalog_present);
  EXPECT_EQ(ResolvePackage(lines["toaster.zip!/drv/toastpkg.inf"]).missing,
            std::vector<std::string>{"toastpkg.cat"});
}

TEST_F(ArchiveCatalog, HostileArchivesAreSkippedWithTheirReason) {
  using zip_maker::Member;
  // Each beside a sound package, which the archive's refusal takes with it.
  auto write = [&](const std::string& name, std::vector<Member> members, bool with_toaster = true) {
    if (with_toaster)
      for (Member& m : Toaster("")) members.push_back(std::move(m));
    zip_maker::Write((catalog_ / name).string(), members);
  };
  // A gigabyte of zeros in a megabyte.
  write("bomb.zip", {zip_maker::Zeros("payload.bin", 1ull << 30)});
  // An INF that claims a kilobyte and holds 64 MiB.
  Member liar = zip_maker::Zeros("liar.inf", 64ull << 20);
  liar.size = 1024;
  write("liar.zip", {liar});
  write("dotdot.zip", {zip_maker::Stored("../x.inf", "")});
  write("absolute.zip", {zip_maker::Stored("/abs.inf", "")});
  write("drive.zip", {zip_maker::Stored("C:\\x.inf", "")});
  Member secret = zip_maker::Stored("secret.inf", "");
  secret.encrypted = true;
  write("encrypted.zip", {secret});
  std::vector<Member> many(200000);
  for (size_t i = 0; i < many.size(); ++i) many[i] = zip_maker::Stored(std::to_string(i), "");
  write("many.zip", many);
  write("good.zip", {});
  const std::string good = ReadAll(catalog_ / "good.zip");
  std::ofstream(catalog_ / "truncated.zip", std::ios::binary) << good.substr(0, good.size() / 2);
  std::ofstream(catalog_ / "text.cab", std::ios::binary) << "not a cabinet\n";
  // Two levels down is not read; what the one level holds is.
  write("deeper.zip", {});
  write("middle.zip", {zip_maker::Stored("deeper.zip", ReadAll(catalog_ / "deeper.zip"))});
  fs::rename(catalog_ / "middle.zip", root_ / "middle.zip");
  fs::remove(catalog_ / "deeper.zip");
  write("nested.zip", {zip_maker::Stored("middle.zip", ReadAll(root_ / "middle.zip"))}, false);

  std::map<std::string, std::string> skipped;
  const UpdateStats stats = Update(&skipped);
  const std::map<std::string, std::string> expected = {
      {"bomb.zip", "expands over 100 times its size"},
      {"liar.zip", "member liar.inf is larger than 16 MiB"},
      {"dotdot.zip", "member \"../x.inf\" would be unpacked outside its folder"},
      {"absolute.zip", "member \"/abs.inf\" would be unpacked outside its folder"},
      // The backslash is read as a folder separator.
      {"drive.zip", "member \"C:/x.inf\" would be unpacked outside its folder"},
      {"encrypted.zip", "member secret.inf is encrypted"},
      {"many.zip", "holds more than 20000 members"},
      {"truncated.zip", "is corrupt or truncated"},
      {"text.cab", "cannot be read as a zip or cab"},
      {"nested.zip!/middle.zip!/deeper.zip", "archives nested more than one level deep"},
  };
  for (const auto& [file, reason] : expected) {
    ASSERT_TRUE(skipped.count(file)) << file << " was not skipped";
    EXPECT_NE(skipped[file].find(reason), std::string::npos) << file << ": " << skipped[file];
  }
  EXPECT_EQ(skipped.size(), expected.size());
  EXPECT_EQ(stats.malformed, expected.size());
  // Only the sound archives' toasters are indexed.
  auto lines = ToasterLines();
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines.count("good.zip!/toastpkg.inf"));
  EXPECT_TRUE(lines.count("nested.zip!/middle.zip!/toastpkg.inf"));
  // Reported again when nothing changed, as a malformed INF is.
  skipped.clear();
  EXPECT_EQ(Update(&skipped).reread, 0u);
  EXPECT_EQ(skipped.size(), expected.size());
}

}  // namespace
}  // namespace catalog
