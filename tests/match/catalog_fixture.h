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
  std::string ids;                          // the model line's ids, comma-separated
  std::string decorations;                  // the manufacturer entry's decorations, e.g. ",NTamd64"
  std::string section_suffix = ".NTamd64";  // which models section holds the line
  std::string date = "01/01/2020";
  std::string version = "1.0.0.0";
  bool catalog = true;
  std::string catalog_directive = "CatalogFile";  // or "CatalogFile.NTamd64"...
  std::string catalog_name = "pkg.cat";
  bool catalog_on_disk = true;  // the catalog file is written beside the INF
  std::string install_suffix;   // e.g. ".NTamd64": an install section [Inst<suffix>] is written
  std::string install_lines;    // its directives, "\r\n"-terminated
  std::string description = "Device";
};

inline std::string InfText(const InfPackage& s) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nProvider=%P%\r\nDriverVer=" +
         s.date + "," + s.version + "\r\n" +
         (s.catalog ? s.catalog_directive + "=" + s.catalog_name + "\r\n" : "") +
         "[Manufacturer]\r\n%P%=M" + s.decorations + "\r\n[M" + s.section_suffix +
         "]\r\n%D%=Inst," + s.ids + "\r\n" +
         (s.install_suffix.empty() && s.install_lines.empty()
              ? ""
              : "[Inst" + s.install_suffix + "]\r\n") +
         s.install_lines + "[Strings]\r\nP=\"Acme\"\r\nD=\"" + s.description + "\"\r\n";
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
    const std::filesystem::path p = root_ / "catalog" / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  // The INF, and its catalog file beside it when the package has one on disk.
  void Write(const std::string& name, const InfPackage& package) {
    Write(name, InfText(package));
    if (package.catalog && package.catalog_on_disk) {
      Write((std::filesystem::path(name).parent_path() / package.catalog_name).string(), "catalog");
    }
  }

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
