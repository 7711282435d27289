// The computer facts read on a thread of their own, within a time bound. A
// WMI repository being rebuilt can take minutes to answer; the window keeps
// processing its messages meanwhile and the scan goes on without the facts
// when the bound passes or the window is closed.
#pragma once

#include <functional>

#include "sysinfo/computer_facts.h"
#include "sysinfo/info_ui.h"

namespace sysinfo {

// How long the computer facts may take in all.
inline constexpr unsigned long kComputerFactsDeadlineMs = 20000;

// Runs `read` on a new thread and waits up to `deadline_ms` for it, letting
// `ui` process pending messages whenever some arrive. The facts `read`
// returned; none (every group absent, as when WMI cannot be asked) when it
// did not finish in time or the program is quitting. A late reading finishes
// on its own and is discarded. `read` must not touch `ui`. Without a thread
// (CreateThread failed), `read` runs here.
ComputerFacts ReadFactsOffThread(std::function<ComputerFacts()> read, unsigned long deadline_ms,
                                 InfoUi& ui);

}  // namespace sysinfo
