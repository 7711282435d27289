#include <windows.h>

#include "sysinfo/win/win_wmi.h"

namespace sysinfo {
namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

}  // namespace

bool WinSystemProbe::FindIsWow64Process() {
#if defined(_WIN64)
  return true;
#else
  // Absent before Windows XP SP2: look it up rather than import it.
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (kernel == nullptr) return false;
  is_wow64_process_ = reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process"));
  return is_wow64_process_ != nullptr;
#endif
}

bool WinSystemProbe::CallIsWow64Process(std::int32_t& flag) {
#if defined(_WIN64)
  flag = 1;
  return true;
#else
  if (is_wow64_process_ == nullptr) return false;
  auto is_wow64 = reinterpret_cast<IsWow64ProcessFn>(is_wow64_process_);
  BOOL wow64 = flag;
  BOOL ok = is_wow64(GetCurrentProcess(), &wow64);
  flag = wow64;
  return ok != FALSE;
#endif
}

}  // namespace sysinfo
