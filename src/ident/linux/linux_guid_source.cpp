#include "ident/linux/linux_guid_source.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <string>

namespace ident {
namespace {

constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);  // E_FAIL

bool RandomBytes(std::array<std::uint8_t, 16>& bytes) {
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Older kernels without getrandom: the kernel's own UUID text.
bool UuidFromProc(std::array<std::uint8_t, 16>& bytes) {
  std::ifstream in("/proc/sys/kernel/random/uuid");
  std::string text;
  if (!(in >> text)) return false;
  std::size_t k = 0;
  for (std::size_t i = 0; i + 1 < text.size() && k < bytes.size();) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    const auto hex = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int hi = hex(text[i]), lo = hex(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[k++] = static_cast<std::uint8_t>(hi << 4 | lo);
    i += 2;
  }
  return k == bytes.size();
}

}  // namespace

std::int32_t LinuxGuidSource::NewGuid(Guid& guid) {
  std::array<std::uint8_t, 16> b{};
  if (!RandomBytes(b) && !UuidFromProc(b)) return kFail;
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  guid.Data1 =
      std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
  guid.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
  guid.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
  for (std::size_t i = 0; i < 8; ++i) guid.Data4[i] = b[8 + i];
  return 0;
}

}  // namespace ident
