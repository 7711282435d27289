#include "devices/driver_list.h"

#include <gtest/gtest.h>

#include "devices/win/procedures/driver_collection.h"
#include "fakes/fake_device_api.h"
#include "fakes/fake_device_ui.h"
#include "fakes/fake_registry.h"
#include "platform/codepage.h"

namespace {

using devices::CollectDriverList;
using devices::GetDeviceProperty;
using fakes::FakeDeviceApi;
using fakes::FakeDeviceUi;
using fakes::FakeRegistry;

constexpr char kSystem[] = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";

FakeDeviceApi::Device Dev(const std::vector<std::string>& hwids, const std::string& driver = "",
                          const std::string& desc = "") {
  FakeDeviceApi::Device d;
  if (!hwids.empty()) d.properties[devices::kSpdrpHardwareId] = FakeDeviceApi::MultiSz(hwids);
  if (!driver.empty()) d.properties[devices::kSpdrpDriver] = FakeDeviceApi::Sz(driver);
  if (!desc.empty()) d.properties[devices::kSpdrpDeviceDesc] = FakeDeviceApi::Sz(desc);
  return d;
}

void ClassKey(FakeRegistry& fr, const std::string& driver, const std::string& inf) {
  const std::string path = std::string("System\\ControlSet001\\Control\\Class\\") + driver;
  fr.PutString(devices::kHkeyLocalMachine, path, "DriverVersion", " 10.0.1.2 ");
  fr.PutString(devices::kHkeyLocalMachine, path, "DriverDate", "6-21-2006");
  fr.PutString(devices::kHkeyLocalMachine, path, "ProviderName", "Contoso");
  fr.PutString(devices::kHkeyLocalMachine, path, "InfPath", inf);
  fr.PutString(devices::kHkeyLocalMachine, path, "MatchingDeviceId", "pci\\cc_010601");
}

TEST(DriverListTest, ExactTextNumberingAndSkips) {
  FakeDeviceApi api;
  FakeRegistry fr;
  FakeDeviceUi ui;
  const std::string drv = std::string(kSystem) + "\\0003";
  ClassKey(fr, drv, "mshdc.inf");

  auto ahci = Dev({"PCI\\VEN_ABCD&DEV_12EF&REV_02", "PCI\\VEN_ABCD&DEV_12EF"},
                  "{4d36e97d-e325-11ce-bfc1-08002be10318}\\0003", "SATA AHCI Controller");
  ahci.properties[devices::kSpdrpCompatibleIds] =
      FakeDeviceApi::MultiSz({"PCI\\VEN_ABCD&CC_010601", "PCI\\CC_0106"});
  ahci.properties[devices::kSpdrpClass] = FakeDeviceApi::Sz("hdc");
  api.devices.push_back(ahci);

  auto hidden = Dev({"HID\\X"}, drv, "Hidden");
  hidden.status |= devices::kDnNoShowInDm;
  api.devices.push_back(hidden);

  auto gone = Dev({"HID\\Y"}, drv, "Gone");
  gone.status_result = devices::kCrNoSuchDevnode;
  api.devices.push_back(gone);

  api.devices.push_back(Dev({}, drv, "No ids"));

  // No driver, no description, a friendly name in the code page, a problem.
  auto bare = Dev({" ROOT\\ODD "});
  bare.problem = 28;
  bare.status |= devices::kDnHasProblem;
  api.devices.push_back(bare);
  auto named = Dev({"USB\\VID_1234&PID_5678"}, "", "Description");
  named.properties[devices::kSpdrpFriendlyName] = FakeDeviceApi::Sz("Caf\xE9 [;] cam");
  api.devices.push_back(named);

  const std::wstring list = CollectDriverList(api, fr, ui);
  EXPECT_EQ(
      list,
      L"\r\ndriver_1=SATA AHCI Controller[;]10.0.1.2[;]Contoso[;]6-21-2006"
      L"[;]PCI\\VEN_ABCD&DEV_12EF&REV_02,"
      L"[;]PCI\\VEN_ABCD&DEV_12EF&REV_02,\\{4d36e97d-e325-11ce-bfc1-08002be10318}\\0003"
      L"[;]hdc[;]mshdc.inf[;]PCI\\VEN_ABCD&DEV_12EF&REV_02,PCI\\VEN_ABCD&DEV_12EF,"
      L"[;]PCI\\VEN_ABCD&CC_010601,PCI\\CC_0106,[;]pci\\cc_010601[;]0"
      L"\r\ndriver_2=Unknown Device[;][;][;][;]ROOT\\ODD ,[;]ROOT\\ODD ,\\[;][;][;] ROOT\\ODD ,"
      L"[;][;][;]28"
      L"\r\ndriver_3=Caf\u00E9 [;] cam[;][;][;][;]USB\\VID_1234&PID_5678,"
      L"[;]USB\\VID_1234&PID_5678,\\[;][;][;]USB\\VID_1234&PID_5678,[;][;][;]0");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(api.class_devs_flags, 6u);
  EXPECT_EQ(api.cb_size_seen, 28u);
  EXPECT_EQ(api.sets_destroyed, 1);
  // Twelve pumps per listed device, two for the one without ids, none for skipped ones.
  EXPECT_EQ(ui.pumps, 3 * 12 + 2);
}

TEST(DriverListTest, EmptyWhenNothingIsListedOrNothingHasAnInfPath) {
  FakeRegistry fr;
  ClassKey(fr, "{X}\\0000", "");
  FakeDeviceUi ui;
  {
    FakeDeviceApi api;
    api.devices.push_back(Dev({}, "{X}\\0000", "No ids"));
    EXPECT_EQ(CollectDriverList(api, fr, ui), L"");
    EXPECT_EQ(api.sets_destroyed, 1);
  }
  {
    FakeDeviceApi api;
    api.devices.push_back(Dev({"A"}, "{X}\\0000", "No inf"));
    api.devices.push_back(Dev({"B"}, "", "No driver"));
    EXPECT_EQ(CollectDriverList(api, fr, ui), L"");
  }
  {
    FakeDeviceApi api;
    api.class_devs_fails = true;
    EXPECT_EQ(CollectDriverList(api, fr, ui), L"");
    EXPECT_EQ(api.sets_destroyed, 0);
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST(DriverListTest, OneInfPathListsEveryDeviceAndAnEarlyEnumerationEndKeepsWhatWasRead) {
  FakeRegistry fr;
  ClassKey(fr, "{X}\\0001", "x.inf");
  FakeDeviceUi ui;
  FakeDeviceApi api;
  api.devices.push_back(Dev({"A"}, "", "a"));
  api.devices.push_back(Dev({"B"}, "{x}\\0001", "b"));
  api.devices.push_back(Dev({"C"}, "", "c"));
  api.devices.push_back(Dev({"D"}, "{X}\\0001", "d"));
  api.enum_fail_at = 3;
  const std::wstring list = CollectDriverList(api, fr, ui);
  EXPECT_NE(list.find(L"\r\ndriver_1=a[;]"), std::wstring::npos);
  EXPECT_NE(list.find(L"\r\ndriver_2=b[;]10.0.1.2[;]"), std::wstring::npos);
  EXPECT_NE(list.find(L"\r\ndriver_3=c[;]"), std::wstring::npos);
  EXPECT_EQ(list.find(L"driver_4"), std::wstring::npos);
}

TEST(DriverListTest, TextPropertyEndsAtItsFirstNulOrAtItsStoredLength) {
  FakeDeviceApi api;
  FakeDeviceUi ui;
  auto d = Dev({"A"});
  d.properties[devices::kSpdrpDeviceDesc] = FakeDeviceApi::Sz("10.0.1");
  d.properties[devices::kSpdrpDeviceDesc].data.pop_back();  // stored without its NUL
  d.properties[devices::kSpdrpClass] = FakeDeviceApi::Sz(std::string("Net\0x\0", 6));
  d.properties[devices::kSpdrpClass].type = devices::kRegExpandSz;
  api.devices.push_back(d);
  devices::DeviceInfoData data;
  ASSERT_TRUE(api.EnumDeviceInfo(api.GetClassDevs(6), 0, &data));
  EXPECT_EQ(GetDeviceProperty(api, 0x5e7, data, devices::kSpdrpDeviceDesc, ui), L"10.0.1");
  EXPECT_EQ(GetDeviceProperty(api, 0x5e7, data, devices::kSpdrpClass, ui), L"Net");
  EXPECT_TRUE(ui.messages.empty());
}

TEST(DriverListTest, PropertyReaderErrorPathsAndTheirMessages) {
  FakeDeviceApi api;
  FakeDeviceUi ui;
  auto d = Dev({"A", "B"});
  auto& query_fails = d.properties[devices::kSpdrpClass] = FakeDeviceApi::Sz("x");
  query_fails.size_query_error = 5;
  auto& read_fails = d.properties[devices::kSpdrpDeviceDesc] = FakeDeviceApi::Sz("desc");
  read_fails.read_error = 31;
  auto& odd_type = d.properties[devices::kSpdrpFriendlyName] = FakeDeviceApi::Sz("x");
  odd_type.type = devices::kRegNone;
  auto& no_size = d.properties[devices::kSpdrpDriver] = FakeDeviceApi::Sz("x");
  no_size.size_query_succeeds = true;
  auto& number = d.properties[40] = FakeDeviceApi::Sz("");
  number.type = devices::kRegDword;
  number.data = {0x10, 0x27, 0, 0};
  api.devices.push_back(d);
  devices::DeviceInfoData data;
  ASSERT_TRUE(api.EnumDeviceInfo(api.GetClassDevs(6), 0, &data));
  const devices::DeviceSet set = 0x5e7;

  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpHardwareId, ui),
            std::wstring(L"A\0B\0", 4));
  api.devices[0].properties[devices::kSpdrpHardwareId].size_overstatement = 5;
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpHardwareId, ui),
            std::wstring(L"A\0B\0", 4));  // no padding NULs from an overstated size
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpCompatibleIds, ui), L"");
  EXPECT_TRUE(ui.messages.empty());  // absent: silent
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpDriver, ui), L"");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpClass, ui), L"");
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpDeviceDesc, ui), L"");
  EXPECT_EQ(GetDeviceProperty(api, set, data, devices::kSpdrpFriendlyName, ui), L"");
  EXPECT_EQ(GetDeviceProperty(api, set, data, 40, ui), L"10000");
  EXPECT_EQ(ui.messages, (std::vector<std::wstring>{L"Error, can't get Regestryproperty",
                                                    L"Error while dermitting Regestryproperty",
                                                    L"Error while dermitting Regestryproperty"}));
}

TEST(DriverListTest, FailedReadsShowOneMessageEachAndTheCollectionGoesOn) {
  FakeRegistry fr;
  ClassKey(fr, "{X}\\0000", "x.inf");
  FakeDeviceApi api;
  FakeDeviceUi ui;
  auto d = Dev({"A"}, "{X}\\0000", "desc");
  d.properties[devices::kSpdrpCompatibleIds] = FakeDeviceApi::MultiSz({"C"});
  d.properties[devices::kSpdrpCompatibleIds].read_error = 1;
  d.properties[devices::kSpdrpClass] = FakeDeviceApi::Sz("System");
  d.properties[devices::kSpdrpClass].size_query_error = 87;
  api.devices.push_back(d);
  EXPECT_EQ(CollectDriverList(api, fr, ui),
            L"\r\ndriver_1=desc[;]10.0.1.2[;]Contoso[;]6-21-2006[;]A,[;]A,\\{X}\\0000[;][;]x.inf"
            L"[;]A,[;][;]pci\\cc_010601[;]0");
  EXPECT_EQ(ui.messages, (std::vector<std::wstring>{L"Error while dermitting Regestryproperty",
                                                    L"Error, can't get Regestryproperty"}));
}

// The problem number is valid only with DN_HAS_PROBLEM in the status
// (learn.microsoft.com: "CM_Get_DevNode_Status function (cfgmgr32.h)").
TEST(DriverListTest, ProblemNumberCountsOnlyWhenTheStatusSaysSo) {
  FakeDeviceApi api;
  auto stale = Dev({"A"});
  stale.problem = 22;  // left over, no DN_HAS_PROBLEM
  api.devices.push_back(stale);
  EXPECT_EQ(devices::GetDeviceProblem(api, 100), 0);
  api.devices[0].status |= devices::kDnHasProblem;
  EXPECT_EQ(devices::GetDeviceProblem(api, 100), 22);
}

TEST(DriverListTest, ADeviceUnpluggedMidScanCostsThatDeviceAndNoMessages) {
  FakeRegistry fr;
  ClassKey(fr, "{X}\\0000", "x.inf");
  FakeDeviceUi ui;
  FakeDeviceApi api;
  api.devices.push_back(Dev({"A"}, "{X}\\0000", "a"));
  auto gone_on_query = Dev({"B"}, "{X}\\0000", "b");
  gone_on_query.properties[devices::kSpdrpDriver].size_query_error = devices::kErrorNoSuchDevinst;
  api.devices.push_back(gone_on_query);
  auto gone_on_read = Dev({"C"}, "{X}\\0000", "c");
  gone_on_read.properties[devices::kSpdrpHardwareId].read_error = devices::kErrorDeviceNotConnected;
  gone_on_read.properties[devices::kSpdrpClass] = FakeDeviceApi::Sz("System");
  api.devices.push_back(gone_on_read);
  api.devices.push_back(Dev({"D"}, "{X}\\0000", "d"));

  const std::vector<devices::DeviceRecord> records = devices::CollectDeviceRecords(api, fr, ui);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, L"a");
  EXPECT_EQ(records[1].name, L"d");
  EXPECT_TRUE(ui.messages.empty());

  // Read alone, without the collector's flag, the failure still shows.
  devices::DeviceInfoData data;
  ASSERT_TRUE(api.EnumDeviceInfo(api.GetClassDevs(6), 1, &data));
  EXPECT_EQ(GetDeviceProperty(api, 0x5e7, data, devices::kSpdrpDriver, ui), L"");
  EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(DriverListTest, ScanDataAddsTheComputerInfoOnlyToAList) {
  FakeRegistry fr;
  ClassKey(fr, "{X}\\0000", "x.inf");
  FakeDeviceUi ui;
  int info_calls = 0;
  auto info = [&] {
    ++info_calls;
    return std::wstring(L"\r\nBIOS=1");
  };
  {
    FakeDeviceApi api;
    api.devices.push_back(Dev({"A"}, "", "no inf"));
    devices::SetupApiInventory inventory(api, fr, ui);
    EXPECT_EQ(devices::CollectScanData(inventory, info), L"");
    EXPECT_EQ(info_calls, 0);
  }
  FakeDeviceApi api;
  api.devices.push_back(Dev({"A"}, "{X}\\0000", "a"));
  api.devices.push_back(Dev({"B"}, "", "b"));
  devices::SetupApiInventory inventory(api, fr, ui);
  const std::wstring data = devices::CollectScanData(inventory, info);
  EXPECT_EQ(info_calls, 1);
  EXPECT_EQ(data.substr(0, 12), L"\r\ndriver_1=a");
  EXPECT_NE(data.find(L"[;]0\r\ndriver_2=b[;]"), std::wstring::npos);
  // The code page the bytes will be in closes the data, after the block.
  const std::wstring tail =
      L"[;]0\r\n\r\nBIOS=1\r\nCodePage=" + std::to_wstring(platform::AnsiCodePage());
  EXPECT_EQ(data.substr(data.size() - tail.size()), tail);
}

}  // namespace
