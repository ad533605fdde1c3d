// tests/journal_test.cpp
// The undo journal: real batches stamped with their journal, then undone; times read back.
#include "stamping/journal.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "support/files.h"

namespace {

namespace tg = testfiles;
using Paths = std::vector<std::wstring>;
using Times = std::vector<unsigned long long>;

class Journal : public testing::Test {
 protected:
  void SetUp() override { SetEnvironmentVariableW(L"LOCALAPPDATA", appData_.path().c_str()); }

  // One batch with its journal, as the main window runs it.
  zel::TStampResult Batch(const Paths& targets) {
    zel::TBatch b;
    b.Targets = targets;
    b.Stored = zel::StoredTime(rtl::EncodeDate(2021, 7, 15) + 0.25, 0);
    b.FolderOption = true;
    b.Journal = zel::JournalFile();
    b.InstantText = L"2021/07/15 6:00:00";
    stored_ = tg::Ticks(*b.Stored);
    zel::TBatchProgress progress;
    return zel::RunBatch(b, progress);
  }
  static zel::TStampResult Undo() {
    zel::TBatchProgress progress;
    return zel::TUndo(zel::JournalFile()).Run(progress);
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
  // The subfolder named again: its entries come twice, the second time with the batch's time.
  Batch({dir_.path(), dir_ / L"sub"});
  for (const std::wstring& p : all) EXPECT_TRUE(Stamped(p)) << p;
  tg::SetLocalTimes(all[5], 2022, 2, 2, 2, 2, 2, 2);  // another writer
  before.push_back(tg::Times(all[5], 2));
  ASSERT_TRUE(DeleteFileW(all[6].c_str()));  // which moves the folder's time too
  const std::wstring text = zel::UndoReportText(Undo());
  EXPECT_EQ(text.find(L"元に戻しました\r\n元に戻したもの：8件\r\n\r\n変更できなかったもの：3件"), 0u)
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
  const std::wstring tail = L"元に戻せません。何も変更していません。\r\n" + journal,
                     damaged = L"変更の記録が壊れているため" + tail;
  const std::pair<std::string, std::wstring> rows[] = {  // the sound one last: it is undone
      {good.substr(0, good.size() - 4), damaged}, {open, damaged}, {edited, damaged},
      {"Zelvoran undo journal 2" + good.substr(23), L"変更の記録がこの版では読めない形式のため" + tail},
      {open.replace(open.find("done"), 4, "open"), L""}};  // a batch cut short, as by a kill
  for (const auto& [text, message] : rows) {
    SCOPED_TRACE(text);
    tg::WriteFile(journal, text);
    zel::TUndo undo(journal);
    EXPECT_EQ(undo.Error, message);
    zel::TBatchProgress progress;
    undo.Run(progress);
    for (const std::wstring& f : files) EXPECT_EQ(Stamped(f), !message.empty()) << f;
  }
}
