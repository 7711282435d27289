#pragma once

#include <locale.h>

#include "files/clock.h"

namespace file {

// Local time, formatted in the environment's time locale (LC_ALL, LC_TIME,
// LANG): %x for the short date, %X for the long time. Only the time and
// character-type categories are loaded, through the C library: the C++
// locale of the environment would load every category for two fields.
class PosixClock : public Clock {
 public:
  // `locale_name` as setlocale takes it: "" the environment's, "C" the
  // classic one; one that is not installed falls back to "C".
  explicit PosixClock(const char* locale_name = "");
  ~PosixClock() override;
  PosixClock(const PosixClock&) = delete;
  PosixClock& operator=(const PosixClock&) = delete;

  LocalTime Now() override;
  std::wstring ShortDate(const LocalTime& t) override;
  std::wstring LongTime(const LocalTime& t) override;

 private:
  std::wstring Format(const LocalTime& t, const wchar_t* pattern) const;
  locale_t locale_;
};

}  // namespace file
