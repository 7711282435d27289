// The GUID port on Linux: a random (version 4) GUID from the kernel.
#pragma once

#include "ident/guid_source.h"

namespace ident {

class LinuxGuidSource : public GuidSource {
 public:
  std::int32_t NewGuid(Guid& guid) override;
};

}  // namespace ident
