#include "app/scan_workflow.h"

#include <exception>
#include <string_view>
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

const wchar_t* ScanModeName(ScanMode mode) {
  return mode == ScanMode::kOnline ? L"online" : L"offline";
}

namespace {

// The placeholder whose name starts `text` at `at`; nullptr when none does.
const Placeholder* PlaceholderAt(const std::wstring& text, size_t at,
                                 const std::vector<Placeholder>& values) {
  for (const Placeholder& p : values) {
    if (text.compare(at, p.name.size(), p.name) == 0) return &p;
  }
  return nullptr;
}

// Walks `text` once, handing `emit` each piece of the result in order.
template <typename Emit>
void WalkTemplate(const std::wstring& text, const std::vector<Placeholder>& values, Emit emit) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(L'[', pos);
    if (open == std::wstring::npos) break;
    emit(std::wstring_view(text).substr(pos, open - pos));
    const Placeholder* hit = PlaceholderAt(text, open, values);
    emit(hit != nullptr ? std::wstring_view(hit->value) : std::wstring_view(L"["));
    pos = open + (hit != nullptr ? hit->name.size() : 1);
  }
  if (pos < text.size()) emit(std::wstring_view(text).substr(pos));
}

}  // namespace

std::string FillTemplate(const std::wstring& text, const std::vector<Placeholder>& values) {
  // Made once, in the bytes it is written in (a quarter of the wide text's
  // size on Linux), so no wide copy of the whole report is made: each new
  // page of it is a fault to the kernel. Every piece ends at a bracket or a
  // value's end, so converting piece by piece gives the same bytes.
  size_t size = 0;
  WalkTemplate(text, values, [&size](std::wstring_view piece) { size += piece.size(); });
  std::string out;
  out.reserve(size);
  WalkTemplate(text, values, [&out](std::wstring_view piece) { out += platform::ToAnsi(piece); });
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

ScanResult ScanWorkflow::ScanDrivers(ScanMode mode) {
  // Operations that let window messages run can deliver a second Start
  // click; one scan at a time.
  if (running_) return {ScanOutcome::kAlreadyRunning, {}, {}};
  RunningGuard guard(running_);
  try {
    return Run(mode);
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

ScanResult ScanWorkflow::Run(ScanMode mode) {
  // The log is a diagnostic: losing it is said once and the scan goes on.
  try {
    services_.WriteLog(std::wstring(L"Start scanning file with mode:") + ScanModeName(mode));
  } catch (const std::exception& e) {
    ui_.ReportProblem(L"The activity log could not be written: " + platform::FromUtf8(e.what()));
  }
  ui_.SetStatus(L"Collecting Driver Information");

  std::wstring scan_data = services_.CollectScanData();
  if (scan_data.empty()) return {ScanOutcome::kNoScanData, {}, {}};

  ui_.SetStatus(L"Collecting computer information");
  scan_data = services_.EncodeText(scan_data);

  // A template that cannot be read counts as missing, whatever the reason;
  // nothing is written, so the last good report stays.
  std::wstring report;
  try {
    report = file::ReadRequiredTextFile(fs_, ui_, template_path_);
  } catch (const file::FileError& e) {
    const std::wstring reason = platform::FromUtf8(e.what());
    ui_.ShowMessage(std::wstring(kTemplateMissingText) + L"\r\n\r\n" + reason);
    return {ScanOutcome::kTemplateMissing, {}, reason};
  }

  // Each value is computed in this order, then the template is filled in
  // one pass: text put in is never searched again, so a log line or device
  // name holding a placeholder's text keeps it.
  const std::wstring hwid = services_.EncodeText(services_.GetHardwareId());
  const std::wstring scan_id = services_.NewScanId();
  // The setup log holds text from third-party driver packages: escaped, so
  // it reads back as written and never becomes markup in the page.
  const std::wstring setup_log = file::EscapeHtml(services_.SetupLogExcerpt());
  const std::string bytes = FillTemplate(report, {{L"[drivers]", scan_data},
                                                  {L"[hwid]", hwid},
                                                  {L"[scanid]", scan_id},
                                                  {L"[setup_api_log]", setup_log},
                                                  {L"[proc]", L""}});

  ScanResult result;
  result.work_report_path = file::GetWorkFolder(fs_) + kTemplateName;
  fs_.ReplaceBytes(result.work_report_path, bytes);

  if (mode == ScanMode::kOnline) {
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
  fs_.ReplaceBytes(saved, bytes);
  ui_.ShowMessage(kCopyHintText);
  result.outcome = ScanOutcome::kReportSaved;
  return result;
}

}  // namespace app
