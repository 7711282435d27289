#include "devices/linux/id_names.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string_view>
#include <vector>

#include "devices/linux/sysroot.h"

namespace devices::linux_sys {
namespace {

// A whole file mapped read-only: only the pages a lookup touches are read.
class MappedFile {
 public:
  explicit MappedFile(const std::filesystem::path& file) {
    // Non-blocking: a FIFO in a database's place must not stall the scan.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      found_ = true;
      if (st.st_size > 0) {
        void* m = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (m != MAP_FAILED) {
          data_ = static_cast<const char*>(m);
          size_ = static_cast<size_t>(st.st_size);
        }
      }
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (data_ != nullptr) ::munmap(const_cast<char*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool found() const { return found_; }
  std::string_view text() const { return {data_ == nullptr ? "" : data_, size_}; }

 private:
  bool found_ = false;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

// The two layouts: udev's hwdb sources ("pci:v00008086d00003E92*" then
// " ID_MODEL_FROM_DATABASE=..." lines) and pci.ids / usb.ids ("8086  Intel"
// then "\t3e92  Device" lines). Both list vendors in ascending order.
enum class Layout { kPciHwdb, kUsbHwdb, kIds };

constexpr std::string_view kModelKey = " ID_MODEL_FROM_DATABASE=";

// `count` hex digits at `at`; -1 when there are not.
long Hex(std::string_view s, size_t at, size_t count) {
  if (s.size() < at + count) return -1;
  long v = 0;
  for (size_t i = at; i < at + count; ++i) {
    const char c = s[i];
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return -1;
    }
    v = v * 16 + d;
  }
  return v;
}

std::string_view LineAt(std::string_view text, size_t at) {
  const void* nl = std::memchr(text.data() + at, '\n', text.size() - at);
  const size_t end = nl == nullptr ? text.size() : static_cast<const char*>(nl) - text.data();
  return text.substr(at, end - at);
}

size_t After(std::string_view text, size_t at, std::string_view line) {
  return std::min(text.size(), at + line.size() + 1);
}

size_t LineStartAtOrAfter(std::string_view text, size_t at) {
  if (at == 0 || at >= text.size() || text[at - 1] == '\n') return at;
  const void* nl = std::memchr(text.data() + at, '\n', text.size() - at);
  return nl == nullptr ? text.size() : static_cast<const char*>(nl) - text.data() + 1;
}

// The vendor a line opens an entry for; -1 for every other line.
long VendorOf(Layout layout, std::string_view line) {
  switch (layout) {
    case Layout::kPciHwdb:
      return line.substr(0, 5) == "pci:v" ? Hex(line, 5, 8) : -1;
    case Layout::kUsbHwdb:
      return line.substr(0, 5) == "usb:v" ? Hex(line, 5, 4) : -1;
    case Layout::kIds:
      return line.size() >= 6 && line[4] == ' ' && line[5] == ' ' ? Hex(line, 0, 4) : -1;
  }
  return -1;
}

// The device of a hwdb match line that names exactly one vendor and model
// ("pci:v0000VVVVd0000DDDD*", "usb:vVVVVpPPPP*"); -1 for any other.
long HwdbDevice(Layout layout, std::string_view line) {
  if (layout == Layout::kPciHwdb) {
    return line.size() == 23 && line[13] == 'd' && line[22] == '*' ? Hex(line, 14, 8) : -1;
  }
  return line.size() == 15 && line[9] == 'p' && line[14] == '*' ? Hex(line, 10, 4) : -1;
}

// Where an entry line sorts: vendor lines of the ids files and vendor-only
// hwdb lines by their vendor, hwdb match lines by vendor and then device
// (subsystem and revision lines with their device, after it). -1 for every
// line that opens no entry.
long Key(long vendor, long device) {
  return (vendor << 17) + (device + 1);
}

long KeyOf(Layout layout, std::string_view line) {
  const long vendor = VendorOf(layout, line);
  if (vendor < 0 || vendor > 0xFFFF) return -1;
  long device = -1;
  if (layout == Layout::kPciHwdb && line.size() > 13 && line[13] == 'd') {
    device = Hex(line, 14, 8);
  } else if (layout == Layout::kUsbHwdb && line.size() > 9 && line[9] == 'p') {
    device = Hex(line, 10, 4);
  }
  return device > 0xFFFF ? -1 : Key(vendor, device);
}

using Names = std::map<std::pair<std::uint16_t, std::uint16_t>, std::string>;

// True when it names an id that was wanted and not yet named.
bool Name(Names& names, long vendor, long device, std::string_view name) {
  if (vendor < 0 || vendor > 0xFFFF || device < 0 || device > 0xFFFF || name.empty()) return false;
  auto it = names.find({static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(device)});
  // The first entry for an id is the one that counts.
  if (it == names.end() || !it->second.empty()) return false;
  it->second = name;
  return true;
}

// How many of the vendor's wanted ids have no name yet.
size_t Unnamed(const Names& names, long vendor) {
  size_t n = 0;
  for (auto it = names.lower_bound({static_cast<std::uint16_t>(vendor), 0});
       it != names.end() && it->first.first == vendor; ++it) {
    n += it->second.empty() ? 1 : 0;
  }
  return n;
}

// Reads the entry of `vendor` that starts at `at`, up to the next vendor's,
// or up to the first device above `last` (the databases list a vendor's
// devices in ascending order). Returns where it stopped.
size_t ReadVendor(Layout layout, std::string_view text, size_t at, long vendor, long last,
                  Names& names) {
  // Reading also stops once every wanted device of the vendor has its name.
  size_t unnamed = Unnamed(names, vendor);
  if (unnamed == 0) return After(text, at, LineAt(text, at));
  long previous = -1;  // early stops only while the devices seen ascend
  const auto past_last = [&](long device) {
    if (device < previous) previous = 0x10000;
    if (previous <= 0xFFFF) previous = device;
    return previous <= 0xFFFF && device > last;
  };
  size_t pos = at;
  if (layout == Layout::kIds) {
    for (pos = After(text, at, LineAt(text, at)); pos < text.size();) {
      const std::string_view line = LineAt(text, pos);
      if (!line.empty() && line[0] != '#') {
        if (line[0] != '\t') break;  // the next vendor, or the lists after the vendors
        // "\tdddd  Name"; "\t\tssss ssss  Name" are subsystems.
        if (line.size() >= 7 && line[1] != '\t' && line[5] == ' ') {
          const long device = Hex(line, 1, 4);
          if (past_last(device)) break;
          if (Name(names, vendor, device, line.substr(7)) && --unnamed == 0) break;
        }
      }
      pos = After(text, pos, line);
    }
    return pos;
  }
  // hwdb: records of match lines, then property lines, then a blank line.
  std::vector<long> record;
  bool in_properties = false;
  while (pos < text.size()) {
    const std::string_view line = LineAt(text, pos);
    if (line.empty() || line[0] == '#') {
      record.clear();
      in_properties = false;
    } else if (line[0] == ' ') {
      in_properties = true;
      if (line.substr(0, kModelKey.size()) == kModelKey) {
        for (long device : record) {
          if (Name(names, vendor, device, line.substr(kModelKey.size())) && --unnamed == 0) {
            return After(text, pos, line);
          }
        }
      }
    } else {
      const long key = KeyOf(layout, line);
      if (key >= 0 && key >> 17 != vendor) break;
      if (key >= 0 && past_last((key & 0x1FFFF) - 1)) break;
      if (in_properties) {
        record.clear();
        in_properties = false;
      }
      if (key >= 0) record.push_back(HwdbDevice(layout, line));
    }
    pos = After(text, pos, line);
  }
  return pos;
}

// The start of the line before the one that starts at `at`; npos at the top.
size_t LineBefore(std::string_view text, size_t at) {
  if (at == 0) return std::string_view::npos;
  const void* nl = at < 2 ? nullptr : ::memrchr(text.data(), '\n', at - 1);
  return nl == nullptr ? 0 : static_cast<const char*>(nl) - text.data() + 1;
}

// The start of the first entry line whose key is `key` or above, found by
// bisection; text.size() when there is none. A probe reads lines
// on both sides of its point in turn until it meets a vendor line, never
// into what earlier probes ruled out: one vendor's lines can fill a quarter
// of the file, and the way out of them is as often behind as ahead.
size_t FindKey(Layout layout, std::string_view text, long key) {
  constexpr size_t kNone = std::string_view::npos;
  size_t lo = 0;             // line start; entry lines before lo are all below `key`
  size_t end = text.size();  // no entry line starts in [end, best)
  size_t best = text.size();
  while (lo < end) {
    const size_t mid = lo + (end - lo) / 2;
    size_t ahead = LineStartAtOrAfter(text, mid);
    size_t behind = ahead == mid ? LineBefore(text, mid) : LineBefore(text, ahead);
    if (behind != kNone && behind < lo) behind = kNone;
    size_t found = kNone;
    long found_key = -1;
    bool found_ahead = false;
    size_t clear_from = mid;  // no entry line from here to the one found ahead
    while (found == kNone && (ahead < end || behind != kNone)) {
      if (ahead < end) {
        const std::string_view line = LineAt(text, ahead);
        found_key = KeyOf(layout, line);
        if (found_key >= 0) {
          found = ahead;
          found_ahead = true;
          break;
        }
        ahead = After(text, ahead, line);
      }
      if (behind != kNone) {
        found_key = KeyOf(layout, LineAt(text, behind));
        if (found_key >= 0) {
          found = behind;
          break;
        }
        clear_from = behind;
        behind = LineBefore(text, behind);
        if (behind != kNone && behind < lo) behind = kNone;
      }
    }
    if (found == kNone) break;  // no entry line in [lo, end)
    if (found_key >= key) {
      best = found;
      end = found_ahead ? clear_from : found;
    } else if (found_ahead) {
      lo = After(text, found, LineAt(text, found));
    } else {
      lo = ahead;  // nothing between the entry line found behind and `ahead`
    }
  }
  return best;
}

// Whether the entry line at `at`, or the one before it, is the vendor's.
bool VendorAt(Layout layout, std::string_view text, size_t at, long vendor) {
  if (at < text.size() && KeyOf(layout, LineAt(text, at)) >> 17 == vendor) return true;
  for (size_t pos = LineBefore(text, at); pos != std::string_view::npos;
       pos = LineBefore(text, pos)) {
    const long key = KeyOf(layout, LineAt(text, pos));
    if (key >= 0) return key >> 17 == vendor;
  }
  return false;
}

void Lookup(Layout layout, std::string_view text, Names& names) {
  std::set<long> missed;
  if (text.size() <= 64 * 1024) {
    // A small file (a hand-made one, in no particular order) is read whole:
    // that costs less than seeking in it.
    for (const auto& [id, name] : names) missed.insert(id.first);
  } else if (layout == Layout::kIds) {
    // A vendor's line, then its devices up to the last one wanted.
    for (auto it = names.begin(); it != names.end();) {
      const long vendor = it->first.first;
      long last = -1;
      for (; it != names.end() && it->first.first == vendor; ++it) last = it->first.second;
      const size_t at = FindKey(layout, text, Key(vendor, -1));
      if (at < text.size() && KeyOf(layout, LineAt(text, at)) == Key(vendor, -1)) {
        ReadVendor(layout, text, at, vendor, last, names);
      } else {
        missed.insert(vendor);
      }
    }
  } else {
    // Every match line names its vendor and device: straight to each.
    for (const auto& [id, name] : names) {
      if (!name.empty()) continue;
      const size_t at = FindKey(layout, text, Key(id.first, id.second));
      if (at < text.size() && KeyOf(layout, LineAt(text, at)) == Key(id.first, id.second)) {
        ReadVendor(layout, text, at, id.first, id.second, names);
      } else if (!VendorAt(layout, text, at, id.first)) {
        missed.insert(id.first);
      }
    }
  }
  if (missed.empty()) return;
  // A vendor the bisection did not find is absent, or the file is out of
  // order (a hand-made one): one pass over it settles both.
  for (size_t pos = 0; pos < text.size();) {
    const std::string_view line = LineAt(text, pos);
    const long key = KeyOf(layout, line);
    if (key >= 0 && missed.count(key >> 17) != 0) {
      pos = ReadVendor(layout, text, pos, key >> 17, 0x10000, names);
    } else {
      pos = After(text, pos, line);
    }
  }
}

}  // namespace

void IdNames::WantPci(std::uint16_t vendor, std::uint16_t device) {
  pci_.names.emplace(Id{vendor, device}, std::string());
}

void IdNames::WantUsb(std::uint16_t vendor, std::uint16_t product) {
  usb_.names.emplace(Id{vendor, product}, std::string());
}

void IdNames::Load() {
  LoadBus(pci_, false);
  LoadBus(usb_, true);
}

// Only the first database found is read: the others are older or equal
// copies of it, and the hwdb sources come before the ids files they are made
// from.
void IdNames::LoadBus(Bus& bus, bool usb) {
  if (bus.names.empty() || !bus.database.empty()) return;
  static const char* const kPci[] = {"/etc/udev/hwdb.d/20-pci-vendor-model.hwdb",
                                     "/usr/lib/udev/hwdb.d/20-pci-vendor-model.hwdb",
                                     "/lib/udev/hwdb.d/20-pci-vendor-model.hwdb",
                                     "/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"};
  static const char* const kUsb[] = {"/etc/udev/hwdb.d/20-usb-vendor-model.hwdb",
                                     "/usr/lib/udev/hwdb.d/20-usb-vendor-model.hwdb",
                                     "/lib/udev/hwdb.d/20-usb-vendor-model.hwdb",
                                     "/usr/share/misc/usb.ids",
                                     "/usr/share/hwdata/usb.ids",
                                     "/var/lib/usbutils/usb.ids"};
  std::vector<const char*> candidates;
  if (usb) {
    candidates.assign(std::begin(kUsb), std::end(kUsb));
  } else {
    candidates.assign(std::begin(kPci), std::end(kPci));
  }
  for (const char* candidate : candidates) {
    const MappedFile file(Under(root_, candidate));
    if (!file.found()) continue;
    bus.database = candidate;
    const bool hwdb = std::string_view(candidate).ends_with(".hwdb");
    const Layout layout = !hwdb ? Layout::kIds : usb ? Layout::kUsbHwdb : Layout::kPciHwdb;
    Lookup(layout, file.text(), bus.names);
    return;
  }
}

std::string IdNames::Pci(std::uint16_t vendor, std::uint16_t device) const {
  auto it = pci_.names.find({vendor, device});
  return it == pci_.names.end() ? "" : it->second;
}

std::string IdNames::Usb(std::uint16_t vendor, std::uint16_t product) const {
  auto it = usb_.names.find({vendor, product});
  return it == usb_.names.end() ? "" : it->second;
}

}  // namespace devices::linux_sys
