// The GUID port on Windows: CoCreateGuid.
#pragma once

#include "ident/guid_source.h"

namespace ident {

class WinGuidSource : public GuidSource {
 public:
  std::int32_t NewGuid(Guid& guid) override;
};

}  // namespace ident
