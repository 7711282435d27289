// WMI through its scripting interface: the "winmgmts:" moniker bound with
// CoGetObject, then SWbemServices.ExecQuery, _NewEnum and property reads,
// all late-bound through IDispatch as a script engine calls them.
#pragma once

#include <memory>
#include <string>

#include "sysinfo/win/procedures/system_probe.h"
#include "sysinfo/win/procedures/wmi.h"

namespace sysinfo {

// COM initialised on the calling thread for as long as any object made from
// it lives.
class ComApartment;

class WinWmi : public Wmi {
 public:
  WinWmi();
  ~WinWmi() override;
  std::unique_ptr<WmiConnection> Connect(const std::wstring& moniker) override;

 private:
  std::shared_ptr<ComApartment> apartment_;
};

// kernel32's IsWow64Process, looked up when asked. A 64-bit build runs only
// on 64-bit Windows and answers so without asking.
class WinSystemProbe : public SystemProbe {
 public:
  bool FindIsWow64Process() override;
  bool CallIsWow64Process(std::int32_t& flag) override;

 private:
  void* is_wow64_process_ = nullptr;
};

}  // namespace sysinfo
