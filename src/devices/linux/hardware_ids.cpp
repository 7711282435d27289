#include "devices/linux/hardware_ids.h"

#include <cctype>
#include <cstdio>

namespace devices::linux_ids {
namespace {

std::string Hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string ClassTriple(const char* prefix, std::uint8_t c, std::uint8_t s, std::uint8_t p,
                        int parts) {
  std::string id = std::string("USB\\") + prefix + "_" + Hex(c, 2);
  if (parts >= 2) id += "&SubClass_" + Hex(s, 2);
  if (parts >= 3) id += "&Prot_" + Hex(p, 2);
  return id;
}

std::vector<std::string> ClassTriples(const char* prefix, std::uint8_t c, std::uint8_t s,
                                      std::uint8_t p) {
  return {ClassTriple(prefix, c, s, p, 3), ClassTriple(prefix, c, s, p, 2),
          ClassTriple(prefix, c, s, p, 1)};
}

// Reads the fields of a module alias in the order the kernel writes them.
// Each field is a fixed number of hex digits, or '*' for any value.
class AliasReader {
 public:
  explicit AliasReader(const std::string& s) : s_(s) {}
  // The field's digits, or "" when it is a wildcard or not there.
  std::string Field(const std::string& name, size_t digits) {
    if (s_.compare(at_, name.size(), name) != 0) return Skip(), "";
    at_ += name.size();
    if (at_ < s_.size() && s_[at_] == '*') {
      ++at_;
      return "";
    }
    std::string v = s_.substr(at_, digits);
    if (v.size() != digits) return Skip(), "";
    for (char c : v) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return Skip(), "";
    }
    at_ += digits;
    return v;
  }
  // A pattern field that runs up to the next field's name.
  std::string Until(const std::string& name, const std::string& next) {
    if (s_.compare(at_, name.size(), name) != 0) return "";
    at_ += name.size();
    const size_t end = s_.find(next, at_);
    std::string v = s_.substr(at_, end == std::string::npos ? std::string::npos : end - at_);
    at_ = end == std::string::npos ? s_.size() : end;
    return v;
  }

 private:
  // After a field that is not plain, the rest can't be trusted.
  void Skip() { at_ = s_.size(); }
  const std::string& s_;
  size_t at_ = 0;
};

std::string PciAlias(const std::string& body) {
  AliasReader r(body);
  const std::string v = r.Field("v", 8), d = r.Field("d", 8), sv = r.Field("sv", 8),
                    sd = r.Field("sd", 8), bc = r.Field("bc", 2), sc = r.Field("sc", 2),
                    pi = r.Field("i", 2);
  const std::string vendor = v.size() == 8 ? v.substr(4) : "";
  const std::string device = d.size() == 8 ? d.substr(4) : "";
  // Windows class-code ids name the subclass at least.
  const std::string cc = bc.empty() || sc.empty() ? "" : bc + sc + pi;
  std::string id;
  if (!vendor.empty() && !device.empty()) {
    id = "PCI\\VEN_" + vendor + "&DEV_" + device;
    if (sv.size() == 8 && sd.size() == 8) {
      id += "&SUBSYS_" + sd.substr(4) + sv.substr(4);
    } else if (!cc.empty()) {
      id += "&CC_" + cc;
    }
  } else if (!vendor.empty() && !cc.empty()) {
    id = "PCI\\VEN_" + vendor + "&CC_" + cc;
  } else if (!cc.empty()) {
    id = "PCI\\CC_" + cc;
  } else if (!vendor.empty()) {
    id = "PCI\\VEN_" + vendor;
  }
  return Lower(id);
}

std::string UsbAlias(const std::string& body, bool usb_interface) {
  AliasReader r(body);
  const std::string v = r.Field("v", 4), p = r.Field("p", 4);
  const std::string rev = r.Until("d", "dc");
  const std::string dc = r.Field("dc", 2), dsc = r.Field("dsc", 2), dp = r.Field("dp", 2),
                    ic = r.Field("ic", 2), isc = r.Field("isc", 2), ip = r.Field("ip", 2),
                    in = r.Field("in", 2);
  auto exact = [](const std::string& s) {
    if (s.size() != 4) return false;
    for (char c : s) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  };
  std::string id;
  if (!v.empty() && !p.empty()) {
    id = "USB\\VID_" + v + "&PID_" + p;
    if (exact(rev)) id += "&REV_" + rev;
    if (usb_interface && !in.empty()) id += "&MI_" + in;
  } else if (!ic.empty() || !dc.empty()) {
    const bool by_interface = !ic.empty();
    id = "USB\\Class_" + (by_interface ? ic : dc);
    const std::string& sub = by_interface ? isc : dsc;
    const std::string& prot = by_interface ? ip : dp;
    if (!sub.empty()) {
      id += "&SubClass_" + sub;
      if (!prot.empty()) id += "&Prot_" + prot;
    }
  }
  return Lower(id);
}

std::string AcpiAlias(const std::string& alias) {
  // "acpi*:PNP0A08:*": the id between the first two colons.
  const size_t a = alias.find(':');
  if (a == std::string::npos) return "";
  const size_t b = alias.find(':', a + 1);
  const std::string id = alias.substr(a + 1, b == std::string::npos ? b : b - a - 1);
  // ACPI and PNP ids are letters and digits; anything else (a pattern, or
  // garbage in a modalias) names no id.
  if (id.empty()) return "";
  for (char c : id) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return "";
  }
  return Lower(id.rfind("PNP", 0) == 0 ? "*" + id : "ACPI\\" + id);
}

}  // namespace

std::vector<std::string> PciHardwareIds(const PciIds& p) {
  const std::string base = "PCI\\VEN_" + Hex(p.vendor, 4) + "&DEV_" + Hex(p.device, 4);
  const std::string subsys = "&SUBSYS_" + Hex(p.subsystem_device, 4) + Hex(p.subsystem_vendor, 4);
  return {base + subsys + "&REV_" + Hex(p.revision, 2), base + subsys,
          base + "&CC_" + Hex(p.class_code, 6), base + "&CC_" + Hex(p.class_code >> 8, 4)};
}

std::vector<std::string> PciCompatibleIds(const PciIds& p) {
  const std::string ven = "PCI\\VEN_" + Hex(p.vendor, 4);
  const std::string dev = ven + "&DEV_" + Hex(p.device, 4);
  const std::string cc6 = "CC_" + Hex(p.class_code, 6);
  const std::string cc4 = "CC_" + Hex(p.class_code >> 8, 4);
  return {dev + "&REV_" + Hex(p.revision, 2),
          dev,
          ven + "&" + cc6,
          ven + "&" + cc4,
          ven,
          "PCI\\" + cc6,
          "PCI\\" + cc4};
}

bool IsUsbComposite(const UsbDeviceIds& d, int interfaces, int configurations) {
  const bool class_ok =
      d.device_class == 0 ||
      (d.device_class == 0xEF && d.device_subclass == 0x02 && d.device_protocol == 0x01);
  return class_ok && interfaces > 1 && configurations == 1;
}

std::vector<std::string> UsbDeviceHardwareIds(const UsbDeviceIds& d) {
  const std::string base = "USB\\VID_" + Hex(d.vendor, 4) + "&PID_" + Hex(d.product, 4);
  return {base + "&REV_" + Hex(d.revision, 4), base};
}

std::vector<std::string> UsbDeviceCompatibleIds(const UsbDeviceIds& d,
                                                const UsbInterfaceIds* first_interface) {
  if (d.device_class == 0 && first_interface != nullptr) {
    return UsbInterfaceCompatibleIds(*first_interface);
  }
  return ClassTriples("Class", d.device_class, d.device_subclass, d.device_protocol);
}

std::vector<std::string> UsbCompositeCompatibleIds(const UsbDeviceIds& d) {
  auto ids = ClassTriples("DevClass", d.device_class, d.device_subclass, d.device_protocol);
  ids.push_back("USB\\COMPOSITE");
  return ids;
}

std::vector<std::string> UsbInterfaceHardwareIds(const UsbDeviceIds& d, const UsbInterfaceIds& i) {
  const std::string base = "USB\\VID_" + Hex(d.vendor, 4) + "&PID_" + Hex(d.product, 4);
  const std::string mi = "&MI_" + Hex(i.number, 2);
  return {base + "&REV_" + Hex(d.revision, 4) + mi, base + mi};
}

std::vector<std::string> UsbInterfaceCompatibleIds(const UsbInterfaceIds& i) {
  return ClassTriples("Class", i.interface_class, i.interface_subclass, i.interface_protocol);
}

std::vector<std::string> UsbRootHubHardwareIds(int usb_major, const PciIds* controller) {
  const std::string hub = usb_major >= 3   ? "USB\\ROOT_HUB30"
                          : usb_major == 2 ? "USB\\ROOT_HUB20"
                                           : "USB\\ROOT_HUB";
  if (controller == nullptr) return {hub};
  const std::string base =
      hub + "&VID" + Hex(controller->vendor, 4) + "&PID" + Hex(controller->device, 4);
  return {base + "&REV" + Hex(controller->revision, 4), base, hub};
}

std::vector<std::string> AcpiIds(const std::vector<std::string>& ids) {
  std::vector<std::string> out;
  for (const std::string& id : ids) {
    out.push_back("ACPI\\" + Upper(id));
    out.push_back("*" + Upper(id));
  }
  return out;
}

std::string AliasToWindowsId(const std::string& alias, bool usb_interface) {
  if (alias.rfind("pci:", 0) == 0) return PciAlias(alias.substr(4));
  if (alias.rfind("usb:", 0) == 0) return UsbAlias(alias.substr(4), usb_interface);
  if (alias.rfind("acpi", 0) == 0) return AcpiAlias(alias);
  return "";
}

}  // namespace devices::linux_ids
