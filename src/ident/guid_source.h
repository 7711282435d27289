// The GUID port: a fresh random GUID from the platform.
#pragma once

#include <array>
#include <cstdint>

namespace ident {

struct Guid {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};
};

class GuidSource {
 public:
  virtual ~GuidSource() = default;
  // Fills `guid` with a new GUID; 0 on success, an HRESULT-style failure
  // code otherwise.
  virtual std::int32_t NewGuid(Guid& guid) = 0;
};

}  // namespace ident
