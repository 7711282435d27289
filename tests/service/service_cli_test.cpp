// kestrova-service's command line: what it refuses before anything starts.
#include "service/service_cli.h"

#include <gtest/gtest.h>

#include <sstream>

namespace service {
namespace {

TEST(ServiceCli, ReadsEverySettingAndKeepsTheCatalogsInOrder) {
  ParsedArguments parsed = ParseServiceArguments(
      {"--catalog", "/a", "--listen", "[::1]:0", "--catalog", "/b", "--threads", "4",
       "--per-client", "100", "--header-timeout", "3", "--body-timeout", "9", "--store",
       "sqlite:/x.sqlite", "--index", "/i.sqlite"});
  const ServiceSettings* s = std::get_if<ServiceSettings>(&parsed);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->catalogs, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(s->options.host, "::1");
  EXPECT_EQ(s->options.port, 0);
  EXPECT_EQ(s->options.threads, 4u);
  EXPECT_EQ(s->options.per_client, 100u);
  EXPECT_EQ(s->options.header_timeout_s, 3);
  EXPECT_EQ(s->options.body_timeout_s, 9);
  EXPECT_EQ(s->store_url, "sqlite:/x.sqlite");
  EXPECT_EQ(s->index_path, "/i.sqlite");
}

TEST(ServiceCli, RefusesBadArgumentsWithTheirReasonAndStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "give at least one --catalog folder"},
      {{"--catalog"}, "--catalog needs a folder"},
      {{"--catalog", "/a", "--listen", "localhost"}, "--listen needs HOST:PORT"},
      {{"--catalog", "/a", "--listen", "h:65536"}, "--listen needs HOST:PORT"},
      {{"--catalog", "/a", "--threads", "0"}, "--threads needs a number from 1 to 999"},
      {{"--catalog", "/a", "--threads", "1000"}, "--threads needs a number from 1 to 999"},
      {{"--catalog", "/a", "--body-timeout", "-1"}, "--body-timeout needs a number"},
      {{"--catalog", "/a", "--bogus"}, "unknown argument \"--bogus\""},
  };
  for (const auto& [args, reason] : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(RunServiceCli(args, out, err), 2) << reason;
    EXPECT_NE(err.str().find("kestrova-service: " + reason), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "") << reason;
  }
}

TEST(ServiceCli, HelpGoesToStandardOutput) {
  std::ostringstream out, err;
  EXPECT_EQ(RunServiceCli({"--catalog", "/a", "--help"}, out, err), 0);
  EXPECT_EQ(out.str().rfind("usage: kestrova-service", 0), 0u);
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace service
