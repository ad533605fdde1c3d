// main_window/form1.h
// The main window: the instant to write (clock or fixed), the targets, and the batches that
// hand them to the stamping engine.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialogs.h"
#include "framework/forms.h"
#include "main_window/progress_form.h"
#include "rtl/clock_win.h"
#include "rtl/datetime.h"
#include "settings/borvelune.h"
#include "stamping/journal.h"
#include "stamping/runner.h"
#include "stamping/stamping.h"

namespace zel {

extern const wchar_t kAskToStamp[];     // the question before a command-line or dropped batch
extern const wchar_t kDroppedStatus[];  // Edit1's text for those batches
extern const wchar_t kBatchRunning[];   // the answer to a new batch asked for during one
extern const wchar_t kSpecifyCaption[];  // Button2 in live mode
extern const wchar_t kCurrentCaption[];  // Button2 in fixed mode
extern const wchar_t kDatePattern[];     // Label3's format of the date
constexpr UINT kBatchEnded = WM_APP + 1;  // posted by a batch's worker as its last act
constexpr UINT kUndoCommand = 0x0010;    // the system menu's "直前の変更を元に戻す"

class TForm1 : public fw::TForm {
 public:
  // params: the command-line arguments after the program name, as given; relative ones are
  // made absolute at once against the directory the program was started in.
  explicit TForm1(std::vector<std::wstring> params);
  ~TForm1() override;

  fw::TLabel Label2;
  fw::TLabel Label3;
  fw::TLabel Label1;
  fw::TButton Button1;
  fw::TCloseButton BitBtn1;
  fw::TEdit Edit1;
  fw::TGroupBox RadioGroup1;
  fw::TRadioButton RadioButton1;
  fw::TRadioButton RadioButton2;
  fw::TButton Button2;
  fw::TCheckBox CheckBox1;
  fw::TOpenDialog OpenDialog1;
  fw::TTimer Timer1;
  Borvelune::TBorvelune Borvelune1;
  static constexpr fw::TBevel Bevel2{223, 26, 118, 51};

  // The instant every batch writes: date and time parts, set by the clock or the dialog.
  rtl::TDateTime ChosenDate = 0;
  rtl::TDateTime ChosenTime = 0;
  rtl::TDateTime StampingInstant() const;
  // What batches write for it: the clock's own universal reading while the instant is the
  // last tick's, otherwise the instant converted by the zone's rules for its date. None where
  // it cannot be stored.
  std::optional<FILETIME> StoredInstant() const;
  // A batch runs on a worker thread from its start until its end is handled here; meanwhile
  // the window takes no input and the clock is held.
  bool BatchRunning() const { return runner_.Running(); }
  // The window's rectangle, or where a restore puts it while minimised: its own rectangle is
  // then a parking place off the screen (or an icon slot).
  RECT RestoredRect() const;

  void ReportChanged(const TStampResult& result);
  // Before the window first appears, so it returns once the batch has been reported.
  void RunCommandLineBatch();
  void SetClockLabels();
  // Puts back the times the last batch overwrote (the system menu's item and Ctrl+Z).
  void UndoLastChange();

  // Event handlers.
  void Button1Click();
  void Button2Click();
  void Timer1Timer();
  void WMDropFiles(HDROP drop);
  std::wstring BrowseForFolder();

 protected:
  void FormCreate() override;
  void FormShow() override;
  void FormClose() override;
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  bool IsShortCut(const MSG& msg) override;

 private:
  void Calibrate();
  void LoadSettings();
  void CheckOperatingSystem();
  void DeleteScratchFiles();
  void StartBatch(std::vector<std::wstring> targets);
  // One change at a time: true, after telling the user, while a batch runs.
  bool RefusedWhileBatchRuns();
  std::function<void()> EndNotice() const;  // for the worker's last act: posts kBatchEnded
  void BatchStarted();
  void WaitForBatch();
  void BatchEnded();
  // A batch's or an undo's report; Ctrl+C on it copies every failure, not only those it shows.
  void ShowReport(const std::wstring& text, const TStampResult& result);
  TBatchRunner::TOutcome EndBatch();
  void HoldInput();
  void ReleaseInput();
  void HoldClock();
  void ResumeClock();
  void AddUndoMenuItem();
  void EnableUndoMenuItem(bool enabled);

  // Local minus stored, in days: measured once at start-up, and what the stored time comes
  // from where the system gives no zone.
  rtl::TDateTime TimeCorrection = 0;
  std::wstring scratchFile_;    // the calibration's, deleted at start-up and at close
  rtl::TClockReading clock_{};  // the last reading of the clock
  std::vector<std::wstring> params_;
  TBatchRunner runner_;
  std::unique_ptr<TProgressForm> progress_;  // reads runner_.Progress
  rtl::TDateTime batchInstant_ = 0;          // taken once as the batch starts
  bool clockWasLive_ = false;
  POINT restoredPlace_{};  // Left and Top when last not minimised: where a restore puts it
  HWND heldFocus_ = nullptr;
  std::vector<std::pair<fw::TControl*, bool>> heldControls_;  // and whether each was enabled
};

}  // namespace zel
