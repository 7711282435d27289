// The service's request path over arbitrary bytes as a client sends them:
// request line, headers (chunked or not), form and multipart bodies, down to
// the post checks and a store. Every input gets an answer with a status a
// client may see; a crash, a hang or a 5xx is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>

#include "service/server.h"

namespace {

class MemoryStore : public service::ReportStore {
 public:
  service::PutResult Put(const service::StoredReport& report) override {
    std::lock_guard lock(mutex_);
    if (reports_.size() > 1000) reports_.clear();  // bounded over a long run
    auto [it, fresh] = reports_.emplace(report.post.scan_id, report);
    if (fresh) return service::PutResult::kStored;
    return it->second.post.drivers == report.post.drivers ? service::PutResult::kAlreadyStored
                                                          : service::PutResult::kConflict;
  }
  std::optional<service::StoredReport> Get(const std::string& id) override {
    std::lock_guard lock(mutex_);
    auto it = reports_.find(id);
    if (it == reports_.end()) return std::nullopt;
    return it->second;
  }
  void Ping() override {}
  std::string Describe() const override { return "memory"; }

 private:
  std::mutex mutex_;
  std::map<std::string, service::StoredReport> reports_;
};

struct Fixture {
  Fixture() {
    auto dir = std::filesystem::temp_directory_path() /
               ("kestrova-fuzz-http-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    catalog = std::make_unique<service::CatalogSource>(
        std::vector<std::string>{KESTROVA_TEST_DATA "/service/catalog"},
        (dir / "index.sqlite").string(), log);
    catalog->Refresh();
    service::ServiceOptions options;
    options.port = 0;
    options.threads = 1;
    server = std::make_unique<service::Service>(options, store, *catalog, log);
  }
  std::ostringstream log;
  MemoryStore store;
  std::unique_ptr<service::CatalogSource> catalog;
  std::unique_ptr<service::Service> server;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  const service::Answer answer = service::ServeRaw(
      *fixture.server, std::string_view(reinterpret_cast<const char*>(data), size));
  if (answer.status < 200 || answer.status >= 500) __builtin_trap();
  fixture.log.str("");
  return 0;
}
