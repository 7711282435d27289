// The clock port: the local date and time, and their text in the user's
// regional format.
#pragma once

#include <string>

namespace file {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // The user's short date form, e.g. 12/6/2026 for United States English.
  virtual std::wstring ShortDate(const LocalTime& t) = 0;
  // The user's long time form, e.g. 6:10:33 AM for United States English.
  virtual std::wstring LongTime(const LocalTime& t) = 0;
};

}  // namespace file
