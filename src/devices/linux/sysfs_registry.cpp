#include "devices/linux/sysfs_registry.h"

#include <cctype>
#include <cstring>

#include "platform/codepage.h"

namespace devices::linux_sys {

struct SysfsRegistry::Node {
  struct Value {
    std::string name;
    std::string data;  // REG_SZ bytes with the NUL
  };
  std::string name;
  std::map<std::string, std::unique_ptr<Node>> children;  // by upper-case name
  std::map<std::string, Value> values;                    // by upper-case name
};

namespace {

using Node = SysfsRegistry::Node;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

Node& Child(Node& n, const std::string& name) {
  auto& c = n.children[Upper(name)];
  if (!c) {
    c = std::make_unique<Node>();
    c->name = name;
  }
  return *c;
}

void PutString(Node& n, const std::string& name, const std::string& utf8) {
  n.values[Upper(name)] = {name, platform::ToAnsi(platform::FromUtf8(utf8)) + '\0'};
}

long CopyName(const std::string& s, char* name, std::uint32_t* name_size) {
  if (s.size() + 1 > *name_size) return kErrorMoreData;
  std::memcpy(name, s.c_str(), s.size() + 1);
  *name_size = static_cast<std::uint32_t>(s.size());
  return 0;
}

}  // namespace

SysfsRegistry::SysfsRegistry(const std::vector<LinuxDevice>& devices)
    : machine_(std::make_unique<Node>()), empty_(std::make_unique<Node>()) {
  Node& classes =
      Child(Child(Child(Child(*machine_, "System"), "ControlSet001"), "Control"), "Class");
  for (const LinuxDevice& d : devices) {
    if (d.driver_key.empty()) continue;
    Node& class_key = Child(classes, d.class_guid);
    PutString(class_key, "Class", d.class_name);
    Node& k = Child(class_key, d.driver_key.substr(d.driver_key.find('\\') + 1));
    PutString(k, "DriverDesc", d.description);
    PutString(k, "DriverVersion", d.driver.version);
    PutString(k, "DriverDate", d.driver.date);
    PutString(k, "ProviderName", d.driver.provider);
    PutString(k, "InfPath", d.driver.inf_path);
    if (!d.driver.matching_id.empty()) PutString(k, "MatchingDeviceId", d.driver.matching_id);
  }
}

SysfsRegistry::~SysfsRegistry() = default;

const Node* SysfsRegistry::NodeOf(RegKey key) const {
  if (key == kHkeyLocalMachine) return machine_.get();
  if (key == kHkeyCurrentUser || key == kHkeyClassesRoot || key == kHkeyUsers ||
      key == kHkeyCurrentConfig || key == kHkeyDynData) {
    return empty_.get();
  }
  auto it = open_.find(key);
  return it == open_.end() ? nullptr : it->second;
}

long SysfsRegistry::OpenKey(RegKey parent, const std::string& sub_key, std::uint32_t access,
                            RegKey* result) {
  const Node* n = NodeOf(parent);
  if (n == nullptr) return kErrorInvalidHandle;
  if ((access & ~kKeyRead) != 0) return kErrorAccessDenied;
  size_t at = 0;
  while (at < sub_key.size()) {
    size_t end = sub_key.find('\\', at);
    if (end == std::string::npos) end = sub_key.size();
    if (end == at) return kErrorFileNotFound;  // empty component
    auto it = n->children.find(Upper(sub_key.substr(at, end - at)));
    if (it == n->children.end()) return kErrorFileNotFound;
    n = it->second.get();
    at = end + 1;  // a trailing backslash names the same key
  }
  *result = next_++;
  open_[*result] = n;
  return 0;
}

long SysfsRegistry::QueryValue(RegKey key, const std::string& name, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* size) {
  const Node* n = NodeOf(key);
  if (n == nullptr) return kErrorInvalidHandle;
  auto it = n->values.find(Upper(name));
  if (it == n->values.end()) return kErrorFileNotFound;
  const std::string& bytes = it->second.data;
  if (type) *type = kRegSz;
  const auto need = static_cast<std::uint32_t>(bytes.size());
  if (data != nullptr && *size < need) {
    *size = need;
    return kErrorMoreData;
  }
  if (data != nullptr) std::memcpy(data, bytes.data(), need);
  *size = need;
  return 0;
}

long SysfsRegistry::EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* name_size) {
  const Node* n = NodeOf(key);
  if (n == nullptr) return kErrorInvalidHandle;
  if (index >= n->children.size()) return kErrorNoMoreItems;
  return CopyName(std::next(n->children.begin(), index)->second->name, name, name_size);
}

long SysfsRegistry::EnumValue(RegKey key, std::uint32_t index, char* name,
                              std::uint32_t* name_size) {
  const Node* n = NodeOf(key);
  if (n == nullptr) return kErrorInvalidHandle;
  if (index >= n->values.size()) return kErrorNoMoreItems;
  return CopyName(std::next(n->values.begin(), index)->second.name, name, name_size);
}

long SysfsRegistry::SetValue(RegKey, const std::string&, std::uint32_t, const std::uint8_t*,
                             std::uint32_t) {
  return kErrorAccessDenied;
}

long SysfsRegistry::CreateKey(RegKey, const std::string&, const std::string&, std::uint32_t,
                              std::uint32_t, RegKey*) {
  return kErrorAccessDenied;
}

long SysfsRegistry::DeleteKey(RegKey, const std::string&) {
  return kErrorAccessDenied;
}

long SysfsRegistry::CloseKey(RegKey key) {
  return open_.erase(key) ? 0 : kErrorInvalidHandle;
}

}  // namespace devices::linux_sys
