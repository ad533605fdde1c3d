// rtl/locale_win.h
#pragma once
#include <string>

#include "rtl/sysutils.h"

namespace rtl {

// The user's date and time formats and names from the Windows locale, read once.
const TFormatSettings& FormatSettings();

// DateTimeToStr with the user's settings.
std::wstring DateTimeToStr(TDateTime value);

}  // namespace rtl
