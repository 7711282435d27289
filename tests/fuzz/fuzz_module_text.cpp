// Text from the kernel and its modules: version banners and author fields.
#include <cstdint>
#include <string>

#include "devices/linux/module_catalog.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string date = devices::linux_sys::KernelBuildDate(text);
  // "M-D-YYYY" or nothing.
  fuzz::Require(date.empty() || (date.size() >= 8 && date.size() <= 10));
  devices::linux_sys::CleanAuthor(text);
  return 0;
}
