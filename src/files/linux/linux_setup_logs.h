#pragma once

#include <string>

#include "files/setup_log.h"

namespace file {

// The kernel's record of devices found and drivers bound, as the
// distribution keeps it: kern.log (Debian, Ubuntu), messages (Fedora, RHEL,
// SUSE), syslog, then the boot-time dmesg copy. Only files this user may
// read are listed; their lines end in LF and their text is UTF-8. `root` prefixes every path (empty
// for the real system).
SetupLogSource LinuxSetupLogs(const std::string& root = "");

}  // namespace file
