// A clock standing still at a set time, formatting like United States English.
#pragma once

#include <string>

#include "files/clock.h"

namespace fakes {

class FakeClock : public file::Clock {
 public:
  file::LocalTime now{2026, 12, 6, 6, 10, 33};

  file::LocalTime Now() override { return now; }
  std::wstring ShortDate(const file::LocalTime& t) override {
    return std::to_wstring(t.month) + L"/" + std::to_wstring(t.day) + L"/" +
           std::to_wstring(t.year);
  }
  std::wstring LongTime(const file::LocalTime& t) override {
    const int h12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    return std::to_wstring(h12) + L":" + Two(t.minute) + L":" + Two(t.second) +
           (t.hour < 12 ? L" AM" : L" PM");
  }

 private:
  static std::wstring Two(int v) { return (v < 10 ? L"0" : L"") + std::to_wstring(v); }
};

}  // namespace fakes
