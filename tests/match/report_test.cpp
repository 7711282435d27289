#include "match/report.h"

#include <gtest/gtest.h>

#include "report_fixture.h"

namespace match {
namespace {

using testing::Base64;
using testing::Entry;
using testing::Page;
using testing::ScanData;

Entry Network() {
  Entry e;
  e.name = "Caf\xE9 \x80 Ethernet";  // windows-1252: e acute, euro sign
  e.version = "12.19.1.37";
  e.provider = "Intel";
  e.date = "3-4-2024";
  e.device_id = "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00,";
  e.cls = "Net";
  e.inf = "oem12.inf";
  e.hwids =
      "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00, PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028,";
  e.compat = "PCI\\VEN_8086&DEV_15B8&REV_00,PCI\\VEN_8086&DEV_15B8,,";
  e.matching = "pci\\ven_8086&dev_15b8";
  return e;
}

Entry Missing() {
  Entry e;
  e.name = "Multimedia Audio Controller";
  e.hwids = "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269,";
  e.problem = "28";
  return e;
}

TEST(ReportReader, ReadsTheDevicesAndComputerOfAFilledInReportPage) {
  const std::string page = Page(Base64(ScanData({Network(), Missing()}, testing::kWindows10)),
                                Base64("WD-WCC4N1234567"));
  const Report r = ReadReportPage(page);
  ASSERT_EQ(r.devices.size(), 2u);
  const Device& net = r.devices[0];
  EXPECT_EQ(net.name, "Caf\xC3\xA9 \xE2\x82\xAC Ethernet");
  EXPECT_EQ(net.hardware_ids,
            (std::vector<std::string>{"PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00",
                                      "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028"}));
  EXPECT_EQ(net.compatible_ids,
            (std::vector<std::string>{"PCI\\VEN_8086&DEV_15B8&REV_00", "PCI\\VEN_8086&DEV_15B8"}));
  EXPECT_EQ(net.installed.inf, "oem12.inf");
  EXPECT_EQ(net.installed.date, "2024-03-04");
  EXPECT_EQ(net.installed.version, "12.19.1.37");
  EXPECT_EQ(net.installed.provider, "Intel");
  EXPECT_EQ(net.class_name, "Net");
  EXPECT_EQ(net.problem, 0);
  EXPECT_FALSE(net.NeedsAttention());
  EXPECT_EQ(r.devices[1].problem, 28);
  EXPECT_TRUE(r.devices[1].NeedsAttention());
  EXPECT_TRUE(r.devices[1].compatible_ids.empty());
  ASSERT_NE(r.Computer("Version"), nullptr);
  EXPECT_EQ(*r.Computer("Version"), "10.0.19045");
  EXPECT_EQ(r.computer.size(), testing::kWindows10.size());
  EXPECT_EQ(r.hardware_id, "WD-WCC4N1234567");
  EXPECT_TRUE(r.notes.empty()) << r.notes.front();
}

TEST(ReportReader, ThePostedFieldsReadAsThePageDoes) {
  const std::string drivers = Base64(ScanData({Network()}, testing::kWindows10));
  const Report from_fields = ReadReportFields(drivers, Base64("123456"));
  const Report from_page = ReadReportPage(Page(drivers, Base64("123456")));
  EXPECT_EQ(from_fields.devices[0].hardware_ids, from_page.devices[0].hardware_ids);
  EXPECT_EQ(from_fields.computer, from_page.computer);
}

TEST(ReportReader, RefusesTheTemplateAPageWithoutDataAndDamagedBase64) {
  struct Case {
    const char* name;
    std::string page;
    const char* message_part;
  };
  const std::string good = Base64(ScanData({Network()}, testing::kWindows10));
  const Case cases[] = {
      {"template", testing::Template(), "template"},
      {"other page", "<html><body><div id=\"report\">hello</div></body></html>",
       "not a Kestrova report"},
      {"empty data", Page("", Base64("1")), "no device data"},
      {"bad character", Page(good.substr(0, 8) + "*" + good.substr(9), Base64("1")),
       "character 9 (\"*\")"},
      {"cut short", Page(good.substr(0, good.size() - 1), Base64("1")), "cut short"},
      {"no entries", Page(Base64("\r\n\r\nCaption=x"), Base64("1")), "no device entries"},
  };
  for (const Case& c : cases) {
    try {
      ReadReportPage(c.page);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const ReportError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

TEST(ReportReader, ADamagedHardwareIdIsANoteNotAFailure) {
  const Report r = ReadReportPage(Page(Base64(ScanData({Network()}, testing::kWindows10)), "%%%"));
  EXPECT_EQ(r.devices.size(), 1u);
  EXPECT_EQ(r.hardware_id, "");
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("The hardware id is damaged"), std::string::npos);
}

TEST(ReportReader, SplitsEntriesAsThePageDoes) {
  Entry broken = Network();
  broken.name = "Two\r\nlines";  // a field holding a line break continues its entry
  Entry extra = Missing();
  extra.matching = "a[;]b";  // one separator too many: the problem code stays the last field
  extra.hwids =
      "\xA0HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269\xA0,";  // no-break spaces trim as in the page
  extra.problem = "28\xA0";
  Entry unreadable = Missing();
  unreadable.problem = "x";
  const Report r =
      ReadReportFields(Base64(ScanData({broken, extra, unreadable}, testing::kWindows10)), "");
  ASSERT_EQ(r.devices.size(), 3u);
  EXPECT_EQ(r.devices[0].name, "Two\r\nlines");
  EXPECT_EQ(r.devices[0].installed.inf, "oem12.inf");
  EXPECT_EQ(r.devices[1].problem, 28);
  EXPECT_EQ(r.devices[1].hardware_ids,
            (std::vector<std::string>{"HDAUDIO\\FUNC_01&VEN_10EC&DEV_0269"}));
  EXPECT_EQ(r.devices[2].problem, -1);
  EXPECT_TRUE(r.devices[2].NeedsAttention());
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_NE(r.notes[0].find("driver_2 has 12 separators"), std::string::npos) << r.notes[0];
  EXPECT_NE(r.notes[1].find("unreadable problem code"), std::string::npos) << r.notes[1];
}

TEST(ReportReader, HostileShapesAreReadInOnePassOrRefused) {
  Entry spaced = Network();
  spaced.date = std::string(30000, ' ') + "1-1-2000";  // once enough to exhaust the stack
  Entry long_name = Missing();
  for (int i = 0; i < 100000; ++i)
    long_name.name += "line\r\n";  // one entry continued over many lines
  long_name.name += "end";
  Entry many_ids = Missing();
  for (size_t i = 0; i <= kMaxIds; ++i) many_ids.hwids += "PCI\\X,";
  const Report r =
      ReadReportFields(Base64(ScanData({spaced, long_name, many_ids}, testing::kWindows10)), "");
  ASSERT_EQ(r.devices.size(), 3u);
  EXPECT_EQ(r.devices[0].installed.date, "2000-01-01");
  EXPECT_EQ(r.devices[1].name.size(), long_name.name.size());
  EXPECT_EQ(r.devices[2].hardware_ids.size(), kMaxIds);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("more than 1000 identifiers"), std::string::npos) << r.notes[0];

  const std::vector<Entry> too_many(kMaxDevices + 1, Missing());
  EXPECT_THROW(ReadReportFields(Base64(ScanData(too_many, testing::kWindows10)), ""),
               ReportTooLargeError);
}

TEST(ReportReader, ATruncatedReportKeepsWhatItHas) {
  std::string data = ScanData({Network(), Missing()}, {});
  data = data.substr(0, data.rfind("[;]HDAUDIO"));
  const Report r = ReadReportFields(Base64(data), Base64("1"));
  ASSERT_EQ(r.devices.size(), 2u);
  EXPECT_EQ(r.devices[1].problem, -1);
  ASSERT_FALSE(r.notes.empty());
  EXPECT_NE(r.notes[0].find("ends in the middle of entry driver_2"), std::string::npos)
      << r.notes[0];
}

TEST(ReportReader, ReadsTheDataElementAsTheBrowserFindsIt) {
  const std::string drivers = Base64(ScanData({Missing()}, testing::kWindows10));
  // Single quotes, an entity, an earlier mention inside a script, upper-case names.
  std::string encoded = drivers;
  encoded.replace(0, 1, "&#" + std::to_string(static_cast<int>(drivers[0])) + ";");
  const std::string page =
      "<script>var s = '<div id=\"report-data\" data-drivers=\"AAAA\">';</script>\n"
      "<!-- <div id=\"report-data\" data-drivers=\"BBBB\"> -->\n"
      "<DIV hidden ID='report-data' DATA-DRIVERS='" +
      encoded + "' data-hwid=''></DIV>";
  const Report r = ReadReportPage(page);
  ASSERT_EQ(r.devices.size(), 1u);
  EXPECT_EQ(r.devices[0].name, "Multimedia Audio Controller");
}

}  // namespace
}  // namespace match
