// settings/borvelune.h
// The main window's position and options under HKCU\Software\Borvelune\<program name>.
// The stored form is fixed: settings written by earlier versions must keep loading.
#pragma once
#include <string>

namespace Borvelune {

struct TBorvWin {
  int Left;
  int Top;
  std::wstring Support;
  std::wstring A1;
  std::wstring B1;
};

// Writes Left and Top as REG_DWORD, Support, A1 and B1 as REG_SZ, creating the key.
// Throws fw::ERegistryException on failure.
void SaveWinSettings(const std::wstring& name, const TBorvWin& rec);

// The defaults when the key does not exist. Otherwise each value that is damaged (a missing
// or non-integer Left/Top, a string value of another type) takes its default, and the first
// such error's message goes to *firstError, which is left alone when there is none. Missing
// string values read as empty.
TBorvWin LoadWinSettings(const std::wstring& name, const TBorvWin& defaults,
                         std::wstring* firstError = nullptr);

// Placed on the main window as Borvelune1; it has no behaviour of its own.
class TBorvelune {};

}  // namespace Borvelune
