// An array whose first element is number 1, and which may hold no elements
// at all (as opposed to one empty element): the shape the registry
// enumerations hand back.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace devices {

template <class T>
class OneBasedArray {
 public:
  bool IsEmpty() const { return items_.empty(); }
  std::int32_t LBound() const { return 1; }
  // 0 when the array holds no elements.
  std::int32_t UBound() const { return static_cast<std::int32_t>(items_.size()); }

  T& operator[](std::int32_t i) { return items_.at(Index(i)); }
  const T& operator[](std::int32_t i) const { return items_.at(Index(i)); }

  // Elements 1 to `upper`, all fresh (none when upper < 1).
  void ReDim(std::int32_t upper) {
    items_.clear();
    ReDimPreserve(upper);
  }
  // Elements 1 to `upper`, keeping those that stay.
  void ReDimPreserve(std::int32_t upper) { items_.resize(upper > 0 ? upper : 0); }
  void Erase() { items_.clear(); }

  const std::vector<T>& Items() const { return items_; }

 private:
  static std::size_t Index(std::int32_t i) {
    if (i < 1) throw std::out_of_range("array index below 1");
    return static_cast<std::size_t>(i - 1);
  }
  std::vector<T> items_;
};

}  // namespace devices
