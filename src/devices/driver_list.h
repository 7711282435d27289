// The driver list: one numbered entry per present device that has hardware
// identifiers, with its driver's values, in the text form the
// driver-identification service reads. And the scan data built on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "devices/device_api.h"
#include "devices/device_ui.h"
#include "devices/registry.h"

namespace modDeviceManagerAPI {

inline constexpr wchar_t kUnknownDeviceName[] = L"Unknown Device";
inline constexpr wchar_t kFieldSeparator[] = L"[;]";
inline constexpr wchar_t kPropertyReadFailedText[] = L"Error while dermitting Regestryproperty";
inline constexpr wchar_t kPropertyQueryFailedText[] = L"Error, can't get Regestryproperty";

// Entries "CR LF driver_N=name[;]...[;]problem" for the listed devices, or ""
// when the set can't be made, no device is listed or none has an INF path.
std::wstring CollectDriverList(devices::DeviceApi& api, devices::Registry& registry,
                               devices::DeviceUi& ui);

// One property as text: a string up to its NUL; a multi-string's strings up
// to its empty string, each followed by a NUL. "" when absent (silently) or
// unreadable (after a message).
std::wstring GetDeviceProperty(devices::DeviceApi& api, devices::DeviceSet set,
                               const devices::DeviceInfoData& data, std::uint32_t property,
                               devices::DeviceUi& ui);

// The device's problem number, or -1 when the device node does not exist.
std::int16_t GetDeviceProblem(devices::DeviceApi& api, std::uint32_t dev_inst);

// True for a device that Device Manager does not show.
bool IsDeviceHidden(devices::DeviceApi& api, std::uint32_t dev_inst);

}  // namespace modDeviceManagerAPI

namespace modScanLib {

// The driver list, CR LF and the computer information block; "" (and the
// block not collected) when the list is empty.
std::wstring CollectScanData(devices::DeviceApi& api, devices::Registry& registry,
                             devices::DeviceUi& ui,
                             const std::function<std::wstring()>& CollectComputerInfo);

// A diagnostic line: kept nowhere; lets the window process pending messages.
void TraceLine(devices::DeviceUi& ui, const std::wstring& text);

}  // namespace modScanLib
