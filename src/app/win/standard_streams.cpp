// The command-line tool's output on Windows. A console shows Unicode only
// when written with WriteConsoleW (its own code page is the OEM one, not the
// ANSI one the tool's bytes would be in); a file or pipe gets the ANSI code
// page, as scripts reading it expect (or UTF-8, for output that is UTF-8 by
// definition, such as JSON).
#include <windows.h>

#include <algorithm>
#include <ostream>
#include <streambuf>
#include <string>

#include "app/scan_cli.h"
#include "platform/codepage.h"

namespace app {
namespace {

// The length of the longest prefix of `bytes` that ends on a whole UTF-8
// sequence, so a character split across two writes is converted whole.
std::size_t CompleteUtf8Prefix(const std::string& bytes) {
  const std::size_t size = bytes.size();
  for (std::size_t back = 1; back <= 4 && back <= size; ++back) {
    const auto byte = static_cast<unsigned char>(bytes[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t length = 1;
    if ((byte & 0xE0) == 0xC0)
      length = 2;
    else if ((byte & 0xF0) == 0xE0)
      length = 3;
    else if ((byte & 0xF8) == 0xF0)
      length = 4;
    return length > back ? size - back : size;
  }
  return size;
}

// Collects UTF-8 and hands it on at each flush.
class StandardHandleBuffer : public std::streambuf {
 public:
  StandardHandleBuffer(DWORD which, bool utf8_off_console)
      : handle_(GetStdHandle(which)), utf8_off_console_(utf8_off_console) {
    DWORD mode = 0;
    is_console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE &&
                  GetConsoleMode(handle_, &mode) != 0;
  }
  ~StandardHandleBuffer() override { sync(); }
  StandardHandleBuffer(const StandardHandleBuffer&) = delete;
  StandardHandleBuffer& operator=(const StandardHandleBuffer&) = delete;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) pending_.push_back(static_cast<char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int sync() override {
    const std::size_t whole = CompleteUtf8Prefix(pending_);
    if (whole == 0) return 0;
    const std::string_view utf8 = std::string_view(pending_).substr(0, whole);
    const std::wstring text = platform::FromUtf8(utf8);
    bool written = true;
    if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) {
      // no stream: dropped
    } else if (is_console_) {
      written = WriteConsole(text);
    } else {
      written = WriteBytes(utf8_off_console_ ? std::string(utf8) : platform::ToAnsi(text));
    }
    pending_.erase(0, whole);
    return written ? 0 : -1;
  }

 private:
  bool WriteConsole(const std::wstring& text) {
    std::size_t at = 0;
    while (at < text.size()) {
      // Old consoles refuse very large single writes.
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 8192));
      DWORD written = 0;
      if (!WriteConsoleW(handle_, text.data() + at, chunk, &written, nullptr) || written == 0) {
        return false;
      }
      at += written;
    }
    return true;
  }
  bool WriteBytes(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      DWORD written = 0;
      if (!WriteFile(handle_, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written,
                     nullptr) ||
          written == 0) {
        return false;
      }
      at += written;
    }
    return true;
  }

  HANDLE handle_;
  bool utf8_off_console_;
  bool is_console_ = false;
  std::string pending_;
};

}  // namespace

StandardStreams OpenStandardStreams() {
  static StandardHandleBuffer out_buffer(STD_OUTPUT_HANDLE, false);
  static StandardHandleBuffer err_buffer(STD_ERROR_HANDLE, false);
  static std::ostream out(&out_buffer);
  static std::ostream err(&err_buffer);
  return {out, err};
}

StandardStreams OpenUtf8StandardStreams() {
  static StandardHandleBuffer out_buffer(STD_OUTPUT_HANDLE, true);
  static StandardHandleBuffer err_buffer(STD_ERROR_HANDLE, true);
  static std::ostream out(&out_buffer);
  static std::ostream err(&err_buffer);
  return {out, err};
}

}  // namespace app
