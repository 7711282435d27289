// A read-only registry holding what Windows keeps under
// HKEY_LOCAL_MACHINE\System\ControlSet001\Control\Class for each installed
// driver, made from the Linux devices' bound drivers. Everything else is
// absent; writes are refused with access denied.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/linux/sysfs_inventory.h"
#include "devices/registry.h"

namespace devices::linux_sys {

class SysfsRegistry : public Registry {
 public:
  explicit SysfsRegistry(const std::vector<LinuxDevice>& devices);
  ~SysfsRegistry() override;

  long OpenKey(RegKey parent, const std::string& sub_key, std::uint32_t access,
               RegKey* result) override;
  long QueryValue(RegKey key, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override;
  long EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) override;
  long EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) override;
  long SetValue(RegKey, const std::string&, std::uint32_t, const std::uint8_t*,
                std::uint32_t) override;
  long CreateKey(RegKey, const std::string&, const std::string&, std::uint32_t, std::uint32_t,
                 RegKey*) override;
  long DeleteKey(RegKey, const std::string&) override;
  long CloseKey(RegKey key) override;

  struct Node;

 private:
  const Node* NodeOf(RegKey key) const;

  std::unique_ptr<Node> machine_;  // HKEY_LOCAL_MACHINE
  std::unique_ptr<Node> empty_;    // every other predefined key
  std::map<RegKey, const Node*> open_;
  RegKey next_ = 0x1000;
};

}  // namespace devices::linux_sys
