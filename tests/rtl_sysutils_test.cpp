// tests/rtl_sysutils_test.cpp
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "rtl/sysutils.h"

using namespace rtl;

namespace {

const TDateTime Morning = EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 45);  // a Tuesday

}  // namespace

TEST(RtlDateTimeToStr, JapaneseSettingsLeaveOutMidnight) {
  const TFormatSettings ja;
  EXPECT_EQ(DateTimeToStr(Morning, ja), L"2024/03/05 7:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 400), ja), L"2024/03/05");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 1, 0), ja), L"2024/03/05 0:00:01");
  EXPECT_EQ(DateTimeToStr(ComposeDateTime(EncodeDate(1850, 1, 1), 0.75), ja), L"1850/01/01 18:00:00");
}

TEST(RtlStrToInt, AcceptsOnlyASignedDecimal) {
  for (auto [text, value] : std::vector<std::pair<std::wstring, int>>{
           {L"-5", -5}, {L"+7", 7}, {L"007", 7}, {L"2147483647", 2147483647}, {L"-2147483648", -2147483647 - 1}})
    EXPECT_EQ(StrToInt(text), value) << text;
  for (const wchar_t* bad : {L"", L"-", L" 5", L"5x", L"１", L"2147483648", L"-2147483649", L"99999999999999999999"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
}
