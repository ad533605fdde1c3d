// settings/borvelune.cpp
#include "settings/borvelune.h"

#include "framework/registry.h"
#include "rtl/files_win.h"

namespace Borvelune {

namespace {

std::wstring KeyOf(const std::wstring& name) { return L"Software\\Borvelune\\" + name; }

// Reads one value, falling back to its default; only the first failure is reported.
template <typename T, typename Read>
void Load(T& field, const T& fallback, Read read, std::wstring* firstError, bool& reported) {
  try {
    field = read();
  } catch (const fw::ERegistryException& e) {
    field = fallback;
    if (firstError != nullptr && !reported) *firstError = e.Message();
    reported = true;
  }
}

}  // namespace

void SaveWinSettings(const std::wstring& name, const TBorvWin& rec) {
  fw::TRegistry reg;
  if (!reg.OpenKey(KeyOf(name), true))
    throw fw::ERegistryException(L"レジストリのキー '" + KeyOf(name) + L"' を作成できません: " +
                                 rtl::SysErrorMessage(static_cast<unsigned long>(reg.LastError())));
  reg.WriteInteger(L"Left", rec.Left);
  reg.WriteInteger(L"Top", rec.Top);
  reg.WriteString(L"Support", rec.Support);
  reg.WriteString(L"A1", rec.A1);
  reg.WriteString(L"B1", rec.B1);
}

TBorvWin LoadWinSettings(const std::wstring& name, const TBorvWin& defaults,
                         std::wstring* firstError) {
  fw::TRegistry reg;
  if (!reg.KeyExists(KeyOf(name))) return defaults;
  if (!reg.OpenKeyReadOnly(KeyOf(name))) {
    if (firstError != nullptr)
      *firstError = L"レジストリのキー '" + KeyOf(name) + L"' を開けません: " +
                    rtl::SysErrorMessage(static_cast<unsigned long>(reg.LastError()));
    return defaults;
  }
  TBorvWin rec = defaults;
  bool reported = false;
  auto integer = [&reg](const wchar_t* value) { return [&reg, value] { return reg.ReadInteger(value); }; };
  auto text = [&reg](const wchar_t* value) { return [&reg, value] { return reg.ReadString(value); }; };
  Load(rec.Left, defaults.Left, integer(L"Left"), firstError, reported);
  Load(rec.Top, defaults.Top, integer(L"Top"), firstError, reported);
  Load(rec.Support, defaults.Support, text(L"Support"), firstError, reported);
  Load(rec.A1, defaults.A1, text(L"A1"), firstError, reported);
  Load(rec.B1, defaults.B1, text(L"B1"), firstError, reported);
  return rec;
}

}  // namespace Borvelune
