// tests/journal_test.cpp
// The undo journal: real batches stamped with their journal, then undone; times read back.
#include "stamping/journal.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <process.h>
#include <thread>

#include "rtl/files_win.h"
#include "stamping/runner.h"
#include "support/files.h"

namespace {

namespace tg = testfiles;
using Paths = std::vector<std::wstring>;
using Times = std::vector<unsigned long long>;

const rtl::TDateTime kInstant = rtl::EncodeDate(2021, 7, 15) + 0.25;

class Journal : public testing::Test {
 protected:
  void SetUp() override { SetEnvironmentVariableW(L"LOCALAPPDATA", appData_.path().c_str()); }

  // One batch with its journal, as the main window asks for it.
  zel::TBatch Request(const Paths& targets, rtl::TDateTime instant = kInstant) {
    zel::TBatch b{targets, zel::StoredTime(instant, 0), true, zel::JournalFile(), L"2021/07/15 6:00:00"};
    stored_ = tg::Ticks(*b.Stored);
    return b;
  }
  zel::TStampResult Batch(const Paths& targets, rtl::TDateTime instant = kInstant) {
    zel::TBatchProgress progress;
    return zel::RunBatch(Request(targets, instant), progress);
  }
  static zel::TStampResult Undo(zel::TUndo&& undo = zel::TUndo(zel::JournalFile())) {
    zel::TBatchProgress progress;
    return undo.Run(progress);
  }
  Paths Files(Paths names) {  // a folder named here is left as it is
    for (std::wstring& n : names)
      if (GetFileAttributesW((n = dir_ / n).c_str()) == INVALID_FILE_ATTRIBUTES) tg::WriteFile(n);
    return names;
  }
  bool Stamped(const std::wstring& path) const { return tg::Times(path)[1] == stored_; }

  tg::TempDir appData_, dir_;
  unsigned long long stored_ = 0;
};

}  // namespace

TEST_F(Journal, UndoPutsBackExactlyTheTimesThatStillCarryTheBatchTime) {
  for (const wchar_t* d : {L"sub", L"empty"}) tg::MakeDir(dir_ / d);
  const Paths all = Files({L"old.txt", L"sub\\fine.txt", L"sub\\한 ñ.txt", L"sub", L"empty",
                           L"touched.txt", L"gone.txt"});
  // From before 1980 on, with milliseconds; folders set once their contents exist. Creation and
  // modification time: Wine reports the latter as both, Windows keeps both.
  std::vector<Times> before;
  for (int i = 0; i < 5; ++i) {
    tg::SetLocalTimes(all[i], 1975 + 9 * i, 12 - i, 31 - i, 23 - i, 59 - i, 58 - i, 999 - i);
    before.push_back(tg::Times(all[i], 2));
  }
  // The subfolder named again: its entries come twice, the second time with the batch's time,
  // which the undo finds already back once it reaches them: five things put back, not eight.
  Batch({dir_.path(), dir_ / L"sub"});
  for (const std::wstring& p : all) EXPECT_TRUE(Stamped(p)) << p;
  // Another writer, a second later: only FAT's rounding would take that for the batch's time.
  tg::SetLocalTimes(all[5], 2021, 7, 15, 6, 0, 1, 0);
  before.push_back(tg::Times(all[5], 2));
  ASSERT_TRUE(DeleteFileW(all[6].c_str()));  // which moves the folder's time too
  const std::wstring text = zel::UndoReportText(Undo());
  EXPECT_EQ(text.find(L"元に戻しました\r\n元に戻したもの：5件\r\n\r\n変更できなかったもの：3件"), 0u)
      << text;
  const std::wstring since = L"（その後変更されています）";
  for (const std::wstring& line : {all[6] + L"（見つかりません）", all[5] + since, dir_.path() + since})
    EXPECT_NE((text + L"\r\n").find(L"\r\n" + line + L"\r\n"), std::wstring::npos) << line;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tg::Times(all[i], 2), before[i]) << all[i];
  EXPECT_EQ(zel::TUndo(zel::JournalFile()).State, zel::TUndo::Nothing);  // a fresh reader
}

TEST_F(Journal, DamagedJournalIsNamedAndChangesNothing) {
  const Paths files = Files({L"a.txt", L"b.txt"});
  Batch({dir_.path()});
  const std::wstring journal = zel::JournalFile();
  const std::string good{
      std::istreambuf_iterator<char>(std::ifstream(journal.c_str(), std::ios::binary).rdbuf()), {}};
  std::string edited = good, open = good.substr(0, good.rfind("\r\n", good.size() - 3) + 2);
  edited[good.find(" E\t") + 3] ^= 1;
  // Each line's check value covers the lines before it: an entry removed from a journal cut
  // short (no trailer counts them), or two entries swapped.
  const std::size_t e1 = good.find(" E\t") - 8, e2 = good.find("\r\n", e1) + 2,
                    e3 = good.find("\r\n", e2) + 2;
  std::string removed = open.substr(0, e1) + open.substr(e2), swapped = good;
  swapped.replace(e1, e3 - e1, good.substr(e2, e3 - e2) + good.substr(e1, e2 - e1));
  removed.replace(removed.find("done"), 4, "open");
  const std::wstring tail = L"元に戻せません。何も変更していません。\r\n" + journal,
                     damaged = L"変更の記録が壊れているため" + tail;
  const std::pair<std::string, std::wstring> rows[] = {  // the sound one last: it is undone
      {good.substr(0, good.size() - 4), damaged}, {open, damaged}, {edited, damaged},
      {removed, damaged}, {swapped, damaged},
      {"Zelvoran undo journal 2" + good.substr(23), L"変更の記録がこの版では読めない形式のため" + tail},
      {open.replace(open.find("done"), 4, "open"), L""}};  // a batch cut short, as by a kill
  for (const auto& [text, message] : rows) {
    SCOPED_TRACE(text);
    tg::WriteFile(journal, text);
    zel::TUndo undo(journal);
    EXPECT_EQ(undo.Error, message);
    Undo(std::move(undo));
    for (const std::wstring& f : files) EXPECT_EQ(Stamped(f), !message.empty()) << f;
  }
}

// Only what a batch changed is journalled: the files it refused (read-only, held open by another
// program, a link) are neither counted by the undo nor listed in its report; and a batch that
// changes nothing leaves the journal of the one before. An undo in which every entry then
// fails says it could not, not that it put back none.
TEST_F(Journal, TheUndoHoldsOnlyWhatTheBatchChanged) {
  const Paths files = Files({L"a.txt", L"ro.txt", L"held.txt"});
  SetFileAttributesW(files[1].c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(tg::MakeLink(dir_ / L"link", files[0]));
  const HANDLE held = CreateFileW(files[2].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const zel::TStampResult r = Batch({dir_.path()});
  CloseHandle(held);
  ASSERT_EQ((std::vector<std::size_t>{r.Changed, r.Failed}), (std::vector<std::size_t>{2, 3}));
  ASSERT_EQ(Batch({files[1]}).Failed, 1u);
  zel::TUndo undo(zel::JournalFile());
  EXPECT_EQ(undo.Count, r.Changed);
  for (const std::wstring& p : {files[0], dir_.path()}) tg::SetOldTimes(p);  // changed since
  const std::wstring since = L"（その後変更されています）";
  EXPECT_EQ(zel::UndoReportText(Undo(std::move(undo))),
            L"元に戻せませんでした\r\n\r\n変更できなかったもの：2件\r\n" + dir_.path() + since +
                L"\r\n" + files[0] + since);
}

namespace {
// While set, only this thread gets memory: every other one runs out, as a worker may.
std::atomic<DWORD> gFedThread{0};
}  // namespace

void* operator new(std::size_t n) {
  const DWORD fed = gFedThread.load();
  if (fed != 0 && GetCurrentThreadId() != fed) throw std::bad_alloc();
  if (void* p = std::malloc(n != 0 ? n : 1)) return p;
  throw std::bad_alloc();
}

// A worker that fails (here out of memory) still announces its end, so the window waiting for
// it leaves its batch state, and Finish carries the failure home. A stop belongs to the work it
// was asked of: the runner's next batch, and an undo after a stop pressed as a batch ended, run
// whole.
TEST_F(Journal, ARunnerEndsWhatFailsAndDoesItsNextWorkWhole) {
  Files({L"a.txt", L"b.txt"});
  zel::TBatchRunner runner;
  const rtl::FileHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  zel::TBatch batch = Request({dir_.path()});
  gFedThread = GetCurrentThreadId();
  runner.Start(std::move(batch), [&ended] { SetEvent(ended.get()); });
  const DWORD announced = WaitForSingleObject(ended.get(), 10000);
  gFedThread = 0;
  EXPECT_EQ(announced, WAIT_OBJECT_0);
  EXPECT_TRUE(runner.Finish().Error);
  runner.Start(Request({dir_.path()}), nullptr);
  runner.Stop();
  runner.Finish();
  runner.Start(Request({dir_.path()}), nullptr);
  const zel::TStampResult stamped = runner.Finish().Result;
  runner.Stop();
  runner.Start(std::make_unique<zel::TUndo>(zel::JournalFile()), nullptr);
  const zel::TStampResult undo = runner.Finish().Result;
  EXPECT_EQ((std::vector<std::size_t>{stamped.Stopped, stamped.Changed, undo.Stopped, undo.Changed}),
            (std::vector<std::size_t>{false, 3, false, 3}));
}

namespace {

// The files of dir_ at the batch's time, and at their old time.
struct Census {
  std::size_t stamped = 0, old = 0;
};

class JournalTree : public Journal {
 protected:
  static constexpr int kFiles = 3000;
  void SetUp() override {
    Journal::SetUp();
    for (int i = 0; i < kFiles; ++i) {
      files_.push_back(dir_ / (L"f" + std::to_wstring(i)));
      tg::SetOldTimes(files_.back());
    }
  }
  Census Count() const {
    Census c;
    for (const std::wstring& f : files_) {
      const Times t = tg::Times(f, 2);
      c.stamped += t == Times{stored_, stored_};
      c.old += t == Times{tg::kOld, tg::kOld};
    }
    return c;
  }
  Paths files_;
};

}  // namespace

// Named by the 32-bit program as C:\Windows\System32\<file> (the prefix is 64-bit here), each
// is stamped and put back itself; the SysWOW64 twins are never touched.
TEST_F(Journal, System32FilesAreStampedAndPutBackThemselvesNotTheirTwins) {
  const std::wstring name = L"\\zel_undo_" + std::to_wstring(GetCurrentProcessId());
  Paths named, native, twins;
  for (const wchar_t* n : {L"_a", L"_b"}) {
    named.push_back(L"C:\\windows\\system32" + name + n);
    native.push_back(L"C:\\windows\\sysnative" + name + n);
    twins.push_back(L"C:\\windows\\syswow64" + name + n);
    // A 64-bit build (where no 32-bit program runs) sees System32 itself and has no alias.
    if (sizeof(void*) == 8) native.back() = named.back();
    for (const std::wstring& p : {native.back(), twins.back()}) tg::SetOldTimes(p);
  }
  const Times old = tg::Times(twins[0]);
  Batch(named);
  for (std::size_t i = 0; i < named.size(); ++i) {
    EXPECT_TRUE(Stamped(native[i])) << native[i];
    EXPECT_EQ(tg::Times(twins[i]), old) << twins[i];
    if (sizeof(void*) == 4) {
      EXPECT_EQ(tg::Times(named[i]), old) << "this thread is redirected again";
    }
  }
  EXPECT_EQ(zel::UndoReportText(Undo()), L"元に戻しました\r\n元に戻したもの：2件");
  for (const std::wstring& p : native) EXPECT_EQ(tg::Times(p, 2), Times(old.begin(), old.begin() + 2)) << p;
  for (const std::wstring& p : twins) EXPECT_EQ(tg::Times(p), old) << p;
  for (const Paths& ps : {native, twins})
    for (const std::wstring& p : ps) DeleteFileW(p.c_str());
}

// A stop midway, as the progress window's button asks: the report says so and counts what came
// back; the next undo asks about the rest alone and puts every one of them back.
TEST_F(JournalTree, AStoppedUndoSaysSoAndTheNextPutsBackTheRest) {
  Batch({dir_.path()});
  ASSERT_EQ(Count().stamped, files_.size());
  zel::TBatchProgress progress;
  std::thread stopper([&] {
    while (progress.Changed < 50) SwitchToThread();
    progress.Stop = true;
  });
  const zel::TStampResult r = zel::TUndo(zel::JournalFile()).Run(progress);
  progress.Changed = 50;  // should the undo have ended first
  stopper.join();
  ASSERT_TRUE(r.Stopped);
  const Census mid = Count();
  const std::size_t back = r.Changed - 1;  // the folder's own entry comes first
  EXPECT_EQ(mid.old, back);
  EXPECT_EQ(mid.old + mid.stamped, files_.size());
  EXPECT_EQ(zel::UndoReportText(r), L"元に戻すのを中止しました\r\n元に戻したもの：" +
                                        std::to_wstring(r.Changed) +
                                        L"件\r\n\r\n残りは「直前の変更を元に戻す」で元に戻せます");
  zel::TUndo next(zel::JournalFile());
  EXPECT_EQ(next.Count, files_.size() - back);
  EXPECT_EQ(zel::UndoReportText(Undo(std::move(next))),
            L"元に戻しました\r\n元に戻したもの：" + std::to_wstring(mid.stamped) + L"件");
  EXPECT_EQ(Count().old, files_.size());
}

// A journal that fills its disk midway is removed, so no undo puts back a part of the batch.
TEST_F(JournalTree, AJournalThatCouldNotBeKeptLeavesNothingToUndo) {
  const std::wstring under = appData_ / L"under";
  tg::WriteFile(under);  // hidden while the small disk is mounted over it
  const tg::Mount small(L"-t tmpfs -o size=16k zel", appData_.path(), [&] {
    return GetFileAttributesW(under.c_str()) == INVALID_FILE_ATTRIBUTES;
  });
  if (!small.mounted()) GTEST_SKIP() << "no disk can be mounted here";
  const zel::TStampResult r = Batch({dir_.path()});
  EXPECT_TRUE(r.JournalLost);
  EXPECT_EQ(zel::TUndo(zel::JournalFile()).State, zel::TUndo::Nothing);
}

// A batch ended hard partway (its process killed, as by the task manager or a crash): every file
// it changed is put back by an undo from a new process, to the 100 ns.
TEST_F(JournalTree, ABatchKilledPartwayIsUndoneToTheLastFile) {
  stored_ = tg::Ticks(*zel::StoredTime(kInstant, 0));
  // The file the batch changes first: the first its folder lists.
  const std::wstring first = std::filesystem::directory_iterator(dir_.path())->path();
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    SetEnvironmentVariableW(L"ZEL_CHILD_BATCH", dir_.path().c_str());
    SetEnvironmentVariableW(L"ZEL_CHILD_JOURNAL", zel::JournalFile().c_str());
    const auto child = reinterpret_cast<HANDLE>(
        _wspawnl(_P_NOWAIT, rtl::ExeName().c_str(), L"child", L"--gtest_filter=JournalChild.*", nullptr));
    ASSERT_NE(child, INVALID_HANDLE_VALUE);
    SetEnvironmentVariableW(L"ZEL_CHILD_BATCH", nullptr);
    // Killed as soon as the first file is changed, when an entry written after its change
    // would most likely still be missing (three times over); then further in.
    const unsigned long long killAt = 100000;
    WIN32_FILE_ATTRIBUTE_DATA d{};
    while (WaitForSingleObject(child, 0) == WAIT_TIMEOUT &&
           (round < 3 ? tg::Times(first, 2)[1] != stored_
                       : !GetFileAttributesExW(zel::JournalFile().c_str(), GetFileExInfoStandard,
                                               &d) || d.nFileSizeLow < killAt))
      SwitchToThread();
    TerminateProcess(child, 9);
    WaitForSingleObject(child, INFINITE);
    CloseHandle(child);
    const Census killed = Count();
    EXPECT_GT(killed.stamped, 0u);
    EXPECT_LT(killed.stamped, files_.size()) << "ended before the kill";
    const std::wstring report = zel::UndoReportText(Undo());
    EXPECT_EQ(Count().old, files_.size()) << report;
  }
}

// The batch the test above kills, in a process of its own.
TEST(JournalChild, RunsABatchForTheKillTest) {
  wchar_t tree[MAX_PATH] = L"", journal[MAX_PATH] = L"";
  if (GetEnvironmentVariableW(L"ZEL_CHILD_BATCH", tree, MAX_PATH) == 0) GTEST_SKIP();
  GetEnvironmentVariableW(L"ZEL_CHILD_JOURNAL", journal, MAX_PATH);
  zel::TBatchProgress progress;
  zel::RunBatch({{tree}, zel::StoredTime(kInstant, 0), false, journal, {}}, progress);
}

// One file under many names (hard links, as backup trees and package stores make) among
// others, and a link named as a target: every name is stamped, none reported in use, and the
// undo puts back the times the files had, not the links' own or a time the batch itself wrote
// through another name.
TEST_F(Journal, HardLinksAndLinkedTargetsAreUndoneAsTheyWere) {
  tg::MakeDir(dir_ / L"t");
  const std::wstring file = dir_ / L"t\\file", outer = appData_ / L"outer", link = dir_ / L"link";
  Paths others;
  for (int i = 0; i < 100; ++i) {
    others.push_back(dir_ / (L"t\\o" + std::to_wstring(i)));
    tg::SetLocalTimes(others.back(), 1999, 1, 1, 0, 0, 0, i);
  }
  tg::SetLocalTimes(file, 1990, 5, 6, 7, 8, 9, 123);
  tg::SetLocalTimes(outer, 1980, 2, 3, 4, 5, 6, 789);
  const Times fileBefore = tg::Times(file, 2), outerBefore = tg::Times(outer, 2);
  const std::wstring names = L"-c \"cd " + tg::UnixPath(dir_ / L"t") +
                             L" && for i in $(seq 60); do ln file n$i; done\"";
  ASSERT_TRUE(tg::RunUnix(L"Z:\\bin\\sh", names, [&] {
    return GetFileAttributesW((dir_ / L"t\\n60").c_str()) != INVALID_FILE_ATTRIBUTES;
  }));
  ASSERT_TRUE(tg::MakeLink(link, outer));
  const zel::TStampResult r = Batch({dir_ / L"t", link});
  EXPECT_EQ(r.Failed, 0u) << zel::FailureListText(r);
  EXPECT_EQ(r.Changed, 100u + 61 + 1 + 1);
  for (const std::wstring& p : {file, outer, others[0]}) EXPECT_TRUE(Stamped(p)) << p;
  // The others, the file once, the folder, the linked file.
  EXPECT_EQ(zel::UndoReportText(Undo()), L"元に戻しました\r\n元に戻したもの：103件");
  EXPECT_EQ(tg::Times(file, 2), fileBefore);
  EXPECT_EQ(tg::Times(outer, 2), outerBefore);
  for (const std::wstring& p : {others[0], others[99]}) EXPECT_FALSE(Stamped(p)) << p;
  DeleteFileW(link.c_str());
}

// Shares that keep a modification time to two seconds though they call themselves NTFS (as
// many NAS do), or keep none while saying they did: simulated by FUSE. The undo recognises the
// time the disk kept; a time not kept is reported, not counted.
TEST_F(Journal, OnSharesThatRoundOrDropTimesTheRecordIsWhatTheDiskKept) {
  wchar_t source[MAX_PATH] = L"";
  if (GetEnvironmentVariableW(L"ZEL_SOURCE", source, MAX_PATH) == 0) GTEST_SKIP();
  for (const wchar_t* keep : {L"2s", L"none"}) {
    SCOPED_TRACE(keep);
    tg::TempDir backing, where;
    const std::wstring share = where / L"share", sub = share + L"\\d";
    tg::MakeDir(share);
    tg::MakeDir(backing / L"d");
    const auto mounted = [&] { return GetFileAttributesW(sub.c_str()) != INVALID_FILE_ATTRIBUTES; };
    if (!tg::RunUnix(L"Z:\\usr\\bin\\python3",
                     std::wstring(source) + L"/bench/latency_fs.py --delay 0 --keep-times " + keep +
                         L" " + tg::UnixPath(backing.path()) + L" " + tg::UnixPath(share),
                     mounted))
      GTEST_SKIP() << "no FUSE here";
    Paths files;
    std::vector<Times> before;
    for (int i = 0; i < 12; ++i) {
      files.push_back(sub + L"\\f" + std::to_wstring(i));
      tg::SetLocalTimes(files.back(), 2001, 2, 3, 4, 5, 7, i);
      before.push_back(tg::Times(files.back(), 2));
    }
    const zel::TStampResult r = Batch({sub}, kInstant + 7.25 / 86400);
    const bool kept = std::wstring(keep) == L"2s";
    EXPECT_EQ((std::vector<std::size_t>{r.Changed, r.Failed}),
              (std::vector<std::size_t>{kept ? 13u : 0u, kept ? 0u : 13u}));
    const std::wstring notKept = files[0] + L"（日付が保存されませんでした）";
    EXPECT_EQ(zel::FailureListText(r).find(notKept) != std::wstring::npos, !kept) << zel::FailureListText(r);
    EXPECT_EQ(zel::UndoReportText(Undo()),
              std::wstring(L"元に戻しました\r\n元に戻したもの：") + (kept ? L"13" : L"0") + L"件");
    for (int i = 0; i < 12; ++i) EXPECT_EQ(tg::Times(files[i], 2), before[i]) << files[i];
    EXPECT_TRUE(tg::RunUnix(L"Z:\\bin\\fusermount3", L"-u " + tg::UnixPath(share),
                            [&] { return !mounted(); }));
  }
}
