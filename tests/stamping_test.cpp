// tests/stamping_test.cpp
// The stamping engine against real files in a temporary folder, times read back from disk.
#include "stamping/stamping.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/files_win.h"
#include "rtl/threads_win.h"
#include "support/files.h"

namespace {

namespace tg = testfiles;
using R = zel::TFailReason;
using Paths = std::vector<std::wstring>;
using Failures = std::vector<std::pair<std::wstring, R>>;
using Ticks = unsigned long long;

rtl::TDateTime Instant(int y, int mo, int d, int h, int mi, int s, int ms) {
  return rtl::ComposeDateTime(rtl::EncodeDate(y, mo, d), rtl::EncodeTime(h, mi, s, ms));
}

// The entry's zone (TZ, taken per process by Wine) and the universal hour its real rules give
// for 12:00 local on 2026-01-15 and 2026-07-15: every stored time expected here comes from it.
struct Zone { std::wstring name; int januaryNoon, julyNoon; };
Zone ThisZone() {
  wchar_t tz[64] = L"";
  GetEnvironmentVariableW(L"TZ", tz, 64);
  for (const Zone& z : {Zone{L"Asia/Tokyo", 3, 3}, Zone{L"UTC", 12, 12},
                        Zone{L"Europe/Berlin", 11, 10}, Zone{L"America/New_York", 17, 16}})
    if (z.name == tz) return z;
  return {L"", 12, 12};
}
const Zone kZone = ThisZone();

// A local reading's stored time on a day with the zone's January or July offset.
Ticks Stored(bool july, int y, int mo, int d, int h, int mi, int s, int ms) {
  const long long hours = (july ? kZone.julyNoon : kZone.januaryNoon) - 12;
  return tg::TicksOf(y, mo, d, h, mi, s, ms) + static_cast<Ticks>(hours * 36000000000LL);
}

const rtl::TDateTime kInstant = Instant(2021, 7, 15, 10, 15, 31, 250);
const Ticks kStored = Stored(true, 2021, 7, 15, 10, 15, 31, 250);

// The exact name, at any length: "a." and "nul" too.
std::wstring X(const std::wstring& path) { return L"\\\\?\\" + path; }
Failures Failed(const zel::TStampResult& r) {
  Failures f;
  for (const zel::TStampFailure& e : r.Failures) f.emplace_back(e.Path, e.Reason);
  return f;
}

// A handle held by the test, as another program would hold it.
rtl::FileHandle Hold(const std::wstring& path, DWORD access, DWORD share) {
  return rtl::FileHandle(CreateFileW(X(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class Stamping : public testing::Test {
 protected:
  // Made below root_ with all three times old, so any change shows.
  std::wstring Dir(const std::wstring& relative) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(CreateDirectoryW(X(path).c_str(), nullptr)) << GetLastError();
    tg::SetOldTimes(X(path));
    return path;
  }
  std::wstring File(const std::wstring& relative, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const std::wstring path = root_ + L"\\" + relative;
    tg::SetOldTimes(X(path));
    SetFileAttributesW(X(path).c_str(), attributes);
    tg::SetOldTimes(X(path.substr(0, path.rfind(L'\\'))));  // adding the file changed it
    return path;
  }

  static void ExpectStamped(const std::wstring& path, Ticks stored) {
    EXPECT_EQ(tg::Times(X(path)), (std::vector<Ticks>{stored, stored, tg::kOld})) << path;
  }
  static void ExpectUnchanged(const std::wstring& path) {
    EXPECT_EQ(tg::Times(X(path), 2), (std::vector<Ticks>{tg::kOld, tg::kOld})) << path;
  }
  // Only the modification time: Wine reports that as the creation time too, and listing the
  // folder may have moved the access time, which must not be the instant.
  static void ExpectFolderStamped(const std::wstring& path, Ticks stored) {
    const std::vector<Ticks> t = tg::Times(X(path));
    EXPECT_EQ(t[1], stored) << path;
    EXPECT_NE(t[2], stored) << path;
  }

  // One batch. Registered once more with ZEL_STAMP_THREADS=1: the walking thread stamps alone.
  static zel::TStampResult Run(zel::TBatch b, zel::TBatchProgress* progress = nullptr) {
    wchar_t threads[8] = L"";
    GetEnvironmentVariableW(L"ZEL_STAMP_THREADS", threads, 8);
    b.Threads = static_cast<unsigned>(_wtoi(threads));
    zel::TBatchProgress own;
    return zel::RunBatch(b, progress != nullptr ? *progress : own);
  }
  static zel::TStampResult Stamp(const Paths& targets, rtl::TDateTime instant, bool folders,
                                 zel::TBatchProgress* progress = nullptr) {
    return Run({targets, zel::StoredTime(instant, 0), folders, {}, {}}, progress);
  }

  tg::TempDir temp_;
  const std::wstring root_ = temp_.path();
};

// July's and January's instants each by their own date's offset, whatever the date of the run;
// one from before 1980 too. Folders get theirs with the option (the main window's tests show
// them left alone without it). Then Berlin's and New York's hours skipped in spring and repeated
// in autumn: no failure, and a stored time one of the zone's two offsets gives; and a date by its
// own year's rules: New York's summer time began on 2 April in 2006, in March since 2007;
// Berlin's on 26 March both years.
TEST_F(Stamping, FilesGetTheStoredInstantByTheirDatesRulesFoldersOnlyWithTheOption) {
  ASSERT_FALSE(kZone.name.empty()) << "the zone in TZ has no row in the table";
  const rtl::TDateTime january = Instant(1975, 1, 14, 10, 15, 31, 250);
  const Ticks januaryStored = Stored(false, 1975, 1, 14, 10, 15, 31, 250);
  const Paths tree = {Dir(L"t"), Dir(L"t\\sub"), Dir(L"t\\empty")};
  const std::wstring a = File(L"t\\a.txt"), b = File(L"t\\sub\\b.txt"), alone = Dir(L"alone");
  const std::size_t changed = Stamp({tree[0]}, kInstant, true).Changed +
                              // named directly; an empty folder, trailing separator
                              Stamp({a, alone + L"\\"}, january, true).Changed;
  ExpectStamped(a, januaryStored);
  ExpectStamped(b, kStored);
  for (const auto& d : tree) ExpectFolderStamped(d, kStored);
  ExpectFolderStamped(alone, januaryStored);
  EXPECT_EQ(changed, 7u);

  for (const auto& [y, mo, d, h] : {std::array{2027, 3, 28, 2}, {2026, 10, 25, 2}, {2026, 3, 8, 2},
                                    {2026, 11, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << y << '-' << mo << '-' << d);
    EXPECT_EQ(Stamp({a}, Instant(y, mo, d, h, 30, 0, 0), false).Changed, 1u);
    EXPECT_GE(tg::Times(a, 1)[0], Stored(true, y, mo, d, h, 30, 0, 0));
    EXPECT_LE(tg::Times(a, 1)[0], Stored(false, y, mo, d, h, 30, 0, 0));
  }
  Stamp({a}, Instant(2006, 4, 1, 12, 0, 0, 0), false);
  EXPECT_EQ(tg::Times(a, 1)[0], Stored(kZone.name == L"Europe/Berlin", 2006, 4, 1, 12, 0, 0, 0));
}

// Every name is the file it names, named or met in a tree, however it was given (absolute,
// relative, "/", \\?\): even where Windows' own reading of a path would cut a trailing dot or
// space or take a device; only where no such file exists does that reading stand. Names the
// skip of "." and ".." must not take are files too. Last, a drive's root is walked like any
// folder: a drive letter of the test's own, mapped as Wine maps drives (a link in the prefix's
// dosdevices) to the temporary folder.
TEST_F(Stamping, EveryNameIsTheFileOfExactlyThatName) {
  Dir(L"d. "), Dir(L".x");
  const Paths all = {File(L"x"),       File(L"x."), File(L"b"),      File(L"b "), File(L"nul"),
                     File(L"con.txt"), File(L"y"),  File(L".x\\.x"), File(L"d. \\f")};
  struct Row { std::wstring given; std::size_t stamped; };
  const Row rows[] = {{root_ + L"\\x.", 1}, {root_ + L"\\b ", 3},     {root_ + L"\\nul", 4},
                      {root_ + L"\\con.txt", 5}, {root_ + L"/./x", 0},   {root_ + L"\\y.", 6},
                      {L"b ", 3},                 {L"..\\" + root_.substr(root_.rfind(L'\\') + 1) + L"\\x.", 1},
                      {X(root_ + L"\\d. "), 8}};
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  SetCurrentDirectoryW(root_.c_str());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.given);
    for (const std::wstring& p : all) tg::SetOldTimes(X(p));
    const zel::TStampResult r = Stamp({row.given}, kInstant, false);
    EXPECT_EQ(r.Failed, 0u) << zel::FailureListText(r);
    for (std::size_t i = 0; i < all.size(); ++i)
      i == row.stamped ? ExpectStamped(all[i], kStored) : ExpectUnchanged(all[i]);
  }
  SetCurrentDirectoryW(before);
  ASSERT_NE(_wgetenv(L"WINEPREFIX"), nullptr) << "no Wine prefix named";
  std::wstring drive = L"P:\\", link = _wgetenv(L"WINEPREFIX");
  while (drive[0] < L'Y' && GetFileAttributesW(drive.c_str()) != INVALID_FILE_ATTRIBUTES) ++drive[0];
  link += L"/dosdevices/" + std::wstring(1, static_cast<wchar_t>(drive[0] | 0x20)) + L":";
  const auto mapped = [&] { return GetFileAttributesW((drive + L"x").c_str()) != INVALID_FILE_ATTRIBUTES; };
  ASSERT_TRUE(tg::RunUnix(L"Z:\\bin\\ln", L"-s " + tg::UnixPath(root_) + L" " + link, mapped));
  const zel::TStampResult r = Stamp({root_ + L"\\gone.", drive}, kInstant, false);
  EXPECT_TRUE(tg::RunUnix(L"Z:\\bin\\rm", link, [&] { return !mapped(); }));
  EXPECT_EQ(Failed(r), (Failures{{root_ + L"\\gone.", R::NotFound}}));
  for (const std::wstring& f : all) ExpectStamped(f, kStored);
}

// A failure is recorded where the time would have been written, so with every folder held by
// "another program", the failures show the walk's order: listing order, each folder after its
// contents, the target last; every one of them, though files fail on several threads at
// once. Hidden and system files are stamped; read-only ones, links, and ones another program
// holds open (even letting others read and write them: a file is changed only while the batch
// alone has it open) not.
TEST_F(Stamping, FailuresInWalkOrderAndWhichFilesCanBeStamped) {
  const Paths folders = {Dir(L"tree"), Dir(L"tree\\x"), Dir(L"tree\\x\\y"), Dir(L"tree\\w")};
  std::vector<rtl::FileHandle> held;
  for (const std::wstring& d : folders) {
    File(d.substr(root_.size() + 1) + L"\\ro", FILE_ATTRIBUTE_READONLY);
    held.push_back(Hold(File(d.substr(root_.size() + 1) + L"\\locked"), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE));
  }
  const std::wstring hidden = File(L"tree\\x\\y\\hidden", FILE_ATTRIBUTE_HIDDEN),
                     system = File(L"tree\\system", FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(tg::MakeLink(folders[3] + L"\\link", File(L"elsewhere")));
  const std::map<std::wstring, R> reasons = {
      {L"ro", R::ReadOnly}, {L"locked", R::InUse}, {L"link", R::Link}};
  Failures expected;  // each folder held once listed
  std::function<void(const std::wstring&)> list = [&](const std::wstring& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.is_directory()) list(e.path());
      else if (const auto r = reasons.find(e.path().filename()); r != reasons.end())
        expected.emplace_back(e.path(), r->second);
    }
    expected.emplace_back(dir, R::InUse);
    held.push_back(Hold(dir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_DELETE));
  };
  list(folders[0]);

  zel::TBatchProgress progress;
  const zel::TStampResult r = Stamp({folders[0]}, kInstant, true, &progress);
  EXPECT_EQ((std::vector<std::size_t>{r.Failed, progress.Failed}),
            (std::vector<std::size_t>{expected.size(), expected.size()}));
  EXPECT_EQ(Failed(r), expected);
  EXPECT_EQ(r.Changed, 2u);
  for (const std::wstring& p : {hidden, system}) ExpectStamped(p, kStored);  // a held folder's too
  for (const wchar_t* p : {L"", L"\\x\\ro", L"\\x\\locked"}) ExpectUnchanged(folders[0] + p);
}

// Midway another program opens the folders on the walk's path for writing: the walk holds them
// open to others. Then a stop, as the progress window's button asks for it: what is left
// unfinished is left alone (the main window's tests count what a stop changed).
// (A folder held by another program as the walk comes in, and let go before its time is due, is
// opened again for writing then; Wine sets a folder's time through the walk's list-only handle
// as well, so that case cannot be told apart here and has no test.)
TEST_F(Stamping, TheWalksFoldersStayOpenToOthersAndAStopLeavesTheRestAlone) {
  const std::wstring tree = Dir(L"tree"), sub = Dir(L"tree\\sub");
  Paths files;
  for (int i = 0; i < 400; ++i) files.push_back(File(L"tree\\sub\\f" + std::to_wstring(i)));
  zel::TBatchProgress progress;
  bool opened = false;
  std::thread other([&] {
    while (progress.Changed < 10) SwitchToThread();
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    opened = Hold(tree, GENERIC_WRITE, all).valid() && Hold(sub, GENERIC_WRITE, all).valid();
    progress.Stop = true;
  });
  const zel::TStampResult r = Stamp({tree}, kInstant, true, &progress);
  progress.Changed = 10;  // should the batch have ended first
  other.join();
  EXPECT_TRUE(opened);
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Failed, 0u);
  EXPECT_LT(r.Changed, files.size());
  ExpectUnchanged(sub);
}

// Links met inside the tree (to a folder outside, to the tree itself, to a file) are not
// followed, nor is the target met again two levels down through a mount (bound here with mount
// --bind, as a mount point on Windows): the guard looks at every folder on the walk's path, not
// only the parent, so each is reported as a link once and the tree is walked once. A named link
// is followed.
TEST_F(Stamping, LinksAndMountsInsideTheTreeAreNotFollowedButANamedLinkIs) {
  const std::wstring tree = Dir(L"tree"), outside = Dir(L"outside"), file = File(L"tree\\file");
  const std::wstring other = File(L"outside\\other"), target = File(L"outside\\target");
  const std::wstring loop = tree + L"\\loop", away = tree + L"\\away", flink = tree + L"\\flink";
  if (!tg::MakeLink(loop, tree) || !tg::MakeLink(away, outside) || !tg::MakeLink(flink, target))
    GTEST_SKIP() << "links cannot be made here";
  Dir(L"tree\\a"), Dir(L"tree\\a\\b");
  const std::wstring back = Dir(L"tree\\a\\b\\back");
  const tg::Mount bound(L"--bind " + tg::UnixPath(tree), back, [&] {
    return GetFileAttributesW((back + L"\\file").c_str()) != INVALID_FILE_ATTRIBUTES;
  });
  if (!bound.mounted()) GTEST_SKIP() << "no folder can be mounted here";

  const zel::TStampResult r = Stamp({tree}, kInstant, false);
  ExpectStamped(file, kStored);
  for (const std::wstring& p : {other, target, outside}) ExpectUnchanged(p);
  Failures failed = Failed(r);
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (Failures{{back, R::Link}, {away, R::Link}, {flink, R::Link}, {loop, R::Link}}));
  EXPECT_EQ(r.Changed, 1u);
  Stamp({away}, kInstant, false);  // a named link is followed
  ExpectStamped(other, kStored);
}

// Past MAX_PATH, names outside code page 932, within Wine's ~4,000-byte Unix limit.
TEST_F(Stamping, ADeepTreeIsWalkedOnA64KiBStackAtAnyPathLength) {
  const int depth = 300;
  std::wstring relative = L"폴더_😀";
  Paths targets{Dir(relative)};  // the tree, then a file in it named
  for (int i = 0; i < depth; ++i) Dir(relative += L"\\d");
  const std::wstring deep = File(relative + L"\\файл_😀_한국.txt");
  const std::wstring readOnly = File(relative + L"\\ro", FILE_ATTRIBUTE_READONLY);
  targets.push_back(X(readOnly));  // listed, then named: neither with the \\?\ prefix
  zel::TStampResult r;
  rtl::TThread walker;
  ASSERT_TRUE(walker.Start([&] { r = Stamp(targets, kInstant, true); }, 64 * 1024));
  EXPECT_EQ(walker.Join(), nullptr);
  EXPECT_EQ(r.Changed, static_cast<size_t>(depth + 2));
  ExpectStamped(deep, kStored);
  ExpectFolderStamped(root_ + L"\\" + relative, kStored);
  EXPECT_EQ(Failed(r), (Failures{{readOnly, R::ReadOnly}, {readOnly, R::ReadOnly}}));
}

// An instant before 1601, and 1601-01-01 00:00 stored, the time 0, which SetFileTime reads as
// "leave as it is": never counted as a change it did not make.
TEST_F(Stamping, AnInstantBefore1601IsAFailureForEveryTargetNotAnException) {
  const std::wstring f = File(L"f");
  for (const std::optional<FILETIME> stored :
       {zel::StoredTime(Instant(1600, 12, 31, 23, 0, 0, 0), 0), std::optional(FILETIME{0, 0})}) {
    const zel::TStampResult r = Run({{root_}, stored, true, {}, {}});
    EXPECT_EQ(r.Changed, 0u);
    EXPECT_EQ(Failed(r), (Failures{{f, R::CannotSetTime}, {root_, R::CannotSetTime}}));
  }
}

// The pool grows while a step pays a tenth more files per second (as on a share, where the
// threads wait on the server), stops for good once one does not, however fast it goes later,
// and never passes 16.
TEST(PoolGrowth, GrowsWhileAStepPaysAndStopsForGoodOnceOneDoesNot) {
  const struct { unsigned threads; std::vector<double> rates; std::vector<unsigned> sizes; } rows[] = {
      {2, {300, 500, 545, 5000, 9000}, {4, 6, 6, 6, 6}}, {9, {1000, 2000, 4000}, {13, 16, 16}}};
  for (const auto& row : rows) {
    zel::TPoolGrowth growth;
    std::vector<unsigned> sizes;
    unsigned threads = row.threads;
    for (double rate : row.rates) sizes.push_back(threads = growth.After(threads, rate));
    EXPECT_EQ(sizes, row.sizes) << row.threads;
  }
}

}  // namespace

