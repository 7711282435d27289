#include "sysinfo/win/procedures/computer_info.h"

#include <functional>
#include <utility>

#include "platform/text.h"

namespace sysinfo {
namespace {

constexpr wchar_t kWmiMoniker[] = L"winmgmts:\\\\.\\root\\WMI";
constexpr wchar_t kCimv2UpperMoniker[] = L"winmgmts:\\\\.\\root\\CIMV2";
constexpr long kSkuQueryFlags = kWbemFlagReturnImmediately | kWbemFlagForwardOnly;

// Walks a result set. A set that can't be enumerated (or none at all) runs the
// body once without an item, so the steps that need no property still happen.
void ForEachItem(WmiResultSet* set, const std::function<void(WmiItem*)>& body) {
  std::unique_ptr<WmiEnumerator> walk = set != nullptr ? set->Enumerate() : nullptr;
  if (!walk) {
    body(nullptr);
    return;
  }
  while (std::unique_ptr<WmiItem> item = walk->Next()) body(item.get());
}

// A property's text, or nothing when there is no item, the read fails or the
// value has no text form.
std::optional<std::wstring> PropertyText(WmiItem* item, const wchar_t* name) {
  if (item == nullptr) return std::nullopt;
  std::optional<WmiValue> value = item->Get(name);
  if (!value) return std::nullopt;
  return ValueText(*value);
}

// A null value reads as the empty text, so its step is not taken either.
bool HasText(const std::optional<std::wstring>& text) {
  return text && !text->empty();
}

// One reading: the connection in use.
class FactsReader {
 public:
  FactsReader(Wmi& wmi, InfoUi& ui) : wmi_(wmi), ui_(ui) {}

  // Binds root\cimv2 anew; when that fails the previous connection stays in use.
  void Reconnect() {
    if (std::unique_ptr<WmiConnection> fresh = wmi_.Connect(kCimv2Moniker)) {
      connection_ = std::move(fresh);
    }
  }

  // Null when the query fails or there has never been a connection. The
  // caller then leaves the whole group out rather than re-reading the
  // previous query's items, which would put one class's values under
  // another class's labels.
  std::unique_ptr<WmiResultSet> Query(const wchar_t* wql) {
    if (!connection_) return nullptr;
    return connection_->ExecQuery(wql, std::nullopt);
  }

  void Yield() { ui_.PumpPending(); }

 private:
  Wmi& wmi_;
  InfoUi& ui_;
  std::unique_ptr<WmiConnection> connection_;
};

}  // namespace

ComputerFacts ReadComputerFacts(Wmi& wmi, SystemProbe& probe, InfoUi& ui) {
  ComputerFacts facts;
  FactsReader r(wmi, ui);

  // BIOS. A version that can't be joined keeps the text joined before it,
  // and the line is written regardless.
  r.Reconnect();
  if (std::unique_ptr<WmiResultSet> bios = r.Query(L"SELECT * FROM Win32_BIOS")) {
    r.Yield();
    std::wstring joined;
    facts.bios_versions.emplace();
    ForEachItem(bios.get(), [&](WmiItem* item) {
      if (item != nullptr) {
        if (std::optional<WmiValue> version = item->Get(L"BIOSVersion")) {
          if (std::optional<std::wstring> text = JoinedStrings(*version)) joined = *text;
        }
      }
      facts.bios_versions->push_back(joined);
    });
    r.Yield();
  }

  r.Reconnect();
  if (std::unique_ptr<WmiResultSet> os = r.Query(L"SELECT * FROM Win32_OperatingSystem")) {
    facts.operating_systems.emplace();
    ForEachItem(os.get(), [&](WmiItem* item) {
      r.Yield();
      facts.operating_systems->push_back(
          {PropertyText(item, L"CSName"), PropertyText(item, L"Caption"),
           PropertyText(item, L"Version"), PropertyText(item, L"MaxProcessMemorySize")});
      facts.is_64bit_os = Is64BitWindows(probe);
    });
  }

  r.Reconnect();
  if (std::unique_ptr<WmiResultSet> product =
          r.Query(L"SELECT * FROM Win32_ComputerSystemProduct")) {
    r.Yield();
    facts.products.emplace();
    ForEachItem(product.get(), [&](WmiItem* item) {
      r.Yield();
      facts.products->push_back(
          {PropertyText(item, L"IdentifyingNumber"), PropertyText(item, L"Version")});
    });
  }

  facts.model_sku = GetSystemInformationSku(wmi);
  if (facts.model_sku.empty()) facts.model_sku = GetComputerProductSku(wmi);

  r.Reconnect();
  if (std::unique_ptr<WmiResultSet> system = r.Query(L"SELECT * FROM Win32_ComputerSystem")) {
    r.Yield();
    facts.systems.emplace();
    ForEachItem(system.get(), [&](WmiItem* item) {
      r.Yield();
      facts.systems->push_back({PropertyText(item, L"Model"), PropertyText(item, L"Manufacturer")});
    });
  }
  return facts;
}

std::wstring CollectComputerInfo(Wmi& wmi, SystemProbe& probe, InfoUi& ui) {
  ui.SetStatus(L"Getting Hardware Info");
  return FormatComputerBlock(ReadComputerFacts(wmi, probe, ui));
}

std::wstring GetSystemInformationSku(Wmi& wmi) {
  std::unique_ptr<WmiConnection> connection = wmi.Connect(kWmiMoniker);
  if (!connection) return std::wstring();
  std::unique_ptr<WmiResultSet> set =
      connection->ExecQuery(L"SELECT * FROM MS_SystemInformation", kSkuQueryFlags);
  if (!set) return std::wstring();

  std::wstring text;
  ForEachItem(set.get(), [&](WmiItem* item) {
    std::optional<std::wstring> family = PropertyText(item, L"SystemFamily");
    if (HasText(family)) text = *family;
    std::optional<std::wstring> version = PropertyText(item, L"SystemVersion");
    if (HasText(version)) {
      if (text.empty()) {
        text = *version;
      } else if (text != *version) {
        text += L"/" + *version;
      }
    }
    std::optional<std::wstring> sku = PropertyText(item, L"SystemSKU");
    if (HasText(sku)) text += L"- SKU:" + *sku;
  });
  return text;
}

std::wstring GetComputerProductSku(Wmi& wmi) {
  std::unique_ptr<WmiConnection> connection = wmi.Connect(kCimv2UpperMoniker);
  if (!connection) return std::wstring();
  // No check here: a failed query leaves nothing to walk and the text empty.
  std::unique_ptr<WmiResultSet> set =
      connection->ExecQuery(L"SELECT * FROM Win32_ComputerSystemProduct", kSkuQueryFlags);

  std::wstring text;
  ForEachItem(set.get(), [&](WmiItem* item) {
    std::optional<std::wstring> version = PropertyText(item, L"Version");
    if (HasText(version)) text = *version;
    std::optional<std::wstring> sku = PropertyText(item, L"SKUNumber");
    if (HasText(sku)) text += L"-SKU: " + *sku;
  });
  return std::wstring(platform::TrimSpaces(text));
}

bool Is64BitWindows(SystemProbe& probe) {
  std::int32_t flag = 0;
  // Its result is not needed: a failing call leaves the flag at 0.
  if (probe.FindIsWow64Process()) probe.CallIsWow64Process(flag);
  return flag != 0;
}

}  // namespace sysinfo
