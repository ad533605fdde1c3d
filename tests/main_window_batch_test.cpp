// tests/main_window_batch_test.cpp
// Batches on a worker thread: the window answers and holds its clock meanwhile, progress shows
// for long batches only, a stop or a close leaves every file at the instant or untouched.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "framework/application.h"
#include "rtl/locale_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

constexpr int kFolders = 40, kEach = 200, kFiles = kFolders * kEach;  // ~2 s of stamping here
TempDir* tree;
std::wstring Folder(int i) { return *tree / std::to_wstring(i / kEach); }
std::wstring File(int i) { return Folder(i) + L"\\" + std::to_wstring(i); }
std::wstring Gone() { return *tree / L"gone"; }  // dropped first, so it fails before any stop

// Files of the tree at the instant; a file's two times are written at once.
int AtInstant(rtl::TDateTime instant) {
  const auto want = Ticks(rtl::DateTimeToFileTime(instant));
  int n = 0;
  for (int i = 0; i < kFiles; ++i) n += LocalTicks(Times(File(i))[1]) == want;
  return n;
}

// A main window whose question is answered Yes, noting the instant it holds; the boxes after it
// answered with Enter.
struct Started {
  zel::TForm1 form;
  rtl::TDateTime read = 0;
  ModalDriver driver{{Press(Key::Enter, [this] { read = form.StampingInstant(); }), Press(Key::Enter),
                      Press(Key::Enter)}};
  HWND progress = nullptr;
  // Shown with its clock live and the tree dropped on it (a missing file first), or else running
  // the tree from a command line.
  explicit Started(bool drop) : form(drop ? Texts{} : Texts{tree->path()}) {
    if (!drop) return;
    form.Show();
    PostMessageW(form.Handle(), WM_DROPFILES, WPARAM(ShellDrop({Gone(), tree->path()})), 0);
  }
  bool Progress() {  // the progress window shows
    progress = FindWindowExW(nullptr, nullptr, L"ZelvoranForm", L"Zelvoran");
    return progress && IsWindowVisible(progress) && GetWindow(progress, GW_OWNER) == form.Handle();
  }
};

void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }

struct Batch : testing::Test {  // one tree: every batch writes an instant of its own
  static void SetUpTestSuite() {
    tree = new TempDir;
    for (int i = 0; i < kFiles; i += kEach) MakeDir(Folder(i));
    for (int i = 0; i < kFiles; ++i) WriteFile(File(i));
  }
  static void TearDownTestSuite() { delete tree; }
};

}  // namespace

// Its progress shows centred on the window, or where a restore puts it when minimised.
TEST_F(Batch, ADropRunsWhileTheWindowAnswersAndHoldsItsClockUntilItEndsOrIsStopped) {
  const std::function<void(HWND)> stops[] = {
      nullptr, [](HWND p) { PostMessageW(FindWindowExW(p, 0, L"Button", L"中止"), BM_CLICK, 0, 0); },
      [](HWND p) { Answer(p, Key::Escape); }, [](HWND p) { Answer(p, Key::TitleBarClose); }};
  for (const auto& stop : stops) {
    SCOPED_TRACE(&stop - stops);
    Started r(true);
    RECT was{}, shown{};  // the window's rectangle, minimised for the stop button's row
    if (GetWindowRect(r.form.Handle(), &was) && &stop == &stops[1]) ShowWindow(r.form.Handle(), SW_MINIMIZE);
    // However long a loaded machine takes: the test's own time limit is the backstop.
    ASSERT_TRUE(PumpUntil([&] { return r.Progress(); }, INFINITE));
    EXPECT_TRUE(GetWindowRect(r.progress, &shown) && abs(shown.left + shown.right - was.left - was.right) <= 1 &&
                abs(shown.top + shown.bottom - was.top - was.bottom) <= 1) << "centred";
    EXPECT_TRUE(PumpUntil([&] {
      return FindWindowExW(r.progress, nullptr, L"Static", L"変更できなかったもの：1件") != nullptr;
    }));
    // Asked from another thread, as the system asks whether a program responds.
    auto answered = std::async(std::launch::async, [&] {
      return SendMessageTimeoutW(r.form.Handle(), WM_NULL, 0, 0, SMTO_NORMAL, 100, nullptr) != 0;
    });
    PumpUntil([&] { return answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_TRUE(answered.get()) << "within 100 ms";
    EXPECT_TRUE(r.form.StampingInstant() == r.read && !r.form.Timer1.Enabled());
    const HGLOBAL second = ShellDrop({tree->path()});  // refused, released, no second batch
    PostMessageW(r.form.Handle(), WM_DROPFILES, WPARAM(second), 0);
    PumpUntil([&] { return GlobalSize(second) == 0; });
    // Nor does an undo start: its menu item is greyed, and Ctrl+Z, as the loop meets it, asks
    // nothing (the boxes compared below).
    EXPECT_TRUE(GetMenuState(GetSystemMenu(r.form.Handle(), FALSE), zel::kUndoCommand,
                             MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(PressCtrl(r.form.Handle(), 'Z'));
    SendMessageW(r.form.Handle(), WM_SYSCOMMAND, zel::kUndoCommand, 0);
    ASSERT_TRUE(r.form.BatchRunning()) << "all of the above while the batch ran";
    if (stop) stop(r.progress);

    ASSERT_TRUE(PumpUntil([&] { return !r.form.BatchRunning(); }, INFINITE));
    const int changed = AtInstant(r.read);
    EXPECT_TRUE(stop ? changed > 0 && changed < kFiles : changed == kFiles);
    const std::wstring report =
        (stop ? L"への変更を中止しました\r\n変更したもの：" + std::to_wstring(changed) + L"件" : L"に変更しました") +
        L"\r\n\r\n変更できなかったもの：1件\r\n" + Gone() + L"（見つかりません）";
    // The second drop asked nothing.
    EXPECT_EQ(r.driver.texts(),
              (Texts{zel::kAskToStamp, zel::kBatchRunning, rtl::DateTimeToStr(r.read) + report}));
    EXPECT_TRUE(r.form.Button1.Enabled() && r.form.Timer1.Enabled() && !r.Progress());
    EXPECT_FALSE(GetMenuState(GetSystemMenu(r.form.Handle(), FALSE), zel::kUndoCommand,
                              MF_BYCOMMAND) & MF_GRAYED);
  }
}

TEST_F(Batch, ACloseOrTheSessionsEndStopsTheBatchBeforeTheCloseHandlingRuns) {
  const wchar_t kKey[] = L"Software\\Borvelune\\Zelvoran";
  const std::vector<UINT> ends[] = {{WM_CLOSE}, {WM_QUERYENDSESSION, WM_ENDSESSION}};
  for (const auto& end : ends) {
    SCOPED_TRACE(&end - ends);
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    Started r(false);  // the command-line batch, before the window shows
    std::thread system([&] {
      for (int i = 0; i < 3000 && !r.Progress(); ++i) Sleep(10);
      for (UINT m : end) SendMessageW(r.form.Handle(), m, m == WM_ENDSESSION, 0);  // as the system
    });
    const int left = r.form.Left();
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 60000, &GiveUp);
    fw::Application.Run(r.form);
    KillTimer(nullptr, watchdog);
    system.join();
    EXPECT_TRUE(!IsWindow(r.form.Handle()) && !r.form.BatchRunning());
    EXPECT_EQ(r.driver.seen.size(), 1u) << "no report";
    EXPECT_LT(AtInstant(r.read), kFiles) << "stopped";
    // The close handling ran.
    EXPECT_EQ(Borvelune::LoadWinSettings(L"Zelvoran", {-1, -1, L"", L"", L""}).Left, left);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
}

// A file chosen in the dialog while a batch runs is refused aloud, the path field left naming the
// batch's targets (the batch is stopped as the window goes).
TEST_F(Batch, AFileChosenWhileABatchRunsIsRefusedAloud) {
  zel::TForm1 form({});
  form.RadioButton2.SetChecked(true);  // 1ファイル
  form.Show();
  // The drop's question, the file dialog, the refusal.
  ModalDriver driver({Press(Key::Enter), Type(L"none.txt"), Press(Key::Enter)});
  SendMessageW(form.Handle(), WM_DROPFILES, WPARAM(ShellDrop({tree->path()})), 0);
  form.Button1Click();  // as opened before the batch started
  EXPECT_EQ(driver.texts().at(2), zel::kBatchRunning);
  EXPECT_EQ(form.Edit1.Text(), zel::kDroppedStatus);
}
