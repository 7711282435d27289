#include "match/report.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <unordered_set>

#include "platform/code_page_text.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "report/wire_format.h"

namespace match {
namespace {

namespace wire = report::narrow;

// JavaScript's String.prototype.trim as the page applies it: ASCII white
// space and the no-break space.
std::string_view Trim(std::string_view s) {
  for (;;) {
    if (!s.empty() && std::strchr(" \t\n\v\f\r", s.front()) != nullptr && s.front() != '\0') {
      s.remove_prefix(1);
    } else if (s.substr(0, 2) == "\xC2\xA0") {
      s.remove_prefix(2);
    } else if (!s.empty() && std::strchr(" \t\n\v\f\r", s.back()) != nullptr && s.back() != '\0') {
      s.remove_suffix(1);
    } else if (s.size() >= 2 && s.substr(s.size() - 2) == "\xC2\xA0") {
      s.remove_suffix(2);
    } else {
      return s;
    }
  }
}

constexpr std::string_view kSeparator = wire::kFieldSeparator;
constexpr std::string_view kBreak = wire::kLineBreak;
constexpr std::string_view kEntryPrefix = wire::kDriverEntryPrefix;
constexpr size_t kFieldCount = wire::kFieldCount;

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The page's base64 checks: the same checks, the same messages; the bytes.
std::string DecodeBase64(std::string_view value, const std::string& what) {
  size_t chars = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if ((c & 0xC0) != 0x80) ++chars;  // counts characters, as the page does, not bytes
    if (!IsBase64Char(value[i])) {
      std::string shown;
      if (c < 32 || c == 127) {
        shown = "control character " + std::to_string(c);
      } else {
        size_t len = 1;
        while (i + len < value.size() &&
               (static_cast<unsigned char>(value[i + len]) & 0xC0) == 0x80)
          ++len;
        shown = std::string(value.substr(i, len));
      }
      throw ReportError(what + " is damaged: character " + std::to_string(chars) + " (\"" + shown +
                        "\") is not part of the Base64 encoding.");
    }
  }
  const size_t first_pad = value.find('=');
  const bool padding_ok = first_pad == std::string_view::npos ||
                          (value.size() - first_pad <= 2 &&
                           value.find_first_not_of('=', first_pad) == std::string_view::npos);
  if (value.size() % 4 != 0 || !padding_ok) {
    throw ReportError(what + " is damaged: its Base64 encoding is cut short or padded wrongly (" +
                      std::to_string(value.size()) +
                      " characters); the report file may be incomplete.");
  }
  std::string_view body =
      value.substr(0, first_pad == std::string_view::npos ? value.size() : first_pad);
  if (body.size() % 4 == 1) throw ReportError(what + " is damaged: it is not valid Base64.");
  std::string bytes;
  bytes.reserve(body.size() * 3 / 4);
  unsigned buffer = 0;
  int bits = 0;
  for (char c : body) {
    buffer = (buffer << 6) | static_cast<unsigned>(Base64Value(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return bytes;
}

// The code page the scan data's last line names; the default when it names
// none. Every code page a report can be in keeps ASCII bytes, and no trail
// byte of a double-byte one is CR or LF, so the line is found in the bytes.
unsigned CodePageOf(std::string_view bytes) {
  const size_t brk = bytes.rfind(kBreak);
  if (brk == std::string_view::npos) return report::kDefaultCodePage;
  std::string_view line = bytes.substr(brk + kBreak.size());
  const std::string_view label = wire::kCodePageLabel;
  if (line.substr(0, label.size()) != label) return report::kDefaultCodePage;
  line.remove_prefix(label.size());
  if (line.empty() || line.size() > 5) return report::kDefaultCodePage;
  unsigned code_page = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return report::kDefaultCodePage;
    code_page = code_page * 10 + static_cast<unsigned>(c - '0');
  }
  return code_page;
}

}  // namespace

// windows-1252 as the page decodes it (the five unassigned bytes become C1
// controls); any other code page through the C library, with what does not
// decode replaced and said.
std::string DecodeAnsi(std::string_view bytes, unsigned code_page, const std::string& what,
                       std::vector<std::string>& notes) {
  if (bytes.empty()) return {};
  if (code_page == report::kDefaultCodePage) return platform::Windows1252ToUtf8(bytes);
  std::optional<platform::DecodedText> decoded = platform::DecodeCodePage(bytes, code_page);
  if (!decoded) {
    notes.push_back(what + " is in code page " + std::to_string(code_page) +
                    ", which cannot be decoded here; it is shown as windows-1252.");
    return platform::Windows1252ToUtf8(bytes);
  }
  if (decoded->undecodable_bytes > 0) {
    notes.push_back(what + " holds " + std::to_string(decoded->undecodable_bytes) +
                    " byte(s) that are not text in code page " + std::to_string(code_page) +
                    "; each is shown as \xEF\xBF\xBD.");
  }
  return std::move(decoded->utf8);
}

namespace {

size_t CountSeparators(std::string_view text) {
  size_t count = 0;
  for (size_t at = text.find(kSeparator); at != std::string_view::npos;
       at = text.find(kSeparator, at + kSeparator.size())) {
    ++count;
  }
  return count;
}

// An entry's twelve fields. With too many separators the problem code is
// still the last field, and the extra separators belong to the ones before;
// with too few the missing fields are empty.
std::vector<std::string> Fields(std::string_view raw, size_t separators) {
  std::vector<std::string> parts;
  parts.reserve(kFieldCount);
  size_t start = 0;
  for (size_t i = 0; i < std::min(separators, kFieldCount - 1); ++i) {
    const size_t at = raw.find(kSeparator, start);
    parts.emplace_back(raw.substr(start, at - start));
    start = at + kSeparator.size();
  }
  if (separators + 1 > kFieldCount) {
    start = raw.rfind(kSeparator) + kSeparator.size();
  }
  parts.emplace_back(raw.substr(start));
  parts.resize(kFieldCount);
  return parts;
}

bool IsInfoLine(std::string_view line) {
  for (std::string_view label : wire::kComputerLabels) {
    if (line.substr(0, label.size()) == label) return true;
  }
  return false;
}

// The page's idList: comma-separated, trimmed, empty ones dropped. One more
// than kMaxIds at most, so that the caller can tell the list was cut.
std::vector<std::string> IdList(std::string_view text) {
  std::vector<std::string> ids;
  size_t start = 0;
  while (start <= text.size() && ids.size() <= kMaxIds) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    std::string_view id = Trim(text.substr(start, comma - start));
    if (!id.empty()) ids.emplace_back(id);
    start = comma + 1;
  }
  return ids;
}

// The registry's DriverDate "M-D-YYYY" -> "YYYY-MM-DD"; anything else as written.
// A hand-written scan: the text comes from outside, and a backtracking
// matcher recurses per character of white space.
std::string NormalizeDate(const std::string& text) {
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  const std::string_view trimmed = platform::TrimWhiteSpace(text);
  size_t i = static_cast<size_t>(trimmed.data() - text.data());
  const size_t end = i + trimmed.size();
  int parts[2] = {0, 0};
  for (int& part : parts) {
    size_t digits = 0;
    while (i < end && is_digit(text[i]) && digits < 3)
      part = part * 10 + (text[i++] - '0'), ++digits;
    if (digits < 1 || digits > 2 || i >= end || (text[i] != '-' && text[i] != '/')) return text;
    ++i;
  }
  if (end - i != 4) return text;
  for (size_t k = i; k < end; ++k) {
    if (!is_digit(text[k])) return text;
  }
  const int month = parts[0], day = parts[1];
  if (month < 1 || month > 12 || day < 1 || day > 31) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s-%02d-%02d", text.substr(i, 4).c_str(), month, day);
  return buf;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// One driver entry as found in the text: its number and where its fields
// are (continuation lines included).
struct Entry {
  int number;
  size_t begin, end;
  size_t separators;
};

// The page's line pass: driver entries (views into the text, so a hostile
// list costs time and memory in proportion to its size) and the computer
// block's lines, which go straight into `report`; `bad_info` counts the
// block's lines that are no "label=value".
std::vector<Entry> SplitLines(std::string_view all, Report& report, size_t& bad_info) {
  std::vector<Entry> entries;
  // The line starting at `at`, without its break; `next` is where the one
  // after begins (npos: none).
  auto line_at = [&](size_t at, size_t& next) {
    const size_t brk = all.find(kBreak, at);
    next = brk == std::string_view::npos ? std::string_view::npos : brk + kBreak.size();
    return all.substr(at, (brk == std::string_view::npos ? all.size() : brk) - at);
  };
  bool in_block = false;
  bool computer_capped = false;
  size_t at = all.substr(0, 2) == kBreak ? 2 : 0;
  for (size_t next = 0; at != std::string_view::npos; at = next) {
    std::string_view line = line_at(at, next);
    if (!in_block) {
      if (line.substr(0, kEntryPrefix.size()) == kEntryPrefix) {
        const size_t digits = kEntryPrefix.size();
        size_t k = digits;
        while (k < line.size() && line[k] >= '0' && line[k] <= '9') ++k;
        if (k > digits && k < line.size() && line[k] == '=') {
          if (entries.size() >= kMaxDevices) {
            throw ReportTooLargeError("The report lists more than " + std::to_string(kMaxDevices) +
                                      " devices; no computer has that many.");
          }
          int number = 0;
          try {
            number = std::stoi(std::string(line.substr(digits, std::min<size_t>(k - digits, 12))));
          } catch (const std::exception&) {
            number = -1;  // beyond int: the page's Number() would not be exact either
          }
          if (k - digits > 12) number = -1;
          entries.push_back(
              {number, at + k + 1, at + line.size(), CountSeparators(line.substr(k + 1))});
          continue;
        }
      }
      // An entry short of separators goes on over a line break in a field,
      // unless the empty line before the computer information follows.
      const bool open = !entries.empty() && entries.back().separators < kFieldCount - 1;
      bool block_starts = false;
      if (line.empty()) {
        size_t after = 0;
        block_starts = next == std::string_view::npos || IsInfoLine(line_at(next, after));
      }
      if (open && !block_starts) {
        // No separator spans a line break, so the count adds up line by line.
        entries.back().end = at + line.size();
        entries.back().separators += CountSeparators(line);
        continue;
      }
      in_block = true;
      if (line.empty()) continue;
    }
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      if (report.computer.size() < kMaxComputerLines) {
        report.computer.emplace_back(std::string(line.substr(0, eq)),
                                     std::string(line.substr(eq + 1)));
      } else {
        computer_capped = true;
      }
    } else if (!line.empty()) {
      ++bad_info;
    }
  }
  if (computer_capped) {
    report.notes.push_back("The computer information has more than " +
                           std::to_string(kMaxComputerLines) + " lines; the rest were left out.");
  }
  return entries;
}

// The device of entry `entry`, the `position`th (0-based) of `count`; what
// is wrong with it goes to report.notes. True when it is the cut-off last
// entry of a report that ends in its middle.
bool AddDevice(std::string_view all, const Entry& entry, size_t position, size_t count,
               Report& report) {
  const std::string_view raw = all.substr(entry.begin, entry.end - entry.begin);
  const std::vector<std::string> parts = Fields(raw, entry.separators);
  const bool damaged = entry.separators + 1 != kFieldCount;
  const std::string label = std::string(kEntryPrefix) + std::to_string(entry.number);
  bool truncated = false;
  if (damaged) {
    const bool last = position + 1 == count;
    if (last && entry.separators + 1 < kFieldCount && report.computer.empty()) {
      truncated = true;
      report.notes.push_back("The device list ends in the middle of entry " + label +
                             ": the report is incomplete. That entry is shown as far as it goes.");
    } else {
      report.notes.push_back("Entry " + label + " has " + std::to_string(entry.separators) +
                             " separators instead of " + std::to_string(kFieldCount - 1) +
                             "; its fields may be shifted.");
    }
  }
  if (entry.number != static_cast<int>(position + 1)) {
    report.notes.push_back("Entry " + label + " is number " + std::to_string(position + 1) +
                           " in the list: entries are missing or out of order.");
  }
  const std::string problem(Trim(parts[11]));
  const bool known = AllDigits(problem);
  if (!known && !(damaged && problem.empty())) {
    report.notes.push_back("Entry " + label + " has an unreadable problem code (\"" + parts[11] +
                           "\").");
  }
  Device d;
  d.number = entry.number;
  d.name = parts[0];
  d.installed.version = parts[1];
  d.installed.provider = parts[2];
  d.installed.date = NormalizeDate(parts[3]);
  d.device_id = parts[4];
  d.driver_key = parts[5];
  d.class_name = parts[6];
  d.installed.inf = std::string(Trim(parts[7]));
  d.hardware_ids = IdList(parts[8]);
  d.compatible_ids = IdList(parts[9]);
  if (d.hardware_ids.size() > kMaxIds || d.compatible_ids.size() > kMaxIds) {
    d.hardware_ids.resize(std::min(d.hardware_ids.size(), kMaxIds));
    d.compatible_ids.resize(std::min(d.compatible_ids.size(), kMaxIds));
    report.notes.push_back("Entry " + label + " lists more than " + std::to_string(kMaxIds) +
                           " identifiers; the rest were left out.");
  }
  d.matching_id = parts[10];
  d.problem = -1;
  if (known) {
    d.problem = problem.size() > 9 ? -1 : std::stoi(problem);
  }
  report.devices.push_back(std::move(d));
  return truncated;
}

// The page's parseScanData: the lines split into entries and the computer
// block, then each entry read into a device.
void ParseScanData(const std::string& text, Report& report) {
  if (text.substr(0, 2) != "\r\n") {
    report.notes.push_back(
        "The device data does not begin with a line break as expected; it was read anyway.");
  }
  const std::string_view all(text);
  size_t bad_info = 0;
  const std::vector<Entry> entries = SplitLines(all, report, bad_info);
  bool truncated = false;
  for (size_t n = 0; n < entries.size(); ++n) {
    truncated |= AddDevice(all, entries[n], n, entries.size(), report);
  }
  if (!truncated && !entries.empty() && report.computer.empty()) {
    report.notes.push_back("The computer information is missing from the report.");
  }
  if (bad_info > 0) {
    report.notes.push_back(std::to_string(bad_info) +
                           " line(s) of the computer information could not be read.");
  }
}

// Character references of an attribute value; the values the program
// writes hold none, but the browser would decode them.
std::string DecodeEntities(std::string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '&') {
      out += in[i];
      continue;
    }
    const size_t semi = in.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10) {
      out += in[i];
      continue;
    }
    std::string_view name = in.substr(i + 1, semi - i - 1);
    char32_t cp = 0;
    if (name == "amp")
      cp = '&';
    else if (name == "lt")
      cp = '<';
    else if (name == "gt")
      cp = '>';
    else if (name == "quot")
      cp = '"';
    else if (name == "apos")
      cp = '\'';
    else if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      try {
        cp = static_cast<char32_t>(
            std::stoul(std::string(name.substr(hex ? 2 : 1)), nullptr, hex ? 16 : 10));
      } catch (const std::exception&) {
        cp = 0;
      }
    }
    if (cp == 0) {
      out += in[i];
      continue;
    }
    platform::AppendUtf8(out, cp);
    i = semi;
  }
  return out;
}

// HTML's white space (no vertical tab, unlike C's).
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

size_t FindNoCase(std::string_view text, std::string_view needle, size_t from) {
  for (size_t at = from; at + needle.size() <= text.size(); ++at) {
    if (platform::EqualsIgnoringAsciiCase(text.substr(at, needle.size()), needle)) return at;
  }
  return std::string_view::npos;
}

// The attributes of the first element whose id is "report-data", as the
// browser's getElementById would find it; empty when there is none.
std::vector<std::pair<std::string, std::string>> ReportDataAttributes(std::string_view html) {
  size_t i = 0;
  while ((i = html.find('<', i)) != std::string_view::npos) {
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      if (end == std::string_view::npos) break;
      i = end + 3;
      continue;
    }
    size_t k = i + 1;
    if (k >= html.size() || !std::isalpha(static_cast<unsigned char>(html[k]))) {
      ++i;
      continue;
    }
    size_t name_end = k;
    while (name_end < html.size() && !IsSpace(html[name_end]) && html[name_end] != '>' &&
           html[name_end] != '/')
      ++name_end;
    const std::string tag = platform::AsciiLower(html.substr(k, name_end - k));
    std::vector<std::pair<std::string, std::string>> attrs;
    std::unordered_set<std::string> names;
    k = name_end;
    while (k < html.size() && html[k] != '>') {
      if (IsSpace(html[k]) || html[k] == '/') {
        ++k;
        continue;
      }
      size_t an = k;
      while (an < html.size() && !IsSpace(html[an]) && html[an] != '=' && html[an] != '>' &&
             html[an] != '/')
        ++an;
      std::string name = platform::AsciiLower(html.substr(k, an - k));
      if (an == k) ++an;  // a stray character
      k = an;
      while (k < html.size() && IsSpace(html[k])) ++k;
      std::string value;
      if (k < html.size() && html[k] == '=') {
        ++k;
        while (k < html.size() && IsSpace(html[k])) ++k;
        if (k < html.size() && (html[k] == '"' || html[k] == '\'')) {
          const char q = html[k];
          const size_t end = html.find(q, k + 1);
          if (end == std::string_view::npos) return {};  // the page ends inside a value
          value = std::string(html.substr(k + 1, end - k - 1));
          k = end + 1;
        } else {
          const size_t start = k;
          while (k < html.size() && !IsSpace(html[k]) && html[k] != '>') ++k;
          value = std::string(html.substr(start, k - start));
        }
      }
      // The first of repeated attributes counts, as in the browser.
      if (!name.empty() && names.insert(name).second) {
        attrs.emplace_back(std::move(name), DecodeEntities(platform::Windows1252ToUtf8(value)));
      }
    }
    for (const auto& a : attrs) {
      if (a.first == "id" && a.second == "report-data") return attrs;
    }
    i = k;
    if (tag == "script" || tag == "style" || tag == "textarea" || tag == "title") {
      const size_t end = FindNoCase(html, "</" + tag, i);
      if (end == std::string_view::npos) break;
      i = end;
    }
  }
  return {};
}

}  // namespace

const std::string* Report::Computer(std::string_view label) const {
  for (const auto& [name, value] : computer) {
    if (name == label) return &value;
  }
  return nullptr;
}

Report ReadReportFields(std::string_view drivers_base64, std::string_view hwid_base64) {
  if (drivers_base64 == "[drivers]") {
    throw ReportError(
        "This is the report template, not a report: run a scan and use the report it writes.");
  }
  if (Trim(drivers_base64).empty()) throw ReportError("This report holds no device data.");
  // The device data names the code page both fields are in.
  const std::string data = DecodeBase64(drivers_base64, "The device data");
  Report report;
  report.code_page = CodePageOf(data);
  if (hwid_base64 == "[hwid]") {
    report.notes.push_back("The hardware id was not filled in.");
  } else {
    try {
      report.hardware_id = DecodeAnsi(DecodeBase64(hwid_base64, "The hardware id"),
                                      report.code_page, "The hardware id", report.notes);
    } catch (const ReportError& e) {
      report.notes.push_back(e.what());
    }
  }
  const std::string text = DecodeAnsi(data, report.code_page, "The device data", report.notes);
  ParseScanData(text, report);
  if (report.devices.empty()) throw ReportError("The report holds no device entries.");
  return report;
}

Report ReadReportPage(std::string_view html_bytes) {
  const auto attrs = ReportDataAttributes(html_bytes);
  if (attrs.empty()) throw ReportError("This is not a Kestrova report: it holds no report data.");
  std::string drivers, hwid;
  for (const auto& [name, value] : attrs) {
    if (name == "data-drivers") drivers = value;
    if (name == "data-hwid") hwid = value;
  }
  return ReadReportFields(drivers, hwid);
}

}  // namespace match
