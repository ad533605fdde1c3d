// rtl/clock_win.cpp
#include "rtl/clock_win.h"

#include <cstdint>

namespace rtl {
namespace {

SYSTEMTIME DateTimeToSystemTime(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  if (p.Year < 1601)
    throw EConvertError(L"1601年より前の日付 (" + std::to_wstring(p.Year) +
                        L"年) はシステム時刻にできません");
  SYSTEMTIME st;
  st.wYear = static_cast<WORD>(p.Year);
  st.wMonth = static_cast<WORD>(p.Month);
  st.wDayOfWeek = static_cast<WORD>(p.DayOfWeek);
  st.wDay = static_cast<WORD>(p.Day);
  st.wHour = static_cast<WORD>(p.Hour);
  st.wMinute = static_cast<WORD>(p.Minute);
  st.wSecond = static_cast<WORD>(p.Second);
  st.wMilliseconds = static_cast<WORD>(p.Millisecond);
  return st;
}

}  // namespace

TClockReading ReadClock() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {EncodeDate(st.wYear, st.wMonth, st.wDay),
          EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds)};
}

TDateTime Now() {
  const TClockReading r = ReadClock();
  return ComposeDateTime(r.Date, r.Time);
}

FILETIME DateTimeToFileTime(TDateTime value) {
  const SYSTEMTIME st = DateTimeToSystemTime(value);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft))
    throw EConvertError(L"日付時刻をファイル時刻に変換できません");
  return ft;
}

TDateTime FileTimeToDateTimePrecise(const FILETIME& ft) {
  constexpr std::uint64_t TicksPerDay = 864000000000;
  const std::uint64_t ticks = std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime;
  const TDateTime date = EncodeDate(1601, 1, 1) + static_cast<double>(ticks / TicksPerDay);
  if (date > MaxDateTime)
    throw EConvertError(L"ファイル時刻が 9999年12月31日 より後です");
  return ComposeDateTime(date, static_cast<double>(ticks % TicksPerDay) / static_cast<double>(TicksPerDay));
}

}  // namespace rtl
