// tests/rtl_datetime_test.cpp
#include <gtest/gtest.h>

#include <vector>

#include "rtl/datetime.h"
#include "rtl/sysutils.h"

using namespace rtl;

namespace {

std::vector<int> Fields(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond};
}

}  // namespace

TEST(RtlDateTime, EveryDayFromYear1To9999RoundTrips) {
  int y = 1, m = 1, d = 1, dow = 1;  // 0001-01-01 was a Monday
  for (long n = -693593; n <= 2958465; ++n) {
    const TDateTimeParts p = DecodeDateTime(static_cast<double>(n));
    ASSERT_TRUE(p.Year == y && p.Month == m && p.Day == d && p.DayOfWeek == dow) << n;
    ASSERT_EQ(EncodeDate(y, m, d), static_cast<double>(n));
    dow = (dow + 1) % 7;
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    if (++d > (m == 2 ? 28 + leap : 30 + (m + m / 8) % 2)) d = 1, ++m;
    if (m > 12) m = 1, ++y;
  }
  EXPECT_EQ(y, 10000);
}

TEST(RtlDateTime, TimeRoundsToTheNearestMillisecondAndCarriesAt2400) {
  const TDateTime leapDay = EncodeDate(2024, 2, 29), almostADay = (MSecsPerDay - 0.4) / MSecsPerDay;
  EXPECT_EQ(Fields(leapDay + (43200000 + 0.6) / MSecsPerDay), (std::vector<int>{2024, 2, 29, 12, 0, 0, 1}));
  EXPECT_EQ(Fields(leapDay + almostADay), (std::vector<int>{2024, 3, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Fields(-1 - almostADay), (std::vector<int>{1899, 12, 30, 0, 0, 0, 0}));
  EXPECT_EQ(Fields(MaxDateTime), (std::vector<int>{9999, 12, 31, 23, 59, 59, 999}));
  EXPECT_EQ(Fields(ComposeDateTime(MinDateTime, EncodeTime(23, 59, 59, 999))),
            (std::vector<int>{1, 1, 1, 23, 59, 59, 999}));
  EXPECT_THROW(DecodeDateTime(EncodeDate(9999, 12, 31) + almostADay), EConvertError);
}

TEST(RtlDateTimeToStr, JapaneseSettingsLeaveOutMidnight) {
  const TFormatSettings ja;
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 45), ja), L"2024/03/05 7:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 400), ja), L"2024/03/05");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 1, 0), ja), L"2024/03/05 0:00:01");
  EXPECT_EQ(DateTimeToStr(ComposeDateTime(EncodeDate(1850, 1, 1), 0.75), ja), L"1850/01/01 18:00:00");
}
