// Windows composition: WMI over COM and kernel32.
#include "sysinfo/computer_facts.h"
#include "sysinfo/win/procedures/computer_info.h"
#include "sysinfo/win/win_wmi.h"

namespace sysinfo {
namespace {

// The real seams, owned with the procedure that reads them.
class WinComputerFacts : public ComputerFactsSource {
 public:
  explicit WinComputerFacts(InfoUi& ui) : ui_(ui) {}
  ComputerFacts Read() override {
    WinWmi wmi;
    WinSystemProbe probe;
    return ReadComputerFacts(wmi, probe, ui_);
  }

 private:
  InfoUi& ui_;
};

}  // namespace

std::unique_ptr<ComputerFactsSource> MakeComputerFactsSource(InfoUi& ui) {
  return std::make_unique<WinComputerFacts>(ui);
}

}  // namespace sysinfo
