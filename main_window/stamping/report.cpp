// main_window/stamping/report.cpp
#include "main_window/stamping/stamping.h"

namespace zel {

std::wstring ReportText(const std::wstring& instantText, const TStampResult& r) {
  const bool any = r.Failed == 0 || r.Changed > 0;
  return instantText + (any ? L"に変更しました" : L"に変更できませんでした") + FailuresText(r);
}

std::wstring FailuresText(const TStampResult& r) {
  if (r.Failed == 0) return {};
  std::wstring text = L"\r\n\r\n変更できなかったもの：" + std::to_wstring(r.Failed) + L"件";
  std::size_t shown = 0;
  for (const std::wstring& path : r.FailedPaths) {
    if (shown == TStampResult::MaxFailedPaths) break;
    text += L"\r\n" + path;
    ++shown;
  }
  if (r.Failed > shown) text += L"\r\nほか " + std::to_wstring(r.Failed - shown) + L"件";
  return text;
}

}  // namespace zel
