#include "devices/win/procedures/driver_collection.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "devices/driver_list.h"
#include "devices/win/procedures/driver_class.h"
#include "devices/win/procedures/text.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace devices {
namespace {

// The strings of a property read as a multi-string (each followed by a NUL);
// text read from another type is one string.
std::vector<std::wstring> Strings(const std::wstring& text) {
  std::vector<std::wstring> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\0', start);
    if (end == std::wstring::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The second read of a property, whose size is known. False when it failed.
bool ReadPropertyBytes(DeviceApi& api, DeviceSet set, const DeviceInfoData& data,
                       std::uint32_t property, std::uint32_t size, std::string& bytes) {
  bytes.assign(size, '\0');
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  if (!api.GetDeviceRegistryProperty(set, data, property, &type,
                                     reinterpret_cast<std::uint8_t*>(bytes.data()), size,
                                     &required)) {
    return false;
  }
  // The ANSI call may announce more than it delivers (the size of the
  // property's wide form); what it wrote is what it says the second time.
  if (required > 0 && required < size) bytes.resize(required);
  return true;
}

// What the setup API answers for a device that is no longer there.
bool IsDeviceGoneError(std::uint32_t error) {
  return error == kErrorNoSuchDevinst || error == kErrorDeviceNotConnected;
}

// After a failed second read: true (and the caller told) when the device
// went away between the two reads.
bool ReadFoundDeviceGone(DeviceApi& api, bool* device_gone) {
  if (device_gone == nullptr || !IsDeviceGoneError(api.LastError())) return false;
  *device_gone = true;
  return true;
}

}  // namespace

std::wstring GetDeviceProperty(DeviceApi& api, DeviceSet set, const DeviceInfoData& data,
                               std::uint32_t property, DeviceUi& ui, bool* device_gone) {
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  if (api.GetDeviceRegistryProperty(set, data, property, &type, nullptr, 0, &required)) {
    return L"";
  }
  const std::uint32_t error = api.LastError();
  if (error == kErrorInvalidData) return L"";  // the device lacks this property
  // A device unplugged while the scan runs: the caller drops it, no message.
  if (device_gone != nullptr && IsDeviceGoneError(error)) {
    *device_gone = true;
    return L"";
  }
  if (error != kErrorInsufficientBuffer) {
    ui.ShowMessage(kPropertyQueryFailedText);
    return L"";
  }

  std::string bytes;
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      // Text ends at its first NUL, or at its stored length without one.
      if (required == 0) return L"";
      if (ReadPropertyBytes(api, set, data, property, required, bytes)) {
        return platform::FromAnsi(TextBeforeNul(bytes));
      }
      if (ReadFoundDeviceGone(api, device_gone)) return L"";
      break;
    case kRegBinary:
    case kRegMultiSz:
      if (required == 0) return L"";
      if (ReadPropertyBytes(api, set, data, property, required, bytes)) {
        // A multi-string ends at its empty string:
        // the ANSI call can leave stale bytes of its wide read after them.
        if (type == kRegMultiSz) return platform::FromAnsi(MultiStringData(bytes));
        std::wstring text = platform::FromAnsi(bytes);
        if (!text.empty()) text.pop_back();  // the terminating NUL
        return text;
      }
      if (ReadFoundDeviceGone(api, device_gone)) return L"";
      break;
    case kRegDword:
    case kRegDwordBigEndian:
      // Never asked for by the collector; a number reads as its decimal text.
      if (required >= 4 && ReadPropertyBytes(api, set, data, property, required, bytes) &&
          bytes.size() >= 4) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
          const auto b = static_cast<std::uint8_t>(bytes[type == kRegDword ? i : 3 - i]);
          value |= static_cast<std::uint32_t>(b) << (8 * i);
        }
        return std::to_wstring(value);
      }
      if (ReadFoundDeviceGone(api, device_gone)) return L"";
      break;
    default:
      break;  // no second read for other types: it counts as a failed one
  }
  ui.ShowMessage(kPropertyReadFailedText);
  return L"";
}

std::int16_t GetDeviceProblem(DeviceApi& api, std::uint32_t dev_inst) {
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  if (api.GetDevNodeStatus(&status, &problem, dev_inst, 0) == kCrNoSuchDevnode) return -1;
  // The problem number means something only while the node says it has one.
  if ((status & kDnHasProblem) == 0) return 0;
  return static_cast<std::int16_t>(problem);
}

bool IsDeviceHidden(DeviceApi& api, std::uint32_t dev_inst) {
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  api.GetDevNodeStatus(&status, &problem, dev_inst, 0);
  return (status & kDnNoShowInDm) != 0;
}

std::vector<DeviceRecord> CollectDeviceRecords(DeviceApi& api, Registry& registry, DeviceUi& ui) {
  std::vector<DeviceRecord> records;
  const DeviceSet set = api.GetClassDevs(kDigcfPresent | kDigcfAllClasses);
  if (set == kInvalidDeviceSet) return records;
  // The set is destroyed however the walk ends.
  struct SetOwner {
    DeviceApi& api;
    DeviceSet set;
    ~SetOwner() { api.DestroyDeviceInfoList(set); }
  } owner{api, set};

  const std::vector<std::wstring> class_paths = ClassKeyPaths(registry);
  DeviceInfoData data;
  data.cbSize = 28;  // sizeof(SP_DEVINFO_DATA) in a 32-bit program
  for (std::uint32_t index = 0; api.EnumDeviceInfo(set, index, &data); ++index) {
    // Once the device is found gone, its remaining reads are skipped and the
    // device is left out.
    bool gone = false;
    const auto property = [&](std::uint32_t which) {
      return gone ? std::wstring() : GetDeviceProperty(api, set, data, which, ui, &gone);
    };
    DeviceRecord d;
    d.name = property(kSpdrpFriendlyName);
    d.driver_key = property(kSpdrpDriver);
    if (d.name.empty()) d.name = property(kSpdrpDeviceDesc);

    const std::int16_t problem = GetDeviceProblem(api, data.DevInst);
    if (gone || IsDeviceHidden(api, data.DevInst) || problem == -1) continue;
    d.problem = static_cast<std::uint16_t>(problem);

    d.compatible_ids = Strings(property(kSpdrpCompatibleIds));
    const std::wstring hardware_ids = property(kSpdrpHardwareId);
    d.hardware_ids = Strings(hardware_ids);
    // The device id is the text before the first separator of the id list.
    const std::size_t end = hardware_ids.find_first_of(std::wstring_view(L",\0", 2));
    if (end != std::wstring::npos) d.device_id = hardware_ids.substr(0, end);

    d.version = GetDriverClassValue(registry, d.driver_key, L"DriverVersion", class_paths);
    d.date = GetDriverClassValue(registry, d.driver_key, L"DriverDate", class_paths);
    d.provider = GetDriverClassValue(registry, d.driver_key, L"ProviderName", class_paths);
    d.inf_path = GetDriverClassValue(registry, d.driver_key, L"InfPath", class_paths);
    d.matching_id = GetDriverClassValue(registry, d.driver_key, L"MatchingDeviceId", class_paths);
    d.device_class = property(kSpdrpClass);
    if (gone) continue;
    // Long enumerations keep the window answering.
    ui.PumpPending();
    ui.PumpPending();
    if (!d.hardware_ids.empty()) {
      for (int i = 0; i < 10; ++i) ui.PumpPending();
    }
    records.push_back(std::move(d));
  }
  return records;
}

std::wstring CollectDriverList(DeviceApi& api, Registry& registry, DeviceUi& ui) {
  return FormatDriverList(CollectDeviceRecords(api, registry, ui));
}

}  // namespace devices
