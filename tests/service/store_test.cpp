// Both stores through the port. PostgreSQL runs when KESTROVA_TEST_POSTGRES
// names a database (tests/e2e/service_linux.sh starts a throw-away cluster
// and sets it); otherwise those cases are skipped.
#include "service/store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace service {
namespace {

namespace fs = std::filesystem;

StoredReport Sample(const std::string& id, const std::string& log) {
  StoredReport r;
  r.post.scan_id = id;
  r.post.drivers = "RFJJVkVSUw==";
  r.post.hwid = "V0QtMTIz";
  r.post.setup_log = log;
  r.received = "2026-12-07T18:00:00.000Z";
  return r;
}

std::string Id(int n) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%032X", n);
  return buf;
}

class Stores : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      dir_ = fs::temp_directory_path() /
             ("kestrova-store-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
      fs::remove_all(dir_);
      fs::create_directories(dir_);
      url_ = "sqlite:" + (dir_ / "reports.sqlite").string();
    } else {
      const char* pg = std::getenv("KESTROVA_TEST_POSTGRES");
      if (!pg || !*pg) GTEST_SKIP() << "KESTROVA_TEST_POSTGRES is not set";
      url_ = pg;
      // Ids of this run only, so reruns against one database do not meet.
      prefix_ = static_cast<int>(::getpid()) * 1000;
    }
    store_ = OpenStore(url_);
  }
  void TearDown() override {
    store_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string Key(int n) const { return Id(prefix_ + n); }

  fs::path dir_;
  std::string url_;
  int prefix_ = 0;
  std::unique_ptr<ReportStore> store_;
};

TEST_P(Stores, KeepsAReportWholeAndTheFirstOfAScanId) {
  EXPECT_FALSE(store_->Get(Key(1)).has_value());
  std::string log = "caf\u00e9 \u20ac\r\n" + std::string(100000, 'x');
  EXPECT_EQ(store_->Put(Sample(Key(1), log)), PutResult::kStored);
  auto got = store_->Get(Key(1));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->post.scan_id, Key(1));
  EXPECT_EQ(got->post.drivers, "RFJJVkVSUw==");
  EXPECT_EQ(got->post.hwid, "V0QtMTIz");
  EXPECT_EQ(got->post.setup_log, log);
  EXPECT_EQ(got->received, "2026-12-07T18:00:00.000Z");

  StoredReport again = Sample(Key(1), "second");
  again.post.drivers = "T1RIRVI=";
  again.received = "2026-12-07T18:05:00.000Z";
  EXPECT_EQ(store_->Put(again), PutResult::kConflict);
  StoredReport same = Sample(Key(1), log);
  same.received = "2026-12-07T18:06:00.000Z";
  EXPECT_EQ(store_->Put(same), PutResult::kAlreadyStored);
  got = store_->Get(Key(1));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->post.setup_log, log);
  EXPECT_EQ(got->post.drivers, "RFJJVkVSUw==");
  EXPECT_EQ(got->received, "2026-12-07T18:00:00.000Z");
  EXPECT_NO_THROW(store_->Ping());
  if (!dir_.empty()) {
    for (const char* name : {"reports.sqlite", "reports.sqlite-wal"}) {
      EXPECT_EQ(fs::status(dir_ / name).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write)
          << name;
    }
  }
}

TEST_P(Stores, ConcurrentWritersAllLandAndSurviveReopening) {
  constexpr int kThreads = 8, kEach = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        store_->Put(Sample(Key(100 + t * kEach + i), "log " + std::to_string(t * kEach + i)));
    });
  }
  for (auto& t : threads) t.join();
  store_ = OpenStore(url_);
  for (int n = 0; n < kThreads * kEach; ++n) {
    auto got = store_->Get(Key(100 + n));
    ASSERT_TRUE(got.has_value()) << n;
    EXPECT_EQ(got->post.setup_log, "log " + std::to_string(n));
  }
}

TEST_P(Stores, TwoOpenersShareOneStore) {
  // Two service instances over one database (or one SQLite file).
  auto other = OpenStore(url_);
  store_->Put(Sample(Key(7), "from the first"));
  auto got = other->Get(Key(7));
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->post.setup_log, "from the first");
  EXPECT_EQ(other->Put(Sample(Key(7), "from the second")), PutResult::kConflict);
  EXPECT_EQ(store_->Get(Key(7))->post.setup_log, "from the first");
}

INSTANTIATE_TEST_SUITE_P(, Stores, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

TEST(OpenStore, RefusesUnknownAddressesAndUnreachableDatabases) {
  EXPECT_THROW(OpenStore("mysql://localhost/x"), StoreError);
  EXPECT_THROW(OpenStore("sqlite:"), StoreError);
  EXPECT_THROW(OpenStore("sqlite:/nonexistent-folder/x/reports.sqlite"), StoreError);
  EXPECT_THROW(OpenStore("postgresql:///none?host=/nonexistent-socket-folder&connect_timeout=2"),
               StoreError);
}

TEST(DefaultSqlitePath, LiesUnderTheStateFolder) {
  fs::path dir = fs::temp_directory_path() / ("kestrova-state-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  std::string saved = std::getenv("XDG_STATE_HOME") ? std::getenv("XDG_STATE_HOME") : "";
  ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
  std::string path = DefaultSqlitePath();
  if (saved.empty())
    ::unsetenv("XDG_STATE_HOME");
  else
    ::setenv("XDG_STATE_HOME", saved.c_str(), 1);
  EXPECT_EQ(path, (dir / "kestrova" / "reports.sqlite").string());
  EXPECT_EQ(fs::status(dir / "kestrova").permissions() & fs::perms::all, fs::perms::owner_all);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace service
