#include "files/linux/posix_clock.h"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace file {
namespace {

std::locale EnvironmentLocale() {
  try {
    return std::locale("");
  } catch (const std::runtime_error&) {
    return std::locale::classic();  // LANG names a locale that is not installed
  }
}

}  // namespace

PosixClock::PosixClock() : locale_(EnvironmentLocale()) {}

LocalTime PosixClock::Now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::wstring PosixClock::Format(const LocalTime& t, const wchar_t* pattern) const {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  std::tm normalised = tm;
  if (std::mktime(&normalised) != static_cast<std::time_t>(-1)) {
    tm.tm_wday = normalised.tm_wday;  // for locales whose date names the day
    tm.tm_yday = normalised.tm_yday;
  }
  std::wostringstream out;
  out.imbue(locale_);
  out << std::put_time(&tm, pattern);
  return out.str();
}

std::wstring PosixClock::ShortDate(const LocalTime& t) {
  return Format(t, L"%x");
}

std::wstring PosixClock::LongTime(const LocalTime& t) {
  return Format(t, L"%X");
}

}  // namespace file
