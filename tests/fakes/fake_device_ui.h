#pragma once

#include <string>
#include <vector>

#include "devices/device_ui.h"

namespace fakes {

// Records the messages shown and counts the pumps.
class FakeDeviceUi : public devices::DeviceUi {
 public:
  std::vector<std::wstring> messages;
  int pumps = 0;
  void ShowMessage(const std::wstring& text) override { messages.push_back(text); }
  void PumpPending() override { ++pumps; }
};

}  // namespace fakes
