// A registry value as the registry class hands it around: text, a 32-bit
// integer, a byte array, or nothing at all.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace devices {

class Variant {
 public:
  Variant() = default;
  Variant(std::wstring text) : v_(std::move(text)) {}
  Variant(const wchar_t* text) : v_(std::wstring(text)) {}
  Variant(std::int32_t number) : v_(number) {}
  Variant(std::vector<std::uint8_t> bytes) : v_(std::move(bytes)) {}

  bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsText() const { return std::holds_alternative<std::wstring>(v_); }
  bool IsInteger() const { return std::holds_alternative<std::int32_t>(v_); }
  bool IsBytes() const { return std::holds_alternative<std::vector<std::uint8_t>>(v_); }

  // Each throws std::bad_variant_access when the variant holds another kind.
  const std::wstring& Text() const { return std::get<std::wstring>(v_); }
  std::int32_t Integer() const { return std::get<std::int32_t>(v_); }
  const std::vector<std::uint8_t>& Bytes() const { return std::get<std::vector<std::uint8_t>>(v_); }

  // Text as it is, an integer in decimal, bytes as ANSI text up to the first
  // NUL, nothing as "".
  std::wstring ToText() const;

  bool operator==(const Variant&) const = default;

 private:
  std::variant<std::monostate, std::wstring, std::int32_t, std::vector<std::uint8_t>> v_;
};

}  // namespace devices
