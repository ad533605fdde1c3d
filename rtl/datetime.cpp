// rtl/datetime.cpp
#include "rtl/datetime.h"

#include <cmath>
#include <cwchar>

namespace rtl {
namespace {

// Day numbers count from 0001-01-01 = 0 in the proleptic Gregorian calendar; TDateTime 0
// (1899-12-30) is day 693593.
constexpr long EpochDay = 693593;
constexpr long LastDay = 3652058;  // 9999-12-31
constexpr long long MSecsPerDayInt = 86400000;

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

long DayNumber(int year, int month, int day) {
  static const int before[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const long y = year - 1;
  long n = y * 365 + y / 4 - y / 100 + y / 400 + before[month - 1] + day - 1;
  if (month > 2 && IsLeapYear(year)) ++n;
  return n;
}

void CivilFromDayNumber(long n, int& year, int& month, int& day) {
  const long q400 = n / 146097;
  n %= 146097;
  long q100 = n / 36524;
  if (q100 == 4) q100 = 3;  // the last day of a 400-year cycle
  n -= q100 * 36524;
  const long q4 = n / 1461;
  n %= 1461;
  long q1 = n / 365;
  if (q1 == 4) q1 = 3;  // the last day of a leap year
  n -= q1 * 365;
  year = static_cast<int>(q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1);
  month = 1;
  while (n >= DaysInMonth(year, month)) n -= DaysInMonth(year, month++);
  day = static_cast<int>(n) + 1;
}

bool TryDecode(TDateTime value, TDateTimeParts& p) {
  // Also rejects NaN.
  if (!(value > MinDateTime - 1 && value < MaxDateTime + 1)) return false;
  double whole = 0;
  const double frac = std::modf(value, &whole);
  long long ms = std::llround(std::fabs(frac) * MSecsPerDay);
  long day = static_cast<long>(whole) + EpochDay;
  if (ms == MSecsPerDayInt) {
    ++day;
    ms = 0;
  }
  if (day < 0 || day > LastDay) return false;
  CivilFromDayNumber(day, p.Year, p.Month, p.Day);
  p.DayOfWeek = static_cast<int>((day + 1) % 7);  // 0001-01-01 was a Monday
  const int msOfDay = static_cast<int>(ms);
  p.Hour = msOfDay / 3600000;
  p.Minute = msOfDay / 60000 % 60;
  p.Second = msOfDay / 1000 % 60;
  p.Millisecond = msOfDay % 1000;
  return true;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  result = static_cast<TDateTime>(DayNumber(year, month, day) - EpochDay);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999)
    return false;
  result = (((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
  return true;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result))
    throw EConvertError(std::to_wstring(year) + L"年" + std::to_wstring(month) + L"月" +
                        std::to_wstring(day) + L"日 は正しい日付ではありません");
  return result;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime result = 0;
  if (!TryEncodeTime(hour, min, sec, msec, result)) {
    wchar_t text[64];
    std::swprintf(text, 64, L"%d:%02d:%02d.%03d", hour, min, sec, msec);
    throw EConvertError(std::wstring(text) + L" は正しい時刻ではありません");
  }
  return result;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  TDateTimeParts p{};
  if (!TryDecode(value, p))
    throw EConvertError(L"日付時刻の値が範囲 (0001年1月1日～9999年12月31日) の外にあります");
  return p;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const TDateTimeParts p = DecodeDateTime(value);
  year = p.Year;
  month = p.Month;
  day = p.Day;
}

TDateTime DateOf(TDateTime value) { return std::trunc(value); }

TDateTime TimeOf(TDateTime value) {
  double whole = 0;
  return std::fabs(std::modf(value, &whole));
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date >= 0 ? date + time : date - time;
}

}  // namespace rtl
