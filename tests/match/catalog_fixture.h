// A catalog folder written by the test and its index, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "catalog/catalog.h"

namespace match::testing {

struct InfPackage {
  std::string ids;            // the model line's ids, comma-separated
  std::string decorations;    // the manufacturer entry's decorations, e.g. ",NTamd64"
  std::string section_suffix = ".NTamd64";  // which models section holds the line
  std::string date = "01/01/2020";
  std::string version = "1.0.0.0";
  bool catalog = true;
  std::string description = "Device";
};

inline std::string InfText(const InfPackage& s) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nProvider=%P%\r\nDriverVer=" + s.date + "," +
         s.version + "\r\n" + (s.catalog ? "CatalogFile=pkg.cat\r\n" : "") + "[Manufacturer]\r\n%P%=M" +
         s.decorations + "\r\n[M" + s.section_suffix + "]\r\n%D%=Inst," + s.ids +
         "\r\n[Strings]\r\nP=\"Acme\"\r\nD=\"" + s.description + "\"\r\n";
}

class CatalogDir {
 public:
  CatalogDir() {
    std::string templ = std::string(KESTROVA_BINARY_DIR) + "/match-test.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = templ;
    std::filesystem::create_directories(root_ / "catalog");
  }
  ~CatalogDir() { std::filesystem::remove_all(root_); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(root_ / "catalog" / name, std::ios::binary) << text;
  }
  void Write(const std::string& name, const InfPackage& package) { Write(name, InfText(package)); }

  std::string Dir() const { return (root_ / "catalog").string(); }
  std::string Db() const { return (root_ / "index.sqlite").string(); }
  std::filesystem::path Root() const { return root_; }

  catalog::Index Build() {
    catalog::UpdateIndex(Db(), {Dir()}, nullptr, nullptr);
    return catalog::Index::Open(Db());
  }

 private:
  std::filesystem::path root_;
};

}  // namespace match::testing
