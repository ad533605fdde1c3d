// tests/main_window_targets_test.cpp
// The main window's targets: shell-built drops and the "変更ファイル" button with the real file
// and folder pickers; times read back from disk.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main_window/form1.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

const rtl::TDateTime kInstant =
    rtl::ComposeDateTime(rtl::EncodeDate(2021, 7, 15), rtl::EncodeTime(10, 15, 31, 250));
const unsigned long long kNew = TicksOf(2021, 7, 15, 10, 15, 31, 250);
const unsigned long long kOld = TicksOf(2000, 1, 1, 0, 0, 0, 0);  // as SetOldTimes sets
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
  std::wstring inner = folder + L"\\inner.txt", deep = folder + L"\\下\\deep.txt";
  std::wstring dotFile = folder + L"\\.x", dotDir = folder + L"\\.y", dotInner = dotDir + L"\\in";
  std::wstring outer = dir / std::wstring(140, 'd'), empty = dir / L"空";
  std::wstring longDir = outer + L"\\" + std::wstring(140, 'e'), longFile = longDir + L"\\long.txt";
  Paths dirs{folder, dotDir, empty}, all{file,    foreign,  inner, deep, dotFile, dotInner,
                                         longFile, dir / L"bystander.txt"};
  Tree() {
    for (const std::wstring& d : {folder, folder + L"\\下", dotDir, empty, outer, longDir})
      MakeDir(rtl::ExtendedPath(d));
    for (const std::wstring& f : all) WriteFile(rtl::ExtendedPath(f));
    all.insert(all.end(), dirs.begin(), dirs.end());
  }
  void SetAllOld() {
    for (const std::wstring& p : all) SetOldTimes(rtl::ExtendedPath(p));
  }
  // The stamped paths at the instant (local), every other one still old.
  void ExpectStamped(const Paths& stamped) {
    for (const std::wstring& p : all) {
      const bool isNew = std::find(stamped.begin(), stamped.end(), p) != stamped.end();
      for (FILETIME ft : {CreationTime(rtl::ExtendedPath(p)), WriteTime(rtl::ExtendedPath(p))})
        EXPECT_EQ(isNew ? LocalTicks(ft) : Ticks(ft), isNew ? kNew : kOld) << p;
    }
  }
};

// The main window with the instant held fixed, in the given pick mode, with the folder option.
struct Window {
  zel::TForm1 form;
  Window(bool oneFileMode, bool folderOption, Paths params = {}) : form(std::move(params)) {
    form.Timer1.SetEnabled(false);
    form.ChosenDate = rtl::DateOf(kInstant);
    form.ChosenTime = rtl::TimeOf(kInstant);
    form.CheckBox1.SetChecked(folderOption);
    form.Edit1.SetText(kBefore);
    (oneFileMode ? form.RadioButton2 : form.RadioButton1).SetChecked(true);
  }
  // Drops the paths as the shell does; back here the batch has ended and been reported.
  void Drop(const Paths& paths) {
    const HGLOBAL drop = ShellDrop(paths);
    PostMessageW(form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    Pump(100);  // a posted drop is handled in here up to the batch's start, question and all
    PumpUntil([&] { return !form.BatchRunning(); });
    EXPECT_EQ(GlobalSize(drop), 0u);  // released however answered
  }
};

// A system dialog takes input only once initialised (~400 ms of driver ticks); then one action
// per tick, e.g. OK only after a selection has shown.
using Act = std::function<void(HWND)>;
Step Settled(std::vector<Act> acts) {
  auto tick = std::make_shared<size_t>(0);
  return [=](HWND box) {
    const size_t i = (*tick)++;
    if (i >= 8) acts[i - 8](box);
    return i + 1 >= 8 + acts.size();
  };
}
const Act kOk = [](HWND box) {
  PostMessageW(box, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
};
const Act kCancel = [](HWND box) { Answer(box, Key::Escape); };
Act Type(const std::wstring& name) {  // 0x47c: the file dialog's name field
  return [name](HWND box) { SetDlgItemTextW(box, 0x47c, name.c_str()); };
}
Act Select(const std::wstring& folder) {
  return [folder](HWND box) {
    SendMessageW(box, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
  };
}

}  // namespace

enum Route { kButton, kDrop, kCommandLine };

TEST(MainWindowTargets, DropsPickersAndTheCommandLineStampWhatTheyNameAndARefusalChangesNothing) {
  Tree t;  // under the temp folder on C:, where the folder picker can select it
  const std::wstring missing = t.dir / L"無い.txt";
  const Paths given{t.file, missing, t.folder, t.foreign, t.longDir};
  // Folders are walked at full length; their own times only with CheckBox1.
  const Paths walked{t.file, t.foreign, t.inner, t.deep, t.dotFile, t.dotInner, t.longFile};
  Paths walkedAndFolders = walked;
  walkedAndFolders.insert(walkedAndFolders.end(), {t.folder, t.dotDir});
  const std::wstring givenReport = Report(true, missing);
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
      {"drop, no", kDrop, false, false, Click(L"いいえ"), kBefore, L"", {}},
      {"drop, title-bar close", kDrop, true, false, Press(Key::TitleBarClose), kBefore, L"", {}},
      {"drop, Escape", kDrop, false, false, Press(Key::Escape), kBefore, L"", {}},
      {"command line, yes", kCommandLine, false, false, Press(Key::Enter), zel::kDroppedStatus,
       givenReport, walked},
      {"command line, folders too, yes", kCommandLine, false, true, Press(Key::Enter),
       zel::kDroppedStatus, givenReport, walkedAndFolders},
      {"command line, title-bar close", kCommandLine, false, true, Press(Key::TitleBarClose),
       kBefore, L"", {}},
      {"file typed", kButton, true, false, Settled({Type(t.foreign), kOk}), t.foreign,
       Report(true), {t.foreign}},
      {"missing file typed", kButton, true, true, Settled({Type(missing), kOk}), missing,
       Report(false, missing), {}},
      {"file dialog cancelled", kButton, true, false, Settled({kCancel}), kBefore, L"", {}},
      {"folder chosen", kButton, false, false, Settled({Select(t.folder), kOk}), t.folder,
       Report(true), {t.inner, t.deep, t.dotFile, t.dotInner}},
      {"folder chosen, folders too", kButton, false, true, Settled({Select(t.folder), kOk}),
       t.folder, Report(true), {t.inner, t.deep, t.dotFile, t.dotInner, t.folder, t.dotDir}},
      {"empty folder chosen", kButton, false, false, Settled({Select(t.empty), kOk}), t.empty,
       Report(true), {}},
      {"folder picker cancelled", kButton, false, false, Settled({kCancel}), kBefore, L"", {}}};
  wchar_t cwd[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    t.SetAllOld();
    Window w(c.oneFileMode, c.folderOption, c.route == kCommandLine ? given : Paths{});
    w.form.OpenDialog1.Title = L"別の題";  // the button sets its own each time
    ModalDriver driver({c.step, Press(Key::Enter)});
    if (c.route == kCommandLine) {
      w.form.RunCommandLineBatch();
    } else {
      w.form.Show();
      c.route == kDrop ? w.Drop(given) : w.form.Button1.Click();
      PumpUntil([&] { return !w.form.BatchRunning(); });  // ended and reported
    }
    ASSERT_FALSE(driver.seen.empty());
    EXPECT_EQ(driver.seen[0].owner, w.form.Handle());
    EXPECT_NE((driver.seen[0].caption + driver.seen[0].text)
                  .find(c.route != kButton ? zel::kAskToStamp
                        : c.oneFileMode    ? L"１ファイルのみ変更します、選んで下さい。"
                                           : L"ディレクトリを選んで下さい"),
              std::wstring::npos);
    EXPECT_EQ(driver.seen.size() > 1 ? driver.seen[1].text : L"", c.report);
    EXPECT_EQ(w.form.Edit1.Text(), c.edit);  // for a picker the full path, not a display name
    t.ExpectStamped(c.stamped);
  }
  EXPECT_FALSE(rtl::FileExists(missing));
  GetCurrentDirectoryW(MAX_PATH, after);
  EXPECT_STREQ(after, cwd);  // the file dialog left it alone
}

TEST(MainWindowTargets, ASecondBatchReportsOnlyItsOwnFailures) {
  Tree t;
  t.SetAllOld();
  Window w(false, false);
  w.form.Show();
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter), Press(Key::Enter), Press(Key::Enter)});
  w.Drop({t.file, t.dir / L"無い.txt"});
  w.Drop({t.foreign});
  ASSERT_EQ(driver.seen.size(), 4u);
  EXPECT_EQ(driver.seen[1].text, Report(true, t.dir / L"無い.txt"));
  EXPECT_EQ(driver.seen[3].text, Report(true));
}
