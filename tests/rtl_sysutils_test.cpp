// tests/rtl_sysutils_test.cpp
#include <gtest/gtest.h>

#include "rtl/sysutils.h"

using namespace rtl;

namespace {

const TDateTime Morning = EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 45);  // a Tuesday

template <class F>
std::wstring ConvertErrorOf(F f) {
  try {
    f();
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return L"(no error)";
}

}  // namespace

TEST(RtlFormatDateTime, ProgramPatternsPaddedFieldsLiteralsAndMinutesAfterHours) {
  EXPECT_EQ(FormatDateTime(L"yyyy\"年\" m\"月\" d\"日\"", Morning), L"2024年 3月 5日");
  EXPECT_EQ(FormatDateTime(L"yyyy\"年\" m\"月\" d\"日\"", EncodeDate(1, 1, 1)), L"0001年 1月 1日");
  EXPECT_EQ(FormatDateTime(L"h\"時\" n\"分\" s\"秒\"", Morning), L"7時 8分 9秒");
  EXPECT_EQ(FormatDateTime(L"h", Morning) + FormatDateTime(L"n", Morning) + FormatDateTime(L"s", Morning), L"789");
  EXPECT_EQ(FormatDateTime(L"h", EncodeDate(2024, 3, 5)), L"0");
  EXPECT_EQ(FormatDateTime(L"yy/mm/dd hh:nn:ss.zzz z", Morning), L"24/03/05 07:08:09.045 45");
  EXPECT_EQ(FormatDateTime(L"hh:mm m 'mm' \"h\"", Morning), L"07:08 3 mm h");
  EXPECT_EQ(FormatDateTime(L"h'時'm'分'", Morning), L"7時8分");
}

TEST(RtlDateTimeToStr, JapaneseSettingsLeaveOutMidnightAndCoverYears1To9999) {
  const TFormatSettings ja;
  EXPECT_EQ(DateTimeToStr(Morning, ja), L"2024/03/05 7:08:09");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 0, 400), ja), L"2024/03/05");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + EncodeTime(0, 0, 1, 0), ja), L"2024/03/05 0:00:01");
  EXPECT_EQ(DateTimeToStr(EncodeDate(1, 1, 1), ja), L"0001/01/01");
  EXPECT_EQ(DateTimeToStr(MaxDateTime, ja), L"9999/12/31 23:59:59");
  EXPECT_EQ(DateTimeToStr(ComposeDateTime(EncodeDate(1850, 1, 1), 0.75), ja), L"1850/01/01 18:00:00");
}

TEST(RtlDateTimeToStr, WindowsPictureLettersNamesAndTwelveHourClock) {
  TFormatSettings en;
  en.ShortDateFormat = L"ggdddd, MMMM d, yy (ddd MMM M/dd/y)";
  en.LongTimeFormat = L"hh:mm:ss tt 'o''clock' H t";
  en.TimeAMString = L"AM";
  en.TimePMString = L"PM";
  en.LongMonthNames[2] = L"March";
  en.ShortMonthNames[2] = L"Mar";
  en.LongDayNames[2] = L"Tuesday";
  en.ShortDayNames[2] = L"Tue";
  EXPECT_EQ(DateTimeToStr(Morning, en), L"Tuesday, March 5, 24 (Tue Mar 3/05/24) 07:08:09 AM o'clock 7 A");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + 0.5, en),
            L"Tuesday, March 5, 24 (Tue Mar 3/05/24) 12:00:00 PM o'clock 12 P");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2005, 3, 1) + EncodeTime(0, 30, 0, 0), en),
            L"Tuesday, March 1, 05 (Tue Mar 3/01/5) 12:30:00 AM o'clock 0 A");
}

TEST(RtlStrToInt, AcceptsOnlyASignedDecimal) {
  for (auto [text, value] : std::vector<std::pair<std::wstring, int>>{
           {L"0", 0}, {L"-5", -5}, {L"+7", 7}, {L"007", 7}, {L"2147483647", 2147483647},
           {L"-2147483648", -2147483647 - 1}})
    EXPECT_EQ(StrToInt(text), value) << text;
  for (const wchar_t* bad : {L"", L"-", L"+", L" 5", L"5 ", L"5x", L"0x10", L"１", L"2147483648", L"-2147483649",
                             L"99999999999999999999"}) {
    int v = 42;
    EXPECT_FALSE(TryStrToInt(bad, v) || v != 42) << bad;
    EXPECT_THROW(StrToInt(bad), EConvertError);
  }
  EXPECT_EQ(ConvertErrorOf([] { StrToInt(L"abc"); }), L"'abc' は正しい整数値ではありません");
  EXPECT_EQ(IntToStr(-12), L"-12");
}

TEST(RtlStrToTime, ReadsTheDialogsPaddedTextAndRejectsTheRest) {
  TFormatSettings fs;
  EXPECT_EQ(StrToTime(L" 9: 5: 7", fs), EncodeTime(9, 5, 7, 0));
  EXPECT_EQ(StrToTime(L"23:59", fs), EncodeTime(23, 59, 0, 0));
  EXPECT_EQ(StrToTime(L" 0 : 0 : 0 ", fs), 0);
  for (const wchar_t* bad : {L"24:00", L"12:60", L"1:2:60", L"12", L"", L"12:", L":30", L"1:2:3:4", L"1 2:3", L"a:b",
                             L"9:05 PM", L"-1:00", L"00012:00"})
    EXPECT_THROW(StrToTime(bad, fs), EConvertError) << bad;
  EXPECT_EQ(ConvertErrorOf([&] { StrToTime(L"25: 0: 0", fs); }), L"'25: 0: 0' は正しい時刻ではありません");
  fs.TimeSeparator = L'.';
  EXPECT_EQ(StrToTime(L"9.05", fs), EncodeTime(9, 5, 0, 0));
  EXPECT_THROW(StrToTime(L"9:05", fs), EConvertError);
}

TEST(RtlFormat, RightAlignsNumbersAndRejectsWhatItCannotFill) {
  EXPECT_EQ(Format(L"%2d:%2d:%2d", {9, 5, 17}), L" 9: 5:17");
  EXPECT_EQ(Format(L"%d%% %2d %d", {50, 123, -5}), L"50% 123 -5");
  EXPECT_THROW(Format(L"%d %d", {1}), EConvertError);
  EXPECT_THROW(Format(L"%s", {1}), EConvertError);
  EXPECT_THROW(Format(L"100%", {}), EConvertError);
}

TEST(RtlExtractFileDir, KeepsRootsWhole) {
  for (auto [path, dir] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"C:\\a\\b.exe", L"C:\\a"}, {L"C:\\b.exe", L"C:\\"}, {L"C:\\", L"C:\\"}, {L"C:b.exe", L"C:"},
           {L"b.exe", L""}, {L"a\\b.exe", L"a"}, {L"\\b.exe", L"\\"}, {L"C:\\a\\\\b.exe", L"C:\\a"},
           {L"C:/a/b.exe", L"C:/a"}, {L"\\\\srv\\share\\a\\b.txt", L"\\\\srv\\share\\a"},
           {L"\\\\srv\\share\\b.txt", L"\\\\srv\\share"}, {L"\\\\?\\C:\\a\\b.txt", L"\\\\?\\C:\\a"},
           {L"\\\\?\\C:\\b.txt", L"\\\\?\\C:\\"}, {L"\\\\?\\UNC\\srv\\share\\b.txt", L"\\\\?\\UNC\\srv\\share"}})
    EXPECT_EQ(ExtractFileDir(path), dir) << path;
}
