// main_window/form1.cpp
#include "main_window/form1.h"

#include "framework/application.h"
#include "framework/screen.h"
#include "framework/shell.h"
#include "rtl/clock_win.h"
#include "rtl/files_win.h"
#include "rtl/locale_win.h"
#include "rtl/sysutils.h"

namespace zel {

const wchar_t kAskToStamp[] = L"日付けの変更が指定されました実行しても宜しいですか？";
const wchar_t kDroppedStatus[] = L"ファイルをドラッグ＆ドロップしました";
const wchar_t kSpecifyCaption[] = L"年月日時分秒を指定する";
const wchar_t kCurrentCaption[] = L"現在の年月日時分秒";
const wchar_t kDatePattern[] = L"yyyy\"年\" m\"月\" d\"日\"";

namespace {

const wchar_t kSettingsName[] = L"Zelvoran";
const wchar_t kScratchName[] = L"Zelvoran.dat";
const wchar_t kTimePattern[] = L"h\"時\" n\"分\" s\"秒\"";

std::vector<std::wstring> Absolute(std::vector<std::wstring> paths) {
  for (std::wstring& p : paths) p = rtl::ExpandFileName(p);
  return paths;
}

}  // namespace

TForm1* Form1 = nullptr;

TForm1::TForm1(std::vector<std::wstring> params)
    : fw::TForm({L"Zelvoran\u3000Ver0.3", 347, 155, 200, 120, true}, nullptr),
      Label2(*this, 6, 29, 202, 12, L"ファイルの日付を右の日付に変更します"),
      Label3(*this, 235, 30, 33, 12, L"Label3", true),
      Label1(*this, 235, 54, 33, 12, L"Label1", true),
      Button1(*this, 176, 123, 75, 25, L"変更ファイル"),
      BitBtn1(*this, 268, 123, 75, 25),
      Edit1(*this, 3, 3, 340, 20, L"", true),
      RadioGroup1(*this, 16, 80, 105, 65, L"変更方法"),
      RadioButton1(*this, 28, 98, 85, 17, L"ディレクトリ", true),
      RadioButton2(*this, 28, 120, 89, 17, L"1ファイル", false),
      Button2(*this, 176, 88, 167, 25, kSpecifyCaption),
      CheckBox1(*this, 12, 52, 201, 17, L"ディレクトリの日付も変更する（ＮＴ）"),
      Timer1(*this, 300, true),
      params_(Absolute(std::move(params))) {
  Form1 = this;
  AddBevel(Bevel2);
  RadioButton1.SetChecked(true);
  OpenDialog1.Title = L"123";
  OpenDialog1.Filter = L"*.*|*.*";
  Button1.OnClick = [this] { Button1Click(); };
  Button2.OnClick = [this] { Button2Click(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Created();
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

rtl::TDateTime TForm1::StampingInstant() const {
  // Composed, not added: for a date before 1899-12-30 the plain sum would land a day late.
  return rtl::ComposeDateTime(ChosenDate, ChosenTime);
}

void TForm1::SetClockLabels() {
  Label3.SetCaption(rtl::FormatDateTime(kDatePattern, ChosenDate));
  Label1.SetCaption(rtl::FormatDateTime(kTimePattern, ChosenTime));
}

// ---- start-up and close ---------------------------------------------------------------

void TForm1::FormCreate() {
  // Each step stands on its own: a failure is reported and the later steps still run.
  Calibrate();
  LoadSettings();
  rtl::TClockReading now = rtl::ReadClock();
  ChosenDate = now.Date;
  ChosenTime = now.Time;
  SetClockLabels();
  DragAcceptFiles(Handle(), TRUE);
  AddUndoMenuItem();
  DeleteScratchFiles();
  CheckOperatingSystem();
}

void TForm1::Calibrate() {
  try {
    std::wstring error = stamper_.Calibrate(rtl::ExeName());
    if (!error.empty()) fw::Application.ShowException(rtl::EInOutError(error, 0));
  } catch (...) {
    fw::Application.HandleException();
  }
}

void TForm1::LoadSettings() {
  try {
    Borvelune::TBorvWin defaults{Left(), Top(), L"", L"", L""};
    std::wstring error;
    Borvelune::TBorvWin loaded = Borvelune::LoadWinSettings(kSettingsName, defaults, &error);
    // Bounded first so that the far edges cannot overflow: a position that far out is on no
    // monitor either way.
    constexpr int kFarOff = 1 << 28;
    auto bounded = [](int v) { return v < -kFarOff ? -kFarOff : v > kFarOff ? kFarOff : v; };
    const int left = bounded(loaded.Left);
    const int top = bounded(loaded.Top);
    // A position on a monitor since removed, or past a smaller resolution, would hide the
    // window; one with any part on a work area is kept.
    RECT placed = fw::PlaceOnScreen(RECT{left, top, left + Width(), top + Height()});
    SetPosition(placed.left, placed.top);
    CheckBox1.SetChecked(loaded.A1 == L"on");
    // Only the first damaged value is reported; the others took their defaults silently.
    if (!error.empty()) fw::Application.ShowException(rtl::Exception(error));
  } catch (...) {
    fw::Application.HandleException();
  }
}

void TForm1::CheckOperatingSystem() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL ok = GetVersionExW(&info);
#pragma GCC diagnostic pop
  if (!ok) {
    Close();
    return;
  }
  // The Windows 95 family has no way to open a folder for its time.
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    CheckBox1.SetChecked(false);
    CheckBox1.SetEnabled(false);
  }
}

void TForm1::DeleteScratchFiles() {
  std::wstring besideExe = rtl::ExtractFileDir(rtl::ExeName()) + L"\\" + kScratchName;
  for (const std::wstring& path : {besideExe, stamper_.ScratchFile()}) {
    if (!path.empty() && rtl::FileExists(path)) rtl::RemoveFile(path);
  }
}

void TForm1::FormShow() { RunCommandLineBatch(); }

void TForm1::FormClose() {
  // A failing step is reported; the other still runs and the window closes all the same.
  try {
    DeleteScratchFiles();
  } catch (...) {
    fw::Application.HandleException();
  }
  try {
    // A minimised window's own rectangle is a parking place off the screen (or an icon slot):
    // the place it will be restored to is the one to keep.
    RECT r{};
    WINDOWPLACEMENT wp{};
    wp.length = sizeof(wp);
    if (IsIconic(Handle()) && GetWindowPlacement(Handle(), &wp)) {
      r = wp.rcNormalPosition;
      // That rectangle is in its monitor's work-area coordinates.
      MONITORINFO mi{};
      mi.cbSize = sizeof(mi);
      if (GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &mi))
        OffsetRect(&r, mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
    } else {
      r = RECT{Left(), Top(), 0, 0};
    }
    Borvelune::TBorvWin rec{r.left, r.top, L"", CheckBox1.Checked() ? L"on" : L"", L""};
    Borvelune::SaveWinSettings(kSettingsName, rec);
  } catch (...) {
    fw::Application.HandleException();
  }
}

bool TForm1::HandleMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg == WM_DROPFILES) {
    WMDropFiles(reinterpret_cast<HDROP>(wp));
    result = 0;
    return true;
  }
  if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == kUndoCommand) {
    UndoLastChange();
    result = 0;
    return true;
  }
  return false;
}

// ---- batches --------------------------------------------------------------------------

void TForm1::BeginBatch() {
  stamper_.Result = TStampResult{};
  BeginJournal();
}

void TForm1::StampPath(const std::wstring& path, rtl::TDateTime instant) {
  stamper_.FolderOption = CheckBox1.Checked();
  stamper_.StampPath(path, instant);
}

void TForm1::RunCommandLineBatch() {
  if (params_.empty()) return;
  if (fw::MessageDlgAt(*this, kAskToStamp, fw::mbYes | fw::mbNo) != fw::mrYes) return;
  Edit1.SetText(kDroppedStatus);
  BeginBatch();
  for (const std::wstring& p : params_) StampPath(p, StampingInstant());
  ReportChanged();
}

void TForm1::ReportChanged() {
  fw::ShowMessageAt(*this, ReportText(rtl::DateTimeToStr(StampingInstant()), stamper_.Result) +
                               EndJournal());
}

}  // namespace zel
