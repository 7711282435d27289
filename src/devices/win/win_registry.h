// The registry port over the ANSI registry functions.
#pragma once

#include "devices/win/procedures/registry.h"

namespace devices {

class WinRegistry : public Registry {
 public:
  long OpenKey(RegKey parent, const std::string& sub_key, std::uint32_t access,
               RegKey* result) override;
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) override;
  long EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) override;
  long SetValue(RegKey key, const std::string& name, std::uint32_t type, const std::uint8_t* data,
                std::uint32_t size) override;
  long CreateKey(RegKey parent, const std::string& sub_key, const std::string& key_class,
                 std::uint32_t options, std::uint32_t access, RegKey* result) override;
  long DeleteKey(RegKey key, const std::string& sub_key) override;
  long CloseKey(RegKey key) override;
};

}  // namespace devices
