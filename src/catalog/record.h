// The index's stored records: length-prefixed texts and LEB128 numbers,
// written by one side and read back, bounds-checked, by the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalog/catalog.h"

namespace catalog::record {

inline void PutNumber(std::string& out, std::uint64_t v) {
  for (; v >= 0x80; v >>= 7) out += static_cast<char>((v & 0x7F) | 0x80);
  out += static_cast<char>(v);
}
inline void PutText(std::string& out, std::string_view text) {
  PutNumber(out, text.size());
  out.append(text);
}

// Reads what PutNumber and PutText wrote; a record cut short means a damaged
// index.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool AtEnd() const { return at_ == data_.size(); }
  size_t Position() const { return at_; }
  std::uint64_t Number() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 64 && at_ < data_.size(); shift += 7) {
      const auto b = static_cast<unsigned char>(data_[at_++]);
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    Damaged();
  }
  std::string_view Text() {
    const std::uint64_t n = Number();
    if (n > data_.size() - at_) Damaged();
    const std::string_view text = data_.substr(at_, n);
    at_ += n;
    return text;
  }
  // A count of items to follow, checked against what is left: every item
  // takes a byte at least.
  size_t Count() { return CountAtMost(Number()); }
  size_t CountAtMost(std::uint64_t n) const {
    if (n > data_.size() - at_) Damaged();
    return static_cast<size_t>(n);
  }
  [[noreturn]] static void Damaged() {
    throw CatalogError("catalog index is damaged; index the catalog again");
  }

 private:
  std::string_view data_;
  size_t at_ = 0;
};

}  // namespace catalog::record
