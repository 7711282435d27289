#include "catalog/inf_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace catalog {
namespace {

std::string ReadData(const std::string& relative) {
  std::ifstream in(std::string(KESTROVA_TEST_DATA) + "/catalog/" + relative, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  EXPECT_TRUE(in) << relative;
  return bytes.str();
}

// UTF-8 text -> UTF-16LE bytes with a byte-order mark (BMP only, enough here).
std::string Utf16Le(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    if (c < 0x80) {
      cp = c;
      i += 1;
    } else if (c < 0xE0) {
      cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
      i += 2;
    } else {
      cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
      i += 3;
    }
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

const std::string kVersion =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nProvider=%Maker%\r\n"
    "DriverVer=07/04/2021,10.2.0.7\r\nCatalogFile=net.cat\r\n";

TEST(InfReader, ReadsAPublishedPackageWithAnOsVersionDecoration) {
  const std::vector<ModelLine> lines =
      ReadInf(ReadData("published/toastpkg.inf"), "toaster/toastpkg.inf");
  ASSERT_EQ(lines.size(), 1u);
  const ModelLine& l = lines[0];
  EXPECT_EQ(l.inf, "toaster/toastpkg.inf");
  EXPECT_EQ(l.description, "Toaster Package Sample Toaster");
  EXPECT_EQ(l.manufacturer, "Toast'R'Us");
  EXPECT_EQ(l.provider, "TODO-Set-Provider");
  EXPECT_EQ(l.class_name, "TOASTER");
  EXPECT_EQ(l.class_guid, "{B85B7C50-6A01-11d2-B841-00C04FAD5171}");
  EXPECT_EQ(l.catalog_file, "toastpkg.cat");
  EXPECT_EQ(l.install_section, "Toaster_Device");
  EXPECT_EQ(l.decoration, "NTamd64.10.0...16299");
  EXPECT_EQ(l.manufacturer_decorations, (std::vector<std::string>{"", "NTamd64.10.0...16299"}));
  EXPECT_EQ(l.driver_date, "2006-09-21");
  EXPECT_EQ(l.driver_version, "6.0.5736.1");
  EXPECT_EQ(l.ids, (std::vector<std::string>{"{b85b7c50-6a01-11d2-b841-00c04fad5171}\\MsToaster"}));
}

TEST(InfReader, ReadsEveryPlatformSectionAndAPlatformCatalog) {
  const std::vector<ModelLine> lines =
      ReadInf(ReadData("published/multiarch/toastpkg.inf"), "t.inf");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].decoration, "NTx86");
  EXPECT_EQ(lines[1].decoration, "NTia64");
  EXPECT_EQ(lines[2].decoration, "NTamd64");
  EXPECT_EQ(lines[0].catalog_file, "tostx86.cat");
}

TEST(InfReader, KeepsSemicolonsInsideQuotedStrings) {
  const std::vector<ModelLine> lines = ReadInf(ReadData("published/lsi_u3.inf"), "lsi_u3.inf");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].description, "LSI Ultra3 PCI SCSI Adapter; 53C1010-33 (StorPort)");
  EXPECT_EQ(lines[1].ids, (std::vector<std::string>{"PCI\\VEN_1000&DEV_0021"}));
  EXPECT_EQ(lines[0].driver_version, "5.9.10.4");  // "5.09.10.04": numbers, as Windows reads them
  EXPECT_EQ(lines[0].decoration, "NT$ARCH$");
  EXPECT_EQ(lines[0].class_guid, "{4D36E97B-E325-11CE-BFC1-08002BE10318}");
}

TEST(InfReader, ReadsAPublishedUtf16Package) {
  const std::vector<ModelLine> lines =
      ReadInf(ReadData("published/netvadapter.inf"), "netvadapter.inf");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].description, "KMDF Microsoft Virtual Ethernet Adapter (NDIS WDF)");
  EXPECT_EQ(lines[0].ids,
            (std::vector<std::string>{"root\\netvadapter"}));  // the comment after it is gone
  EXPECT_EQ(lines[4].install_section, "instance2.ndi");
  EXPECT_EQ(lines[0].provider, "Microsoft");
}

TEST(InfReader, DecodesEveryEncodingToTheSameLines) {
  const std::string text =
      kVersion +
      "[Manufacturer]\r\n%Maker%=Models\r\n[Models]\r\n%Desc%=Inst,PCI\\VEN_1234&DEV_0001\r\n"
      "[Strings]\r\nMaker=\"Acme\"\r\nDesc=\"Caf\xC3\xA9 \xE2\x82\xAC adapter\"\r\n";
  std::string ansi = text;
  ansi.replace(ansi.find("\xC3\xA9"), 2, "\xE9");
  ansi.replace(ansi.find("\xE2\x82\xAC"), 3, "\x80");
  std::string utf16_no_bom = Utf16Le(text).substr(2);
  for (const std::string& bytes : {Utf16Le(text), "\xEF\xBB\xBF" + text, ansi, utf16_no_bom}) {
    const std::vector<ModelLine> lines = ReadInf(bytes, "a.inf");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].description, "Caf\xC3\xA9 \xE2\x82\xAC adapter");
    EXPECT_EQ(lines[0].manufacturer, "Acme");
  }
}

TEST(InfReader, JoinsContinuedLinesAndMergesRepeatedSections) {
  const std::string text =
      kVersion +
      "[Manufacturer]\n%Maker%=Models,\\\n  NTamd64   ; the platform list goes on\n"
      "[Models.NTamd64]\n%Desc%=Inst,\\ ; the ids follow\n  PCI\\VEN_1234&DEV_0001,\\\n"
      "  PCI\\VEN_1234\n"
      "[Strings]\nMaker=Acme\n"
      "[models.ntamd64]\nSecond=Inst2,USB\\VID_1234&PID_0002\n";
  const std::vector<ModelLine> lines = ReadInf(text, "a.inf");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].decoration, "NTamd64");
  EXPECT_EQ(lines[0].ids, (std::vector<std::string>{"PCI\\VEN_1234&DEV_0001", "PCI\\VEN_1234"}));
  EXPECT_EQ(lines[0].description, "%Desc%");  // no string for it: left as written
  EXPECT_EQ(lines[1].description, "Second");
  EXPECT_EQ(lines[1].install_section, "Inst2");
}

// INF Strings Section: one section serves, [Strings.<LANGID>], else the one
// for the primary language, else [Strings]; never a merge of them.
TEST(InfReader, TakesStringsFromTheOneSectionTheLanguageChooses) {
  const std::string text = kVersion +
                           "[Manufacturer]\nAcme=Models\n[Models]\n%A%=Inst,ID\\A\n%B%=Inst,ID\\B\n"
                           "[Strings.0407]\nA=\"Deutsch A\"\nB=\"Deutsch B\"\n"
                           "[Strings.0009]\nA=\"English A\"\n"
                           "[Strings]\nA=\"Neutral A\"\nB=  \" 100%% \"\"sure\"\", of it \"  \n";
  auto descriptions = [&](unsigned language) {
    const std::vector<ModelLine> lines = ReadInf(text, "a.inf", language);
    EXPECT_EQ(lines.size(), 2u);
    return lines.size() == 2 ? lines[0].description + "|" + lines[1].description : std::string();
  };
  EXPECT_EQ(descriptions(0x0407), "Deutsch A|Deutsch B");
  EXPECT_EQ(descriptions(0x0409),
            "English A|%B%");  // 0009 for US English; B is not taken from elsewhere
  EXPECT_EQ(descriptions(0x0809), "English A|%B%");
  EXPECT_EQ(descriptions(0x040C),
            "Neutral A| 100% \"sure\", of it ");  // spaces inside quotes are kept
  EXPECT_EQ(descriptions(0x0807),
            "Neutral A| 100% \"sure\", of it ");  // Swiss German: no 0007, no 0807
}

TEST(InfReader, ReadsDriverVerAndCatalogForms) {
  auto read = [](const std::string& version_lines) {
    return ReadInf("[Version]\nSignature=$Chicago$\n" + version_lines +
                       "\n[Manufacturer]\nAcme=M\n[M]\nDev=Inst,ID\\X\n",
                   "a.inf")
        .at(0);
  };
  const ModelLine plain = read("DriverVer=1/2/2019");
  EXPECT_EQ(plain.driver_date, "2019-01-02");
  EXPECT_EQ(plain.driver_version, "");
  EXPECT_EQ(plain.catalog_file, "");
  const ModelLine both =
      read("DriverVer = 12/31/2020 , 1.2.3\nCatalogFile.NTamd64=b.cat\nCatalogFile=a.cat");
  EXPECT_EQ(both.driver_date, "2020-12-31");
  EXPECT_EQ(both.driver_version, "1.2.3");
  EXPECT_EQ(both.catalog_file, "a.cat");
  const ModelLine none = read("");
  EXPECT_EQ(none.driver_date, "");
}

TEST(InfReader, LinesWithoutAHardwareIdAreLeftOut) {
  // Printer packages list models to be chosen by hand, without ids.
  const std::vector<ModelLine> lines = ReadInf(
      kVersion +
          "[Manufacturer]\nA=M\n[M]\n\"Printer 100\" = P100.GPD\n\"Printer 200\" = P200.GPD,,\n"
          "\"Printer 300\" = P300.GPD,USBPRINT\\ACMEPRINTER_30012AB\n",
      "prn.inf");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].description, "Printer 300");
}

TEST(InfReader, AnInfWithoutDevicesHasNoModelLines) {
  EXPECT_TRUE(ReadInf("[Version]\nSignature=\"$Windows NT$\"\nClass=Net\n", "filter.inf").empty());
  // A package for decorated platforms only has no undecorated section.
  EXPECT_EQ(
      ReadInf(kVersion + "[Manufacturer]\nA=M,NTarm64\n[M.NTarm64]\nD=I,ID\\1\n", "a.inf").size(),
      1u);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  int line;
  const char* reason_part;
};

TEST(InfReader, RejectsMalformedFilesWithWhereAndWhy) {
  const MalformedCase cases[] = {
      {"no version", "[Manufacturer]\nA=M\n", 0, "no [Version]"},
      {"no signature", "[Version]\nClass=Net\n", 1, "no Signature"},
      {"odd signature", "[Version]\nSignature=$Linux$\n", 2, "Signature"},
      {"open section", "[Version\nSignature=$Chicago$\n", 1, "']'"},
      {"text first is no [Version]", "Signature=$Chicago$\n[Version]\n", 2, "no Signature"},
      {"odd utf-16", std::string("\xFF\xFE[\0V\0e", 7), 0, "odd number"},
      {"binary",
       std::string("\x7F"
                   "ELF\0\0\x01",
                   7),
       0, "binary"},
  };
  for (const MalformedCase& c : cases) {
    try {
      ReadInf(c.bytes, "bad.inf");
      ADD_FAILURE() << c.name << ": read without complaint";
    } catch (const InfError& e) {
      EXPECT_EQ(e.line, c.line) << c.name;
      EXPECT_NE(e.reason.find(c.reason_part), std::string::npos) << c.name << ": " << e.reason;
    }
  }
}

// Every published INF of the corpus (Windows driver samples, the inbox-style
// INFs of an open-source system) read whole, each model line as the second,
// independent reading in published/read_models.py found it.
TEST(InfReader, ReadsEveryPublishedInfAsAnIndependentReadingDoes) {
  std::map<std::string, std::vector<std::string>> expected;
  std::istringstream rows(ReadData("published/expected_models.tsv"));
  for (std::string row; std::getline(rows, row);) {
    if (!row.empty()) expected[row.substr(0, row.find('\t'))].push_back(row);
  }
  const std::filesystem::path root =
      std::filesystem::path(KESTROVA_TEST_DATA) / "catalog" / "published";
  size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".inf") continue;
    const std::string rel = entry.path().lexically_relative(root).generic_string();
    ++files;
    std::vector<std::string> got;
    for (const ModelLine& m : ReadInf(ReadData("published/" + rel), rel)) {
      std::string ids;
      for (size_t i = 0; i < m.ids.size(); ++i) ids += (i ? "|" : "") + m.ids[i];
      got.push_back(rel + "\t" + m.decoration + "\t" + m.description + "\t" + ids);
    }
    EXPECT_EQ(got, expected[rel]) << rel;
  }
  EXPECT_EQ(files, expected.size());
  EXPECT_GE(files, 20u);
}

// What Windows reads rather than refuses (Wine's setupapi parser
// conformance tests, run against Windows, pin the quote and section cases).
TEST(InfReader, ReadsAsLenientlyAsWindows) {
  const std::string text =
      "stray text before any section\n"
      "[Version]\nSignature=\"$Windows NT$\nDriverVer=2021-13-01,1.x\n"  // an open quote; a date
                                                                         // and version unread
      "[]\nwhatever=1\n"
      "[Manufacturer]\nAcme=M,NTamd64,NTarm64\n"  // no [M.NTarm64]: a platform not in use costs
                                                  // nothing
      "[M.NTamd64]\n"
      "%D%=Inst,PCI\\VEN_1234&\\\n DEV_9999\n"  // joined with nothing between
      "%D%=Inst,,HID_DEVICE\n"                  // no hardware id: its compatible ids still count
      "No install section=,ID\\X\n"
      "Inst,ID\\NO_DESCRIPTION\n"
      "[Strings]\nD=\"Souris ; optique\n";  // a translated string whose quote is never closed
  const std::vector<ModelLine> lines = ReadInf(text, "a.inf");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].ids, (std::vector<std::string>{"PCI\\VEN_1234&DEV_9999"}));
  EXPECT_EQ(lines[1].ids, (std::vector<std::string>{"", "HID_DEVICE"}));
  EXPECT_EQ(lines[0].description, "Souris ; optique");
  EXPECT_EQ(lines[0].driver_date, "");     // 00/00/0000: ranks oldest
  EXPECT_EQ(lines[0].driver_version, "");  // 0.0.0.0
}

// INF Version Section (CatalogFile.NTamd64, .NT, plain) and INF DDInstall
// Section (Inst.NTamd64, Inst.NT, Inst: FeatureScore, DriverVer, ExcludeID).
TEST(InfReader, ResolvesCatalogAndInstallSectionForTheLinesPlatform) {
  const std::vector<ModelLine> lines = ReadInf(
      "[Version]\nSignature=$Windows "
      "NT$\nDriverVer=01/01/2020,1.0\nCatalogFile=all.cat\nCatalogFile.NTamd64=x64.cat\n"
      "[Manufacturer]\nA=M,NTx86,NTamd64,NTarm64\n[M.NTx86]\nD=Inst,ID\\1\n[M.NTamd64]\nD=Inst,"
      "ID\\1\n"
      "[M.NTarm64]\nD=Inst,ID\\1\n"
      "[Inst.NTamd64]\nFeatureScore=0xFE\nDriverVer=02/03/2024,2.0.0.0\nExcludeID=ID\\2, %X%\n"
      "[Inst.NT]\nFeatureScore=80\n[Strings]\nX=ID\\3\n",
      "a.inf");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].catalog_file, "all.cat");
  EXPECT_EQ(lines[0].feature_score, 0x80);
  EXPECT_TRUE(lines[0].install_section_nt);
  EXPECT_EQ(lines[0].driver_date, "2020-01-01");
  EXPECT_EQ(lines[1].catalog_file, "x64.cat");
  EXPECT_EQ(lines[1].feature_score, 0xFE);
  EXPECT_EQ(lines[1].driver_date, "2024-02-03");
  EXPECT_EQ(lines[1].driver_version, "2.0.0.0");
  EXPECT_EQ(lines[1].exclude_ids, (std::vector<std::string>{"ID\\2", "ID\\3"}));
  EXPECT_EQ(lines[2].catalog_file, "all.cat");
  EXPECT_EQ(lines[2].feature_score, 0x80);
}

TEST(InfReader, RefusesAHostileFileOverTheBoundsInBoundedTime) {
  // One long models section named by many manufacturer entries is read once.
  std::string models;
  for (int i = 0; i < 2000; ++i)
    models += "D" + std::to_string(i) + "=Inst,ID\\" + std::to_string(i) + "\n";
  std::string makers;
  for (int i = 0; i < 200; ++i) makers += "A" + std::to_string(i) + "=M,NTamd64\n";
  EXPECT_EQ(ReadInf("[Version]\nSignature=$Windows NT$\n[Manufacturer]\n" + makers +
                        "[M.NTamd64]\n" + models,
                    "a.inf")
                .size(),
            2000u);
  // More distinct lines than the cap.
  std::string many;
  for (size_t i = 0; i <= kMaxModelLines; ++i) many += "D=Inst,ID\\" + std::to_string(i) + "\n";
  try {
    ReadInf("[Version]\nSignature=$Windows NT$\n[Manufacturer]\nA=M\n[M]\n" + many, "a.inf");
    ADD_FAILURE() << "read a file over the model line cap";
  } catch (const InfError& e) {
    EXPECT_NE(e.reason.find("model lines"), std::string::npos) << e.reason;
  }
  // One string repeated until the description is megabytes.
  std::string repeated;
  for (int i = 0; i < 300; ++i) repeated += "%S%";
  try {
    ReadInf("[Version]\nSignature=$Windows NT$\n[Manufacturer]\nA=M\n[M]\n" + repeated +
                "=Inst,ID\\1\n[Strings]\nS=\"" + std::string(100, 'x') + "\"\n",
            "a.inf");
    ADD_FAILURE() << "read a string expanded past the cap";
  } catch (const InfError& e) {
    EXPECT_EQ(e.line, 6);
    EXPECT_NE(e.reason.find("expands to more than 4096"), std::string::npos) << e.reason;
  }
}

}  // namespace
}  // namespace catalog
