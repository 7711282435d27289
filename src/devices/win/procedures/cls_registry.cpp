#include "devices/win/procedures/cls_registry.h"

#include <array>
#include <cstring>
#include <utility>

#include "devices/win/procedures/text.h"
#include "platform/codepage.h"

namespace devices {
namespace {

// Enumeration name buffers: 254 characters and the NUL.
constexpr std::uint32_t kNameBuffer = 255;
// Enumeration result arrays grow by this many elements.
constexpr std::int32_t kArrayStep = 200;

// Run-time error numbers ReadValue reports.
constexpr std::int32_t kErrInvalidCall = 5;
constexpr std::int32_t kErrSubscript = 9;
constexpr std::int32_t kErrTypeMismatch = 13;

// Closes a key when the method leaves, however it leaves.
class OpenKey {
 public:
  OpenKey(Registry& reg, RegKey key) : reg_(reg), key_(key) {}
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() { Close(); }
  void Close() {
    if (key_ != 0) reg_.CloseKey(std::exchange(key_, 0));
  }

 private:
  Registry& reg_;
  RegKey key_;
};

std::string Text(const std::array<char, kNameBuffer>& buffer) {
  return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

}  // namespace

RegKey RegistryClass::GetKeyHandle(const std::wstring& name) {
  static const std::pair<const wchar_t*, RegKey> kKeys[] = {
      {L"HKEY_CURRENT_USER", kHkeyCurrentUser},     {L"HKEY_LOCAL_MACHINE", kHkeyLocalMachine},
      {L"HKEY_CLASSES_ROOT", kHkeyClassesRoot},     {L"HKEY_USERS", kHkeyUsers},
      {L"HKEY_CURRENT_CONFIG", kHkeyCurrentConfig}, {L"HKEY_DYN_DATA", kHkeyDynData},
  };
  const std::wstring upper = UpperCase(name);
  for (const auto& [key_name, handle] : kKeys) {
    if (upper == key_name) return handle;
  }
  return 0;
}

template <class EnumCall>
std::int32_t RegistryClass::EnumNames(OneBasedArray<std::wstring>& out,
                                      const std::wstring& key_path, const std::wstring& root_name,
                                      EnumCall call) {
  RegKey key = 0;
  if (reg_.OpenKey(GetKeyHandle(root_name), platform::ToAnsi(key_path), kKeyRead, &key) != 0) {
    out.Erase();
    return 0;
  }
  OpenKey guard(reg_, key);
  std::int32_t allocated = kArrayStep;
  out.ReDim(allocated);
  std::array<char, kNameBuffer> buffer{};
  std::int32_t count = 0;
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t size = kNameBuffer;
    if (call(key, index, buffer.data(), &size) != 0) break;
    ++count;
    out[count] = platform::FromAnsi(Text(buffer));
    if (count == allocated) {
      allocated += kArrayStep;
      out.ReDimPreserve(allocated);
    }
  }
  guard.Close();
  if (count > 0) {
    out.ReDimPreserve(count);
  } else {
    out.Erase();
  }
  return count;
}

std::int32_t RegistryClass::EnumKey(OneBasedArray<std::wstring>& sub_keys,
                                    const std::wstring& key_path, const std::wstring& root_name) {
  return EnumNames(sub_keys, key_path, root_name,
                   [this](RegKey k, std::uint32_t i, char* b, std::uint32_t* s) {
                     return reg_.EnumKey(k, i, b, s);
                   });
}

std::int32_t RegistryClass::EnumValue(OneBasedArray<std::wstring>& value_names,
                                      const std::wstring& key_path, const std::wstring& root_name) {
  return EnumNames(value_names, key_path, root_name,
                   [this](RegKey k, std::uint32_t i, char* b, std::uint32_t* s) {
                     return reg_.EnumValue(k, i, b, s);
                   });
}

std::int32_t RegistryClass::DeleteKey(const std::wstring& key_path, const std::wstring& sub_key,
                                      const std::wstring& root_name) {
  const RegKey root = GetKeyHandle(root_name);
  const std::string path = platform::ToAnsi(key_path);
  RegKey key = 0;
  if (reg_.OpenKey(root, path, kKeyAllAccess, &key) != 0) return 0;
  OpenKey guard(reg_, key);

  if (!sub_key.empty()) {
    const long rc = reg_.DeleteKey(key, platform::ToAnsi(sub_key));
    return rc == 0 ? 2 : 1;
  }

  std::int32_t deleted = 0;
  // A subkey that can't be opened or deleted (it has subkeys of its own, or
  // no access) is stepped over; asking for index 0 again would find it
  // again, for ever.
  std::uint32_t index = 0;
  for (;;) {
    std::array<char, kNameBuffer> buffer{};
    std::uint32_t size = kNameBuffer;
    if (reg_.EnumKey(key, index, buffer.data(), &size) != 0) break;
    RegKey child = 0;
    bool gone = false;
    if (reg_.OpenKey(root, path + "\\" + Text(buffer), kKeyAllAccess, &child) == 0) {
      gone = reg_.DeleteKey(child, "") == 0;
      reg_.CloseKey(child);
    }
    if (gone) {
      ++deleted;
    } else {
      ++index;
    }
  }
  if (reg_.DeleteKey(key, "") == 0) ++deleted;
  return deleted;
}

Variant RegistryClass::LoadValue(const std::wstring& key_path, const std::wstring& value_name,
                                 const Variant& fallback_value, const std::wstring& root_name) {
  RegKey key = 0;
  if (reg_.OpenKey(GetKeyHandle(root_name), platform::ToAnsi(key_path), kKeyRead, &key) != 0) {
    return fallback_value;
  }
  OpenKey guard(reg_, key);
  Variant result;
  ReadValue(key, value_name, result, fallback_value);
  return result;
}

std::int32_t RegistryClass::ReadValue(RegKey key, const std::wstring& name, Variant& out,
                                      const Variant& fallback) {
  out = fallback;
  const std::string ansi_name = platform::ToAnsi(name);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (reg_.QueryValue(key, ansi_name, &type, nullptr, &size) != 0) return 0;

  switch (type) {
    case kRegSz:
    case kRegExpandSz: {                      // expandable text comes back unexpanded
      if (size == 0) return kErrInvalidCall;  // no terminating NUL to drop
      std::string buffer(size, '\0');
      std::uint32_t got = size;
      if (reg_.QueryValue(key, ansi_name, &type, reinterpret_cast<std::uint8_t*>(buffer.data()),
                          &got) != 0) {
        return 0;
      }
      // The ANSI call may size a string by its wide form first; the second
      // answer is the length of what it wrote.
      if (got < size) buffer.resize(got);
      // A value may be stored without its NUL, or with more than one.
      out = platform::FromAnsi(TextBeforeNul(buffer));
      return 0;
    }
    case kRegBinary: {
      if (size == 0) return kErrSubscript;
      std::vector<std::uint8_t> bytes(size);
      std::uint32_t got = size;
      if (reg_.QueryValue(key, ansi_name, &type, bytes.data(), &got) != 0) return 0;
      out = std::move(bytes);
      return 0;
    }
    case kRegDword: {
      std::uint32_t value = 0;
      std::uint32_t got = sizeof value;
      if (reg_.QueryValue(key, ansi_name, &type, reinterpret_cast<std::uint8_t*>(&value), &got) !=
          0) {
        return 0;
      }
      out = static_cast<std::int32_t>(value);
      return 0;
    }
    default:
      return kErrTypeMismatch;
  }
}

bool RegistryClass::SaveValue(const std::wstring& key_path, const std::wstring& value_name,
                              const Variant& store_value, const std::wstring& root_name,
                              bool as_dword) {
  // The data first: a value that can't be stored must not leave a new key behind.
  std::uint32_t type = 0;
  std::string key_class;
  std::vector<std::uint8_t> data;
  if (store_value.IsText()) {
    type = kRegSz;
    key_class = "REG_SZ";
    const std::string ansi = platform::ToAnsi(store_value.Text());
    data.assign(ansi.begin(), ansi.end());
    data.push_back(0);
  } else if (as_dword) {
    type = kRegDword;
    key_class = "REG_DWORD";
    if (store_value.IsBytes()) {
      throw RegistryValueError("Cannot store a byte array as a 32-bit registry number");
    }
    const std::uint32_t number =
        store_value.IsInteger() ? static_cast<std::uint32_t>(store_value.Integer()) : 0;
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
  } else {
    // Bytes as they are; a number as its four little-endian bytes; nothing as
    // an empty binary value.
    type = kRegBinary;
    key_class = "REG_BINARY";
    if (store_value.IsBytes()) {
      data = store_value.Bytes();
    } else if (store_value.IsInteger()) {
      const auto number = static_cast<std::uint32_t>(store_value.Integer());
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(number >> (8 * i)));
    }
  }

  std::wstring path = key_path;
  if (!path.empty() && path.front() == L'\\') path.erase(0, 1);
  const RegKey root = GetKeyHandle(root_name);
  const std::string ansi_path = platform::ToAnsi(path);
  RegKey key = 0;
  if (reg_.OpenKey(root, ansi_path, kKeyWrite, &key) != 0) {
    key = 0;
    if (reg_.CreateKey(root, ansi_path, key_class, 0, kKeyAllAccess, &key) != 0) return false;
  }
  OpenKey guard(reg_, key);
  const long rc = reg_.SetValue(key, platform::ToAnsi(value_name), type, data.data(),
                                static_cast<std::uint32_t>(data.size()));
  return rc == 0;
}

bool RegistryClass::CreateKey(const std::wstring& key_path, const std::wstring& value_name,
                              const Variant& value, const std::wstring& root_name, bool as_dword) {
  if (!SaveValue(key_path, value_name, value, root_name, as_dword)) return false;
  RegKey key = 0;
  const long rc = reg_.CreateKey(GetKeyHandle(root_name), platform::ToAnsi(key_path),
                                 as_dword ? "REG_DWORD" : "REG_SZ", 0, kKeyAllAccess, &key);
  if (rc != 0) return false;
  reg_.CloseKey(key);
  return true;
}

}  // namespace devices
