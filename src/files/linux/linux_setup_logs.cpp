#include "files/linux/linux_setup_logs.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/codepage.h"

namespace file {

SetupLogSource LinuxSetupLogs(const std::string& root) {
  static const char* const kLogs[] = {"/var/log/kern.log", "/var/log/messages", "/var/log/syslog",
                                      "/var/log/dmesg"};
  SetupLogSource source;
  source.lf_line_ends = true;
  source.utf8_text = true;
  for (const char* log : kLogs) {
    const std::string path = root + log;
    struct stat st;
    // Most distributions keep these logs from users outside the adm group;
    // one this user cannot read is passed over rather than reported empty.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::access(path.c_str(), R_OK) != 0) continue;
    source.tried_in_order.push_back(platform::FromUtf8(path));
  }
  return source;
}

}  // namespace file
