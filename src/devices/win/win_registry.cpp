#include "devices/win/win_registry.h"

#include <windows.h>

namespace devices {
namespace {

// Predefined keys are sign-extended constants; anything else is a handle
// this adapter gave out.
HKEY ToHkey(RegKey k) {
  if (k >= 0x80000000u && k <= 0x800000FFu) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(k)));
  }
  return reinterpret_cast<HKEY>(k);
}

RegKey FromHkey(HKEY h) {
  return reinterpret_cast<RegKey>(h);
}

}  // namespace

long WinRegistry::OpenKey(RegKey parent, const std::string& sub_key, std::uint32_t access,
                          RegKey* result) {
  HKEY h = nullptr;
  const LONG rc = RegOpenKeyExA(ToHkey(parent), sub_key.c_str(), 0, access, &h);
  if (rc == ERROR_SUCCESS) *result = FromHkey(h);
  return rc;
}

long WinRegistry::QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                             std::uint8_t* data, std::uint32_t* size) {
  DWORD t = 0;
  DWORD s = *size;
  const LONG rc = RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &t, data, &s);
  if (type) *type = t;
  *size = s;
  return rc;
}

long WinRegistry::EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) {
  DWORD s = *name_size;
  const LONG rc = RegEnumKeyExA(ToHkey(key), index, name, &s, nullptr, nullptr, nullptr, nullptr);
  *name_size = s;
  return rc;
}

long WinRegistry::EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) {
  DWORD s = *name_size;
  const LONG rc = RegEnumValueA(ToHkey(key), index, name, &s, nullptr, nullptr, nullptr, nullptr);
  *name_size = s;
  return rc;
}

long WinRegistry::SetValue(RegKey key, const std::string& name, std::uint32_t type,
                           const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(ToHkey(key), name.c_str(), 0, type, data, size);
}

long WinRegistry::CreateKey(RegKey parent, const std::string& sub_key, const std::string& key_class,
                            std::uint32_t options, std::uint32_t access, RegKey* result) {
  HKEY h = nullptr;
  DWORD disposition = 0;
  std::string cls = key_class;  // the call takes a non-const class buffer
  const LONG rc = RegCreateKeyExA(ToHkey(parent), sub_key.c_str(), 0, cls.data(), options, access,
                                  nullptr, &h, &disposition);
  if (rc == ERROR_SUCCESS) *result = FromHkey(h);
  return rc;
}

long WinRegistry::DeleteKey(RegKey key, const std::string& sub_key) {
  return RegDeleteKeyA(ToHkey(key), sub_key.c_str());
}

long WinRegistry::CloseKey(RegKey key) {
  return RegCloseKey(ToHkey(key));
}

}  // namespace devices
