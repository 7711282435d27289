#include "files/linux/posix_clock.h"

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <string_view>

namespace file {
namespace {

// The time locale's name as the environment sets it, the way setlocale
// reads it.
std::string_view EnvironmentTimeLocale() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "";
}

// The classic locale and its UTF-8 form write dates and times alike, and the
// C library has the classic one built in: no locale files to find and map.
bool IsClassic(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.substr(0, 2) == "C.";
}

}  // namespace

PosixClock::PosixClock(const char* locale_name) {
  constexpr int kCategories = LC_TIME_MASK | LC_CTYPE_MASK;
  if (*locale_name == '\0' && IsClassic(EnvironmentTimeLocale())) locale_name = "C";
  locale_ = newlocale(kCategories, locale_name, locale_t{});
  if (locale_ == locale_t{}) locale_ = newlocale(kCategories, "C", locale_t{});
}

PosixClock::~PosixClock() {
  if (locale_ != locale_t{}) freelocale(locale_);
}

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
  wchar_t text[128];
  const size_t n = locale_ != locale_t{} ? wcsftime_l(text, 128, pattern, &tm, locale_)
                                         : std::wcsftime(text, 128, pattern, &tm);
  return std::wstring(text, n);  // 0 characters when a locale's field would not fit
}

std::wstring PosixClock::ShortDate(const LocalTime& t) {
  return Format(t, L"%x");
}

std::wstring PosixClock::LongTime(const LocalTime& t) {
  return Format(t, L"%X");
}

}  // namespace file
