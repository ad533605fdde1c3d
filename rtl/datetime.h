// rtl/datetime.h
// TDateTime: days since 1899-12-30 00:00 local time. The whole part is the date and the
// fraction the time of day; for a negative value the date is the whole part toward zero and
// the time is the fraction's magnitude (-1.25 is 1899-12-29 06:00).
#pragma once
#include <string>

#include "rtl/exceptions.h"

namespace rtl {

using TDateTime = double;

constexpr double SecsPerDay = 24 * 60 * 60;
constexpr double MSecsPerDay = 24.0 * 60 * 60 * 1000;
constexpr TDateTime MinDateTime = -693593.0;            // 0001-01-01 00:00
constexpr TDateTime MaxDateTime = 2958465.99999999;     // 9999-12-31 23:59:59.999

// Throw EConvertError for fields out of range (years 1..9999).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);

// All fields of one value, the time rounded to the nearest millisecond (a round-up to 24:00
// carries into the next calendar day). Throws EConvertError outside 0001-01-01..9999-12-31.
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
  int DayOfWeek;  // 0 = Sunday, as SYSTEMTIME
};
TDateTimeParts DecodeDateTime(TDateTime value);
void DecodeDate(TDateTime value, int& year, int& month, int& day);

// The date alone (whole part toward zero) and the time of day alone (fraction's magnitude).
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);
// The instant of a date and a time of day, the inverse of DateOf/TimeOf: before 1899-12-30
// the time is subtracted, since the fraction's magnitude is the time there.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

}  // namespace rtl
