#include "ident/linux/linux_disk_identity.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/codepage.h"
#include "platform/linux/fd.h"
#include "platform/linux/small_file.h"
#include "platform/linux/sysroot.h"
#include "platform/text.h"

namespace ident {
namespace {

namespace fs = std::filesystem;

// A text attribute: up to its first NUL, without surrounding white space.
std::string ReadText(const fs::path& path) {
  const std::string s = platform::ReadSmallFile(path.string()).value_or("");
  return std::string(platform::TrimWhiteSpace(std::string_view(s).substr(0, s.find('\0'))));
}

std::string FirstPublished(const fs::path& dir, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    std::string value = ReadText(dir / name);
    if (!value.empty()) return value;
  }
  return {};
}

// Name order with runs of digits compared by value.
bool NameLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) &&
        std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

bool AllZero(const IdentifyBlock& block) {
  return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
}

// A block with the integrity signature (0xA5 in word 255's low byte) must
// sum to zero.
bool Plausible(const IdentifyBlock& block) {
  if (AllZero(block)) return false;
  if (block[510] != 0xA5) return true;
  std::uint8_t sum = 0;
  for (std::uint8_t b : block) sum = static_cast<std::uint8_t>(sum + b);
  return sum == 0;
}

// IDENTIFY DEVICE through the SCSI/ATA translation layer: ATA PASS-THROUGH
// (16), PIO data-in, one 512-byte sector.
std::optional<IdentifyBlock> IdentifyThroughSgIo(const fs::path& device) {
  const platform::Fd fd(::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return std::nullopt;
  IdentifyBlock block{};
  unsigned char cdb[16] = {};
  cdb[0] = 0x85;    // ATA PASS-THROUGH (16)
  cdb[1] = 4 << 1;  // protocol: PIO data-in
  cdb[2] = 0x0E;    // T_DIR from device, BYT_BLOK, length in the sector count
  cdb[6] = 1;       // sector count
  cdb[14] = kAtaIdentifyDevice;
  unsigned char sense[32] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = sizeof(cdb);
  io.mx_sb_len = sizeof(sense);
  io.dxfer_len = static_cast<unsigned>(block.size());
  io.dxferp = block.data();
  io.cmdp = cdb;
  io.sbp = sense;
  io.timeout = 5000;  // ms
  const int rc = ::ioctl(fd.get(), SG_IO, &io);
  if (rc != 0 || (io.info & SG_INFO_OK_MASK) != SG_INFO_OK || io.resid != 0) return std::nullopt;
  if (!Plausible(block)) return std::nullopt;
  return block;
}

// The kernel keeps the IDENTIFY data of a SATA disk in its ATA Information
// VPD page (0x89), which unprivileged users may read.
std::optional<IdentifyBlock> IdentifyFromVpdPage(const fs::path& page_file) {
  constexpr std::size_t kCommandOffset = 56, kDataOffset = 60;
  const auto page = platform::ReadFileStart(page_file.string(), kDataOffset + kIdentifyBlockSize);
  if (!page || page->size() < kDataOffset + kIdentifyBlockSize) return std::nullopt;
  if (static_cast<std::uint8_t>((*page)[1]) != 0x89 ||
      static_cast<std::uint8_t>((*page)[kCommandOffset]) != kAtaIdentifyDevice) {
    return std::nullopt;
  }
  IdentifyBlock block;
  std::copy_n(page->begin() + kDataOffset, block.size(), block.begin());
  if (!Plausible(block)) return std::nullopt;
  return block;
}

// The unit serial number VPD page (0x80) of a SCSI disk.
std::string SerialFromVpdPage(const fs::path& page_file) {
  const auto page = platform::ReadFileStart(page_file.string(), 4 + 255);
  if (!page || page->size() < 4 || static_cast<std::uint8_t>((*page)[1]) != 0x80) return {};
  const std::size_t len =
      std::min<std::size_t>(static_cast<std::uint8_t>((*page)[3]), page->size() - 4);
  std::string s = page->substr(4, len);
  s = s.substr(0, s.find('\0'));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  const std::size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

// A published string as the disk's own field would hold it: cut to the
// field's width, without surrounding spaces.
std::wstring Field(std::wstring_view text, std::size_t chars) {
  return std::wstring(platform::TrimSpaces(text.substr(0, chars)));
}

}  // namespace

std::vector<std::string> FixedDisks(const std::string& root) {
  std::vector<std::string> disks;
  std::error_code ec;
  const fs::path block_dir = fs::path(root) / "sys" / "block";
  for (fs::directory_iterator it(block_dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path dir = it->path();
    // Loop, RAM, device-mapper and other virtual disks have no device.
    if (!fs::exists(dir / "device", ec)) continue;
    if (ReadText(dir / "removable") != "0") continue;
    disks.push_back(dir.filename().string());
  }
  std::sort(disks.begin(), disks.end(), NameLess);
  return disks;
}

std::optional<DiskIdentity> LinuxDiskIdentity::SystemDisk() {
  const std::vector<std::string> disks = FixedDisks(root_);
  if (disks.empty()) return std::nullopt;
  return IdentityOf(disks.front());
}

std::optional<DiskIdentity> LinuxDiskIdentity::IdentityOf(const std::string& disk) const {
  const fs::path root(root_);
  if (auto block = IdentifyThroughSgIo(root / "dev" / disk)) return DecodeIdentity(*block);
  const fs::path dir = root / "sys" / "block" / disk;
  const fs::path device = dir / "device";
  if (auto block = IdentifyFromVpdPage(device / "vpd_pg89")) return DecodeIdentity(*block);

  // NVMe controllers, SCSI disks and MMC cards name their attributes
  // differently; virtio disks publish only a serial number, beside the disk.
  // Attributes are UTF-8; a SCSI page's bytes are taken as they are.
  const std::wstring model = platform::FromUtf8(FirstPublished(device, {"model", "name"}));
  std::wstring serial = platform::FromUtf8(FirstPublished(device, {"serial"}));
  if (serial.empty()) serial = platform::FromUtf8(ReadText(dir / "serial"));
  if (serial.empty()) serial = platform::FromAnsi(SerialFromVpdPage(device / "vpd_pg80"));
  const std::wstring firmware =
      platform::FromUtf8(FirstPublished(device, {"firmware_rev", "rev", "fwrev"}));
  if (model.empty() && serial.empty() && firmware.empty()) return std::nullopt;
  return DiskIdentity{Field(model, kModelChars), Field(serial, kSerialChars),
                      Field(firmware, kFirmwareChars)};
}

std::unique_ptr<DiskIdentitySource> MakeDiskIdentitySource() {
  return std::make_unique<LinuxDiskIdentity>(platform::SysRoot().string());
}

}  // namespace ident
