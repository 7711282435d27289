// The operations a scan calls, as one set of collaborators. Each platform's
// composition root fills it with the real implementations; tests fill it
// with fakes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/scan_ui.h"
#include "files/file_system.h"

namespace app {

struct ScanServices {
  // One entry in the activity log.
  std::function<void(const std::wstring& text)> WriteLog;
  // Driver list plus computer information block; empty when nothing found.
  std::function<std::wstring()> CollectScanData;
  // Base64 text of a string, via the ANSI code page.
  std::function<std::wstring(const std::wstring& text)> EncodeText;
  // Serial number of disk 0, or the fallback.
  std::function<std::wstring()> GetHardwareId;
  // 32 upper-case hex digits from a fresh GUID, or empty.
  std::function<std::wstring()> NewScanId;
  // The tail of the system's setup log, or a notice.
  std::function<std::wstring()> SetupLogExcerpt;
  // Opens a document with the shell's default handler; result ignored.
  std::function<void(const std::wstring& path)> OpenDocument;
  // Save-As dialog; the chosen path, or empty when cancelled.
  std::function<std::wstring(const std::wstring& file_name, const std::wstring& initial_folder)>
      ShowSaveDialog;
};

// The platform's composition root (one per platform, in app/<os>/): the real
// file system, and the real services reporting to `ui`. The references must
// outlive the services.
std::unique_ptr<file::FileSystem> MakeFileSystem();
// The part both roots share (driver list with computer information, Base64).
ScanServices CommonServices(ScanUi& ui);
ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs);

}  // namespace app
