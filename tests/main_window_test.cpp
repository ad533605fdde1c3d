// tests/main_window_test.cpp
// The main window's layout, start-up and close, and the command-line batch end to end.
#include <gtest/gtest.h>

#include <memory>

#include "framework/application.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

std::wstring ScratchBesideExe() { return rtl::ExtractFileDir(rtl::ExeName()) + L"\\Zelvoran.dat"; }

void ForgetSettings() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Borvelune\\Zelvoran"); }

// A main window started with these arguments, holding 2010-05-06 07:08:09.250 as its instant.
std::unique_ptr<zel::TForm1> StartWith(std::vector<std::wstring> params) {
  auto form = std::make_unique<zel::TForm1>(std::move(params));
  form->Timer1.SetEnabled(false);
  form->ChosenDate = rtl::EncodeDate(2010, 5, 6);
  form->ChosenTime = rtl::EncodeTime(7, 8, 9, 250);
  return form;
}

const unsigned long long kInstant = TicksOf(2010, 5, 6, 7, 8, 9, 250);
const unsigned long long kOld = TicksOf(2000, 1, 1, 0, 0, 0, 0);

class MainWindow : public testing::Test {
 protected:
  void SetUp() override { ForgetSettings(); }
  void TearDown() override {
    form.reset();
    ForgetSettings();
  }
  std::unique_ptr<zel::TForm1> form;
  TempDir dir;
};

struct Place {
  const fw::TControl* control;
  int left, top, width, height;
  std::wstring text;
};

}  // namespace

TEST_F(MainWindow, EveryControlIsAtItsPlaceWithItsText) {
  form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{});
  zel::TForm1& f = *form;
  EXPECT_EQ(f.Caption(), L"Zelvoran\u3000Ver0.3");
  RECT client;
  GetClientRect(f.Handle(), &client);
  EXPECT_EQ(client.right, 347);
  EXPECT_EQ(client.bottom, 155);
  EXPECT_EQ(f.Left(), 200);
  EXPECT_EQ(f.Top(), 120);
  // Positions in client pixels and the texts, as a user sees them.
  const std::vector<Place> places = {
      {&f.Button1, 176, 123, 75, 25, L"変更ファイル"},
      {&f.BitBtn1, 268, 123, 75, 25, L"閉じる"},
      {&f.Edit1, 3, 3, 340, 20, L""},
      {&f.RadioButton2, 28, 120, 89, 17, L"1ファイル"},
      {&f.CheckBox1, 12, 52, 201, 17, L"ディレクトリの日付も変更する（ＮＴ）"},
  };
  for (const Place& p : places) {
    EXPECT_EQ(std::vector<int>({p.control->Left(), p.control->Top(), p.control->Width(),
                                p.control->Height()}),
              std::vector<int>({p.left, p.top, p.width, p.height}));
    EXPECT_EQ(p.control->Text(), p.text);
  }
  EXPECT_TRUE(f.RadioButton1.Checked() && !f.RadioButton2.Checked() && !f.CheckBox1.Checked());
  EXPECT_TRUE(f.Timer1.Enabled());
  // The labels show the start-up reading in the window's formats.
  int y, mo, d, hh, mi, s, ms;
  rtl::DecodeDate(f.ChosenDate, y, mo, d);
  rtl::DecodeTime(f.ChosenTime, hh, mi, s, ms);
  EXPECT_EQ(f.Label3.Caption(),
            std::to_wstring(y) + L"年 " + std::to_wstring(mo) + L"月 " + std::to_wstring(d) + L"日");
  EXPECT_EQ(f.Label1.Caption(), std::to_wstring(hh) + L"時 " + std::to_wstring(mi) + L"分 " +
                                    std::to_wstring(s) + L"秒");
}

TEST_F(MainWindow, ScratchFileIsGoneAfterStartUpAndAfterClose) {
  form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{});
  EXPECT_FALSE(rtl::FileExists(ScratchBesideExe()));
  // Calibration ran: under Asia/Tokyo the correction is nine hours exactly.
  TIME_ZONE_INFORMATION tz;
  GetTimeZoneInformation(&tz);
  EXPECT_NEAR(form->TimeCorrection() * 24 * 60, -tz.Bias, 1e-6);
  // A scratch file left behind by an interrupted start-up goes at close.
  WriteFile(ScratchBesideExe(), "left over");
  form->Close();
  EXPECT_FALSE(rtl::FileExists(ScratchBesideExe()));
  EXPECT_FALSE(IsWindow(form->Handle()));
}

TEST_F(MainWindow, NoArgumentsAsksNothing) {
  form = StartWith({});
  ModalDriver driver({Press(Key::Enter)});
  form->Show();
  Pump(200);
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_EQ(form->Edit1.Text(), L"");
}

TEST_F(MainWindow, AnsweringNoLeavesEverythingUnchanged) {
  std::wstring file = dir / L"a.txt";
  WriteFile(file);
  SetOldTimes(file);
  for (Key key : {Key::Escape, Key::TitleBarClose}) {
    form = StartWith({file});
    ModalDriver driver({Press(key)});
    form->Show();
    ASSERT_EQ(driver.seen.size(), 1u);
    EXPECT_EQ(driver.seen[0].text, zel::kAskToStamp);
    EXPECT_EQ(driver.seen[0].buttons, (std::vector<std::wstring>{L"はい(&Y)", L"いいえ(&N)"}));
    EXPECT_EQ(Ticks(WriteTime(file)), kOld);
    EXPECT_EQ(Ticks(CreationTime(file)), kOld);
    EXPECT_EQ(form->Edit1.Text(), L"");
    form.reset();
  }
}

TEST_F(MainWindow, YesStampsEveryArgumentWithOneInstantAndReports) {
  MakeDir(dir / L"tree");
  MakeDir(dir / L"tree\\sub");
  const std::vector<std::wstring> files = {dir / L"tree\\1.txt", dir / L"tree\\sub\\2.txt",
                                           dir / L"single.txt", dir / L"relative.txt"};
  for (const auto& f : files) {
    WriteFile(f);
    SetOldTimes(f);
  }
  // A relative argument is taken against the directory the program started in, whatever the
  // folder argument before it.
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  SetCurrentDirectoryW(dir.path().c_str());
  form = StartWith({dir / L"tree", dir / L"single.txt", L"relative.txt"});
  SetCurrentDirectoryW(cwd);

  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  form->Show();
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_EQ(driver.seen[1].text,
            rtl::DateTimeToStr(form->StampingInstant()) + L"に変更しました");
  EXPECT_EQ(driver.seen[1].buttons, std::vector<std::wstring>{L"OK"});
  EXPECT_EQ(driver.seen[1].rect.left, form->Left() + 10);
  EXPECT_EQ(driver.seen[1].rect.top, form->Top() + 10);
  EXPECT_EQ(form->Edit1.Text(), zel::kDroppedStatus);
  for (const auto& f : files) {
    EXPECT_EQ(LocalTicks(WriteTime(f)), kInstant) << f;
    EXPECT_EQ(LocalTicks(CreationTime(f)), kInstant) << f;
  }
  // Folders keep their times while the folder option is off.
  EXPECT_NE(LocalTicks(WriteTime(dir / L"tree\\sub")), kInstant);
}

TEST_F(MainWindow, ReportNamesWhatCouldNotBeChanged) {
  std::wstring good = dir / L"good.txt", locked = dir / L"locked.txt", ro = dir / L"ro.txt";
  for (const auto& f : {good, locked, ro}) {
    WriteFile(f);
    SetOldTimes(f);
  }
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE hold = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hold, INVALID_HANDLE_VALUE);
  std::wstring missing = dir / L"missing.txt";

  form = StartWith({good, locked, ro, missing});
  ModalDriver driver({Press(Key::Enter), Press(Key::Enter)});
  form->Show();
  ASSERT_EQ(driver.seen.size(), 2u);
  const std::wstring instant = rtl::DateTimeToStr(form->StampingInstant());
  EXPECT_EQ(driver.seen[1].text, instant + L"に変更しました\r\n\r\n変更できなかったもの：3件\r\n" +
                                     locked + L"\r\n" + ro + L"\r\n" + missing);
  EXPECT_EQ(LocalTicks(WriteTime(good)), kInstant);
  EXPECT_EQ(Ticks(WriteTime(locked)), kOld);
  EXPECT_EQ(Ticks(WriteTime(ro)), kOld);
  form.reset();

  // Nothing at all changed: the first line says so.
  form = StartWith({ro, missing});
  ModalDriver driver2({Press(Key::Enter), Press(Key::Enter)});
  form->Show();
  ASSERT_EQ(driver2.seen.size(), 2u);
  EXPECT_EQ(driver2.seen[1].text.rfind(instant + L"に変更できませんでした\r\n", 0), 0u)
      << driver2.seen[1].text;
  CloseHandle(hold);
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(MainWindow, CtrlZAndTheSystemMenuUndoTheLastBatchAfterARestart) {
  const std::wstring file = dir / L"a.txt";
  WriteFile(file);
  SetOldTimes(file);
  form = StartWith({file});
  ModalDriver boxes(std::vector<Step>(5, Press(Key::Enter)));
  form->Show();
  form = StartWith({});  // a restart
  wchar_t item[32] = {};
  GetMenuStringW(GetSystemMenu(form->Handle(), FALSE), zel::kUndoCommand, item, 32, MF_BYCOMMAND);
  EXPECT_STREQ(item, L"直前の変更を元に戻す");
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;  // Ctrl+Z in any control, as the message loop meets it
  SetKeyboardState(keys);
  MSG z{form->Button1.Handle(), WM_KEYDOWN, 'Z', 0, 0, {}};
  EXPECT_TRUE(fw::Application.IsDialogMessageFor(z));
  SetKeyboardState(std::vector<BYTE>(256).data());  // Ctrl let go
  Pump(50);
  SendMessageW(form->Handle(), WM_SYSCOMMAND, zel::kUndoCommand, 0);
  EXPECT_EQ(boxes.seen.at(2).text, L"直前の変更（" + rtl::DateTimeToStr(form->StampingInstant()) +
                                       L"、1件）を元に戻しますか？");
  EXPECT_EQ(boxes.seen.at(3).text, L"元に戻しました");
  EXPECT_EQ(boxes.seen.at(4).text, zel::kNothingToUndo);
  EXPECT_EQ(Ticks(WriteTime(file)), kOld);
}

TEST_F(MainWindow, BatchWithoutAJournalSaysItCannotBeUndone) {
  const std::wstring file = dir / L"a.txt";
  WriteFile(file);
  SetEnvironmentVariableW(L"LOCALAPPDATA", (file + L"\\below").c_str());  // under a file
  form = StartWith({file});
  ModalDriver boxes({Press(Key::Enter), Press(Key::Enter)});
  form->Show();
  SetEnvironmentVariableW(L"LOCALAPPDATA", rtl::TempDirectory().c_str());  // as test_main set it
  EXPECT_EQ(boxes.seen.at(1).text, rtl::DateTimeToStr(form->StampingInstant()) +
                                       L"に変更しました\r\n\r\nこの変更は元に戻せません");
  EXPECT_EQ(LocalTicks(WriteTime(file)), kInstant);
}
