// DMI values, os-release and kernel files of any content, read through the
// computer facts into the computer information block.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_input.h"
#include "sysinfo/computer_facts.h"
#include "sysinfo/linux/linux_computer_facts.h"

namespace {

const char* const kFiles[] = {
    "sys/class/dmi/id/bios_vendor",
    "sys/class/dmi/id/bios_version",
    "sys/class/dmi/id/bios_date",
    "sys/class/dmi/id/sys_vendor",
    "sys/class/dmi/id/product_name",
    "sys/class/dmi/id/product_version",
    "sys/class/dmi/id/product_serial",
    "sys/class/dmi/id/product_sku",
    "sys/class/dmi/id/product_family",
    "sys/class/dmi/id/board_vendor",
    "sys/class/dmi/id/chassis_type",
    "etc/os-release",
    "proc/sys/kernel/osrelease",
    "proc/sys/kernel/hostname",
    "proc/sys/kernel/arch",
    "proc/self/limits",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path root = fuzz::Scratch() / "dmi";
  const auto fields = fuzz::Fields(data, size, std::size(kFiles));
  for (std::size_t i = 0; i < fields.size(); ++i) fuzz::WriteFile(root / kFiles[i], fields[i]);
  const std::wstring block = sysinfo::FormatComputerBlock(sysinfo::ReadLinuxComputerFacts(root));
  // Lines "label=value", each after its CR LF: a value never adds a line.
  std::size_t lines = 0;
  for (std::size_t at = block.find(L"\r\n"); at != std::wstring::npos;
       at = block.find(L"\r\n", at + 2)) {
    ++lines;
  }
  fuzz::Require(lines <= 16);
  return 0;
}
