// A report template of any content filled by a whole offline scan: the
// placeholders replaced, the setup log escaped, the report written.
#include <cstdint>
#include <string>

#include "app/scan_workflow.h"
#include "fakes/fake_file_system.h"
#include "fakes/fake_scan_ui.h"
#include "fuzz_input.h"
#include "ident/base64.h"
#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fuzz::Fields(data, size, 2);
  const std::string& template_bytes = fields[0];
  fakes::FakeFileSystem fs;
  fs.env[L"TEMP"] = L"C:\\temp";
  const std::wstring template_path = L"C:\\app\\driver.html";
  fs.files[template_path] = template_bytes;
  const std::wstring setup_log = platform::FromAnsi(fields[1]);

  app::ScanServices services;
  services.WriteLog = [](const std::wstring&) {};
  services.CollectScanData = [] { return std::wstring(L"\r\ndriver_1=x[;]y"); };
  services.EncodeText = [](const std::wstring& t) { return ident::EncodeText(t); };
  services.GetHardwareId = [] { return std::wstring(L"WD-123"); };
  services.NewScanId = [] { return std::wstring(L"0123456789ABCDEF0123456789ABCDEF"); };
  services.SetupLogExcerpt = [&] { return setup_log; };
  services.OpenDocument = [](const std::wstring&) {};
  services.ShowSaveDialog = [](const std::wstring&, const std::wstring&) { return std::wstring(); };
  fakes::FakeScanUi ui;
  app::ScanWorkflow scan(ui, fs, services, template_path);
  const app::ScanResult result = scan.ScanDrivers(app::ScanMode::kOffline);

  fuzz::Require(result.outcome == app::ScanOutcome::kSaveCancelled);
  const auto report = fs.files.find(result.work_report_path);
  fuzz::Require(report != fs.files.end());
  // Without a placeholder the template comes back as it was.
  if (template_bytes.find('[') == std::string::npos) {
    fuzz::Require(report->second == platform::ToAnsi(platform::FromAnsi(template_bytes)));
  }
  // The log never brings markup into the page.
  if (template_bytes.find('<') == std::string::npos) {
    fuzz::Require(report->second.find('<') == std::string::npos);
  }
  return 0;
}
