// CollectDriverList over an in-memory set of N devices, each with a driver
// whose five class-key values are found in the first control set.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "devices/device_ui.h"
#include "devices/win/procedures/device_api.h"
#include "devices/win/procedures/driver_collection.h"
#include "devices/win/procedures/registry.h"

namespace {

class Devices : public devices::DeviceApi {
 public:
  explicit Devices(std::uint32_t n) : n_(n) {}
  devices::DeviceSet GetClassDevs(std::uint32_t) override { return 1; }
  bool EnumDeviceInfo(devices::DeviceSet, std::uint32_t index,
                      devices::DeviceInfoData* data) override {
    if (index >= n_) return Fail(259);
    data->DevInst = index + 1;
    return true;
  }
  bool GetDeviceRegistryProperty(devices::DeviceSet, const devices::DeviceInfoData& d,
                                 std::uint32_t property, std::uint32_t* type, std::uint8_t* buffer,
                                 std::uint32_t size, std::uint32_t* required) override {
    std::string value;
    switch (property) {
      case devices::kSpdrpDeviceDesc:
        value = "Standard SATA AHCI Controller" + std::string(1, '\0');
        break;
      case devices::kSpdrpHardwareId:
        value = "PCI\\VEN_8086&DEV_A352&SUBSYS_085A1028&REV_10" + std::string(1, '\0') +
                "PCI\\VEN_8086&DEV_A352&SUBSYS_085A1028" + std::string(2, '\0');
        break;
      case devices::kSpdrpCompatibleIds:
        value = "PCI\\VEN_8086&CC_010601" + std::string(1, '\0') + "PCI\\CC_0106" +
                std::string(2, '\0');
        break;
      case devices::kSpdrpClass:
        value = "HDC" + std::string(1, '\0');
        break;
      case devices::kSpdrpDriver:
        value = "{4D36E96A-E325-11CE-BFC1-08002BE10318}\\" + std::to_string(d.DevInst % 10000) +
                std::string(1, '\0');
        break;
      default:
        *type = 0;
        return Fail(devices::kErrorInvalidData);
    }
    *type = property == devices::kSpdrpHardwareId || property == devices::kSpdrpCompatibleIds
                ? devices::kRegMultiSz
                : devices::kRegSz;
    *required = static_cast<std::uint32_t>(value.size());
    if (buffer == nullptr || size < value.size()) return Fail(devices::kErrorInsufficientBuffer);
    std::memcpy(buffer, value.data(), value.size());
    return true;
  }
  std::uint32_t LastError() override { return error_; }
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem, std::uint32_t,
                                 std::uint32_t) override {
    *status = devices::kDnStarted;
    *problem = 0;
    return 0;
  }
  bool DestroyDeviceInfoList(devices::DeviceSet) override { return true; }

 private:
  bool Fail(std::uint32_t e) {
    error_ = e;
    return false;
  }
  std::uint32_t n_;
  std::uint32_t error_ = 0;
};

class ClassKeys : public devices::Registry {
 public:
  long OpenKey(devices::RegKey, const std::string&, std::uint32_t, devices::RegKey* r) override {
    *r = 7;
    return 0;
  }
  long QueryValue(devices::RegKey, const std::string& name, std::uint32_t* type, std::uint8_t* data,
                  std::uint32_t* size) override {
    const std::string v = (name == "InfPath" ? "mshdc.inf" : "10.0.19041.1") + std::string(1, '\0');
    *type = devices::kRegSz;
    if (data != nullptr) std::memcpy(data, v.data(), std::min<size_t>(*size, v.size()));
    *size = static_cast<std::uint32_t>(v.size());
    return 0;
  }
  long EnumKey(devices::RegKey, std::uint32_t, char*, std::uint32_t*) override { return 259; }
  long EnumValue(devices::RegKey, std::uint32_t, char*, std::uint32_t*) override { return 259; }
  long SetValue(devices::RegKey, const std::string&, std::uint32_t, const std::uint8_t*,
                std::uint32_t) override {
    return 5;
  }
  long CreateKey(devices::RegKey, const std::string&, const std::string&, std::uint32_t,
                 std::uint32_t, devices::RegKey*) override {
    return 5;
  }
  long DeleteKey(devices::RegKey, const std::string&) override { return 5; }
  long CloseKey(devices::RegKey) override { return 0; }
};

class NoUi : public devices::DeviceUi {
 public:
  void ShowMessage(const std::wstring&) override {}
  void PumpPending() override {}
};

void BM_CollectDriverList(benchmark::State& state) {
  Devices api(static_cast<std::uint32_t>(state.range(0)));
  ClassKeys keys;
  NoUi ui;
  size_t bytes = 0;
  for (auto _ : state) {
    const std::wstring list = devices::CollectDriverList(api, keys, ui);
    bytes = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.SetComplexityN(state.range(0));
  state.counters["list_chars"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CollectDriverList)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
