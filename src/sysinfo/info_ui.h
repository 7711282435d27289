// What the computer information collection asks of the window: the status
// line, and a chance to process pending messages while it works.
#pragma once

#include <string>

namespace sysinfo {

class InfoUi {
 public:
  virtual ~InfoUi() = default;
  virtual void SetStatus(const std::wstring& text) = 0;
  // Lets the window process the messages that are waiting, once.
  virtual void PumpPending() = 0;
};

// Adapts any object with SetStatus(const std::wstring&) and PumpPending()
// (such as the scan's window) without this library depending on it.
template <class Ui>
class InfoUiFor : public InfoUi {
 public:
  explicit InfoUiFor(Ui& ui) : ui_(ui) {}
  void SetStatus(const std::wstring& text) override { ui_.SetStatus(text); }
  void PumpPending() override { ui_.PumpPending(); }

 private:
  Ui& ui_;
};

}  // namespace sysinfo
