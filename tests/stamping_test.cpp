// tests/stamping_test.cpp
// The stamping engine against real files in a temporary folder, times read back from disk.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "main_window/stamping.h"
#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/sysutils.h"

namespace {

using zel::TStamper;
using Paths = std::vector<std::wstring>;

constexpr rtl::TDateTime kNineHours = 9.0 / 24;

FILETIME Ft(int y, int mo, int d, int h, int mi, int s, int ms) {
  const SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                      static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s),
                      static_cast<WORD>(ms)};
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

// Readable in a failed expectation, down to the 100 ns.
std::string Text(const FILETIME& ft) {
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  char text[64];
  const auto ticks = static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d+%u", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                static_cast<unsigned>(ticks % 10000));
  return text;
}

rtl::TDateTime Instant(int y, int mo, int d, int h, int mi, int s, int ms) {
  return rtl::ComposeDateTime(rtl::EncodeDate(y, mo, d), rtl::EncodeTime(h, mi, s, ms));
}

const FILETIME kOld = Ft(2001, 2, 3, 4, 5, 6, 7);
const rtl::TDateTime kInstant = Instant(2021, 7, 15, 10, 15, 31, 250);
const FILETIME kStored = Ft(2021, 7, 15, 1, 15, 31, 250);  // kInstant less nine hours

WIN32_FILE_ATTRIBUTE_DATA Attributes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  EXPECT_TRUE(GetFileAttributesExW(rtl::ExtendedPath(path).c_str(), GetFileExInfoStandard, &d))
      << testing::PrintToString(path);
  return d;
}

// A handle held by the test, as another program would hold it.
rtl::FileHandle Hold(const std::wstring& path, DWORD access, DWORD share) {
  return rtl::FileHandle(CreateFileW(rtl::ExtendedPath(path).c_str(), access, share, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void SetAllTimes(const std::wstring& path, const FILETIME& t) {
  rtl::FileHandle h = Hold(path, FILE_WRITE_ATTRIBUTES, 7);
  ASSERT_TRUE(SetFileTime(h.get(), &t, &t, &t)) << testing::PrintToString(path);
}

// Wine on Linux reports the modification time as the creation time.
bool KeepsCreationTimeApart(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\creation_probe";
  const FILETIME a = Ft(1999, 1, 1, 0, 0, 0, 0), b = Ft(2011, 1, 1, 0, 0, 0, 0);
  rtl::FileHandle h(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
  SetFileTime(h.get(), &a, nullptr, &b);
  h.close();
  const bool apart = Text(Attributes(probe).ftCreationTime) == Text(a);
  DeleteFileW(probe.c_str());
  return apart;
}

// Wine's CreateSymbolicLinkW reports success and makes nothing, and its RemoveDirectoryW on a
// link to a folder removes the target; so links are made and removed by the Unix ln and rm,
// which Wine starts when CreateProcess is handed them. Their handles cannot be waited for,
// so the effect is polled.
const auto WineUnixName = reinterpret_cast<char*(CDECL*)(const wchar_t*)>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"),
                                           "wine_get_unix_file_name")));

std::wstring UnixPath(const std::wstring& path) {
  char* name = WineUnixName(path.c_str());
  if (name == nullptr) return {};
  std::wstring wide(MAX_PATH * 4, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, name, -1, &wide[0], MAX_PATH * 4) - 1);
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

template <typename Done>
bool RunUnix(const std::wstring& program, const std::wstring& arguments, Done done) {
  std::wstring commandLine = program + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  for (int i = 0; i < 200; ++i, Sleep(50))
    if (done()) return true;
  return false;
}

bool IsFolderLink(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  return a != INVALID_FILE_ATTRIBUTES && (a & link) == link;
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
      IsFolderLink(link))
    return true;
  const std::size_t slash = link.rfind(L'\\');
  return WineUnixName &&
         RunUnix(L"Z:\\bin\\ln",
                 L"-s " + UnixPath(target) + L" " + UnixPath(link.substr(0, slash)) + L"/" +
                     link.substr(slash + 1),
                 [&] { return IsFolderLink(link); });
}

void RemoveFolderLink(const std::wstring& link) {
  if (!IsFolderLink(link)) return;
  if (!WineUnixName) RemoveDirectoryW(link.c_str());
  else RunUnix(L"Z:\\bin\\rm", UnixPath(link), [&] { return !IsFolderLink(link); });
}

void RemoveTree(const std::wstring& path) {
  const std::wstring api = rtl::ExtendedPath(path);
  const DWORD a = GetFileAttributesW(api.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(api.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(api.c_str());
    return;
  }
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveFolderLink(path);
  Paths names;
  WIN32_FIND_DATAW d;
  rtl::FindHandle find(FindFirstFileW(rtl::ExtendedPath(path + L"\\*").c_str(), &d));
  while (find.valid()) {
    if (std::wstring(d.cFileName) != L"." && std::wstring(d.cFileName) != L"..")
      names.push_back(path + L"\\" + d.cFileName);
    if (!FindNextFileW(find.get(), &d)) break;
  }
  find.close();
  for (const std::wstring& name : names) RemoveTree(name);
  RemoveDirectoryW(api.c_str());
}

class Stamping : public testing::Test {
 protected:
  void SetUp() override {
    static unsigned counter = GetTickCount();
    do root_ = rtl::TempDirectory() + L"\\zel_stamping_" + std::to_wstring(++counter);
    while (!CreateDirectoryW(root_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(rtl::DirectoryExists(root_));
  }
  void TearDown() override {
    RemoveTree(root_);
    // Wine does not list a link whose target is gone, so only the Unix side sees it.
    if (rtl::DirectoryExists(root_) && WineUnixName)
      RunUnix(L"Z:\\bin\\rm", L"-rf " + UnixPath(root_),
              [&] { return !rtl::DirectoryExists(root_); });
  }

  // Made below root_ with all three times at kOld, so any change shows.
  std::wstring Dir(const std::wstring& relative) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(CreateDirectoryW(rtl::ExtendedPath(path).c_str(), nullptr)) << GetLastError();
    SetAllTimes(path, kOld);
    return path;
  }
  std::wstring File(const std::wstring& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(rtl::FileHandle(CreateFileW(rtl::ExtendedPath(path).c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_NEW, attributes, nullptr))
                    .valid());
    SetAllTimes(path, kOld);
    SetAllTimes(path.substr(0, path.rfind(L'\\')), kOld);  // adding the file changed it
    return path;
  }

  static void ExpectStamped(const std::wstring& path, const FILETIME& stored) {
    const WIN32_FILE_ATTRIBUTE_DATA d = Attributes(path);
    EXPECT_EQ(Text(d.ftCreationTime), Text(stored)) << testing::PrintToString(path);
    EXPECT_EQ(Text(d.ftLastWriteTime), Text(stored)) << testing::PrintToString(path);
    EXPECT_EQ(Text(d.ftLastAccessTime), Text(kOld)) << testing::PrintToString(path);
  }
  static void ExpectUnchanged(const std::wstring& path) {
    const WIN32_FILE_ATTRIBUTE_DATA d = Attributes(path);
    EXPECT_EQ(Text(d.ftCreationTime), Text(kOld)) << testing::PrintToString(path);
    EXPECT_EQ(Text(d.ftLastWriteTime), Text(kOld)) << testing::PrintToString(path);
  }
  // Only the modification time; listing a folder is an access the file system may record.
  void ExpectFolderStamped(const std::wstring& path, const FILETIME& stored) const {
    const WIN32_FILE_ATTRIBUTE_DATA d = Attributes(path);
    EXPECT_EQ(Text(d.ftLastWriteTime), Text(stored)) << testing::PrintToString(path);
    if (KeepsCreationTimeApart(root_)) {
      EXPECT_EQ(Text(d.ftCreationTime), Text(kOld));
    }
  }

  static TStamper NineHoursAhead(bool folderOption) {
    TStamper s;
    s.TimeCorrection = kNineHours;
    s.FolderOption = folderOption;
    return s;
  }

  std::wstring root_;
};

TEST_F(Stamping, FilesGetTheInstantLessTheCorrectionAndFoldersKeepTheirTimes) {
  const std::wstring tree = Dir(L"tree"), sub = Dir(L"tree\\sub"), empty = Dir(L"tree\\empty");
  const std::wstring a = File(L"tree\\a.txt"), b = File(L"tree\\sub\\b.txt");
  TStamper s = NineHoursAhead(false);
  s.StampPath(tree, kInstant);
  ExpectStamped(a, kStored);
  ExpectStamped(b, kStored);
  for (const std::wstring& d : {tree, sub, empty}) ExpectUnchanged(d);
  EXPECT_EQ(s.Result.Changed, 2u);
  EXPECT_EQ(s.Result.Failed, 0u);

  s.StampPath(a, Instant(2022, 1, 2, 3, 4, 5, 999));  // named directly; the result adds up
  ExpectStamped(a, Ft(2022, 1, 1, 18, 4, 5, 999));
  EXPECT_EQ(s.Result.Changed, 3u);
}

TEST_F(Stamping, FolderOptionWritesEachFoldersModificationTimeOnly) {
  const std::wstring tree = Dir(L"tree"), sub = Dir(L"tree\\sub"), empty = Dir(L"tree\\empty");
  const std::wstring b = File(L"tree\\sub\\b.txt");
  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(b, kStored);
  for (const std::wstring& d : {tree, sub, empty}) ExpectFolderStamped(d, kStored);
  EXPECT_EQ(s.Result.Changed, 4u);

  // An empty folder alone, named with a trailing separator.
  const std::wstring alone = Dir(L"alone");
  TStamper off = NineHoursAhead(false);
  off.StampPath(alone, kInstant);
  ExpectUnchanged(alone);
  EXPECT_EQ(off.Result.Changed + off.Result.Failed, 0u);
  s.StampPath(alone + L"\\", kInstant);
  ExpectFolderStamped(alone, kStored);
  EXPECT_EQ(s.Result.Changed, 5u);

  EXPECT_TRUE(s.StampFolderTime(alone, Instant(1990, 5, 6, 7, 8, 9, 10)));
  ExpectFolderStamped(alone, Ft(1990, 5, 5, 22, 8, 9, 10));
  EXPECT_FALSE(s.StampFolderTime(root_ + L"\\missing", kInstant));
}

// A failure is recorded where the time would have been written, so with every folder held by
// "another program" and the files read-only, the failures show the walk's order: listing
// order, each folder after its contents, the target last.
TEST_F(Stamping, FolderTimeIsWrittenAfterItsContentsInListingOrder) {
  const std::wstring tree = Dir(L"tree");
  const Paths folders = {tree, Dir(L"tree\\x"), Dir(L"tree\\x\\y"), Dir(L"tree\\w")};
  for (const wchar_t* f : {L"tree\\x\\x1", L"tree\\x\\y\\y1", L"tree\\z"})
    File(f, FILE_ATTRIBUTE_READONLY);
  const std::wstring writable = File(L"tree\\x\\y\\y2");

  Paths expected;
  struct {
    Paths& out;
    void operator()(const std::wstring& dir) {
      std::vector<WIN32_FIND_DATAW> entries(1);
      rtl::FindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &entries.back()));
      while (entries.resize(entries.size() + 1), FindNextFileW(find.get(), &entries.back())) {}
      entries.pop_back();
      for (const WIN32_FIND_DATAW& e : entries) {
        const std::wstring path = dir + L"\\" + e.cFileName;
        if (e.cFileName[0] == L'.') continue;
        if (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) (*this)(path);
        if (e.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
          out.push_back(path);
      }
    }
  } list{expected};
  list(tree);
  expected.push_back(tree);
  std::vector<rtl::FileHandle> held;
  for (const std::wstring& d : folders)
    held.push_back(Hold(d, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_DELETE));

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  EXPECT_EQ(s.Result.FailedPaths, expected);
  EXPECT_EQ(s.Result.Failed, 7u);
  EXPECT_EQ(s.Result.Changed, 1u);
  ExpectStamped(writable, kStored);  // a held folder's contents are still stamped
  ExpectUnchanged(tree);
}

TEST_F(Stamping, HiddenAndSystemFilesAreStampedReadOnlyLockedAndMissingOnesAreNot) {
  const std::wstring tree = Dir(L"tree");
  const std::wstring hidden = File(L"tree\\hidden", FILE_ATTRIBUTE_HIDDEN),
                     system = File(L"tree\\system", FILE_ATTRIBUTE_SYSTEM),
                     readOnly = File(L"tree\\readonly", FILE_ATTRIBUTE_READONLY),
                     locked = File(L"tree\\locked");
  rtl::FileHandle lock = Hold(locked, GENERIC_READ, 0);
  TStamper s = NineHoursAhead(false);
  s.StampPath(tree, kInstant);
  ExpectStamped(hidden, kStored);
  ExpectStamped(system, kStored);
  ExpectUnchanged(readOnly);
  ExpectUnchanged(locked);
  EXPECT_EQ(s.Result.Changed, 2u);
  Paths failed = s.Result.FailedPaths;
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (Paths{locked, readOnly}));

  TStamper direct = NineHoursAhead(false);
  const Paths named = {readOnly, locked, root_ + L"\\missing", root_ + L"\\no\\such"};
  for (const std::wstring& p : named) direct.StampPath(p, kInstant);
  ExpectUnchanged(readOnly);
  ExpectUnchanged(locked);
  EXPECT_EQ(direct.Result.Changed, 0u);
  EXPECT_EQ(direct.Result.FailedPaths, named);

  // Past ten failures only the count grows.
  for (int i = 0; i < 8; ++i) direct.StampPath(root_ + L"\\gone" + std::to_wstring(i), kInstant);
  EXPECT_EQ(direct.Result.Failed, 12u);
  EXPECT_EQ(direct.Result.FailedPaths.size(), 10u);
}

TEST_F(Stamping, RelativePathsResolveAgainstTheCurrentDirectoryWhichStaysUnchanged) {
  const std::wstring b = File(L"b.txt");
  Dir(L"sub");
  Dir(L"sub\\inner");
  const std::wstring c = File(L"sub\\inner\\c.txt");
  wchar_t saved[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  ASSERT_TRUE(SetCurrentDirectoryW(root_.c_str()));
  TStamper s = NineHoursAhead(true);
  for (const wchar_t* p : {L"sub", L"b.txt", L"inner"}) s.StampPath(p, kInstant);
  GetCurrentDirectoryW(MAX_PATH, after);
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(std::wstring(after), root_);
  ExpectStamped(b, kStored);
  ExpectStamped(c, kStored);
  EXPECT_EQ(s.Result.Changed, 4u);
  EXPECT_EQ(s.Result.FailedPaths, Paths{root_ + L"\\inner"});  // not below where the walk was
}

TEST_F(Stamping, PathsLongerThanMaxPathAndNamesOutsideCodePage932) {
  std::wstring relative = L"폴더_😀";
  const std::wstring tree = Dir(relative);
  for (wchar_t c : {L'a', L'b', L'c'}) Dir(relative += L"\\" + std::wstring(100, c));
  const std::wstring deep = File(relative + L"\\файл_😀_한국.txt");
  const std::wstring readOnly = File(relative + L"\\ro", FILE_ATTRIBUTE_READONLY);
  ASSERT_GT(deep.size(), 300u);

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(deep, kStored);
  ExpectFolderStamped(root_ + L"\\" + relative, kStored);
  ExpectFolderStamped(tree, kStored);
  EXPECT_EQ(s.Result.Changed, 5u);
  EXPECT_EQ(s.Result.FailedPaths, Paths{readOnly});  // reported without the \\?\ prefix

  s.StampPath(deep, Instant(2020, 1, 1, 9, 0, 0, 1));
  ExpectStamped(deep, Ft(2020, 1, 1, 0, 0, 0, 1));
  s.StampPath(L"\\\\?\\" + readOnly, kInstant);
  EXPECT_EQ(s.Result.FailedPaths, (Paths{readOnly, readOnly}));
}

TEST_F(Stamping, FolderLinksInsideTheTreeAreNotFollowedButANamedLinkIs) {
  const std::wstring tree = Dir(L"tree"), a = Dir(L"tree\\a"), outside = Dir(L"outside");
  const std::wstring file = File(L"tree\\a\\file"), other = File(L"outside\\other");
  const std::wstring loop = a + L"\\loop", away = tree + L"\\away";
  struct RemoveLinks {  // while their targets exist
    Paths links;
    ~RemoveLinks() {
      for (const std::wstring& l : links) RemoveFolderLink(l);
    }
  } removeLinks{{loop, away}};
  if (!MakeFolderLink(loop, tree) || !MakeFolderLink(away, outside))
    GTEST_SKIP() << "folder links cannot be made here";
  SetAllTimes(a, kOld);
  SetAllTimes(tree, kOld);

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(file, kStored);
  ExpectFolderStamped(a, kStored);
  ExpectFolderStamped(tree, kStored);
  ExpectUnchanged(other);
  ExpectUnchanged(outside);
  EXPECT_EQ(s.Result.Changed, 3u);
  Paths failed = s.Result.FailedPaths;
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (Paths{loop, away}));

  TStamper named = NineHoursAhead(false);
  named.StampPath(away, kInstant);
  ExpectStamped(other, kStored);
  EXPECT_EQ(named.Result.Changed, 1u);
}

TEST_F(Stamping, ADeepTreeIsWalkedOnA64KiBStack) {
  // 300 levels of one-letter names: past MAX_PATH, within Wine's ~4,000-byte Unix limit.
  const int depth = 300;
  std::wstring relative = L"t";
  const std::wstring tree = Dir(relative);
  for (int i = 0; i < depth; ++i) {
    Dir(relative += L"\\d");
    File(relative + L"\\f");
  }
  struct Job {
    TStamper s = NineHoursAhead(true);
    std::wstring path;
    static DWORD WINAPI Run(void* job) {
      static_cast<Job*>(job)->s.StampPath(static_cast<Job*>(job)->path, kInstant);
      return 0;
    }
  } job;
  job.path = tree;
  HANDLE thread = CreateThread(nullptr, 64 * 1024, Job::Run, &job,
                               STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(job.s.Result.Failed, 0u);
  EXPECT_EQ(job.s.Result.Changed, static_cast<size_t>(2 * depth + 1));
  ExpectStamped(root_ + L"\\" + relative + L"\\f", kStored);
  ExpectFolderStamped(root_ + L"\\" + relative, kStored);
  ExpectFolderStamped(tree, kStored);
}

TEST_F(Stamping, EarlyInstants) {
  const std::wstring tree = Dir(L"tree"), f = File(L"tree\\f");
  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, Instant(1975, 3, 14, 10, 15, 31, 250));
  ExpectStamped(f, Ft(1975, 3, 14, 1, 15, 31, 250));
  ExpectFolderStamped(tree, Ft(1975, 3, 14, 1, 15, 31, 250));

  // Before 1899-12-30 the fraction counts the time of day away from zero, yet the correction
  // still moves the stored time back by its length. Corrected by -1000 days the result lands
  // after 1901, which ext4 (under Wine) can hold.
  s.TimeCorrection = -1000;
  s.StampPath(tree, Instant(1899, 12, 29, 18, 0, 0, 250));
  ExpectStamped(f, Ft(1902, 9, 25, 18, 0, 0, 250));
  ExpectFolderStamped(tree, Ft(1902, 9, 25, 18, 0, 0, 250));
  EXPECT_EQ(s.Result.Changed, 4u);

  // Before 1601 once corrected: a failure for every target, not an exception.
  TStamper early = NineHoursAhead(true);
  early.StampPath(tree, Instant(1601, 1, 1, 5, 0, 0, 0));
  early.StampPath(f, Instant(1, 1, 1, 0, 0, 0, 0));
  EXPECT_FALSE(early.StampFolderTime(tree, Instant(1601, 1, 1, 8, 59, 59, 999)));
  ExpectStamped(f, Ft(1902, 9, 25, 18, 0, 0, 250));
  EXPECT_EQ(early.Result.Changed, 0u);
  EXPECT_EQ(early.Result.FailedPaths, (Paths{f, tree, f}));
}

TEST(StampingReport, ThreeForms) {
  const std::wstring when = L"2021/07/15 10:15:31";
  zel::TStampResult r;
  r.Changed = 3;
  EXPECT_EQ(zel::ReportText(when, r), L"2021/07/15 10:15:31に変更しました");

  r.Failed = 2;
  r.FailedPaths = {L"C:\\a\\locked.txt", L"C:\\a\\b"};
  EXPECT_EQ(zel::ReportText(when, r),
            L"2021/07/15 10:15:31に変更しました\r\n\r\n変更できなかったもの：2件\r\n"
            L"C:\\a\\locked.txt\r\nC:\\a\\b");

  r.Changed = 0;
  r.Failed = 15;
  std::wstring paths;
  for (int i = 2; i < 10; ++i) r.FailedPaths.push_back(L"C:\\f" + std::to_wstring(i));
  for (const std::wstring& p : r.FailedPaths) paths += L"\r\n" + p;
  EXPECT_EQ(zel::ReportText(when, r), L"2021/07/15 10:15:31に変更できませんでした\r\n\r\n"
                                      L"変更できなかったもの：15件" + paths + L"\r\nほか 5件");
}

// Local minus universal time as the zone settings give it.
rtl::TDateTime ZoneOffset() {
  TIME_ZONE_INFORMATION tz;
  const DWORD id = GetTimeZoneInformation(&tz);
  const LONG bias = tz.Bias + (id == TIME_ZONE_ID_DAYLIGHT   ? tz.DaylightBias
                               : id == TIME_ZONE_ID_STANDARD ? tz.StandardBias
                                                             : 0);
  return -bias / rtl::MinsPerDay;
}

std::string Contents(const std::wstring& path) {
  rtl::FileHandle h(CreateFileW(path.c_str(), GENERIC_READ, 1, nullptr, OPEN_EXISTING, 0, 0));
  char buffer[256];
  DWORD n = 0;
  return ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr) ? std::string(buffer, n) : "";
}

// "このファイルは時間補正用に使ったファイルです" in Shift-JIS, CR LF.
const std::string kScratchBytes =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x8e\x9e\x8a\xd4\x95\xe2\x90\xb3"
    "\x97\x70\x82\xc9\x8e\x67\x82\xc1\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xc5\x82\xb7"
    "\r\n";

using Calibration = Stamping;

// Registered under TZ=Asia/Tokyo and TZ=UTC; Wine takes TZ per process.
TEST_F(Calibration, CorrectionIsTheZoneOffsetSoAStampShowsTheInstantInLocalTime) {
  wchar_t zone[64] = L"";
  GetEnvironmentVariableW(L"TZ", zone, 64);
  if (std::wstring(zone) == L"Asia/Tokyo") {
    EXPECT_EQ(ZoneOffset(), kNineHours);
  } else if (std::wstring(zone) == L"UTC") {
    EXPECT_EQ(ZoneOffset(), 0);
  }

  TStamper s;
  EXPECT_EQ(s.Calibrate(rtl::ExeName()), L"");
  const std::wstring scratch = rtl::ExtractFileDir(rtl::ExeName()) + L"\\Zelvoran.dat";
  EXPECT_EQ(s.ScratchFile(), scratch);
  EXPECT_EQ(Contents(scratch), kScratchBytes);
  rtl::RemoveFile(scratch);
  EXPECT_EQ(s.TimeCorrection, ZoneOffset());
  EXPECT_EQ(s.Result.Changed + s.Result.Failed, 0u);

  const std::wstring f = File(L"f.txt");
  s.StampPath(f, kInstant);
  const FILETIME stored = Attributes(f).ftLastWriteTime;
  FILETIME local;
  FileTimeToLocalFileTime(&stored, &local);
  EXPECT_EQ(Text(local), Text(Ft(2021, 7, 15, 10, 15, 31, 250)));

  // An executable in a drive root: two separators, which the file system accepts.
  TStamper root;
  EXPECT_EQ(root.Calibrate(L"C:\\Zelvoran.exe"), L"");
  EXPECT_EQ(root.ScratchFile(), L"C:\\\\Zelvoran.dat");
  EXPECT_EQ(Contents(L"C:\\Zelvoran.dat"), kScratchBytes);
  EXPECT_EQ(root.TimeCorrection, ZoneOffset());
  rtl::RemoveFile(L"C:\\Zelvoran.dat");
}

TEST_F(Calibration, FallsBackToTheTempFolderAndThenToTheSystemOffset) {
  // A folder in the scratch file's place makes the write fail, even for root under Wine.
  Dir(L"app");
  Dir(L"app\\Zelvoran.dat");
  const std::wstring exe = root_ + L"\\app\\Zelvoran.exe";
  const std::wstring tempScratch = rtl::TempDirectory() + L"\\Zelvoran.dat";
  TStamper s;
  EXPECT_EQ(s.Calibrate(exe), L"");
  EXPECT_EQ(s.ScratchFile(), tempScratch);
  EXPECT_EQ(Contents(tempScratch), kScratchBytes);
  EXPECT_EQ(s.TimeCorrection, ZoneOffset());
  rtl::RemoveFile(tempScratch);

  Dir(L"tmp");
  Dir(L"tmp\\Zelvoran.dat");
  wchar_t tmp[MAX_PATH] = L"", temp[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", (root_ + L"\\tmp").c_str());
  SetEnvironmentVariableW(L"TEMP", (root_ + L"\\tmp").c_str());
  TStamper none;
  none.TimeCorrection = 123;
  const std::wstring message = none.Calibrate(exe);
  SetEnvironmentVariableW(L"TMP", tmp[0] ? tmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", temp[0] ? temp : nullptr);
  EXPECT_EQ(message.find(L"時間補正用のファイルを作成できませんでした"), 0u) << message;
  EXPECT_NE(message.find(root_ + L"\\tmp\\Zelvoran.dat"), std::wstring::npos) << message;
  EXPECT_EQ(none.ScratchFile(), L"");
  EXPECT_EQ(none.TimeCorrection, ZoneOffset());
}

}  // namespace
