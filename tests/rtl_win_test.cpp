// tests/rtl_win_test.cpp
// The Windows half of the run-time routines, against the real clock, locale and file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"

using namespace rtl;

namespace {

// One file in a folder whose path is longer than MAX_PATH, made and removed around each test.
class RtlWinFiles : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(file_.size(), MAX_PATH);
    ASSERT_TRUE(CreateDirectoryW(ExtendedPath(folder_).c_str(), nullptr)) << GetLastError();
  }
  void TearDown() override {
    EXPECT_TRUE(!FileExists(file_) ||
                (SetFileAttributesW(ExtendedPath(file_).c_str(), FILE_ATTRIBUTE_NORMAL) && RemoveFile(file_)));
    EXPECT_TRUE(RemoveDirectoryW(ExtendedPath(folder_).c_str())) << GetLastError();
  }
  std::string Contents() const {
    std::ifstream in(ExtendedPath(file_).c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  const std::wstring folder_ =
      TempDirectory() + L"\\長い名前_" + std::to_wstring(GetCurrentProcessId()) + std::wstring(230, L'x');
  const std::wstring file_ = folder_ + L"\\scratch.txt";
};

}  // namespace

TEST(RtlWinLocale, SettingsComeFromTheJapaneseUserLocale) {
  const TFormatSettings& fs = FormatSettings();
  // Wine 8 takes CLDR's "yyyy/M/d" where Windows has "yyyy/MM/dd".
  EXPECT_TRUE(fs.ShortDateFormat == L"yyyy/MM/dd" || fs.ShortDateFormat == L"yyyy/M/d") << fs.ShortDateFormat;
  EXPECT_EQ(fs.LongTimeFormat + fs.TimeAMString + fs.TimePMString, L"H:mm:ss午前午後");
  EXPECT_EQ(fs.LongMonthNames[0] + fs.LongDayNames[0] + fs.ShortDayNames[1], L"1月日曜日月");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + 0.75), DateTimeToStr(EncodeDate(2024, 3, 5)) + L" 18:00:00");
}

TEST(RtlWinClock, OneReadingLiesBetweenItsNeighboursWithItsUniversalTime) {
  FILETIME universalBefore, universalAfter;
  const TDateTime before = Now();
  GetSystemTimeAsFileTime(&universalBefore);
  const TClockReading r = ReadClock();
  GetSystemTimeAsFileTime(&universalAfter);
  const TDateTime after = Now();
  EXPECT_TRUE(r.Date == std::floor(r.Date) && r.Time >= 0 && r.Time < 1) << r.Date << " " << r.Time;
  EXPECT_TRUE(before <= r.Date + r.Time && r.Date + r.Time <= after && after - before < 5 / SecsPerDay);
  // The same instant, cut to the reading's millisecond.
  EXPECT_LE(Ticks(universalBefore) / 10000 * 10000, Ticks(r.Universal));
  EXPECT_LE(Ticks(r.Universal), Ticks(universalAfter));
  EXPECT_EQ(FileTimeToDateTimePrecise(UniversalToLocal(r.Universal)), r.Date + r.Time);
}

TEST(RtlWinPaths, LongAbsolutePathsGetThePrefix) {
  const std::wstring tail(300, L'x');
  EXPECT_EQ(ExtendedPath(L"C:\\short.txt"), L"C:\\short.txt");
  EXPECT_EQ(ExtendedPath(L"C:/dir/../" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedPath(L"\\\\srv\\share\\" + tail), L"\\\\?\\UNC\\srv\\share\\" + tail);
  EXPECT_EQ(ExtendedPath(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedPath(L"dir\\" + tail), L"dir\\" + tail);
}

TEST(RtlWinPaths, SystemNamesAreWholeAtAnyLength) {
  const std::wstring temp = TempDirectory(), base = ExpandFileName(L"x"), name(400, L'n');
  EXPECT_TRUE(DirectoryExists(temp) && temp.back() != L'\\') << temp;
  EXPECT_EQ(ExpandFileName(L"a\\..\\" + name), base.substr(0, base.size() - 1) + name);
}

TEST_F(RtlWinFiles, AReadOnlyFileIsNotOverwritten) {
  WriteTextLineCp932(file_, L"");
  ASSERT_TRUE(SetFileAttributesW(ExtendedPath(file_).c_str(), FILE_ATTRIBUTE_READONLY)) << GetLastError();
  EXPECT_THROW(WriteTextLineCp932(file_, L"上書き"), EInOutError);
  EXPECT_EQ(Contents(), "\r\n");
}
