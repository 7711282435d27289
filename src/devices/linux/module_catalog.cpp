#include "devices/linux/module_catalog.h"

#include <dlfcn.h>
#include <fnmatch.h>
#include <libkmod.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <type_traits>
#include <vector>

#include "devices/linux/hardware_ids.h"
#include "devices/linux/sysroot.h"
#include "platform/linux/small_file.h"

namespace devices::linux_sys {
namespace fs = std::filesystem;
namespace {

std::string Normalize(std::string name) {
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

std::string Date(int month, int day, int year) {
  return std::to_string(month) + "-" + std::to_string(day) + "-" + std::to_string(year);
}

void Quiet(void*, int, const char*, int, const char*, const char*, va_list) {}

// libkmod, opened the first time a scan has a module folder to ask: a
// system without one never loads it, nor the compression and crypto
// libraries it brings (a millisecond of every start).
struct Kmod {
  decltype(&kmod_new) new_ctx;
  decltype(&kmod_unref) unref;
  decltype(&kmod_set_log_fn) set_log_fn;
  decltype(&kmod_load_resources) load_resources;
  decltype(&kmod_list_next) list_next;
  decltype(&kmod_module_new_from_name) module_new_from_name;
  decltype(&kmod_module_new_from_lookup) module_new_from_lookup;
  decltype(&kmod_module_get_module) module_get_module;
  decltype(&kmod_module_get_name) module_get_name;
  decltype(&kmod_module_get_path) module_get_path;
  decltype(&kmod_module_get_info) module_get_info;
  decltype(&kmod_module_info_get_key) module_info_get_key;
  decltype(&kmod_module_info_get_value) module_info_get_value;
  decltype(&kmod_module_info_free_list) module_info_free_list;
  decltype(&kmod_module_unref) module_unref;
  decltype(&kmod_module_unref_list) module_unref_list;
};

// The library's entry points; nullptr when it is not installed.
const Kmod* OpenKmod() {
  static const Kmod* const kmod = []() -> const Kmod* {
    void* lib = dlopen("libkmod.so.2", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return nullptr;
    static Kmod k{};
    bool all = true;
    const auto bind = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      all = all && fn != nullptr;
    };
    bind(k.new_ctx, "kmod_new");
    bind(k.unref, "kmod_unref");
    bind(k.set_log_fn, "kmod_set_log_fn");
    bind(k.load_resources, "kmod_load_resources");
    bind(k.list_next, "kmod_list_next");
    bind(k.module_new_from_name, "kmod_module_new_from_name");
    bind(k.module_new_from_lookup, "kmod_module_new_from_lookup");
    bind(k.module_get_module, "kmod_module_get_module");
    bind(k.module_get_name, "kmod_module_get_name");
    bind(k.module_get_path, "kmod_module_get_path");
    bind(k.module_get_info, "kmod_module_get_info");
    bind(k.module_info_get_key, "kmod_module_info_get_key");
    bind(k.module_info_get_value, "kmod_module_info_get_value");
    bind(k.module_info_free_list, "kmod_module_info_free_list");
    bind(k.module_unref, "kmod_module_unref");
    bind(k.module_unref_list, "kmod_module_unref_list");
    return all ? &k : nullptr;
  }();
  return kmod;
}

using Info = std::map<std::string, std::vector<std::string>>;

// The module's modinfo fields, its file (empty for built-in code) and
// whether libkmod knows it at all.
struct ModuleInfo {
  Info info;
  std::string path;
  bool known = false;
};

ModuleInfo Lookup(kmod_ctx* ctx, const std::string& name) {
  ModuleInfo out;
  kmod_module* mod = nullptr;
  if (ctx == nullptr) return out;
  const Kmod& k = *OpenKmod();
  if (k.module_new_from_name(ctx, name.c_str(), &mod) < 0) return out;
  if (const char* p = k.module_get_path(mod)) out.path = p;
  kmod_list* list = nullptr;
  if (k.module_get_info(mod, &list) >= 0) {
    out.known = true;
    for (kmod_list* l = list; l != nullptr; l = k.list_next(list, l)) {
      out.info[k.module_info_get_key(l)].push_back(k.module_info_get_value(l));
    }
    k.module_info_free_list(list);
  }
  k.module_unref(mod);
  out.known = out.known || !out.path.empty();
  return out;
}

std::string First(const Info& info, const std::string& key) {
  auto it = info.find(key);
  return it == info.end() || it->second.empty() ? "" : it->second.front();
}

// The most specific of the module's aliases that match the device.
std::string BestAlias(const std::vector<std::string>& aliases, const std::string& modalias) {
  if (modalias.empty()) return "";
  std::string best;
  long best_score = -1;
  for (const std::string& alias : aliases) {
    if (fnmatch(alias.c_str(), modalias.c_str(), 0) != 0) continue;
    long score = 0;
    for (char c : alias) score += (c == '*' || c == '?') ? 0 : 1;
    if (score > best_score) {
      best_score = score;
      best = alias;
    }
  }
  return best;
}

}  // namespace

std::string KernelBuildDate(const std::string& banner) {
  // Linux is younger than 1991; a year past 9999 is garbage, not a date.
  const auto plausible = [](long long year) { return year > 1990 && year <= 9999; };
  // Distribution kernels: "... (2023-09-29)".
  for (size_t at = banner.find('('); at != std::string::npos; at = banner.find('(', at + 1)) {
    int y = 0, m = 0, d = 0;
    char close = 0;
    if (std::sscanf(banner.c_str() + at, "(%4d-%2d-%2d%c", &y, &m, &d, &close) == 4 &&
        close == ')' && plausible(y) && m >= 1 && m <= 12 && d >= 1 && d <= 31) {
      return Date(m, d, y);
    }
  }
  // The build stamp: "Thu Oct  5 21:02:42 UTC 2023".
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int m = 0; m < 12; ++m) {
    for (size_t at = banner.find(kMonths[m]); at != std::string::npos;
         at = banner.find(kMonths[m], at + 1)) {
      int d = 0, hh = 0, mm = 0, ss = 0, y = 0;
      char tz[16] = {};
      if (std::sscanf(banner.c_str() + at + 3, "%d %d:%d:%d %15s %d", &d, &hh, &mm, &ss, tz, &y) ==
              6 &&
          d >= 1 && d <= 31 && plausible(y)) {
        return Date(m + 1, d, y);
      }
    }
  }
  // Reproducible builds stamp "@<seconds since 1970>".
  if (const size_t at = banner.rfind('@'); at != std::string::npos) {
    char* end = nullptr;
    const long long secs = std::strtoll(banner.c_str() + at + 1, &end, 10);
    std::tm tm{};
    const std::time_t t = static_cast<std::time_t>(secs);
    if (secs > 0 && end != banner.c_str() + at + 1 && gmtime_r(&t, &tm) != nullptr &&
        plausible(tm.tm_year + 1900LL)) {
      return Date(tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
    }
  }
  return "";
}

std::string CleanAuthor(const std::string& author) {
  std::string out;
  int depth = 0;
  for (char c : author) {
    if (c == '<') ++depth;
    if (depth == 0) out += c;
    if (c == '>' && depth > 0) --depth;
  }
  ControlsToSpaces(out);  // a module is anyone's text
  const auto junk = [](char c) { return c == ' ' || c == ',' || c == '\t' || c == ';'; };
  while (!out.empty() && junk(out.back())) out.pop_back();
  size_t start = 0;
  while (start < out.size() && junk(out[start])) ++start;
  return out.substr(start);
}

ModuleCatalog::ModuleCatalog(fs::path root) : root_(std::move(root)) {
  release_ = ReadAttribute(Under(root_, "/proc/sys/kernel/osrelease")).value_or("");
  kernel_date_ =
      KernelBuildDate(ReadAttribute(Under(root_, "/proc/sys/kernel/version")).value_or(""));
  if (kernel_date_.empty()) {
    kernel_date_ = KernelBuildDate(ReadAttribute(Under(root_, "/proc/version")).value_or(""));
  }
  if (release_.empty()) return;
  const fs::path dir = Under(root_, "/lib/modules/" + release_);
  // No module folder (a kernel without modules, a container): nothing in it
  // to read, and libkmod would try, and fail, to open its indexes again for
  // every device.
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return;
  // Built-in code has no file; modules.builtin still names the one it came from.
  // Read under the same rules as every attribute (regular file, never
  // blocking); a few hundred KiB at most on any distribution.
  std::istringstream builtin(
      platform::ReadFileStart((dir / "modules.builtin").string(), 4 << 20).value_or(""));
  std::string line;
  while (std::getline(builtin, line)) {
    const std::string file = fs::path(line).filename().string();
    const size_t dot = file.find(".ko");
    if (dot != std::string::npos) builtin_files_.emplace(Normalize(file.substr(0, dot)), file);
  }
  const Kmod* k = OpenKmod();
  if (k == nullptr) return;
  static const char* const kNoConfig[] = {nullptr};
  ctx_ = k->new_ctx(dir.c_str(), kNoConfig);
  if (ctx_ == nullptr) return;
  k->set_log_fn(ctx_, Quiet, nullptr);
  // Map the indexes once for the whole scan rather than open them per lookup.
  // When one is missing libkmod still opens the others as they are needed.
  k->load_resources(ctx_);
}

ModuleCatalog::~ModuleCatalog() {
  if (ctx_ != nullptr) OpenKmod()->unref(ctx_);
}

std::string ModuleCatalog::ModuleForAlias(const std::string& driver, const std::string& modalias) {
  if (ctx_ == nullptr || modalias.empty()) return "";
  auto [cached, fresh] = by_alias_.try_emplace(driver + '\n' + modalias);
  if (!fresh) return cached->second;
  const Kmod& k = *OpenKmod();
  kmod_list* list = nullptr;
  if (k.module_new_from_lookup(ctx_, modalias.c_str(), &list) < 0 || list == nullptr) return "";
  std::string& chosen = cached->second;
  for (kmod_list* l = list; l != nullptr; l = k.list_next(list, l)) {
    kmod_module* mod = k.module_get_module(l);
    const std::string name = k.module_get_name(mod);
    k.module_unref(mod);
    if (chosen.empty() || name == Normalize(driver)) chosen = name;
  }
  k.module_unref_list(list);
  return chosen;
}

ModuleCatalog::Module ModuleCatalog::ReadModule(const std::string& name) const {
  const ModuleInfo found = Lookup(ctx_, name);
  const bool in_tree = found.path.empty() || First(found.info, "intree") == "Y";
  Module mod;
  DriverFacts& f = mod.facts;
  f.version = First(found.info, "version");
  ControlsToSpaces(f.version);
  if (f.version.empty()) {
    f.version = ReadAttribute(Under(root_, "/sys/module/" + name + "/version")).value_or("");
  }
  if (f.version.empty()) f.version = release_;

  f.provider = in_tree ? kKernelProvider : CleanAuthor(First(found.info, "author"));

  f.date = kernel_date_;
  if (!in_tree) {
    std::error_code ec;
    const auto written = fs::last_write_time(found.path, ec);
    if (!ec) {
      const std::time_t t = std::chrono::system_clock::to_time_t(
          std::chrono::time_point_cast<std::chrono::system_clock::duration>(
              std::chrono::file_clock::to_sys(written)));
      std::tm tm{};
      if (gmtime_r(&t, &tm) != nullptr) f.date = Date(tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900);
    }
  }

  if (!found.path.empty()) {
    f.inf_path = fs::path(found.path).filename().string();
  } else if (auto it = builtin_files_.find(name); it != builtin_files_.end()) {
    f.inf_path = it->second;
  } else {
    f.inf_path = name + ".ko";
  }
  if (auto aliases = found.info.find("alias"); aliases != found.info.end()) {
    mod.aliases = aliases->second;
  }
  return mod;
}

DriverFacts ModuleCatalog::Describe(const std::string& driver, const std::string& module,
                                    const std::string& modalias, bool usb_interface) {
  std::string name = Normalize(module);
  // A driver without a module link: the module that claims the device's
  // alias (the one named like the driver when several do), else the
  // driver's own name.
  if (name.empty()) {
    const std::string by_alias = ModuleForAlias(driver, modalias);
    name = by_alias.empty() ? Normalize(driver) : by_alias;
  }
  // Devices of one driver share the module: its facts are read once.
  auto [cached, fresh] = modules_.try_emplace(name);
  Module& mod = cached->second;
  if (fresh) mod = ReadModule(name);

  DriverFacts f = mod.facts;
  const std::string alias = BestAlias(mod.aliases, modalias);
  if (!alias.empty()) f.matching_id = linux_ids::AliasToWindowsId(alias, usb_interface);
  return f;
}

}  // namespace devices::linux_sys
