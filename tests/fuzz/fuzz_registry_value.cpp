// Registry values as a registry may deliver them: any type, a size announced
// by the first query that differs from what the second delivers and reports,
// data without its NULs, failures between the two queries.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "devices/win/procedures/cls_registry.h"
#include "devices/win/procedures/driver_class.h"
#include "fuzz_input.h"

namespace {

class ScriptedRegistry : public devices::Registry {
 public:
  std::uint32_t type = 0;
  std::uint32_t announced = 0;  // the size the first query reports
  std::uint32_t reported = 0;   // the size the second query reports
  long second_result = 0;
  std::string bytes;  // what the second query writes (as far as it fits)

  long OpenKey(devices::RegKey, const std::string&, std::uint32_t, devices::RegKey* r) override {
    *r = 0x1000;
    return 0;
  }
  long QueryValue(devices::RegKey, const std::string&, std::uint32_t* t, std::uint8_t* data,
                  std::uint32_t* size) override {
    if (t) *t = type;
    if (data == nullptr) {
      *size = announced;
      return 0;
    }
    // A registry never writes past the buffer it is given; everything else
    // about its answer is open.
    std::memcpy(data, bytes.data(), std::min<std::size_t>(*size, bytes.size()));
    *size = reported;
    return second_result;
  }
  long EnumKey(devices::RegKey, std::uint32_t, char*, std::uint32_t*) override {
    return devices::kErrorNoMoreItems;
  }
  long EnumValue(devices::RegKey, std::uint32_t, char*, std::uint32_t*) override {
    return devices::kErrorNoMoreItems;
  }
  long SetValue(devices::RegKey, const std::string&, std::uint32_t, const std::uint8_t*,
                std::uint32_t) override {
    return devices::kErrorAccessDenied;
  }
  long CreateKey(devices::RegKey, const std::string&, const std::string&, std::uint32_t,
                 std::uint32_t, devices::RegKey*) override {
    return devices::kErrorAccessDenied;
  }
  long DeleteKey(devices::RegKey, const std::string&) override {
    return devices::kErrorAccessDenied;
  }
  long CloseKey(devices::RegKey) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  ScriptedRegistry reg;
  reg.type = data[0] & 0x0F;
  reg.announced = static_cast<std::uint32_t>(data[1] | data[2] << 8);
  reg.reported = static_cast<std::uint32_t>(data[3] | data[4] << 8);
  reg.second_result = (data[5] & 1) ? devices::kErrorMoreData : 0;
  reg.bytes.assign(reinterpret_cast<const char*>(data) + 6, size - 6);

  const devices::Variant v = devices::RegistryClass(reg).LoadValue(L"K", L"v");
  if (v.IsText() && (reg.type == devices::kRegSz || reg.type == devices::kRegExpandSz)) {
    fuzz::Require(v.Text().size() <= reg.announced);
  }
  if (v.IsBytes()) fuzz::Require(v.Bytes().size() <= reg.announced);
  v.ToText();
  devices::GetDriverClassValue(reg, L"{x}\\0000", L"DriverVersion");
  return 0;
}
