#include "catalog/inf_reader.h"

#include <cstdint>
#include <map>
#include <optional>

#include "catalog/text.h"

namespace catalog {

InfError::InfError(int at, const std::string& why)
    : std::runtime_error(at > 0 ? "line " + std::to_string(at) + ": " + why : why), line(at), reason(why) {}

namespace {

// UTF-8 with invalid sequences replaced, so the index only ever holds text.
std::string CleanUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const unsigned char b = static_cast<unsigned char>(in[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    int len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    char32_t cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + len <= in.size();
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char c = static_cast<unsigned char>(in[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF))) {
      ok = false;
    }
    if (!ok) {
      AppendUtf8(out, 0xFFFD);
      ++i;
      continue;
    }
    AppendUtf8(out, cp);
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) throw InfError(0, "UTF-16 text with an odd number of bytes");
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t i) {
    const unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? char32_t((a << 8) | b) : char32_t((b << 8) | a);
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 2 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

struct Line {
  int number = 0;
  bool has_key = false;
  std::string key;                  // unquoted, trimmed
  std::vector<std::string> values;  // unquoted, trimmed, comma-separated fields
  std::string whole_value;          // everything after '=', unquoted, commas kept
};

struct Section {
  std::string name;  // as first written
  int number = 0;
  std::vector<Line> lines;
};

class Parser {
 public:
  explicit Parser(std::string text) : text_(std::move(text)) {}

  void Parse() {
    size_t pos = 0;
    int number = 0;
    Section* current = nullptr;
    std::string logical;
    int logical_start = 0;
    while (pos <= text_.size()) {
      size_t end = text_.find_first_of("\r\n", pos);
      if (end == std::string::npos) end = text_.size();
      std::string_view physical(text_.data() + pos, end - pos);
      ++number;
      if (end < text_.size() && text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n') ++end;
      pos = end + 1;

      if (logical.empty()) logical_start = number;
      std::string content = StripComment(physical, number);
      std::string_view trimmed = Trim(content);
      // A backslash ending a line (comments aside) joins the next one.
      if (!trimmed.empty() && trimmed.back() == '\\' && pos <= text_.size()) {
        logical.append(trimmed.substr(0, trimmed.size() - 1));
        logical += ' ';
        continue;
      }
      logical.append(trimmed);
      std::string_view line = Trim(logical);
      if (!line.empty()) current = Take(line, logical_start, current);
      logical.clear();
    }
  }

  const Section* Find(std::string_view name) const {
    auto it = sections_.find(AsciiUpper(name));
    return it == sections_.end() ? nullptr : &it->second;
  }
  const std::vector<std::string>& Order() const { return order_; }

 private:
  // The line up to a ';' outside quotes. Quotes stay, for the field split.
  static std::string StripComment(std::string_view line, int number) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;  // "" inside quotes toggles twice
      if (line[i] == ';' && !quoted) return std::string(line.substr(0, i));
    }
    if (quoted) throw InfError(number, "a quoted string is not closed");
    return std::string(line);
  }

  Section* Take(std::string_view line, int number, Section* current) {
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) throw InfError(number, "a section name has no closing ']'");
      const std::string name(Trim(line.substr(1, close - 1)));
      if (name.empty()) throw InfError(number, "a section has no name");
      const std::string key = AsciiUpper(name);
      auto [it, fresh] = sections_.try_emplace(key);
      if (fresh) {
        it->second.name = name;
        it->second.number = number;
        order_.push_back(key);
      }
      return &it->second;  // a repeated section continues the first
    }
    if (current == nullptr) throw InfError(number, "text before the first section");
    current->lines.push_back(Split(line, number));
    return current;
  }

  // One field being read: white space outside quotes is dropped at either
  // end, white space inside them is kept.
  struct Field {
    std::string text;
    size_t kept = 0;  // text up to here came from quotes or precedes them
    void Add(char c, bool quoted) {
      if (!quoted && text.empty() && (c == ' ' || c == '\t')) return;
      text += c;
      if (quoted) kept = text.size();
    }
    std::string Take() {
      size_t end = text.size();
      while (end > kept && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
      std::string out = text.substr(0, end);
      text.clear();
      kept = 0;
      return out;
    }
  };

  // key = field, "quoted, field", ... (quotes removed, "" inside them is one ").
  static Line Split(std::string_view line, int number) {
    Line out;
    out.number = number;
    Field field, whole;  // `whole`: everything after '=', commas kept, for [Strings]
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          field.Add('"', true);
          whole.Add('"', true);
          ++i;
        } else {
          quoted = !quoted;
          field.kept = field.text.size();
          whole.kept = whole.text.size();
        }
        continue;
      }
      // The first '=' outside quotes and before any comma ends the key.
      if (!quoted && c == '=' && !out.has_key && out.values.empty()) {
        out.has_key = true;
        out.key = field.Take();
        whole.Take();
        continue;
      }
      whole.Add(c, quoted);
      if (!quoted && c == ',') {
        out.values.push_back(field.Take());
        continue;
      }
      field.Add(c, quoted);
    }
    out.values.push_back(field.Take());
    if (out.has_key) out.whole_value = whole.Take();
    return out;
  }

  std::string text_;
  std::map<std::string, Section> sections_;
  std::vector<std::string> order_;
};

// %token% -> its string; %% -> %; an unknown token stays as written.
class Strings {
 public:
  explicit Strings(const Parser& p) {
    // The neutral table first, then US English, then every other language.
    Add(p.Find("Strings"));
    Add(p.Find("Strings.0409"));
    for (const std::string& key : p.Order()) {
      if (key.rfind("STRINGS.", 0) == 0) Add(p.Find(key));
    }
  }

  std::string Expand(std::string_view text) const {
    if (text.find('%') == std::string_view::npos) return std::string(text);
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] != '%') {
        out += text[i++];
        continue;
      }
      const size_t close = text.find('%', i + 1);
      if (close == std::string_view::npos) {
        out.append(text.substr(i));
        break;
      }
      const std::string_view token = text.substr(i + 1, close - i - 1);
      if (token.empty()) {
        out += '%';
      } else if (auto it = table_.find(AsciiUpper(token)); it != table_.end()) {
        out += it->second;
      } else {
        out.append(text.substr(i, close - i + 1));
      }
      i = close + 1;
    }
    return out;
  }

 private:
  void Add(const Section* s) {
    if (s == nullptr) return;
    for (const Line& l : s->lines) {
      if (!l.has_key) continue;
      // A string's own "%%" is one percent sign; its text is not expanded again.
      std::string value;
      for (size_t i = 0; i < l.whole_value.size(); ++i) {
        value += l.whole_value[i];
        if (l.whole_value[i] == '%' && i + 1 < l.whole_value.size() && l.whole_value[i + 1] == '%') ++i;
      }
      table_.try_emplace(AsciiUpper(l.key), std::move(value));
    }
  }
  std::map<std::string, std::string> table_;
};

std::optional<int> Number(std::string_view s, int max) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

std::vector<std::string_view> SplitOn(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

// DriverVer = mm/dd/yyyy[,w.x.y.z] -> ("yyyy-mm-dd", "w.x.y.z").
void ReadDriverVer(const Line& l, const Strings& strings, std::string& date, std::string& version) {
  const std::string when = strings.Expand(l.values.empty() ? std::string() : l.values[0]);
  std::vector<std::string_view> parts = SplitOn(when, when.find('-') != std::string::npos ? '-' : '/');
  std::optional<int> m, d, y;
  if (parts.size() == 3) {
    m = Number(Trim(parts[0]), 12);
    d = Number(Trim(parts[1]), 31);
    y = Number(Trim(parts[2]), 9999);
  }
  if (!m || !d || !y || *m == 0 || *d == 0 || *y < 1980) {
    throw InfError(l.number, "DriverVer date \"" + when + "\" is not mm/dd/yyyy");
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", *y, *m, *d);
  date = buf;
  version.clear();
  if (l.values.size() > 1) {
    const std::string v = strings.Expand(l.values[1]);
    std::vector<std::string_view> nums = SplitOn(v, '.');
    if (nums.size() > 4) throw InfError(l.number, "DriverVer version \"" + v + "\" has more than four parts");
    for (size_t i = 0; i < nums.size(); ++i) {
      std::optional<int> n = Number(Trim(nums[i]), 65535);
      if (!n) throw InfError(l.number, "DriverVer version \"" + v + "\" is not w.x.y.z");
      if (i) version += '.';
      version += std::to_string(*n);
    }
  }
}

}  // namespace

std::string DecodeInfText(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return Utf16ToUtf8(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    return Utf16ToUtf8(bytes.substr(2), true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return CleanUtf8(bytes.substr(3));
  if (bytes.find('\0') != std::string_view::npos) {
    // UTF-16LE without its mark: ASCII text with every second byte zero.
    if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') return Utf16ToUtf8(bytes, false);
    throw InfError(0, "binary data, not text");
  }
  return Cp1252ToUtf8(bytes);
}

std::vector<ModelLine> ReadInf(std::string_view bytes, const std::string& relative_path) {
  Parser parser(DecodeInfText(bytes));
  parser.Parse();
  const Strings strings(parser);

  const Section* version = parser.Find("Version");
  if (version == nullptr) throw InfError(0, "no [Version] section");
  ModelLine base;
  base.inf = relative_path;
  bool signature = false;
  for (const Line& l : version->lines) {
    if (!l.has_key) continue;
    const std::string key = AsciiUpper(l.key);
    const std::string value = l.values.empty() ? std::string() : strings.Expand(l.values[0]);
    if (key == "SIGNATURE") {
      const std::string sig = AsciiUpper(value);
      if (sig != "$WINDOWS NT$" && sig != "$CHICAGO$" && sig != "$WINDOWS 95$") {
        throw InfError(l.number, "unknown Signature \"" + value + "\"");
      }
      signature = true;
    } else if (key == "CLASS") {
      base.class_name = value;
    } else if (key == "CLASSGUID") {
      base.class_guid = value;
    } else if (key == "PROVIDER") {
      base.provider = value;
    } else if (key == "DRIVERVER") {
      ReadDriverVer(l, strings, base.driver_date, base.driver_version);
    } else if (key == "CATALOGFILE" || key.rfind("CATALOGFILE.", 0) == 0) {
      // Any platform's catalog signs the package for that platform; the
      // undecorated name wins when both are given.
      if (key == "CATALOGFILE" || base.catalog_file.empty()) base.catalog_file = value;
    }
  }
  if (!signature) throw InfError(version->number, "[Version] has no Signature");

  std::vector<ModelLine> out;
  const Section* makers = parser.Find("Manufacturer");
  if (makers == nullptr) return out;  // a package without devices (a class or filter INF)
  for (const Line& entry : makers->lines) {
    ModelLine maker = base;
    std::vector<std::string> fields;
    for (const std::string& v : entry.values) fields.push_back(strings.Expand(v));
    if (fields.empty() || fields[0].empty()) throw InfError(entry.number, "a manufacturer entry names no models section");
    maker.manufacturer = entry.has_key ? strings.Expand(entry.key) : fields[0];
    const std::string models = fields[0];
    maker.manufacturer_decorations.push_back("");
    for (size_t i = 1; i < fields.size(); ++i) {
      if (!fields[i].empty()) maker.manufacturer_decorations.push_back(fields[i]);
    }
    for (const std::string& decoration : maker.manufacturer_decorations) {
      const std::string name = decoration.empty() ? models : models + "." + decoration;
      const Section* section = parser.Find(name);
      if (section == nullptr) {
        if (decoration.empty()) continue;  // a package for decorated platforms only
        throw InfError(entry.number, "models section [" + name + "] is missing");
      }
      for (const Line& l : section->lines) {
        if (!l.has_key) throw InfError(l.number, "a model line has no '=' after its description");
        ModelLine m = maker;
        m.decoration = decoration;
        m.description = strings.Expand(l.key);
        m.install_section = l.values.empty() ? std::string() : strings.Expand(l.values[0]);
        if (m.install_section.empty()) throw InfError(l.number, "a model line names no install section");
        for (size_t i = 1; i < l.values.size(); ++i) {
          std::string id = strings.Expand(l.values[i]);
          if (!id.empty()) m.ids.push_back(std::move(id));
        }
        // A line without a hardware id is for choosing by hand (printer
        // packages have many); no device can match it.
        if (l.values.size() < 2 || l.values[1].empty()) continue;
        out.push_back(std::move(m));
      }
    }
  }
  return out;
}

}  // namespace catalog
