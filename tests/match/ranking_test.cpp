#include <gtest/gtest.h>

#include "catalog_fixture.h"
#include "match/match.h"

namespace match {
namespace {

using testing::CatalogDir;
using testing::InfPackage;

Report OneDevice(std::vector<std::string> hardware, std::vector<std::string> compatible,
                 std::string arch = "64bits", std::string version = "10.0.19045") {
  Report r;
  r.computer = {{"Caption", "Microsoft Windows 10 Pro"}, {"Version", version}, {"OSArchitecture", arch}};
  Device d;
  d.name = "Ethernet";
  d.hardware_ids = std::move(hardware);
  d.compatible_ids = std::move(compatible);
  r.devices.push_back(d);
  return r;
}

const std::vector<std::string> kHardware = {"PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00",
                                            "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028"};
const std::vector<std::string> kCompatible = {"PCI\\VEN_8086&DEV_15B8&REV_00", "PCI\\VEN_8086&DEV_15B8"};

// Two packages that differ in exactly one criterion; the better one is
// written under the name that sorts last, so only the criterion can put it first.
struct RankCase {
  const char* criterion;
  InfPackage better, worse;
  bool same_rank;  // date and version do not enter the rank number
};

InfPackage Package(std::string ids) {
  InfPackage s;
  s.ids = std::move(ids);
  s.decorations = ",NTamd64";
  return s;
}

TEST(Ranking, EachCriterionDecidesWhenAllBeforeItAreEqual) {
  std::vector<RankCase> cases;
  cases.push_back({"device hardware id before compatible id", Package(kHardware[1]), Package(kCompatible[0]), false});
  cases.push_back({"earlier device hardware id", Package(kHardware[0]), Package(kHardware[1]), false});
  cases.push_back({"earlier device compatible id", Package(kCompatible[0]), Package(kCompatible[1]), false});
  cases.push_back({"the INF line's hardware id before its further ids", Package(kHardware[0] + ",OTHER\\ID"),
                   Package("OTHER\\ID," + kHardware[0]), false});
  {
    RankCase c{"a catalog file before none", Package(kHardware[0]), Package(kHardware[0]), false};
    c.worse.catalog = false;
    cases.push_back(c);
  }
  {
    RankCase c{"the newer date", Package(kHardware[0]), Package(kHardware[0]), true};
    c.better.date = "02/01/2021";
    c.worse.date = "12/31/2020";
    c.worse.version = "9.0.0.0";
    cases.push_back(c);
  }
  {
    RankCase c{"the higher version", Package(kHardware[0]), Package(kHardware[0]), true};
    c.better.version = "2.10.0.0";  // numbers, not text: 10 > 9
    c.worse.version = "2.9.0.0";
    cases.push_back(c);
  }
  for (const RankCase& c : cases) {
    CatalogDir dir;
    RankCase named = c;
    named.better.description = "better";
    named.worse.description = "worse";
    dir.Write("a_worse.inf", named.worse);
    dir.Write("z_better.inf", named.better);
    const catalog::Index index = dir.Build();
    const std::vector<DeviceResult> results = MatchReport(OneDevice(kHardware, kCompatible), index);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].candidates.size(), 2u) << c.criterion;
    const Candidate& first = results[0].candidates[0];
    const Candidate& second = results[0].candidates[1];
    EXPECT_EQ(first.line.description, "better") << c.criterion;
    EXPECT_EQ(first.rank == second.rank, c.same_rank) << c.criterion;
  }
}

TEST(Ranking, IdScoresFollowWindowsRanges) {
  EXPECT_EQ(IdScore(true, 0, 0), 0x0000);
  EXPECT_EQ(IdScore(true, 2, 0), 0x0020);
  EXPECT_EQ(IdScore(true, 0, 1), 0x1000);
  EXPECT_EQ(IdScore(false, 0, 0), 0x2000);
  EXPECT_EQ(IdScore(false, 1, 3), 0x3012);
  // A hardware id late in the list still beats any compatible id.
  EXPECT_LT(IdScore(true, 300, 0), IdScore(false, 0, 0));
}

TEST(Ranking, ReportsTheIdAsTheInfWritesItAndWhichListMatched) {
  CatalogDir dir;
  dir.Write("net.inf", Package("pci\\ven_8086&dev_15b8"));
  const std::vector<DeviceResult> results = MatchReport(OneDevice(kHardware, kCompatible), dir.Build());
  ASSERT_EQ(results[0].candidates.size(), 1u);
  const Candidate& c = results[0].candidates[0];
  EXPECT_EQ(c.matched_id, "pci\\ven_8086&dev_15b8");
  EXPECT_FALSE(c.hardware_match);
  EXPECT_EQ(c.rank, IdScore(false, 1, 0) * 2);
}

TEST(Ranking, ComparesWithTheInstalledDriver) {
  CatalogDir dir;
  InfPackage s = Package(kHardware[0]);
  s.date = "03/04/2024";
  s.version = "12.19.2.0";
  dir.Write("net.inf", s);
  const catalog::Index index = dir.Build();
  struct Case {
    InstalledDriver installed;
    bool newer;
  } cases[] = {
      {{"oem1.inf", "12.19.1.37", "2023-01-01", "Intel"}, true},
      {{"oem1.inf", "12.19.1.37", "2024-03-04", "Intel"}, true},   // same day, lower version
      {{"oem1.inf", "12.19.2.0", "2024-03-04", "Intel"}, false},   // the same driver
      {{"oem1.inf", "13.0.0.0", "2025-01-01", "Intel"}, false},
      {{"", "", "", ""}, false},                                   // nothing installed to compare with
  };
  for (const Case& c : cases) {
    Report r = OneDevice(kHardware, kCompatible);
    r.devices[0].installed = c.installed;
    EXPECT_EQ(MatchReport(r, index)[0].candidates.at(0).newer_than_installed, c.newer) << c.installed.date;
  }
}

TargetSystem System(std::string arch, int major, int minor, int build, int product = 1) {
  TargetSystem s;
  s.arch = std::move(arch);
  s.major = major;
  s.minor = minor;
  s.build = build;
  s.product_type = product;
  return s;
}

TEST(Decorations, TheClosestFittingSectionIsChosen) {
  struct Case {
    const char* what;
    std::vector<std::string> decorations;
    TargetSystem system;
    const char* chosen;  // nullptr: none
  } cases[] = {
      {"x86 only, 64-bit system", {"", "NTx86"}, System("amd64", 10, 0, 19045), nullptr},
      {"x86 only, 32-bit system", {"", "NTx86"}, System("x86", 10, 0, 19045), "NTx86"},
      {"undecorated, 64-bit", {""}, System("amd64", 10, 0, 19045), nullptr},
      {"undecorated, 32-bit", {""}, System("x86", 6, 1, 7601), ""},
      {"no arch means x86", {"NT"}, System("amd64", 10, 0, 19045), nullptr},
      {"named arch before none", {"NT", "NTx86"}, System("x86", 10, 0, 19045), "NTx86"},
      {"build fits", {"NTamd64", "NTamd64.10.0...16299"}, System("amd64", 10, 0, 19045), "NTamd64.10.0...16299"},
      {"build too new", {"NTamd64", "NTamd64.10.0...16299"}, System("amd64", 10, 0, 10240), "NTamd64"},
      {"version too new", {"NTamd64.10.0"}, System("amd64", 6, 1, 7601), nullptr},
      {"highest fitting version", {"NTamd64.6.1", "NTamd64.6.3", "NTamd64.10.0"}, System("amd64", 6, 3, 9600),
       "NTamd64.6.3"},
      {"unknown version: the newest", {"NTamd64.6.1", "NTamd64.10.0...22000"}, System("amd64", 0, 0, 0),
       "NTamd64.10.0...22000"},
      {"server only, workstation", {"NTamd64...3"}, System("amd64", 10, 0, 19045, 1), nullptr},
      {"server only, server", {"NTamd64...3"}, System("amd64", 10, 0, 17763, 3), "NTamd64...3"},
      {"other architecture", {"NTarm64"}, System("amd64", 10, 0, 19045), nullptr},
      {"unstamped template", {"NT$ARCH$"}, System("amd64", 10, 0, 19045), nullptr},
      {"case of the decoration", {"ntAMD64"}, System("amd64", 10, 0, 19045), "ntAMD64"},
  };
  for (const Case& c : cases) {
    const std::string* got = ChooseDecoration(c.decorations, c.system);
    if (c.chosen == nullptr) {
      EXPECT_EQ(got, nullptr) << c.what << ": chose " << *got;
    } else {
      ASSERT_NE(got, nullptr) << c.what;
      EXPECT_EQ(*got, c.chosen) << c.what;
    }
  }
}

TEST(Decorations, TheSystemComesFromTheComputerBlock) {
  Report windows = OneDevice({}, {}, "32bits", "6.1.7601");
  const TargetSystem w = TargetFromReport(windows);
  EXPECT_EQ(w.arch, "x86");
  EXPECT_EQ(std::tie(w.major, w.minor, w.build), std::make_tuple(6, 1, 7601));
  Report linux_report = OneDevice({}, {}, "64bits", "6.1.0-kestrova");
  linux_report.computer[0].second = "Debian GNU/Linux 12 (bookworm)";
  const TargetSystem l = TargetFromReport(linux_report);
  EXPECT_EQ(l.arch, "amd64");
  EXPECT_EQ(std::tie(l.major, l.minor, l.build), std::make_tuple(0, 0, 0));  // a kernel version is no Windows one
  Report server = OneDevice({}, {});
  server.computer[0].second = "Microsoft Windows Server 2019 Standard";
  EXPECT_EQ(TargetFromReport(server).product_type, 3);
}

TEST(Decorations, AnX86OnlyPackageIsNeverOfferedToA64BitSystem) {
  CatalogDir dir;
  InfPackage x86 = Package(kHardware[0]);
  x86.decorations = ",NTx86";
  x86.section_suffix = ".NTx86";
  dir.Write("x86.inf", x86);
  InfPackage plain = Package(kHardware[0]);
  plain.decorations = "";
  plain.section_suffix = "";
  dir.Write("plain.inf", plain);
  const catalog::Index index = dir.Build();
  EXPECT_TRUE(MatchReport(OneDevice(kHardware, {}, "64bits"), index)[0].candidates.empty());
  EXPECT_EQ(MatchReport(OneDevice(kHardware, {}, "32bits"), index)[0].candidates.size(), 2u);
}

}  // namespace
}  // namespace match
