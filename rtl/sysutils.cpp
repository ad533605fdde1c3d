// rtl/sysutils.cpp
#include "rtl/sysutils.h"

#include <algorithm>
#include <cstdint>

namespace rtl {
namespace {

std::wstring Padded(int value, int width) {
  std::wstring s = std::to_wstring(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), L'0');
  return s;
}

// Length of the run of c at pos, at most limit.
size_t RunLength(const std::wstring& text, size_t pos, wchar_t c, size_t limit) {
  size_t n = 0;
  while (pos + n < text.size() && text[pos + n] == c && n < limit) ++n;
  return n;
}

// Copies a quoted literal starting at pos (the opening quote); returns the position after it.
// A doubled quote inside stands for one quote when doubledQuote is set (Windows notation).
size_t CopyLiteral(const std::wstring& text, size_t pos, bool doubledQuote, std::wstring& out) {
  const wchar_t quote = text[pos++];
  while (pos < text.size()) {
    if (text[pos] == quote) {
      if (doubledQuote && pos + 1 < text.size() && text[pos + 1] == quote) {
        out += quote;
        pos += 2;
        continue;
      }
      return pos + 1;
    }
    out += text[pos++];
  }
  return pos;
}

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// Windows locale notation (GetDateFormat/GetTimeFormat pictures), case-sensitive.
std::wstring FormatWindowsPicture(const std::wstring& picture, const TDateTimeParts& p,
                                  const TFormatSettings& fs) {
  const int hour12 = p.Hour % 12 == 0 ? 12 : p.Hour % 12;
  const std::wstring& ampm = p.Hour < 12 ? fs.TimeAMString : fs.TimePMString;
  std::wstring out;
  size_t i = 0;
  while (i < picture.size()) {
    const wchar_t c = picture[i];
    if (c == L'\'') {
      i = CopyLiteral(picture, i, true, out);
      continue;
    }
    size_t n = RunLength(picture, i, c, 4);  // the letters this field takes
    switch (c) {
      case L'y':
        // y and yy: the year within the century; yyy and longer: the full year.
        n = RunLength(picture, i, c, SIZE_MAX);
        out += n == 1 ? std::to_wstring(p.Year % 100) : n == 2 ? Padded(p.Year % 100, 2) : Padded(p.Year, 4);
        break;
      case L'M':
        if (n <= 2) out += Padded(p.Month, static_cast<int>(n));
        else out += (n == 3 ? fs.ShortMonthNames : fs.LongMonthNames)[p.Month - 1];
        break;
      case L'd':
        if (n <= 2) out += Padded(p.Day, static_cast<int>(n));
        else out += (n == 3 ? fs.ShortDayNames : fs.LongDayNames)[p.DayOfWeek];
        break;
      case L'g':
        // The Gregorian era is not shown; a locale that asks for it gets the year alone.
        break;
      case L'h':
      case L'H':
      case L'm':
      case L's':
        n = std::min<size_t>(n, 2);
        out += Padded(c == L'h' ? hour12 : c == L'H' ? p.Hour : c == L'm' ? p.Minute : p.Second, static_cast<int>(n));
        break;
      case L't':
        n = std::min<size_t>(n, 2);
        out += n == 1 ? ampm.substr(0, 1) : ampm;
        break;
      default:
        n = 1;
        out += c;
    }
    i += n;
  }
  return out;
}

bool TryStrToInt(const std::wstring& text, int& value) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == L'-';
  if (!text.empty() && (text[0] == L'-' || text[0] == L'+')) i = 1;
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return false;
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > std::int64_t{INT32_MAX} + 1) return false;
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  if (v > INT32_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

std::wstring FormatDateTime(const std::wstring& pattern, TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::wstring out;
  wchar_t lastToken = 0;  // the last pattern letter, for m-after-h
  size_t i = 0;
  while (i < pattern.size()) {
    const wchar_t c = pattern[i];
    if (c == L'"' || c == L'\'') {
      i = CopyLiteral(pattern, i, false, out);
      continue;
    }
    const wchar_t token = Lower(c);
    size_t n = 1;
    switch (token) {
      case L'y':
        n = RunLength(pattern, i, c, 4);
        out += n <= 2 ? Padded(p.Year % 100, 2) : Padded(p.Year, 4);
        break;
      case L'm':
      case L'd':
      case L'h':
      case L'n':
      case L's': {
        n = RunLength(pattern, i, c, 2);
        int v = p.Second;
        if (token == L'm') v = lastToken == L'h' ? p.Minute : p.Month;
        else if (token == L'd') v = p.Day;
        else if (token == L'h') v = p.Hour;
        else if (token == L'n') v = p.Minute;
        out += Padded(v, static_cast<int>(n));
        break;
      }
      case L'z':
        n = RunLength(pattern, i, c, 3);
        out += Padded(p.Millisecond, n == 3 ? 3 : 1);
        break;
      default:
        // Copied, and no field: "h:m" still reads the m as minutes.
        out += c;
        ++i;
        continue;
    }
    lastToken = token;
    i += n;
  }
  return out;
}

std::wstring DateTimeToStr(TDateTime value, const TFormatSettings& settings) {
  const TDateTimeParts p = DecodeDateTime(value);
  std::wstring s = FormatWindowsPicture(settings.ShortDateFormat, p, settings);
  if (p.Hour != 0 || p.Minute != 0 || p.Second != 0)
    s += L' ' + FormatWindowsPicture(settings.LongTimeFormat, p, settings);
  return s;
}

int StrToInt(const std::wstring& text) {
  int value = 0;
  if (!TryStrToInt(text, value)) throw EConvertError(L"'" + text + L"' は正しい整数値ではありません");
  return value;
}

std::wstring IntToStr(int value) { return std::to_wstring(value); }

std::wstring ExtractFileDir(const std::wstring& path) {
  const auto isSep = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  const auto nextSep = [&](size_t from) {
    while (from < path.size() && !isSep(path[from])) ++from;
    return from;
  };
  // The root that stays whole: "C:\", "C:", "\", "\\server\share", "\\?\C:\",
  // "\\?\UNC\server\share", "\\?\Volume{...}\".
  size_t root = 0;
  if (path.size() >= 4 && isSep(path[0]) && isSep(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
      isSep(path[3])) {
    const std::wstring rest = path.substr(4, 4);
    if (rest.size() == 4 && Lower(rest[0]) == L'u' && Lower(rest[1]) == L'n' &&
        Lower(rest[2]) == L'c' && isSep(rest[3]))
      root = nextSep(nextSep(8) + 1);
    else
      root = std::min(nextSep(4) + 1, path.size());
  } else if (path.size() >= 2 && isSep(path[0]) && isSep(path[1])) {
    root = nextSep(nextSep(2) + 1);
  } else if (path.size() >= 2 && path[1] == L':') {
    root = path.size() >= 3 && isSep(path[2]) ? 3 : 2;
  } else if (!path.empty() && isSep(path[0])) {
    root = 1;
  }
  root = std::min(root, path.size());
  size_t end = path.size();
  while (end > root && !isSep(path[end - 1])) --end;
  while (end > root && isSep(path[end - 1])) --end;
  return path.substr(0, end);
}

}  // namespace rtl
