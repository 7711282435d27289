// The computer facts read off the window's thread, with real threads, events
// and message queues (run under Wine). The waits follow learn.microsoft.com:
// "MsgWaitForMultipleObjects function (winuser.h)"; the reading thread's own
// apartment follows "CoInitializeEx function (combaseapi.h)".
#include "sysinfo/win/facts_off_thread.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include "fakes/fake_info_ui.h"

namespace {

// Serves the queue as the window does: every waiting message taken.
class DrainingUi : public fakes::FakeInfoUi {
 public:
  void PumpPending() override {
    FakeInfoUi::PumpPending();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) {
    }
  }
};

// Lets a held reading finish when the test is done with it.
class Gate {
 public:
  Gate() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Gate() {
    SetEvent(event_);
    Sleep(50);  // the reading thread leaves its wait before the handle goes
    CloseHandle(event_);
  }
  void Wait() const { WaitForSingleObject(event_, 30000); }

 private:
  HANDLE event_;
};

sysinfo::ComputerFacts SomeFacts() {
  sysinfo::ComputerFacts facts;
  facts.model_sku = L"Family Version SKU";
  facts.systems.emplace();
  facts.systems->push_back({L"Model", L"Maker"});
  return facts;
}

TEST(FactsOffThread, TheReadingRunsOnItsOwnThreadInItsOwnApartment) {
  fakes::FakeInfoUi ui;
  const DWORD caller = GetCurrentThreadId();
  DWORD reader = caller;
  HRESULT apartment = E_FAIL;
  // The caller in the multithreaded apartment: the reader still gets a
  // single-threaded one of its own.
  const HRESULT mine = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const sysinfo::ComputerFacts facts = sysinfo::ReadFactsOffThread(
      [&] {
        reader = GetCurrentThreadId();
        apartment = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(apartment)) CoUninitialize();
        return SomeFacts();
      },
      10000, ui);
  if (SUCCEEDED(mine)) CoUninitialize();
  EXPECT_NE(reader, caller);
  EXPECT_EQ(apartment, S_OK);
  EXPECT_EQ(facts.model_sku, L"Family Version SKU");
  ASSERT_TRUE(facts.systems);
  EXPECT_EQ(facts.systems->at(0).model, L"Model");
  EXPECT_TRUE(ui.statuses.empty());
}

TEST(FactsOffThread, AReadingPastTheBoundCostsTheFactsAndTheWindowIsServedMeanwhile) {
  DrainingUi ui;
  Gate gate;
  // A message waiting for the window: the wait hands it over.
  PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
  const sysinfo::ComputerFacts facts = sysinfo::ReadFactsOffThread(
      [&] {
        gate.Wait();  // a WMI that does not answer
        return SomeFacts();
      },
      300, ui);
  EXPECT_FALSE(facts.systems);
  EXPECT_FALSE(facts.bios_versions);
  EXPECT_FALSE(facts.operating_systems);
  EXPECT_EQ(facts.model_sku, L"");
  EXPECT_GE(ui.yields, 1);
}

TEST(FactsOffThread, ClosingTheWindowEndsTheWaitAtOnce) {
  fakes::FakeInfoUi ui;
  Gate gate;
  PostQuitMessage(0);  // what closing the window leaves in the queue
  const sysinfo::ComputerFacts facts = sysinfo::ReadFactsOffThread(
      [&] {
        gate.Wait();
        return SomeFacts();
      },
      600000, ui);  // far past any test's time limit: only the quit can end it
  EXPECT_FALSE(facts.systems);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // left for the main loop
}

TEST(FactsOffThread, AFailingReadingIsOneThatFoundNothing) {
  fakes::FakeInfoUi ui;
  const sysinfo::ComputerFacts facts = sysinfo::ReadFactsOffThread(
      []() -> sysinfo::ComputerFacts { throw std::runtime_error("no WMI"); }, 10000, ui);
  EXPECT_FALSE(facts.systems);
}

}  // namespace
