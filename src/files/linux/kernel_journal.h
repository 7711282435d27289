// The kernel's messages of the current boot from the systemd journal: on
// most current distributions the only place the kernel log is kept.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "files/file_system.h"
#include "platform/message_pump.h"

namespace file {

// The last `lines` kernel messages of the current boot, oldest first, each
// as "Mon DD HH:MM:SS host kernel: text" followed by CR LF (the journal's
// short form, local time). Empty when there is no journal, this user may
// not read it, or it holds no kernel message of this boot. `root` is ""
// for this system, else the root of another system's tree, whose
// proc/sys/kernel/random/boot_id names its current boot (without one, the
// newest boot in its journal). libsystemd is loaded only when the journal's
// folders hold something; when it cannot be, `problem` (if given) says why.
std::wstring KernelJournalLines(const std::string& root, size_t lines,
                                std::string* problem = nullptr);

// Told of a problem that does not end the scan.
using ProblemReport = std::function<void(const std::wstring& text)>;

// The setup-log excerpt on Linux: from the journal when it yields kernel
// messages, else from the first readable log file (LinuxSetupLogs). A
// journal that is there but could not be read is told to `report_problem`.
std::wstring LinuxSetupLogExcerpt(FileSystem& fs, platform::MessagePump& pump,
                                  const std::string& root = "",
                                  const ProblemReport& report_problem = {});

}  // namespace file
