#pragma once

#include "files/clock.h"

namespace file {

// Local time, formatted with the user's locale by GetDateFormatW and
// GetTimeFormatW.
class WinClock : public Clock {
 public:
  LocalTime Now() override;
  std::wstring ShortDate(const LocalTime& t) override;
  std::wstring LongTime(const LocalTime& t) override;
};

}  // namespace file
