// RegistryClass: one job per call over the registry (enumerate, delete, read,
// write, create), opening the key it needs and closing it before returning.
// Keys are named by a predefined key's name ("HKEY_LOCAL_MACHINE", ...) and a
// path below it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "devices/win/procedures/one_based_array.h"
#include "devices/win/procedures/registry.h"
#include "devices/win/procedures/variant.h"

namespace devices {

inline constexpr wchar_t kDefaultRootName[] = L"HKEY_CURRENT_USER";

// The one error that leaves RegistryClass: a value to be stored as a 32-bit
// number that is not one.
class RegistryValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RegistryClass {
 public:
  explicit RegistryClass(Registry& registry) : reg_(registry) {}

  // Subkey names of the key into elements 1..count; no elements when there
  // are none or the key can't be opened. Returns count.
  std::int32_t EnumKey(OneBasedArray<std::wstring>& sub_keys, const std::wstring& key_path,
                       const std::wstring& root_name = kDefaultRootName);
  // The same for the key's value names.
  std::int32_t EnumValue(OneBasedArray<std::wstring>& value_names, const std::wstring& key_path,
                         const std::wstring& root_name = kDefaultRootName);

  // With sub_key: deletes that subkey, 2 on success, 1 on failure. Without:
  // deletes the key's immediate subkeys, then the key; returns how many
  // deletions succeeded. 0 when the key can't be opened.
  std::int32_t DeleteKey(const std::wstring& key_path, const std::wstring& sub_key = L"",
                         const std::wstring& root_name = kDefaultRootName);

  // The value (text, 32-bit number or bytes), or fallback_value.
  Variant LoadValue(const std::wstring& key_path, const std::wstring& value_name,
                    const Variant& fallback_value = Variant(),
                    const std::wstring& root_name = kDefaultRootName);

  // Stores text as REG_SZ; anything else as REG_DWORD when as_dword,
  // else as REG_BINARY. Creates a missing key. True when the value was
  // stored. Throws RegistryValueError for a DWORD that isn't a number,
  // before touching the registry.
  bool SaveValue(const std::wstring& key_path, const std::wstring& value_name,
                 const Variant& store_value, const std::wstring& root_name = kDefaultRootName,
                 bool as_dword = true);

  // SaveValue, then creates (or opens) the key itself. True when both
  // succeeded.
  bool CreateKey(const std::wstring& key_path, const std::wstring& value_name,
                 const Variant& store_value, const std::wstring& root_name = kDefaultRootName,
                 bool as_dword = false);

  // Exposed for tests: the predefined key for a name, or 0.
  static RegKey GetKeyHandle(const std::wstring& name);

 private:
  std::int32_t ReadValue(RegKey key, const std::wstring& name, Variant& out,
                         const Variant& fallback);
  template <class EnumCall>
  std::int32_t EnumNames(OneBasedArray<std::wstring>& out, const std::wstring& key_path,
                         const std::wstring& root_name, EnumCall call);

  Registry& reg_;
};

}  // namespace devices
