// rtl/locale_win.cpp
#include "rtl/locale_win.h"

#include <windows.h>

namespace rtl {
namespace {

// Keeps the default when the locale does not have the item.
void Read(LCTYPE type, std::wstring& field) {
  const int size = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, nullptr, 0);
  if (size <= 1) return;
  std::wstring s(static_cast<size_t>(size), L'\0');
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, &s[0], size);
  if (n <= 1) return;
  s.resize(static_cast<size_t>(n) - 1);
  field = s;
}

TFormatSettings Load() {
  TFormatSettings fs;
  Read(LOCALE_SSHORTDATE, fs.ShortDateFormat);
  Read(LOCALE_STIMEFORMAT, fs.LongTimeFormat);
  Read(LOCALE_S1159, fs.TimeAMString);
  Read(LOCALE_S2359, fs.TimePMString);
  for (LCTYPE i = 0; i < 12; ++i) {
    Read(LOCALE_SABBREVMONTHNAME1 + i, fs.ShortMonthNames[i]);
    Read(LOCALE_SMONTHNAME1 + i, fs.LongMonthNames[i]);
  }
  // The locale's week starts on Monday (SDAYNAME1), ours on Sunday.
  for (LCTYPE i = 0; i < 7; ++i) {
    Read(LOCALE_SABBREVDAYNAME1 + (i + 6) % 7, fs.ShortDayNames[i]);
    Read(LOCALE_SDAYNAME1 + (i + 6) % 7, fs.LongDayNames[i]);
  }
  return fs;
}

}  // namespace

const TFormatSettings& FormatSettings() {
  static const TFormatSettings settings = Load();
  return settings;
}

std::wstring DateTimeToStr(TDateTime value) { return DateTimeToStr(value, FormatSettings()); }

}  // namespace rtl
