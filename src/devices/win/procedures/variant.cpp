#include "devices/win/procedures/variant.h"

#include <algorithm>
#include <string_view>

#include "platform/codepage.h"

namespace devices {

std::wstring Variant::ToText() const {
  if (IsText()) return Text();
  if (IsInteger()) return std::to_wstring(Integer());
  if (IsBytes()) {
    const auto& b = Bytes();
    const auto end = std::find(b.begin(), b.end(), std::uint8_t{0});
    return platform::FromAnsi(
        std::string_view(reinterpret_cast<const char*>(b.data()), end - b.begin()));
  }
  return L"";
}

}  // namespace devices
