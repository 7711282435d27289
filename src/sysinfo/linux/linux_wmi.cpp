#include "sysinfo/linux/linux_wmi.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "sysinfo/wmi_rows.h"

namespace sysinfo {
namespace {

namespace fs = std::filesystem;

// Files read here are a few bytes; anything larger is not what we expect.
constexpr std::streamsize kMaxFileSize = 64 * 1024;

// A file's text without its trailing line breaks; empty optional when it is
// absent or can't be read.
std::optional<std::string> ReadSmallFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Read as it comes: these files are a few hundred bytes, the limit is
  // only a bound.
  std::string text;
  char chunk[4096];
  while (static_cast<std::streamsize>(text.size()) < kMaxFileSize) {
    in.read(chunk, std::min<std::streamsize>(sizeof chunk, kMaxFileSize - text.size()));
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

WmiValue TextOrNull(const std::optional<std::string>& text) {
  if (!text) return WmiNull{};
  return platform::FromUtf8(*text);
}

class Dmi {
 public:
  explicit Dmi(const fs::path& root) : dir_(root / "sys/class/dmi/id") {}
  bool Present() const {
    std::error_code ec;
    return fs::is_directory(dir_, ec);
  }
  std::optional<std::string> Read(const char* name) const { return ReadSmallFile(dir_ / name); }
  WmiValue Value(const char* name) const { return TextOrNull(Read(name)); }

 private:
  fs::path dir_;
};

std::vector<WmiRow> BiosRows(const Dmi& dmi) {
  if (!dmi.Present()) return {};
  // The strings Windows lists in BIOSVersion come from the same firmware
  // tables: the maker, the version and its date, as far as they are known.
  std::vector<std::wstring> version;
  for (const char* name : {"bios_vendor", "bios_version", "bios_date"}) {
    std::optional<std::string> text = dmi.Read(name);
    if (text && !text->empty()) version.push_back(platform::FromUtf8(*text));
  }
  WmiValue bios_version = version.empty() ? WmiValue(WmiNull{}) : WmiValue(version);
  return {{{L"BIOSVersion", bios_version},
           {L"Manufacturer", dmi.Value("bios_vendor")},
           {L"SMBIOSBIOSVersion", dmi.Value("bios_version")},
           {L"ReleaseDate", dmi.Value("bios_date")}}};
}

std::vector<WmiRow> ProductRows(const Dmi& dmi) {
  if (!dmi.Present()) return {};
  return {{{L"IdentifyingNumber", dmi.Value("product_serial")},
           {L"Name", dmi.Value("product_name")},
           {L"Vendor", dmi.Value("sys_vendor")},
           {L"Version", dmi.Value("product_version")},
           {L"SKUNumber", dmi.Value("product_sku")},
           {L"UUID", dmi.Value("product_uuid")}}};
}

std::vector<WmiRow> ComputerSystemRows(const Dmi& dmi) {
  if (!dmi.Present()) return {};
  return {{{L"Model", dmi.Value("product_name")},
           {L"Manufacturer", dmi.Value("sys_vendor")},
           {L"SystemFamily", dmi.Value("product_family")},
           {L"SystemSKUNumber", dmi.Value("product_sku")}}};
}

std::vector<WmiRow> SystemInformationRows(const Dmi& dmi) {
  if (!dmi.Present()) return {};
  return {{{L"SystemFamily", dmi.Value("product_family")},
           {L"SystemVersion", dmi.Value("product_version")},
           {L"SystemSKU", dmi.Value("product_sku")},
           {L"SystemManufacturer", dmi.Value("sys_vendor")},
           {L"SystemProductName", dmi.Value("product_name")}}};
}

// The highest address a process of this build can use, in bytes.
std::uint64_t UserAddressSpace(bool kernel_64bit) {
#if defined(__x86_64__)
  (void)kernel_64bit;
  return (std::uint64_t{1} << 47) - 4096;
#elif defined(__aarch64__)
  (void)kernel_64bit;
  return std::uint64_t{1} << 48;
#else
  if (sizeof(void*) >= 8) return std::uint64_t{1} << 47;
  // A 32-bit process gets 3 GiB from a 32-bit kernel, nearly 4 GiB from a 64-bit one.
  return kernel_64bit ? (std::uint64_t{1} << 32) - 8192 : std::uint64_t{3} << 30;
#endif
}

// The soft limit of "Max address space" in a proc limits file, in bytes;
// empty optional when unlimited or not stated.
std::optional<std::uint64_t> AddressSpaceLimit(const std::string& limits) {
  std::istringstream lines(limits);
  std::string line;
  const std::string label = "Max address space";
  while (std::getline(lines, line)) {
    if (line.rfind(label, 0) != 0) continue;
    std::istringstream fields(line.substr(label.size()));
    std::string soft;
    fields >> soft;
    if (soft.empty() || soft.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    try {
      return std::stoull(soft);
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::vector<WmiRow> OperatingSystemRows(const fs::path& root) {
  const fs::path kernel = root / "proc/sys/kernel";
  std::optional<std::string> os_release = ReadSmallFile(root / "etc/os-release");
  if (!os_release) os_release = ReadSmallFile(root / "usr/lib/os-release");
  std::error_code ec;
  if (!os_release && !fs::is_directory(kernel, ec)) return {};

  WmiValue caption = WmiNull{};
  if (os_release) {
    // os-release's own default when the key is missing.
    caption = platform::FromUtf8(OsReleaseValue(*os_release, "PRETTY_NAME").value_or("Linux"));
  }
  std::uint64_t space = UserAddressSpace(IsMachine64Bit(KernelMachine(root)));
  if (std::optional<std::string> limits = ReadSmallFile(root / "proc/self/limits")) {
    if (std::optional<std::uint64_t> limit = AddressSpaceLimit(*limits)) {
      space = std::min(space, *limit);
    }
  }
  return {{{L"CSName", TextOrNull(ReadSmallFile(kernel / "hostname"))},
           {L"Caption", caption},
           {L"Version", TextOrNull(ReadSmallFile(kernel / "osrelease"))},
           {L"MaxProcessMemorySize", std::uint64_t{space / 1024}}}};
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The class name of "SELECT * FROM <class>", or empty for any other query.
std::wstring QueriedClass(const std::wstring& query) {
  std::wistringstream words(query);
  std::wstring select, star, from, cls, rest;
  words >> select >> star >> from >> cls >> rest;
  if (Lower(select) != L"select" || star != L"*" || Lower(from) != L"from" || !rest.empty()) {
    return std::wstring();
  }
  return Lower(cls);
}

class LinuxConnection : public WmiConnection {
 public:
  LinuxConnection(fs::path root, bool wmi_namespace)
      : root_(std::move(root)), wmi_namespace_(wmi_namespace) {}

  std::unique_ptr<WmiResultSet> ExecQuery(const std::wstring& query, std::optional<long>) override {
    const std::wstring cls = QueriedClass(query);
    const Dmi dmi(root_);
    if (wmi_namespace_) {
      if (cls == L"ms_systeminformation") {
        return std::make_unique<WmiRowsResultSet>(SystemInformationRows(dmi));
      }
      return nullptr;
    }
    if (cls == L"win32_bios") return std::make_unique<WmiRowsResultSet>(BiosRows(dmi));
    if (cls == L"win32_operatingsystem") {
      return std::make_unique<WmiRowsResultSet>(OperatingSystemRows(root_));
    }
    if (cls == L"win32_computersystemproduct") {
      return std::make_unique<WmiRowsResultSet>(ProductRows(dmi));
    }
    if (cls == L"win32_computersystem") {
      return std::make_unique<WmiRowsResultSet>(ComputerSystemRows(dmi));
    }
    return nullptr;
  }

 private:
  fs::path root_;
  bool wmi_namespace_;
};

}  // namespace

std::unique_ptr<WmiConnection> LinuxWmi::Connect(const std::wstring& moniker) {
  const std::wstring name = Lower(moniker);
  if (name == L"winmgmts:\\\\.\\root\\cimv2")
    return std::make_unique<LinuxConnection>(root_, false);
  if (name == L"winmgmts:\\\\.\\root\\wmi") return std::make_unique<LinuxConnection>(root_, true);
  return nullptr;
}

bool LinuxSystemProbe::CallIsWow64Process(std::int32_t& flag) {
  flag = IsMachine64Bit(KernelMachine(root_)) ? 1 : 0;
  return true;
}

std::string KernelMachine(const std::filesystem::path& root) {
  if (std::optional<std::string> arch = ReadSmallFile(root / "proc/sys/kernel/arch")) {
    if (!arch->empty()) return *arch;
  }
  utsname names{};
  if (uname(&names) != 0) return std::string();
  return names.machine;
}

bool IsMachine64Bit(const std::string& machine) {
  return machine.find("64") != std::string::npos || machine == "s390x" || machine == "alpha";
}

std::optional<std::string> OsReleaseValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  const std::string prefix = key + "=";
  std::optional<std::string> found;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(prefix, 0) != 0) continue;
    std::string raw = line.substr(prefix.size());
    std::string value;
    if (!raw.empty() && (raw.front() == '"' || raw.front() == '\'')) {
      const char quote = raw.front();
      for (size_t i = 1; i < raw.size() && raw[i] != quote; ++i) {
        // Shell escapes inside double quotes: \" \\ \$ \`
        if (quote == '"' && raw[i] == '\\' && i + 1 < raw.size() &&
            std::string("\"\\$`").find(raw[i + 1]) != std::string::npos) {
          ++i;
        }
        value += raw[i];
      }
    } else {
      value = raw;
    }
    found = value;  // the last assignment wins, as in a shell
  }
  return found;
}

}  // namespace sysinfo
