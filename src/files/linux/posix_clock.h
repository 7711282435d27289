#pragma once

#include <locale>

#include "files/clock.h"

namespace file {

// Local time, formatted with the C++ locale of the environment (LC_ALL,
// LC_TIME, LANG): %x for the short date, %X for the long time.
class PosixClock : public Clock {
 public:
  PosixClock();  // the environment's locale; the classic one if it is unusable
  explicit PosixClock(const std::locale& locale) : locale_(locale) {}
  LocalTime Now() override;
  std::wstring ShortDate(const LocalTime& t) override;
  std::wstring LongTime(const LocalTime& t) override;

 private:
  std::wstring Format(const LocalTime& t, const wchar_t* pattern) const;
  std::locale locale_;
};

}  // namespace file
