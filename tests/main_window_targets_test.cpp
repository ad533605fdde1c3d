// tests/main_window_targets_test.cpp
// The main window's targets: shell-built drops, the command line and the "変更ファイル" button
// with the real file and folder pickers; times read back from disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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
// two-character names that start with a dot, an empty folder, names Windows' own reading of a
// path would cut ("x." is "x") or take for a device.
struct Tree {
  TempDir dir;
  std::wstring file = dir / L"a.txt", foreign = dir / L"한글 ñ.txt", folder = dir / L"フォルダ";
  std::wstring inner = folder + L"\\inner.txt", dotFile = folder + L"\\.x", dotDir = folder + L"\\.y";
  std::wstring longDir = dir / std::wstring(250, 'e'), longFile = longDir + L"\\long.txt";
  std::wstring empty = dir / L"空", missing = dir / L"無い.txt", dotted = dir / L"x.", device = dir / L"nul";
  Paths all{file, foreign, inner, dotFile, longFile, dir / L"bystander.txt", dotted, dir / L"x", device};
  Tree() {
    for (const std::wstring& d : {folder, dotDir, empty, longDir}) MakeDir(L"\\\\?\\" + d);
    for (const std::wstring& f : all) WriteFile(L"\\\\?\\" + f);
    all.insert(all.end(), {folder, dotDir, empty});
    for (const std::wstring& p : all) SetOldTimes(rtl::ExactPath(p));
  }
  // Each path at the instant (local) if stamped, else still at the old time.
  void Expect(const Paths& stamped) {
    for (const std::wstring& p : all) {
      const bool isNew = std::find(stamped.begin(), stamped.end(), p) != stamped.end();
      const unsigned long long t = Times(rtl::ExactPath(p))[1];  // Wine: the creation time too
      EXPECT_EQ(isNew ? LocalTicks(t) : t, isNew ? TicksOf(2021, 7, 15, 10, 15, 31, 250) : kOld) << p;
      SetOldTimes(rtl::ExactPath(p));
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
};

}  // namespace

enum Route { kButton, kDrop, kCommandLine };

TEST(MainWindowTargets, DropsPickersAndTheCommandLineStampWhatTheyNameAndARefusalChangesNothing) {
  Tree t;  // under the temp folder on C:, where the folder picker can select it
  const Paths given{t.file, t.missing, t.folder, t.foreign, t.longDir, t.dotted, t.device};
  // Folders are walked at full length; their own times only with CheckBox1.
  const Paths walked{t.file, t.foreign, t.inner, t.dotFile, t.longFile, t.dotted, t.device},
      withFolders{t.file,   t.foreign, t.inner,  t.dotFile, t.longFile,
                  t.dotted, t.device,  t.folder, t.dotDir};
  const std::wstring givenReport = Report(true, t.missing);
  const struct {
    Route route;
    bool oneFileMode, folderOption;
    Step step;
    std::wstring edit, report;  // no report: nothing shown
    Paths stamped;
  } cases[] = {
      // 0: a drop, answered yes; 1: the same in 1ファイル mode with folders' own times
      {kDrop, false, false, Press(Key::Enter), zel::kDroppedStatus, givenReport, walked},
      {kDrop, true, true, Press(Key::Enter), zel::kDroppedStatus, givenReport, withFolders},
      // 2: a drop refused; 3, 4: the command line with folders' own times, answered yes and no
      {kDrop, false, false, Press(Key::Escape), kBefore, L"", {}},
      {kCommandLine, false, true, Press(Key::Enter), zel::kDroppedStatus, givenReport, withFolders},
      {kCommandLine, false, true, Press(Key::TitleBarClose), kBefore, L"", {}},
      // 5..7: the file dialog: a file typed, a missing file typed, cancelled
      {kButton, true, false, Type(t.foreign), t.foreign, Report(true), {t.foreign}},
      {kButton, true, true, Type(t.missing), t.missing, Report(false, t.missing), {}},
      {kButton, true, false, Settled(nullptr), kBefore, L"", {}},
      // 8..10: the folder picker: a folder with folders' own times, an empty folder, cancelled
      {kButton, false, true, Select(t.folder), t.folder, Report(true),
       {t.inner, t.dotFile, t.folder, t.dotDir}},
      {kButton, false, false, Select(t.empty), t.empty, Report(true), {}},
      {kButton, false, false, Settled(nullptr), kBefore, L"", {}}};
  const std::filesystem::path cwd = std::filesystem::current_path();
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Window w(c.oneFileMode, c.folderOption, c.route == kCommandLine ? given : Paths{});
    ModalDriver driver({c.step, Press(Key::Enter)});
    if (c.route == kCommandLine) w.RunCommandLineBatch();
    const HGLOBAL drop = c.route == kDrop ? ShellDrop(given) : nullptr;  // as the shell drops
    if (drop) SendMessageW(w.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    if (c.route == kButton) w.Button1.Click();
    PumpUntil([&] { return !w.BatchRunning(); });  // ended and reported
    EXPECT_TRUE(!drop || GlobalSize(drop) == 0) << "released however answered";
    EXPECT_TRUE(!driver.seen.empty() && driver.seen[0].owner == w.Handle());
    EXPECT_EQ(driver.seen.size() > 1 ? driver.seen[1].text : L"", c.report);
    EXPECT_EQ(w.Edit1.Text(), c.edit);  // for a picker the full path, not a display name
    t.Expect(c.stamped);
  }
  EXPECT_FALSE(rtl::FileExists(t.missing));
  EXPECT_EQ(std::filesystem::current_path(), cwd);  // the file dialog left it alone
}
