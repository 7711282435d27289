#include "app/scan_cli.h"

#include "app/scan_workflow.h"
#include "platform/codepage.h"

namespace app {
namespace {

constexpr char kUsage[] =
    "Usage: kestrova-scan [--template FILE] [--output FILE] [--open] [--help] [--version]\n"
    "\n"
    "Takes an inventory of this computer's devices and drivers and writes the\n"
    "report into the per-user work folder; prints the report's path.\n"
    "\n"
    "  --template FILE  read this report template instead of driver.html\n"
    "                   beside the program\n"
    "  --output FILE    also write the finished report to FILE\n"
    "  --open           open the report with the default handler (online mode);\n"
    "                   without it the scan runs in offline mode\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Exit status: 0 report written, 2 usage error, 3 template missing or not\n"
    "a readable file, 4 no driver data found, 1 any other failure.\n";

class ConsoleUi : public ScanUi {
 public:
  explicit ConsoleUi(std::ostream& err) : err_(err) {}
  void SetStatus(const std::wstring& text) override { Line(text); }
  void ShowMessage(const std::wstring& text) override { Line(text); }
  void Minimize() override {}
  void ReportProblem(const std::wstring& text) override { Line(L"kestrova-scan: " + text); }
  void PumpPending() override {}
  void SetWaitCursor(bool) override {}

 private:
  // A message box's paragraphs become lines of their own.
  void Line(std::wstring text) {
    for (size_t at = text.find(L"\r\n\r\n"); at != std::wstring::npos;
         at = text.find(L"\r\n\r\n", at)) {
      text.replace(at, 4, L"\n");
    }
    err_ << platform::ToUtf8(text) << std::endl;
  }
  std::ostream& err_;
};

}  // namespace

int RunScanCli(const std::vector<std::wstring>& args, file::FileSystem& fs,
               const ServicesFactory& make_services, std::ostream& out, std::ostream& err) {
  std::wstring template_path;
  std::wstring output_path;
  bool open = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"--help" || a == L"-h") {
      out << kUsage;
      return kExitOk;
    }
    if (a == L"--version") {
      out << "kestrova-scan " << KESTROVA_VERSION << "\n";
      return kExitOk;
    }
    if (a == L"--open") {
      open = true;
    } else if (a == L"--template" || a == L"--output") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << "kestrova-scan: " << platform::ToUtf8(a) << " needs a file name\n" << kUsage;
        return kExitUsage;
      }
      (a == L"--template" ? template_path : output_path) = args[++i];
    } else {
      err << "kestrova-scan: unknown argument '" << platform::ToUtf8(a) << "'\n" << kUsage;
      return kExitUsage;
    }
  }
  if (template_path.empty()) template_path = ScanWorkflow::DefaultTemplatePath(fs);

  ConsoleUi ui(err);
  ScanServices services = make_services(ui, fs);
  // No dialog here: --output stands in for the user's choice, its absence
  // for a cancel.
  services.ShowSaveDialog = [output_path](const std::wstring&, const std::wstring&) {
    return output_path;
  };
  ScanWorkflow workflow(ui, fs, std::move(services), template_path);
  const ScanResult result = workflow.ScanDrivers(open ? ScanMode::kOnline : ScanMode::kOffline);

  switch (result.outcome) {
    case ScanOutcome::kReportOpened:
    case ScanOutcome::kReportSaved:
    case ScanOutcome::kSaveCancelled:
      out << platform::ToUtf8(result.work_report_path) << std::endl;
      return kExitOk;
    case ScanOutcome::kTemplateMissing:
      return kExitTemplateMissing;
    case ScanOutcome::kNoScanData:
      err << "kestrova-scan: no driver data found; no report written" << std::endl;
      return kExitNoScanData;
    case ScanOutcome::kFailed:
    case ScanOutcome::kAlreadyRunning:
      break;
  }
  return kExitFailure;
}

}  // namespace app
