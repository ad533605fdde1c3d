// tests/rtl_win_test.cpp
// The Windows half of the run-time routines, against the real locale and paths.
#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/files_win.h"
#include "rtl/locale_win.h"

using namespace rtl;

TEST(RtlWinLocale, SettingsComeFromTheJapaneseUserLocale) {
  const TFormatSettings& fs = FormatSettings();
  // Wine 8 takes CLDR's "yyyy/M/d" where Windows has "yyyy/MM/dd".
  EXPECT_TRUE(fs.ShortDateFormat == L"yyyy/MM/dd" || fs.ShortDateFormat == L"yyyy/M/d") << fs.ShortDateFormat;
  EXPECT_EQ(fs.LongTimeFormat + fs.TimeAMString + fs.TimePMString, L"H:mm:ss午前午後");
  EXPECT_EQ(fs.LongMonthNames[0] + fs.LongDayNames[0] + fs.ShortDayNames[1], L"1月日曜日月");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + 0.75), DateTimeToStr(EncodeDate(2024, 3, 5)) + L" 18:00:00");
}

// The user's path made whole, then taken name by name; a \\?\ name as it is, and back.
TEST(RtlWinPaths, EveryPathGetsItsExactNameAndBack) {
  const std::wstring tail(300, L'x');
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"C:/dir/../" + tail, L"\\\\?\\C:\\" + tail},
      {L"\\\\srv\\share\\" + tail, L"\\\\?\\UNC\\srv\\share\\" + tail},
      {L"\\\\?\\C:\\a. ", L"\\\\?\\C:\\a. "}};
  for (const auto& [path, exact] : rows) {
    EXPECT_EQ(ExactPath(path), exact);
    EXPECT_EQ(OrdinaryPath(exact), exact == rows[2].second ? L"C:\\a. " : ExpandFileName(path));
  }
}
