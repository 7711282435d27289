#include "files/win/win_clock.h"

#include <windows.h>

#include <string>

namespace file {
namespace {

SYSTEMTIME ToSystemTime(const LocalTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  return st;  // the day of the week is worked out by the formatters
}

// Both formatters take the same arguments and report the size needed,
// NUL included, when given no buffer. The wide forms: the ANSI ones answer
// in the user locale's code page, which need not be the system's one the
// text would be decoded by.
template <typename Format>
std::wstring Formatted(Format format, DWORD flags, const LocalTime& t) {
  const SYSTEMTIME st = ToSystemTime(t);
  const int size = format(LOCALE_USER_DEFAULT, flags, &st, nullptr, nullptr, 0);
  if (size <= 0) return {};
  std::wstring text(static_cast<size_t>(size), L'\0');
  const int got = format(LOCALE_USER_DEFAULT, flags, &st, nullptr, text.data(), size);
  if (got <= 0) return {};
  text.resize(static_cast<size_t>(got - 1));
  return text;
}

}  // namespace

LocalTime WinClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

std::wstring WinClock::ShortDate(const LocalTime& t) {
  return Formatted(GetDateFormatW, DATE_SHORTDATE, t);
}

std::wstring WinClock::LongTime(const LocalTime& t) {
  return Formatted(GetTimeFormatW, 0, t);
}

}  // namespace file
