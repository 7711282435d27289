#include "files/linux/kernel_journal.h"

#include <dirent.h>
#include <dlfcn.h>
#include <systemd/sd-journal.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string_view>
#include <type_traits>
#include <vector>

#include "files/linux/linux_setup_logs.h"
#include "files/setup_log.h"
#include "platform/codepage.h"
#include "platform/linux/small_file.h"

namespace file {
namespace {

// libsystemd, opened the first time a scan finds a journal to read: a
// system without one never loads it, nor the compression and crypto
// libraries it brings (a millisecond of every start).
struct SdJournal {
  decltype(&sd_journal_open) open;
  decltype(&sd_journal_open_directory) open_directory;
  decltype(&sd_journal_close) close;
  decltype(&sd_journal_add_match) add_match;
  decltype(&sd_journal_seek_tail) seek_tail;
  decltype(&sd_journal_previous) previous;
  decltype(&sd_journal_get_data) get_data;
  decltype(&sd_journal_get_realtime_usec) get_realtime_usec;
};

constexpr char kLibrary[] = "libsystemd.so.0";

// The library's entry points; nullptr when it cannot be loaded, and then
// `why` says so.
const SdJournal* OpenSdJournal(std::string& why) {
  static std::string failure;
  static const SdJournal* const journal = []() -> const SdJournal* {
    void* lib = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
      const char* error = dlerror();
      failure = error != nullptr ? error : kLibrary;
      return nullptr;
    }
    static SdJournal j{};
    const char* missing = nullptr;
    const auto bind = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      if (fn == nullptr && missing == nullptr) missing = name;
    };
    bind(j.open, "sd_journal_open");
    bind(j.open_directory, "sd_journal_open_directory");
    bind(j.close, "sd_journal_close");
    bind(j.add_match, "sd_journal_add_match");
    bind(j.seek_tail, "sd_journal_seek_tail");
    bind(j.previous, "sd_journal_previous");
    bind(j.get_data, "sd_journal_get_data");
    bind(j.get_realtime_usec, "sd_journal_get_realtime_usec");
    if (missing == nullptr) return &j;
    failure = std::string(kLibrary) + " lacks " + missing;
    return nullptr;
  }();
  if (journal == nullptr) why = failure;
  return journal;
}

// Whether a folder holds anything at all; journald keeps its files in a
// folder per machine under these.
bool HoldsEntries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

// Where a tree's absolute paths start: "" for this system.
std::string Base(const std::string& root) {
  return root == "/" ? "" : root;
}

// The folders sd-journal reads the system journal from, volatile and
// persistent.
bool JournalFilesMayExist(const std::string& root) {
  return HoldsEntries(Base(root) + "/run/log/journal") ||
         HoldsEntries(Base(root) + "/var/log/journal");
}

class Journal {
 public:
  Journal(const SdJournal& lib, const std::string& root) : lib_(lib) {
    // The system journal only: users' own journals hold no kernel messages.
    const int r = root.empty() || root == "/"
                      ? lib_.open(&j_, SD_JOURNAL_LOCAL_ONLY | SD_JOURNAL_SYSTEM)
                      : lib_.open_directory(&j_, root.c_str(), SD_JOURNAL_OS_ROOT);
    if (r < 0) j_ = nullptr;
  }
  ~Journal() {
    if (j_ != nullptr) lib_.close(j_);
  }
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  sd_journal* get() const { return j_; }

  // A field of the current entry without its "NAME=" prefix.
  std::string Field(const char* name) const {
    const void* data = nullptr;
    size_t length = 0;
    if (lib_.get_data(j_, name, &data, &length) < 0) return "";
    std::string_view field(static_cast<const char*>(data), length);
    const size_t eq = field.find('=');
    return eq == std::string_view::npos ? "" : std::string(field.substr(eq + 1));
  }

 private:
  const SdJournal& lib_;
  sd_journal* j_ = nullptr;
};

// A 128-bit id in the journal's form, 32 lower-case hex digits, from the
// form the kernel writes ("xxxxxxxx-xxxx-...") or the journal's own; "" when
// it is neither.
std::string JournalId(std::string_view text) {
  const bool dashed = text.size() == 36;
  if (!dashed && text.size() != 32) return "";
  std::string id;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (dashed && (i == 8 || i == 13 || i == 18 || i == 23)) {
      if (c != '-') return "";
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return "";
    id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return id;
}

// The boot id in the journal's form from the kernel's file; "" when there
// is none.
std::string CurrentBoot(const std::string& root) {
  // proc shows it as a regular file; anything else (a FIFO) is not read.
  const std::string text =
      platform::ReadFileStart(Base(root) + "/proc/sys/kernel/random/boot_id", 64).value_or("");
  return JournalId(std::string_view(text).substr(0, text.find('\n')));
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

std::wstring KernelJournalLines(const std::string& root, size_t lines, std::string* problem) {
  if (lines == 0 || !JournalFilesMayExist(root)) return {};
  std::string why;
  const SdJournal* lib = OpenSdJournal(why);
  if (lib == nullptr) {
    if (problem != nullptr) *problem = "the system journal was not read: " + why;
    return {};
  }
  Journal journal(*lib, root);
  sd_journal* j = journal.get();
  if (j == nullptr) return {};
  if (lib->add_match(j, "_TRANSPORT=kernel", 0) < 0) return {};

  std::string boot = CurrentBoot(root);
  if (boot.empty()) {
    // Another system's tree without its proc: its newest boot.
    if (lib->seek_tail(j) < 0 || lib->previous(j) <= 0) return {};
    boot = journal.Field("_BOOT_ID");
    if (boot.empty()) return {};
  }
  if (lib->add_match(j, ("_BOOT_ID=" + boot).c_str(), 0) < 0) return {};

  // Newest first, then turned around.
  std::vector<std::string> newest_first;
  if (lib->seek_tail(j) < 0) return {};
  while (newest_first.size() < lines && lib->previous(j) > 0) {
    std::string message = journal.Field("MESSAGE");
    // One entry, one line: a record the kernel split keeps its parts together.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
      message.pop_back();
    }
    for (char& c : message) {
      if (c == '\n' || c == '\r' || c == '\0') c = ' ';
    }
    std::uint64_t usec = 0;
    lib->get_realtime_usec(j, &usec);
    const std::string host = journal.Field("_HOSTNAME");
    newest_first.push_back(ShortTime(usec) + (host.empty() ? "" : " " + host) +
                           " kernel: " + message);
  }
  std::string text;
  for (auto it = newest_first.rbegin(); it != newest_first.rend(); ++it) text += *it + "\r\n";
  return platform::FromUtf8(text);
}

std::wstring LinuxSetupLogExcerpt(FileSystem& fs, platform::MessagePump& pump,
                                  const std::string& root, const ProblemReport& report_problem) {
  try {
    std::string problem;
    const std::wstring journal = KernelJournalLines(root, kSetupLogLines, &problem);
    if (!journal.empty()) return SetupLogExcerpt(journal);
    if (!problem.empty() && report_problem) report_problem(platform::FromUtf8(problem));
  } catch (...) {
    // Only an allocation failure gets here; the log files may still serve.
  }
  return ReadSetupLogExcerpt(fs, pump, LinuxSetupLogs(root));
}

}  // namespace file
