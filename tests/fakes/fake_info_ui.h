// The window as the computer information collection sees it: statuses and
// yields, in order.
#pragma once

#include <string>
#include <vector>

#include "sysinfo/info_ui.h"

namespace fakes {

class FakeInfoUi : public sysinfo::InfoUi {
 public:
  std::vector<std::wstring>* log = &own_log;
  std::vector<std::wstring> own_log;
  std::vector<std::wstring> statuses;
  int yields = 0;

  void SetStatus(const std::wstring& text) override {
    statuses.push_back(text);
    log->push_back(L"status " + text);
  }
  void PumpPending() override {
    ++yields;
    log->push_back(L"yield");
  }
};

}  // namespace fakes
