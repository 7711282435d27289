// What the installed kernel modules tell about the driver bound to a device:
// the values Windows keeps in a driver's class key, from libkmod and sysfs.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct kmod_ctx;

namespace devices::linux_sys {

struct DriverFacts {
  std::string version;      // the module's version, else the kernel release
  std::string date;         // M-D-YYYY: kernel build for in-tree code, else the module file
  std::string provider;     // "Linux" for in-tree code, else the module's author
  std::string inf_path;     // the module's file name, never empty
  std::string matching_id;  // lower-case Windows-style id of the alias that matched, or ""
};

inline constexpr char kKernelProvider[] = "Linux";

class ModuleCatalog {
 public:
  explicit ModuleCatalog(std::filesystem::path root);
  ~ModuleCatalog();
  ModuleCatalog(const ModuleCatalog&) = delete;
  ModuleCatalog& operator=(const ModuleCatalog&) = delete;

  // `driver`: the bound driver's name; `module`: the module sysfs names for
  // it ("" when none); `modalias`: the device's; `usb_interface` for an
  // interface of a composite USB device.
  DriverFacts Describe(const std::string& driver, const std::string& module,
                       const std::string& modalias, bool usb_interface);

  const std::string& release() const { return release_; }
  // The running kernel's build date, M-D-YYYY; "" when its banners hold none.
  const std::string& kernel_date() const { return kernel_date_; }

 private:
  // What every device driven by one module shares.
  struct Module {
    DriverFacts facts;  // without matching_id
    std::vector<std::string> aliases;
  };
  Module ReadModule(const std::string& name) const;
  std::string ModuleForAlias(const std::string& driver, const std::string& modalias);

  std::filesystem::path root_;
  std::string release_;
  std::string kernel_date_;
  std::map<std::string, std::string> builtin_files_;  // module name -> "name.ko"
  // One libkmod context, its indexes loaded once, for the whole scan.
  kmod_ctx* ctx_ = nullptr;
  std::map<std::string, Module> modules_;        // by module name
  std::map<std::string, std::string> by_alias_;  // driver '\n' modalias -> module
};

// "M-D-YYYY" from a kernel version banner ("... (2023-09-29)" or
// "... Thu Oct  5 21:02:42 UTC 2023"); "" when it holds no date.
std::string KernelBuildDate(const std::string& banner);

// An author field without mail addresses and surrounding punctuation.
std::string CleanAuthor(const std::string& author);

}  // namespace devices::linux_sys
