// main_window/form1_clock.cpp
// The live clock and the mode button.
#include <memory>

#include "datetime_dialog/form2.h"
#include "main_window/form1.h"
#include "rtl/clock_win.h"

namespace zel {

void TForm1::Timer1Timer() {
  // One read of the clock, so a tick across midnight cannot pair yesterday with today.
  clock_ = rtl::ReadClock();
  ChosenDate = clock_.Date;
  ChosenTime = clock_.Time;
  SetClockLabels();
}

// While a batch runs the labels show the instant being written.
void TForm1::HoldClock() {
  clockWasLive_ = Timer1.Enabled();
  Timer1.SetEnabled(false);
}

void TForm1::ResumeClock() { Timer1.SetEnabled(clockWasLive_); }

void TForm1::Button2Click() {
  if (!Timer1.Enabled()) {
    // The labels keep the fixed values until the next tick reloads them.
    Timer1.SetEnabled(true);
    Button2.SetCaption(kSpecifyCaption);
    return;
  }
  Timer1.SetEnabled(false);
  Button2.SetCaption(kCurrentCaption);
  // A fresh dialog for every opening: it keeps nothing between them.
  auto dialog = std::make_unique<TForm2>(*this);
  // Centred by outer sizes; a half pixel is dropped toward zero, also where the dialog is the
  // larger (trunc, not floor).
  dialog->SetPosition(Left() + static_cast<int>((Width() - dialog->Width()) / 2.0),
                      Top() + static_cast<int>((Height() - dialog->Height()) / 2.0));
  dialog->ShowModal();
}

}  // namespace zel
