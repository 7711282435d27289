// How the program learns whether it runs on 64-bit Windows: kernel32's
// IsWow64Process, which older systems lack, so it is looked up at run time.
#pragma once

#include <cstdint>

namespace sysinfo {

class SystemProbe {
 public:
  virtual ~SystemProbe() = default;
  // Looks IsWow64Process up in the loaded kernel32; false when it is absent.
  virtual bool FindIsWow64Process() = 0;
  // Calls the function found above for the current process. It writes a
  // non-zero flag when the process runs under WOW64 and returns whether the
  // call succeeded. Only called after FindIsWow64Process answered true.
  virtual bool CallIsWow64Process(std::int32_t& flag) = 0;
};

}  // namespace sysinfo
