// Driver packages: what an INF brings with it, found beside it.
// Rules: learn.microsoft.com "INF SourceDisksNames Section" and
// "INF SourceDisksFiles Section" (platform extensions .x86/.amd64/.arm64).
#include "catalog/package.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog/inf_reader.h"

namespace catalog {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

ModelLine FirstLine(const std::string& dir, const std::string& inf) {
  std::vector<ModelLine> lines = ReadInf(ReadAll(fs::path(dir) / inf), inf);
  EXPECT_FALSE(lines.empty());
  ModelLine line = lines.front();
  line.catalog_dir = dir;
  return line;
}

std::vector<std::string> Names(const Package& p) {
  std::vector<std::string> out;
  for (const PackageFile& f : p.files) out.push_back(f.name);
  return out;
}

TEST(Package, PublishedPackagesCompleteAndIncomplete) {
  const Package toaster =
      ResolvePackage(FirstLine(KESTROVA_TEST_DATA "/packages/toaster", "toastpkg.inf"));
  EXPECT_TRUE(toaster.Complete());
  // The listed toaster.sys is found as TOASTER.SYS: names compare as Windows compares them.
  EXPECT_EQ(Names(toaster),
            (std::vector<std::string>{"toastpkg.inf", "toastpkg.cat", "TOASTER.SYS"}));

  const Package tree =
      ResolvePackage(FirstLine(KESTROVA_TEST_DATA "/packages/tree", "TrEEMiniportSample.inf"));
  EXPECT_FALSE(tree.Complete());
  EXPECT_EQ(tree.missing, std::vector<std::string>{"TrEEMiniportSample.sys"});
  EXPECT_EQ(Names(tree),
            (std::vector<std::string>{"TrEEMiniportSample.inf", "TREEMiniportSample.cat"}));
}

TEST(Package, DisksSubdirectoriesAndPlatformSectionsDecideTheFiles) {
  const std::string inf =
      "[Version]\nSignature=\"$Windows NT$\"\n"
      "[SourceDisksNames]\n1=%Disk%,,,\\drivers\n2=%Disk%\n"
      "[SourceDisksNames.amd64]\n1=%Disk%,,,\\drivers64\n"
      "[SourceDisksFiles]\nnet.sys=1,x86\nhelp.txt=2\ncoinst.dll=1\n"
      "[SourceDisksFiles.amd64]\nnet.sys=1,amd64\n"
      "[Strings]\nDisk=\"Disk 1\"\n";
  EXPECT_EQ(SourceFiles(inf, "X86"),
            (std::vector<std::string>{"drivers/x86/net.sys", "help.txt", "drivers/coinst.dll"}));
  EXPECT_EQ(
      SourceFiles(inf, "AMD64"),
      (std::vector<std::string>{"drivers64/amd64/net.sys", "help.txt", "drivers64/coinst.dll"}));
}

TEST(Package, NamesLeadingOutsideThePackageAreMissingNotTaken) {
  const fs::path root =
      fs::temp_directory_path() / ("kestrova-package-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "pkg");
  std::ofstream(root / "secret.txt") << "outside";
  std::ofstream(root / "pkg" / "a.inf")
      << "[Version]\nSignature=\"$Windows NT$\"\nCatalogFile=..\\secret.txt\n"
         "[Manufacturer]\nM=M\n[M]\nDev=Inst,PCI\\VEN_1234&DEV_0001\n"
         "[SourceDisksNames]\n1=d,,,..\\\n3=d,,,C:\\Windows\n4=d,,,.\\sub\n"
         "[SourceDisksFiles]\nsecret.txt=1\nnotepad.exe=3\nx.sys=4\n";
  // "." stays in the package: taken, as it is from an archive.
  fs::create_directories(root / "pkg" / "sub");
  std::ofstream(root / "pkg" / "sub" / "X.SYS") << "driver";
  fs::create_symlink(root / "secret.txt", root / "pkg" / "link.sys");
  std::ofstream(root / "pkg" / "a.inf", std::ios::app) << "link.sys=2\n";
  const Package p = ResolvePackage(FirstLine(root.string(), "pkg/a.inf"));
  EXPECT_EQ(Names(p), (std::vector<std::string>{"a.inf", "sub/X.SYS"}));
  EXPECT_EQ(p.missing.size(), 4u);
  fs::remove_all(root);
}

}  // namespace
}  // namespace catalog
