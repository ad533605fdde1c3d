// datetime_dialog/form2.cpp
#include "datetime_dialog/form2.h"

#include <cmath>

#include "framework/dialogs.h"
#include "framework/shell.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "rtl/sysutils.h"

namespace zel {

const wchar_t kDialogCaption[] = L"年月日時分秒を指定する";
const wchar_t kOneFileOnly[] = L"一つのファイルにして下さい";
const wchar_t kNoFolders[] = L"ディレクトリでは解りません";
const wchar_t kAskToCopyDate[] = L"年月日時分秒を、ファイルの日付にセットしますか？";
const wchar_t kDateCopied[] = L"にセットしました";

namespace {

// Out-of-range numbers are pulled back into range. Setting the text runs the change handler
// again, on a text that then passes.
void ClampField(fw::TEdit& field, int max) {
  const std::wstring text = field.Text();
  if (text.empty()) return;
  const int v = rtl::StrToInt(text);
  if (v < 0) {
    field.SetText(L"0");
  } else if (v > max) {
    field.SetText(rtl::IntToStr(max));
  }
}

// The instant cut to its whole second. The file time arrives as a double about a microsecond
// coarse, so a stored whole second may read as a hair below it: that hair is forgiven.
rtl::TDateTime WholeSecond(rtl::TDateTime value) {
  const double secs = std::floor(rtl::TimeOf(value) * rtl::SecsPerDay + 1e-5);
  const int s = secs >= rtl::SecsPerDay ? 86399 : static_cast<int>(secs);
  return rtl::ComposeDateTime(rtl::DateOf(value),
                              rtl::EncodeTime(s / 3600, s / 60 % 60, s % 60, 0));
}

}  // namespace

TForm2::TForm2(TForm1& owner)
    : fw::TForm({kDialogCaption, 199, 119, 224, 119, false}, &owner),
      Label4(*this, 20, 36, 12, 12, L"時"),
      Label5(*this, 84, 36, 12, 12, L"分"),
      Label6(*this, 148, 36, 12, 12, L"秒"),
      Edit4(*this, 12, 52, 25, 20, L"0"),
      Edit5(*this, 76, 52, 25, 20, L"0"),
      edit6(*this, 140, 52, 25, 20, L"0"),
      UpDown4(*this, 44, 46, 16, 30, 0, 23, 0),
      UpDown5(*this, 108, 46, 16, 30, 0, 59, 0),
      UpDown6(*this, 172, 46, 16, 30, 0, 59, 0),
      Button1(*this, 12, 84, 75, 25, L"OK"),
      DateTimePicker1(*this, 12, 8, 178, 20),
      Button2(*this, 112, 84, 75, 25, L"キャンセル"),
      main_(owner) {
  Edit4.OnChange = [this] { Edit4Change(); };
  Edit5.OnChange = [this] { Edit5Change(); };
  edit6.OnChange = [this] { edit6Change(); };
  UpDown4.OnClick = [this] { UpDown4Click(); };
  UpDown5.OnClick = [this] { UpDown5Click(); };
  UpDown6.OnClick = [this] { UpDown6Click(); };
  Button1.OnClick = [this] { Button1Click(); };
  Button2.OnClick = [this] { Button2Click(); };
  Created();
}

void TForm2::FormCreate() {
  const rtl::TClockReading now = rtl::ReadClock();
  DateTimePicker1.SetDate(now.Date);
  ShowTime(now.Time);
  DragAcceptFiles(Handle(), TRUE);
}

// Fields from a time of day, and the spinners from the fields.
void TForm2::ShowTime(rtl::TDateTime time) {
  Edit4.SetText(rtl::FormatDateTime(L"h", time));
  Edit5.SetText(rtl::FormatDateTime(L"n", time));
  edit6.SetText(rtl::FormatDateTime(L"s", time));
  UpDown4.SetPosition(rtl::StrToInt(Edit4.Text()));
  UpDown5.SetPosition(rtl::StrToInt(Edit5.Text()));
  UpDown6.SetPosition(rtl::StrToInt(edit6.Text()));
}

void TForm2::UpDown4Click() { Edit4.SetText(rtl::IntToStr(UpDown4.Position())); }
void TForm2::UpDown5Click() { Edit5.SetText(rtl::IntToStr(UpDown5.Position())); }
void TForm2::UpDown6Click() { edit6.SetText(rtl::IntToStr(UpDown6.Position())); }

void TForm2::Edit4Change() { ClampField(Edit4, 23); }
void TForm2::Edit5Change() { ClampField(Edit5, 59); }
void TForm2::edit6Change() { ClampField(edit6, 59); }

void TForm2::Button1Click() {
  const std::wstring h = Edit4.Text();
  const std::wstring n = Edit5.Text();
  const std::wstring s = edit6.Text();
  // Every field is converted before anything is written, so a bad one changes nothing. The
  // time is encoded, not parsed: a parse would depend on the user's time separator.
  const rtl::TDateTime time =
      rtl::EncodeTime(rtl::StrToInt(h), rtl::StrToInt(n), rtl::StrToInt(s), 0);
  const rtl::TDateTime date = rtl::DateOf(DateTimePicker1.Date());
  const std::wstring dateText = rtl::FormatDateTime(kDatePattern, date);
  const std::wstring timeText = h + L"時 " + n + L"分 " + s + L"秒";

  main_.ChosenDate = date;
  main_.ChosenTime = time;
  main_.Label3.SetCaption(dateText);
  main_.Label1.SetCaption(timeText);
  Close();
}

void TForm2::Button2Click() {
  main_.Timer1.SetEnabled(true);
  main_.Button2.SetCaption(kSpecifyCaption);
  Close();
}

bool TForm2::HandleMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg != WM_DROPFILES) return false;
  WMDropFiles(reinterpret_cast<HDROP>(wp));
  result = 0;
  return true;
}

void TForm2::WMDropFiles(HDROP drop) {
  fw::TDropFiles files(drop);
  SetForegroundWindow(Handle());
  const unsigned count = files.Count();
  if (count == 0) return;
  if (count > 1) {
    files.Finish();
    fw::ShowMessageAt(*this, kOneFileOnly);
    return;
  }
  const std::wstring path = files.Path(0);
  files.Finish();
  if (rtl::DirectoryExists(path)) {
    fw::ShowMessageAt(*this, kNoFolders);
    return;
  }

  rtl::TDateTime dt = 0;
  try {
    // Read through the attributes: a read-only file or one another program holds open still
    // has a date. Shown as viewers show it, by the zone's rules for the file's own date.
    const FILETIME local = rtl::UniversalToLocal(rtl::FileAgeUniversal(path));
    dt = WholeSecond(rtl::FileTimeToDateTimePrecise(local));
  } catch (const rtl::EInOutError& e) {
    fw::ShowMessageAt(*this, e.Message());
    return;
  } catch (const rtl::Exception& e) {
    fw::ShowMessageAt(*this, L"ファイル「" + path + L"」の更新日時を読み取れません。\n" +
                                 e.Message());
    return;
  }

  // The calendar refuses dates outside its range (before 1752-09-14 under Wine): try it.
  const rtl::TDateTime shown = DateTimePicker1.Date();
  DateTimePicker1.SetDate(rtl::DateOf(dt));
  const bool fits = DateTimePicker1.Date() == rtl::DateOf(dt);
  DateTimePicker1.SetDate(shown);
  if (!fits) {
    fw::ShowMessageAt(*this, L"ファイル「" + path + L"」の日付 " + rtl::DateTimeToStr(dt) +
                                 L" はカレンダーで扱えません。");
    return;
  }

  if (fw::MessageDlgAt(*this, kAskToCopyDate, fw::mbOK | fw::mbCancel) != fw::mrOk) return;
  DateTimePicker1.SetDate(rtl::DateOf(dt));
  ShowTime(rtl::TimeOf(dt));
  fw::ShowMessageAt(*this, rtl::DateTimeToStr(dt) + kDateCopied);
}

}  // namespace zel
