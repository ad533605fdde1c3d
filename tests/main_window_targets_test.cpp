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

// Files and folders at the old time, one name outside code page 932, one path past MAX_PATH.
struct Tree {
  TempDir dir;
  std::wstring file = dir / L"a.txt", foreign = dir / L"한글 ñ.txt", folder = dir / L"フォルダ";
  std::wstring inner = folder + L"\\inner.txt", deep = folder + L"\\下\\deep.txt";
  std::wstring outer = dir / std::wstring(140, 'd');
  std::wstring longDir = outer + L"\\" + std::wstring(140, 'e'), longFile = longDir + L"\\long.txt";
  Paths all{file, foreign, inner, deep, dir / L"bystander.txt", longFile, folder};
  Tree() {
    for (const std::wstring& d : {folder, folder + L"\\下", outer, longDir})
      MakeDir(rtl::ExtendedPath(d));
    for (const std::wstring& f : all) WriteFile(rtl::ExtendedPath(f));
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

// The main window with the instant held fixed, in the given pick mode.
struct Window {
  zel::TForm1 form{Paths{}};
  explicit Window(bool oneFileMode) {
    form.Timer1.SetEnabled(false);
    form.ChosenDate = rtl::DateOf(kInstant);
    form.ChosenTime = rtl::TimeOf(kInstant);
    form.CheckBox1.SetChecked(false);
    form.Show();
    form.Edit1.SetText(kBefore);
    (oneFileMode ? form.RadioButton2 : form.RadioButton1).SetChecked(true);
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

TEST(MainWindowTargets, DropsAndPickersStampWhatTheyNameAndARefusalChangesNothing) {
  Tree t;  // under the temp folder on C:, where the folder picker can select it
  const std::wstring missing = t.dir / L"無い.txt";
  const Paths dropped{t.file, missing, t.folder, t.foreign, t.longDir};
  // Folders are walked at full length; their own times only with CheckBox1.
  const Paths droppedStamped{t.file, t.foreign, t.inner, t.deep, t.longFile};
  const std::wstring dropReport = Report(true, missing);
  const struct {
    const char* what;
    bool oneFileMode, drop;
    Step step;
    std::wstring edit, report;  // no report: nothing shown
    Paths stamped;
  } cases[] = {
      {"drop, yes", false, true, Press(Key::Enter), zel::kDroppedStatus, dropReport, droppedStamped},
      {"drop in 1ファイル, yes", true, true, Press(Key::Enter), zel::kDroppedStatus, dropReport,
       droppedStamped},
      {"drop, no", false, true, Click(L"いいえ"), kBefore, L"", {}},
      {"drop, title-bar close", true, true, Press(Key::TitleBarClose), kBefore, L"", {}},
      {"drop, Escape", false, true, Press(Key::Escape), kBefore, L"", {}},
      {"file typed", true, false, Settled({Type(t.foreign), kOk}), t.foreign, Report(true),
       {t.foreign}},
      {"missing file typed", true, false, Settled({Type(missing), kOk}), missing,
       Report(false, missing), {}},
      {"file dialog cancelled", true, false, Settled({kCancel}), kBefore, L"", {}},
      {"folder chosen", false, false, Settled({Select(t.folder), kOk}), t.folder, Report(true),
       {t.inner, t.deep}},
      {"folder picker cancelled", false, false, Settled({kCancel}), kBefore, L"", {}}};
  wchar_t cwd[MAX_PATH], after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    t.SetAllOld();
    Window w(c.oneFileMode);
    w.form.OpenDialog1.Title = L"別の題";  // the button sets its own each time
    HGLOBAL drop = c.drop ? ShellDrop(dropped) : nullptr;
    ModalDriver driver({c.step, Press(Key::Enter)});
    if (drop)
      PostMessageW(w.form.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    else
      w.form.Button1.Click();
    Pump(100);  // a posted drop is handled in here up to the batch's start, question and all
    PumpUntil([&] { return !w.form.BatchRunning(); });  // ended and reported
    EXPECT_EQ(drop ? GlobalSize(drop) : 0u, 0u);  // released however answered
    ASSERT_FALSE(driver.seen.empty());
    EXPECT_EQ(driver.seen[0].owner, w.form.Handle());
    EXPECT_NE((driver.seen[0].caption + driver.seen[0].text)
                  .find(c.drop          ? zel::kAskToStamp
                        : c.oneFileMode ? L"１ファイルのみ変更します、選んで下さい。"
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
