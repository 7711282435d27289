#include "catalog/inf_reader.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>

#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {

InfError::InfError(int at, const std::string& why)
    : std::runtime_error(at > 0 ? "line " + std::to_string(at) + ": " + why : why),
      line(at),
      reason(why) {}

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
      platform::AppendUtf8(out, 0xFFFD);
      ++i;
      continue;
    }
    platform::AppendUtf8(out, cp);
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) throw InfError(0, "UTF-16 text with an odd number of bytes");
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](size_t i) {
    const unsigned char a = static_cast<unsigned char>(bytes[i]),
                        b = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? char32_t((a << 8) | b) : char32_t((b << 8) | a);
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 2 < bytes.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        platform::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    platform::AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

// Orders names without regard to ASCII case, so a lookup by any spelling
// needs no upper-case copy of the name.
struct IgnoringCaseLess {
  using is_transparent = void;
  static unsigned char Upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
  }
  bool operator()(std::string_view a, std::string_view b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      const unsigned char x = Upper(a[i]), y = Upper(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

struct Line {
  int number = 0;
  bool has_key = false;
  std::string key;                  // unquoted, trimmed
  std::vector<std::string> values;  // unquoted, trimmed, comma-separated fields
  std::string whole_value;  // everything after '=', unquoted, commas kept; [Strings...] only
};

struct Section {
  std::string name;  // as first written
  int number = 0;
  bool strings = false;  // [Strings] or [Strings.<language>]: its lines keep their whole value
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
      // A plain scan: find_first_of looks each character up in the set.
      size_t end = pos;
      while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
      std::string_view physical(text_.data() + pos, end - pos);
      ++number;
      if (end < text_.size() && text_[end] == '\r' && end + 1 < text_.size() &&
          text_[end + 1] == '\n')
        ++end;
      pos = end + 1;

      if (logical.empty()) logical_start = number;
      std::string_view trimmed = platform::TrimWhiteSpace(StripComment(physical));
      // A backslash ending a line (comments aside) joins the next one, with
      // nothing put between: "PCI\\VEN_1234&\\" + "DEV_1" is one id.
      if (!trimmed.empty() && trimmed.back() == '\\' && pos <= text_.size()) {
        logical.append(trimmed.substr(0, trimmed.size() - 1));
        continue;
      }
      // A line on its own is read where it lies, not copied first.
      std::string_view line = trimmed;
      if (!logical.empty()) {
        logical.append(trimmed);
        line = platform::TrimWhiteSpace(logical);
      }
      if (!line.empty()) current = Take(line, logical_start, current);
      logical.clear();
    }
  }

  const Section* Find(std::string_view name) const {
    auto it = sections_.find(name);
    return it == sections_.end() ? nullptr : &it->second;
  }
  const std::vector<std::string>& Order() const { return order_; }

 private:
  // The line up to a ';' outside quotes. Quotes stay, for the field split.
  // A quote left open ends with its line, as Windows reads it (translated
  // strings of inbox INFs have one).
  static std::string_view StripComment(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;  // "" inside quotes toggles twice
      if (line[i] == ';' && !quoted) return line.substr(0, i);
    }
    return line;
  }

  Section* Take(std::string_view line, int number, Section* current) {
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos)
        throw InfError(number, "a section name has no closing ']'");
      // "[]" is a section all the same, one no directive ever names.
      const std::string name(platform::TrimWhiteSpace(line.substr(1, close - 1)));
      const std::string key = platform::AsciiUpper(name);
      auto [it, fresh] = sections_.try_emplace(key);
      if (fresh) {
        it->second.name = name;
        it->second.number = number;
        it->second.strings = key == "STRINGS" || key.rfind("STRINGS.", 0) == 0;
        order_.push_back(key);
      }
      return &it->second;  // a repeated section continues the first
    }
    if (current == nullptr) return nullptr;  // text before the first section belongs to none
    current->lines.push_back(Split(line, number, current->strings));
    return current;
  }

  // One field being read: white space outside quotes is dropped at either
  // end, white space inside them is kept.
  struct Field {
    std::string text;
    size_t kept = 0;  // text up to here came from quotes or precedes them
    void Add(std::string_view run, bool quoted) {
      if (!quoted && text.empty()) {
        while (!run.empty() && (run.front() == ' ' || run.front() == '\t')) run.remove_prefix(1);
      }
      text.append(run);
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
  // The text between the characters that matter is taken a run at a time.
  // `whole`: everything after '=' with its commas, for [Strings].
  Line Split(std::string_view line, int number, bool keep_whole) {
    Line out;
    out.number = number;
    out.values.reserve(static_cast<size_t>(std::count(line.begin(), line.end(), ',')) + 1);
    Field& field = field_;  // kept between lines: their buffers grow once a file
    Field& whole = whole_;
    field.text.clear();
    whole.text.clear();
    field.kept = whole.kept = 0;
    bool quoted = false;
    size_t i = 0;
    while (i < line.size()) {
      // The first '=' outside quotes and before any comma ends the key.
      const bool key_open = !out.has_key && out.values.empty();
      size_t end = i;
      while (end < line.size() && line[end] != '"' &&
             (quoted || (line[end] != ',' && (line[end] != '=' || !key_open))))
        ++end;
      const std::string_view run = line.substr(i, end - i);
      field.Add(run, quoted);
      if (keep_whole) whole.Add(run, quoted);
      if (end == line.size()) break;
      const char c = line[end];
      i = end + 1;
      if (c == '"') {
        if (quoted && i < line.size() && line[i] == '"') {
          field.Add("\"", true);
          if (keep_whole) whole.Add("\"", true);
          ++i;
        } else {
          quoted = !quoted;
          field.kept = field.text.size();
          whole.kept = whole.text.size();
        }
      } else if (c == '=') {
        out.has_key = true;
        out.key = field.Take();
        whole.Take();
      } else {  // ',' outside quotes
        if (keep_whole) whole.Add(",", false);
        out.values.push_back(field.Take());
      }
    }
    out.values.push_back(field.Take());
    if (out.has_key && keep_whole) out.whole_value = whole.Take();
    return out;
  }

  std::string text_;
  Field field_, whole_;
  std::map<std::string, Section, IgnoringCaseLess> sections_;
  std::vector<std::string> order_;
};

// %token% -> its string; %% -> %; an unknown token stays as written.
class Strings {
 public:
  // One section serves: [Strings.<language>], else the one for the primary
  // language ([Strings.0009] for 0409), else [Strings] (INF Strings Section).
  Strings(const Parser& p, unsigned language) {
    const Section* exact = nullptr;
    const Section* neutral = nullptr;
    for (const std::string& key : p.Order()) {
      if (key.rfind("STRINGS.", 0) != 0) continue;
      const std::string_view id = std::string_view(key).substr(8);
      unsigned value = 0;
      bool hex = !id.empty() && id.size() <= 4;
      for (char c : id) {
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) hex = false;
        value = value * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
      }
      if (!hex) continue;
      if (value == language && exact == nullptr) exact = p.Find(key);
      if (value == (language & 0x3FF) && neutral == nullptr) neutral = p.Find(key);
    }
    Add(exact != nullptr ? exact : neutral != nullptr ? neutral : p.Find("Strings"));
  }

  // Throws for a result over kMaxExpandedString: a repeated long string must
  // not blow one line up to megabytes.
  std::string Expand(std::string_view text, int line) const {
    if (text.find('%') == std::string_view::npos) return Bounded(std::string(text), line);
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
      } else if (auto it = table_.find(token); it != table_.end()) {
        out += it->second;
      } else {
        out.append(text.substr(i, close - i + 1));
      }
      if (out.size() > kMaxExpandedString) break;
      i = close + 1;
    }
    return Bounded(std::move(out), line);
  }

 private:
  static std::string Bounded(std::string text, int line) {
    if (text.size() > kMaxExpandedString) {
      throw InfError(line, "a value expands to more than " + std::to_string(kMaxExpandedString) +
                               " characters");
    }
    return text;
  }

  void Add(const Section* s) {
    if (s == nullptr) return;
    for (const Line& l : s->lines) {
      if (!l.has_key) continue;
      // A string's own "%%" is one percent sign; its text is not expanded again.
      std::string value;
      for (size_t i = 0; i < l.whole_value.size(); ++i) {
        value += l.whole_value[i];
        if (l.whole_value[i] == '%' && i + 1 < l.whole_value.size() && l.whole_value[i + 1] == '%')
          ++i;
      }
      table_.try_emplace(platform::AsciiUpper(l.key), std::move(value));
    }
  }
  std::map<std::string, std::string, IgnoringCaseLess> table_;
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
    parts.push_back(
        s.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

// DriverVer = mm/dd/yyyy[,w.x.y.z] -> ("yyyy-mm-dd", "w.x.y.z"). Windows
// takes a missing or unreadable date as 00/00/0000 and a missing version as
// 0.0.0.0 rather than refusing the file: both are "" here.
void ReadDriverVer(const Line& l, const Strings& strings, std::string& date, std::string& version) {
  date.clear();
  version.clear();
  const std::string when = strings.Expand(l.values.empty() ? std::string() : l.values[0], l.number);
  std::vector<std::string_view> parts =
      SplitOn(when, when.find('-') != std::string::npos ? '-' : '/');
  std::optional<int> m, d, y;
  if (parts.size() == 3) {
    m = Number(platform::TrimWhiteSpace(parts[0]), 12);
    d = Number(platform::TrimWhiteSpace(parts[1]), 31);
    y = Number(platform::TrimWhiteSpace(parts[2]), 9999);
  }
  if (m && d && y && *m > 0 && *d > 0 && *y >= 1980) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", *y, *m, *d);
    date = buf;
  }
  if (l.values.size() > 1) {
    const std::string v = strings.Expand(l.values[1], l.number);
    std::vector<std::string_view> nums = SplitOn(v, '.');
    std::string read;
    for (size_t i = 0; i < nums.size() && nums.size() <= 4; ++i) {
      std::optional<int> n = Number(platform::TrimWhiteSpace(nums[i]), 65535);
      if (!n) return;
      if (i) read += '.';
      read += std::to_string(*n);
    }
    if (nums.size() <= 4) version = read;
  }
}

// "NTamd64.10.0...16299" -> "AMD64"; "", "NT" and "NTx86..." -> "X86".
std::string ArchOf(const std::string& decoration) {
  const std::string head = platform::AsciiUpper(decoration.substr(0, decoration.find('.')));
  if (head.size() <= 2 || head.rfind("NT", 0) != 0) return "X86";
  return head.substr(2);
}

// FeatureScore=0xGG (hex, with or without "0x"); unreadable text keeps 0xFF.
int ReadFeatureScore(std::string_view text) {
  text = platform::TrimWhiteSpace(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty() || text.size() > 2) return 0xFF;
  int v = 0;
  for (char c : text) {
    const char u = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
    const int d = u >= '0' && u <= '9' ? u - '0' : u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
    if (d < 0) return 0xFF;
    v = v * 16 + d;
  }
  return v;
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
  return platform::Windows1252ToUtf8(bytes);
}

std::vector<ModelLine> ReadInf(std::string_view bytes, const std::string& relative_path,
                               unsigned language) {
  Parser parser(DecodeInfText(bytes));
  parser.Parse();
  const Strings strings(parser, language);
  auto expand = [&](const Line& l, size_t i) {
    return i < l.values.size() ? strings.Expand(l.values[i], l.number) : std::string();
  };

  const Section* version = parser.Find("Version");
  if (version == nullptr) throw InfError(0, "no [Version] section");
  ModelLine base;
  base.inf = relative_path;
  bool signature = false;
  std::map<std::string, std::string> catalogs;  // "" / "NT" / "NTAMD64"... -> file name
  for (const Line& l : version->lines) {
    if (!l.has_key) continue;
    const std::string key = platform::AsciiUpper(l.key);
    const std::string value = expand(l, 0);
    if (key == "SIGNATURE") {
      const std::string sig = platform::AsciiUpper(value);
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
    } else if (key == "CATALOGFILE") {
      catalogs.try_emplace("", value);
    } else if (key.rfind("CATALOGFILE.", 0) == 0) {
      catalogs.try_emplace(key.substr(12), value);
    }
  }
  if (!signature) throw InfError(version->number, "[Version] has no Signature");

  // What depends on the platform, resolved once per architecture: the
  // catalog (INF Version Section: CatalogFile.NTamd64, then .NT, then plain)
  // and the install section (INF DDInstall Section: Inst.NTamd64, Inst.NT, Inst).
  struct Platform {
    std::string catalog;
  };
  std::map<std::string, Platform> platforms;
  auto platform_of = [&](const std::string& arch) -> const Platform& {
    auto [it, fresh] = platforms.try_emplace(arch);
    if (fresh) {
      for (const std::string& k : {"NT" + arch, std::string("NT"), std::string()}) {
        if (auto c = catalogs.find(k); c != catalogs.end() && !c->second.empty()) {
          it->second.catalog = c->second;
          break;
        }
      }
    }
    return it->second;
  };
  // What a line takes from its install section, read once per section and
  // architecture: most packages install many models with one section.
  struct Install {
    bool nt = false;
    int feature_score = 0xFF;
    std::string driver_date, driver_version;
    std::vector<std::string> exclude_ids;
  };
  std::map<std::string, Install, IgnoringCaseLess> installs;  // "arch|section" -> it
  auto apply_install_section = [&](ModelLine& m, const std::string& arch) {
    auto [it, fresh] = installs.try_emplace(arch + '|' + m.install_section);
    Install& install = it->second;
    if (fresh) {
      install.driver_date = m.driver_date;
      install.driver_version = m.driver_version;
      const Section* section = nullptr;
      for (const std::string& suffix : {".NT" + arch, std::string(".NT"), std::string()}) {
        section = parser.Find(m.install_section + suffix);
        if (section != nullptr) {
          install.nt = !suffix.empty();
          break;
        }
      }
      static const std::vector<Line> kNone;
      for (const Line& l : section != nullptr ? section->lines : kNone) {
        if (!l.has_key) continue;
        const std::string key = platform::AsciiUpper(l.key);
        if (key == "FEATURESCORE") {
          install.feature_score = ReadFeatureScore(expand(l, 0));
        } else if (key == "DRIVERVER") {
          ReadDriverVer(l, strings, install.driver_date, install.driver_version);
        } else if (key == "EXCLUDEID") {
          for (size_t i = 0; i < l.values.size(); ++i) {
            std::string id = expand(l, i);
            if (!id.empty()) install.exclude_ids.push_back(std::move(id));
          }
        }
      }
    }
    m.install_section_nt = install.nt;
    m.feature_score = install.feature_score;
    m.driver_date = install.driver_date;
    m.driver_version = install.driver_version;
    m.exclude_ids = install.exclude_ids;
  };

  std::vector<ModelLine> out;
  const Section* makers = parser.Find("Manufacturer");
  if (makers == nullptr) return out;  // a package without devices (a class or filter INF)
  // Two manufacturer entries naming one models section read it once: a
  // hostile file must not multiply one long section by its entries.
  std::map<std::string, bool> read_sections;
  for (const Line& entry : makers->lines) {
    ModelLine maker = base;
    std::vector<std::string> fields;
    for (size_t i = 0; i < entry.values.size(); ++i) fields.push_back(expand(entry, i));
    if (fields.empty() || fields[0].empty()) continue;  // names no models section: offers nothing
    maker.manufacturer = entry.has_key ? strings.Expand(entry.key, entry.number) : fields[0];
    const std::string models = fields[0];
    maker.manufacturer_decorations.push_back("");
    for (size_t i = 1; i < fields.size(); ++i) {
      if (!fields[i].empty()) maker.manufacturer_decorations.push_back(fields[i]);
    }
    for (const std::string& decoration : maker.manufacturer_decorations) {
      const std::string name = decoration.empty() ? models : models + "." + decoration;
      // A section for a platform never in use may be missing: it costs nothing.
      const Section* section = parser.Find(name);
      if (section == nullptr || !read_sections.try_emplace(platform::AsciiUpper(name), true).second)
        continue;
      const std::string arch = ArchOf(decoration);
      const Platform& platform = platform_of(arch);
      for (const Line& l : section->lines) {
        // A line without "description =" or without an install section
        // installs nothing; Windows passes over it.
        if (!l.has_key || l.values.empty()) continue;
        ModelLine m = maker;
        m.decoration = decoration;
        m.description = strings.Expand(l.key, l.number);
        m.install_section = expand(l, 0);
        if (m.install_section.empty()) continue;
        // The hardware id may be empty (how inbox input INFs match every HID
        // device by compatible id); a line with no id at all is for choosing
        // by hand (printer packages have many) and no device can match it.
        m.ids.reserve(l.values.size() - 1);
        m.ids.push_back(expand(l, 1));
        for (size_t i = 2; i < l.values.size(); ++i) {
          std::string id = expand(l, i);
          if (!id.empty()) m.ids.push_back(std::move(id));
        }
        if (m.ids.size() == 1 && m.ids[0].empty()) continue;
        m.catalog_file = platform.catalog;
        apply_install_section(m, arch);
        if (out.size() >= kMaxModelLines) {
          throw InfError(l.number, "more than " + std::to_string(kMaxModelLines) + " model lines");
        }
        out.push_back(std::move(m));
      }
    }
  }
  return out;
}

std::string ArchOfDecoration(const std::string& decoration) {
  return ArchOf(decoration);
}

// INF SourceDisksNames Section and INF SourceDisksFiles Section
// (learn.microsoft.com/windows-hardware/drivers/install/inf-sourcedisksnames-section,
// .../inf-sourcedisksfiles-section): diskid = description,[tag],[unused],[path],...
// and filename = diskid,[subdir],[size].
std::vector<std::string> SourceFiles(std::string_view bytes, const std::string& arch) {
  Parser parser(DecodeInfText(bytes));
  parser.Parse();
  const Strings strings(parser, 0x0409);
  auto expand = [&](const Line& l, size_t i) {
    return i < l.values.size() ? strings.Expand(l.values[i], l.number) : std::string();
  };
  // A relative folder with '/' separators, no leading or trailing slash.
  auto folder = [](std::string path) {
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
  };
  std::map<std::string, std::string> disks;  // disk id -> its folder
  for (const std::string& name : {std::string("SourceDisksNames"), "SourceDisksNames." + arch}) {
    const Section* s = parser.Find(name);
    if (s == nullptr) continue;
    for (const Line& l : s->lines) {
      if (l.has_key)
        disks[std::string(platform::TrimWhiteSpace(strings.Expand(l.key, l.number)))] =
            folder(expand(l, 3));
    }
  }
  std::vector<std::string> order;                   // upper-case names, first listing first
  std::map<std::string, std::string> path_of_name;  // upper-case name -> path
  for (const std::string& name : {std::string("SourceDisksFiles"), "SourceDisksFiles." + arch}) {
    const Section* s = parser.Find(name);
    if (s == nullptr) continue;
    for (const Line& l : s->lines) {
      const std::string file = l.has_key ? strings.Expand(l.key, l.number) : expand(l, 0);
      if (file.empty()) continue;
      std::string path;
      if (l.has_key) {
        auto disk = disks.find(std::string(platform::TrimWhiteSpace(expand(l, 0))));
        if (disk != disks.end() && !disk->second.empty()) path = disk->second + "/";
        const std::string sub = folder(expand(l, 1));
        if (!sub.empty()) path += sub + "/";
      }
      path += folder(file);
      const std::string key = platform::AsciiUpper(file);
      if (path_of_name.find(key) == path_of_name.end()) order.push_back(key);
      path_of_name[key] = path;
    }
  }
  std::vector<std::string> out;
  for (const std::string& key : order) out.push_back(path_of_name[key]);
  return out;
}

}  // namespace catalog
