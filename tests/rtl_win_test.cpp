// tests/rtl_win_test.cpp
// The Windows half of the run-time routines, against the real clock, locale and file system.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>

#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"

using namespace rtl;

namespace {

std::uint64_t Ticks(const FILETIME& ft) { return std::uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime; }
FILETIME FromTicks(std::uint64_t t) { return {static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }

std::string ReadBytes(const std::wstring& path) {
  FileHandle f(CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr));
  char buffer[4096];
  DWORD n = 0;
  return f.valid() && ReadFile(f.get(), buffer, sizeof buffer, &n, nullptr) ? std::string(buffer, n) : "(unreadable)";
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  FindHandle find(FindFirstFileW(ExtendedPath(dir + L"\\*").c_str(), &fd));
  while (find.valid()) {
    const std::wstring name = fd.cFileName, full = ExtendedPath(dir + L"\\" + name);
    const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && name != L"." && name != L"..") RemoveTree(dir + L"\\" + name);
    if (!folder && SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL)) DeleteFileW(full.c_str());
    if (!FindNextFileW(find.get(), &fd)) find.close();
  }
  RemoveDirectoryW(ExtendedPath(dir).c_str());
}

class RtlWinFiles : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)) << GetLastError(); }
  void TearDown() override { RemoveTree(folder_); }

  // Sets the last-write time from a local date and time, as FileAgeLocal reads it back.
  static void SetLocalWriteTime(const std::wstring& path, TDateTime local, std::uint64_t extraTicks = 0) {
    FileHandle f(CreateFileW(ExtendedPath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
    const FILETIME localFt = FromTicks(Ticks(DateTimeToFileTime(local)) + extraTicks);
    FILETIME utc;
    ASSERT_TRUE(f.valid() && LocalFileTimeToFileTime(&localFt, &utc) && SetFileTime(f.get(), nullptr, nullptr, &utc));
  }

  const std::wstring folder_ = TempDirectory() + L"\\zel_rtl_" + std::to_wstring(GetCurrentProcessId());
};

}  // namespace

TEST(RtlWinLocale, JapaneseUserLocaleGivesItsFormatsAndNames) {
  const TFormatSettings& fs = FormatSettings();
  // Wine 8 takes CLDR's "yyyy/M/d" where Windows has "yyyy/MM/dd".
  EXPECT_TRUE(fs.ShortDateFormat == L"yyyy/MM/dd" || fs.ShortDateFormat == L"yyyy/M/d") << fs.ShortDateFormat;
  EXPECT_EQ(fs.LongTimeFormat + fs.TimeSeparator + fs.TimeAMString + fs.TimePMString, L"H:mm:ss:午前午後");
  EXPECT_EQ(fs.LongMonthNames[0] + fs.LongDayNames[0] + fs.ShortDayNames[1], L"1月日曜日月");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5) + 0.75), DateTimeToStr(EncodeDate(2024, 3, 5)) + L" 18:00:00");
  EXPECT_EQ(StrToTime(L" 9: 5: 7"), EncodeTime(9, 5, 7, 0));
}

TEST(RtlWinClock, OneReadingGivesDateAndTimeBetweenItsNeighboursAndItsUniversalTime) {
  SYSTEMTIME before;
  FILETIME universalBefore, universalAfter;
  GetLocalTime(&before);
  GetSystemTimeAsFileTime(&universalBefore);
  const TClockReading r = ReadClock();
  GetSystemTimeAsFileTime(&universalAfter);
  const TDateTime after = Now();
  EXPECT_EQ(r.Date, std::floor(r.Date));
  EXPECT_TRUE(r.Time >= 0 && r.Time < 1) << r.Time;
  EXPECT_LE(SystemTimeToDateTime(before), r.Date + r.Time);
  EXPECT_LE(r.Date + r.Time, after);
  EXPECT_LT(after - SystemTimeToDateTime(before), 5 / SecsPerDay);
  // The same instant, cut to the reading's millisecond.
  EXPECT_LE(Ticks(universalBefore) / 10000 * 10000, Ticks(r.Universal));
  EXPECT_LE(Ticks(r.Universal), Ticks(universalAfter));
  EXPECT_EQ(FileTimeToDateTime(UniversalToLocal(r.Universal)), r.Date + r.Time);
}

TEST(RtlWinClock, SystemTimeAndFileTimeKeepTheMillisecondWithoutZoneShift) {
  const TDateTime v = EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999);  // a Thursday
  const SYSTEMTIME st = DateTimeToSystemTime(v);
  EXPECT_EQ((std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond,
                              st.wMilliseconds}),
            (std::vector<int>{2024, 2, 29, 4, 23, 59, 59, 999}));
  EXPECT_EQ(SystemTimeToDateTime(st), v);
  const std::uint64_t ticks = Ticks(DateTimeToFileTime(v));
  EXPECT_EQ(ticks, 133537247999990000u);
  EXPECT_EQ(FileTimeToDateTime(FromTicks(ticks + 9999)), v);
  EXPECT_NEAR((FileTimeToDateTimePrecise(FromTicks(ticks + 5000)) - v) * MSecsPerDay, 0.5, 1e-3);
  EXPECT_EQ(Ticks(DateTimeToFileTime(EncodeDate(1601, 1, 1))), 0u);
  EXPECT_THROW(DateTimeToSystemTime(ComposeDateTime(EncodeDate(1600, 12, 31), 0.5)), EConvertError);
  // Before 1899-12-30 the time of day is the fraction's magnitude.
  const TDateTime old = ComposeDateTime(EncodeDate(1850, 1, 1), EncodeTime(13, 30, 0, 0));
  EXPECT_EQ(DateTimeToSystemTime(old).wHour, 13);
  EXPECT_EQ(SystemTimeToDateTime(DateTimeToSystemTime(old)), old);
  EXPECT_EQ(FileTimeToDateTime(DateTimeToFileTime(old)), old);
}

TEST(RtlWinPaths, LongAbsolutePathsGetThePrefixAndNamesAnyLength) {
  const std::wstring tail(300, L'x');
  EXPECT_EQ(ExtendedPath(L"C:\\short.txt"), L"C:\\short.txt");
  EXPECT_EQ(ExtendedPath(L"C:/dir/../" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedPath(L"\\\\srv\\share\\" + tail), L"\\\\?\\UNC\\srv\\share\\" + tail);
  EXPECT_EQ(ExtendedPath(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ExtendedPath(L"dir\\" + tail), L"dir\\" + tail);

  const std::wstring exe = ExeName(), temp = TempDirectory();
  EXPECT_EQ(exe.substr(exe.size() - 16), L"rtl_win_test.exe");
  EXPECT_TRUE(FileExists(exe) && DirectoryExists(ExtractFileDir(exe)));
  EXPECT_TRUE(DirectoryExists(temp) && temp.back() != L'\\') << temp;
  const std::wstring base = ExpandFileName(L"x"), name(400, L'n');
  EXPECT_EQ(ExpandFileName(L"a\\..\\" + name), base.substr(0, base.size() - 1) + name);
}

TEST_F(RtlWinFiles, FileBeyond260CharactersIsWrittenInShiftJisAndDatedToTheTick) {
  std::wstring dir = folder_;
  while (dir.size() < 300) {
    dir += L"\\長いフォルダ名_0123456789";
    ASSERT_TRUE(CreateDirectoryW(ExtendedPath(dir).c_str(), nullptr)) << GetLastError();
  }
  const std::wstring file = dir + L"\\scratch.txt";
  ASSERT_EQ(ExtendedPath(file), L"\\\\?\\" + file);
  WriteTextLineCp932(file, L"日付テスト abc");
  EXPECT_EQ(ReadBytes(file), "\x93\xfa\x95\x74\x83\x65\x83\x58\x83\x67 abc\r\n");
  EXPECT_TRUE(FileExists(file) && !FileExists(dir) && DirectoryExists(dir) && !DirectoryExists(file));
  EXPECT_NEAR(FileAgeLocal(file), Now(), 10 / SecsPerDay);

  SetLocalWriteTime(file, EncodeDate(2024, 2, 29) + EncodeTime(12, 34, 56, 123), 4567);
  EXPECT_NEAR((FileAgeLocal(file) - EncodeDate(2024, 2, 29)) * SecsPerDay, 45296.1234567, 1e-6);
  EXPECT_TRUE(RemoveFile(file));
  EXPECT_FALSE(FileExists(file) || RemoveFile(file));
}

TEST_F(RtlWinFiles, DateOfAFileHeldOpenExclusivelyOrReadOnlyIsStillRead) {
  const std::wstring file = folder_ + L"\\locked.txt";
  const TDateTime stamp = EncodeDate(2001, 2, 3) + EncodeTime(4, 5, 6, 0);
  WriteTextLineCp932(file, L"");
  EXPECT_EQ(ReadBytes(file), "\r\n");
  SetLocalWriteTime(file, stamp);
  {
    FileHandle held(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    FileHandle second(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(FileAgeLocal(file), stamp);
  }
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(FileAgeLocal(file), stamp);
  try {
    WriteTextLineCp932(file, L"上書き");
    ADD_FAILURE() << "a read-only file was overwritten";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(ReadBytes(file), "\r\n");
}

TEST_F(RtlWinFiles, FailuresNameTheFileAndTheSystemReason) {
  const std::wstring missing = folder_ + L"\\無い.txt";
  try {
    FileAgeLocal(missing);
    ADD_FAILURE();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_NE(e.Message().find(missing), std::wstring::npos) << e.Message();
    EXPECT_NE(e.Message().find(SysErrorMessage(ERROR_FILE_NOT_FOUND)), std::wstring::npos);
    EXPECT_NE(e.Message().back(), L'\n');
  }
}
