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

constexpr rtl::TDateTime kNineHours = 9.0 / 24;
constexpr std::uint64_t kTicksPerDay = 864000000000ULL;

std::uint64_t Ticks(const FILETIME& ft) {
  return static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

FILETIME FromTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

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
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d+%u", st.wYear, st.wMonth,
                st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                static_cast<unsigned>(Ticks(ft) % 10000));
  return text;
}

rtl::TDateTime Instant(int y, int mo, int d, int h, int mi, int s, int ms) {
  return rtl::ComposeDateTime(rtl::EncodeDate(y, mo, d), rtl::EncodeTime(h, mi, s, ms));
}

const FILETIME kOld = Ft(2001, 2, 3, 4, 5, 6, 7);
const rtl::TDateTime kInstant = Instant(2021, 7, 15, 10, 15, 31, 250);
const FILETIME kStored = Ft(2021, 7, 15, 1, 15, 31, 250);  // kInstant less nine hours

struct Times {
  std::string created, accessed, written;
};

Times TimesOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA d{};
  EXPECT_TRUE(GetFileAttributesExW(rtl::ExtendedPath(path).c_str(), GetFileExInfoStandard, &d))
      << "no times for " << testing::PrintToString(path);
  return {Text(d.ftCreationTime), Text(d.ftLastAccessTime), Text(d.ftLastWriteTime)};
}

void SetAllTimes(const std::wstring& path, const FILETIME& t) {
  rtl::FileHandle h(CreateFileW(rtl::ExtendedPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(h.valid());
  ASSERT_TRUE(SetFileTime(h.get(), &t, &t, &t));
}

// Some file systems (Wine on Linux) report the modification time as the creation time.
bool KeepsCreationTimeApart(const std::wstring& folder) {
  const std::wstring probe = folder + L"\\creation_probe";
  rtl::FileHandle h(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  const FILETIME a = Ft(1999, 1, 1, 0, 0, 0, 0), b = Ft(2011, 1, 1, 0, 0, 0, 0);
  SetFileTime(h.get(), &a, nullptr, &b);
  h.close();
  const bool apart = TimesOf(probe).created == Text(a);
  DeleteFileW(probe.c_str());
  return apart;
}

using UnixNameFn = char*(CDECL*)(const wchar_t*);
UnixNameFn WineUnixName() {
  return reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
}

std::wstring UnixPath(const std::wstring& path) {
  char* name = WineUnixName()(path.c_str());
  if (name == nullptr) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name, -1, &wide[0], n);
  wide.resize(static_cast<size_t>(n - 1));
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// Wine starts a Unix program when CreateProcess is handed one; its handle cannot be waited
// for, so callers poll for the effect.
bool StartUnix(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = program + L" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 200; ++i, Sleep(50))
    if (done()) return true;
  return false;
}

bool IsFolderLink(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
         (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine's CreateSymbolicLinkW reports success and makes nothing, so there the Unix ln makes
// the link, which Wine then shows as a reparse-point folder.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
  if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
      IsFolderLink(link))
    return true;
  if (WineUnixName() == nullptr) return false;
  const std::wstring slash = link.substr(link.rfind(L'\\'));
  const std::wstring unixLink = UnixPath(link.substr(0, link.size() - slash.size())) + L"/" +
                                slash.substr(1);
  return StartUnix(L"Z:\\bin\\ln", L"-s " + UnixPath(target) + L" " + unixLink) &&
         WaitFor([&] { return IsFolderLink(link); });
}

// Wine's RemoveDirectoryW on a Unix link to a folder removes the target folder instead.
void RemoveFolderLink(const std::wstring& link) {
  if (!IsFolderLink(link)) return;
  if (WineUnixName() == nullptr) {
    RemoveDirectoryW(link.c_str());
    return;
  }
  if (StartUnix(L"Z:\\bin\\rm", UnixPath(link)))
    WaitFor([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

void RemoveTree(const std::wstring& path) {
  const std::wstring api = rtl::ExtendedPath(path);
  const DWORD a = GetFileAttributesW(api.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(api.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
  if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(api.c_str());
  } else if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveFolderLink(path);
  } else {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW d;
    rtl::FindHandle find(FindFirstFileW(rtl::ExtendedPath(path + L"\\*").c_str(), &d));
    if (find.valid()) do {
        if (std::wstring(d.cFileName) != L"." && std::wstring(d.cFileName) != L"..")
          names.push_back(d.cFileName);
      } while (FindNextFileW(find.get(), &d));
    find.close();
    for (const std::wstring& name : names) RemoveTree(path + L"\\" + name);
    RemoveDirectoryW(api.c_str());
  }
}

// A handle held by the test, as another program would hold it.
rtl::FileHandle Hold(const std::wstring& path, DWORD access, DWORD share) {
  return rtl::FileHandle(CreateFileW(rtl::ExtendedPath(path).c_str(), access, share, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
    // Wine does not list a link whose target is gone, so only the Unix side can remove it.
    if (rtl::DirectoryExists(root_) && WineUnixName() != nullptr &&
        StartUnix(L"Z:\\bin\\rm", L"-rf " + UnixPath(root_)))
      WaitFor([&] { return !rtl::DirectoryExists(root_); });
  }

  // Created below root_ with all three times set to kOld, so any change shows.
  std::wstring Dir(const std::wstring& relative) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(CreateDirectoryW(rtl::ExtendedPath(path).c_str(), nullptr)) << GetLastError();
    SetAllTimes(path, kOld);
    return path;
  }
  std::wstring File(const std::wstring& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const std::wstring path = root_ + L"\\" + relative;
    rtl::FileHandle h(CreateFileW(rtl::ExtendedPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, attributes, nullptr));
    EXPECT_TRUE(h.valid()) << GetLastError();
    h.close();
    SetAllTimes(path, kOld);
    // The folder's own time changed when the file was added.
    SetAllTimes(path.substr(0, path.rfind(L'\\')), kOld);
    return path;
  }

  static void ExpectStamped(const std::wstring& path, const FILETIME& stored) {
    const Times t = TimesOf(path);
    EXPECT_EQ(t.created, Text(stored)) << testing::PrintToString(path);
    EXPECT_EQ(t.written, Text(stored)) << testing::PrintToString(path);
    EXPECT_EQ(t.accessed, Text(kOld)) << testing::PrintToString(path);
  }
  static void ExpectUnchanged(const std::wstring& path) {
    const Times t = TimesOf(path);
    EXPECT_EQ(t.created, Text(kOld)) << testing::PrintToString(path);
    EXPECT_EQ(t.written, Text(kOld)) << testing::PrintToString(path);
  }
  // A folder gets only its modification time. Its access time is not checked: listing it
  // is an access, which the file system may record.
  void ExpectFolderStamped(const std::wstring& path, const FILETIME& stored) const {
    const Times t = TimesOf(path);
    EXPECT_EQ(t.written, Text(stored)) << testing::PrintToString(path);
    if (KeepsCreationTimeApart(root_)) {
      EXPECT_EQ(t.created, Text(kOld));
    }
  }

  TStamper NineHoursAhead(bool folderOption) const {
    TStamper s;
    s.TimeCorrection = kNineHours;
    s.FolderOption = folderOption;
    return s;
  }

  std::wstring root_;
};

TEST_F(Stamping, FilesGetTheInstantLessTheCorrectionAndFoldersKeepTheirTimes) {
  const std::wstring tree = Dir(L"tree"), sub = Dir(L"tree\\sub"), deeper = Dir(L"tree\\sub\\d"),
                     empty = Dir(L"tree\\empty");
  const std::wstring a = File(L"tree\\a.txt"), b = File(L"tree\\sub\\b.txt"),
                     c = File(L"tree\\sub\\d\\c.txt");
  TStamper s = NineHoursAhead(false);
  s.StampPath(tree, kInstant);
  for (const std::wstring& f : {a, b, c}) ExpectStamped(f, kStored);
  for (const std::wstring& d : {tree, sub, deeper, empty}) ExpectUnchanged(d);
  EXPECT_EQ(s.Result.Changed, 3u);
  EXPECT_EQ(s.Result.Failed, 0u);
  EXPECT_TRUE(s.Result.FailedPaths.empty());

  // A file named directly; the result accumulates over the batch.
  s.StampPath(a, Instant(2022, 1, 2, 3, 4, 5, 999));
  ExpectStamped(a, Ft(2022, 1, 1, 18, 4, 5, 999));
  EXPECT_EQ(s.Result.Changed, 4u);
}

TEST_F(Stamping, FolderOptionWritesEachFoldersModificationTimeOnly) {
  const std::wstring tree = Dir(L"tree"), sub = Dir(L"tree\\sub"), empty = Dir(L"tree\\empty");
  const std::wstring b = File(L"tree\\sub\\b.txt");
  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(b, kStored);
  for (const std::wstring& d : {tree, sub, empty}) ExpectFolderStamped(d, kStored);
  EXPECT_EQ(s.Result.Changed, 4u);
  EXPECT_EQ(s.Result.Failed, 0u);

  // An empty folder on its own: only its time changes; without the option nothing does.
  const std::wstring alone = Dir(L"alone");
  TStamper off = NineHoursAhead(false);
  off.StampPath(alone, kInstant);
  ExpectUnchanged(alone);
  EXPECT_EQ(off.Result.Changed, 0u);
  EXPECT_EQ(off.Result.Failed, 0u);
  TStamper on = NineHoursAhead(true);
  on.StampPath(alone + L"\\", kInstant);
  ExpectFolderStamped(alone, kStored);
  EXPECT_EQ(on.Result.Changed, 1u);

  EXPECT_TRUE(on.StampFolderTime(alone, Instant(1990, 5, 6, 7, 8, 9, 10)));
  ExpectFolderStamped(alone, Ft(1990, 5, 5, 22, 8, 9, 10));
  EXPECT_FALSE(on.StampFolderTime(root_ + L"\\missing", kInstant));
}

// Failures are recorded when a time would be written, so with every folder held open by
// "another program" and every file read-only, the failure list shows the walk's order:
// listing order, each folder after its contents, the target last.
TEST_F(Stamping, FolderTimeIsWrittenAfterItsContentsInListingOrder) {
  const std::wstring tree = Dir(L"tree");
  Dir(L"tree\\x");
  Dir(L"tree\\x\\y");
  Dir(L"tree\\w");
  File(L"tree\\x\\x1.txt", FILE_ATTRIBUTE_READONLY);
  File(L"tree\\x\\y\\y1.txt", FILE_ATTRIBUTE_READONLY);
  const std::wstring writable = File(L"tree\\x\\y\\y2.txt");
  File(L"tree\\z.txt", FILE_ATTRIBUTE_READONLY);

  std::vector<std::wstring> expected;
  std::vector<rtl::FileHandle> held;
  struct Lister {
    std::vector<std::wstring>& out;
    void operator()(const std::wstring& dir) const {
      std::vector<std::pair<std::wstring, DWORD>> entries;
      WIN32_FIND_DATAW d;
      rtl::FindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &d));
      do entries.emplace_back(d.cFileName, d.dwFileAttributes);
      while (FindNextFileW(find.get(), &d));
      for (const auto& e : entries) {
        if (e.first == L"." || e.first == L"..") continue;
        const std::wstring path = dir + L"\\" + e.first;
        if (e.second & FILE_ATTRIBUTE_DIRECTORY) (*this)(path);
        if (e.second & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) out.push_back(path);
      }
    }
  };
  Lister{expected}(tree);
  expected.push_back(tree);
  for (const std::wstring& d : {tree, root_ + L"\\tree\\x", root_ + L"\\tree\\x\\y",
                                root_ + L"\\tree\\w"}) {
    held.push_back(Hold(d, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_DELETE));
    ASSERT_TRUE(held.back().valid());
  }

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  EXPECT_EQ(s.Result.FailedPaths, expected);
  EXPECT_EQ(s.Result.Failed, 7u);
  EXPECT_EQ(s.Result.Changed, 1u);
  ExpectStamped(writable, kStored);  // a held folder's contents are still stamped
  ExpectUnchanged(tree);
}

TEST_F(Stamping, HiddenAndSystemFilesAreStampedReadOnlyAndLockedFilesAreNot) {
  const std::wstring tree = Dir(L"tree");
  const std::wstring hidden = File(L"tree\\hidden.txt", FILE_ATTRIBUTE_HIDDEN),
                     system = File(L"tree\\system.txt", FILE_ATTRIBUTE_SYSTEM),
                     readOnly = File(L"tree\\readonly.txt", FILE_ATTRIBUTE_READONLY),
                     locked = File(L"tree\\locked.txt");
  rtl::FileHandle lock = Hold(locked, GENERIC_READ, 0);
  ASSERT_TRUE(lock.valid());

  TStamper s = NineHoursAhead(false);
  s.StampPath(tree, kInstant);
  ExpectStamped(hidden, kStored);
  ExpectStamped(system, kStored);
  ExpectUnchanged(readOnly);
  ExpectUnchanged(locked);
  EXPECT_EQ(s.Result.Changed, 2u);
  EXPECT_EQ(s.Result.Failed, 2u);
  std::vector<std::wstring> failed = s.Result.FailedPaths;
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<std::wstring>{locked, readOnly}));

  // Named directly, and missing paths.
  TStamper direct = NineHoursAhead(false);
  const std::wstring missing = root_ + L"\\missing.txt", missingDir = root_ + L"\\nodir\\x.txt";
  for (const std::wstring& p : {readOnly, locked, missing, missingDir})
    direct.StampPath(p, kInstant);
  ExpectUnchanged(readOnly);
  ExpectUnchanged(locked);
  EXPECT_EQ(direct.Result.Changed, 0u);
  EXPECT_EQ(direct.Result.FailedPaths,
            (std::vector<std::wstring>{readOnly, locked, missing, missingDir}));
}

TEST_F(Stamping, FailuresBeyondTenAreCountedButNotListed) {
  const std::wstring tree = Dir(L"tree");
  for (int i = 0; i < 12; ++i) File(L"tree\\r" + std::to_wstring(i), FILE_ATTRIBUTE_READONLY);
  TStamper s = NineHoursAhead(false);
  s.StampPath(tree, kInstant);
  EXPECT_EQ(s.Result.Failed, 12u);
  EXPECT_EQ(s.Result.FailedPaths.size(), 10u);
  const std::wstring report = zel::ReportText(L"2021/07/15 10:15:31", s.Result);
  const std::wstring head =
      L"2021/07/15 10:15:31に変更できませんでした\r\n\r\n変更できなかったもの：12件\r\n";
  EXPECT_EQ(report.substr(0, head.size()), head);
  EXPECT_EQ(report.substr(report.size() - 7), L"\r\nほか 2件");
}

TEST_F(Stamping, RelativePathsResolveAgainstTheCurrentDirectoryWhichStaysUnchanged) {
  const std::wstring b = File(L"b.txt");
  Dir(L"sub");
  Dir(L"sub\\inner");
  const std::wstring c = File(L"sub\\inner\\c.txt");
  wchar_t saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(root_.c_str()));
  TStamper s = NineHoursAhead(true);
  s.StampPath(L"sub", kInstant);
  s.StampPath(L"b.txt", kInstant);
  s.StampPath(L"inner", kInstant);  // only under sub, not where the walk ended
  wchar_t after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, after);
  SetCurrentDirectoryW(saved);
  EXPECT_EQ(std::wstring(after), root_);
  ExpectStamped(b, kStored);
  ExpectStamped(c, kStored);
  EXPECT_EQ(s.Result.Changed, 4u);
  EXPECT_EQ(s.Result.FailedPaths, std::vector<std::wstring>{root_ + L"\\inner"});
}

TEST_F(Stamping, PathsLongerThanMaxPathAreStampedAndReportedWithoutPrefix) {
  const std::wstring tree = Dir(L"tree");
  std::wstring relative = L"tree";
  for (wchar_t c : {L'a', L'b', L'c'}) Dir(relative += L"\\" + std::wstring(100, c));
  const std::wstring deep = File(relative + L"\\f.txt");
  const std::wstring readOnly = File(relative + L"\\ro.txt", FILE_ATTRIBUTE_READONLY);
  ASSERT_GT(deep.size(), 300u);

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(deep, kStored);
  ExpectFolderStamped(root_ + L"\\" + relative, kStored);
  EXPECT_EQ(s.Result.Changed, 5u);
  EXPECT_EQ(s.Result.FailedPaths, std::vector<std::wstring>{readOnly});

  s.StampPath(deep, Instant(2020, 1, 1, 9, 0, 0, 1));
  ExpectStamped(deep, Ft(2020, 1, 1, 0, 0, 0, 1));
  s.StampPath(L"\\\\?\\" + readOnly, kInstant);
  EXPECT_EQ(s.Result.FailedPaths.back(), readOnly);
}

TEST_F(Stamping, NamesOutsideCodePage932) {
  const std::wstring tree = Dir(L"폴더_😀");
  const std::wstring inside = File(L"폴더_😀\\файл_😀_한국.txt");
  const std::wstring direct = File(L"файл_😀_한국.txt");
  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  s.StampPath(direct, kInstant);
  ExpectStamped(inside, kStored);
  ExpectStamped(direct, kStored);
  ExpectFolderStamped(tree, kStored);
  EXPECT_EQ(s.Result.Changed, 3u);
  EXPECT_EQ(s.Result.Failed, 0u);
}

TEST_F(Stamping, FolderLinksInsideTheTreeAreNotFollowedButANamedLinkIs) {
  const std::wstring tree = Dir(L"tree"), a = Dir(L"tree\\a"), outside = Dir(L"outside");
  const std::wstring file = File(L"tree\\a\\file.txt"), other = File(L"outside\\o.txt");
  const std::wstring loop = root_ + L"\\tree\\a\\loop", away = root_ + L"\\tree\\away";
  struct RemoveLinks {
    std::wstring a, b;
    ~RemoveLinks() {  // while their targets exist
      RemoveFolderLink(a);
      RemoveFolderLink(b);
    }
  } removeLinks{loop, away};
  if (!MakeFolderLink(loop, tree) || !MakeFolderLink(away, outside))
    GTEST_SKIP() << "folder links cannot be made here";
  SetAllTimes(a, kOld);
  SetAllTimes(tree, kOld);

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, kInstant);
  ExpectStamped(file, kStored);
  ExpectUnchanged(other);
  ExpectUnchanged(outside);
  ExpectFolderStamped(a, kStored);
  ExpectFolderStamped(tree, kStored);
  EXPECT_EQ(s.Result.Changed, 3u);
  std::vector<std::wstring> failed = s.Result.FailedPaths;
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<std::wstring>{loop, away}));

  TStamper named = NineHoursAhead(false);
  named.StampPath(away, kInstant);
  ExpectStamped(other, kStored);
  EXPECT_EQ(named.Result.Changed, 1u);
  EXPECT_EQ(named.Result.Failed, 0u);
}

struct WalkJob {
  TStamper* stamper;
  std::wstring path;
};

DWORD WINAPI RunWalk(void* param) {
  auto* job = static_cast<WalkJob*>(param);
  job->stamper->StampPath(job->path, kInstant);
  return 0;
}

TEST_F(Stamping, ADeepTreeIsWalkedOnA64KiBStack) {
  // 300 levels of one-letter names: past MAX_PATH, within Wine's ~4,000-byte Unix limit.
  const int depth = 300;
  const std::wstring tree = Dir(L"t");
  std::wstring relative = L"t";
  for (int i = 0; i < depth; ++i) {
    Dir(relative += L"\\d");
    File(relative + L"\\f");
  }
  TStamper s = NineHoursAhead(true);
  WalkJob job{&s, tree};
  HANDLE thread =
      CreateThread(nullptr, 64 * 1024, RunWalk, &job, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(s.Result.Failed, 0u);
  EXPECT_EQ(s.Result.Changed, static_cast<size_t>(2 * depth + 1));
  ExpectStamped(root_ + L"\\" + relative + L"\\f", kStored);
  ExpectFolderStamped(root_ + L"\\" + relative, kStored);
  ExpectFolderStamped(tree, kStored);
}

TEST_F(Stamping, EarlyInstants) {
  const std::wstring tree = Dir(L"tree");
  const std::wstring f = File(L"tree\\f.txt");

  TStamper s = NineHoursAhead(true);
  s.StampPath(tree, Instant(1975, 3, 14, 10, 15, 31, 250));
  ExpectStamped(f, Ft(1975, 3, 14, 1, 15, 31, 250));
  ExpectFolderStamped(tree, Ft(1975, 3, 14, 1, 15, 31, 250));

  // Before 1899-12-30 the time of day counts away from zero; the correction still moves the
  // stored time back by its length. A large negative correction lands after 1901, which
  // every file system keeps.
  s.TimeCorrection = -1000;
  const rtl::TDateTime before1899 = Instant(1899, 12, 29, 18, 0, 0, 250);
  ASSERT_LT(before1899, 0);
  s.StampPath(tree, before1899);
  const FILETIME later = FromTicks(Ticks(Ft(1899, 12, 29, 18, 0, 0, 250)) + 1000 * kTicksPerDay);
  ExpectStamped(f, later);
  ExpectFolderStamped(tree, later);
  EXPECT_EQ(s.Result.Failed, 0u);
  EXPECT_EQ(s.Result.Changed, 4u);

  // Before 1601 once corrected: a failure for every target, not an exception.
  TStamper early = NineHoursAhead(true);
  early.StampPath(tree, Instant(1601, 1, 1, 5, 0, 0, 0));
  early.StampPath(f, Instant(1, 1, 1, 0, 0, 0, 0));
  EXPECT_FALSE(early.StampFolderTime(tree, Instant(1601, 1, 1, 8, 59, 59, 999)));
  ExpectStamped(f, later);
  EXPECT_EQ(early.Result.Changed, 0u);
  EXPECT_EQ(early.Result.FailedPaths, (std::vector<std::wstring>{f, tree, f}));
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
  r.FailedPaths.clear();
  std::wstring paths;
  for (int i = 0; i < 10; ++i) {
    r.FailedPaths.push_back(L"C:\\f" + std::to_wstring(i));
    paths += L"\r\nC:\\f" + std::to_wstring(i);
  }
  EXPECT_EQ(zel::ReportText(when, r), L"2021/07/15 10:15:31に変更できませんでした\r\n\r\n"
                                      L"変更できなかったもの：15件" + paths + L"\r\nほか 5件");
}

// Local minus universal time as the zone settings give it.
rtl::TDateTime ZoneOffset() {
  TIME_ZONE_INFORMATION tz;
  const DWORD id = GetTimeZoneInformation(&tz);
  LONG bias = tz.Bias;
  if (id == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
  if (id == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
  return -bias / rtl::MinsPerDay;
}

std::string Contents(const std::wstring& path) {
  rtl::FileHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  char buffer[256];
  DWORD n = 0;
  if (!h.valid() || !ReadFile(h.get(), buffer, sizeof buffer, &n, nullptr)) return {};
  return std::string(buffer, n);
}

const std::string kScratchBytes =
    "\x82\xb1\x82\xcc\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x8e\x9e\x8a\xd4\x95\xe2\x90\xb3"
    "\x97\x70\x82\xc9\x8e\x67\x82\xc1\x82\xbd\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xc5\x82\xb7"
    "\r\n";

using Calibration = Stamping;

// Run under TZ=Asia/Tokyo and TZ=UTC (see CMakeLists.txt); Wine reads TZ per process.
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
  EXPECT_EQ(s.Result.Changed, 0u);
  EXPECT_EQ(s.Result.Failed, 0u);

  const std::wstring f = File(L"f.txt");
  s.StampPath(f, Instant(2021, 7, 15, 10, 15, 31, 250));
  WIN32_FILE_ATTRIBUTE_DATA d{};
  ASSERT_TRUE(GetFileAttributesExW(f.c_str(), GetFileExInfoStandard, &d));
  FILETIME local;
  FileTimeToLocalFileTime(&d.ftLastWriteTime, &local);
  EXPECT_EQ(Text(local), Text(Ft(2021, 7, 15, 10, 15, 31, 250)));
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
  wchar_t savedTmp[MAX_PATH], savedTemp[MAX_PATH];
  const bool hadTmp = GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH) > 0;
  const bool hadTemp = GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH) > 0;
  SetEnvironmentVariableW(L"TMP", (root_ + L"\\tmp").c_str());
  SetEnvironmentVariableW(L"TEMP", (root_ + L"\\tmp").c_str());
  TStamper none;
  none.TimeCorrection = 123;
  const std::wstring message = none.Calibrate(exe);
  SetEnvironmentVariableW(L"TMP", hadTmp ? savedTmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", hadTemp ? savedTemp : nullptr);
  EXPECT_NE(message.find(L"時間補正用のファイルを作成できませんでした"), std::wstring::npos);
  EXPECT_NE(message.find(root_ + L"\\tmp\\Zelvoran.dat"), std::wstring::npos) << message;
  EXPECT_EQ(none.ScratchFile(), L"");
  EXPECT_EQ(none.TimeCorrection, ZoneOffset());
}

TEST_F(Calibration, AnExecutableInADriveRootGivesTwoSeparators) {
  TStamper s;
  EXPECT_EQ(s.Calibrate(L"C:\\Zelvoran.exe"), L"");
  EXPECT_EQ(s.ScratchFile(), L"C:\\\\Zelvoran.dat");
  EXPECT_EQ(Contents(L"C:\\Zelvoran.dat"), kScratchBytes);
  EXPECT_EQ(s.TimeCorrection, ZoneOffset());
  rtl::RemoveFile(L"C:\\Zelvoran.dat");
}

}  // namespace
