#include "sysinfo/win/win_wmi.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>

#include "fakes/fake_wmi.h"
#include "sysinfo/computer_facts.h"
#include "sysinfo/win/procedures/computer_info.h"

namespace {

using sysinfo::WmiValue;

constexpr wchar_t kCimv2[] = L"winmgmts:\\\\.\\root\\cimv2";

// Whether this Windows is 64-bit, asked without IsWow64Process.
bool NativeIs64Bit() {
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ||
         info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  EXPECT_TRUE(GetComputerNameW(name, &size));
  return name;
}

int CountProcesses(const wchar_t* exe_name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exe_name) == 0) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

std::unique_ptr<sysinfo::WmiItem> FirstItem(sysinfo::WmiConnection& connection,
                                            const std::wstring& query) {
  auto set = connection.ExecQuery(query, std::nullopt);
  if (!set) return nullptr;
  auto walk = set->Enumerate();
  return walk ? walk->Next() : nullptr;
}

// Serves the queue as the window does: every waiting message taken.
class DrainingUi : public fakes::FakeInfoUi {
 public:
  void PumpPending() override {
    FakeInfoUi::PumpPending();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) {
    }
  }
};

TEST(WinWmiTest, RealBlockUnderWine) {
  DrainingUi ui;
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  const std::wstring block =
      sysinfo::CollectComputerBlock(*sysinfo::MakeComputerFactsSource(ui), ui);
  // Wine: no BIOSVersion (the line repeats the empty joined text), no
  // MaxProcessMemorySize (its line is left out), no MS_SystemInformation
  // rows, a null SKUNumber, so the suffix is the product version alone.
  const std::wstring expected =
      L"\r\nbios="
      L"\r\nCSName=" +
      ComputerName() +
      L"\r\nCaption=Microsoft Windows 7 Professional"
      L"\r\nVersion=6.1.7601"
      L"\r\nOSArchitecture=" +
      (NativeIs64Bit() ? L"64bits" : L"32bits") +
      L"\r\nIdentifyingNumber=0"
      L"\r\nCSProuctVersion=1.0"
      L"\r\nModel=Wine (1.0)"
      L"\r\nManufacturer=The Wine Project";
  EXPECT_EQ(block, expected);
  // Set by the script that runs this program in a 64-bit prefix.
  if (const char* arch = std::getenv("KESTROVA_EXPECT_OS_ARCHITECTURE")) {
    EXPECT_NE(
        block.find(L"\r\nOSArchitecture=" + std::wstring(arch, arch + strlen(arch)) + L"\r\n"),
        std::wstring::npos)
        << arch;
  }
  EXPECT_EQ(ui.statuses, std::vector<std::wstring>{L"Getting Hardware Info"});
  // Read on a thread of its own: the window is served when messages come
  // (one was posted before), not at fixed steps of the reading.
  EXPECT_GE(ui.yields, 1);
}

TEST(WinWmiTest, SkuLookupsUnderWine) {
  sysinfo::WinWmi wmi;
  EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), L"");
  EXPECT_EQ(sysinfo::GetComputerProductSku(wmi), L"1.0");
}

TEST(WinWmiTest, AdapterStepsAndValues) {
  sysinfo::WinWmi wmi;
  auto cimv2 = wmi.Connect(kCimv2);
  ASSERT_NE(cimv2, nullptr);

  auto system = FirstItem(*cimv2, L"SELECT * FROM Win32_ComputerSystem");
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->Get(L"Model"), WmiValue(std::wstring(L"Wine")));
  EXPECT_EQ(system->Get(L"NoSuchProperty"), std::nullopt);

  auto product = FirstItem(*cimv2, L"SELECT * FROM Win32_ComputerSystemProduct");
  ASSERT_NE(product, nullptr);
  EXPECT_EQ(product->Get(L"SKUNumber"), WmiValue(sysinfo::WmiNull{}));

  auto bios = FirstItem(*cimv2, L"SELECT * FROM Win32_BIOS");
  ASSERT_NE(bios, nullptr);
  EXPECT_EQ(bios->Get(L"BIOSVersion"), std::nullopt);

  auto os = FirstItem(*cimv2, L"SELECT * FROM Win32_OperatingSystem");
  ASSERT_NE(os, nullptr);
  EXPECT_EQ(os->Get(L"MaxProcessMemorySize"), std::nullopt);
  // A number arrives as a number (OSType 18: Windows NT).
  EXPECT_EQ(os->Get(L"OSType"), WmiValue(std::int64_t{18}));

  // Connection and query flags of the SKU lookups.
  auto wmi_ns = wmi.Connect(L"winmgmts:\\\\.\\root\\WMI");
  ASSERT_NE(wmi_ns, nullptr);
  auto rows = wmi_ns->ExecQuery(L"SELECT * FROM MS_SystemInformation", 48L);
  ASSERT_NE(rows, nullptr);
  auto walk = rows->Enumerate();
  ASSERT_NE(walk, nullptr);
  EXPECT_EQ(walk->Next(), nullptr);

  // The result set outlives its connection.
  auto set = cimv2->ExecQuery(L"SELECT * FROM Win32_ComputerSystem", 48L);
  ASSERT_NE(set, nullptr);
  cimv2.reset();
  auto again = set->Enumerate();
  ASSERT_NE(again, nullptr);
  auto item = again->Next();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Get(L"Manufacturer"), WmiValue(std::wstring(L"The Wine Project")));
}

TEST(WinWmiTest, BindingLeavesNoSurrogateProcessBehind) {
  // A lingering surrogate keeps the program's output pipes open, so whoever
  // waits for them (ctest, a script) hangs.
  const int before = CountProcesses(L"dllhost.exe");
  ASSERT_GE(before, 0);
  {
    sysinfo::WinWmi wmi;
    ASSERT_NE(wmi.Connect(kCimv2), nullptr);
    ASSERT_NE(wmi.Connect(L"winmgmts:\\\\.\\root\\WMI"), nullptr);
  }
  EXPECT_EQ(CountProcesses(L"dllhost.exe"), before);
}

TEST(WinWmiTest, Is64BitWindowsMatchesTheNativeSystem) {
  sysinfo::WinSystemProbe probe;
  EXPECT_TRUE(probe.FindIsWow64Process());
  EXPECT_EQ(sysinfo::Is64BitWindows(probe), NativeIs64Bit());
}

}  // namespace
