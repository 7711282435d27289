// A scripted disk port: records every call and answers IDENTIFY requests
// with a block the test builds from word values.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ident/win/procedures/disk_port.h"

namespace fakes {

using Block = std::array<std::uint8_t, 512>;

// Stores a 16-bit IDENTIFY word the way the block holds it: low byte first.
inline void SetWord(Block& block, int word, std::uint16_t value) {
  block[2 * word] = static_cast<std::uint8_t>(value & 0xFF);
  block[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Puts an ATA string at `first_word`: two characters a word, the first in
// the high byte; an odd last character gets a zero low byte.
inline void SetAtaString(Block& block, int first_word, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto hi = static_cast<std::uint8_t>(text[i]);
    const auto lo = i + 1 < text.size() ? static_cast<std::uint8_t>(text[i + 1]) : 0;
    SetWord(block, first_word + static_cast<int>(i / 2), static_cast<std::uint16_t>(hi << 8 | lo));
  }
}

inline constexpr std::uint32_t kSmartRcvDriveData = 0x7C088;

class FakeDisk : public ident::DiskPort {
 public:
  struct Open {
    std::string name;
    ident::OpenMode mode;
  };
  struct Request {
    ident::DiskHandle handle;
    std::uint32_t control_code;
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> reply_as_passed;  // what the reply held before the call
  };

  ident::OsVersion version{2, 1};  // an NT-family Windows
  ident::DiskHandle open_result = 0x7C;
  bool answers = true;  // false: the device rejects the request
  Block block{};        // the device's IDENTIFY data

  std::string windows_folder = "C:\\WINDOWS";
  // Replies to other device controls, by control code: the bytes the device
  // returns, or no entry for a call that fails.
  std::map<std::uint32_t, std::vector<std::uint8_t>> replies;

  int version_calls = 0;
  std::vector<Open> opens;
  std::vector<Request> requests;
  std::vector<ident::DiskHandle> closed;

  ident::OsVersion GetVersionExA() override {
    ++version_calls;
    return version;
  }
  std::string GetSystemWindowsDirectoryA() override { return windows_folder; }
  ident::DiskHandle CreateFileA(const std::string& name, ident::OpenMode mode) override {
    opens.push_back({name, mode});
    return open_result;
  }
  std::int64_t DeviceIoControl(ident::DiskHandle handle, std::uint32_t control_code,
                               std::span<const std::uint8_t> request,
                               std::span<std::uint8_t> reply) override {
    requests.push_back(
        {handle, control_code, {request.begin(), request.end()}, {reply.begin(), reply.end()}});
    if (control_code != kSmartRcvDriveData) {
      auto it = replies.find(control_code);
      if (it == replies.end() || it->second.size() > reply.size()) return -1;
      std::copy(it->second.begin(), it->second.end(), reply.begin());
      return static_cast<std::int64_t>(it->second.size());
    }
    if (!answers || reply.size() < 16 + block.size()) return -1;
    // The SENDCMDOUTPARAMS header stays as the driver leaves it; scribble on
    // it so that a decoder reading from the wrong offset shows.
    for (std::size_t i = 0; i < 16; ++i) reply[i] = 0x55;
    std::copy(block.begin(), block.end(), reply.begin() + 16);
    return static_cast<std::int64_t>(16 + block.size());
  }
  void CloseHandle(ident::DiskHandle handle) override { closed.push_back(handle); }
};

}  // namespace fakes
