// tests/main_window_targets_test.cpp
// The main window's targets: shell-built drops, the command line and the "変更ファイル" button
// with the real file and folder pickers; times read back from disk.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "main_window/form1.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

const rtl::TDateTime kInstant =
    rtl::ComposeDateTime(rtl::EncodeDate(2021, 7, 15), rtl::EncodeTime(10, 15, 31, 250));
const wchar_t kBefore[] = L"前の値";  // Edit1 before each case
using Paths = std::vector<std::wstring>;

std::wstring Report(bool anyChanged, const std::wstring& failed = L"") {
  return rtl::DateTimeToStr(kInstant) + (anyChanged ? L"に変更しました" : L"に変更できませんでした") +
         (failed.empty() ? L"" : L"\r\n\r\n変更できなかったもの：1件\r\n" + failed + L"（見つかりません）");
}

// Files and folders at the old time, one name outside code page 932, one path past MAX_PATH,
// two-character names that start with a dot, an empty folder.
struct Tree {
  TempDir dir;
  std::wstring file = dir / L"a.txt", foreign = dir / L"한글 ñ.txt", folder = dir / L"フォルダ";
  std::wstring inner = folder + L"\\inner.txt", dotFile = folder + L"\\.x", dotDir = folder + L"\\.y";
  std::wstring longDir = dir / std::wstring(250, 'e'), longFile = longDir + L"\\long.txt";
  std::wstring empty = dir / L"空", missing = dir / L"無い.txt";
  Paths all{file, foreign, inner, dotFile, longFile, dir / L"bystander.txt"};
  Tree() {
    for (const std::wstring& d : {folder, dotDir, empty, longDir}) MakeDir(rtl::ExtendedPath(d));
    for (const std::wstring& f : all) WriteFile(rtl::ExtendedPath(f));
    all.insert(all.end(), {folder, dotDir, empty});
    for (const std::wstring& p : all) SetOldTimes(rtl::ExtendedPath(p));
  }
  // Each path at the instant (local) if stamped, else still at the old time.
  void Expect(const Paths& stamped) {
    for (const std::wstring& p : all) {
      const bool isNew = std::find(stamped.begin(), stamped.end(), p) != stamped.end();
      for (FILETIME ft : {CreationTime(rtl::ExtendedPath(p)), WriteTime(rtl::ExtendedPath(p))})
        EXPECT_EQ(isNew ? LocalTicks(ft) : Ticks(ft),
                  isNew ? TicksOf(2021, 7, 15, 10, 15, 31, 250) : TicksOf(2000, 1, 1, 0, 0, 0, 0))
            << p;
      SetOldTimes(rtl::ExtendedPath(p));
    }
  }
};

// The main window with the instant held fixed, shown unless it runs a command line.
struct Window : zel::TForm1 {
  Window(bool oneFileMode, bool folderOption, Paths params = {}) : TForm1(params) {
    Timer1.SetEnabled(false);
    ChosenDate = rtl::DateOf(kInstant);
    ChosenTime = rtl::TimeOf(kInstant);
    CheckBox1.SetChecked(folderOption);
    Edit1.SetText(kBefore);
    (oneFileMode ? RadioButton2 : RadioButton1).SetChecked(true);
    if (params.empty()) Show();
  }
  // Drops the paths as the shell does; back here the batch has ended and been reported.
  void Drop(const Paths& paths) {
    const HGLOBAL drop = ShellDrop(paths);
    PostMessageW(Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    Pump(100);  // a posted drop is handled in here up to the batch's start, question and all
    PumpUntil([&] { return !BatchRunning(); });
    EXPECT_EQ(GlobalSize(drop), 0u);  // released however answered
  }
};

// A system dialog takes input only once initialised (~400 ms of driver ticks); then one action
// per tick, e.g. OK only after a selection has shown. No action: cancelled.
Step Settled(std::function<void(HWND)> act) {
  auto tick = std::make_shared<int>(0);
  return [=](HWND box) {
    if (++*tick == 8) act ? act(box) : Answer(box, Key::Escape);
    if (*tick == 9) PostMessageW(box, WM_COMMAND, IDOK, LPARAM(GetDlgItem(box, IDOK)));
    return *tick == 9 || (*tick == 8 && !act);
  };
}
Step Type(const std::wstring& name) {  // 0x47c: the file dialog's name field
  return Settled([name](HWND box) { SetDlgItemTextW(box, 0x47c, name.c_str()); });
}
Step Select(const std::wstring& folder) {
  return Settled([folder](HWND box) {
    SendMessageW(box, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
  });
}

}  // namespace

enum Route { kButton, kDrop, kCommandLine };

TEST(MainWindowTargets, DropsPickersAndTheCommandLineStampWhatTheyNameAndARefusalChangesNothing) {
  Tree t;  // under the temp folder on C:, where the folder picker can select it
  const Paths given{t.file, t.missing, t.folder, t.foreign, t.longDir};
  // Folders are walked at full length; their own times only with CheckBox1.
  const Paths walked{t.file, t.foreign, t.inner, t.dotFile, t.longFile};
  Paths walkedAndFolders = walked;
  walkedAndFolders.insert(walkedAndFolders.end(), {t.folder, t.dotDir});
  const std::wstring givenReport = Report(true, t.missing);
  const struct {
    const char* what;
    Route route;
    bool oneFileMode, folderOption;
    Step step;
    std::wstring edit, report;  // no report: nothing shown
    Paths stamped;
  } cases[] = {
      {"drop, yes", kDrop, false, false, Press(Key::Enter), zel::kDroppedStatus, givenReport, walked},
      {"drop in 1ファイル, folders too, yes", kDrop, true, true, Press(Key::Enter),
       zel::kDroppedStatus, givenReport, walkedAndFolders},
      {"drop, no", kDrop, false, false, Press(Key::Escape), kBefore, L"", {}},
      {"command line, folders too, yes", kCommandLine, false, true, Press(Key::Enter),
       zel::kDroppedStatus, givenReport, walkedAndFolders},
      {"command line, no", kCommandLine, false, true, Press(Key::TitleBarClose), kBefore, L"", {}},
      {"file typed", kButton, true, false, Type(t.foreign), t.foreign, Report(true), {t.foreign}},
      {"missing file typed", kButton, true, true, Type(t.missing), t.missing,
       Report(false, t.missing), {}},
      {"file dialog cancelled", kButton, true, false, Settled(nullptr), kBefore, L"", {}},
      {"folder chosen, folders too", kButton, false, true, Select(t.folder), t.folder,
       Report(true), {t.inner, t.dotFile, t.folder, t.dotDir}},
      {"empty folder chosen", kButton, false, false, Select(t.empty), t.empty, Report(true), {}},
      {"folder picker cancelled", kButton, false, false, Settled(nullptr), kBefore, L"", {}}};
  wchar_t cwd[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Window w(c.oneFileMode, c.folderOption, c.route == kCommandLine ? given : Paths{});
    w.OpenDialog1.Title = L"別の題";  // the button sets its own each time
    ModalDriver driver({c.step, Press(Key::Enter)});
    if (c.route == kCommandLine) w.RunCommandLineBatch();
    if (c.route == kDrop) w.Drop(given);
    if (c.route == kButton) w.Button1.Click();
    PumpUntil([&] { return !w.BatchRunning(); });  // ended and reported
    ASSERT_FALSE(driver.seen.empty());
    EXPECT_EQ(driver.seen[0].owner, w.Handle());
    EXPECT_NE((driver.seen[0].caption + driver.seen[0].text)
                  .find(c.route != kButton ? zel::kAskToStamp
                        : c.oneFileMode    ? L"１ファイルのみ変更します、選んで下さい。"
                                           : L"ディレクトリを選んで下さい"),
              std::wstring::npos);
    EXPECT_EQ(driver.seen.size() > 1 ? driver.seen[1].text : L"", c.report);
    EXPECT_EQ(w.Edit1.Text(), c.edit);  // for a picker the full path, not a display name
    t.Expect(c.stamped);
  }
  EXPECT_FALSE(rtl::FileExists(t.missing));
  GetCurrentDirectoryW(MAX_PATH, after);
  EXPECT_STREQ(after, cwd);  // the file dialog left it alone
}

TEST(MainWindowTargets, ASecondBatchReportsOnlyItsOwnFailures) {
  Tree t;
  Window w(false, false);
  ModalDriver driver(std::vector<Step>(4, Press(Key::Enter)));
  w.Drop({t.file, t.missing});
  w.Drop({t.foreign});
  ASSERT_EQ(driver.seen.size(), 4u);
  EXPECT_EQ(driver.seen[1].text, Report(true, t.missing));
  EXPECT_EQ(driver.seen[3].text, Report(true));
}
