// rtl/clock_win.h
#pragma once
#include <windows.h>

#include "rtl/datetime.h"

namespace rtl {

// The local clock, to the millisecond.
TDateTime Now();

// Date and time from a single read, so a reading across midnight stays consistent.
struct TClockReading {
  TDateTime Date;
  TDateTime Time;
};
TClockReading ReadClock();

// FILETIME (100 ns since 1601-01-01) with no zone conversion, to the millisecond; throws
// EConvertError before 1601.
FILETIME DateTimeToFileTime(TDateTime value);
// Back at the full 100 ns, as far as a double holds it (about a microsecond today).
TDateTime FileTimeToDateTimePrecise(const FILETIME& ft);

}  // namespace rtl
