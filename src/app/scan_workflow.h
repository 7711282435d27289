// One scan from start to end: collect, fill the report template, write the
// report into the work folder, and deliver it.
#pragma once

#include <string>
#include <vector>

#include "app/scan_services.h"
#include "app/scan_ui.h"
#include "files/file_system.h"

namespace app {

inline constexpr wchar_t kTemplateName[] = L"driver.html";
inline constexpr wchar_t kTemplateMissingText[] =
    L"Unable to file template , please re-install the application";
inline constexpr wchar_t kCopyHintText[] =
    L"You can copy this file to a computer with internet connection and open it";

// Where the report goes: opened with the shell (the service answers at once),
// or saved for a computer that has a connection.
enum class ScanMode { kOnline, kOffline };

// The mode as the activity log names it: "online" or "offline".
const wchar_t* ScanModeName(ScanMode mode);

enum class ScanOutcome {
  kReportOpened,     // online: written and handed to the shell
  kReportSaved,      // offline: written and saved where the user chose
  kSaveCancelled,    // offline: written to the work folder only
  kTemplateMissing,  // missing or unreadable; nothing written, `error` says why
  kNoScanData,       // nothing written
  kFailed,           // an error ended the scan; `error` says which
  kAlreadyRunning,   // a second Start during a scan is ignored
};

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::kFailed;
  std::wstring work_report_path;  // set once the report is written
  std::wstring error;
};

// A placeholder of the report template (with its brackets) and its value.
struct Placeholder {
  std::wstring name;
  std::wstring value;
};

// `text` with every placeholder replaced by its value in one left-to-right
// pass: inserted values are never searched again. The result is the
// report's bytes, in the ANSI code page.
std::string FillTemplate(const std::wstring& text, const std::vector<Placeholder>& values);

class ScanWorkflow {
 public:
  ScanWorkflow(ScanUi& ui, file::FileSystem& fs, ScanServices services, std::wstring template_path);

  // Online opens the report with the shell; offline offers Save-As.
  ScanResult ScanDrivers(ScanMode mode);

  // The template beside the executable (a build tree, Windows, the portable
  // zip); failing that, the one an installed program keeps in its data
  // folder (on Linux /usr/share/kestrova).
  static std::wstring DefaultTemplatePath(file::FileSystem& fs);
  // The same with the data folder given: '/'-separated, relative to the
  // executable's folder; empty for none. With neither file present, the
  // path beside the executable, so messages name the usual place.
  static std::wstring TemplatePath(file::FileSystem& fs, const std::wstring& installed_dir);

 private:
  ScanResult Run(ScanMode mode);

  ScanUi& ui_;
  file::FileSystem& fs_;
  ScanServices services_;
  std::wstring template_path_;
  bool running_ = false;
};

}  // namespace app
