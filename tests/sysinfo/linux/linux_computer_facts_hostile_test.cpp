// Files of a damaged or hostile system tree: every value stays on its line
// of the block, and what can't be read as a small regular file is null.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sysinfo/computer_facts.h"
#include "sysinfo/linux/linux_computer_facts.h"

namespace {

namespace fs = std::filesystem;

TEST(LinuxComputerFactsHostileTest, ValuesStayOnTheirLinesAndOddFilesAreNull) {
  char name[] = "/tmp/kestrova-sysinfo-hostile-XXXXXX";
  const fs::path root = mkdtemp(name);
  fs::copy(fs::path(KESTROVA_TEST_DATA) / "sysinfo" / "laptop", root, fs::copy_options::recursive);
  const fs::path dmi = root / "sys/class/dmi/id";
  std::ofstream(dmi / "bios_vendor", std::ios::binary) << "LENOVO\r\nManufacturer=evil\n";
  std::ofstream(root / "etc/os-release", std::ios::binary)
      << "PRETTY_NAME=\"Debian\rCSName=evil\"\n";
  fs::remove(dmi / "product_version");
  ASSERT_EQ(::mkfifo((dmi / "product_version").c_str(), 0600), 0);  // would block a reader
  fs::resize_file(dmi / "sys_vendor", 1 << 20);                     // no DMI value is this large

  const std::wstring block = sysinfo::FormatComputerBlock(sysinfo::ReadLinuxComputerFacts(root));
  EXPECT_EQ(block.rfind(L"\r\nbios=LENOVO  Manufacturer=evil,", 0), 0u) << block;
  EXPECT_NE(block.find(L"\r\nCaption=Debian CSName=evil\r\n"), std::wstring::npos) << block;
  EXPECT_NE(block.find(L"\r\nCSProuctVersion=\r\n"), std::wstring::npos) << block;
  EXPECT_EQ(block.substr(block.rfind(L"\r\n")), L"\r\nManufacturer=");
  fs::remove_all(root);
}

}  // namespace
