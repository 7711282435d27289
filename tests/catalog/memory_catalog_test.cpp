#include "catalog/memory_catalog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "catalog/catalog.h"
#include "catalog/inf_reader.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Every field a lookup gives, for comparison.
auto Fields(const ModelLine& m) {
  return std::tie(m.inf, m.description, m.provider, m.class_name, m.class_guid, m.install_section,
                  m.manufacturer, m.decoration, m.catalog_file, m.catalog_present,
                  m.install_section_nt, m.feature_score, m.driver_date, m.driver_version, m.ids,
                  m.exclude_ids, m.manufacturer_decorations, m.catalog_dir);
}

// The published and crafted packages of the fixture catalog, read into
// memory, give every id the lines the index gives, in the same order.
TEST(MemoryCatalogTest, GivesTheLinesAndOrderOfTheIndex) {
  const std::string data = KESTROVA_TEST_DATA "/catalog";
  std::string temp = std::string(KESTROVA_BINARY_DIR) + "/memory-catalog-test.XXXXXX";
  ASSERT_NE(mkdtemp(temp.data()), nullptr);
  const std::string db = temp + "/index.sqlite";
  size_t indexed_malformed = 0, read_malformed = 0;
  UpdateIndex(
      db, {data + "/e2e", data + "/published"},
      [&](const std::string&, int, const std::string&) { ++indexed_malformed; }, nullptr);
  const Index index = Index::Open(db);
  // The folders in the other order, one twice: the same catalog.
  const MemoryCatalog memory = MemoryCatalog::Read(
      {data + "/published", data + "/e2e", data + "/e2e/"}, nullptr,
      [&](const std::string&, int, const std::string&) { ++read_malformed; }, nullptr);
  EXPECT_EQ(read_malformed, indexed_malformed);
  EXPECT_GT(read_malformed, 0u);
  ASSERT_EQ(memory.LineCount(), index.LineCount());
  ASSERT_GT(memory.LineCount(), 50u);

  // Every id the catalog's INF files name (every other one in lower case:
  // lookups ignore case), and one no file names.
  std::vector<std::string> ids{"NO\\SUCH_ID"};
  for (const auto& entry : fs::recursive_directory_iterator(data)) {
    if (entry.path().extension() != ".inf") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    try {
      for (const ModelLine& line : ReadInf(bytes.str(), "x.inf"))
        for (const std::string& id : line.ids)
          if (!id.empty()) ids.push_back(ids.size() % 2 ? id : Lower(id));
    } catch (const InfError&) {
    }
  }
  ASSERT_GT(ids.size(), 50u);
  const auto from_index = index.LinesForIds(ids);
  const auto from_memory = memory.LinesForIds(ids);
  ASSERT_EQ(from_memory.size(), from_index.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_EQ(from_memory[i].size(), from_index[i].size()) << ids[i];
    for (size_t j = 0; j < from_index[i].size(); ++j)
      EXPECT_TRUE(Fields(from_memory[i][j]) == Fields(from_index[i][j])) << ids[i] << " #" << j;
  }

  // A line that holds two of the ids asked for is the same object in both
  // lists, from either catalog.
  const auto two = std::find_if(from_index.begin(), from_index.end(), [](const auto& lines) {
    return !lines.empty() && lines[0].ids.size() > 1 && !lines[0].ids[0].empty() &&
           !platform::EqualsIgnoringAsciiCase(lines[0].ids[0], lines[0].ids[1]);
  });
  ASSERT_NE(two, from_index.end());
  const std::vector<std::string> pair{(*two)[0].ids[1], Lower((*two)[0].ids[0])};
  for (const LineSource* source : std::vector<const LineSource*>{&index, &memory}) {
    const auto shared = source->SharedLinesForIds(pair, nullptr);
    ASSERT_FALSE(shared[1].empty());
    EXPECT_NE(std::find(shared[0].begin(), shared[0].end(), shared[1][0]), shared[0].end());
  }

  // Kept to the ids asked for, the lines of those ids are the same.
  const std::vector<std::string> wanted{ids[1]};
  const MemoryCatalog kept =
      MemoryCatalog::Read({data + "/e2e", data + "/published"}, &wanted, nullptr, nullptr);
  EXPECT_EQ(kept.LinesForIds(wanted)[0].size(), from_index[1].size());
  EXPECT_LT(kept.LineCount(), memory.LineCount());
  fs::remove_all(temp);
}

}  // namespace
}  // namespace catalog
