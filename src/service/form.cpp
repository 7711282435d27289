#include "service/form.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <optional>

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
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/';
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
      if (fields.size() == kMaxFormFields) {
        throw PostError("The form has more than " + std::to_string(kMaxFormFields) + " fields.");
      }
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

namespace {

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view lower_prefix) {
  if (s.size() < lower_prefix.size()) return false;
  for (size_t i = 0; i < lower_prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != lower_prefix[i]) return false;
  }
  return true;
}

// The value of `key` among ';'-separated parameters, quotes removed; nullopt when absent.
std::optional<std::string> Parameter(std::string_view params, std::string_view lower_key) {
  size_t start = 0;
  while (start <= params.size()) {
    size_t semi = params.find(';', start);
    if (semi == std::string_view::npos) semi = params.size();
    std::string_view item = TrimSpaces(params.substr(start, semi - start));
    start = semi + 1;
    if (!StartsWithNoCase(item, lower_key) || item.size() <= lower_key.size() ||
        item[lower_key.size()] != '=')
      continue;
    std::string_view value = TrimSpaces(item.substr(lower_key.size() + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

std::string MultipartBoundary(std::string_view content_type) {
  const size_t semi = content_type.find(';');
  if (semi == std::string_view::npos) return {};
  return Parameter(content_type.substr(semi + 1), "boundary").value_or("");
}

FormFields DecodeMultipart(std::string_view body, std::string_view boundary) {
  // RFC 2046 allows at most 70 characters; the bound also keeps each search linear.
  if (boundary.empty() || boundary.size() > 70)
    throw PostError("The multipart body has no usable boundary.");
  const std::string delimiter = "--" + std::string(boundary);
  const std::string next_delimiter = "\r\n" + delimiter;
  const PostError cut("The multipart body is not whole.");
  size_t pos = body.find(delimiter);
  if (pos == std::string_view::npos) throw cut;
  pos += delimiter.size();
  FormFields fields;
  for (;;) {
    if (body.substr(pos, 2) == "--") return fields;  // the closing delimiter
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    if (body.substr(pos, 2) != "\r\n") throw cut;
    pos += 2;
    std::optional<std::string> name;
    // Header lines up to the empty one.
    for (;;) {
      const size_t eol = body.find("\r\n", pos);
      if (eol == std::string_view::npos) throw cut;
      std::string_view line = body.substr(pos, eol - pos);
      pos = eol + 2;
      if (line.empty()) break;
      if (StartsWithNoCase(line, "content-disposition:")) {
        std::string_view value = line.substr(20);
        const size_t semi = value.find(';');
        if (semi != std::string_view::npos) name = Parameter(value.substr(semi + 1), "name");
      }
    }
    const size_t end = body.find(next_delimiter, pos);
    if (end == std::string_view::npos) throw cut;
    if (!name) throw PostError("A part of the multipart body has no name.");
    if (fields.size() == kMaxFormFields) {
      throw PostError("The form has more than " + std::to_string(kMaxFormFields) + " fields.");
    }
    fields.emplace_back(std::move(*name), std::string(body.substr(pos, end - pos)));
    pos = end + next_delimiter.size();
  }
}

bool IsScanId(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

ReportPost ValidatePost(const FormFields& fields, match::Report* report_out) {
  static constexpr std::array<const char*, 4> kNames = {"drivers", "hwid", "scanid",
                                                        "setup_api_log"};
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
  unsigned code_page = 0;
  try {
    match::Report report = match::ReadReportFields(drivers, hwid);
    code_page = report.code_page;
    if (report.devices.empty()) throw PostError("The report holds no device entries.");
    // The reader takes what it can of a damaged list, as the page does;
    // the service stores only reports it reads whole.
    if (!report.notes.empty()) {
      std::string more = report.notes.size() > 1
                             ? " (and " + std::to_string(report.notes.size() - 1) + " more)"
                             : "";
      throw PostError("The report is damaged: " + report.notes.front() + more);
    }
    if (report_out) *report_out = std::move(report);
  } catch (const match::ReportTooLargeError& e) {
    throw PostTooLargeError(e.what());
  } catch (const match::ReportError& e) {
    throw PostError(std::string("The device data cannot be read: ") + e.what());
  }
  // PostgreSQL text cannot hold NUL, and no setup log has one.
  if (found[3]->find('\0') != std::string::npos)
    throw PostError("The setup-log excerpt holds a NUL character.");
  ReportPost post;
  post.scan_id = scan_id;
  for (char& c : post.scan_id) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  post.drivers = drivers;
  post.hwid = hwid;
  // The page posts the excerpt's bytes as the report holds them: in its code
  // page. A log is no reason to refuse a report: what does not decode is
  // kept as U+FFFD.
  std::vector<std::string> log_notes;
  post.setup_log = match::DecodeAnsi(*found[3], code_page, "The setup-log excerpt", log_notes);
  return post;
}

}  // namespace service
