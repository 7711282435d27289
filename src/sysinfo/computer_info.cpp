#include "sysinfo/computer_info.h"

#include <functional>
#include <utility>

namespace sysinfo {
namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";
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

std::wstring TrimSpaces(const std::wstring& text) {
  size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return std::wstring();
  size_t last = text.find_last_not_of(L' ');
  return text.substr(first, last - first + 1);
}

// One collection call: the connection in use and the block being built.
class BlockBuilder {
 public:
  BlockBuilder(Wmi& wmi, InfoUi& ui) : wmi_(wmi), ui_(ui) {}

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

  void AppendLine(const std::wstring& text) {
    block_ += kLineBreak;
    block_ += text;
  }

  // "label" + the property's text + suffix, or nothing when it can't be read.
  void AppendProperty(const wchar_t* label, WmiItem* item, const wchar_t* name,
                      const std::wstring& suffix = std::wstring()) {
    std::optional<std::wstring> text = PropertyText(item, name);
    if (text) AppendLine(label + *text + suffix);
  }

  std::wstring TakeBlock() { return std::move(block_); }

 private:
  Wmi& wmi_;
  InfoUi& ui_;
  std::unique_ptr<WmiConnection> connection_;
  std::wstring block_;
};

}  // namespace

std::wstring CollectComputerInfo(Wmi& wmi, SystemProbe& probe, InfoUi& ui) {
  ui.SetStatus(L"Getting Hardware Info");
  BlockBuilder b(wmi, ui);

  // BIOS. A version that can't be joined keeps the text joined before it,
  // and the line is written regardless.
  b.Reconnect();
  if (std::unique_ptr<WmiResultSet> bios = b.Query(L"SELECT * FROM Win32_BIOS")) {
    b.Yield();
    std::wstring joined;
    ForEachItem(bios.get(), [&](WmiItem* item) {
      if (item != nullptr) {
        if (std::optional<WmiValue> version = item->Get(L"BIOSVersion")) {
          if (std::optional<std::wstring> text = JoinedStrings(*version)) joined = *text;
        }
      }
      b.AppendLine(L"bios=" + joined);
    });
    b.Yield();
  }

  b.Reconnect();
  if (std::unique_ptr<WmiResultSet> os = b.Query(L"SELECT * FROM Win32_OperatingSystem")) {
    ForEachItem(os.get(), [&](WmiItem* item) {
      b.Yield();
      b.AppendProperty(L"CSName=", item, L"CSName");
      b.AppendProperty(L"Caption=", item, L"Caption");
      b.AppendProperty(L"Version=", item, L"Version");
      b.AppendProperty(L"MaxProcessMemorySize=", item, L"MaxProcessMemorySize");
      b.AppendLine(Is64BitWindows(probe) ? L"OSArchitecture=64bits" : L"OSArchitecture=32bits");
    });
  }

  b.Reconnect();
  if (std::unique_ptr<WmiResultSet> product =
          b.Query(L"SELECT * FROM Win32_ComputerSystemProduct")) {
    b.Yield();
    ForEachItem(product.get(), [&](WmiItem* item) {
      b.Yield();
      b.AppendProperty(L"IdentifyingNumber=", item, L"IdentifyingNumber");
      b.AppendProperty(L"CSProuctVersion=", item, L"Version");
    });
  }

  std::wstring sku = GetSystemInformationSku(wmi);
  if (sku.empty()) sku = GetComputerProductSku(wmi);
  const std::wstring suffix = sku.empty() ? std::wstring() : L" (" + sku + L")";

  b.Reconnect();
  if (std::unique_ptr<WmiResultSet> system = b.Query(L"SELECT * FROM Win32_ComputerSystem")) {
    b.Yield();
    ForEachItem(system.get(), [&](WmiItem* item) {
      b.Yield();
      b.AppendProperty(L"Model=", item, L"Model", suffix);
      b.AppendProperty(L"Manufacturer=", item, L"Manufacturer");
    });
  }

  return b.TakeBlock();
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
  return TrimSpaces(text);
}

bool Is64BitWindows(SystemProbe& probe) {
  std::int32_t flag = 0;
  // Its result is not needed: a failing call leaves the flag at 0.
  if (probe.FindIsWow64Process()) probe.CallIsWow64Process(flag);
  return flag != 0;
}

}  // namespace sysinfo
