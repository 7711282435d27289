// os-release files of any content.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "sysinfo/linux/linux_computer_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* key : {"PRETTY_NAME", "NAME", "VERSION_ID", ""}) {
    const auto value = sysinfo::OsReleaseValue(text, key);
    if (value) fuzz::Require(value->size() <= text.size());
  }
  return 0;
}
