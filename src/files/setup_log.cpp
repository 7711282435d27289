#include "files/setup_log.h"

#include "files/file.h"
#include "platform/codepage.h"

namespace file {
namespace {

// LF alone becomes CR LF; CR LF stays as it is.
std::wstring CrLfLineEnds(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
    out += text[i];
  }
  return out;
}

}  // namespace

SetupLogSource WindowsSetupLogs(FileSystem& fs) {
  const std::wstring root = fs.GetEnv(L"Systemroot");
  const std::wstring device_log = root + L"\\inf\\setupapi.dev.log";
  const std::wstring app_log = root + L"\\inf\\setupapi.app.log";
  const std::wstring classic_log = fs.GetEnv(L"windir") + L"\\setupapi.log";
  // The device log is never read: it only tells which layout the system has.
  if (FileExists(fs, device_log)) return {{app_log, classic_log}};
  return {{classic_log, app_log}};
}

std::wstring SetupLogExcerpt(const std::wstring& text) {
  if (text.empty()) return {};
  std::vector<size_t> starts{0};  // where each piece begins
  for (size_t pos = text.find(L"\r\n"); pos != std::wstring::npos;
       pos = text.find(L"\r\n", pos + 2)) {
    starts.push_back(pos + 2);
  }
  const size_t k = starts.size() - 1;  // the number of CR LFs
  const size_t first = k > kSetupLogLines ? k - kSetupLogLines : 0;
  std::wstring excerpt;
  for (size_t i = first; i < k; ++i) {
    excerpt += L"\r\n";
    excerpt.append(text, starts[i], starts[i + 1] - 2 - starts[i]);
  }
  return excerpt;
}

std::wstring ReadSetupLogExcerpt(FileSystem& fs, platform::MessagePump& pump,
                                 const SetupLogSource& source) {
  try {
    for (const std::wstring& path : source.tried_in_order) {
      if (!FileExists(fs, path)) continue;
      const std::uint64_t length = fs.Size(path).value_or(0);
      if (length > kSetupLogSizeLimit) return path + L" is too big" + std::to_wstring(length);
      std::wstring text = ReadTextFile(fs, pump, path);
      // The reader decoded the bytes as ANSI, which gives them back unchanged.
      if (source.utf8_text) text = platform::FromUtf8(platform::ToAnsi(text));
      if (source.lf_line_ends) text = CrLfLineEnds(text);
      return SetupLogExcerpt(text);
    }
  } catch (...) {
    // Only an allocation failure can get here; the report goes on without
    // an excerpt.
    return {};
  }
  return kNoSetupLogText;
}

}  // namespace file
