// app/main.cpp
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "framework/application.h"
#include "main_window/form1.h"
#include "rtl/dllsearch_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  rtl::RestrictDllSearch();
  fw::Application.Initialize();
  fw::Application.Title = L"Zelvoran";

  std::vector<std::wstring> params;
  int argc = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    params.assign(argv + 1, argv + argc);
    LocalFree(argv);
  }
  try {
    zel::TForm1 form(std::move(params));
    fw::Application.Run(form);
  } catch (...) {
    // The main window could not be made at all: say why, and end.
    fw::Application.HandleException();
    return 1;
  }
  return 0;
}
