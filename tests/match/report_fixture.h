// Reports built the way the program builds them: the scan data in its wire
// form, windows-1252 bytes, Base64, the placeholders of driver.html replaced.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace match::testing {

inline std::string Base64(const std::string& bytes) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += abc[n >> 18];
    out += abc[(n >> 12) & 63];
    out += abc[(n >> 6) & 63];
    out += abc[n & 63];
  }
  if (i < bytes.size()) {
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += abc[n >> 18];
    out += abc[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? abc[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Twelve fields in wire order; text already in windows-1252 bytes.
struct Entry {
  std::string name, version, provider, date, device_id, driver_path, cls, inf, hwids, compat,
      matching, problem = "0";
};

inline std::string ScanData(const std::vector<Entry>& entries,
                            const std::vector<std::pair<std::string, std::string>>& info) {
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    out += "\r\ndriver_" + std::to_string(i + 1) + "=" + e.name + "[;]" + e.version + "[;]" +
           e.provider + "[;]" + e.date + "[;]" + e.device_id + "[;]" + e.driver_path + "[;]" +
           e.cls + "[;]" + e.inf + "[;]" + e.hwids + "[;]" + e.compat + "[;]" + e.matching + "[;]" +
           e.problem;
  }
  out += "\r\n";
  for (const auto& [label, value] : info) out += "\r\n" + label + "=" + value;
  return out;
}

inline std::string Template() {
  std::ifstream in(std::string(KESTROVA_BINARY_DIR) + "/driver.html", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

// driver.html as a scan fills it in.
inline std::string Page(const std::string& drivers_b64, const std::string& hwid_b64) {
  std::string page = Template();
  page = ReplaceAll(page, "[drivers]", drivers_b64);
  page = ReplaceAll(page, "[hwid]", hwid_b64);
  page = ReplaceAll(page, "[scanid]", "0123456789ABCDEF0123456789ABCDEF");
  page = ReplaceAll(page, "[setup_api_log]", "&lt;log&gt;");
  return ReplaceAll(page, "[proc]", "");
}

inline const std::vector<std::pair<std::string, std::string>> kWindows10 = {
    {"bios", "ACME 1.0"},
    {"CSName", "PC"},
    {"Caption", "Microsoft Windows 10 Pro"},
    {"Version", "10.0.19045"},
    {"OSArchitecture", "64bits"},
    {"Model", "Acme Box"}};

}  // namespace match::testing
