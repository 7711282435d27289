#include <string>

#include "platform/codepage.h"
#include "platform/win/handles.h"

namespace platform {

std::string SystemMessage(DWORD error) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string msg = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!msg.empty() &&
         (msg.back() == '\n' || msg.back() == '\r' || msg.back() == ' ' || msg.back() == '.')) {
    msg.pop_back();
  }
  if (msg.empty()) msg = "system error";
  return ToUtf8(FromAnsi(msg)) + " (error " + std::to_string(error) + ")";
}

}  // namespace platform
