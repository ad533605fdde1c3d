// rtl/params.cpp
#include "rtl/params.h"

namespace rtl {

namespace {

bool IsBlank(wchar_t c) { return c != L'\0' && c <= L' '; }

// One argument from pos on; pos is left after it. Empty only at the end of the line.
std::wstring NextParam(const std::wstring& line, size_t& pos) {
  const size_t n = line.size();
  for (;;) {
    while (pos < n && IsBlank(line[pos])) ++pos;
    if (pos + 1 < n && line[pos] == L'"' && line[pos + 1] == L'"')
      pos += 2;
    else
      break;
  }
  std::wstring param;
  while (pos < n && line[pos] > L' ') {
    if (line[pos] == L'"') {
      for (++pos; pos < n && line[pos] != L'"'; ++pos) param += line[pos];
      if (pos < n) ++pos;
    } else {
      param += line[pos++];
    }
  }
  return param;
}

}  // namespace

std::vector<std::wstring> ParamStrs(const std::wstring& commandLine) {
  // The program name is read the same way, so a quoted one may hold blanks.
  size_t pos = 0;
  NextParam(commandLine, pos);
  std::vector<std::wstring> params;
  for (std::wstring p = NextParam(commandLine, pos); !p.empty(); p = NextParam(commandLine, pos))
    params.push_back(std::move(p));
  return params;
}

}  // namespace rtl
