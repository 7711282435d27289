// Posts generated reports to a running service from several threads, and
// checks that reports it was told were stored are there and whole.
//
//   kestrova-service-load --url http://127.0.0.1:PORT --posts N --threads T
//                         [--acked FILE] [--seed HEX8] [--seconds S] [--devices D]
//   kestrova-service-load --url http://127.0.0.1:PORT --verify FILE
//   kestrova-service-load --url http://127.0.0.1:PORT --check SEED N
//
// Report k of seed s has scan id s followed by k in 24 hex digits, k % 7 + 1
// devices (or D) and a setup log naming k, so a reader can rebuild what was
// sent.
// Acknowledged scan ids are appended to FILE as each answer arrives, so the
// file survives the service being killed. Every request has a timeout and
// the run stops issuing posts after S seconds. --check looks at reports 0 to
// N-1 of a seed, acknowledged or not: each is either absent or whole.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Base64(const std::string& in) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v =
        (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8 | (unsigned char)in[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i + 1 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    unsigned v = (unsigned char)in[i] << 16 | (unsigned char)in[i + 1] << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string FormEscape(const std::string& in) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : in) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

struct Generated {
  std::string scan_id, body, setup_log;
  size_t devices;
};

Generated Make(const std::string& seed, unsigned long k, size_t devices = 0) {
  char id[40];
  std::snprintf(id, sizeof id, "%s%024lX", seed.c_str(), k);
  Generated g;
  g.scan_id = id;
  g.devices = devices ? devices : k % 7 + 1;
  std::string data;
  for (size_t d = 0; d < g.devices; ++d) {
    char vendor[64];
    std::snprintf(vendor, sizeof vendor, "PCI\\VEN_10EC&DEV_%04zX", 0x8100 + d);
    std::string v = vendor;
    data += "\r\ndriver_" + std::to_string(d + 1) + "=Device " + std::to_string(d) +
            "[;]1.0.0.0[;]Maker[;]6-21-2006[;]" + v + ",[;]" + v +
            ",\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0000[;]Net[;]oem1.inf[;]" + v + "&REV_01," +
            v + ",[;][;]" + v + "[;]0";
  }
  data +=
      "\r\n\r\nbios=Fixture BIOS\r\nCaption=Microsoft Windows 10 "
      "Pro\r\nVersion=10.0.19045\r\nOSArchitecture=64bits";
  g.setup_log = ">>>  load report " + std::to_string(k) + " " + std::string(200, 'x') +
                "\r\n<<<  Section end";
  g.body = "drivers=" + FormEscape(Base64(data)) +
           "&hwid=" + FormEscape(Base64("WD-LOAD" + std::to_string(k))) + "&scanid=" + g.scan_id +
           "&setup_api_log=" + FormEscape(g.setup_log);
  return g;
}

struct Target {
  std::string host;
  int port = 0;
};

bool ParseUrl(const std::string& url, Target& t) {
  const std::string prefix = "http://";
  if (url.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = url.substr(prefix.size());
  rest = rest.substr(0, rest.find('/'));
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return false;
  t.host = rest.substr(0, colon);
  t.port = std::atoi(rest.c_str() + colon + 1);
  return t.port > 0;
}

httplib::Client MakeClient(const Target& t) {
  httplib::Client c(t.host, t.port);
  c.set_connection_timeout(5, 0);
  c.set_read_timeout(15, 0);
  c.set_write_timeout(15, 0);
  c.set_keep_alive(true);
  c.set_tcp_nodelay(true);
  return c;
}

// Whether the stored report answered for `g` is what was sent.
bool Whole(const std::string& body, const Generated& g) {
  auto json = nlohmann::json::parse(body, nullptr, false);
  return !json.is_discarded() && json.value("scanid", "") == g.scan_id &&
         json.value("setup_log", "") == g.setup_log && json.contains("devices") &&
         json["devices"].size() == g.devices;
}

int Verify(const Target& t, const std::string& file) {
  std::ifstream in(file);
  std::string line;
  auto client = MakeClient(t);
  size_t checked = 0, bad = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    // "scanid seed k"
    std::istringstream fields(line);
    std::string id, seed;
    unsigned long k = 0;
    if (!(fields >> id >> seed >> k)) {
      std::cerr << "unreadable line: " << line << "\n";
      ++bad;
      continue;
    }
    Generated g = Make(seed, k);
    ++checked;
    auto res = client.Get(("/api/reports/" + id).c_str());
    if (!res || res->status != 200) {
      std::cerr << "acknowledged report " << id << " is missing ("
                << (res ? std::to_string(res->status) : "no answer") << ")\n";
      ++bad;
      continue;
    }
    if (!Whole(res->body, g)) {
      std::cerr << "acknowledged report " << id << " is not what was sent\n";
      ++bad;
    }
  }
  std::cout << "verified " << checked << " acknowledged reports, " << bad << " missing or damaged"
            << std::endl;
  return bad == 0 && checked > 0 ? 0 : 1;
}

int Check(const Target& t, const std::string& seed, unsigned long n) {
  auto client = MakeClient(t);
  size_t present = 0, absent = 0, bad = 0;
  for (unsigned long k = 0; k < n; ++k) {
    Generated g = Make(seed, k);
    auto res = client.Get(("/api/reports/" + g.scan_id).c_str());
    if (res && res->status == 404) {
      ++absent;
    } else if (res && res->status == 200 && Whole(res->body, g)) {
      ++present;
    } else {
      std::cerr << "report " << g.scan_id << " is damaged or unreadable\n";
      ++bad;
    }
  }
  std::cout << "checked " << n << " reports: " << present << " whole, " << absent << " absent, "
            << bad << " damaged" << std::endl;
  return bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string url, acked_path, verify_path, check_seed, seed = "C0FFEE00";
  unsigned long check_count = 0;
  unsigned long posts = 200, threads = 20, seconds = 120, devices = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i], v = argv[i + 1];
    if (a == "--check" && i + 2 < argc) {
      check_seed = v;
      check_count = std::stoul(argv[i + 2]);
      ++i;
    } else if (a == "--url")
      url = v;
    else if (a == "--posts")
      posts = std::stoul(v);
    else if (a == "--threads")
      threads = std::stoul(v);
    else if (a == "--seconds")
      seconds = std::stoul(v);
    else if (a == "--acked")
      acked_path = v;
    else if (a == "--verify")
      verify_path = v;
    else if (a == "--seed")
      seed = v;
    else if (a == "--devices")
      devices = std::stoul(v);
    else {
      std::cerr << "unknown argument " << a << "\n";
      return 2;
    }
  }
  Target target;
  if (!ParseUrl(url, target) || seed.size() != 8 || threads == 0 || devices > 4000) {
    std::cerr << "usage: kestrova-service-load --url http://HOST:PORT [--posts N] [--threads T] "
                 "[--acked FILE]"
                 " [--seed HEX8] [--seconds S] [--devices D] | --verify FILE | --check SEED N\n";
    return 2;
  }
  if (!verify_path.empty()) return Verify(target, verify_path);
  if (!check_seed.empty()) return Check(target, check_seed, check_count);

  std::FILE* acked = acked_path.empty() ? nullptr : std::fopen(acked_path.c_str(), "a");
  std::mutex acked_mutex;
  std::atomic<unsigned long> next{0}, ok{0}, refused{0}, failed{0};
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::seconds(seconds);
  std::vector<std::thread> pool;
  for (unsigned long t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      auto client = MakeClient(target);
      for (;;) {
        unsigned long k = next++;
        if (k >= posts || std::chrono::steady_clock::now() > deadline) return;
        Generated g = Make(seed, k, devices);
        auto res = client.Post("/report", g.body, "application/x-www-form-urlencoded");
        if (!res) {
          if (++failed <= 3)
            std::cerr << "post " << k << ": " << httplib::to_string(res.error()) << "\n";
        } else if (res->status == 200) {
          ++ok;
          if (acked) {
            std::lock_guard lock(acked_mutex);
            std::fprintf(acked, "%s %s %lu\n", g.scan_id.c_str(), seed.c_str(), k);
            std::fflush(acked);
          }
        } else {
          if (++refused <= 3) std::cerr << "post " << k << ": " << res->status << " " << res->body;
        }
      }
    });
  }
  for (auto& t : pool) t.join();
  if (acked) std::fclose(acked);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "posts " << (ok + refused + failed) << " stored " << ok << " refused " << refused
            << " failed " << failed << " seconds " << secs << " reports/s "
            << (secs > 0 ? ok / secs : 0) << std::endl;
  return refused == 0 ? 0 : 1;
}
