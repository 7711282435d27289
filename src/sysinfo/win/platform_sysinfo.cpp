// Windows composition: WMI over COM and kernel32, read off the window's
// thread within a time bound.
#include "sysinfo/computer_facts.h"
#include "sysinfo/win/facts_off_thread.h"
#include "sysinfo/win/procedures/computer_info.h"
#include "sysinfo/win/win_wmi.h"

namespace sysinfo {
namespace {

class NoUi : public InfoUi {
 public:
  void SetStatus(const std::wstring&) override {}
  void PumpPending() override {}
};

// The real seams, owned with the procedure that reads them.
class WinComputerFacts : public ComputerFactsSource {
 public:
  explicit WinComputerFacts(InfoUi& ui) : ui_(ui) {}
  ComputerFacts Read() override {
    return ReadFactsOffThread(
        [] {
          // In the reading thread's own apartment; nothing there to pump.
          WinWmi wmi;
          WinSystemProbe probe;
          NoUi quiet;
          return ReadComputerFacts(wmi, probe, quiet);
        },
        kComputerFactsDeadlineMs, ui_);
  }

 private:
  InfoUi& ui_;
};

}  // namespace

std::unique_ptr<ComputerFactsSource> MakeComputerFactsSource(InfoUi& ui) {
  return std::make_unique<WinComputerFacts>(ui);
}

}  // namespace sysinfo
