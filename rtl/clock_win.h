// rtl/clock_win.h
#pragma once
#include <windows.h>

#include <cstdint>

#include "rtl/datetime.h"

namespace rtl {

// A FILETIME as one count of 100 ns since 1601-01-01, and back.
inline std::uint64_t Ticks(const FILETIME& ft) {
  return static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}
inline FILETIME FromTicks(std::uint64_t t) {
  return {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

// The local clock, to the millisecond.
TDateTime Now();

// Date and time from a single read, so a reading across midnight stays consistent, with the
// universal time of the same instant, cut to the same millisecond.
struct TClockReading {
  TDateTime Date;
  TDateTime Time;
  FILETIME Universal;
};
TClockReading ReadClock();

// The zone's rules for one year: that year's daylight-saving dates where the system keeps them
// per year, otherwise the zone's standing rules (what the system itself then converts with).
// False only where the system gives no zone at all.
bool ZoneRules(int year, TIME_ZONE_INFORMATION& rules);
// A universal time as local wall-clock time by the zone's rules for its own date, at full
// precision; with the bias now in force where the system gives no zone. Throws EConvertError
// outside SYSTEMTIME's range.
FILETIME UniversalToLocal(const FILETIME& universal);

// Broken-down time to the nearest millisecond. SYSTEMTIME covers 1601..30827, so this throws
// EConvertError for years before 1601.
SYSTEMTIME DateTimeToSystemTime(TDateTime value);

// FILETIME (100 ns since 1601-01-01) with no zone conversion, to the millisecond.
FILETIME DateTimeToFileTime(TDateTime value);    // throws EConvertError before 1601
// Back at the full 100 ns, as far as a double holds it (about a microsecond today).
TDateTime FileTimeToDateTimePrecise(const FILETIME& ft);

}  // namespace rtl
