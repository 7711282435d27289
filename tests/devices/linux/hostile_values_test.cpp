// Values from a damaged or hostile system tree: what the readers and id
// builders make of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "devices/linux/hardware_ids.h"
#include "devices/linux/module_catalog.h"
#include "devices/linux/sysroot.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(HostileValuesTest, AnAttributeIsOneLineOfText) {
  const fs::path dir = fs::temp_directory_path() / ("kestrova-hostile-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "product", std::ios::binary) << "Mouse\r\ndriver_9=x\tY\0rest\n"s;
  std::ofstream(dir / "vendor", std::ios::binary) << "0x8086\0\n"s;
  std::ofstream(dir / "big", std::ios::binary) << std::string(70 * 1024, '1');
  EXPECT_EQ(devices::linux_sys::ReadAttribute(dir / "product"), "Mouse  driver_9=x Y");
  EXPECT_EQ(devices::linux_sys::ReadHex(dir / "vendor"), 0x8086u);
  EXPECT_EQ(devices::linux_sys::ReadAttribute(dir / "big"), std::nullopt);
  EXPECT_EQ(devices::linux_sys::ReadDecimal(dir / "big"), std::nullopt);
  fs::remove_all(dir);
}

TEST(HostileValuesTest, GarbageNamesNoIdAndNoDate) {
  using devices::linux_ids::AliasToWindowsId;
  EXPECT_EQ(AliasToWindowsId("acpi:PNP0C0C:"), "*pnp0c0c");
  EXPECT_EQ(AliasToWindowsId("acpi:PNP0I0C\x03:"), "");
  EXPECT_EQ(AliasToWindowsId("acpi:\xC3\xA9:"), "");
  EXPECT_EQ(AliasToWindowsId("acpi*:PNP0A0?:*"), "");
  using devices::linux_sys::KernelBuildDate;
  EXPECT_EQ(KernelBuildDate("#1 SMP Debian 6.1.55-1 (2023-09-29)"), "9-29-2023");
  EXPECT_EQ(KernelBuildDate("#1 SMP (2-09-29)"), "");
  EXPECT_EQ(KernelBuildDate("#1 SMP PREEMPT_DYNAMIC @1700000000"), "11-14-2023");
  EXPECT_EQ(KernelBuildDate("#1 SMP PREEMPT_DYNAMIC @277777777777777"), "");
  EXPECT_EQ(KernelBuildDate("#1 SMP Thu Oct  5 21:02:42 UTC 123456789"), "");
}

}  // namespace
