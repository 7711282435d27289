// What the scan asks of whoever shows it: the window, or the console of the
// command-line tool.
#pragma once

#include <string>

#include "platform/message_pump.h"

namespace app {

// Title of every message box.
inline constexpr wchar_t kAppTitle[] = L"Kestrova";

class ScanUi : public platform::MessagePump {
 public:
  // The status line's text; no forced repaint.
  virtual void SetStatus(const std::wstring& text) = 0;
  // A modal message with an OK button only, no icon, titled kAppTitle.
  virtual void ShowMessage(const std::wstring& text) = 0;
  // Minimises the window (nothing for a console).
  virtual void Minimize() = 0;
  // A problem that does not end the scan (the activity log could not be
  // written): the console says it; the window keeps quiet, as the log is
  // only a diagnostic.
  virtual void ReportProblem(const std::wstring& text) { (void)text; }
};

}  // namespace app
