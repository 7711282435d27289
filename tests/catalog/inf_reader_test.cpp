#include "catalog/inf_reader.h"

#include <gtest/gtest.h>

#include <fstream>
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
  const std::vector<ModelLine> lines = ReadInf(ReadData("published/toastpkg.inf"), "toaster/toastpkg.inf");
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
  const std::vector<ModelLine> lines = ReadInf(ReadData("published/multiarch/toastpkg.inf"), "t.inf");
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
  const std::vector<ModelLine> lines = ReadInf(ReadData("published/netvadapter.inf"), "netvadapter.inf");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].description, "KMDF Microsoft Virtual Ethernet Adapter (NDIS WDF)");
  EXPECT_EQ(lines[0].ids, (std::vector<std::string>{"root\\netvadapter"}));  // the comment after it is gone
  EXPECT_EQ(lines[4].install_section, "instance2.ndi");
  EXPECT_EQ(lines[0].provider, "Microsoft");
}

TEST(InfReader, DecodesEveryEncodingToTheSameLines) {
  const std::string text = kVersion +
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
  const std::string text = kVersion +
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

TEST(InfReader, TakesStringsFromTheNeutralTableFirstThenUsEnglishThenAnyLanguage) {
  const std::string text = kVersion +
                           "[Manufacturer]\nAcme=Models\n[Models]\n%A%=Inst,ID\\A\n%B%=Inst,ID\\B\n%C%=Inst,ID\\C\n"
                           "%D%=Inst,ID\\D\n"
                           "[Strings.0407]\nA=\"Deutsch A\"\nB=\"Deutsch B\"\nC=\"Deutsch C\"\n"
                           "[Strings.0409]\nA=\"English A\"\nB=\"English B\"\n"
                           "[Strings]\nA=\"Neutral A\"\nD=  \" 100%% \"\"sure\"\", of it \"  \n";
  const std::vector<ModelLine> lines = ReadInf(text, "a.inf");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].description, "Neutral A");
  EXPECT_EQ(lines[1].description, "English B");
  EXPECT_EQ(lines[2].description, "Deutsch C");
  EXPECT_EQ(lines[3].description, " 100% \"sure\", of it ");  // spaces inside quotes are kept
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
  const ModelLine both = read("DriverVer = 12/31/2020 , 1.2.3\nCatalogFile.NTamd64=b.cat\nCatalogFile=a.cat");
  EXPECT_EQ(both.driver_date, "2020-12-31");
  EXPECT_EQ(both.driver_version, "1.2.3");
  EXPECT_EQ(both.catalog_file, "a.cat");
  const ModelLine none = read("");
  EXPECT_EQ(none.driver_date, "");
}

TEST(InfReader, LinesWithoutAHardwareIdAreLeftOut) {
  // Printer packages list models to be chosen by hand, without ids.
  const std::vector<ModelLine> lines =
      ReadInf(kVersion + "[Manufacturer]\nA=M\n[M]\n\"Printer 100\" = P100.GPD\n\"Printer 200\" = P200.GPD,,\n"
                         "\"Printer 300\" = P300.GPD,USBPRINT\\ACMEPRINTER_30012AB\n",
              "prn.inf");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].description, "Printer 300");
}

TEST(InfReader, AnInfWithoutDevicesHasNoModelLines) {
  EXPECT_TRUE(ReadInf("[Version]\nSignature=\"$Windows NT$\"\nClass=Net\n", "filter.inf").empty());
  // A package for decorated platforms only has no undecorated section.
  EXPECT_EQ(ReadInf(kVersion + "[Manufacturer]\nA=M,NTarm64\n[M.NTarm64]\nD=I,ID\\1\n", "a.inf").size(), 1u);
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  int line;
  const char* reason_part;
};

TEST(InfReader, RejectsMalformedFilesWithWhereAndWhy) {
  const std::string models = "[Manufacturer]\nA=M\n[M]\n";
  const MalformedCase cases[] = {
      {"no version", "[Manufacturer]\nA=M\n", 0, "no [Version]"},
      {"no signature", "[Version]\nClass=Net\n", 1, "no Signature"},
      {"odd signature", "[Version]\nSignature=$Linux$\n", 2, "Signature"},
      {"open quote", "[Version]\nSignature=\"$Windows NT$\nClass=Net\n", 2, "quoted string"},
      {"open section", "[Version\nSignature=$Chicago$\n", 1, "']'"},
      {"text first", "Signature=$Chicago$\n[Version]\n", 1, "before the first section"},
      {"bad date", "[Version]\nSignature=$Chicago$\nDriverVer=2021-13-01,1.0\n", 3, "DriverVer date"},
      {"bad version", "[Version]\nSignature=$Chicago$\nDriverVer=01/13/2021,1.x\n", 3, "DriverVer version"},
      {"no install section", "[Version]\nSignature=$Chicago$\n" + models + "Dev=,ID\\1\n", 6, "install section"},
      {"no description", "[Version]\nSignature=$Chicago$\n" + models + "Inst,ID\\1\n", 6, "'='"},
      {"missing platform section", "[Version]\nSignature=$Chicago$\n[Manufacturer]\nA=M,NTamd64\n[M]\nD=I,ID\\1\n", 4,
       "[M.NTamd64]"},
      {"odd utf-16", std::string("\xFF\xFE[\0V\0e", 7), 0, "odd number"},
      {"binary", std::string("\x7F" "ELF\0\0\x01", 7), 0, "binary"},
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

}  // namespace
}  // namespace catalog
