// The registry as the registry class reaches it: the ANSI registry calls,
// their Win32 error codes, and opaque key handles. Names and data cross this
// port as ANSI bytes.
#pragma once

#include <cstdint>
#include <string>

namespace devices {

// A key handle; 0 is the null handle.
using RegKey = std::uintptr_t;

inline constexpr RegKey kHkeyClassesRoot = 0x80000000;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002;
inline constexpr RegKey kHkeyUsers = 0x80000003;
inline constexpr RegKey kHkeyCurrentConfig = 0x80000005;
inline constexpr RegKey kHkeyDynData = 0x80000006;

inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegMultiSz = 7;

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;

// Each call returns a Win32 error code, 0 on success, and behaves as the
// registry call of the same name.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual long OpenKey(RegKey parent, const std::string& sub_key, std::uint32_t access,
                       RegKey* result) = 0;
  // `data` null asks only for type and size. On entry *size is the buffer's
  // size in bytes; on return the value's size.
  virtual long QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) = 0;
  // *name_size: buffer size in characters including the NUL on entry,
  // the name's length without it on success.
  virtual long EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) = 0;
  virtual long EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) = 0;
  virtual long SetValue(RegKey key, const std::string& name, std::uint32_t type,
                        const std::uint8_t* data, std::uint32_t size) = 0;
  virtual long CreateKey(RegKey parent, const std::string& sub_key, const std::string& key_class,
                         std::uint32_t options, std::uint32_t access, RegKey* result) = 0;
  virtual long DeleteKey(RegKey key, const std::string& sub_key) = 0;
  virtual long CloseKey(RegKey key) = 0;
};

}  // namespace devices
