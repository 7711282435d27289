// What the driver list collection asks of the window: a modal message, and a
// chance to process pending messages.
#pragma once

#include <string>

namespace devices {

class DeviceUi {
 public:
  virtual ~DeviceUi() = default;
  // A modal message with an OK button, no icon, the application's title.
  virtual void ShowMessage(const std::wstring& text) = 0;
  // Lets the window process the messages that are waiting, once.
  virtual void PumpPending() = 0;
};

// Adapts any object with ShowMessage(const std::wstring&) and PumpPending()
// (such as the scan's window) without this library depending on it.
template <class Ui>
class DeviceUiFor : public DeviceUi {
 public:
  explicit DeviceUiFor(Ui& ui) : ui_(ui) {}
  void ShowMessage(const std::wstring& text) override { ui_.ShowMessage(text); }
  void PumpPending() override { ui_.PumpPending(); }

 private:
  Ui& ui_;
};

}  // namespace devices
