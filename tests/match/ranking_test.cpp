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
  r.computer = {
      {"Caption", "Microsoft Windows 10 Pro"}, {"Version", version}, {"OSArchitecture", arch}};
  Device d;
  d.name = "Ethernet";
  d.hardware_ids = std::move(hardware);
  d.compatible_ids = std::move(compatible);
  r.devices.push_back(d);
  return r;
}

const std::vector<std::string> kHardware = {"PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00",
                                            "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028"};
const std::vector<std::string> kCompatible = {"PCI\\VEN_8086&DEV_15B8&REV_00",
                                              "PCI\\VEN_8086&DEV_15B8"};

// Two packages that differ in the criterion a row names; the better one is
// written under the name that sorts last, so only the criterion can put it
// first. Each row's ranks are the numbers Windows documents, 0xSSGGTHHH;
// the page each rule comes from is named beside it, under
// https://learn.microsoft.com/windows-hardware/drivers/install/ :
//   how-setup-ranks-drivers--windows-vista-and-later-  ("How Windows ranks drivers")
//   signature-score--windows-vista-and-later-          ("Signature score")
//   feature-score--windows-vista-and-later-            ("Feature score")
//   identifier-score--windows-10-version-1709-and-later- ("Identifier score")
//   driver-rank-information-in-the-setupapi-log        (rank 0x00FF3101 of input.inf, logged)
//   inf-version-section, inf-ddinstall-section, inf-driverver-directive
struct RankCase {
  const char* criterion;
  InfPackage better, worse;
  std::uint32_t better_rank, worse_rank;
};

InfPackage Package(std::string ids) {
  InfPackage s;
  s.ids = std::move(ids);
  s.decorations = ",NTamd64";
  return s;
}
InfPackage Unsigned(std::string ids) {
  InfPackage s = Package(std::move(ids));
  s.catalog = false;
  return s;
}
InfPackage WithInstallSection(InfPackage s, std::string lines, std::string suffix = ".NTamd64") {
  s.install_suffix = std::move(suffix);
  s.install_lines = std::move(lines);
  return s;
}
InfPackage Dated(InfPackage s, std::string date, std::string version = "1.0.0.0") {
  s.date = std::move(date);
  s.version = std::move(version);
  return s;
}

TEST(Ranking, DocumentedExamplesRankAsDocumented) {
  const std::string& hw0 = kHardware[0];
  const std::string& hw1 = kHardware[1];
  const std::string& c0 = kCompatible[0];
  const std::string& c1 = kCompatible[1];
  InfPackage other_platform_catalog = Package(hw0);
  other_platform_catalog.catalog_directive = "CatalogFile.NTx86";
  InfPackage platform_catalog = Package(hw1);
  platform_catalog.catalog_directive = "CatalogFile.NTamd64";
  InfPackage missing_catalog = Package(hw0);
  missing_catalog.catalog_on_disk = false;
  InfPackage signed_a = Dated(Package(hw0), "02/01/2021"),
             signed_b = Dated(Package(hw0), "01/01/2021");
  signed_a.catalog_name = "vendor_a.cat";
  signed_b.catalog_name = "vendor_b.cat";
  const RankCase cases[] = {
      // Signature score, then feature score, then identifier score.
      {"signature: a signed compatible id match beats an unsigned exact match", Package(c1),
       Unsigned(hw0), 0x00FF2001, 0xC0FF0000},
      {"signature: signed packages rank alike whoever signed them", signed_a, signed_b, 0x00FF0000,
       0x00FF0000},
      {"signature: a catalog named but not in the package signs nothing", Package(hw1),
       missing_catalog, 0x00FF0001, 0xC0FF0000},
      {"signature: only the platform's catalog signs", platform_catalog, other_platform_catalog,
       0x00FF0001, 0xC0FF0000},
      {"signature: unsigned from an .NT install section before unsigned without",
       WithInstallSection(Unsigned(hw0), ""), Unsigned(hw0), 0x80FF0000, 0xC0FF0000},
      {"feature score: a lower FeatureScore beats a better identifier",
       WithInstallSection(Package(c1), "FeatureScore=0x00\r\n"), Package(hw0), 0x00002001,
       0x00FF0000},
      {"feature score: read from the install section Windows would use",
       WithInstallSection(Package(hw1), "FeatureScore=FE\r\n", ".NT"),
       WithInstallSection(Package(hw0), "FeatureScore=0x10\r\n", ".NTx86"), 0x00FE0001, 0x00FF0000},
      // Identifier score: 0x0000 + N, 0x1000 + N, 0x2000 + N, 0x3000 + N + 0x100 * M.
      {"identifier: device hardware id to INF hardware id before INF compatible id", Package(hw1),
       Package("OTHER\\ID," + hw0), 0x00FF0001, 0x00FF1000},
      {"identifier: device hardware id to INF compatible id before device compatible id to INF "
       "hardware id",
       Package("OTHER\\ID," + hw1), Package(c0), 0x00FF1001, 0x00FF2000},
      {"identifier: the INF compatible id's position does not count for a device hardware id",
       Dated(Package("OTHER\\ID,X\\1,X\\2," + hw0), "02/01/2021"),
       Dated(Package("OTHER\\ID," + hw0), "01/01/2021"), 0x00FF1000, 0x00FF1000},
      {"identifier: device compatible id to INF hardware id before INF compatible id", Package(c1),
       Package("OTHER\\ID," + c0), 0x00FF2001, 0x00FF3100},
      {"identifier: the INF compatible id's position weighs more than the device's (logged "
       "0x00FF3101)",
       Package("OTHER\\ID," + c1), Package("OTHER\\ID,X\\1," + c0), 0x00FF3101, 0x00FF3200},
      // Equal ranks: the newer date, then the higher version.
      {"date: the newer one", Dated(Package(hw0), "02/01/2021"),
       Dated(Package(hw0), "12/31/2020", "9.0.0.0"), 0x00FF0000, 0x00FF0000},
      {"version: numbers, not text (10 > 9)", Dated(Package(hw0), "01/01/2020", "2.10.0.0"),
       Dated(Package(hw0), "01/01/2020", "2.9.0.0"), 0x00FF0000, 0x00FF0000},
      {"date: the install section's DriverVer overrides [Version]'s",
       WithInstallSection(Dated(Package(hw0), "01/01/2019"), "DriverVer=03/01/2021,1.0.0.0\r\n"),
       Dated(Package(hw0), "02/01/2021"), 0x00FF0000, 0x00FF0000},
      {"date: an invalid date is 00/00/0000, the oldest", Dated(Package(hw0), "01/01/1999"),
       Dated(Package(hw0), "13/45/2020", "9.0.0.0"), 0x00FF0000, 0x00FF0000},
  };
  for (const RankCase& c : cases) {
    CatalogDir dir;
    RankCase named = c;
    named.better.description = "better";
    named.worse.description = "worse";
    dir.Write("a/worse.inf", named.worse);
    dir.Write("z/better.inf", named.better);
    const catalog::Index index = dir.Build();
    const std::vector<DeviceResult> results = MatchReport(OneDevice(kHardware, kCompatible), index);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].candidates.size(), 2u) << c.criterion;
    const Candidate& first = results[0].candidates[0];
    const Candidate& second = results[0].candidates[1];
    EXPECT_EQ(first.line->description, "better") << c.criterion;
    EXPECT_EQ(RankHex(first.rank), RankHex(c.better_rank)) << c.criterion;
    EXPECT_EQ(RankHex(second.rank), RankHex(c.worse_rank)) << c.criterion;
  }
}

TEST(Ranking, IdScoresFollowWindowsRanges) {
  EXPECT_EQ(IdScore(true, 0, 0), 0x0000u);
  EXPECT_EQ(IdScore(true, 2, 0), 0x0002u);
  EXPECT_EQ(IdScore(true, 3, 1), 0x1003u);
  EXPECT_EQ(IdScore(true, 3, 7), 0x1003u);  // where in the INF does not count
  EXPECT_EQ(IdScore(false, 4, 0), 0x2004u);
  EXPECT_EQ(IdScore(false, 1, 3), 0x3301u);
  // A hardware id late in the list still beats any compatible id.
  EXPECT_LT(IdScore(true, 300, 1), IdScore(false, 0, 0));
}

TEST(Ranking, ExcludeIdKeepsTheListedDevicesOut) {
  // INF DDInstall Section: ExcludeID.
  CatalogDir dir;
  dir.Write("generic.inf", WithInstallSection(Package(kCompatible[1]),
                                              "ExcludeID=" + kHardware[1] + ",OTHER\\ID\r\n"));
  const catalog::Index index = dir.Build();
  EXPECT_TRUE(MatchReport(OneDevice(kHardware, kCompatible), index)[0].candidates.empty());
  EXPECT_EQ(
      MatchReport(OneDevice({"PCI\\VEN_8086&DEV_15B8&SUBSYS_00000000"}, kCompatible), index)[0]
          .candidates.size(),
      1u);
}

TEST(Ranking, AnEmptyHardwareIdStillOffersTheCompatibleIds) {
  // How inbox input INFs match every HID device: "%D%=Inst,,HID_DEVICE".
  CatalogDir dir;
  dir.Write("input.inf", Package("," + kCompatible[1]));
  const std::vector<DeviceResult> results =
      MatchReport(OneDevice(kHardware, kCompatible), dir.Build());
  ASSERT_EQ(results[0].candidates.size(), 1u);
  EXPECT_EQ(results[0].candidates[0].identifier_score, 0x3101u);
}

TEST(Ranking, ReportsTheIdAsTheInfWritesItAndWhichListMatched) {
  CatalogDir dir;
  dir.Write("net.inf", Package("pci\\ven_8086&dev_15b8"));
  const std::vector<DeviceResult> results =
      MatchReport(OneDevice(kHardware, kCompatible), dir.Build());
  ASSERT_EQ(results[0].candidates.size(), 1u);
  const Candidate& c = results[0].candidates[0];
  EXPECT_EQ(c.matched_id, "pci\\ven_8086&dev_15b8");
  EXPECT_FALSE(c.HardwareMatch());
  EXPECT_EQ(MatchTerms(c), "compatible id to hardware id");
  EXPECT_EQ(c.rank, 0x00FF2001u);
}

TEST(Ranking, ADeviceKeepsItsBestCandidatesAndCountsTheRest) {
  CatalogDir dir;
  std::string lines;
  for (size_t i = 0; i < kMaxCandidates + 20; ++i) {
    lines +=
        "D" + std::to_string(i) + "=Inst," + (i == 57 ? kHardware[0] : kCompatible[1]) + "\r\n";
  }
  dir.Write(
      "many.inf",
      "[Version]\r\nSignature=$Windows NT$\r\n[Manufacturer]\r\nA=M,NTamd64\r\n[M.NTamd64]\r\n" +
          lines);
  const DeviceResult r = MatchReport(OneDevice(kHardware, kCompatible), dir.Build()).at(0);
  ASSERT_EQ(r.candidates.size(), kMaxCandidates);
  EXPECT_EQ(r.candidates_omitted, 20u);
  EXPECT_EQ(r.candidates[0].line->description, "D57");  // the best is kept
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
      {{"oem1.inf", "12.19.1.37", "2024-03-04", "Intel"}, true},  // same day, lower version
      {{"oem1.inf", "12.19.2.0", "2024-03-04", "Intel"}, false},  // the same driver
      {{"oem1.inf", "13.0.0.0", "2025-01-01", "Intel"}, false},
      {{"", "", "", ""}, false},  // nothing installed to compare with
  };
  for (const Case& c : cases) {
    Report r = OneDevice(kHardware, kCompatible);
    r.devices[0].installed = c.installed;
    EXPECT_EQ(MatchReport(r, index)[0].candidates.at(0).newer_than_installed, c.newer)
        << c.installed.date;
  }
}

TargetSystem System(std::string arch, int major, int minor, int build, int product = 1,
                    std::uint32_t suite = 0x100) {
  TargetSystem s;
  s.suite_mask = suite;
  s.arch = std::move(arch);
  s.major = major;
  s.minor = minor;
  s.build = build;
  s.product_type = product;
  return s;
}

// Creating INF Files for Multiple Platforms and Operating Systems:
// NT[Architecture][.[OSMajorVersion][.[OSMinorVersion][.[ProductType][.[SuiteMask][.[BuildNumber]]]]]]
// (INF Manufacturer Section, INF Models Section).
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
      {"build fits",
       {"NTamd64", "NTamd64.10.0...16299"},
       System("amd64", 10, 0, 19045),
       "NTamd64.10.0...16299"},
      {"build too new",
       {"NTamd64", "NTamd64.10.0...16299"},
       System("amd64", 10, 0, 10240),
       "NTamd64"},
      {"version too new", {"NTamd64.10.0"}, System("amd64", 6, 1, 7601), nullptr},
      {"highest fitting version",
       {"NTamd64.6.1", "NTamd64.6.3", "NTamd64.10.0"},
       System("amd64", 6, 3, 9600),
       "NTamd64.6.3"},
      {"build equal to the system's",
       {"NTamd64", "NTamd64.10.0...19045"},
       System("amd64", 10, 0, 19045),
       "NTamd64.10.0...19045"},
      {"major.minor equal to the system's",
       {"NTamd64", "NTamd64.6.3"},
       System("amd64", 6, 3, 9600),
       "NTamd64.6.3"},
      {"unknown system: Windows 11 24H2",
       {"NTamd64.6.1", "NTamd64.10.0...22000", "NTamd64.10.0...30000"},
       TargetSystem{},
       "NTamd64.10.0...22000"},
      {"suite mask the system has",
       {"NTamd64", "NTamd64....0x80"},
       System("amd64", 10, 0, 17763, 3, 0x90),
       "NTamd64....0x80"},
      {"suite mask the system lacks",
       {"NTamd64", "NTamd64....0x80"},
       System("amd64", 10, 0, 19045),
       "NTamd64"},
      {"domain controller only, domain controller",
       {"NTamd64...2"},
       System("amd64", 10, 0, 17763, 2, 0x10),
       "NTamd64...2"},
      {"domain controller only, server",
       {"NTamd64...2"},
       System("amd64", 10, 0, 17763, 3, 0x10),
       nullptr},
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
  // A kernel version is no Windows one: the most likely Windows stands in.
  EXPECT_EQ(std::tie(l.major, l.minor, l.build, l.product_type), std::make_tuple(10, 0, 26100, 1));
  Report server = OneDevice({}, {});
  server.computer[0].second = "Microsoft Windows Server 2019 Datacenter";
  EXPECT_EQ(TargetFromReport(server).product_type, 3);
  EXPECT_EQ(TargetFromReport(server).suite_mask & 0x80u, 0x80u);  // VER_SUITE_DATACENTER
  EXPECT_EQ(TargetFromReport(OneDevice({}, {})).suite_mask & 0x80u, 0u);
  server.computer.push_back({"ProductType", "2"});
  server.computer.push_back({"OSProductSuite", "400"});
  EXPECT_EQ(TargetFromReport(server).product_type,
            2);  // only the label can tell a domain controller
  EXPECT_EQ(TargetFromReport(server).suite_mask, 400u);
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
