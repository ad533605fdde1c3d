// tests/main_window_clock_test.cpp
// The live clock and the mode button: ticks, holding the instant, and opening the dialog.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "datetime_dialog/form2.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"
#include "support/gui.h"

using namespace testgui;

namespace {

// Runs a check once inside the dialog's modal loop, then closes the dialog from its title bar
// unless the check ended it.
class InDialog {
 public:
  explicit InDialog(std::function<void(zel::TForm2&)> check) : check_(std::move(check)) {
    active_ = this;
    timer_ = SetTimer(nullptr, 0, 50, &InDialog::Tick);
  }
  ~InDialog() {
    KillTimer(nullptr, timer_);
    active_ = nullptr;
  }
  bool ran = false;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    InDialog* self = active_;
    if (!self || !zel::Form2 || !zel::Form2->Visible()) return;
    if (!self->ran) {
      self->ran = true;
      self->check_(*zel::Form2);
    } else {
      PostMessageW(zel::Form2->Handle(), WM_CLOSE, 0, 0);
    }
  }
  static InDialog* active_;
  std::function<void(zel::TForm2&)> check_;
  UINT_PTR timer_ = 0;
};
InDialog* InDialog::active_ = nullptr;

void Press(const fw::TButton& button) { SendMessageW(button.Handle(), BM_CLICK, 0, 0); }

// The stored time local-converted, as a file viewer shows it.
unsigned long long LocalTicks(const FILETIME& stored) {
  FILETIME local;
  FileTimeToLocalFileTime(&stored, &local);
  return Ticks(local);
}

unsigned long long TicksOfInstant(rtl::TDateTime t) {
  const rtl::TDateTimeParts p = rtl::DecodeDateTime(t);
  return TicksOf(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond);
}

// Pumps until the condition holds, for at most a few ticks.
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 100 && !done(); ++i) Pump(20);
  return done();
}

class Clock : public testing::Test {
 protected:
  std::unique_ptr<zel::TForm1> form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{});
  TempDir dir;
};

}  // namespace

TEST_F(Clock, ATickLoadsOneClockReadingIntoBothPartsAndTheLabels) {
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Timer1.Interval(), 300u);
  EXPECT_EQ(form->Button2.Caption(), zel::kSpecifyCaption);
  const rtl::TDateTime before = rtl::Now();
  form->Timer1Timer();
  const rtl::TDateTime after = rtl::Now();
  EXPECT_EQ(form->ChosenDate, rtl::DateOf(form->ChosenDate));
  EXPECT_LT(form->ChosenTime, 1.0);
  EXPECT_GE(form->StampingInstant(), before);
  EXPECT_LE(form->StampingInstant(), after);
  // No leading zeros, a blank after each unit but the last.
  const rtl::TDateTimeParts p = rtl::DecodeDateTime(form->StampingInstant());
  EXPECT_EQ(form->Label3.Caption(), std::to_wstring(p.Year) + L"年 " + std::to_wstring(p.Month) +
                                        L"月 " + std::to_wstring(p.Day) + L"日");
  EXPECT_EQ(form->Label1.Caption(), std::to_wstring(p.Hour) + L"時 " +
                                        std::to_wstring(p.Minute) + L"分 " +
                                        std::to_wstring(p.Second) + L"秒");

  // A real tick through the window's timer.
  form->ChosenDate = form->ChosenTime = 0;
  form->Label1.SetCaption(L"");
  const rtl::TDateTime beforeTick = rtl::Now();
  ASSERT_TRUE(PumpUntil([&] { return form->ChosenDate != 0; }));
  EXPECT_GE(form->StampingInstant(), beforeTick);
  EXPECT_FALSE(form->Label1.Caption().empty());
}

TEST_F(Clock, ALiveBatchWritesTheLastTicksInstantNotTheMomentItRuns) {
  const std::wstring file = dir / L"live.txt";
  WriteFile(file);
  form->Timer1Timer();
  const rtl::TDateTime tick = form->StampingInstant();
  Sleep(60);  // the batch runs later than the tick, with no tick in between
  form->StampPath(file, form->StampingInstant());
  EXPECT_EQ(LocalTicks(WriteTime(file)), TicksOfInstant(tick));
  EXPECT_EQ(LocalTicks(CreationTime(file)), TicksOfInstant(tick));
}

TEST_F(Clock, TheModeButtonOpensTheDialogCentredAndModalAndItsCancelRestartsTheClock) {
  // Sizes that make both halves odd, one negative: truncation toward zero shows in both.
  RECT dr{0, 0, 199, 119};
  AdjustWindowRectEx(&dr, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_CONTROLPARENT);
  const int dw = dr.right - dr.left, dh = dr.bottom - dr.top;
  form->SetBounds(100, 120, dw - 5, dh + 7);
  form->Show();
  bool enabledWhileOpen = true, timerWhileOpen = true;
  std::wstring captionWhileOpen;
  RECT at{};
  HWND owner = nullptr;
  InDialog check([&](zel::TForm2& dlg) {
    enabledWhileOpen = form->Enabled();
    timerWhileOpen = form->Timer1.Enabled();
    captionWhileOpen = form->Button2.Caption();
    GetWindowRect(dlg.Handle(), &at);
    owner = GetWindow(dlg.Handle(), GW_OWNER);
    Press(dlg.Button2);
  });
  Press(form->Button2);
  ASSERT_TRUE(check.ran);
  EXPECT_FALSE(enabledWhileOpen);
  EXPECT_FALSE(timerWhileOpen);
  EXPECT_EQ(captionWhileOpen, zel::kCurrentCaption);
  EXPECT_EQ(owner, form->Handle());
  EXPECT_EQ(at.right - at.left, dw);
  EXPECT_EQ(at.left, 100 - 2);  // trunc(-2.5)
  EXPECT_EQ(at.top, 120 + 3);   // trunc(3.5)
  // Cancel: live again, the window usable, the dialog released.
  EXPECT_TRUE(form->Enabled());
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Button2.Caption(), zel::kSpecifyCaption);
  EXPECT_EQ(zel::Form2, nullptr);
}

TEST_F(Clock, ClosingTheDialogHoldsTheLastTickUntilTheModeButtonRestartsTheClock) {
  const std::wstring file = dir / L"held.txt";
  WriteFile(file);
  form->Timer1Timer();
  const rtl::TDateTime held = form->StampingInstant();
  const std::wstring labels = form->Label3.Caption() + form->Label1.Caption();
  InDialog check([](zel::TForm2& dlg) {
    PostMessageW(dlg.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  });
  Press(form->Button2);
  ASSERT_TRUE(check.ran);
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(form->Button2.Caption(), zel::kCurrentCaption);

  Pump(700);  // two intervals and more: no tick moves the held instant
  EXPECT_EQ(form->StampingInstant(), held);
  EXPECT_EQ(form->Label3.Caption() + form->Label1.Caption(), labels);
  form->StampPath(file, form->StampingInstant());
  EXPECT_EQ(LocalTicks(WriteTime(file)), TicksOfInstant(held));
  EXPECT_EQ(LocalTicks(CreationTime(file)), TicksOfInstant(held));

  // A second press opens nothing and restarts the clock; the next tick reloads.
  Press(form->Button2);
  EXPECT_EQ(zel::Form2, nullptr);
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_EQ(form->Button2.Caption(), zel::kSpecifyCaption);
  EXPECT_EQ(form->StampingInstant(), held);
  EXPECT_TRUE(PumpUntil([&] { return form->StampingInstant() > held; }));
}
