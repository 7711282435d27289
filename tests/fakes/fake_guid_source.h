// A GUID port that hands out scripted GUIDs or fails.
#pragma once

#include "ident/guid_source.h"

namespace fakes {

class FakeGuidSource : public ident::GuidSource {
 public:
  ident::Guid next;
  std::int32_t result = 0;
  int calls = 0;

  std::int32_t NewGuid(ident::Guid& guid) override {
    ++calls;
    // A failing call may still have scribbled on its argument.
    guid = next;
    return result;
  }
};

}  // namespace fakes
