#include "sysinfo/linux/linux_computer_facts.h"

#include <sys/utsname.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "platform/linux/small_file.h"
#include "platform/linux/sysroot.h"
#include "platform/text.h"

namespace sysinfo {
namespace {

namespace fs = std::filesystem;

// A file's text without its trailing line breaks; empty optional when it is
// absent, not a regular file, unreadable or far larger than any value.
std::optional<std::string> ReadSmallFile(const fs::path& path) {
  std::optional<std::string> text = platform::ReadSmallFile(path.string());
  if (!text) return std::nullopt;
  while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
  return text;
}

// A value of the computer information block is one line: a control
// character in a file (a line break would start a line of the block) becomes
// a space.
std::wstring OneLine(const std::string& utf8) {
  std::wstring text = platform::FromUtf8(utf8);
  for (wchar_t& c : text) {
    if (c < 0x20 || c == 0x7F) c = L' ';
  }
  return text;
}

class Dmi {
 public:
  explicit Dmi(const fs::path& root) : dir_(root / "sys/class/dmi/id") {}
  bool Present() const {
    std::error_code ec;
    return fs::is_directory(dir_, ec);
  }
  std::optional<std::string> Read(const char* name) const { return ReadSmallFile(dir_ / name); }
  // A value that can't be read is empty.
  std::wstring Value(const char* name) const { return OneLine(Read(name).value_or("")); }

 private:
  fs::path dir_;
};

// The strings Windows lists as the BIOS version come from the same firmware
// tables: the maker, the version and its date, as far as they are known.
std::wstring BiosVersion(const Dmi& dmi) {
  std::wstring joined;
  for (const char* name : {"bios_vendor", "bios_version", "bios_date"}) {
    std::optional<std::string> text = dmi.Read(name);
    if (!text || text->empty()) continue;
    if (!joined.empty()) joined += L',';
    joined += OneLine(*text);
  }
  return joined;
}

// Family, version and SKU of the system, as the firmware's system
// information gives them; else the product's version and SKU.
std::wstring ModelSku(const Dmi& dmi) {
  const std::wstring family = dmi.Value("product_family");
  const std::wstring version = dmi.Value("product_version");
  const std::wstring sku = dmi.Value("product_sku");
  std::wstring text = family;
  if (!version.empty()) {
    if (text.empty()) {
      text = version;
    } else if (text != version) {
      text += L"/" + version;
    }
  }
  if (!sku.empty()) text += L"- SKU:" + sku;
  if (!text.empty()) return text;
  text = version;
  if (!sku.empty()) text += L"-SKU: " + sku;
  return std::wstring(platform::TrimSpaces(text));
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

std::optional<OsFacts> OperatingSystem(const fs::path& root, bool machine_64bit) {
  const fs::path kernel = root / "proc/sys/kernel";
  std::optional<std::string> os_release = ReadSmallFile(root / "etc/os-release");
  if (!os_release) os_release = ReadSmallFile(root / "usr/lib/os-release");
  std::error_code ec;
  if (!os_release && !fs::is_directory(kernel, ec)) return std::nullopt;

  OsFacts os;
  // os-release's own default when the key is missing.
  os.caption =
      os_release ? OneLine(OsReleaseValue(*os_release, "PRETTY_NAME").value_or("Linux")) : L"";
  std::uint64_t space = UserAddressSpace(machine_64bit);
  if (std::optional<std::string> limits = ReadSmallFile(root / "proc/self/limits")) {
    if (std::optional<std::uint64_t> limit = AddressSpaceLimit(*limits)) {
      space = std::min(space, *limit);
    }
  }
  os.computer_name = OneLine(ReadSmallFile(kernel / "hostname").value_or(""));
  os.version = OneLine(ReadSmallFile(kernel / "osrelease").value_or(""));
  os.max_process_memory = std::to_wstring(space / 1024);
  return os;
}

}  // namespace

ComputerFacts ReadLinuxComputerFacts(const fs::path& root) {
  ComputerFacts facts;
  facts.bios_versions.emplace();
  facts.operating_systems.emplace();
  facts.products.emplace();
  facts.systems.emplace();
  const Dmi dmi(root);
  const bool has_dmi = dmi.Present();
  if (has_dmi) facts.bios_versions->push_back(BiosVersion(dmi));
  const bool machine_64bit = IsMachine64Bit(KernelMachine(root));
  if (std::optional<OsFacts> os = OperatingSystem(root, machine_64bit)) {
    facts.operating_systems->push_back(*os);
    facts.is_64bit_os = machine_64bit;
  }
  if (has_dmi) {
    facts.products->push_back({dmi.Value("product_serial"), dmi.Value("product_version")});
    facts.model_sku = ModelSku(dmi);
    facts.systems->push_back({dmi.Value("product_name"), dmi.Value("sys_vendor")});
  }
  return facts;
}

std::unique_ptr<ComputerFactsSource> MakeComputerFactsSource(InfoUi&) {
  return std::make_unique<LinuxComputerFacts>(platform::SysRoot());
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
