// main_window/form1_clock.cpp
// The live clock and the mode button.
#include "main_window/form1.h"
#include "rtl/clock_win.h"

namespace zel {

void TForm1::Timer1Timer() {
  // One read of the clock, so a tick across midnight cannot pair yesterday with today.
  rtl::TClockReading now = rtl::ReadClock();
  ChosenDate = now.Date;
  ChosenTime = now.Time;
  SetClockLabels();
}

void TForm1::Button2Click() {}

}  // namespace zel
