// tests/datetime_dialog_test.cpp
// The date-time dialog, opened by the main window's mode button and driven inside its own
// modal loop: fields and spinners, OK and Cancel, keys, and files dropped as the shell drops.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <functional>
#include <memory>

#include "datetime_dialog/form2.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"
#include "rtl/locale_win.h"
#include "rtl/sysutils.h"
#include "support/gui.h"

using namespace testgui;

namespace {

using DialogStep = std::function<void(zel::TForm2&)>;

// Runs one step per timer tick inside the dialog's modal loop, so keys posted by a step are
// handled by that loop before the next step. Once the steps are spent (or an assertion
// failed), a dialog still open is closed from its title bar, so a failing test cannot hang.
class DialogSteps {
 public:
  explicit DialogSteps(std::vector<DialogStep> steps) : steps_(std::move(steps)) {
    active_ = this;
    timer_ = SetTimer(nullptr, 0, 50, &DialogSteps::Tick);
  }
  ~DialogSteps() {
    KillTimer(nullptr, timer_);
    active_ = nullptr;
  }
  size_t ran = 0;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    static bool busy = false;  // a step's own message boxes run this timer too
    DialogSteps* self = active_;
    if (busy || !self || !zel::Form2 || !zel::Form2->Visible()) return;
    zel::TForm2& dlg = *zel::Form2;
    if (self->ran == self->steps_.size() || testing::Test::HasFatalFailure()) {
      PostMessageW(dlg.Handle(), WM_CLOSE, 0, 0);
      return;
    }
    busy = true;
    self->steps_[self->ran++](dlg);
    busy = false;
  }
  static DialogSteps* active_;
  std::vector<DialogStep> steps_;
  UINT_PTR timer_ = 0;
};
DialogSteps* DialogSteps::active_ = nullptr;

// A drop as the shell builds it: wide paths after a DROPFILES header, double-NUL ended.
HGLOBAL ShellDrop(const std::vector<std::wstring>& paths) {
  size_t chars = 1;
  for (const std::wstring& p : paths) chars += p.size() + 1;
  HGLOBAL g = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* df = static_cast<DROPFILES*>(GlobalLock(g));
  df->pFiles = sizeof(DROPFILES);
  df->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(df) + sizeof(DROPFILES));
  for (const std::wstring& p : paths) {
    std::copy(p.begin(), p.end(), out);
    out += p.size() + 1;
  }
  GlobalUnlock(g);
  return g;
}

// Posts the drop and handles messages until the boxes it raises are answered.
void Drop(zel::TForm2& dlg, const std::vector<std::wstring>& paths, ModalDriver& driver) {
  PostMessageW(dlg.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(ShellDrop(paths)), 0);
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    // Back here, any box the drop raised has been answered and its handler has returned.
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (driver.Done() || GetTickCount() - start > 5000) return;
    Sleep(5);
  }
}

// Sets both times of a file to a local wall-clock reading.
void SetLocalTimes(const std::wstring& path, int y, int mo, int d, int h, int mi, int s, int ms) {
  SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s),
                static_cast<WORD>(ms)};
  FILETIME local, stored;
  SystemTimeToFileTime(&st, &local);
  LocalFileTimeToFileTime(&local, &stored);
  HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  SetFileTime(f, &stored, nullptr, &stored);
  CloseHandle(f);
}

unsigned long long LocalTicks(const FILETIME& stored) {
  FILETIME local;
  FileTimeToLocalFileTime(&stored, &local);
  return Ticks(local);
}

struct Fields {
  std::wstring h, n, s;
  int ph, pn, ps;
  rtl::TDateTime date;
  bool operator==(const Fields& o) const {
    return h == o.h && n == o.n && s == o.s && ph == o.ph && pn == o.pn && ps == o.ps &&
           date == o.date;
  }
};
Fields Read(const zel::TForm2& dlg) {
  return {dlg.Edit4.Text(),         dlg.Edit5.Text(),         dlg.edit6.Text(),
          dlg.UpDown4.Position(),   dlg.UpDown5.Position(),   dlg.UpDown6.Position(),
          dlg.DateTimePicker1.Date()};
}

void Type(const fw::TEdit& edit, const std::wstring& keys) {
  SendMessageW(edit.Handle(), EM_SETSEL, 0, -1);
  for (wchar_t c : keys) SendMessageW(edit.Handle(), WM_CHAR, c, 1);
}

void Fill(zel::TForm2& dlg, rtl::TDateTime date, const wchar_t* h, const wchar_t* n,
          const wchar_t* s) {
  dlg.DateTimePicker1.SetDate(date);
  dlg.Edit4.SetText(h);
  dlg.Edit5.SetText(n);
  dlg.edit6.SetText(s);
}

void Press(const fw::TButton& button) { SendMessageW(button.Handle(), BM_CLICK, 0, 0); }

class Dialog : public testing::Test {
 protected:
  // The main window holding a known instant, as after its last tick.
  void SetUp() override {
    form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{});
    form->Timer1Timer();
    heldDate = form->ChosenDate;
    heldTime = form->ChosenTime;
    heldLabels = form->Label3.Caption() + L"|" + form->Label1.Caption();
  }
  // Opens the dialog with the mode button and runs the steps in it; returns when it closed.
  size_t Open(std::vector<DialogStep> steps) {
    EXPECT_TRUE(form->Timer1.Enabled()) << "the mode button opens the dialog in live mode only";
    DialogSteps driver(std::move(steps));
    Press(form->Button2);
    EXPECT_EQ(zel::Form2, nullptr) << "released after closing";
    return driver.ran;
  }
  void ExpectUnchanged() {
    EXPECT_EQ(form->ChosenDate, heldDate);
    EXPECT_EQ(form->ChosenTime, heldTime);
    EXPECT_EQ(form->Label3.Caption() + L"|" + form->Label1.Caption(), heldLabels);
  }
  void ExpectFixed() {
    EXPECT_FALSE(form->Timer1.Enabled());
    EXPECT_EQ(form->Button2.Caption(), zel::kCurrentCaption);
  }
  std::unique_ptr<zel::TForm1> form;
  rtl::TDateTime heldDate = 0, heldTime = 0;
  std::wstring heldLabels;
  TempDir dir;
};

}  // namespace

TEST_F(Dialog, OpensWithTheControlsInTabOrderAndTheCurrentTime) {
  const rtl::TDateTime before = rtl::Now();
  Fields f{};
  rtl::TDateTime after = 0;
  size_t ran = Open({[&](zel::TForm2& dlg) {
    after = rtl::Now();
    f = Read(dlg);
    EXPECT_EQ(dlg.Caption(), zel::kDialogCaption);
    RECT client;
    GetClientRect(dlg.Handle(), &client);
    EXPECT_EQ(client.right, 199);
    EXPECT_EQ(client.bottom, 119);
    LONG style = GetWindowLongW(dlg.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    // Tab order is creation order.
    const std::vector<HWND> order = {dlg.Edit4.Handle(),   dlg.Edit5.Handle(),
                                     dlg.edit6.Handle(),   dlg.UpDown4.Handle(),
                                     dlg.UpDown5.Handle(), dlg.UpDown6.Handle(),
                                     dlg.Button1.Handle(), dlg.DateTimePicker1.Handle(),
                                     dlg.Button2.Handle()};
    for (size_t i = 0; i + 1 < order.size(); ++i)
      EXPECT_EQ(GetNextDlgTabItem(dlg.Handle(), order[i], FALSE), order[i + 1]) << i;
  }});
  EXPECT_EQ(ran, 1u);
  // Fields show h, n, s with no leading zeros; the spinners stand at the same numbers.
  EXPECT_EQ(f.date, rtl::DateOf(before));
  EXPECT_EQ(rtl::IntToStr(f.ph), f.h);
  EXPECT_EQ(rtl::IntToStr(f.pn), f.n);
  EXPECT_EQ(rtl::IntToStr(f.ps), f.s);
  const double shown = f.date + (f.ph * 3600 + f.pn * 60 + f.ps) / rtl::SecsPerDay;
  EXPECT_GE(shown, before - 1 / rtl::SecsPerDay);
  EXPECT_LE(shown, after);
}

TEST_F(Dialog, FieldsClampAndRejectNonNumbersWhileSpinnersDriveTheirFields) {
  size_t ran = Open({[&](zel::TForm2& dlg) {
    dlg.UpDown5.SetPosition(30);
    Type(dlg.Edit5, L"75");  // "7", then "75" is pulled back to the maximum
    EXPECT_EQ(dlg.Edit5.Text(), L"59");
    EXPECT_EQ(dlg.UpDown5.Position(), 30) << "a field never moves its spinner";
    Type(dlg.Edit4, L"99");
    EXPECT_EQ(dlg.Edit4.Text(), L"23");
    dlg.edit6.SetText(L"-3");  // pasted
    EXPECT_EQ(dlg.edit6.Text(), L"0");
    ModalDriver errors({testgui::Press(Key::Enter)});
    Type(dlg.edit6, L"-");
    ASSERT_EQ(errors.seen.size(), 1u);
    EXPECT_EQ(errors.seen[0].text, L"'-' は正しい整数値ではありません");
    EXPECT_EQ(dlg.edit6.Text(), L"-") << "the text stays as typed";
    dlg.edit6.SetText(L"");  // empty: nothing happens, no box
    EXPECT_EQ(dlg.edit6.Text(), L"");

    // A click on a spinner's arrow overwrites its field from the spinner's own position.
    const HWND spin = dlg.UpDown5.Handle();
    SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 4));
    SendMessageW(spin, WM_LBUTTONUP, 0, MAKELPARAM(8, 4));
    EXPECT_EQ(dlg.UpDown5.Position(), 31);
    EXPECT_EQ(dlg.Edit5.Text(), L"31");
    SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 26));
    SendMessageW(spin, WM_LBUTTONUP, 0, MAKELPARAM(8, 26));
    EXPECT_EQ(dlg.Edit5.Text(), L"30");
    // The arrow keys of a focused spinner do the same; no wrap-around at the ends.
    dlg.UpDown6.SetPosition(58);
    dlg.UpDown6.SetFocus();
    for (int i = 0; i < 3; ++i) {
      SendMessageW(dlg.UpDown6.Handle(), WM_KEYDOWN, VK_UP, 1);
      SendMessageW(dlg.UpDown6.Handle(), WM_KEYUP, VK_UP, 0xC0000001);
    }
    EXPECT_EQ(dlg.UpDown6.Position(), 59);
    EXPECT_EQ(dlg.edit6.Text(), L"59");
    dlg.UpDown4.SetPosition(0);
    SendMessageW(dlg.UpDown4.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 26));
    SendMessageW(dlg.UpDown4.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(8, 26));
    EXPECT_EQ(dlg.UpDown4.Position(), 0);
  }});
  EXPECT_EQ(ran, 1u);
  ExpectUnchanged();
  ExpectFixed();
}

TEST_F(Dialog, OkHandsTheFieldsAsTypedAndTheDateToTheMainWindow) {
  Open({[](zel::TForm2& dlg) {
    Fill(dlg, rtl::EncodeDate(2001, 2, 3), L"9", L"5", L"7");
    Press(dlg.Button1);
  }});
  EXPECT_EQ(form->Label3.Caption(), L"2001年 2月 3日");
  EXPECT_EQ(form->Label1.Caption(), L"9時 5分 7秒");
  EXPECT_EQ(form->ChosenDate, rtl::EncodeDate(2001, 2, 3));
  EXPECT_EQ(form->ChosenTime, rtl::EncodeTime(9, 5, 7, 0));
  ExpectFixed();
  // Ticks no longer run: the values stay.
  Pump(400);
  EXPECT_EQ(form->Label1.Caption(), L"9時 5分 7秒");

  // Back to live, then fixed again with a zero-padded minute: shown as typed.
  Press(form->Button2);
  EXPECT_TRUE(form->Timer1.Enabled());
  Open({[](zel::TForm2& dlg) {
    Fill(dlg, rtl::EncodeDate(1999, 12, 31), L"23", L"05", L"0");
    Press(dlg.Button1);
  }});
  EXPECT_EQ(form->Label3.Caption(), L"1999年 12月 31日");
  EXPECT_EQ(form->Label1.Caption(), L"23時 05分 0秒");
  EXPECT_EQ(form->ChosenTime, rtl::EncodeTime(23, 5, 0, 0));
}

TEST_F(Dialog, OkWithABadFieldChangesNothingAndLeavesTheDialogOpen) {
  std::vector<size_t> boxes;
  size_t ran = Open({
      [&](zel::TForm2& dlg) {
        Fill(dlg, rtl::EncodeDate(2001, 2, 3), L"9", L"5", L"");
        ModalDriver d({testgui::Press(Key::Enter)});
        Press(dlg.Button1);
        boxes.push_back(d.seen.size());
      },
      [&](zel::TForm2& dlg) {
        // Still open; now a field that is not a number (its own change shows the error first).
        ModalDriver d({testgui::Press(Key::Enter), testgui::Press(Key::Enter)});
        dlg.edit6.SetText(L"7");
        dlg.Edit5.SetText(L"x");
        Press(dlg.Button1);
        boxes.push_back(d.seen.size());
        if (d.seen.size() == 2) {
          EXPECT_EQ(d.seen[1].text, L"'x' は正しい整数値ではありません");
        }
        PostMessageW(dlg.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
      },
  });
  EXPECT_EQ(ran, 2u);
  EXPECT_EQ(boxes, (std::vector<size_t>{1, 2}));
  // Closed from the title bar: nothing written, the mode stays fixed.
  ExpectUnchanged();
  ExpectFixed();
}

TEST_F(Dialog, EscapeAndEnterOnAFieldPressNothingEnterOnCancelRestartsTheClock) {
  size_t ran = Open({
      [](zel::TForm2& dlg) {
        dlg.Edit4.SetFocus();
        Answer(dlg.Handle(), Key::Escape);
      },
      [](zel::TForm2& dlg) { Answer(dlg.Handle(), Key::Enter); },
      [](zel::TForm2& dlg) {
        Fill(dlg, rtl::EncodeDate(2001, 2, 3), L"9", L"5", L"7");
        dlg.Button2.SetFocus();
        Answer(dlg.Handle(), Key::Enter);
      },
  });
  EXPECT_EQ(ran, 3u);
  ExpectUnchanged();  // until the next tick
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Button2.Caption(), zel::kSpecifyCaption);
}

TEST_F(Dialog, DropsOfSeveralFilesAFolderOrAMissingFileAreRefused) {
  const std::wstring a = dir / L"a.txt", b = dir / L"b.txt", gone = dir / L"消えた.txt";
  WriteFile(a);
  WriteFile(b);
  std::vector<std::vector<SeenBox>> seen;
  Open({[&](zel::TForm2& dlg) {
    const Fields before = Read(dlg);
    for (const std::vector<std::wstring>& paths :
         {std::vector<std::wstring>{a, b}, {dir.path()}, {gone}}) {
      ModalDriver d({testgui::Press(Key::Enter)});
      Drop(dlg, paths, d);
      seen.push_back(d.seen);
      EXPECT_TRUE(Read(dlg) == before);
    }
    if (!seen.empty() && !seen[0].empty()) {
      EXPECT_EQ(seen[0][0].rect.left, dlg.Left() + 10);
      EXPECT_EQ(seen[0][0].rect.top, dlg.Top() + 10);
      EXPECT_EQ(seen[0][0].owner, dlg.Handle());
    }
  }});
  ASSERT_EQ(seen.size(), 3u);
  for (const auto& s : seen) ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(seen[0][0].text, L"一つのファイルにして下さい");
  EXPECT_EQ(seen[0][0].buttons, std::vector<std::wstring>{L"OK"});
  EXPECT_EQ(seen[1][0].text, L"ディレクトリでは解りません");
  EXPECT_NE(seen[2][0].text.find(gone), std::wstring::npos) << "names the file";
}

TEST_F(Dialog, ADroppedFileGivesItsWholeSecondEvenReadOnlyHeldOpenOldOrDeep) {
  struct Case {
    std::wstring path;
    int y, mo, d, h, mi, s, ms;
  };
  // A path past MAX_PATH, as the shell hands it over.
  std::wstring deep = dir.path();
  while (deep.size() < 300) {
    deep += L"\\長いフォルダの名前_0123456789";
    CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
  }
  const std::vector<Case> cases = {
      {dir / L"readonly.txt", 2015, 6, 7, 14, 22, 51, 700},
      {dir / L"held.txt", 2012, 12, 12, 12, 34, 56, 0},
      {dir / L"old.txt", 1975, 3, 4, 5, 6, 7, 0},
      {deep + L"\\deep.txt", 2003, 1, 2, 3, 4, 5, 0},
  };
  for (const Case& c : cases) {
    WriteFile(L"\\\\?\\" + c.path);
    SetLocalTimes(L"\\\\?\\" + c.path, c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
  }
  SetFileAttributesW(cases[0].path.c_str(), FILE_ATTRIBUTE_READONLY);
  // Held open with no sharing at all, as an editor might.
  HANDLE held = CreateFileW(cases[1].path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  std::vector<Fields> got;
  std::vector<std::vector<SeenBox>> seen;
  Open({[&](zel::TForm2& dlg) {
    for (const Case& c : cases) {
      ModalDriver d({testgui::Press(Key::Enter), testgui::Press(Key::Enter)});
      Drop(dlg, {c.path}, d);
      got.push_back(Read(dlg));
      seen.push_back(d.seen);
    }
  }});
  CloseHandle(held);
  ASSERT_EQ(got.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.path);
    const Fields want{std::to_wstring(c.h), std::to_wstring(c.mi), std::to_wstring(c.s), c.h,
                      c.mi, c.s, rtl::EncodeDate(c.y, c.mo, c.d)};
    EXPECT_TRUE(got[i] == want) << got[i].h << ":" << got[i].n << ":" << got[i].s;
    ASSERT_EQ(seen[i].size(), 2u);
    EXPECT_EQ(seen[i][0].text, zel::kAskToCopyDate);
    EXPECT_EQ(seen[i][0].buttons, (std::vector<std::wstring>{L"OK", L"キャンセル"}));
    const rtl::TDateTime dt = rtl::ComposeDateTime(rtl::EncodeDate(c.y, c.mo, c.d),
                                                   rtl::EncodeTime(c.h, c.mi, c.s, 0));
    EXPECT_EQ(seen[i][1].text, rtl::DateTimeToStr(dt) + L"にセットしました");
  }
  ExpectUnchanged();  // nothing reaches the main window before OK
}

TEST_F(Dialog, CancellingTheDropQuestionLeavesTheFields) {
  const std::wstring file = dir / L"f.txt";
  WriteFile(file);
  SetLocalTimes(file, 2010, 10, 10, 10, 10, 10, 0);
  for (Key key : {Key::Escape, Key::TitleBarClose}) {
    std::vector<SeenBox> seen;
    bool same = false;
    size_t ran = Open({[&](zel::TForm2& dlg) {
      const Fields before = Read(dlg);
      ModalDriver d({testgui::Press(key)});
      Drop(dlg, {file}, d);
      Pump(100);  // a further box would show now
      seen = d.seen;
      same = Read(dlg) == before;
    }});
    EXPECT_EQ(ran, 1u) << static_cast<int>(key);
    Press(form->Button2);  // back to live for the next opening
    EXPECT_TRUE(same);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, zel::kAskToCopyDate);
  }
}

TEST_F(Dialog, AnInstantFixedInTheDialogIsWhatABatchWrites) {
  const std::wstring file = dir / L"stamped.txt";
  WriteFile(file);
  SetOldTimes(file);
  form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{file});
  Open({[](zel::TForm2& dlg) {
    Fill(dlg, rtl::EncodeDate(2001, 2, 3), L"9", L"5", L"7");
    Press(dlg.Button1);
  }});
  Pump(400);  // long enough for ticks, were the clock running
  ModalDriver d({testgui::Press(Key::Enter), testgui::Press(Key::Enter)});
  form->RunCommandLineBatch();
  ASSERT_EQ(d.seen.size(), 2u);
  const unsigned long long want = TicksOf(2001, 2, 3, 9, 5, 7, 0);
  EXPECT_EQ(LocalTicks(CreationTime(file)), want);
  EXPECT_EQ(LocalTicks(WriteTime(file)), want);
}
