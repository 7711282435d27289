// What Linux publishes about a disk, of any content: the kernel's copy of
// the IDENTIFY data (VPD page 0x89), the unit serial number page (0x80) and
// the model, revision and serial attributes, made into the disk's identity.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_input.h"
#include "ident/linux/linux_disk_identity.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static const char* const kFiles[] = {
      "sys/block/sda/removable",
      "sys/block/sda/device/vpd_pg89",
      "sys/block/sda/device/vpd_pg80",
      "sys/block/sda/device/model",
      "sys/block/sda/device/firmware_rev",
      "sys/block/sda/device/serial",
      "sys/block/sda/serial",
  };
  // A fresh tree each time: which sources exist decides which one answers.
  const fs::path root = fuzz::Scratch() / "disk";
  fs::remove_all(root);
  const auto fields = fuzz::Fields(data, size, std::size(kFiles));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!fields[i].empty()) fuzz::WriteFile(root / kFiles[i], fields[i]);
  }
  fs::create_directories(root / "sys/block/sda/device");
  ident::LinuxDiskIdentity disks(root.string());
  const ident::DiskIdentity d = disks.SystemDisk().value_or(ident::DiskIdentity{});
  for (const std::wstring& text : {d.model, d.serial, d.firmware}) {
    fuzz::Require(text.size() <= 40);
    fuzz::Require(text.empty() || (text.front() != L' ' && text.back() != L' '));
  }
  return 0;
}
