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
const wchar_t kBatchRunning[] =
    L"変更中のため、新しい変更は始められません。\r\n"
    L"止めるには、進み具合の画面の「中止」を押してください。";
const wchar_t kSpecifyCaption[] = L"年月日時分秒を指定する";
const wchar_t kCurrentCaption[] = L"現在の年月日時分秒";
const wchar_t kDatePattern[] = L"yyyy\"年\" m\"月\" d\"日\"";

namespace {

// Posted by the worker as its last act.
const wchar_t kSettingsName[] = L"Zelvoran";
const wchar_t kTimePattern[] = L"h\"時\" n\"分\" s\"秒\"";

std::vector<std::wstring> Absolute(std::vector<std::wstring> paths) {
  // Made absolute now, against the folder the program started in, with each name as written:
  // the batch decides later which file a name like "x." reaches.
  for (std::wstring& p : paths) {
    std::wstring full = rtl::LiteralFullPath(p);
    p = full.empty() ? rtl::ExpandFileName(p) : std::move(full);
  }
  return paths;
}

}  // namespace

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
  AddBevel(Bevel2);
  RadioButton1.SetChecked(true);
  // The radio pair is a group of its own: arrow keys stay inside it.
  Button2.StartGroup();
  OpenDialog1.Title = L"123";
  OpenDialog1.Filter = L"*.*|*.*";
  Button1.OnClick = [this] { Button1Click(); };
  Button2.OnClick = [this] { Button2Click(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  restoredPlace_ = {Left(), Top()};
  Created();
}

TForm1::~TForm1() = default;

rtl::TDateTime TForm1::StampingInstant() const {
  // Composed, not added: for a date before 1899-12-30 the plain sum would land a day late.
  return rtl::ComposeDateTime(ChosenDate, ChosenTime);
}

RECT TForm1::RestoredRect() const {
  RECT r{};
  GetWindowRect(Handle(), &r);
  if (!IsIconic(Handle())) return r;
  // Only the size is taken from the placement: its place counts from the work area on Windows.
  WINDOWPLACEMENT wp{};
  wp.length = sizeof(wp);
  GetWindowPlacement(Handle(), &wp);
  const RECT& n = wp.rcNormalPosition;
  return {restoredPlace_.x, restoredPlace_.y, restoredPlace_.x + (n.right - n.left),
          restoredPlace_.y + (n.bottom - n.top)};
}

std::optional<FILETIME> TForm1::StoredInstant() const {
  // Converting the clock's local reading back would be an hour off in the hour repeated in
  // autumn, and taken from the zone as it stands now rather than at the reading.
  if (ChosenDate == clock_.Date && ChosenTime == clock_.Time) return clock_.Universal;
  return StoredTime(StampingInstant(), TimeCorrection);
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
  clock_ = rtl::ReadClock();
  ChosenDate = clock_.Date;
  ChosenTime = clock_.Time;
  SetClockLabels();
  DragAcceptFiles(Handle(), TRUE);
  AddUndoMenuItem();
  DeleteScratchFiles();
  CheckOperatingSystem();
}

void TForm1::Calibrate() {
  try {
    const TCalibration c = zel::Calibrate(rtl::ExeName());
    TimeCorrection = c.Correction;
    scratchFile_ = c.ScratchFile;
    if (!c.Message.empty()) fw::Application.ShowException(rtl::EInOutError(c.Message, 0));
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
    // A position whose title bar cannot be grabbed (a monitor since removed, a smaller
    // resolution, a Top above the screen) would leave the window out of the mouse's reach.
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
  for (const std::wstring& path : {ScratchFileBeside(rtl::ExeName()), scratchFile_}) {
    if (!path.empty() && rtl::FileExists(path)) rtl::RemoveFile(path);
  }
}

void TForm1::FormShow() { RunCommandLineBatch(); }

void TForm1::FormClose() {
  // A batch is stopped as by its stop button, and its worker has finished before the close
  // steps run. What it met on the way is not reported: the program is ending.
  if (BatchRunning()) {
    runner_.Stop();
    EndBatch();
  }
  // A failing step is reported; the other still runs and the window closes all the same.
  try {
    DeleteScratchFiles();
  } catch (...) {
    fw::Application.HandleException();
  }
  try {
    const RECT at = RestoredRect();
    Borvelune::TBorvWin rec{at.left, at.top, L"", CheckBox1.Checked() ? L"on" : L"", L""};
    Borvelune::SaveWinSettings(kSettingsName, rec);
  } catch (...) {
    fw::Application.HandleException();
  }
}

bool TForm1::HandleMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  switch (msg) {
    case WM_DROPFILES:
      WMDropFiles(reinterpret_cast<HDROP>(wp));
      break;
    case kBatchEnded:
      BatchEnded();
      break;
    case WM_ENDSESSION:
      // The process may end as soon as this returns: close now, as the user would. The question
      // before it (WM_QUERYENDSESSION) stops nothing, since the end may still be cancelled.
      if (wp) Close();
      break;
    case WM_MOVE:
      // Kept rather than asked for at close: GetWindowPlacement gives the restored place in
      // work-area coordinates on Windows, in screen coordinates on Wine.
      if (!IsIconic(Handle())) restoredPlace_ = {Left(), Top()};
      return false;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) != kUndoCommand) return false;
      UndoLastChange();
      break;
    default:
      return false;
  }
  result = 0;
  return true;
}

// ---- batches --------------------------------------------------------------------------

void TForm1::StartBatch(std::vector<std::wstring> targets) {
  // Taken once: the whole batch writes this instant with this option, whatever happens to the
  // window meanwhile, and the report names it.
  batchInstant_ = StampingInstant();
  TBatch batch;
  batch.Targets = std::move(targets);
  batch.Stored = StoredInstant();
  batch.FolderOption = CheckBox1.Checked();
  batch.Journal = JournalFile();
  batch.InstantText = rtl::DateTimeToStr(batchInstant_);
  runner_.Start(std::move(batch), EndNotice());
  BatchStarted();
}

std::function<void()> TForm1::EndNotice() const {
  const HWND self = Handle();  // the worker must not touch the form itself
  return [self] { PostMessageW(self, kBatchEnded, 0, 0); };
}

void TForm1::BatchStarted() {
  HoldInput();
  EnableUndoMenuItem(false);
  progress_ = std::make_unique<TProgressForm>(*this, runner_.Progress,
                                              [this] { return RestoredRect(); });
}

// A modal loop of its own: everything keeps running until the batch has ended and its report
// has been answered.
void TForm1::WaitForBatch() {
  fw::Application.RunUntil(Handle(), [this] { return !BatchRunning(); });
}

void TForm1::BatchEnded() {
  if (!BatchRunning()) return;  // ended by a close already
  // A failure on the worker ended the batch; it is shown as any handler's error, with no report.
  const TBatchRunner::TOutcome outcome = EndBatch();
  if (outcome.Error) std::rethrow_exception(outcome.Error);
  if (outcome.Undo)
    ShowReport(UndoReportText(outcome.Result), outcome.Result);
  else
    ReportChanged(outcome.Result);
}

bool TForm1::RefusedWhileBatchRuns() {
  if (!BatchRunning()) return false;
  fw::ShowMessageAt(*this, kBatchRunning);
  return true;
}

TBatchRunner::TOutcome TForm1::EndBatch() {
  TBatchRunner::TOutcome outcome = runner_.Finish();
  progress_.reset();
  ReleaseInput();
  EnableUndoMenuItem(true);
  return outcome;
}

void TForm1::HoldInput() {
  HoldClock();
  heldFocus_ = GetFocus();
  heldControls_.clear();
  for (fw::TControl* c : std::initializer_list<fw::TControl*>{
           &Button1, &BitBtn1, &Edit1, &RadioButton1, &RadioButton2, &Button2, &CheckBox1}) {
    heldControls_.emplace_back(c, c->Enabled());
    c->SetEnabled(false);
  }
}

void TForm1::ReleaseInput() {
  for (const auto& [control, enabled] : heldControls_) control->SetEnabled(enabled);
  heldControls_.clear();
  ResumeClock();
  // Disabling the focused control took the focus away.
  if (heldFocus_ && IsChild(Handle(), heldFocus_) && GetActiveWindow() == Handle())
    ::SetFocus(heldFocus_);
}

void TForm1::RunCommandLineBatch() {
  if (params_.empty() || BatchRunning()) return;
  if (fw::MessageDlgAt(*this, kAskToStamp, fw::mbYes | fw::mbNo) != fw::mrYes) return;
  Edit1.SetText(kDroppedStatus);
  StartBatch(params_);
  WaitForBatch();
}

void TForm1::ReportChanged(const TStampResult& result) {
  ShowReport(ReportText(rtl::DateTimeToStr(batchInstant_), result), result);
}

void TForm1::ShowReport(const std::wstring& text, const TStampResult& result) {
  // Made only when copied: the failures are kept once, in the result.
  fw::ShowMessageAt(*this, text, [&result] { return FailureListText(result); });
}

}  // namespace zel
