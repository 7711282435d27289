// An in-memory registry behaving as the ANSI registry calls do: case-
// insensitive names, subkeys enumerated in name order, the Win32 error codes.
// It records every key opening and counts the keys still open.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/win/procedures/registry.h"

namespace fakes {

class FakeRegistry : public devices::Registry {
 public:
  struct Value {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
  };
  struct Node {
    std::string name;
    std::string key_class;
    std::map<std::string, std::shared_ptr<Node>> children;  // by upper-case name
    std::map<std::string, Value> values;                    // by upper-case name
  };
  struct Opening {
    devices::RegKey parent;
    std::string path;
    std::uint32_t access;
  };

  std::vector<Opening> openings;  // OpenKey calls, in order
  bool fail_set_value = false;
  bool fail_create = false;
  // Size queries of text values announce this many bytes more than they
  // deliver, as an ANSI query may (the size of the wide form).
  std::uint32_t text_size_overstatement = 0;

  FakeRegistry() {
    for (devices::RegKey k :
         {devices::kHkeyClassesRoot, devices::kHkeyCurrentUser, devices::kHkeyLocalMachine,
          devices::kHkeyUsers, devices::kHkeyCurrentConfig, devices::kHkeyDynData}) {
      roots_[k] = std::make_shared<Node>();
    }
  }

  // --- set-up and inspection helpers (paths below a predefined key) ---
  Node& Key(devices::RegKey root, const std::string& path) { return *Make(roots_.at(root), path); }
  void Put(devices::RegKey root, const std::string& path, const std::string& name,
           std::uint32_t type, std::vector<std::uint8_t> data) {
    Key(root, path).values[Upper(name)] = Value{name, type, std::move(data)};
  }
  void PutString(devices::RegKey root, const std::string& path, const std::string& name,
                 const std::string& text) {
    std::vector<std::uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    Put(root, path, name, devices::kRegSz, std::move(d));
  }
  const Node* Find(devices::RegKey root, const std::string& path) const {
    std::shared_ptr<Node> n = Walk(roots_.at(root), path);
    return n.get();
  }
  const Value* FindValue(devices::RegKey root, const std::string& path,
                         const std::string& name) const {
    const Node* n = Find(root, path);
    if (n == nullptr) return nullptr;
    auto it = n->values.find(Upper(name));
    return it == n->values.end() ? nullptr : &it->second;
  }
  int open_keys() const { return static_cast<int>(handles_.size()); }

  // --- the port ---
  long OpenKey(devices::RegKey parent, const std::string& sub_key, std::uint32_t access,
               devices::RegKey* result) override {
    openings.push_back({parent, sub_key, access});
    std::shared_ptr<Node> base = NodeOf(parent);
    if (!base) return devices::kErrorInvalidHandle;
    std::shared_ptr<Node> n = Walk(base, sub_key);
    if (!n) return devices::kErrorFileNotFound;
    *result = Add(n);
    return 0;
  }
  long QueryValue(devices::RegKey key, const std::string& name, std::uint32_t* type,
                  std::uint8_t* data, std::uint32_t* size) override {
    std::shared_ptr<Node> n = NodeOf(key);
    if (!n) return devices::kErrorInvalidHandle;
    auto it = n->values.find(Upper(name));
    if (it == n->values.end()) return devices::kErrorFileNotFound;
    const Value& v = it->second;
    if (type) *type = v.type;
    const auto need = static_cast<std::uint32_t>(v.data.size());
    if (data == nullptr && v.type == devices::kRegSz) {
      *size = need + text_size_overstatement;
      return 0;
    }
    if (data != nullptr && *size < need) {
      *size = need;
      return devices::kErrorMoreData;
    }
    if (data != nullptr && need > 0) std::memcpy(data, v.data.data(), need);
    *size = need;
    return 0;
  }
  long EnumKey(devices::RegKey key, std::uint32_t index, char* name,
               std::uint32_t* name_size) override {
    std::shared_ptr<Node> n = NodeOf(key);
    if (!n) return devices::kErrorInvalidHandle;
    if (index >= n->children.size()) return devices::kErrorNoMoreItems;
    return CopyName(std::next(n->children.begin(), index)->second->name, name, name_size);
  }
  long EnumValue(devices::RegKey key, std::uint32_t index, char* name,
                 std::uint32_t* name_size) override {
    std::shared_ptr<Node> n = NodeOf(key);
    if (!n) return devices::kErrorInvalidHandle;
    if (index >= n->values.size()) return devices::kErrorNoMoreItems;
    return CopyName(std::next(n->values.begin(), index)->second.name, name, name_size);
  }
  long SetValue(devices::RegKey key, const std::string& name, std::uint32_t type,
                const std::uint8_t* data, std::uint32_t size) override {
    std::shared_ptr<Node> n = NodeOf(key);
    if (!n) return devices::kErrorInvalidHandle;
    if (fail_set_value) return devices::kErrorAccessDenied;
    n->values[Upper(name)] = Value{name, type, std::vector<std::uint8_t>(data, data + size)};
    return 0;
  }
  long CreateKey(devices::RegKey parent, const std::string& sub_key, const std::string& key_class,
                 std::uint32_t, std::uint32_t, devices::RegKey* result) override {
    std::shared_ptr<Node> base = NodeOf(parent);
    if (!base) return devices::kErrorInvalidHandle;
    if (fail_create) return devices::kErrorAccessDenied;
    for (const std::string& p : Split(sub_key)) {
      if (p.empty()) return 161;  // ERROR_BAD_PATHNAME
    }
    const bool existed = Walk(base, sub_key) != nullptr;
    std::shared_ptr<Node> n = Make(base, sub_key);
    if (!existed) n->key_class = key_class;
    *result = Add(n);
    return 0;
  }
  long DeleteKey(devices::RegKey key, const std::string& sub_key) override {
    std::shared_ptr<Node> n = NodeOf(key);
    if (!n) return devices::kErrorInvalidHandle;
    if (sub_key.empty()) {
      auto parent = ParentOf(n);
      if (!parent || !n->children.empty()) return devices::kErrorAccessDenied;
      parent->children.erase(Upper(n->name));
      return 0;
    }
    auto it = n->children.find(Upper(sub_key));
    if (it == n->children.end()) return devices::kErrorFileNotFound;
    if (!it->second->children.empty()) return devices::kErrorAccessDenied;
    n->children.erase(it);
    return 0;
  }
  long CloseKey(devices::RegKey key) override {
    return handles_.erase(key) ? 0 : devices::kErrorInvalidHandle;
  }

  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

 private:
  std::shared_ptr<Node> NodeOf(devices::RegKey k) const {
    if (auto it = roots_.find(k); it != roots_.end()) return it->second;
    if (auto it = handles_.find(k); it != handles_.end()) return it->second;
    return nullptr;
  }
  static std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
      if (c == '\\') {
        parts.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    parts.push_back(cur);
    // A trailing backslash names the same key, as the registry accepts it.
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    return parts;
  }
  static std::shared_ptr<Node> Walk(std::shared_ptr<Node> n, const std::string& path) {
    if (path.empty()) return n;
    for (const std::string& p : Split(path)) {
      if (p.empty()) return nullptr;  // a leading or doubled backslash
      auto it = n->children.find(Upper(p));
      if (it == n->children.end()) return nullptr;
      n = it->second;
    }
    return n;
  }
  static std::shared_ptr<Node> Make(std::shared_ptr<Node> n, const std::string& path) {
    if (path.empty()) return n;
    for (const std::string& p : Split(path)) {
      auto& child = n->children[Upper(p)];
      if (!child) {
        child = std::make_shared<Node>();
        child->name = p;
      }
      n = child;
    }
    return n;
  }
  std::shared_ptr<Node> ParentOf(const std::shared_ptr<Node>& target) const {
    for (const auto& [k, root] : roots_) {
      if (auto p = Search(root, target)) return p;
    }
    return nullptr;
  }
  static std::shared_ptr<Node> Search(const std::shared_ptr<Node>& n,
                                      const std::shared_ptr<Node>& target) {
    for (const auto& [k, c] : n->children) {
      if (c == target) return n;
      if (auto p = Search(c, target)) return p;
    }
    return nullptr;
  }
  devices::RegKey Add(std::shared_ptr<Node> n) {
    const devices::RegKey h = next_++;
    handles_[h] = std::move(n);
    return h;
  }
  static long CopyName(const std::string& s, char* name, std::uint32_t* name_size) {
    if (s.size() + 1 > *name_size) return devices::kErrorMoreData;
    std::memcpy(name, s.c_str(), s.size() + 1);
    *name_size = static_cast<std::uint32_t>(s.size());
    return 0;
  }

  std::map<devices::RegKey, std::shared_ptr<Node>> roots_;
  std::map<devices::RegKey, std::shared_ptr<Node>> handles_;
  devices::RegKey next_ = 0x1000;
};

}  // namespace fakes
