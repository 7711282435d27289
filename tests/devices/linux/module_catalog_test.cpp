// The kernel-module facts behind the class keys: what one module's devices
// share and what each keeps, and a system without a module folder.
#include "devices/linux/module_catalog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using devices::linux_sys::DriverFacts;
using devices::linux_sys::ModuleCatalog;

const fs::path kFixture = fs::path(KESTROVA_TEST_DATA) / "devices" / "sysroot";

// The module is read once for all its devices; the alias that matched stays
// each device's own.
TEST(ModuleCatalogTest, DevicesOfOneModuleShareItsFactsNotTheirMatchingId) {
  ModuleCatalog modules(kFixture);
  const std::string gpu = "pci:v00008086d00003E92sv00001028sd0000085Abc03sc00i00";
  const std::string other = "pci:v00008086d00009999sv00001028sd0000085Abc03sc00i00";
  const DriverFacts first = modules.Describe("i915", "", gpu, false);
  const DriverFacts second = modules.Describe("i915", "", other, false);
  const DriverFacts again = modules.Describe("i915", "", gpu, false);
  EXPECT_EQ(first.inf_path, "i915.ko");
  EXPECT_EQ(first.provider, "Linux");
  EXPECT_EQ(first.date, "9-29-2023");
  EXPECT_EQ(first.matching_id, "pci\\ven_8086&dev_3e92");
  EXPECT_EQ(second.matching_id, "");
  for (const DriverFacts* f : {&second, &again}) {
    EXPECT_EQ(f->version, first.version);
    EXPECT_EQ(f->inf_path, first.inf_path);
    EXPECT_EQ(f->provider, first.provider);
    EXPECT_EQ(f->date, first.date);
  }
  EXPECT_EQ(again.matching_id, first.matching_id);
  // A driver without a module link is found by the device's alias.
  const DriverFacts by_alias = modules.Describe(
      "xhci_hcd", "", "pci:v00008086d0000A36Dsv00001028sd0000085Abc0Csc03i30", false);
  EXPECT_EQ(by_alias.inf_path, "xhci-pci.ko");
  EXPECT_EQ(by_alias.version, "0.96");  // from sys/module, the module has none
}

// A kernel with no module folder (a container, a kernel without modules):
// built-in code as far as can be told, named after the driver.
TEST(ModuleCatalogTest, NoModuleFolder) {
  const fs::path root =
      fs::temp_directory_path() / ("kestrova-nomodules-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "proc/sys/kernel");
  std::ofstream(root / "proc/sys/kernel/osrelease") << "6.1.0-bare\n";
  std::ofstream(root / "proc/sys/kernel/version") << "#1 SMP Debian 6.1.55-1 (2023-09-29)\n";
  ModuleCatalog modules(root);
  const DriverFacts f = modules.Describe("e1000e", "e1000e", "pci:v00008086d000015B8", false);
  fs::remove_all(root);
  EXPECT_EQ(modules.release(), "6.1.0-bare");
  EXPECT_EQ(f.version, "6.1.0-bare");
  EXPECT_EQ(f.provider, "Linux");
  EXPECT_EQ(f.inf_path, "e1000e.ko");
  EXPECT_EQ(f.date, "9-29-2023");
  EXPECT_EQ(f.matching_id, "");
}

}  // namespace
