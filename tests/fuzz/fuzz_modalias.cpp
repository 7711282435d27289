// Module alias patterns as modules.alias and sysfs modalias files hold them,
// turned into Windows-style ids.
#include <cstdint>
#include <string>

#include "devices/linux/hardware_ids.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string alias(reinterpret_cast<const char*>(data), size);
  for (bool usb_interface : {false, true}) {
    const std::string id = devices::linux_ids::AliasToWindowsId(alias, usb_interface);
    // A Windows id is printable text without separators of the driver list.
    for (char c : id) fuzz::Require(c > ' ' && c < 127 && c != ',');
  }
  std::vector<std::string> ids;
  for (std::size_t at = 0; at < alias.size();) {
    const std::size_t end = std::min(alias.find(':', at), alias.size());
    ids.push_back(alias.substr(at, end - at));
    at = end + 1;
  }
  devices::linux_ids::AcpiIds(ids);
  return 0;
}
