#include "service/form.h"

#include <array>
#include <cstdint>

#include "catalog/text.h"

namespace service {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
      int lo = hi >= 0 ? HexValue(text[i + 2]) : -1;
      if (lo < 0) throw PostError("The form body has a broken %-escape.");
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

bool IsBase64(std::string_view text) {
  if (text.size() % 4 != 0) return false;
  size_t pad = 0;
  while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  for (size_t i = 0; i + pad < text.size(); ++i) {
    char c = text[i];
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

FormFields DecodeUrlEncoded(std::string_view body) {
  FormFields fields;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view pair = body.substr(start, end - start);
    if (!pair.empty()) {
      size_t eq = pair.find('=');
      if (eq == std::string_view::npos) {
        fields.emplace_back(Unescape(pair), std::string());
      } else {
        fields.emplace_back(Unescape(pair.substr(0, eq)), Unescape(pair.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  return fields;
}

bool IsScanId(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

ReportPost ValidatePost(const FormFields& fields, match::Report* report_out) {
  static constexpr std::array<const char*, 4> kNames = {"drivers", "hwid", "scanid", "setup_api_log"};
  std::array<const std::string*, 4> found{};
  for (const auto& [name, value] : fields) {
    for (size_t i = 0; i < kNames.size(); ++i) {
      if (name != kNames[i]) continue;
      if (found[i]) throw PostError("The field \"" + name + "\" is given more than once.");
      found[i] = &value;
    }
  }
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (!found[i]) throw PostError(std::string("The field \"") + kNames[i] + "\" is missing.");
  }
  const std::string& drivers = *found[0];
  const std::string& hwid = *found[1];
  const std::string& scan_id = *found[2];
  if (!IsScanId(scan_id)) throw PostError("The scan id is not 32 hexadecimal digits.");
  if (drivers.empty()) throw PostError("The report holds no device data.");
  if (!IsBase64(drivers)) throw PostError("The device data is not Base64.");
  if (!IsBase64(hwid)) throw PostError("The hardware id is not Base64.");
  try {
    match::Report report = match::ReadReportFields(drivers, hwid);
    if (report.devices.empty()) throw PostError("The report holds no device entries.");
    // The reader takes what it can of a damaged list, as the page does;
    // the service stores only reports it reads whole.
    if (!report.notes.empty()) {
      std::string more = report.notes.size() > 1 ? " (and " + std::to_string(report.notes.size() - 1) + " more)" : "";
      throw PostError("The report is damaged: " + report.notes.front() + more);
    }
    if (report_out) *report_out = std::move(report);
  } catch (const match::ReportError& e) {
    throw PostError(std::string("The device data cannot be read: ") + e.what());
  }
  // PostgreSQL text cannot hold NUL, and no setup log has one.
  if (found[3]->find('\0') != std::string::npos) throw PostError("The setup-log excerpt holds a NUL character.");
  ReportPost post;
  post.scan_id = scan_id;
  for (char& c : post.scan_id) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  post.drivers = drivers;
  post.hwid = hwid;
  post.setup_log = catalog::Cp1252ToUtf8(*found[3]);
  return post;
}

}  // namespace service
