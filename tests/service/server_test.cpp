// The HTTP front in-process, on a loopback port, over a SQLite store and the
// fixture catalog: answers, refusals, limits, slow clients, and stores that
// fail or wait.
#include "service/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/text.h"

namespace service {
namespace {

namespace fs = std::filesystem;

std::string Base64(const std::string& in) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

std::string Escape(const std::string& in) {
  std::string out;
  for (unsigned char c : in) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%%%02X", c);
    out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(buf);
  }
  return out;
}

// One network adapter the fixture catalog has a driver for, in windows-1252.
const std::string kScanData =
    "\r\ndriver_1=Carte "
    "r\xE9seau[;]10.38.1118.2019[;]Realtek[;]11-18-2019[;]PCI\\VEN_10EC&DEV_8168,[;]"
    "PCI\\VEN_10EC&DEV_8168,\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0001[;]Net[;]oem7.inf[;]"
    "PCI\\VEN_10EC&DEV_8168&REV_15,PCI\\VEN_10EC&DEV_8168,[;][;]pci\\ven_10ec&dev_8168[;]43"
    "\r\n\r\nCaption=Microsoft Windows 10 Pro\r\nVersion=10.0.19045\r\nOSArchitecture=64bits";
const std::string kId = "0123456789ABCDEF0123456789ABCDEF";

std::string Body(const std::string& scan_id, const std::string& log,
                 const std::string& data = kScanData) {
  return "drivers=" + Escape(Base64(data)) + "&hwid=" + Escape(Base64("WD-1")) +
         "&scanid=" + scan_id + "&setup_api_log=" + Escape(log);
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrova-service-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    store_ = OpenSqliteStore((dir_ / "reports.sqlite").string());
    catalog_ = std::make_unique<CatalogSource>(
        std::vector<std::string>{KESTROVA_TEST_DATA "/service/catalog"},
        (dir_ / "index.sqlite").string(), log_);
    if (LoadCatalog()) catalog_->Refresh();
    ServiceOptions options;
    options.port = 0;
    options.threads = 4;
    options.header_timeout_s = 1;
    options.body_timeout_s = 1;
    options.keep_alive_s = 1;
    options.per_client = 100;
    Adjust(options);
    service_ = std::make_unique<Service>(options, StoreForService(), *catalog_, log_);
    Configure(*service_);
    port_ = service_->Bind();
    runner_ = std::thread([this] { service_->Run(); });
  }
  virtual void Adjust(ServiceOptions&) {}
  virtual void Configure(Service&) {}
  virtual ReportStore& StoreForService() { return *store_; }
  virtual bool LoadCatalog() { return true; }
  void TearDown() override {
    service_->Stop();
    runner_.join();
    service_.reset();
    store_.reset();
    fs::remove_all(dir_);
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(10, 0);
    return c;
  }
  httplib::Result Post(const std::string& body,
                       const std::string& type = "application/x-www-form-urlencoded",
                       const std::string& accept = "application/json") {
    httplib::Headers headers{{"Accept", accept}};
    return Client().Post("/report", headers, body, type.c_str());
  }

  // Sends `request` on a connection of its own (a thread keeps sending
  // while this reads) and returns all that comes back until the server
  // closes, or 10 s pass.
  std::string Exchange(const std::string& request, std::chrono::milliseconds pause = {}) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return "no connection";
    std::thread sender([&] {
      for (size_t at = 0; at < request.size();) {
        ssize_t n = ::send(fd, request.data() + at, std::min<size_t>(request.size() - at, 1 << 16),
                           MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<size_t>(n);
        if (pause.count()) std::this_thread::sleep_for(pause);
      }
    });
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string answer;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, static_cast<size_t>(n));
    ::shutdown(fd, SHUT_RDWR);
    sender.join();
    ::close(fd);
    return answer;
  }

  fs::path dir_;
  std::ostringstream log_;
  std::unique_ptr<ReportStore> store_;
  std::unique_ptr<CatalogSource> catalog_;
  std::unique_ptr<Service> service_;
  int port_ = 0;
  std::thread runner_;
};

TEST_F(ServiceTest, StoresAPostAndAnswersWithTheDriversAndKeepsTheFirstOfAScanId) {
  auto res = Post(Body(kId, "first \x80"));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->get_header_value("Access-Control-Allow-Origin"), "*");
  auto json = nlohmann::json::parse(res->body);
  EXPECT_EQ(json["scanid"], kId);
  EXPECT_EQ(json["setup_log"], "first \u20ac");
  EXPECT_EQ(json["hardware_id"], "WD-1");
  ASSERT_EQ(json["devices"].size(), 1u);
  EXPECT_EQ(json["devices"][0]["name"], "Carte r\u00e9seau");
  EXPECT_EQ(json["devices"][0]["candidates"][0]["inf"], "net/fxnet.inf");

  const std::string received = json["received"];

  // "Send again" of the same report, with the browser's kind of answer:
  // the results page, its values as text.
  res = Post(Body(kId, "first \x80"), "application/x-www-form-urlencoded", "text/html,*/*");
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  EXPECT_NE(res->get_header_value("Content-Type").find("text/html"), std::string::npos);
  EXPECT_NE(res->body.find("Fixture PCIe GbE Family Controller"), std::string::npos);

  // Another report under the same id does not replace it.
  res = Post(Body(kId, "second"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 409) << res->body;
  EXPECT_NE(res->body.find("never replaced"), std::string::npos);

  std::string lower = kId;
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  for (int twice = 0; twice < 2; ++twice) {  // the second from the cache
    res = Client().Get(("/api/reports/" + lower).c_str());
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(nlohmann::json::parse(res->body)["setup_log"], "first \u20ac");
    EXPECT_EQ(nlohmann::json::parse(res->body)["received"], received);
  }
}

TEST_F(ServiceTest, ShowsMarkupFromAReportAsText) {
  std::string data = kScanData;
  data.replace(data.find("Carte r\xE9seau"), 12, "<img src=x onerror=alert(1)>");
  auto res = Post(Body(kId, "<script>alert(2)</script>", data), "application/x-www-form-urlencoded",
                  "text/html");
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  EXPECT_EQ(res->body.find("<img src=x"), std::string::npos);
  EXPECT_NE(res->body.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_NE(res->body.find("Content-Security-Policy"), std::string::npos);
}

TEST_F(ServiceTest, TakesAReportOfSeveralMegabytesWhole) {
  // Far over the 8 KiB the HTTP library allows form bodies it parses itself.
  std::string log;
  for (int i = 0; log.size() < (3u << 20); ++i) log += "line " + std::to_string(i) + " \xE9\r\n";
  auto res = Post(Body(kId, log));
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200) << res->body;
  res = Client().Get(("/api/reports/" + kId).c_str());
  ASSERT_TRUE(res);
  ASSERT_EQ(res->status, 200);
  std::string utf8 = nlohmann::json::parse(res->body)["setup_log"];
  EXPECT_EQ(utf8, platform::Windows1252ToUtf8(log));
}

TEST_F(ServiceTest, TakesMultipartAndRefusesADuplicatedPart) {
  httplib::MultipartFormDataItems parts = {{"drivers", Base64(kScanData), "", ""},
                                           {"hwid", Base64("WD-1"), "", ""},
                                           {"scanid", kId, "", ""},
                                           {"setup_api_log", "log", "", ""}};
  auto res = Client().Post("/report", parts);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200) << res->body;
  parts.push_back({"scanid", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "", ""});
  res = Client().Post("/report", parts);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 400);
  EXPECT_EQ(res->body, "The field \"scanid\" is given more than once.\n");
}

TEST_F(ServiceTest, RefusesBadPostsWithAPlainReasonAndStoresNothing) {
  struct Case {
    std::string body, type;
    int status;
    std::string reason;
  } cases[] = {
      {"{\"scanid\":\"" + kId + "\"}", "application/json", 415, "multipart/form-data"},
      {Body(kId, "x") + "%G", "application/x-www-form-urlencoded", 400, "broken %-escape"},
      {Body("..%2F..%2Fetc%2Fpasswd", "x"), "application/x-www-form-urlencoded", 400,
       "32 hexadecimal digits"},
      {"drivers=" + Escape(Base64("\r\ndriver_1=a[;]b\r\n\r\nCaption=x")) + "&hwid=&scanid=" + kId +
           "&setup_api_log=",
       "application/x-www-form-urlencoded", 400, "has 1 separators instead of 11"},
      {std::string(kMaxBodyBytes + 1, 'a'), "application/x-www-form-urlencoded", 413, "16 MiB"},
  };
  for (const auto& c : cases) {
    auto res = Post(c.body, c.type);
    ASSERT_TRUE(res) << c.reason;
    EXPECT_EQ(res->status, c.status) << c.reason << ": " << res->body;
    EXPECT_NE(res->body.find(c.reason), std::string::npos) << c.reason << ": " << res->body;
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
  }
  auto res = Client().Get(("/api/reports/" + kId).c_str());
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  res = Client().Get("/api/reports/..%2F..%2Fetc%2Fpasswd");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);
  res = Client().Get("/healthz");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
}

TEST_F(ServiceTest, DropsAClientThatStopsSendingWhileServingOthers) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port_));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::string partial =
      "POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\ndrivers=";
  ASSERT_EQ(::send(fd, partial.data(), partial.size(), 0), static_cast<ssize_t>(partial.size()));
  // Others are served meanwhile.
  auto res = Client().Get("/healthz");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  // Read timeout and keep-alive are 1 s each: the server gives up on the
  // silent client and closes, well before our own 10 s limit.
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  auto start = std::chrono::steady_clock::now();
  char buf[512];
  std::string answer;
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) answer.append(buf, static_cast<size_t>(n));
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  EXPECT_EQ(n, 0) << "the connection was not closed";
  EXPECT_LT(waited, 5.0) << "the silent client was not dropped";
  EXPECT_EQ(answer.rfind("HTTP/1.1 408", 0), 0u) << answer;
}

// Sending 17 MiB may take longer than the fixture's 1 s body deadline on a
// busy machine; the size, not the deadline, must be what refuses it.
class ServiceWithRoomyDeadlines : public ServiceTest {
  void Adjust(ServiceOptions& options) override { options.body_timeout_s = 30; }
};

TEST_F(ServiceWithRoomyDeadlines, RefusesOversizedAndCompressedRequestsAsSoonAsTheyShowIt) {
  const std::string head =
      "POST /report HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  std::string many_lines = head;
  for (size_t i = 0; i <= kMaxHeaderCount; ++i) many_lines += "X-" + std::to_string(i) + ": 1\r\n";
  std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n";
  const std::string mib(1u << 20, 'a');
  char size_line[32];
  std::snprintf(size_line, sizeof size_line, "%zx\r\n", mib.size());
  // Each chunk is small; together they pass the limit.
  for (size_t i = 0; i <= kMaxBodyBytes / mib.size(); ++i) chunked += size_line + mib + "\r\n";
  struct Case {
    std::string request, status;
  } cases[] = {
      {many_lines + "\r\n", "431"},
      {head + "X-Long: " + std::string(kMaxHeaderBytes, 'a') + "\r\n\r\n", "431"},
      {chunked, "413"},
      {head + "Content-Length: 99999999\r\n\r\n", "413"},
      {head + "Content-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd", "415"},
      {"GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n", "404"},
  };
  for (const auto& c : cases) {
    const std::string answer = Exchange(c.request);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + c.status) << c.request.substr(0, 200);
  }
  EXPECT_EQ(Client().Get("/healthz")->status, 200);
}

TEST_F(ServiceTest, SlowClientsHoldNoWorker) {
  // More dribbling clients than threads: the others are answered at once.
  std::vector<std::thread> slow;
  std::atomic<int> answered{0};
  for (int i = 0; i < 32; ++i) {
    slow.emplace_back([&] {
      if (Exchange("POST /report HTTP/1.1\r\nHost: x\r\nContent-Length: 50\r\n\r\nabcdefghij",
                   std::chrono::milliseconds(0))
              .rfind("HTTP/1.1 408", 0) == 0) {
        ++answered;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto start = std::chrono::steady_clock::now();
  auto res = Post(Body(kId, "log"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.9);
  for (auto& t : slow) t.join();
  EXPECT_EQ(answered.load(), 32);
}

class UnloadedCatalogTest : public ServiceTest {
 protected:
  bool LoadCatalog() override { return false; }
};

TEST_F(UnloadedCatalogTest, AStoredReportWithoutResultsIsNoServerError) {
  EXPECT_EQ(Client().Get("/healthz")->status, 503);
  auto res = Post(Body(kId, "log"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 202) << res->body;
  EXPECT_NE(res->body.find("/reports/" + kId), std::string::npos) << res->body;
  EXPECT_TRUE(store_->Get(kId).has_value());
  // Sent again: still stored, still no 5xx.
  EXPECT_EQ(Post(Body(kId, "log"))->status, 202);
  catalog_->Refresh();
  res = Client().Get(("/api/reports/" + kId).c_str());
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(Client().Get("/healthz")->status, 200);
}

// A store in front of the real one, whose writes can be made to fail or wait.
class GatedStore : public ReportStore {
 public:
  explicit GatedStore(ReportStore& inner) : inner_(inner) {}
  std::function<void()> before_put;
  PutResult Put(const StoredReport& r) override {
    if (before_put) before_put();
    return inner_.Put(r);
  }
  std::optional<StoredReport> Get(const std::string& id) override { return inner_.Get(id); }
  void Ping() override { inner_.Ping(); }
  std::string Describe() const override { return "gated"; }

 private:
  ReportStore& inner_;
};

class GatedServiceTest : public ServiceTest {
 protected:
  ReportStore& StoreForService() override {
    gated_ = std::make_unique<GatedStore>(*store_);
    return *gated_;
  }
  std::unique_ptr<GatedStore> gated_;
};

TEST_F(GatedServiceTest, AFailedWriteIsAnswered503AndStoresNothing) {
  gated_->before_put = [] { throw StoreError("disk I/O error"); };
  auto res = Post(Body(kId, "log"));
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 503) << res->body;
  EXPECT_FALSE(store_->Get(kId).has_value());
  EXPECT_EQ(Client().Get(("/api/reports/" + kId).c_str())->status, 404);
}

TEST_F(GatedServiceTest, NoAnswerComesBeforeTheWriteReturns) {
  std::promise<void> latch;
  std::shared_future<void> open = latch.get_future().share();
  std::atomic<bool> writing{false};
  gated_->before_put = [&] {
    writing = true;
    open.wait();
  };
  auto answer = std::async(std::launch::async, [&] { return Post(Body(kId, "log")); });
  while (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
      << "answered while the write was still under way";
  latch.set_value();
  auto res = answer.get();
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_TRUE(store_->Get(kId).has_value());
}

class PackageServiceTest : public ServiceTest {
 protected:
  void Configure(Service& service) override {
    packages_ = std::make_unique<PackageStore>((dir_ / "packages").string());
    service.ServePackages(packages_.get());
  }
  std::unique_ptr<PackageStore> packages_;
};

TEST_F(PackageServiceTest, OffersEachCandidatesPackageAsTheSameZipEveryTime) {
  auto posted = Post(Body(kId, "log"));
  ASSERT_TRUE(posted);
  ASSERT_EQ(posted->status, 200) << posted->body;
  const nlohmann::json package =
      nlohmann::json::parse(posted->body)["devices"][0]["candidates"][0]["package"];
  const std::string url = package["url"], sha = package["sha256"];
  EXPECT_EQ(url, "/packages/" + sha + ".zip");
  std::string first;
  for (int i = 0; i < 2; ++i) {
    auto got = Client().Get(url);
    ASSERT_TRUE(got);
    ASSERT_EQ(got->status, 200);
    EXPECT_EQ(got->get_header_value("Content-Type"), "application/zip");
    EXPECT_EQ(got->get_header_value("ETag"), "\"" + sha + "\"");
    EXPECT_EQ(got->body.size(), package["bytes"].get<size_t>());
    if (i == 0) first = got->body;
    EXPECT_EQ(got->body, first);
  }
  // The hash is the served bytes' own, as an independent tool computes it.
  const fs::path copy = dir_ / "copy.zip";
  std::ofstream(copy, std::ios::binary) << first;
  std::string line(64, ' ');
  FILE* pipe = ::popen(("sha256sum " + copy.string()).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  ASSERT_EQ(std::fread(line.data(), 1, 64, pipe), 64u);
  ::pclose(pipe);
  EXPECT_EQ(line, sha);
  auto head = Client().Head(url);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(first.size()));
}

TEST_F(PackageServiceTest, NoPackageUrlLeadsOutsideTheCacheFolder) {
  std::ofstream(dir_ / "secret.zip") << "not for clients";
  for (const std::string& path : std::vector<std::string>{
           "/packages/../secret.zip", "/packages/%2e%2e/secret.zip", "/packages/secret.zip",
           "/packages/" + std::string(64, 'A') + ".zip",
           "/packages/" + std::string(64, 'a') + ".zip", "/packages/",
           "/packages/" + std::string(64, 'a') + ".zip/../../secret.zip"}) {
    auto got = Client().Get(path);
    ASSERT_TRUE(got) << path;
    EXPECT_EQ(got->status, 404) << path;
  }
  auto posted = Client().Post("/packages/" + std::string(64, 'a') + ".zip", "x", "text/plain");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 405);
}

}  // namespace
}  // namespace service
