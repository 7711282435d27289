#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalog_fixture.h"
#include "match/match.h"
#include "match/match_cli.h"
#include "report_fixture.h"

namespace match {
namespace {

using testing::Base64;
using testing::CatalogDir;
using testing::InfPackage;

const char* kHostile = "<img src=x onerror=alert(1)> &amp; 'quoted'";

std::vector<testing::Entry> Devices() {
  testing::Entry working;
  working.name = "Keyboard";
  working.version = "10.0.1.0";
  working.provider = "Microsoft";
  working.date = "6-21-2006";
  working.inf = "keyboard.inf";
  working.hwids = "ACPI\\PNP0303,*PNP0303,";
  working.problem = "0";
  testing::Entry missing;
  missing.name = "Ethernet <b>bold</b>";
  missing.hwids =
      "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00,PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028,";
  missing.compat = "PCI\\VEN_8086&DEV_15B8,";
  missing.problem = "28";
  return {working, missing};
}

struct Fixture {
  Fixture() {
    InfPackage net;
    net.ids = "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028";
    net.decorations = ",NTamd64";
    net.description = kHostile;
    net.date = "03/04/2024";
    net.version = "12.19.1.37";
    std::filesystem::create_directories(dir.Root() / "catalog" / "intel");
    dir.Write("intel/e1d.inf", net);
    InfPackage generic = net;
    generic.ids = "PCI\\VEN_8086&DEV_15B8";
    generic.description = "Generic";
    dir.Write("generic.inf", generic);
    auto info = testing::kWindows10;
    info.push_back({"bios", "second line"});
    report = ReadReportFields(Base64(testing::ScanData(Devices(), info)), Base64("1"));
  }
  CatalogDir dir;
  Report report;
};

TEST(ResultsJson, HoldsEveryDeviceInReportOrderWithItsCandidatesBestFirst) {
  Fixture f;
  const nlohmann::json j = ResultsJson(f.report, MatchReport(f.report, f.dir.Build()));
  EXPECT_EQ(j["computer"]["Version"], "10.0.19045");
  EXPECT_EQ(j["computer"]["bios"], "ACME 1.0\nsecond line");
  ASSERT_EQ(j["devices"].size(), 2u);
  const nlohmann::json& kb = j["devices"][0];
  EXPECT_EQ(kb["name"], "Keyboard");
  EXPECT_EQ(kb["hardware_ids"], nlohmann::json({"ACPI\\PNP0303", "*PNP0303"}));
  EXPECT_EQ(kb["problem"], 0);
  EXPECT_EQ(kb["installed"], nlohmann::json({{"inf", "keyboard.inf"},
                                             {"version", "10.0.1.0"},
                                             {"date", "2006-06-21"},
                                             {"provider", "Microsoft"}}));
  EXPECT_TRUE(kb["candidates"].empty());
  const nlohmann::json& net = j["devices"][1];
  EXPECT_EQ(net["problem"], 28);
  EXPECT_EQ(net["compatible_ids"], nlohmann::json({"PCI\\VEN_8086&DEV_15B8"}));
  ASSERT_EQ(net["candidates"].size(), 2u);
  const nlohmann::json& best = net["candidates"][0];
  EXPECT_EQ(best["inf"], "intel/e1d.inf");
  EXPECT_EQ(best["description"], kHostile);
  EXPECT_EQ(best["provider"], "Acme");
  EXPECT_EQ(best["class"], "Net");
  EXPECT_EQ(best["driver_date"], "2024-03-04");
  EXPECT_EQ(best["driver_version"], "12.19.1.37");
  EXPECT_EQ(best["matched_id"], "PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028");
  EXPECT_EQ(best["match"], "hardware");
  // Windows' own number: signed, FeatureScore 0xFF, device hardware id 1.
  EXPECT_EQ(best["rank"], 0x00FF0001);
  EXPECT_EQ(best["rank_hex"], "0x00FF0001");
  EXPECT_EQ(best["signature"], "signed");
  EXPECT_EQ(best["feature_score"], 0xFF);
  EXPECT_EQ(best["identifier_score"], 1);
  EXPECT_EQ(net["candidates_omitted"], 0);
  EXPECT_EQ(best["newer_than_installed"], false);
  EXPECT_EQ(net["candidates"][1]["match"], "compatible");
}

TEST(ResultsPage, ShowsEveryValueAsTextAndDevicesNeedingAttentionFirst) {
  Fixture f;
  const std::string html = ResultsPage(f.report, MatchReport(f.report, f.dir.Build()));
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt; &amp;amp; &#39;quoted&#39;"),
            std::string::npos);
  EXPECT_NE(html.find("Ethernet &lt;b&gt;bold&lt;/b&gt;"), std::string::npos);
  EXPECT_LT(html.find("Ethernet &lt;b&gt;"),
            html.find("Keyboard"));  // attention first, though second in the report
  EXPECT_NE(html.find("Content-Security-Policy\" content=\"default-src 'none'"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("src="), html.find("src=x"));       // the only "src=" is the escaped text
  EXPECT_NE(html.find("--bad-soft"), std::string::npos);  // the report page's style
  EXPECT_NE(html.find("1 alternative"), std::string::npos);
}

class Cli : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunMatchCli(args, out_, err_, false);
  }
  std::string WriteReport(const std::string& bytes) {
    const std::string path = (f_.dir.Root() / "report.html").string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  Fixture f_;
  std::ostringstream out_, err_;
};

TEST_F(Cli, MatchesAReportAndWritesJsonAndAPage) {
  const std::string report = WriteReport(
      testing::Page(Base64(testing::ScanData(Devices(), testing::kWindows10)), Base64("1")));
  const std::string page = (f_.dir.Root() / "results.html").string();
  ASSERT_EQ(
      Run({"--catalog", f_.dir.Dir(), "--index", f_.dir.Db(), "--json", "--output", page, report}),
      0)
      << err_.str();
  const nlohmann::json j = nlohmann::json::parse(out_.str());
  EXPECT_EQ(j["devices"][1]["candidates"][0]["inf"], "intel/e1d.inf");
  std::ifstream in(page);
  std::stringstream html;
  html << in.rdbuf();
  EXPECT_NE(html.str().find("Devices that need attention"), std::string::npos);

  // Without --json or --output: a summary in words.
  ASSERT_EQ(Run({"--catalog", f_.dir.Dir(), "--index", f_.dir.Db(), report}), 0);
  EXPECT_NE(out_.str().find("intel/e1d.inf"), std::string::npos);
  EXPECT_NE(out_.str().find("hardware id PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028"),
            std::string::npos);
}

TEST_F(Cli, ExitStatusSaysWhatWentWrong) {
  const std::string good = WriteReport(
      testing::Page(Base64(testing::ScanData(Devices(), testing::kWindows10)), Base64("1")));
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"--catalog"}), 2);
  EXPECT_EQ(Run({"--frobnicate", good}), 2);
  EXPECT_EQ(Run({good, good}), 2);
  EXPECT_EQ(Run({(f_.dir.Root() / "absent.html").string()}), 3);
  EXPECT_NE(err_.str().find("cannot read the report"), std::string::npos);
  EXPECT_EQ(Run({f_.dir.Root().string()}), 3);  // a folder is no report
  const std::string templ = WriteReport(testing::Template());
  EXPECT_EQ(Run({templ}), 3);
  EXPECT_NE(err_.str().find("template"), std::string::npos);
  const std::string good2 = WriteReport(
      testing::Page(Base64(testing::ScanData(Devices(), testing::kWindows10)), Base64("1")));
  EXPECT_EQ(Run({"--catalog", (f_.dir.Root() / "nowhere").string(), "--index", f_.dir.Db(), good2}),
            1);
  EXPECT_NE(err_.str().find("not a folder"), std::string::npos);
  // A page that cannot be written: no partial file left, status 1.
  const std::string blocked = (f_.dir.Root() / "no-such-dir" / "out.html").string();
  EXPECT_EQ(Run({"--output", blocked, good2}), 1);
  EXPECT_FALSE(std::filesystem::exists(blocked));
  EXPECT_EQ(Run({"--json", good2}), 0);  // no catalog: the devices, without candidates
  EXPECT_TRUE(nlohmann::json::parse(out_.str())["devices"][0]["candidates"].empty());
}

}  // namespace
}  // namespace match
