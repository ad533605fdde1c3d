// tests/main_window_test.cpp
// The main window's layout, start-up and close, keys, undo, and its progress window.
#include <gtest/gtest.h>

#include <regex>

#include "framework/screen.h"
#include "main_window/progress_form.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

// Where the control is in its form's client area, and its size.
std::vector<int> Place(const fw::TControl& c) {
  RECT r{};
  GetWindowRect(c.Handle(), &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(c.Handle()), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

struct MainWindow : testing::Test {
  void SetUp() override { TearDown(); }
  void TearDown() override {
    form.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Borvelune\\Zelvoran");
  }
  // A main window started with these arguments, holding 2010-05-06 07:08:09.250 as its instant.
  zel::TForm1& StartWith(std::vector<std::wstring> params) {
    form = std::make_unique<zel::TForm1>(std::move(params));
    form->Timer1.SetEnabled(false);
    form->ChosenDate = rtl::EncodeDate(2010, 5, 6);
    form->ChosenTime = rtl::EncodeTime(7, 8, 9, 250);
    return *form;
  }
  ModalDriver unexpected{std::vector<Step>{}};  // a box no test asks for fails it at once
  std::unique_ptr<zel::TForm1> form;
  TempDir dir;
};

}  // namespace

// The 96-DPI design scaled to the display, and laid out anew when moved onto a monitor of twice
// the DPI. Positions on the screen are never scaled.
TEST_F(MainWindow, LayoutIsTheDesignAtTheDisplaysDpi) {
  zel::TForm1& f = StartWith({});
  int dpi = fw::DpiOf(f.Handle());
  auto scaled = [&dpi](std::vector<int> v) {
    for (int& n : v) n = MulDiv(n, dpi, 96);
    return v;
  };
  RECT client{}, rect{};
  GetClientRect(f.Handle(), &client);
  LOGFONTW font{};
  GetObjectW(f.Font(), sizeof(font), &font);
  EXPECT_EQ(std::vector<int>({client.right, client.bottom, font.lfHeight}), scaled({347, 155, -12}));
  EXPECT_EQ(Place(f.Button1), scaled({176, 123, 75, 25}));
  GetWindowRect(f.Handle(), &rect);
  dpi *= 2;
  SendMessageW(f.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&rect));
  EXPECT_EQ(Place(f.CheckBox1), scaled({12, 52, 201, 17})) << "moved to twice the DPI";
}

// Twelve missing files in a folder with a long Japanese name, the window near the screen's
// corner: the report lists ten of them in a box that lies on the screen; Ctrl+C on it copies its
// text, then all twelve in walk order.
TEST_F(MainWindow, AReportOfLongPathsFitsTheScreenAtTheDisplaysDpi) {
  const std::wstring folder = dir / (std::wstring(120, L'長') + L"\\" + std::wstring(120, L'名'));
  std::vector<std::wstring> paths;
  std::wstring copied, listed;
  for (int i = 1; i <= 12; ++i) listed += paths.emplace_back(folder + L"\\file" + std::to_wstring(i) + L".txt") + L"（見つかりません）\r\n";
  RECT work{}, all{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  StartWith(paths).SetPosition(work.right - 60, work.bottom - 40);
  ModalDriver driver({Press(Key::Enter), CopyThen(copied, Key::Enter)});
  form->Show();
  EXPECT_EQ(copied.substr(copied.find(L"OK   \r\n") + 7), L"---------------------------\r\n" + listed);
  ASSERT_EQ(driver.seen.size(), 2u);
  EXPECT_TRUE(UnionRect(&all, &driver.seen[1].rect, &work) && EqualRect(&all, &work));
  const std::wstring& shown = driver.seen[1].text;
  std::wstring numbers;  // of the paths shown, each with its drive and, after the cut, its name
  const std::wregex path(L"[A-Z]:\\\\[^\\r]*…[^\\r]*\\\\file(\\d+)\\.txt");
  for (std::wsregex_iterator m(shown.begin(), shown.end(), path), end; m != end; ++m)
    numbers += (*m)[1].str() + L" ";
  EXPECT_EQ(numbers, L"1 2 3 4 5 6 7 8 9 10 ") << shown;
}

// The progress window counts what was changed apart from what was not.
TEST_F(MainWindow, TheProgressWindowCountsTheChangedApartFromTheFailures) {
  zel::TBatchProgress progress;
  progress.Changed = 1, progress.Failed = 2;
  zel::TForm1& owner = StartWith({});
  zel::TProgressForm window(owner, progress, [&owner] { return owner.RestoredRect(); });
  ASSERT_TRUE(PumpUntil([&] { return window.Visible(); }));
  EXPECT_EQ(window.Label1.Text() + L"|" + window.Label2.Text(),
            L"変更したもの：1件|変更できなかったもの：2件");
}

// Calibration runs at start-up; a scratch file left beside the program by an interrupted
// start-up goes at start-up and at close.
TEST_F(MainWindow, ScratchFileIsGoneAfterStartUpAndAfterClose) {
  const std::wstring scratch = rtl::ExtractFileDir(rtl::ExeName()) + L"\\Zelvoran.dat";
  WriteFile(scratch, "left over");
  zel::TForm1& f = StartWith({});
  EXPECT_FALSE(rtl::FileExists(scratch));
  WriteFile(scratch, "left over");
  f.Close();
  EXPECT_FALSE(rtl::FileExists(scratch));
}

// A batch with no place for its journal (no LOCALAPPDATA, and the known folder that the registry
// names is not there) says it cannot be undone; the next one is undone.
TEST_F(MainWindow, CtrlZAndTheSystemMenuUndoTheLastBatchAfterARestart) {
  const std::wstring file = dir / L"a.txt", below = file + L"\\below";  // no folder can be there
  WriteFile(file);
  ModalDriver boxes(std::vector<Step>(7, Press(Key::Enter)));
  // The known folder's entry, put back after as Windows and Wine set it.
  const wchar_t kFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                kKnown[] = L"%USERPROFILE%\\AppData\\Local";
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Local AppData", REG_SZ, below.c_str(), DWORD(below.size() * 2 + 2));
  SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  StartWith({file}).Show();
  SetEnvironmentVariableW(L"LOCALAPPDATA", rtl::TempDirectory().c_str());  // as test_main set it
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Local AppData", REG_EXPAND_SZ, kKnown, sizeof(kKnown));
  EXPECT_EQ(boxes.seen.at(1).text, rtl::DateTimeToStr(form->StampingInstant()) +
                                       L"に変更しました\r\n\r\nこの変更は元に戻せません");
  SetOldTimes(file);
  StartWith({file}).Show();
  zel::TForm1& f = StartWith({});  // a restart
  wchar_t item[32] = {};
  GetMenuStringW(GetSystemMenu(f.Handle(), FALSE), zel::kUndoCommand, item, 32, MF_BYCOMMAND);
  EXPECT_STREQ(item, L"直前の変更を元に戻す");
  EXPECT_TRUE(PressCtrl(f.Button1.Handle(), 'Z'));  // in any control
  // The undo runs as a batch: its report comes once it has ended.
  ASSERT_TRUE(PumpUntil([&] { return boxes.seen.size() >= 6 && !f.BatchRunning(); }));
  SendMessageW(f.Handle(), WM_SYSCOMMAND, zel::kUndoCommand, 0);
  EXPECT_EQ(boxes.seen.at(4).text, L"直前の変更（" + rtl::DateTimeToStr(f.StampingInstant()) +
                                       L"、1件）を元に戻しますか？");
  EXPECT_EQ(boxes.seen.at(5).text, L"元に戻しました\r\n元に戻したもの：1件");
  EXPECT_EQ(boxes.seen.at(6).text, zel::kNothingToUndo);
  EXPECT_EQ(Times(file)[1], kOld);
}
