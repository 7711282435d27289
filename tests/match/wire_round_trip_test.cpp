// The report as the scan writes it, read back by the reader kestrova-match and
// the service use; and reports in the code pages of non-Western Windows, the
// same fixtures the page's tests read (tests/data/report/code_pages.json).
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "devices/driver_list.h"
#include "ident/base64.h"
#include "match/report.h"
#include "match/report_fixture.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "report/wire_format.h"

namespace {

std::string Narrow(const std::wstring& base64) {
  return platform::ToUtf8(base64);
}

TEST(WireRoundTrip, RecordsWrittenByTheScanReadBackEqual) {
  devices::DeviceRecord net;
  net.name = L"Caf\u00e9 Ethernet \u2122";
  net.version = L"12.19.1.37";
  net.provider = L"Intel";
  net.date = L"3-4-2024";
  net.device_id = L"PCI\\VEN_8086&DEV_15B8";
  net.driver_key = L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
  net.device_class = L"Net";
  net.inf_path = L"oem12.inf";
  net.hardware_ids = {L"PCI\\VEN_8086&DEV_15B8&SUBSYS_86721043", L"PCI\\VEN_8086&DEV_15B8"};
  net.compatible_ids = {L"PCI\\CC_0200"};
  net.matching_id = L"pci\\ven_8086&dev_15b8";
  devices::DeviceRecord audio;  // no name, no driver, a problem
  audio.hardware_ids = {L"HDAUDIO\\FUNC_01"};
  audio.problem = 28;

  std::wstring data = devices::FormatDriverList({net, audio}) + report::kLineBreak;
  report::AppendBlockLine(data, report::kBiosLabel, L"ACME 1.0");
  report::AppendBlockLine(data, report::kProductVersionLabel, L"ThinkPad X1");
  report::AppendBlockLine(data, report::kOsArchitecture64Line);
  report::AppendCodePageLine(data, platform::AnsiCodePage());

  const match::Report read = match::ReadReportFields(Narrow(ident::EncodeText(data)),
                                                     Narrow(ident::EncodeText(L"WD-123")));
  EXPECT_TRUE(read.notes.empty()) << read.notes.front();
  EXPECT_EQ(read.code_page, 1252u);
  EXPECT_EQ(read.hardware_id, "WD-123");
  ASSERT_EQ(read.devices.size(), 2u);
  const match::Device& n = read.devices[0];
  EXPECT_EQ(n.number, 1);
  EXPECT_EQ(n.name, "Caf\xC3\xA9 Ethernet \xE2\x84\xA2");
  EXPECT_EQ(n.installed.version, "12.19.1.37");
  EXPECT_EQ(n.installed.provider, "Intel");
  EXPECT_EQ(n.installed.date, "2024-03-04");
  EXPECT_EQ(n.device_id, "PCI\\VEN_8086&DEV_15B8,");
  EXPECT_EQ(n.driver_key, "PCI\\VEN_8086&DEV_15B8,\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001");
  EXPECT_EQ(n.class_name, "Net");
  EXPECT_EQ(n.installed.inf, "oem12.inf");
  EXPECT_EQ(n.hardware_ids, (std::vector<std::string>{"PCI\\VEN_8086&DEV_15B8&SUBSYS_86721043",
                                                      "PCI\\VEN_8086&DEV_15B8"}));
  EXPECT_EQ(n.compatible_ids, std::vector<std::string>{"PCI\\CC_0200"});
  EXPECT_EQ(n.matching_id, "pci\\ven_8086&dev_15b8");
  EXPECT_EQ(n.problem, 0);
  EXPECT_EQ(read.devices[1].name, "Unknown Device");
  EXPECT_EQ(read.devices[1].problem, 28);
  EXPECT_TRUE(read.devices[1].installed.inf.empty());
  ASSERT_NE(read.Computer("CSProuctVersion"), nullptr);
  EXPECT_EQ(*read.Computer("CSProuctVersion"), "ThinkPad X1");
  EXPECT_EQ(*read.Computer("OSArchitecture"), "64bits");
  EXPECT_EQ(*read.Computer("CodePage"), "1252");
}

TEST(WireRoundTrip, ReportsInOtherCodePagesReadAsWritten) {
  std::ifstream in(std::string(KESTROVA_TEST_DATA) + "/report/code_pages.json");
  const nlohmann::json fixtures = nlohmann::json::parse(in);
  ASSERT_GE(fixtures["reports"].size(), 5u);
  for (const auto& fixture : fixtures["reports"]) {
    SCOPED_TRACE(fixture["code_page"].get<unsigned>());
    const match::Report read = match::ReadReportFields(fixture["drivers"].get<std::string>(),
                                                       fixture["hwid"].get<std::string>());
    EXPECT_TRUE(read.notes.empty()) << read.notes.front();
    EXPECT_EQ(read.code_page, fixture["code_page"].get<unsigned>());
    ASSERT_EQ(read.devices.size(), 1u);
    // The name, then the fields after it: a trail byte beside "[;]" or "\" splits nothing.
    EXPECT_EQ(read.devices[0].name, fixture["name"].get<std::string>());
    EXPECT_EQ(read.devices[0].installed.version, "10.0.1");
    EXPECT_EQ(read.devices[0].installed.inf, "input.inf");
    EXPECT_EQ(*read.Computer("Caption"), fixture["name"].get<std::string>());
    EXPECT_EQ(read.hardware_id, "WD-WX11A1234567");
  }
}

TEST(WireRoundTrip, BytesOutsideTheCodePageAndUnknownCodePagesAreSaid) {
  auto data = [](const std::string& name, const std::string& code_page) {
    return match::testing::Base64("\r\ndriver_1=" + name +
                                  "[;][;][;][;][;][;][;]x.inf[;]ID,[;][;][;]0\r\n\r\nCaption=W"
                                  "\r\nCodePage=" +
                                  code_page);
  };
  // 0x81 leads a Shift-JIS pair; a space cannot trail it.
  const match::Report bad = match::ReadReportFields(data("\x81 A", "932"), "");
  ASSERT_EQ(bad.devices.size(), 1u);
  EXPECT_EQ(bad.devices[0].name, "\xEF\xBF\xBD A");
  ASSERT_EQ(bad.notes.size(), 1u);
  EXPECT_NE(bad.notes[0].find("1 byte(s) that are not text in code page 932"), std::string::npos);

  const match::Report unknown = match::ReadReportFields(data("Caf\xE9", "99999"), "");
  EXPECT_EQ(unknown.devices[0].name, "Caf\xC3\xA9");
  ASSERT_EQ(unknown.notes.size(), 1u);
  EXPECT_NE(unknown.notes[0].find("code page 99999, which cannot be decoded here"),
            std::string::npos);

  // A report from before the code-page line, and one whose last line only
  // looks like it, are windows-1252.
  for (const std::string& tail : {std::string(), std::string("\r\nCodePage=12x")}) {
    const match::Report old = match::ReadReportFields(
        match::testing::Base64("\r\ndriver_1=Caf\xE9[;][;][;][;][;][;][;]x.inf[;]ID,[;][;][;]0"
                               "\r\n\r\nCaption=W" +
                               tail),
        "");
    EXPECT_EQ(old.code_page, 1252u);
    EXPECT_EQ(old.devices[0].name, "Caf\xC3\xA9");
  }
}

}  // namespace
