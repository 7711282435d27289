#include "app/scan_workflow.h"

#include <exception>
#include <utility>

#include "files/file.h"
#include "files/html_escape.h"
#include "platform/codepage.h"

namespace app {
namespace {

// Clears the running flag however the scan ends.
class RunningGuard {
 public:
  explicit RunningGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningGuard() { flag_ = false; }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to) {
  if (from.empty()) return text;
  std::wstring out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(from, pos);
    if (hit == std::wstring::npos) break;
    out.append(text, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  out.append(text, pos, std::wstring::npos);
  return out;
}

ScanWorkflow::ScanWorkflow(ScanUi& ui, file::FileSystem& fs, ScanServices services,
                           std::wstring template_path)
    : ui_(ui), fs_(fs), services_(std::move(services)), template_path_(std::move(template_path)) {}

std::wstring ScanWorkflow::DefaultTemplatePath(file::FileSystem& fs) {
  // Set by the build for platforms that install into a prefix.
#ifndef KESTROVA_INSTALLED_TEMPLATE_DIR
#define KESTROVA_INSTALLED_TEMPLATE_DIR ""
#endif
  return TemplatePath(fs, platform::FromUtf8(KESTROVA_INSTALLED_TEMPLATE_DIR));
}

std::wstring ScanWorkflow::TemplatePath(file::FileSystem& fs, const std::wstring& installed_dir) {
  const std::wstring folder = fs.ExecutableFolder();
  const wchar_t sep = fs.Separator();
  const std::wstring beside = folder + sep + kTemplateName;
  if (installed_dir.empty() || fs.Exists(beside)) return beside;

  std::wstring installed = folder;
  size_t start = 0;
  while (start <= installed_dir.size()) {
    size_t end = installed_dir.find(L'/', start);
    if (end == std::wstring::npos) end = installed_dir.size();
    const std::wstring part = installed_dir.substr(start, end - start);
    if (part == L"..") {
      const size_t cut = installed.find_last_of(sep);
      if (cut == std::wstring::npos) return beside;  // above the root
      installed.erase(cut);
    } else if (!part.empty() && part != L".") {
      installed += sep + part;
    }
    start = end + 1;
  }
  installed += sep;
  installed += kTemplateName;
  return fs.Exists(installed) ? installed : beside;
}

ScanResult ScanWorkflow::ScanDrivers(const std::wstring& ScanMode) {
  // Operations that let window messages run can deliver a second Start
  // click; one scan at a time.
  if (running_) return {ScanOutcome::kAlreadyRunning, {}, {}};
  RunningGuard guard(running_);
  try {
    return Run(ScanMode);
  } catch (const std::exception& e) {
    ScanResult failed{ScanOutcome::kFailed, {}, platform::FromUtf8(e.what())};
    ui_.ShowMessage(L"The scan could not be completed.\r\n\r\n" + failed.error);
    return failed;
  } catch (...) {
    ScanResult failed{ScanOutcome::kFailed, {}, L"unknown error"};
    ui_.ShowMessage(L"The scan could not be completed: unknown error.");
    return failed;
  }
}

ScanResult ScanWorkflow::Run(const std::wstring& ScanMode) {
  services_.WriteLog(L"Start scanning file with mode:" + ScanMode);
  ui_.SetStatus(L"Collecting Driver Information");

  std::wstring scan_data = services_.CollectScanData();
  if (scan_data.empty()) return {ScanOutcome::kNoScanData, {}, {}};

  ui_.SetStatus(L"Collecting computer information");
  scan_data = services_.EncodeText(scan_data);

  if (!file::FileExists(fs_, template_path_)) {
    ui_.ShowMessage(kTemplateMissingText);
    return {ScanOutcome::kTemplateMissing, {}, {}};
  }
  std::wstring report = file::ReadTextFile(fs_, ui_, template_path_);

  // Each value is computed just before its own substitution, in this order;
  // text put in earlier is open to the later substitutions.
  report = ReplaceAll(std::move(report), L"[drivers]", scan_data);
  report = ReplaceAll(std::move(report), L"[hwid]", services_.EncodeText(services_.GetHardwareId()));
  report = ReplaceAll(std::move(report), L"[scanid]", services_.NewScanId());
  // The setup log holds text from third-party driver packages: escaped, so
  // it reads back as written and never becomes markup in the page.
  report = ReplaceAll(std::move(report), L"[setup_api_log]",
                      file::EscapeHtml(services_.GetSetupApiLog()));
  report = ReplaceAll(std::move(report), L"[proc]", L"");

  ScanResult result;
  result.work_report_path = modScanLib::GetWorkFolder(fs_) + kTemplateName;
  file::WriteTextFile(fs_, result.work_report_path, report, false);

  if (ScanMode == L"online") {
    services_.OpenDocument(result.work_report_path);
    ui_.Minimize();
    ui_.SetStatus(L"Sending information");
    result.outcome = ScanOutcome::kReportOpened;
    return result;
  }

  const std::wstring saved = services_.ShowSaveDialog(L"drivers", fs_.DesktopFolder());
  ui_.SetStatus(L"Save file to desktop");
  if (saved.empty()) {
    result.outcome = ScanOutcome::kSaveCancelled;
    return result;
  }
  file::WriteTextFile(fs_, saved, report, false);
  ui_.ShowMessage(kCopyHintText);
  result.outcome = ScanOutcome::kReportSaved;
  return result;
}

}  // namespace app
