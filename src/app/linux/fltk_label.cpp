#include "app/linux/fltk_label.h"

#include "platform/codepage.h"

namespace app {

std::string FltkLabel(std::wstring_view text) {
  const std::string utf8 = platform::ToUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (c == '\r') {
      // "\r\n" and a lone "\r" both end a line.
      out += '\n';
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
    } else if (c == '@') {
      out += "@@";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace app
