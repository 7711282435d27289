#include "devices/driver_list.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "devices/driver_class.h"
#include "devices/text.h"
#include "platform/codepage.h"

namespace modDeviceManagerAPI {
namespace {

using devices::DeviceApi;
using devices::DeviceInfoData;
using devices::DeviceSet;

std::wstring NulsToCommas(std::wstring s) {
  std::replace(s.begin(), s.end(), L'\0', L',');
  return s;
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

}  // namespace

std::wstring GetDeviceProperty(DeviceApi& api, DeviceSet set, const DeviceInfoData& data,
                               std::uint32_t property, devices::DeviceUi& ui) {
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  if (api.GetDeviceRegistryProperty(set, data, property, &type, nullptr, 0, &required)) {
    return L"";
  }
  const std::uint32_t error = api.LastError();
  if (error == devices::kErrorInvalidData) return L"";  // the device lacks this property
  if (error != devices::kErrorInsufficientBuffer) {
    ui.ShowMessage(kPropertyQueryFailedText);
    return L"";
  }

  std::string bytes;
  switch (type) {
    case devices::kRegSz:
    case devices::kRegExpandSz:
      // Text ends at its first NUL, or at its stored length without one.
      if (required == 0) return L"";
      if (ReadPropertyBytes(api, set, data, property, required, bytes)) {
        return platform::FromAnsi(devices::TextBeforeNul(bytes));
      }
      break;
    case devices::kRegBinary:
    case devices::kRegMultiSz:
      if (required == 0) return L"";
      if (ReadPropertyBytes(api, set, data, property, required, bytes)) {
        // A multi-string ends at its empty string:
        // the ANSI call can leave stale bytes of its wide read after them.
        if (type == devices::kRegMultiSz)
          return platform::FromAnsi(devices::MultiStringData(bytes));
        std::wstring text = platform::FromAnsi(bytes);
        if (!text.empty()) text.pop_back();  // the terminating NUL
        return text;
      }
      break;
    case devices::kRegDword:
    case devices::kRegDwordBigEndian:
      // Never asked for by the collector; a number reads as its decimal text.
      if (required >= 4 && ReadPropertyBytes(api, set, data, property, required, bytes) &&
          bytes.size() >= 4) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
          const auto b = static_cast<std::uint8_t>(bytes[type == devices::kRegDword ? i : 3 - i]);
          value |= static_cast<std::uint32_t>(b) << (8 * i);
        }
        return std::to_wstring(value);
      }
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
  if (api.GetDevNodeStatus(&status, &problem, dev_inst, 0) == devices::kCrNoSuchDevnode) return -1;
  return static_cast<std::int16_t>(problem);
}

bool IsDeviceHidden(DeviceApi& api, std::uint32_t dev_inst) {
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
  api.GetDevNodeStatus(&status, &problem, dev_inst, 0);
  return (status & devices::kDnNoShowInDm) != 0;
}

std::wstring CollectDriverList(DeviceApi& api, devices::Registry& registry, devices::DeviceUi& ui) {
  const DeviceSet set = api.GetClassDevs(devices::kDigcfPresent | devices::kDigcfAllClasses);
  if (set == devices::kInvalidDeviceSet) return L"";
  // The set is destroyed however the walk ends.
  struct SetOwner {
    DeviceApi& api;
    DeviceSet set;
    ~SetOwner() { api.DestroyDeviceInfoList(set); }
  } owner{api, set};

  DeviceInfoData data;
  data.cbSize = 28;  // sizeof(SP_DEVINFO_DATA) in a 32-bit program
  std::uint32_t number = 0;
  bool has_inf = false;
  std::wstring list;

  for (std::uint32_t index = 0; api.EnumDeviceInfo(set, index, &data); ++index) {
    std::wstring name = GetDeviceProperty(api, set, data, devices::kSpdrpFriendlyName, ui);
    const std::wstring driver_key = GetDeviceProperty(api, set, data, devices::kSpdrpDriver, ui);
    if (name.empty()) {
      name = GetDeviceProperty(api, set, data, devices::kSpdrpDeviceDesc, ui);
      if (name.empty()) name = kUnknownDeviceName;
    }

    const std::int16_t problem = GetDeviceProblem(api, data.DevInst);
    if (IsDeviceHidden(api, data.DevInst) || problem == -1) continue;

    const std::wstring compatible_ids =
        NulsToCommas(GetDeviceProperty(api, set, data, devices::kSpdrpCompatibleIds, ui));
    const std::wstring hardware_ids =
        NulsToCommas(GetDeviceProperty(api, set, data, devices::kSpdrpHardwareId, ui));
    const auto comma = hardware_ids.find(L',');
    const std::wstring device_id =
        comma == std::wstring::npos ? L"" : hardware_ids.substr(0, comma + 1);
    const std::wstring driver_path = device_id + L"\\" + driver_key;

    const std::wstring version = GetDriverClassValue(registry, driver_key, L"DriverVersion");
    const std::wstring date = GetDriverClassValue(registry, driver_key, L"DriverDate");
    const std::wstring provider = GetDriverClassValue(registry, driver_key, L"ProviderName");
    const std::wstring inf_path = GetDriverClassValue(registry, driver_key, L"InfPath");
    const std::wstring matching_id = GetDriverClassValue(registry, driver_key, L"MatchingDeviceId");
    const std::wstring device_class = GetDeviceProperty(api, set, data, devices::kSpdrpClass, ui);

    modScanLib::TraceLine(ui, std::wstring(51, L'='));
    modScanLib::TraceLine(ui, name);
    if (hardware_ids.empty()) continue;

    ++number;
    // Problem numbers are unsigned on the wire: no sign, ever.
    const std::wstring problem_text = std::to_wstring(static_cast<std::uint16_t>(problem));
    modScanLib::TraceLine(ui, L"HWID: " + devices::TrimSpaces(hardware_ids));
    modScanLib::TraceLine(ui, L"COMPATIBLEIDS: " + compatible_ids);
    modScanLib::TraceLine(ui, L"sDeviceID: " + device_id);
    modScanLib::TraceLine(ui, L"sDriverVersion: " + version);
    modScanLib::TraceLine(ui, L"sDriverDate: " + date);
    modScanLib::TraceLine(ui, L"sManufacturer: " + provider);
    modScanLib::TraceLine(ui, L"sInfName: " + inf_path);
    modScanLib::TraceLine(ui, L"sMatchingDeviceID: " + matching_id);
    modScanLib::TraceLine(ui, L"sDeviceClass: " + device_class);
    modScanLib::TraceLine(ui, L"ErrorCode:" + problem_text);
    if (!inf_path.empty()) has_inf = true;

    const std::wstring trimmed_id = devices::TrimSpaces(device_id);
    const std::wstring trimmed_path = devices::TrimSpaces(driver_path);
    const std::wstring* const fields[] = {
        &version,  &provider,     &date,           &trimmed_id,  &trimmed_path, &device_class,
        &inf_path, &hardware_ids, &compatible_ids, &matching_id, &problem_text};
    list.append(L"\r\ndriver_").append(std::to_wstring(number)).append(L"=").append(name);
    for (const std::wstring* field : fields) list.append(kFieldSeparator).append(*field);
  }

  return has_inf ? list : L"";
}

}  // namespace modDeviceManagerAPI

namespace modScanLib {

std::wstring CollectScanData(devices::DeviceApi& api, devices::Registry& registry,
                             devices::DeviceUi& ui,
                             const std::function<std::wstring()>& CollectComputerInfo) {
  std::wstring list = modDeviceManagerAPI::CollectDriverList(api, registry, ui);
  if (list.empty()) return L"";
  return list + L"\r\n" + CollectComputerInfo();
}

void TraceLine(devices::DeviceUi& ui, const std::wstring&) {
  ui.PumpPending();
}

}  // namespace modScanLib
