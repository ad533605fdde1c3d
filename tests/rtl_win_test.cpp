// tests/rtl_win_test.cpp
// The Windows half of the run-time routines, against the real locale and paths.
#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/files_win.h"
#include "rtl/locale_win.h"

using namespace rtl;

// Day names start at Sunday, as the run-time library's do; the locale's own list starts at Monday.
TEST(RtlWinLocale, DayNamesStartAtSunday) {
  EXPECT_EQ(FormatSettings().LongDayNames[0] + FormatSettings().ShortDayNames[1], L"日曜日月");
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
