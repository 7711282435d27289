// Device names from the id databases: which database is read, the two
// layouts, and agreement with a plain parse of the whole file (the fixture's
// databases and this machine's own).
#include "devices/linux/id_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using devices::linux_sys::IdNames;
using Id = std::pair<std::uint16_t, std::uint16_t>;
using Names = std::map<Id, std::string>;

constexpr char kPciHwdb[] = "/usr/lib/udev/hwdb.d/20-pci-vendor-model.hwdb";
constexpr char kUsbHwdb[] = "/usr/lib/udev/hwdb.d/20-usb-vendor-model.hwdb";
constexpr char kPciIds[] = "/usr/share/misc/pci.ids";
constexpr char kUsbIds[] = "/usr/share/misc/usb.ids";

class IdNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kestrova-idnames-" + std::to_string(getpid()));
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Put(const std::string& absolute, const std::string& text) {
    const fs::path p = root_ / fs::path(absolute).relative_path();
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  void Link(const std::string& absolute, const fs::path& target) {
    const fs::path p = root_ / fs::path(absolute).relative_path();
    fs::create_directories(p.parent_path());
    fs::create_symlink(target, p);
  }

  fs::path root_;
};

// pci.ids / usb.ids read whole, line by line: the reference the lookups must
// agree with.
Names ParseIds(const fs::path& file) {
  Names out;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  long vendor = -1;
  const auto hex4 = [](const std::string& s, size_t at) -> long {
    if (s.size() < at + 4) return -1;
    for (size_t i = at; i < at + 4; ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return -1;
    }
    return std::stol(s.substr(at, 4), nullptr, 16);
  };
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') {
      vendor = line.size() >= 6 && line.compare(4, 2, "  ") == 0 ? hex4(line, 0) : -1;
    } else if (vendor >= 0 && line.size() >= 7 && line[1] != '\t' && line[5] == ' ') {
      const long device = hex4(line, 1);
      if (device >= 0) out.emplace(Id(vendor, device), line.substr(7));
    }
  }
  return out;
}

// hwdb sources read whole: "pci:v0000VVVVd0000DDDD*" / "usb:vVVVVpPPPP*"
// records and their model property.
Names ParseHwdb(const fs::path& file, bool usb) {
  Names out;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  std::vector<Id> record;
  bool properties = false;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') {
      record.clear();
      properties = false;
    } else if (line[0] == ' ') {
      properties = true;
      const std::string key = " ID_MODEL_FROM_DATABASE=";
      if (line.rfind(key, 0) == 0) {
        for (const Id& id : record) out.emplace(id, line.substr(key.size()));
      }
    } else {
      if (properties) record.clear();
      properties = false;
      unsigned v = 0, d = 0;
      char star = 0;
      const bool exact =
          usb ? line.size() == 15 && std::sscanf(line.c_str(), "usb:v%4xp%4x%c", &v, &d, &star) == 3
              : line.size() == 23 &&
                    std::sscanf(line.c_str(), "pci:v%8xd%8x%c", &v, &d, &star) == 3;
      if (exact && star == '*' && v <= 0xFFFF && d <= 0xFFFF) record.emplace_back(v, d);
    }
  }
  return out;
}

// The hwdb source udev's tools make from an ids file: a record for each
// vendor, device and (PCI) subsystem, in the file's order.
std::string HwdbFromIds(const fs::path& file, bool usb) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  std::string line, vendor;
  const auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  const auto hex4 = [](const std::string& s, size_t at) {
    if (s.size() < at + 4) return false;
    for (size_t i = at; i < at + 4; ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    }
    return true;
  };
  std::string device;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') {
      vendor = hex4(line, 0) && line.compare(4, 2, "  ") == 0 ? upper(line.substr(0, 4)) : "";
      if (vendor.empty()) continue;
      out << (usb ? "usb:v" : "pci:v0000") << vendor
          << "*\n ID_VENDOR_FROM_DATABASE=" << line.substr(6) << "\n\n";
    } else if (!vendor.empty() && line.size() > 7 && line[1] != '\t' && hex4(line, 1)) {
      device = upper(line.substr(1, 4));
      out << (usb ? "usb:v" + vendor + "p" : "pci:v0000" + vendor + "d0000") << device
          << "*\n ID_MODEL_FROM_DATABASE=" << line.substr(7) << "\n\n";
    } else if (!usb && !vendor.empty() && line.size() > 13 && line[1] == '\t' && hex4(line, 2) &&
               hex4(line, 7)) {
      out << "pci:v0000" << vendor << "d0000" << device << "sv0000" << upper(line.substr(2, 4))
          << "sd0000" << upper(line.substr(7, 4))
          << "*\n ID_MODEL_FROM_DATABASE=" << line.substr(13) << "\n\n";
    }
  }
  return out.str();
}

// Asks for every id the reference knows, and for ids next to them that it
// does not, and compares all answers.
void ExpectSameAsFullParse(const fs::path& root, const Names& reference, bool usb) {
  ASSERT_FALSE(reference.empty());
  IdNames names(root);
  std::vector<Id> asked;
  for (const auto& [id, name] : reference) {
    asked.push_back(id);
    asked.emplace_back(id.first, static_cast<std::uint16_t>(id.second ^ 0x5A5A));
    asked.emplace_back(static_cast<std::uint16_t>(id.first ^ 0x0101), id.second);
  }
  for (const Id& id : asked) {
    usb ? names.WantUsb(id.first, id.second) : names.WantPci(id.first, id.second);
  }
  names.Load();
  size_t differ = 0;
  for (const Id& id : asked) {
    auto it = reference.find(id);
    const std::string want = it == reference.end() ? "" : it->second;
    const std::string got = usb ? names.Usb(id.first, id.second) : names.Pci(id.first, id.second);
    if (got != want && ++differ <= 5) {
      ADD_FAILURE() << std::hex << id.first << ":" << id.second << " gave '" << got
                    << "', the whole file says '" << want << "'";
    }
  }
  EXPECT_EQ(differ, 0u) << "of " << asked.size() << " ids asked";
}

TEST_F(IdNamesTest, OnlyTheFirstDatabaseFoundIsRead) {
  Put("/etc/udev/hwdb.d/20-pci-vendor-model.hwdb",
      "pci:v00008086d00001234*\n ID_MODEL_FROM_DATABASE=Local name\n");
  Put(kPciHwdb,
      "pci:v00008086d00001234*\n ID_MODEL_FROM_DATABASE=Packaged name\n\n"
      "pci:v00008086d00005678*\n ID_MODEL_FROM_DATABASE=Only packaged\n");
  Put(kPciIds, "8086  Intel\n\t1234  From pci.ids\n\t9abc  Only in pci.ids\n");
  {
    IdNames names(root_);
    for (std::uint16_t d : {0x1234, 0x5678, 0x9abc}) names.WantPci(0x8086, d);
    names.Load();
    EXPECT_EQ(names.pci_database(), "/etc/udev/hwdb.d/20-pci-vendor-model.hwdb");
    EXPECT_EQ(names.Pci(0x8086, 0x1234), "Local name");
    // What the first database lacks is not looked for in the others.
    EXPECT_EQ(names.Pci(0x8086, 0x5678), "");
    EXPECT_EQ(names.Pci(0x8086, 0x9abc), "");
  }
  fs::remove_all(root_ / "etc");
  fs::remove_all(root_ / "usr/lib");
  IdNames names(root_);
  names.WantPci(0x8086, 0x9abc);
  names.Load();
  EXPECT_EQ(names.pci_database(), kPciIds);
  EXPECT_EQ(names.Pci(0x8086, 0x9abc), "Only in pci.ids");
}

TEST_F(IdNamesTest, UsbDatabaseIsOpenedOnlyWhenAUsbDeviceIsAsked) {
  Put(kPciIds, "8086  Intel\n\t1234  Controller\n");
  Put(kUsbIds, "046d  Logitech\n\tc52b  Unifying Receiver\n");
  // The second location of usb.ids, as Debian has it: never read after the first.
  Link("/var/lib/usbutils/usb.ids", root_ / "usr/share/misc/usb.ids");
  {
    IdNames names(root_);
    names.WantPci(0x8086, 0x1234);
    names.Load();
    EXPECT_EQ(names.Pci(0x8086, 0x1234), "Controller");
    EXPECT_EQ(names.usb_database(), "");
  }
  IdNames names(root_);
  names.WantUsb(0x046d, 0xc52b);
  names.Load();
  EXPECT_EQ(names.pci_database(), "");
  EXPECT_EQ(names.usb_database(), kUsbIds);
  // The same numbers on the other bus are another device.
  EXPECT_EQ(names.Usb(0x046d, 0xc52b), "Unifying Receiver");
  EXPECT_EQ(names.Pci(0x046d, 0xc52b), "");
}

TEST_F(IdNamesTest, IdsLayout) {
  Put(kPciIds,
      "# comment\n"
      "0001  First vendor\n"
      "\t0002  Its device\n"
      "10de  NVIDIA\n"
      "\t1c82  GP107 [GeForce GTX 1050 Ti]\n"
      "\t\t1043 8613  Board maker's name\n"
      "# a comment inside a vendor\n"
      "\n"
      "\t1c83  GP107 [GeForce GTX 1050]\n"
      "\t1c83  A later duplicate\n"
      "ffff  Illegal Vendor ID\n"
      "\n"
      "# Classes come after the vendors: \"C 0c\" is no vendor 000c.\n"
      "C 0c  Serial bus controller\n"
      "\t03  USB controller\n"
      "\t\t30  XHCI\n");
  IdNames names(root_);
  const std::vector<Id> asked = {{0x0001, 0x0002}, {0x10de, 0x1c82}, {0x10de, 0x1c83},
                                 {0x10de, 0x1043}, {0x000c, 0x0003}, {0x1234, 0x0001},
                                 {0xffff, 0x0000}};
  for (const Id& id : asked) names.WantPci(id.first, id.second);
  names.Load();
  EXPECT_EQ(names.Pci(0x0001, 0x0002), "Its device");
  EXPECT_EQ(names.Pci(0x10de, 0x1c82), "GP107 [GeForce GTX 1050 Ti]");
  EXPECT_EQ(names.Pci(0x10de, 0x1c83), "GP107 [GeForce GTX 1050]");
  EXPECT_EQ(names.Pci(0x10de, 0x1043), "");  // a subsystem line is no device
  EXPECT_EQ(names.Pci(0x000c, 0x0003), "");
  EXPECT_EQ(names.Pci(0x1234, 0x0001), "");
  EXPECT_EQ(names.Pci(0xffff, 0x0000), "");
  EXPECT_EQ(names.Pci(0x0001, 0x9999), "");  // never asked
}

TEST_F(IdNamesTest, HwdbLayout) {
  Put(kUsbHwdb,
      "usb:v046D*\n ID_VENDOR_FROM_DATABASE=Logitech, Inc.\n\n"
      "usb:v046DpC52B*\n ID_MODEL_FROM_DATABASE=Unifying Receiver\n\n"
      "usb:v046DpC52Bd0100*\n ID_MODEL_FROM_DATABASE=One revision only\n\n"
      "usb:v046DpC534*\nusb:v046DpC535*\n ID_VENDOR_FROM_DATABASE=x\n"
      " ID_MODEL_FROM_DATABASE=Two match lines\n\n"
      "usb:v0781p5567*\n ID_MODEL_FROM_DATABASE=Cruzer Blade\n");
  IdNames names(root_);
  for (const Id& id : std::vector<Id>{{0x046d, 0xc52b},
                                      {0x046d, 0xc534},
                                      {0x046d, 0xc535},
                                      {0x0781, 0x5567},
                                      {0x046d, 0x0100}}) {
    names.WantUsb(id.first, id.second);
  }
  names.Load();
  EXPECT_EQ(names.usb_database(), kUsbHwdb);
  EXPECT_EQ(names.Usb(0x046d, 0xc52b), "Unifying Receiver");
  EXPECT_EQ(names.Usb(0x046d, 0xc534), "Two match lines");
  EXPECT_EQ(names.Usb(0x046d, 0xc535), "Two match lines");
  EXPECT_EQ(names.Usb(0x0781, 0x5567), "Cruzer Blade");
  EXPECT_EQ(names.Usb(0x046d, 0x0100), "");
}

// Large files are generated in order and searched by bisection; vendors it
// misses there are looked for in one pass. Small ones are read whole.
TEST_F(IdNamesTest, AFileOutOfOrderIsStillRead) {
  std::string padding;  // makes the file too large to read whole
  while (padding.size() < 100 * 1024) padding += "\t0000  Padding device of the first vendor\n";
  Put(kPciIds, "0010  First vendor\n" + padding +
                   "8086  Intel\n\t1234  Late vendor first\n"
                   "0001  Early vendor last\n\t0002  Found all the same\n");
  IdNames names(root_);
  names.WantPci(0x0001, 0x0002);
  names.WantPci(0x8086, 0x1234);
  names.WantPci(0x4000, 0x0001);
  names.Load();
  EXPECT_EQ(names.Pci(0x0001, 0x0002), "Found all the same");
  EXPECT_EQ(names.Pci(0x8086, 0x1234), "Late vendor first");
  EXPECT_EQ(names.Pci(0x4000, 0x0001), "");

  Put(kUsbHwdb,
      "usb:v1D6Bp0003*\n ID_MODEL_FROM_DATABASE=Late device first\n\n"
      "usb:v1D6Bp0001*\n ID_MODEL_FROM_DATABASE=Early device last\n");
  IdNames small(root_);
  small.WantUsb(0x1d6b, 0x0001);
  small.WantUsb(0x1d6b, 0x0003);
  small.Load();
  EXPECT_EQ(small.Usb(0x1d6b, 0x0001), "Early device last");
  EXPECT_EQ(small.Usb(0x1d6b, 0x0003), "Late device first");
}

TEST_F(IdNamesTest, NoDatabaseAndEmptyDatabase) {
  {
    IdNames names(root_);
    names.WantPci(0x8086, 0x1234);
    names.Load();
    EXPECT_EQ(names.pci_database(), "");
    EXPECT_EQ(names.Pci(0x8086, 0x1234), "");
  }
  Put(kPciIds, "");
  IdNames names(root_);
  names.WantPci(0x8086, 0x1234);
  names.Load();
  EXPECT_EQ(names.pci_database(), kPciIds);
  EXPECT_EQ(names.Pci(0x8086, 0x1234), "");
}

TEST_F(IdNamesTest, SameAsAFullParseOfTheFixtureDatabases) {
  const fs::path fixture = fs::path(KESTROVA_TEST_DATA) / "devices" / "sysroot";
  ExpectSameAsFullParse(fixture, ParseHwdb(fixture / fs::path(kPciHwdb).relative_path(), false),
                        false);
  ExpectSameAsFullParse(fixture, ParseHwdb(fixture / fs::path(kUsbHwdb).relative_path(), true),
                        true);
}

// Every entry of the databases this machine has, each layout in a root of
// its own so that it is the first found.
TEST_F(IdNamesTest, SameAsAFullParseOfThisMachinesDatabases) {
  int compared = 0;
  const struct {
    const char* file;
    bool usb;
    bool hwdb;
  } kFiles[] = {{kPciIds, false, false}, {"/usr/share/hwdata/pci.ids", false, false},
                {kUsbIds, true, false},  {"/var/lib/usbutils/usb.ids", true, false},
                {kPciHwdb, false, true}, {kUsbHwdb, true, true}};
  for (const auto& f : kFiles) {
    std::error_code ec;
    if (!fs::is_regular_file(f.file, ec)) continue;
    SCOPED_TRACE(f.file);
    fs::remove_all(root_);
    Link(f.hwdb ? (f.usb ? kUsbHwdb : kPciHwdb) : (f.usb ? kUsbIds : kPciIds), f.file);
    ExpectSameAsFullParse(root_, f.hwdb ? ParseHwdb(f.file, f.usb) : ParseIds(f.file), f.usb);
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no pci.ids, usb.ids or hwdb sources on this machine";
}

// The hwdb sources made from this machine's ids files, where it has no
// sources of its own: large files in order, as udev's are.
TEST_F(IdNamesTest, SameAsAFullParseOfHwdbSourcesMadeFromThisMachinesIdsFiles) {
  int compared = 0;
  for (const auto& [ids, hwdb, usb] :
       {std::make_tuple(kPciIds, kPciHwdb, false), std::make_tuple(kUsbIds, kUsbHwdb, true)}) {
    std::error_code ec;
    if (!fs::is_regular_file(ids, ec)) continue;
    SCOPED_TRACE(ids);
    fs::remove_all(root_);
    Put(hwdb, HwdbFromIds(ids, usb));
    const fs::path made = root_ / fs::path(hwdb).relative_path();
    ASSERT_GT(fs::file_size(made), 64u * 1024);
    ExpectSameAsFullParse(root_, ParseHwdb(made, usb), usb);
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "no pci.ids or usb.ids on this machine";
}

}  // namespace
