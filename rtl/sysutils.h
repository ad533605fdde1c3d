// rtl/sysutils.h
// Formatting and conversion of dates, times and numbers, independent of Windows: the
// user's formats arrive in a TFormatSettings (see locale_win.h for the user's own).
#pragma once
#include <string>

#include "rtl/datetime.h"

namespace rtl {

struct TFormatSettings {
  // Windows locale notation, as GetLocaleInfo gives it: "yyyy/MM/dd", "H:mm:ss", ...
  std::wstring ShortDateFormat = L"yyyy/MM/dd";
  std::wstring LongTimeFormat = L"H:mm:ss";
  std::wstring TimeAMString = L"午前";
  std::wstring TimePMString = L"午後";
  std::wstring ShortMonthNames[12];
  std::wstring LongMonthNames[12];
  std::wstring ShortDayNames[7];  // Sunday first
  std::wstring LongDayNames[7];
};

// Pattern letters: yyyy yy, m mm (month; minutes right after h/hh), d dd, h hh (24-hour),
// n nn, s ss, z zzz; "..." and '...' are literals; anything else is copied.
std::wstring FormatDateTime(const std::wstring& pattern, TDateTime value);

// Short date, a blank, long time; the blank and the time are left out at exactly midnight.
std::wstring DateTimeToStr(TDateTime value, const TFormatSettings& settings);

// Decimal with an optional sign and nothing else; EConvertError names the text otherwise.
int StrToInt(const std::wstring& text);
std::wstring IntToStr(int value);

// The folder part of a path: no trailing separator except for a drive root ("C:\").
std::wstring ExtractFileDir(const std::wstring& path);

}  // namespace rtl
