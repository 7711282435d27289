#include "ident/win/win_guid_source.h"

#include <objbase.h>

namespace ident {

std::int32_t WinGuidSource::NewGuid(Guid& guid) {
  GUID g{};
  const HRESULT hr = ::CoCreateGuid(&g);
  if (hr != S_OK) return hr;
  guid.Data1 = g.Data1;
  guid.Data2 = g.Data2;
  guid.Data3 = g.Data3;
  for (std::size_t i = 0; i < guid.Data4.size(); ++i) guid.Data4[i] = g.Data4[i];
  return 0;
}

}  // namespace ident
