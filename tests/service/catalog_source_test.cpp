#include "service/catalog_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

namespace service {
namespace {

namespace fs = std::filesystem;

TEST(CatalogSource, RefreshFindsNewFilesAndKeepsTheIndexInUseWhenItFails) {
  fs::path dir =
      fs::temp_directory_path() / ("kestrova-catalog-source-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(KESTROVA_TEST_DATA "/service/catalog", dir / "catalog", fs::copy_options::recursive);
  std::ostringstream log;
  CatalogSource source({(dir / "catalog").string()}, (dir / "index.sqlite").string(), log);
  EXPECT_EQ(source.Current(), nullptr);
  source.Refresh();
  auto first = source.Current();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->LinesForId("ACPI\\INT33A1").empty());
  const size_t lines_before = first->LineCount();

  fs::copy(KESTROVA_TEST_DATA "/service/extra", dir / "catalog" / "extra",
           fs::copy_options::recursive);
  source.Refresh();
  auto second = source.Current();
  ASSERT_EQ(second->LinesForId("acpi\\int33a1").size(), 1u);
  EXPECT_EQ(second->LineCount(), lines_before + 1);
  // A request that began before the refresh still reads through its index
  // (the file is updated in place, in one transaction).
  EXPECT_EQ(first->LinesForId("PCI\\VEN_10EC&DEV_8168").size(), 2u);

  fs::remove_all(dir / "catalog");
  EXPECT_THROW(source.Refresh(), catalog::CatalogError);
  EXPECT_EQ(source.Current(), second);
  EXPECT_EQ(second->LinesForId("ACPI\\INT33A1").size(), 1u);
  EXPECT_NE(log.str().find("catalog: 4 INF files"), std::string::npos) << log.str();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace service
