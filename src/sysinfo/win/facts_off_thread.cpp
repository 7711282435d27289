#include "sysinfo/win/facts_off_thread.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace sysinfo {
namespace {

// Shared by the waiting thread and the reading one; whichever finishes last
// frees it, so an abandoned reading still writes into live memory.
struct Reading {
  std::function<ComputerFacts()> read;
  ComputerFacts facts;
  HANDLE done = nullptr;
  ~Reading() {
    if (done != nullptr) CloseHandle(done);
  }
};

DWORD WINAPI ReadThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<Reading>> reading(
      static_cast<std::shared_ptr<Reading>*>(parameter));
  Reading& r = **reading;
  try {
    r.facts = r.read();
  } catch (...) {
    r.facts = ComputerFacts();  // a failed reading is one that found nothing
  }
  SetEvent(r.done);
  return 0;
}

// True when WM_QUIT waits in this thread's queue: the window has been closed.
bool IsQuitting() {
  MSG msg;
  return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

}  // namespace

ComputerFacts ReadFactsOffThread(std::function<ComputerFacts()> read, unsigned long deadline_ms,
                                 InfoUi& ui) {
  auto reading = std::make_shared<Reading>();
  reading->read = std::move(read);
  reading->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (reading->done == nullptr) return reading->read();
  auto* handed_over = new std::shared_ptr<Reading>(reading);
  HANDLE thread = CreateThread(nullptr, 0, ReadThread, handed_over, 0, nullptr);
  if (thread == nullptr) {
    delete handed_over;
    return reading->read();
  }
  CloseHandle(thread);

  const DWORD start = GetTickCount();  // wraps after 49 days; the difference does not
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= deadline_ms || IsQuitting()) break;
    // MWMO_INPUTAVAILABLE: also wake for messages an earlier look at the
    // queue (the quit check) has already seen but not removed.
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &reading->done, deadline_ms - elapsed,
                                                   QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) return std::move(reading->facts);
    if (woke != WAIT_OBJECT_0 + 1) break;  // timed out, or the wait failed
    ui.PumpPending();
  }
  // The reading may have ended just now.
  if (WaitForSingleObject(reading->done, 0) == WAIT_OBJECT_0) return std::move(reading->facts);
  return ComputerFacts();
}

}  // namespace sysinfo
