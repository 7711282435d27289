#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "catalog/catalog.h"
#include "catalog/folder_walk.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace catalog {
namespace {

class IndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = std::string(KESTROVA_BINARY_DIR) + "/catalog-test.XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    root_ = templ;
    catalog_ = root_ / "catalog";
    db_ = (root_ / "cache" / "index.sqlite").string();
    fs::create_directories(catalog_);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& relative, const std::string& text) {
    const fs::path p = catalog_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }

  static std::string Inf(const std::string& id, const std::string& desc) {
    return "[Version]\nSignature=\"$Windows "
           "NT$\"\nDriverVer=01/02/2020,1.0.0.0\n[Manufacturer]\nAcme=M,NTamd64\n"
           "[M.NTamd64]\n\"" +
           desc + "\"=Inst," + id + ",GENERIC\\ID\n";
  }

  UpdateStats Update(std::vector<std::string>* malformed = nullptr) {
    return UpdateIndex(
        db_, {catalog_.string()},
        [&](const std::string& file, int line, const std::string& reason) {
          if (malformed) malformed->push_back(file + ":" + std::to_string(line) + ": " + reason);
        },
        nullptr);
  }

  fs::path root_, catalog_;
  std::string db_;
};

TEST_F(IndexTest, IndexesEveryInfUnderTheFoldersInAnyCaseOfTheName) {
  Write("a/one.inf", Inf("PCI\\VEN_1111&DEV_0001", "One"));
  Write("b/deep/TWO.INF", Inf("PCI\\VEN_1111&DEV_0002", "Two"));
  Write("b/three.Inf", Inf("PCI\\VEN_1111&DEV_0003", "Three"));
  Write("b/notes.txt", Inf("PCI\\VEN_1111&DEV_0004", "Not an INF"));
  std::vector<std::string> malformed;
  const UpdateStats s = Update(&malformed);
  EXPECT_EQ(s.scanned, 3u);
  EXPECT_EQ(s.reread, 3u);
  EXPECT_TRUE(malformed.empty());

  const Index index = Index::Open(db_);
  const std::vector<ModelLine> lines = index.LinesForId("pci\\ven_1111&dev_0002");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].inf, "b/deep/TWO.INF");
  EXPECT_EQ(lines[0].catalog_dir, fs::weakly_canonical(catalog_).generic_string());
  EXPECT_EQ(lines[0].description, "Two");
  EXPECT_EQ(lines[0].ids, (std::vector<std::string>{"PCI\\VEN_1111&DEV_0002", "GENERIC\\ID"}));
  EXPECT_EQ(lines[0].manufacturer_decorations, (std::vector<std::string>{"", "NTamd64"}));
  EXPECT_EQ(lines[0].decoration, "NTamd64");
  EXPECT_EQ(lines[0].driver_date, "2020-01-02");
  EXPECT_EQ(index.LinesForId("GENERIC\\id").size(), 3u);  // a further id finds its lines too
  EXPECT_TRUE(index.LinesForId("PCI\\VEN_1111&DEV_0004").empty());
  EXPECT_EQ(index.LineCount(), 3u);
  // A batch gives each id what a lookup of its own gives, in order.
  const auto batch =
      index.LinesForIds({"GENERIC\\ID", "PCI\\VEN_1111&DEV_0004", "pci\\ven_1111&dev_0002"});
  ASSERT_EQ(batch.size(), 3u);
  EXPECT_EQ(batch[0].size(), 3u);
  EXPECT_TRUE(batch[1].empty());
  ASSERT_EQ(batch[2].size(), 1u);
  EXPECT_EQ(batch[2][0].inf, "b/deep/TWO.INF");
}

// More files than the readers may run ahead of the writer, in several top
// folders (walked on several threads): each is stored with its own lines, in
// path order, and a malformed one among them is named rightly.
TEST_F(IndexTest, ManyFilesAreStoredInPathOrderEachWithItsOwnLines) {
  constexpr int kFiles = 1300;
  for (int f = 0; f < kFiles; ++f)
    Write("v" + std::to_string(f % 7) + "/p" + std::to_string(f) + "/x.inf",
          Inf("ID\\SHARED", "File " + std::to_string(f)));
  Write("v3/p650/broken.inf", "[Version]\nSignature=\"$Nothing$\"\n");
  std::vector<std::string> malformed;
  EXPECT_EQ(Update(&malformed).reread, kFiles + 1u);
  ASSERT_EQ(malformed.size(), 1u);
  EXPECT_NE(malformed[0].find("/v3/p650/broken.inf:"), std::string::npos) << malformed[0];

  const std::vector<ModelLine> lines = Index::Open(db_).LinesForId("ID\\SHARED");
  ASSERT_EQ(lines.size(), static_cast<size_t>(kFiles));
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& inf = lines[i].inf;
    if (i > 0) {
      EXPECT_LT(lines[i - 1].inf, inf);
    }
    const size_t p = inf.find("/p") + 2;
    EXPECT_EQ(lines[i].description, "File " + inf.substr(p, inf.find('/', p) - p)) << inf;
  }
}

// A report asks for hundreds of ids at once: each still gets its own lines,
// in the order asked, ids alike but for case alike, and a line that holds two
// of them is one object in both lists.
TEST_F(IndexTest, ABatchOfManyIdsGivesEachItsOwnLines) {
  constexpr int kFiles = 300;
  for (int f = 0; f < kFiles; ++f)
    Write("p" + std::to_string(1000 + f) + ".inf",
          Inf("ID\\N" + std::to_string(f), "File " + std::to_string(f)));
  Update();
  std::vector<std::string> ids;
  for (int f = kFiles - 1; f >= 0; --f) {
    ids.push_back("ID\\N" + std::to_string(f));
    if (f % 50 == 0) ids.push_back("id\\n" + std::to_string(f));
  }
  ids.push_back("GENERIC\\ID");
  const auto lines = Index::Open(db_).SharedLinesForIds(ids, nullptr);
  ASSERT_EQ(lines.size(), ids.size());
  for (size_t i = 0; i + 1 < ids.size(); ++i) {
    ASSERT_EQ(lines[i].size(), 1u) << ids[i];
    EXPECT_EQ("ID\\N" + lines[i][0]->description.substr(5), platform::AsciiUpper(ids[i]));
  }
  ASSERT_EQ(lines.back().size(), static_cast<size_t>(kFiles));
  EXPECT_EQ(lines.back().front()->description, "File 0");  // in path order
  EXPECT_EQ(lines.back().back()->description, "File 299");
  EXPECT_EQ(lines[0][0].get(), lines.back().back().get());
}

// The matcher keeps one models section per manufacturer: the index asks
// before reading a line, telling the decorations the line is read with.
TEST_F(IndexTest, AFilterSeesEachLinesDecorationsAndDropsTheLinesItRefuses) {
  Write("multi.inf",
        "[Version]\nSignature=\"$Windows NT$\"\n[Manufacturer]\nAcme=M,NTamd64,NTx86\n"
        "[M.NTamd64]\n\"Wide\"=Inst,ID\\MULTI\n[M.NTx86]\n\"Narrow\"=Inst,ID\\MULTI\n");
  Update();
  const Index index = Index::Open(db_);
  std::vector<std::vector<std::string>> told;
  const auto lines = index.LinesForIds(
      {"id\\multi"}, [&](const std::vector<std::string>& all, std::string_view decoration) {
        told.push_back(all);
        return decoration == "NTx86";
      });
  ASSERT_EQ(lines[0].size(), 1u);
  EXPECT_EQ(lines[0][0].description, "Narrow");
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], lines[0][0].manufacturer_decorations);
  EXPECT_EQ(told[1], told[0]);
  EXPECT_EQ(index.LinesForIds({"ID\\MULTI"})[0].size(), 2u);  // no filter, every line
}

TEST_F(IndexTest, RereadsOnlyChangedFilesAndForgetsVanishedOnes) {
  Write("one.inf", Inf("ID\\ONE", "One"));
  Write("two.inf", Inf("ID\\TWO", "Two"));
  Write("three.inf", Inf("ID\\THREE", "Three"));
  Update();

  const UpdateStats same = Update();
  EXPECT_EQ(same.scanned, 3u);
  EXPECT_EQ(same.reread, 0u);

  Write("two.inf", Inf("ID\\TWO", "Two, revised"));
  fs::last_write_time(catalog_ / "two.inf",
                      fs::file_time_type::clock::now() + std::chrono::hours(1));
  fs::remove(catalog_ / "three.inf");
  const UpdateStats changed = Update();
  EXPECT_EQ(changed.reread, 1u);
  EXPECT_EQ(changed.removed, 1u);

  const Index index = Index::Open(db_);
  ASSERT_EQ(index.LinesForId("ID\\TWO").size(), 1u);
  EXPECT_EQ(index.LinesForId("ID\\TWO")[0].description, "Two, revised");
  EXPECT_TRUE(index.LinesForId("ID\\THREE").empty());
  EXPECT_EQ(index.LineCount(), 2u);
}

TEST_F(IndexTest, RereadsAFileOfTheSameSizeWithANewTime) {
  Write("one.inf", Inf("ID\\ONE", "Old"));
  Update();
  Write("one.inf", Inf("ID\\ONE", "New"));  // the same number of bytes
  fs::last_write_time(catalog_ / "one.inf",
                      fs::file_time_type::clock::now() + std::chrono::hours(2));
  EXPECT_EQ(Update().reread, 1u);
  const std::vector<ModelLine> lines = Index::Open(db_).LinesForId("ID\\ONE");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].description, "New");
}

// An index kept open (as the service keeps one) answers from what an update
// in place wrote since: ids added, ids gone, an id still held by another file.
TEST_F(IndexTest, AnOpenIndexSeesIdsAnUpdateAddedOrRemoved) {
  Write("one.inf", Inf("ID\\OLD", "One"));
  Write("two.inf", Inf("ID\\TWO", "Two"));
  Update();
  const Index index = Index::Open(db_);
  ASSERT_EQ(index.LinesForId("ID\\OLD").size(), 1u);

  Write("one.inf", Inf("ID\\NEWER", "One"));
  fs::last_write_time(catalog_ / "one.inf",
                      fs::file_time_type::clock::now() + std::chrono::hours(3));
  Write("three.inf", Inf("ID\\THREE", "Three"));
  EXPECT_EQ(Update().reread, 2u);
  EXPECT_TRUE(index.LinesForId("ID\\OLD").empty());
  EXPECT_EQ(index.LinesForId("ID\\NEWER").size(), 1u);
  EXPECT_EQ(index.LinesForId("ID\\THREE").size(), 1u);

  fs::remove(catalog_ / "one.inf");
  Update();
  EXPECT_TRUE(index.LinesForId("ID\\NEWER").empty());
  EXPECT_EQ(index.LinesForId("GENERIC\\ID").size(), 2u);  // still in two.inf and three.inf
  EXPECT_EQ(Index::Open(db_).LinesForId("GENERIC\\ID").size(), 2u);
}

TEST_F(IndexTest, LinksLeadingOutOfTheFolderAreNotFollowed) {
  const fs::path outside = root_ / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "secret.inf") << Inf("ID\\OUTSIDE", "Outside");
  Write("inside.inf", Inf("ID\\INSIDE", "Inside"));
  fs::create_symlink(outside / "secret.inf", catalog_ / "link.inf");
  fs::create_directory_symlink(outside, catalog_ / "linked_folder");
  fs::create_symlink(catalog_ / "inside.inf", catalog_ / "alias.inf");  // stays inside: read
  EXPECT_EQ(Update().scanned, 2u);
  const Index index = Index::Open(db_);
  EXPECT_TRUE(index.LinesForId("ID\\OUTSIDE").empty());
  EXPECT_EQ(index.LinesForId("ID\\INSIDE").size(), 2u);
}

TEST_F(IndexTest, ACatalogFileCountsWhenItIsInThePackageFolder) {
  Write("pkg/net.inf",
        "[Version]\nSignature=$Windows NT$\nCatalogFile=Net.cat\n[Manufacturer]\nA=M,NTamd64\n"
        "[M.NTamd64]\nD=Inst,ID\\NET\n");
  Write("other/net.cat", "catalog");  // another package's catalog signs nothing here
  Update();
  EXPECT_FALSE(Index::Open(db_).LinesForId("ID\\NET").at(0).catalog_present);
  Write("pkg/NET.CAT", "catalog");  // names compare without regard to case, as on Windows
  EXPECT_EQ(Update().reread, 1u);   // the INF did not change; its catalog came
  const ModelLine line = Index::Open(db_).LinesForId("ID\\NET").at(0);
  EXPECT_TRUE(line.catalog_present);
  EXPECT_EQ(line.catalog_file, "Net.cat");
  EXPECT_EQ(Update().reread, 0u);
}

TEST_F(IndexTest, ReportsMalformedFilesEveryRunAndIndexesTheRest) {
  Write("good.inf", Inf("ID\\GOOD", "Good"));
  Write("bad.inf", "[Version]\nClass=Net\n");
  std::vector<std::string> first, second;
  EXPECT_EQ(Update(&first).malformed, 1u);
  EXPECT_EQ(Update(&second).malformed, 1u);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first, second);
  EXPECT_NE(first[0].find("bad.inf:1: [Version] has no Signature"), std::string::npos) << first[0];
  EXPECT_EQ(Index::Open(db_).LinesForId("ID\\GOOD").size(), 1u);
}

TEST_F(IndexTest, AnInterruptedUpdateLeavesThePreviousIndexWhole) {
  Write("one.inf", Inf("ID\\ONE", "One"));
  Write("two.inf", Inf("ID\\TWO", "Two"));
  Update();
  fs::remove(catalog_ / "one.inf");
  Write("two.inf", Inf("ID\\NEW", "New"));
  fs::last_write_time(catalog_ / "two.inf",
                      fs::file_time_type::clock::now() + std::chrono::hours(1));
  Write("zzz.inf", Inf("ID\\ZZZ", "Last"));
  EXPECT_THROW(UpdateIndex(db_, {catalog_.string()}, nullptr,
                           [](size_t done, size_t) {
                             if (done == 2) throw std::runtime_error("interrupted");
                           }),
               std::runtime_error);
  const Index index = Index::Open(db_);
  EXPECT_EQ(index.LinesForId("ID\\ONE").size(), 1u);
  EXPECT_EQ(index.LinesForId("ID\\TWO").size(), 1u);
  EXPECT_TRUE(index.LinesForId("ID\\NEW").empty());
  EXPECT_EQ(index.LineCount(), 2u);
  // The next run does the whole work.
  const UpdateStats s = Update();
  EXPECT_EQ(s.reread, 2u);
  EXPECT_EQ(s.removed, 1u);
}

// A clock an hour ahead: folders just written count as long unchanged.
std::int64_t HourAhead() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             (std::chrono::system_clock::now() + std::chrono::hours(1)).time_since_epoch())
      .count();
}

// The file systems whose folder times the walk trusts.
bool KeepsFolderTimes(const fs::path& p) {
  struct statfs st {};
  if (statfs(p.c_str(), &st) != 0) return false;
  for (const unsigned long type :
       {0xEF53ul, 0x58465342ul, 0x9123683Eul, 0x01021994ul, 0xF2F52010ul})
    if (static_cast<unsigned long>(st.f_type) == type) return true;
  return false;
}

TEST_F(IndexTest, FoldersChangedSinceAnUpdateAreReadAgainTheOthersReused) {
  if (!KeepsFolderTimes(catalog_)) GTEST_SKIP() << "the build folder's file system is not trusted";
  SetWalkClock(&HourAhead);
  struct Restore {
    ~Restore() { SetWalkClock(nullptr); }
  } restore;
  for (const char* f : {"added/a.inf", "removed/b.inf", "renamed/c.inf", "grown/d.inf",
                        "linked/e.inf", "kept/f.inf"})
    Write(f, Inf("ID\\" + std::string(f).substr(0, std::string(f).find('/')), f));
  // Dated long ago: any change made below gives a folder a time of its own.
  const auto long_ago = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
  for (const auto& e : fs::recursive_directory_iterator(catalog_))
    if (e.is_directory()) fs::last_write_time(e.path(), long_ago);
  fs::last_write_time(catalog_, long_ago);
  EXPECT_EQ(Update().folders_read, 7u);
  const UpdateStats same = Update();
  EXPECT_EQ(same.folders_read, 0u);
  EXPECT_EQ(same.folders_reused, 7u);
  EXPECT_EQ(same.scanned, 6u);
  EXPECT_EQ(same.reread, 0u);

  Write("added/new.inf", Inf("ID\\NEW", "New"));
  fs::remove(catalog_ / "removed/b.inf");
  fs::rename(catalog_ / "renamed/c.inf", catalog_ / "renamed/c2.inf");
  Write("grown/sub/g.inf", Inf("ID\\G", "G"));
  fs::remove_all(catalog_ / "linked");
  fs::create_directory_symlink(catalog_ / "kept", catalog_ / "linked");
  Write("kept/f.inf", Inf("ID\\F2", "Rewritten in place"));
  fs::last_write_time(catalog_ / "kept/f.inf",
                      fs::file_time_type::clock::now() + std::chrono::hours(1));
  const UpdateStats changed = Update();
  EXPECT_EQ(changed.folders_reused, 1u);  // kept/; the root changed with linked/
  EXPECT_EQ(changed.scanned, 6u);         // a, c2, d, f, g, new
  EXPECT_EQ(changed.reread, 4u);          // c2, f, g, new
  EXPECT_EQ(changed.removed, 3u);         // b, c, e
  const Index index = Index::Open(db_);
  for (const char* gone : {"ID\\removed", "ID\\linked", "ID\\kept"})
    EXPECT_TRUE(index.LinesForId(gone).empty()) << gone;
  for (const char* there : {"ID\\NEW", "ID\\G", "ID\\F2", "ID\\added", "ID\\renamed", "ID\\grown"})
    EXPECT_EQ(index.LinesForId(there).size(), 1u) << there;
  EXPECT_EQ(Update().folders_read, 1u);  // the root alone: a folder holding a link is always read
}

// A folder changed in the last moments before a walk may change again within
// the same timestamp tick: what that walk saw of it is not kept.
TEST_F(IndexTest, AFolderChangedJustBeforeAnUpdateIsReadAgainNextTime) {
  Write("pkg/one.inf", Inf("ID\\ONE", "One"));
  Update();
  const UpdateStats again = Update();
  EXPECT_EQ(again.folders_read, 2u);
  EXPECT_EQ(again.folders_reused, 0u);
}

TEST_F(IndexTest, AnIndexOfAnEarlierVersionIsRebuilt) {
  Write("one.inf", Inf("ID\\ONE", "One"));
  Update();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(
      sqlite3_exec(db, "DROP TABLE folders; PRAGMA user_version = 5", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  EXPECT_THROW(Index::Open(db_), CatalogError);
  EXPECT_EQ(Update().reread, 1u);
  EXPECT_EQ(Index::Open(db_).LinesForId("ID\\ONE").size(), 1u);
}

TEST_F(IndexTest, ReplacesAnIndexFileThatIsNoDatabase) {
  Write("one.inf", Inf("ID\\ONE", "One"));
  fs::create_directories(fs::path(db_).parent_path());
  std::ofstream(db_) << std::string(4096, 'x');
  // A new index is built beside the old one: interrupted, it leaves the old
  // file as it was and nothing else behind.
  EXPECT_THROW(UpdateIndex(db_, {catalog_.string()}, nullptr,
                           [](size_t, size_t) { throw std::runtime_error("interrupted"); }),
               std::runtime_error);
  auto cache_files = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(fs::path(db_).parent_path()))
      names.push_back(e.path().filename().string());
    return names;
  };
  EXPECT_EQ(cache_files(), std::vector<std::string>{"index.sqlite"});
  EXPECT_EQ(fs::file_size(db_), 4096u);
  EXPECT_EQ(Update().reread, 1u);
  EXPECT_EQ(Index::Open(db_).LinesForId("ID\\ONE").size(), 1u);
  EXPECT_EQ(cache_files(), std::vector<std::string>{"index.sqlite"});
}

TEST_F(IndexTest, RefusesWhatIsNoIndexAndFoldersThatAreNone) {
  EXPECT_THROW(Index::Open((root_ / "missing.sqlite").string()), CatalogError);
  std::ofstream(root_ / "junk.sqlite")
      << "this is not a database, just text long enough to look like a header";
  EXPECT_THROW(Index::Open((root_ / "junk.sqlite").string()), CatalogError);
  EXPECT_THROW(UpdateIndex(db_, {(root_ / "nowhere").string()}, nullptr, nullptr), CatalogError);
}

TEST(DefaultIndexPath, LivesInTheCacheAndNamesTheSetOfFolders) {
  const char* old = getenv("XDG_CACHE_HOME");
  const std::string saved = old ? old : "";
  const char* old_home = getenv("HOME");
  const std::string saved_home = old_home ? old_home : "";
  setenv("XDG_CACHE_HOME", "/var/tmp/kc", 1);
  const std::string ab = DefaultIndexPath({"/srv/a", "/srv/b"});
  EXPECT_EQ(ab.rfind("/var/tmp/kc/kestrova/", 0), 0u) << ab;
  EXPECT_EQ(ab, DefaultIndexPath({"/srv/b", "/srv/a/"}));
  EXPECT_NE(ab, DefaultIndexPath({"/srv/a"}));
  unsetenv("XDG_CACHE_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(DefaultIndexPath({"/srv/a"}).rfind("/home/someone/.cache/kestrova/", 0), 0u);
  if (old) setenv("XDG_CACHE_HOME", saved.c_str(), 1);
  if (old_home) setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
}  // namespace catalog
