#include "files/linux/kernel_journal.h"

#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "files/linux/linux_setup_logs.h"
#include "files/setup_log.h"
#include "platform/codepage.h"

namespace file {
namespace {

class Journal {
 public:
  explicit Journal(const std::string& root) {
    // The system journal only: users' own journals hold no kernel messages.
    const int r = root.empty() || root == "/"
                      ? sd_journal_open(&j_, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM)
                      : sd_journal_open_directory(&j_, root.c_str(), SD_JOURNAL_OS_ROOT);
    if (r < 0) j_ = nullptr;
  }
  ~Journal() {
    if (j_ != nullptr) sd_journal_close(j_);
  }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  sd_journal* get() const { return j_; }

  // A field of the current entry without its "NAME=" prefix.
  std::string Field(const char* name) const {
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(j_, name, &data, &length) < 0) return "";
    std::string_view field(static_cast<const char*>(data), length);
    const size_t eq = field.find('=');
    return eq == std::string_view::npos ? "" : std::string(field.substr(eq + 1));
  }

 private:
  sd_journal* j_ = nullptr;
};

// The boot id in the journal's form (32 lower-case hex digits) from the
// kernel's file ("xxxxxxxx-xxxx-..."); "" when there is none.
std::string CurrentBoot(const std::string& root) {
  const std::string path = root + "/proc/sys/kernel/random/boot_id";
  std::error_code ec;
  // proc shows it as a regular file; anything else (a FIFO) is not read.
  if (!std::filesystem::is_regular_file(path, ec)) return "";
  std::ifstream in(path);
  std::string text(64, '\0');  // 36 characters and a newline
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  text.resize(std::min(text.find('\n'), text.size()));
  sd_id128_t id;
  if (text.empty() || sd_id128_from_string(text.c_str(), &id) < 0) return "";
  char out[SD_ID128_STRING_MAX];
  return sd_id128_to_string(id, out);
}

// "Dec 07 16:46:40" in local time, as the journal's short form has it.
std::string ShortTime(std::uint64_t usec) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = static_cast<std::time_t>(usec / 1000000);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s %02d %02d:%02d:%02d", kMonths[tm.tm_mon % 12], tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace

std::wstring KernelJournalLines(const std::string& root, size_t lines) {
  if (lines == 0) return {};
  Journal journal(root);
  sd_journal* j = journal.get();
  if (j == nullptr) return {};
  if (sd_journal_add_match(j, "_TRANSPORT=kernel", 0) < 0) return {};

  std::string boot = CurrentBoot(root);
  if (boot.empty()) {
    // Another system's tree without its proc: its newest boot.
    if (sd_journal_seek_tail(j) < 0 || sd_journal_previous(j) <= 0) return {};
    boot = journal.Field("_BOOT_ID");
    if (boot.empty()) return {};
  }
  if (sd_journal_add_match(j, ("_BOOT_ID=" + boot).c_str(), 0) < 0) return {};

  // Newest first, then turned around.
  std::vector<std::string> newest_first;
  if (sd_journal_seek_tail(j) < 0) return {};
  while (newest_first.size() < lines && sd_journal_previous(j) > 0) {
    std::string message = journal.Field("MESSAGE");
    // One entry, one line: a record the kernel split keeps its parts together.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
      message.pop_back();
    }
    for (char& c : message) {
      if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    }
    std::uint64_t usec = 0;
    sd_journal_get_realtime_usec(j, &usec);
    const std::string host = journal.Field("_HOSTNAME");
    newest_first.push_back(ShortTime(usec) + (host.empty() ? "" : " " + host) +
                           " kernel: " + message);
  }
  std::string text;
  for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it) text += *it + "\r\n";
  return platform::FromUtf8(text);
}

std::wstring LinuxSetupLogExcerpt(FileSystem& fs, platform::MessagePump& pump,
                                  const std::string& root) {
  try {
    const std::wstring journal = KernelJournalLines(root, kSetupLogLines);
    if (!journal.empty()) return SetupLogExcerpt(journal);
  } catch (...) {
    // Only an allocation failure gets here; the log files may still serve.
  }
  return ReadSetupLogExcerpt(fs, pump, LinuxSetupLogs(root));
}

}  // namespace file
