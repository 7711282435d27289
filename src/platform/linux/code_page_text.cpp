#include "platform/code_page_text.h"

#include <iconv.h>

#include <cerrno>

namespace platform {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

class Converter {
 public:
  explicit Converter(const std::string& from) : handle_(iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (IsOpen()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool IsOpen() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return handle_; }

 private:
  iconv_t handle_;
};

std::string IconvName(unsigned code_page) {
  // glibc knows the Windows code pages as CP<number>; UTF-8 is 65001 to Windows.
  return code_page == 65001 ? "UTF-8" : "CP" + std::to_string(code_page);
}

}  // namespace

std::optional<DecodedText> DecodeCodePage(std::string_view bytes, unsigned code_page) {
  Converter converter(IconvName(code_page));
  if (!converter.IsOpen()) return std::nullopt;
  DecodedText decoded;
  // Enough for every code page a report can be in (at most three UTF-8 bytes
  // per byte, U+FFFD included); grown should one need more.
  std::string out(bytes.size() * 3 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (iconv(converter.Get(), &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      const size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
      continue;
    }
    // EILSEQ: a byte that starts no character here; EINVAL: a character cut
    // off at the end. Either way one byte is lost and the rest goes on.
    if (out_left < kReplacement.size()) {
      const size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      out_left = out.size() - used;
    }
    for (char c : kReplacement) *dst++ = c;
    out_left -= kReplacement.size();
    ++in;
    --in_left;
    ++decoded.undecodable_bytes;
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  }
  out.resize(static_cast<size_t>(dst - out.data()));
  decoded.utf8 = std::move(out);
  return decoded;
}

}  // namespace platform
