// main_window/progress_form.h
// The progress of a long batch: counts so far, the folder being walked, the time elapsed, and a
// button that stops the batch. It reads the worker's shared counts on a timer and never hears
// from the worker itself.
#pragma once
#include <windows.h>

#include <functional>

#include "framework/forms.h"
#include "stamping/stamping.h"

namespace zel {

class TProgressForm : public fw::TForm {
 public:
  // Created hidden as a batch starts; appears, centred on ownerRect (the owner's rectangle, or
  // where a restore puts it while minimised), once the batch has run half a second, so short
  // batches show nothing.
  TProgressForm(fw::TForm& owner, TBatchProgress& progress, std::function<RECT()> ownerRect);
  ~TProgressForm() override;

  fw::TLabel Label1;  // changed so far
  fw::TLabel Label2;  // not changed
  fw::TLabel Label3;
  fw::TPathLabel Label4;  // the folder being walked
  fw::TLabel Label5;      // time elapsed
  fw::TMarqueeBar ProgressBar1;
  fw::TButton Button1;  // "中止"
  fw::TTimer Timer1;

  // Asks the batch to stop after the entry being changed.
  void Button1Click();
  void Timer1Timer();

 protected:
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;

 private:
  void Appear();
  void SetTaskbarProgress(bool busy);

  fw::TForm& owner_;
  std::function<RECT()> ownerRect_;
  TBatchProgress& progress_;
  const ULONGLONG started_;
  HWND taskbarButton_ = nullptr;  // the window whose taskbar button shows the progress
};

}  // namespace zel
