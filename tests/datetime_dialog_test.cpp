// tests/datetime_dialog_test.cpp
// The live clock and the date-time dialog, opened by the main window's mode button and driven
// inside its own modal loop: fields and spinners, OK and Cancel, files dropped as the shell
// drops them, and the instant a batch then writes.
#include <gtest/gtest.h>

#include "rtl/locale_win.h"
#include "rtl/sysutils.h"
#include "support/gui.h"

using namespace testgui;

namespace {

// Through the button's own message, where the framework catches what its handler throws.
void Push(const fw::TButton& button) { SendMessageW(button.Handle(), BM_CLICK, 0, 0); }

void Type(const fw::TEdit& edit, const std::wstring& keys) {
  SendMessageW(edit.Handle(), EM_SETSEL, 0, -1);
  for (wchar_t c : keys) SendMessageW(edit.Handle(), WM_CHAR, c, 1);
}

// The instant the spinners and the calendar hold.
rtl::TDateTime Spun(const zel::TForm2& d) {
  return rtl::ComposeDateTime(d.DateTimePicker1.Date(), rtl::EncodeTime(d.UpDown4.Position(),
                              d.UpDown5.Position(), d.UpDown6.Position(), 0));
}
// "h:n:s" as the fields show it, then the spinners' and the calendar's instant.
std::wstring Fields(const zel::TForm2& d) {
  return d.Edit4.Text() + L":" + d.Edit5.Text() + L":" + d.edit6.Text() + L" " +
         rtl::FormatDateTime(L"h:n:s yyyy-mm-dd", Spun(d));
}

struct Dialog : testing::Test {
  // The main window's instant and its clock's labels.
  std::wstring Main() const {
    return rtl::FormatDateTime(L"yyyy-mm-dd hh:nn:ss.zzz ", form->ChosenDate + form->ChosenTime) +
           form->Label3.Text() + form->Label1.Text();
  }
  void ExpectLive(bool live) {
    EXPECT_EQ(form->Timer1.Enabled(), live);
    EXPECT_EQ(form->Button2.Text(), live ? zel::kSpecifyCaption : zel::kCurrentCaption);
  }
  // Runs the command-line batch, answering its question a while after reading the instant the
  // window holds; the file must carry exactly that instant. Returns it.
  rtl::TDateTime Batch() {
    rtl::TDateTime read = 0;
    ModalDriver d({Press(Key::Enter, [&] { read = form->StampingInstant(), Sleep(60); }), Press(Key::Enter)});
    form->RunCommandLineBatch();
    EXPECT_EQ(LocalTicks(Times(file)[1]), Ticks(rtl::DateTimeToFileTime(read)));
    return read;
  }
  void SetUp() override {
    WriteFile(file);
    form->Timer1Timer();  // a known instant, as after the last tick
    held = Main();
  }
  ModalDriver unexpected{std::vector<Step>{}};  // a box no test asks for fails it at once
  TempDir dir;
  const std::wstring file = dir / L"stamped.txt";
  std::unique_ptr<zel::TForm1> form = std::make_unique<zel::TForm1>(std::vector<std::wstring>{file});
  std::wstring held;
};

}  // namespace

// Held fixed from the first press of the mode button until the second, live again after it;
// the title bar's close keeps the instant the dialog opened with.
TEST_F(Dialog, TheClockStaysFixedFromTheFirstPressUntilTheSecond) {
  const rtl::TDateTime fixed = form->StampingInstant();
  ASSERT_TRUE(InDateTimeDialog(*form, [](zel::TForm2& dlg) {
    PostMessageW(dlg.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  }));
  EXPECT_TRUE(IsWindowEnabled(form->Handle()));
  ExpectLive(false);
  Pump(700);  // past two ticks' time
  EXPECT_EQ(Main(), held);
  EXPECT_EQ(Batch(), fixed);
  EXPECT_FALSE(InDateTimeDialog(*form, nullptr)) << "the second press opens nothing";
  ExpectLive(true);
  ASSERT_TRUE(PumpUntil([&] { return form->StampingInstant() > fixed; })) << "the timer ticks";
  Batch();  // the reading of the last tick, exactly
  // As the clock read it, also in an hour the zone repeats, where its local reading converted
  // back could be either pass of that hour (datetime_dialog_test_repeated_hour).
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  EXPECT_LT(Ticks(now) - Times(file)[1], 600000000ull) << "within the last minute";
}

// OK takes the fields as typed (a leading zero kept) once every one is a number.
TEST_F(Dialog, OkHandsTheFieldsAsTypedToTheMainWindowCancelRestartsTheClock) {
  ASSERT_TRUE(InDateTimeDialog(*form, [&](zel::TForm2& dlg) {
    const std::wstring before = Main();
    ModalDriver d({Press(Key::Enter)});
    dlg.DateTimePicker1.SetDate(rtl::EncodeDate(2001, 2, 3));
    dlg.Edit5.SetText(L"05");
    dlg.edit6.SetText(L"");
    Push(dlg.Button1);
    // What the handler threw is shown, and the dialog goes on.
    EXPECT_TRUE(dlg.Visible() && Main() == before) << "an error, no change";
    EXPECT_EQ(d.seen.at(0).caption + L"|" + d.seen[0].text, L"Zelvoran|'' は正しい整数値ではありません");
    dlg.edit6.SetText(L"7");
    Type(dlg.Edit4, L"24");  // "24" is pulled back to the hour's maximum
    Push(dlg.Button1);
  }));
  EXPECT_EQ(Main(), L"2001-02-03 23:05:07.000 2001年 2月 3日23時 05分 7秒");
  ExpectLive(false);
  form->Button2.Click();  // live again
  ASSERT_TRUE(InDateTimeDialog(*form, [](zel::TForm2& dlg) { Push(dlg.Button2); }));
  ExpectLive(true);
}

TEST_F(Dialog, DropsAreRefusedOrGiveTheFilesWholeSecondOnceConfirmed) {
  const std::wstring ro = dir / L"読み取り専用.txt", july = dir / L"july.txt";
  SetLocalTimes(ro, 2015, 6, 7, 14, 22, 51, 700);
  SetLocalTimes(july, 2026, 7, 15, 14, 22, 51, 0);
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  // "d." and its neighbour "d", which Windows' own reading of "d." would reach.
  const std::wstring dotted = dir / L"d.";
  SetLocalTimes(L"\\\\?\\" + dotted, 2012, 3, 4, 9, 8, 7, 0);
  SetLocalTimes(dir / L"d", 2013, 1, 1, 1, 1, 1, 0);
  struct Row {
    std::vector<std::wstring> paths;
    Key answer;
    std::wstring text, fields;  // the first box's text; fields empty: unchanged
  };
  // July's offset whatever the month now, under Berlin (an entry of its own).
  const Row rows[] = {
      {{ro, july}, Key::Enter, zel::kOneFileOnly, L""},
      {{dir.path()}, Key::Enter, zel::kNoFolders, L""},
      {{ro}, Key::Escape, zel::kAskToCopyDate, L""},
      {{ro}, Key::Enter, zel::kAskToCopyDate, L"14:22:51 14:22:51 2015-06-07"},
      {{july}, Key::Enter, zel::kAskToCopyDate, L"14:22:51 14:22:51 2026-07-15"},
      {{dotted}, Key::Enter, zel::kAskToCopyDate, L"9:8:7 9:8:7 2012-03-04"},
  };
  ASSERT_TRUE(InDateTimeDialog(*form, [&](zel::TForm2& dlg) {
    for (const Row& r : rows) {
      SCOPED_TRACE(r.paths[0]);
      const std::wstring before = Fields(dlg);
      ModalDriver d({Press(r.answer), Press(Key::Enter)});
      // Sent, not posted: back here, the handler has returned and its boxes are answered.
      SendMessageW(dlg.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(ShellDrop(r.paths)), 0);
      EXPECT_EQ(Fields(dlg), r.fields.empty() ? before : r.fields);
      Texts texts{r.text, rtl::DateTimeToStr(Spun(dlg)) + zel::kDateCopied};
      texts.resize(r.fields.empty() ? 1 : 2);
      EXPECT_EQ(d.texts(), texts);
    }
  }));
  EXPECT_EQ(Main(), held) << "nothing reaches the main window before OK";
}
