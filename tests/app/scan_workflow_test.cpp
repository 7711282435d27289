#include "app/scan_workflow.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "fakes/fake_file_system.h"
#include "fakes/fake_scan_ui.h"
#include "platform/codepage.h"

namespace {

using app::ScanOutcome;

constexpr wchar_t kTemplate[] = L"C:\\Program Files\\Kestrova\\driver.html";
constexpr wchar_t kWorkReport[] = L"C:\\Temp\\pellucor\\driver.html";

class ScanWorkflowTest : public ::testing::Test {
 protected:
  ScanWorkflowTest() {
    fs.env[L"TEMP"] = L"C:\\Temp";
    fs.env[L"USERPROFILE"] = L"C:\\Users\\u";
    fs.folders.insert(L"C:\\Temp");
    services.WriteLog = [this](const std::wstring& t) { calls.push_back(L"log:" + t); };
    services.CollectScanData = [this] {
      calls.push_back(L"collect");
      return scan_data;
    };
    services.EncodeText = [](const std::wstring& t) { return L"<" + t + L">"; };
    services.GetHardwareId = [this] {
      calls.push_back(L"hwid");
      return std::wstring(L"SER");
    };
    services.NewScanId = [this] {
      calls.push_back(L"scanid");
      return std::wstring(L"0123456789ABCDEF0123456789ABCDEF");
    };
    services.SetupLogExcerpt = [this] {
      calls.push_back(L"setuplog");
      return setup_log;
    };
    services.OpenDocument = [this](const std::wstring& p) { opened.push_back(p); };
    services.ShowSaveDialog = [this](const std::wstring& name, const std::wstring& folder) {
      dialog_args.push_back(name + L"|" + folder);
      return save_choice;
    };
  }

  app::ScanResult Scan(app::ScanMode mode) {
    app::ScanWorkflow wf(ui, fs, services, kTemplate);
    return wf.ScanDrivers(mode);
  }

  fakes::FakeFileSystem fs;
  fakes::FakeScanUi ui;
  app::ScanServices services;
  std::vector<std::wstring> calls, opened, dialog_args;
  std::wstring scan_data = L"\r\ndriver_1=x";
  std::wstring setup_log = L"\r\nline";
  std::wstring save_choice;
};

TEST_F(ScanWorkflowTest, OnlineFillsEveryPlaceholderAndOpensTheReport) {
  fs.files[kTemplate] = "A[drivers]B[hwid]C[scanid]D[setup_api_log]E[proc]F[proc][Drivers]";
  const auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kReportOpened);
  EXPECT_EQ(r.work_report_path, kWorkReport);
  EXPECT_EQ(fs.files[kWorkReport],
            "A<\r\ndriver_1=x>B<SER>C0123456789ABCDEF0123456789ABCDEFD\r\nlineEF[Drivers]");
  EXPECT_EQ(opened, std::vector<std::wstring>{kWorkReport});
  EXPECT_EQ(ui.minimized, 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(dialog_args.empty());
  EXPECT_EQ(ui.statuses, (std::vector<std::wstring>{L"Collecting Driver Information",
                                                    L"Collecting computer information",
                                                    L"Sending information"}));
  EXPECT_EQ(calls, (std::vector<std::wstring>{L"log:Start scanning file with mode:online",
                                              L"collect", L"hwid", L"scanid", L"setuplog"}));
}

TEST_F(ScanWorkflowTest, InsertedValuesAreNeverSearchedAgain) {
  // Placeholder text inside a log line or the device data stays as it was.
  setup_log = L"x[proc]y[hwid]";
  services.EncodeText = [](const std::wstring& t) { return t; };
  scan_data = L"dev [scanid] [setup_api_log]";
  fs.files[kTemplate] = "[drivers]|[setup_api_log]|[proc][hwid][proc";
  const auto r = Scan(app::ScanMode::kOffline);
  EXPECT_EQ(fs.files[kWorkReport], "dev [scanid] [setup_api_log]|x[proc]y[hwid]|SER[proc");
  EXPECT_EQ(r.outcome, ScanOutcome::kSaveCancelled);
  EXPECT_TRUE(opened.empty());
}

TEST_F(ScanWorkflowTest, OfflineSavesASecondIdenticalCopyAndTellsTheUser) {
  fs.files[kTemplate] = "<html>[scanid]</html>";
  save_choice = L"C:\\Users\\u\\desktop\\drivers.html";
  const auto r = Scan(app::ScanMode::kOffline);
  EXPECT_EQ(r.outcome, ScanOutcome::kReportSaved);
  EXPECT_EQ(dialog_args, std::vector<std::wstring>{L"drivers|C:\\Users\\u\\desktop"});
  EXPECT_EQ(fs.files[save_choice], fs.files[kWorkReport]);
  EXPECT_EQ(ui.messages, std::vector<std::wstring>{app::kCopyHintText});
  EXPECT_EQ(ui.status(), L"Save file to desktop");
  EXPECT_EQ(ui.minimized, 0);
}

TEST_F(ScanWorkflowTest, CancelledSaveKeepsOnlyTheWorkCopyAndShowsNothing) {
  fs.files[kTemplate] = "t";
  const auto r = Scan(app::ScanMode::kOffline);
  EXPECT_EQ(r.outcome, ScanOutcome::kSaveCancelled);
  EXPECT_EQ(fs.files.size(), 2u);  // template + work report
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.status(), L"Save file to desktop");
}

TEST_F(ScanWorkflowTest, MissingTemplateWarnsAndLeavesTheEarlierReport) {
  fs.files[kWorkReport] = "earlier";
  const auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kTemplateMissing);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], std::wstring(app::kTemplateMissingText) + L"\r\n\r\n" + r.error);
  EXPECT_NE(r.error.find(L"no such file"), std::wstring::npos);
  EXPECT_EQ(fs.files[kWorkReport], "earlier");
  EXPECT_EQ(ui.status(), L"Collecting computer information");
  EXPECT_EQ(calls.front(), L"log:Start scanning file with mode:online");
}

TEST_F(ScanWorkflowTest, ATemplateThatCannotBeReadCountsAsMissingWithItsReason) {
  // Present but unreadable, and a folder in the template's place: the
  // earlier report is never replaced by an empty one.
  fs.files[kWorkReport] = "earlier";
  fs.files[kTemplate] = "t";
  fs.unreadable.insert(kTemplate);
  auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kTemplateMissing);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind(app::kTemplateMissingText, 0), 0u);
  EXPECT_NE(ui.messages[0].find(L"access denied"), std::wstring::npos);

  fs.files.erase(kTemplate);
  fs.folders.insert(kTemplate);
  r = Scan(app::ScanMode::kOffline);
  EXPECT_EQ(r.outcome, ScanOutcome::kTemplateMissing);
  EXPECT_NE(r.error.find(L"folder"), std::wstring::npos);
  EXPECT_EQ(fs.files[kWorkReport], "earlier");
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(dialog_args.empty());
}

TEST_F(ScanWorkflowTest, AnActivityLogThatCannotBeWrittenIsSaidOnceAndTheScanGoesOn) {
  fs.files[kTemplate] = "t";
  services.WriteLog = [](const std::wstring&) -> void {
    throw file::FileError("Could not open /proc/self/pellucor/log.txt: Permission denied");
  };
  const auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kReportOpened);
  EXPECT_EQ(fs.files[kWorkReport], "t");
  ASSERT_EQ(ui.problems.size(), 1u);
  EXPECT_NE(ui.problems[0].find(L"activity log"), std::wstring::npos);
  EXPECT_NE(ui.problems[0].find(L"Permission denied"), std::wstring::npos);
  EXPECT_TRUE(ui.messages.empty());  // the window keeps quiet about it
}

TEST_F(ScanWorkflowTest, AWorkFolderThatIsNotPrivateEndsTheScanWithItsReason) {
  fs.files[kTemplate] = "t";
  fs.files[kWorkReport] = "earlier";
  fs.not_private.insert(L"C:\\Temp\\pellucor");
  const auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kFailed);
  EXPECT_NE(r.error.find(L"Refusing"), std::wstring::npos);
  EXPECT_EQ(fs.files[kWorkReport], "earlier");
  EXPECT_TRUE(opened.empty());
}

TEST_F(ScanWorkflowTest, EmptyScanDataEndsSilentlyAfterOneLogEntry) {
  scan_data.clear();
  fs.files[kTemplate] = "t";
  const auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kNoScanData);
  EXPECT_EQ(calls,
            (std::vector<std::wstring>{L"log:Start scanning file with mode:online", L"collect"}));
  EXPECT_EQ(ui.status(), L"Collecting Driver Information");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(fs.files.count(kWorkReport));
}

TEST_F(ScanWorkflowTest, FailuresAreReportedAndLoseNothing) {
  fs.files[kTemplate] = "new";
  fs.files[kWorkReport] = "earlier";
  fs.unwritable.insert(kWorkReport);
  auto r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kFailed);
  EXPECT_EQ(fs.files[kWorkReport], "earlier");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(L"access denied"), std::wstring::npos);
  EXPECT_TRUE(opened.empty());

  // A collaborator that throws ends the scan the same way.
  fs.unwritable.clear();
  services.GetHardwareId = []() -> std::wstring { throw std::runtime_error("disk error 10002"); };
  ui.messages.clear();
  r = Scan(app::ScanMode::kOnline);
  EXPECT_EQ(r.outcome, ScanOutcome::kFailed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find(L"disk error 10002"), std::wstring::npos);
}

TEST_F(ScanWorkflowTest, SecondStartDuringAScanIsIgnored) {
  fs.files[kTemplate] = "t";
  // A Start click delivered while the scan lets window messages run.
  app::ScanWorkflow* self = nullptr;
  std::vector<ScanOutcome> inner;
  services.CollectScanData = [&] {
    inner.push_back(self->ScanDrivers(app::ScanMode::kOnline).outcome);
    return std::wstring(L"x");
  };
  app::ScanWorkflow wf(ui, fs, services, kTemplate);
  self = &wf;
  EXPECT_EQ(wf.ScanDrivers(app::ScanMode::kOnline).outcome, ScanOutcome::kReportOpened);
  // The guard is released afterwards: the next scan runs again.
  EXPECT_EQ(wf.ScanDrivers(app::ScanMode::kOnline).outcome, ScanOutcome::kReportOpened);
  EXPECT_EQ(inner,
            (std::vector<ScanOutcome>{ScanOutcome::kAlreadyRunning, ScanOutcome::kAlreadyRunning}));
}

TEST_F(ScanWorkflowTest, SetupLogExcerptIsEscapedForThePageAndOtherValuesAreNot) {
  // A driver package's log line must not close the element it sits in.
  setup_log = L"\r\n</pre><script>alert('&\"x\"')</script>";
  services.EncodeText = [](const std::wstring& t) { return t; };
  scan_data = L"<d>";
  fs.files[kTemplate] = "<pre>[setup_api_log]</pre>[drivers]";
  Scan(app::ScanMode::kOnline);
  EXPECT_EQ(fs.files[kWorkReport],
            "<pre>\r\n&lt;/pre&gt;&lt;script&gt;alert(&#39;&amp;&quot;x&quot;&#39;)"
            "&lt;/script&gt;</pre><d>");
}

TEST(FillTemplate, ReplacesEveryOccurrenceWithoutRescanning) {
  EXPECT_EQ(app::FillTemplate(L"[a][a]x[a][b]", {{L"[a]", L"[a][b]"}, {L"[b]", L""}}),
            "[a][b][a][b]x[a][b]");
  EXPECT_EQ(app::FillTemplate(L"none [", {{L"[a]", L"z"}}), "none [");
  // Converted piece by piece, the same bytes as the whole text converted at once.
  EXPECT_EQ(app::FillTemplate(L"\u00E9[a]\u20AC[", {{L"[a]", L"\u00FC\u4E2D"}}),
            platform::ToAnsi(L"\u00E9\u00FC\u4E2D\u20AC["));
}

}  // namespace

// An installed program keeps its template in its data folder; a build tree
// or a portable copy has it beside the program, and that copy wins.
TEST(TemplatePath, BesideTheProgramFirstThenTheInstalledDataFolder) {
  fakes::FakeFileSystem fs;
  fs.exe_folder = L"C:\\usr\\bin";
  const std::wstring beside = L"C:\\usr\\bin\\driver.html";
  const std::wstring installed = L"C:\\usr\\share\\kestrova\\driver.html";
  const std::wstring data_dir = L"../share/kestrova";

  // Neither present: the usual place, for the message that names it.
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, data_dir), beside);
  fs.files[installed] = "t";
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, data_dir), installed);
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, L"./../share//kestrova/"), installed);
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, L""), beside);
  fs.files[beside] = "t";
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, data_dir), beside);
}

TEST(TemplatePath, ADataFolderAboveTheRootIsNotLookedFor) {
  fakes::FakeFileSystem fs;
  fs.exe_folder = L"C:\\bin";
  fs.files[L"share\\kestrova\\driver.html"] = "t";
  EXPECT_EQ(app::ScanWorkflow::TemplatePath(fs, L"../../share/kestrova"), L"C:\\bin\\driver.html");
}
