#pragma once

#include <string>
#include <vector>

#include "app/scan_ui.h"

namespace fakes {

// Records everything the scan shows, in order.
class FakeScanUi : public app::ScanUi {
 public:
  std::vector<std::wstring> statuses;
  std::vector<std::wstring> messages;
  std::vector<std::wstring> problems;
  int minimized = 0;
  int pumps = 0;
  std::vector<bool> wait_cursor;

  void SetStatus(const std::wstring& t) override { statuses.push_back(t); }
  void ShowMessage(const std::wstring& t) override { messages.push_back(t); }
  void Minimize() override { ++minimized; }
  void ReportProblem(const std::wstring& t) override { problems.push_back(t); }
  void PumpPending() override { ++pumps; }
  void SetWaitCursor(bool on) override { wait_cursor.push_back(on); }
  std::wstring status() const { return statuses.empty() ? L"" : statuses.back(); }
};

}  // namespace fakes
