// tests/main_window_clock_test.cpp
// The live clock and the mode button: ticks, the held instant, the dialog's opening.
#include <gtest/gtest.h>

#include <memory>

#include "datetime_dialog/form2.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"
#include "rtl/sysutils.h"
#include "support/gui.h"

using namespace testgui;

namespace {

class Clock : public testing::Test {
 protected:
  // Runs the command-line batch, answering its question a while after reading the instant the
  // window holds; the file must carry exactly that instant. Returns it.
  rtl::TDateTime Batch() {
    WriteFile(file);
    rtl::TDateTime read = 0;
    const Step answer = [&](HWND box) {
      read = form->StampingInstant();
      Sleep(60);
      return Press(Key::Enter)(box);
    };
    ModalDriver d({answer, Press(Key::Enter)});
    form->RunCommandLineBatch();
    const rtl::TDateTimeParts p = rtl::DecodeDateTime(read);
    const auto want = TicksOf(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond);
    EXPECT_EQ(LocalTicks(CreationTime(file)), want);
    EXPECT_EQ(LocalTicks(WriteTime(file)), want);
    return read;
  }
  TempDir dir;
  const std::wstring file = dir / L"f.txt";
  std::unique_ptr<zel::TForm1> form =
      std::make_unique<zel::TForm1>(std::vector<std::wstring>{file});
};

}  // namespace

TEST_F(Clock, ATickLoadsOneReadingIntoBothPartsAndTheLabelsAndALiveBatchWritesIt) {
  const rtl::TDateTime before = rtl::Now();
  form->Timer1Timer();
  const rtl::TDateTime after = rtl::Now(), t = form->StampingInstant();
  EXPECT_TRUE(form->ChosenDate == rtl::DateOf(t) && form->ChosenTime < 1 && t >= before &&
              t <= after);
  // The labels' format: the date-time dialog's test.

  ASSERT_TRUE(PumpUntil([&] { return form->StampingInstant() > after; })) << "the timer ticks";
  Batch();
}

TEST_F(Clock, TheModeButtonOpensTheDialogCentredAndModalThenHoldsTheInstantUntilPressedAgain) {
  const zel::TForm2 probe(*form);  // hidden; only its size is used
  // Both halves odd, one negative: truncation toward zero shows in both.
  form->SetBounds(100, 120, probe.Width() - 5, probe.Height() + 7);
  form->Timer1Timer();
  const rtl::TDateTime held = form->StampingInstant();
  const std::wstring labels = form->Label3.Caption() + form->Label1.Caption();
  RECT at{};
  bool modal = false;
  ASSERT_TRUE(InDateTimeDialog(*form, [&](zel::TForm2& dlg) {
    GetWindowRect(dlg.Handle(), &at);
    modal = !form->Enabled() && GetWindow(dlg.Handle(), GW_OWNER) == form->Handle();
    PostMessageW(dlg.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  }));
  EXPECT_TRUE(modal);
  EXPECT_EQ(at.left, 100 - 2);  // trunc(-2.5)
  EXPECT_EQ(at.top, 120 + 3);   // trunc(3.5)
  EXPECT_TRUE(form->Enabled() && !form->Timer1.Enabled());
  EXPECT_EQ(form->Button2.Caption(), zel::kCurrentCaption);
  Pump(700);  // past two ticks' time
  EXPECT_EQ(form->Label3.Caption() + form->Label1.Caption(), labels);
  EXPECT_EQ(Batch(), held);

  EXPECT_FALSE(InDateTimeDialog(*form, nullptr)) << "the second press opens nothing";
  EXPECT_EQ(form->Button2.Caption(), zel::kSpecifyCaption);
  EXPECT_TRUE(PumpUntil([&] { return form->StampingInstant() > held; }));
}
