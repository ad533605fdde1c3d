// app/main.cpp
#include <windows.h>

#include "framework/application.h"
#include "main_window/form1.h"
#include "rtl/dllsearch_win.h"
#include "rtl/params.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  rtl::RestrictDllSearch();
  fw::Application.Initialize();
  fw::Application.Title = L"Zelvoran";

  try {
    // Not CommandLineToArgvW: it reads \" as an escaped quote, so the shell's "D:\" would lose
    // its backslash and swallow the next argument.
    zel::TForm1 Form1(rtl::ParamStrs(GetCommandLineW()));
    fw::Application.Run(Form1);
  } catch (...) {
    // The main window could not be made at all: say why, and end.
    fw::Application.HandleException();
    return 1;
  }
  return 0;
}
