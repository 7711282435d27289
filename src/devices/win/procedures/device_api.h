// The present-device set as the driver list reaches it: the setup API and
// configuration manager calls it makes, with their results and error codes.
#pragma once

#include <array>
#include <cstdint>

namespace devices {

// A device information set; kInvalidDeviceSet when it could not be made.
using DeviceSet = std::uintptr_t;
inline constexpr DeviceSet kInvalidDeviceSet = static_cast<DeviceSet>(-1);

inline constexpr std::uint32_t kDigcfPresent = 0x2;
inline constexpr std::uint32_t kDigcfAllClasses = 0x4;

inline constexpr std::uint32_t kSpdrpDeviceDesc = 0;
inline constexpr std::uint32_t kSpdrpHardwareId = 1;
inline constexpr std::uint32_t kSpdrpCompatibleIds = 2;
inline constexpr std::uint32_t kSpdrpClass = 7;
inline constexpr std::uint32_t kSpdrpDriver = 9;
inline constexpr std::uint32_t kSpdrpFriendlyName = 12;

inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
inline constexpr std::uint32_t kErrorNoSuchDevinst = 0xE000020B;

inline constexpr std::uint32_t kCrSuccess = 0;
inline constexpr std::uint32_t kCrNoSuchDevnode = 13;
inline constexpr std::uint32_t kDnDriverLoaded = 0x2;
inline constexpr std::uint32_t kDnStarted = 0x8;
inline constexpr std::uint32_t kDnHasProblem = 0x400;
inline constexpr std::uint32_t kDnNoShowInDm = 0x40000000;
inline constexpr std::uint32_t kCmProbFailedInstall = 28;  // drivers not installed

// The device information element: the layout of SP_DEVINFO_DATA in a 32-bit
// program (28 bytes there). Only DevInst is read by the caller.
struct DeviceInfoData {
  std::uint32_t cbSize = 0;
  std::array<std::uint8_t, 16> ClassGuid{};
  std::uint32_t DevInst = 0;
  std::uintptr_t Reserved = 0;
};

class DeviceApi {
 public:
  virtual ~DeviceApi() = default;
  // The set of devices of all classes (class GUID, enumerator and parent null).
  virtual DeviceSet GetClassDevs(std::uint32_t flags) = 0;
  virtual bool EnumDeviceInfo(DeviceSet set, std::uint32_t index, DeviceInfoData* data) = 0;
  // The ANSI property read. `buffer` may be null with size 0 to learn the
  // type and required size; both outputs may be written on failure.
  virtual bool GetDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& data,
                                         std::uint32_t property, std::uint32_t* reg_type,
                                         std::uint8_t* buffer, std::uint32_t buffer_size,
                                         std::uint32_t* required_size) = 0;
  // The calling thread's last error after a setup API call.
  virtual std::uint32_t LastError() = 0;
  // A configuration-manager return code (CR_*).
  virtual std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                         std::uint32_t dev_inst, std::uint32_t flags) = 0;
  virtual bool DestroyDeviceInfoList(DeviceSet set) = 0;
};

}  // namespace devices
