// The service's form decoding and post checks over arbitrary bodies: a
// PostError is the only way to refuse.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "service/form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    service::FormFields fields = service::DecodeUrlEncoded(body);
    match::Report report;
    service::ReportPost post = service::ValidatePost(fields, &report);
    if (!service::IsScanId(post.scan_id) || report.devices.empty()) __builtin_trap();
  } catch (const service::PostError&) {
  }
  return 0;
}
