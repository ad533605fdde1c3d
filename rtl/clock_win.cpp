// rtl/clock_win.cpp
#include "rtl/clock_win.h"

#include <cstdint>

namespace rtl {
namespace {

constexpr std::uint64_t TicksPerMSec = 10000;
constexpr std::uint64_t TicksPerDay = 864000000000;

TDateTime TicksToDateTime(std::uint64_t ticks) {
  const TDateTime date = EncodeDate(1601, 1, 1) + static_cast<double>(ticks / TicksPerDay);
  if (date > MaxDateTime)
    throw EConvertError(L"ファイル時刻が 9999年12月31日 より後です");
  return ComposeDateTime(date, static_cast<double>(ticks % TicksPerDay) / static_cast<double>(TicksPerDay));
}

}  // namespace

bool ZoneRules(int year, TIME_ZONE_INFORMATION& rules) {
  // The Ex conversions would take the dynamic zone directly, but Wine 8 lacks them (a call
  // aborts the process). With dynamic rules switched off the system keeps to the standing ones.
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  if (year >= 1601 && year <= 30827 &&
      GetDynamicTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID &&
      !zone.DynamicDaylightTimeDisabled &&
      GetTimeZoneInformationForYear(static_cast<USHORT>(year), &zone, &rules))
    return true;
  // No key for the zone in the system's zone database: a zone set by a program that named
  // none, or under Wine a host zone it cannot match (Australia/Lord_Howe).
  return GetTimeZoneInformation(&rules) != TIME_ZONE_ID_INVALID;
}

FILETIME UniversalToLocal(const FILETIME& universal) {
  SYSTEMTIME utc, local;
  FILETIME utcAt, localAt, result;
  TIME_ZONE_INFORMATION rules;
  if (!FileTimeToSystemTime(&universal, &utc))
    throw EConvertError(L"ファイル時刻を日付時刻に変換できません");
  if (!ZoneRules(utc.wYear, rules)) {
    if (!FileTimeToLocalFileTime(&universal, &result))
      throw EConvertError(L"ファイル時刻を現地時刻に変換できません");
    return result;
  }
  // SYSTEMTIME stops at the millisecond: the offset is taken from it and added to the ticks.
  if (!SystemTimeToTzSpecificLocalTime(&rules, &utc, &local) ||
      !SystemTimeToFileTime(&utc, &utcAt) || !SystemTimeToFileTime(&local, &localAt))
    throw EConvertError(L"ファイル時刻を現地時刻に変換できません");
  return FromTicks(Ticks(universal) + (Ticks(localAt) - Ticks(utcAt)));
}

TClockReading ReadClock() {
  FILETIME universal;
  GetSystemTimeAsFileTime(&universal);
  universal = FromTicks(Ticks(universal) / TicksPerMSec * TicksPerMSec);
  SYSTEMTIME st;
  const FILETIME local = UniversalToLocal(universal);
  FileTimeToSystemTime(&local, &st);
  return {EncodeDate(st.wYear, st.wMonth, st.wDay),
          EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds), universal};
}

TDateTime Now() {
  const TClockReading r = ReadClock();
  return ComposeDateTime(r.Date, r.Time);
}

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

FILETIME DateTimeToFileTime(TDateTime value) {
  const SYSTEMTIME st = DateTimeToSystemTime(value);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft))
    throw EConvertError(L"日付時刻をファイル時刻に変換できません");
  return ft;
}

TDateTime FileTimeToDateTimePrecise(const FILETIME& ft) { return TicksToDateTime(Ticks(ft)); }

}  // namespace rtl
